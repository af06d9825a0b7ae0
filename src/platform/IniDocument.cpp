#include "platform/IniDocument.h"

#include "platform/IniLines.h"
#include "platform/Text.h"

#include <algorithm>

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

template <class Visit>
void ForEachLine(IniDocument::Encoding encoding, std::string_view bytes, std::size_t pos, std::size_t end,
                 Visit&& visit) {
    if (encoding == IniDocument::Encoding::Utf16Le)
        ForEachIniLine<2>(bytes, pos, end, visit);
    else
        ForEachIniLine<1>(bytes, pos, end, visit);
}

std::string_view ValueOf(std::string_view text) {
    std::string_view v = TrimBlanks(text.substr(text.find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

} // namespace

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

// The lines of bytes[begin, end): section and key lines one by one, the
// other lines between them merged into runs.
std::vector<IniDocument::Line> IniDocument::Split(std::string_view bytes, std::size_t begin, std::size_t end,
                                                  bool added) const {
    std::vector<Line> lines;
    Line run{};
    bool inRun = false;
    ForEachLine(encoding_, bytes, begin, end, [&](std::size_t from, std::size_t to, int eol, bool plain) {
        if (!plain) {
            std::string decoded;
            std::string_view text = bytes.substr(from, to - from);
            if (encoding_ != Encoding::Utf8)
                text = decoded = Decode(text);
            std::string_view name;
            const Kind kind = Classify(text, &name);
            if (kind != Kind::Other) {
                if (inRun)
                    lines.push_back(run);
                inRun = false;
                lines.push_back({from, to - from, npos, static_cast<std::uint32_t>(HashNoCase(name)), kind,
                                 static_cast<Eol>(eol), added});
                return true;
            }
        }
        if (!inRun)
            run = Line{from, 0, npos, 0, Kind::Other, Eol::None, added};
        inRun = true;
        run.length = to - run.offset;
        run.eol = static_cast<Eol>(eol);
        return true;
    });
    if (inRun)
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
    for (std::size_t i = 0; i + 1 < doc.lines_.size(); ++i)
        doc.lines_[i].next = i + 1;
    if (!doc.lines_.empty()) {
        doc.first_ = 0;
        doc.last_ = doc.lines_.size() - 1;
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

std::string IniDocument::Text(std::size_t line) const {
    return Decode(Bytes(lines_[line]));
}

std::string IniDocument::Name(std::size_t line) const {
    const std::string text = Text(line);
    std::string_view name;
    Classify(text, &name);
    return std::string(name);
}

std::size_t IniDocument::FindSection(std::string_view section) const {
    const auto [from, to] = sections_.equal_range(static_cast<std::uint32_t>(HashNoCase(section)));
    for (auto it = from; it != to; ++it)
        if (EqualsNoCase(Name(it->second), section))
            return it->second;
    return npos;
}

std::size_t IniDocument::FindKey(std::size_t section, std::string_view key) const {
    const auto hash = static_cast<std::uint32_t>(HashNoCase(key));
    for (std::size_t i = lines_[section].next; i != npos && lines_[i].kind != Kind::Section;
         i = lines_[i].next)
        if (lines_[i].kind == Kind::Key && lines_[i].hash == hash && EqualsNoCase(Name(i), key))
            return i;
    return npos;
}

// Makes header `section` the one found for its name unless an earlier header
// has the name already.
void IniDocument::Register(std::size_t section) {
    const std::uint32_t hash = lines_[section].hash;
    if (sections_.count(hash) == 0 || FindSection(Name(section)) == npos)
        sections_.emplace(hash, section);
}

void IniDocument::RebuildIndex() {
    sections_.clear();
    for (std::size_t i = first_; i != npos; i = lines_[i].next)
        if (lines_[i].kind == Kind::Section)
            Register(i);
}

void IniDocument::Splice(std::size_t at, bool replace, std::string_view encoded) {
    const std::size_t begin = added_.size();
    added_ += encoded;
    std::vector<Line> fresh = Split(added_, begin, added_.size(), true);
    const bool atEnd = at == npos ? first_ == npos : lines_[at].next == npos;
    if (replace && lines_[at].added)
        liveAdded_ -= lines_[at].length;
    const std::size_t firstNew = lines_.size();
    std::size_t prev = at;
    for (std::size_t i = 0; i < fresh.size(); ++i) {
        liveAdded_ += fresh[i].length;
        if (replace && i == 0) { // a key line rewritten starts with its key again
            fresh[0].next = lines_[at].next;
            lines_[at] = fresh[0];
            continue;
        }
        const std::size_t index = lines_.size();
        fresh[i].next = prev == npos ? first_ : lines_[prev].next;
        lines_.push_back(fresh[i]);
        (prev == npos ? first_ : lines_[prev].next) = index;
        if (last_ == prev)
            last_ = index;
        prev = index;
    }
    // A value holding line breaks can bring headers along: appended ones only
    // add names, but one in the middle may come before a header of its name.
    for (std::size_t i = firstNew; i < lines_.size(); ++i) {
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
    for (std::size_t i = first_; i != npos; i = lines_[i].next) {
        if (!lines_[i].added)
            continue;
        const std::string_view bytes = Bytes(lines_[i]);
        lines_[i].offset = kept.size();
        kept += bytes;
    }
    added_ = std::move(kept);
}

std::optional<std::string> IniDocument::Find(std::string_view section, std::string_view key) const {
    const std::size_t s = FindSection(TrimSpaces(section));
    if (s == npos)
        return std::nullopt;
    const std::size_t k = FindKey(s, TrimSpaces(key));
    if (k == npos)
        return std::nullopt;
    return std::string(ValueOf(Text(k)));
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string_view eol = kEolText[static_cast<int>(newEol_)];
    const std::string_view sectionName = TrimSpaces(section), keyName = TrimSpaces(key);
    const std::size_t s = FindSection(sectionName);
    if (s == npos) {
        if (last_ != npos && lines_[last_].eol == Eol::None)
            lines_[last_].eol = newEol_;
        Splice(last_, false,
               Encode(std::string("[")
                          .append(sectionName)
                          .append("]")
                          .append(eol)
                          .append(keyName)
                          .append("=")
                          .append(value)
                          .append(eol)));
        return true;
    }
    const std::size_t k = FindKey(s, keyName);
    if (k != npos) {
        // The key keeps the spelling it has in the file.
        const std::string line = Encode(Name(k).append("=").append(value));
        if (line == Bytes(lines_[k]) && lines_[k].eol == newEol_)
            return false;
        Splice(k, true, line + std::string(EolBytes(newEol_)));
        return true;
    }
    std::size_t after = s;
    for (std::size_t i = lines_[s].next; i != npos && lines_[i].kind != Kind::Section; i = lines_[i].next)
        if (lines_[i].kind == Kind::Key)
            after = i;
    if (lines_[after].eol == Eol::None)
        lines_[after].eol = newEol_;
    Splice(after, false, Encode(std::string(keyName).append("=").append(value).append(eol)));
    return true;
}

std::vector<std::pair<std::string, std::string>> IniDocument::Entries() const {
    std::vector<std::pair<std::string, std::string>> entries;
    std::string section;
    bool inSection = false;
    for (std::size_t i = first_; i != npos; i = lines_[i].next) {
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
    for (std::size_t i = first_; i != npos; i = lines_[i].next)
        size += lines_[i].length + EolBytes(lines_[i].eol).size();
    std::string bytes;
    bytes.reserve(size);
    bytes += raw.substr(0, begin_);
    for (std::size_t i = first_; i != npos; i = lines_[i].next) {
        bytes += Bytes(lines_[i]);
        bytes += EolBytes(lines_[i].eol);
    }
    bytes += raw.substr(end_);
    return bytes;
}

} // namespace torvex::platform
