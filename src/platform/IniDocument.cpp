#include "platform/IniDocument.h"

#include "platform/Text.h"

namespace torvex::platform {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::size_t npos = std::string::npos;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

std::string_view SkipLeadingBlanks(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    return s.substr(i);
}

std::string FoldName(std::string_view name) {
    return UpperCase(TrimSpaces(name));
}

} // namespace

IniDocument::Line IniDocument::ParseLine(std::string text, std::string eol) {
    Line line{std::move(text), std::move(eol), Kind::Other, {}};
    const std::string_view body = SkipLeadingBlanks(line.text);
    if (body.empty() || body[0] == ';')
        return line;
    if (body[0] == '[') {
        const auto close = body.find(']');
        line.kind = Kind::Section;
        line.name = UpperCase(TrimBlanks(body.substr(1, close == npos ? npos : close - 1)));
        return line;
    }
    const auto eq = body.find('=');
    if (eq != npos) {
        line.kind = Kind::Key;
        line.name = UpperCase(TrimBlanks(body.substr(0, eq)));
    }
    return line;
}

std::string_view IniDocument::Line::Value() const {
    std::string_view v = TrimBlanks(std::string_view(text).substr(text.find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

IniDocument IniDocument::Parse(std::string_view bytes) {
    IniDocument doc;
    std::string text;
    if (bytes.starts_with(kUtf16LeBom)) {
        doc.encoding_ = Encoding::Utf16Le;
        text = Utf16LeToUtf8(bytes.substr(2));
    } else if (IsValidUtf8(bytes)) {
        if (bytes.starts_with(kUtf8Bom)) {
            doc.prefix_ = kUtf8Bom;
            bytes.remove_prefix(kUtf8Bom.size());
        }
        text = bytes;
    } else {
        doc.encoding_ = Encoding::Windows1252;
        text = Cp1252ToUtf8(bytes);
    }
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto brk = text.find_first_of("\r\n", pos);
        if (brk == npos) {
            doc.lines_.push_back(ParseLine(text.substr(pos), ""));
            break;
        }
        const std::size_t eolLen =
            (text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n') ? 2 : 1;
        doc.lines_.push_back(ParseLine(text.substr(pos, brk - pos), text.substr(brk, eolLen)));
        pos = brk + eolLen;
    }
    return doc;
}

std::size_t IniDocument::FindSection(const std::string& folded) const {
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Kind::Section && lines_[i].name == folded)
            return i;
    return npos;
}

std::size_t IniDocument::FindKey(std::size_t section, const std::string& folded) const {
    for (std::size_t i = section + 1; i < lines_.size() && lines_[i].kind != Kind::Section; ++i)
        if (lines_[i].kind == Kind::Key && lines_[i].name == folded)
            return i;
    return npos;
}

std::optional<std::string> IniDocument::Find(std::string_view section, std::string_view key) const {
    const std::size_t s = FindSection(FoldName(section));
    if (s == npos)
        return std::nullopt;
    const std::size_t k = FindKey(s, FoldName(key));
    if (k == npos)
        return std::nullopt;
    return std::string(lines_[k].Value());
}

std::string IniDocument::NewLineEnding() const {
    if (!lines_.empty() && !lines_.front().eol.empty())
        return lines_.front().eol;
    return "\r\n";
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string eol = NewLineEnding();
    const std::string_view keyName = TrimSpaces(key);
    const std::size_t s = FindSection(FoldName(section));
    if (s == npos) {
        if (!lines_.empty() && lines_.back().eol.empty())
            lines_.back().eol = eol;
        lines_.push_back(ParseLine("[" + std::string(TrimSpaces(section)) + "]", eol));
        lines_.push_back(ParseLine(std::string(keyName) + "=" + std::string(value), eol));
        return;
    }
    const std::size_t k = FindKey(s, FoldName(key));
    if (k != npos) {
        // The key keeps the spelling it has in the file.
        const std::string_view body = SkipLeadingBlanks(lines_[k].text);
        const std::string oldKey(TrimBlanks(body.substr(0, body.find('='))));
        lines_[k] = ParseLine(oldKey + "=" + std::string(value), eol);
        return;
    }
    std::size_t after = s;
    for (std::size_t i = s + 1; i < lines_.size() && lines_[i].kind != Kind::Section; ++i)
        if (lines_[i].kind == Kind::Key)
            after = i;
    if (lines_[after].eol.empty())
        lines_[after].eol = eol;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(after + 1),
                  ParseLine(std::string(keyName) + "=" + std::string(value), eol));
}

std::vector<std::pair<std::string, std::string>> IniDocument::Entries() const {
    std::vector<std::pair<std::string, std::string>> entries;
    std::string section;
    bool inSection = false;
    for (const Line& line : lines_) {
        const std::string_view body = SkipLeadingBlanks(line.text);
        if (line.kind == Kind::Section) {
            const auto close = body.find(']');
            section = TrimBlanks(body.substr(1, close == npos ? npos : close - 1));
            inSection = true;
        } else if (line.kind == Kind::Key && inSection) {
            entries.emplace_back(section, TrimBlanks(body.substr(0, body.find('='))));
        }
    }
    return entries;
}

std::string IniDocument::Serialize() const {
    std::string text;
    for (const Line& line : lines_) {
        text += line.text;
        text += line.eol;
    }
    switch (encoding_) {
    case Encoding::Utf16Le:
        return std::string(kUtf16LeBom) + Utf8ToUtf16Le(text);
    case Encoding::Windows1252:
        return Utf8ToCp1252(text);
    case Encoding::Utf8:
        break;
    }
    return prefix_ + text;
}

} // namespace torvex::platform
