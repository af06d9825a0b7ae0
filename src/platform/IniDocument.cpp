#include "platform/IniDocument.h"

#include "platform/Failure.h"
#include "platform/IniLines.h"
#include "platform/Text.h"

#include <algorithm>
#include <cassert>
#include <initializer_list>

namespace torvex::platform {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kEolText[] = {"", "\r", "\n", "\r\n"};
constexpr std::string_view kEolUtf16[] = {{"", 0}, {"\r\0", 2}, {"\n\0", 2}, {"\r\0\n\0", 4}};
constexpr std::size_t kMinGarbage = 1 << 20;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

std::string_view SkipLeadingBlanks(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    return s.substr(i);
}

// ForEachIniLine in the code units of `encoding`.
template <class Visit>
void ForEachLine(IniDocument::Encoding encoding, std::string_view bytes, std::size_t pos, std::size_t end,
                 Visit&& visit) {
    if (encoding == IniDocument::Encoding::Utf16Le)
        ForEachIniLine<2>(bytes, pos, end, visit);
    else
        ForEachIniLine<1>(bytes, pos, end, visit);
}

std::string Joined(std::initializer_list<std::string_view> parts) {
    std::string joined;
    for (const std::string_view part : parts)
        joined += part;
    return joined;
}

std::string_view ValueOf(std::string_view text) {
    std::string_view v = TrimBlanks(text.substr(text.find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

} // namespace

// What a line (UTF-8, without its ending) is, and for a header or key line
// its name, blanks trimmed.
IniDocument::Kind IniDocument::Classify(std::string_view text, std::string_view* name) {
    const std::string_view body = SkipLeadingBlanks(text);
    if (body.empty() || body[0] == ';')
        return Kind::Other;
    if (body[0] == '[') {
        const auto close = body.find(']');
        *name = TrimBlanks(body.substr(1, close == std::string_view::npos ? close : close - 1));
        return Kind::Section;
    }
    const auto eq = body.find('=');
    if (eq == std::string_view::npos)
        return Kind::Other;
    *name = TrimBlanks(body.substr(0, eq));
    return Kind::Key;
}

std::uint32_t IniDocument::NameHash(std::string_view name) {
    return static_cast<std::uint32_t>(HashNoCase(name) & 0xFFFFFF);
}

// The lines of bytes[begin, end): section and key lines one by one, the
// other lines between them merged into runs.
std::vector<IniDocument::Line> IniDocument::Split(std::string_view bytes, std::size_t begin, std::size_t end,
                                                  bool added) const {
    static_assert(sizeof(Line) <= 24, "files of short lines have many records");
    // Reserving for every line that may be an entry (and a run after each)
    // spares the copies of a growing array; what stays unused is never touched.
    std::size_t entries = 0;
    ForEachLine(encoding_, bytes, begin, end, [&entries](std::size_t, std::size_t, int, bool plain) {
        entries += plain ? 0 : 1;
        return true;
    });
    if (entries >= npos / 2 - lines_.size())
        Raise(errnum::OutOfMemory, "An ini file has too many lines.");
    std::vector<Line> lines;
    lines.reserve(2 * entries + 1);
    Line run{};
    ForEachLine(encoding_, bytes, begin, end, [&](std::size_t from, std::size_t to, int eol, bool plain) {
        if (!plain) {
            std::string decoded;
            std::string_view text = bytes.substr(from, to - from), name;
            if (encoding_ != Encoding::Utf8)
                text = decoded = Decode(text);
            const Kind kind = Classify(text, &name);
            if (kind != Kind::Other) {
                if (run.length != 0 || run.eol != Eol::None)
                    lines.push_back(run);
                run = Line{};
                Line& line = lines.emplace_back(Line{from, to - from});
                line.hash = NameHash(name);
                line.kind = kind;
                line.eol = static_cast<Eol>(eol);
                line.added = added;
                return true;
            }
        }
        if (run.length == 0 && run.eol == Eol::None)
            run = Line{from, 0};
        run.length = to - run.offset;
        run.eol = static_cast<Eol>(eol);
        run.added = added;
        return true;
    });
    if (run.length != 0 || run.eol != Eol::None)
        lines.push_back(run);
    return lines;
}

IniDocument IniDocument::Parse(std::string_view bytes) {
    IniDocument doc;
    doc.file_ = std::make_shared<const std::string>(bytes);
    const std::string_view raw = *doc.file_;
    doc.end_ = raw.size();
    if (raw.starts_with(kUtf16LeBom)) {
        doc.encoding_ = Encoding::Utf16Le;
        doc.begin_ = kUtf16LeBom.size();
        doc.end_ -= (raw.size() - doc.begin_) % 2;
    } else if (IsValidUtf8(raw)) {
        if (raw.starts_with(kUtf8Bom))
            doc.begin_ = kUtf8Bom.size();
    } else {
        doc.encoding_ = Encoding::Windows1252;
    }
    doc.lines_ = doc.Split(raw, doc.begin_, doc.end_, false);
    const auto count = static_cast<Index>(doc.lines_.size());
    for (Index i = 0; i + 1 < count; ++i)
        doc.lines_[i].next = i + 1;
    if (count != 0) {
        doc.first_ = 0;
        doc.last_ = count - 1;
    }
    ForEachLine(doc.encoding_, raw, doc.begin_, doc.end_, [&doc](std::size_t, std::size_t, int eol, bool) {
        if (eol != 0)
            doc.newEol_ = static_cast<Eol>(eol);
        return false;
    });
    doc.RebuildIndex();
    return doc;
}

std::string_view IniDocument::Bytes(const Line& line) const {
    return std::string_view(line.added ? added_ : *file_).substr(line.offset, line.length);
}

std::string_view IniDocument::EolBytes(Eol eol) const {
    return (encoding_ == Encoding::Utf16Le ? kEolUtf16 : kEolText)[static_cast<int>(eol)];
}

std::string IniDocument::Decode(std::string_view bytes) const {
    switch (encoding_) {
    case Encoding::Utf16Le:
        return Utf16LeToUtf8(bytes);
    case Encoding::Windows1252:
        return Cp1252ToUtf8(bytes);
    case Encoding::Utf8:
        break;
    }
    return std::string(bytes);
}

std::string IniDocument::Encode(std::string_view text) const {
    switch (encoding_) {
    case Encoding::Utf16Le:
        return Utf8ToUtf16Le(text);
    case Encoding::Windows1252:
        return Utf8ToCp1252(text);
    case Encoding::Utf8:
        break;
    }
    return std::string(text);
}

// A name as the file would hold it, read back: where the file's encoding
// lacks a character, the name compares as what a write puts there ('?'), so
// that writing it twice finds the first line.
std::string IniDocument::Stored(std::string_view name) const {
    return encoding_ == Encoding::Utf8 ? std::string(name) : Decode(Encode(name));
}

std::string IniDocument::Text(Index line) const {
    return Decode(Bytes(lines_[line]));
}

std::string IniDocument::Name(Index line) const {
    const std::string text = Text(line);
    std::string_view name;
    Classify(text, &name);
    return std::string(name);
}

IniDocument::Index IniDocument::FindSection(std::string_view section) const {
    return sections_.Find(NameHash(section), [&](Index i) { return EqualsNoCase(Name(i), section); });
}

IniDocument::Index IniDocument::FindKey(Index section, std::string_view key) const {
    const std::uint32_t hash = NameHash(key);
    for (Index i = lines_[section].next; i != npos && lines_[i].kind != Kind::Section; i = lines_[i].next)
        if (lines_[i].kind == Kind::Key && lines_[i].hash == hash && EqualsNoCase(Name(i), key))
            return i;
    return npos;
}

// Makes header `section` the one found for its name unless an earlier header
// has the name already.
void IniDocument::Register(Index section) {
    std::optional<std::string> name; // decoded only when another name hashes alike
    const auto same = [&](Index i) {
        if (!name)
            name = Name(section);
        return EqualsNoCase(Name(i), *name);
    };
    if (sections_.Find(lines_[section].hash, same) == npos)
        sections_.Insert(lines_[section].hash, section);
}

void IniDocument::RebuildIndex() {
    std::size_t count = 0;
    for (Index i = first_; i != npos; i = lines_[i].next)
        count += lines_[i].kind == Kind::Section ? 1 : 0;
    sections_.Clear(count);
    for (Index i = first_; i != npos; i = lines_[i].next)
        if (lines_[i].kind == Kind::Section)
            Register(i);
}

void IniDocument::Splice(Index at, bool replace, std::string_view encoded) {
    assert(at == npos ? !replace && last_ == npos : at < lines_.size());
    assert(!replace || lines_[at].kind == Kind::Key);
    assert(!encoded.empty());
    const std::size_t begin = added_.size();
    added_ += encoded;
    std::vector<Line> fresh = Split(added_, begin, added_.size(), true);
    const bool atEnd = at == npos ? first_ == npos : lines_[at].next == npos;
    if (replace && lines_[at].added)
        liveAdded_ -= lines_[at].length;
    const auto firstNew = static_cast<Index>(lines_.size());
    Index prev = at;
    for (std::size_t i = 0; i < fresh.size(); ++i) {
        liveAdded_ += fresh[i].length;
        if (replace && i == 0) { // a key line rewritten starts with its key again
            fresh[0].next = lines_[at].next;
            lines_[at] = fresh[0];
            continue;
        }
        const auto index = static_cast<Index>(lines_.size());
        fresh[i].next = prev == npos ? first_ : lines_[prev].next;
        lines_.push_back(fresh[i]);
        (prev == npos ? first_ : lines_[prev].next) = index;
        if (last_ == prev)
            last_ = index;
        prev = index;
    }
    // A value holding line breaks can bring headers along: appended ones only
    // add names, but one in the middle may come before a header of its name.
    for (Index i = firstNew; i < lines_.size(); ++i) {
        if (lines_[i].kind == Kind::Section && !atEnd) {
            RebuildIndex();
            break;
        }
        if (lines_[i].kind == Kind::Section)
            Register(i);
    }
    if (added_.size() - liveAdded_ > std::max<std::size_t>(kMinGarbage, added_.size() / 2))
        DropGarbage();
}

// Rewriting a line leaves its former bytes in added_ unused; dropping them
// keeps repeated writes of one long line from growing the document.
void IniDocument::DropGarbage() {
    std::string kept;
    kept.reserve(liveAdded_);
    for (Index i = first_; i != npos; i = lines_[i].next) {
        if (!lines_[i].added)
            continue;
        const std::string_view bytes = Bytes(lines_[i]);
        lines_[i].offset = kept.size();
        kept += bytes;
    }
    added_ = std::move(kept);
}

std::optional<std::string> IniDocument::Find(std::string_view section, std::string_view key) const {
    const Index s = FindSection(Stored(TrimSpaces(section)));
    if (s == npos)
        return std::nullopt;
    const Index k = FindKey(s, Stored(TrimSpaces(key)));
    if (k == npos)
        return std::nullopt;
    return std::string(ValueOf(Text(k)));
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string_view eol = kEolText[static_cast<int>(newEol_)];
    const std::string_view sectionName = TrimSpaces(section), keyName = TrimSpaces(key);
    const Index s = FindSection(Stored(sectionName));
    if (s == npos) {
        if (last_ != npos && lines_[last_].eol == Eol::None)
            lines_[last_].eol = newEol_;
        Splice(last_, false, Encode(Joined({"[", sectionName, "]", eol, keyName, "=", value, eol})));
        return true;
    }
    const Index k = FindKey(s, Stored(keyName));
    if (k != npos) {
        // The key keeps the spelling it has in the file.
        const std::string line = Encode(Joined({Name(k), "=", value}));
        if (line == Bytes(lines_[k]) && lines_[k].eol == newEol_)
            return false;
        Splice(k, true, Joined({line, EolBytes(newEol_)}));
        return true;
    }
    Index after = s;
    for (Index i = lines_[s].next; i != npos && lines_[i].kind != Kind::Section; i = lines_[i].next)
        if (lines_[i].kind == Kind::Key)
            after = i;
    if (lines_[after].eol == Eol::None)
        lines_[after].eol = newEol_;
    Splice(after, false, Encode(Joined({keyName, "=", value, eol})));
    return true;
}

std::vector<std::pair<std::string, std::string>> IniDocument::Entries() const {
    std::vector<std::pair<std::string, std::string>> entries;
    std::string section;
    bool inSection = false;
    for (Index i = first_; i != npos; i = lines_[i].next) {
        if (lines_[i].kind == Kind::Section) {
            section = Name(i);
            inSection = true;
        } else if (lines_[i].kind == Kind::Key && inSection) {
            entries.emplace_back(section, Name(i));
        }
    }
    return entries;
}

std::string IniDocument::Serialize() const {
    const std::string_view raw = file_ ? std::string_view(*file_) : std::string_view();
    std::size_t size = raw.size() - (end_ - begin_);
    for (Index i = first_; i != npos; i = lines_[i].next)
        size += lines_[i].length + EolBytes(lines_[i].eol).size();
    std::string bytes;
    bytes.reserve(size);
    bytes += raw.substr(0, begin_);
    for (Index i = first_; i != npos; i = lines_[i].next) {
        bytes += Bytes(lines_[i]);
        bytes += EolBytes(lines_[i].eol);
    }
    bytes += raw.substr(end_);
    return bytes;
}

} // namespace torvex::platform
