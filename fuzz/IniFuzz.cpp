// Random bytes as an ini file, then random writes: the bytes read come back
// unchanged, what was written reads back, every other entry keeps its value,
// Set() tells whether the bytes changed, and the file survives a round trip.
#include "platform/IniDocument.h"
#include "platform/Text.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

using torvex::platform::IniDocument;

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

// Names and values that the profile functions can store and find again.
bool Storable(std::string_view section, std::string_view key, std::string_view value) {
    const auto clean = [](std::string_view s) { return s.find_first_of("\r\n") == std::string_view::npos; };
    if (!clean(section) || !clean(key) || !clean(value) || section.find(']') != std::string_view::npos ||
        key.find('=') != std::string_view::npos)
        return false;
    for (std::string_view name : {section, key})
        if (!name.empty() && (IsBlank(name.front()) || IsBlank(name.back())))
            return false;
    const std::string_view keyBody = torvex::platform::TrimBlanks(key);
    if (!keyBody.empty() && (keyBody.front() == ';' || keyBody.front() == '['))
        return false;
    if (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back())))
        return false;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return false;
    return torvex::platform::IsValidUtf8(section) && torvex::platform::IsValidUtf8(key) &&
           torvex::platform::IsValidUtf8(value);
}

// A name that the file's encoding holds (others compare as their '?' form).
bool Representable(const IniDocument& doc, std::string_view name) {
    return doc.FileEncoding() != IniDocument::Encoding::Windows1252 ||
           torvex::platform::Cp1252ToUtf8(torvex::platform::Utf8ToCp1252(name)) == name;
}

bool SameName(std::string_view a, std::string_view b) {
    return torvex::platform::UpperCase(torvex::platform::TrimSpaces(a)) ==
           torvex::platform::UpperCase(torvex::platform::TrimSpaces(b));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto split = input.find('\0');
    IniDocument doc = IniDocument::Parse(input.substr(0, split));
    if (doc.Serialize() != input.substr(0, split))
        std::abort();
    std::string_view writes = split == std::string_view::npos ? std::string_view{} : input.substr(split + 1);
    std::vector<std::tuple<std::string, std::string, std::optional<std::string>>> others;
    for (const auto& [s, k] : doc.Entries())
        others.emplace_back(s, k, doc.Find(s, k));
    std::vector<std::pair<std::string, std::string>> written;
    while (!writes.empty()) {
        const auto end = writes.find('\n');
        const std::string_view line = writes.substr(0, end);
        writes = end == std::string_view::npos ? std::string_view{} : writes.substr(end + 1);
        const auto tab1 = line.find('\t');
        const auto tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string_view::npos)
            continue;
        const std::string_view section = line.substr(0, tab1), key = line.substr(tab1 + 1, tab2 - tab1 - 1),
                               value = line.substr(tab2 + 1);
        if (!Storable(section, key, value) || !Representable(doc, section) || !Representable(doc, key))
            continue;
        const std::string before = doc.Serialize();
        if (doc.Set(section, key, value) != (doc.Serialize() != before))
            std::abort();
        written.emplace_back(section, key);
        // A Windows-1252 file holds '?' for what its code page lacks, and reads so.
        const std::string stored = doc.FileEncoding() == IniDocument::Encoding::Windows1252
                                       ? torvex::platform::Cp1252ToUtf8(torvex::platform::Utf8ToCp1252(value))
                                       : std::string(value);
        if (doc.Find(section, key) != stored)
            std::abort();
        for (const auto& [s, k, old] : others) {
            bool touched = false;
            for (const auto& [ws, wk] : written)
                touched = touched || (SameName(s, ws) && SameName(k, wk));
            if (!touched && doc.Find(s, k) != old)
                std::abort(); // a write changed another entry
        }
        const IniDocument again = IniDocument::Parse(doc.Serialize());
        if (doc.FileEncoding() != IniDocument::Encoding::Windows1252 &&
            again.Find(section, key) != std::string(value))
            std::abort();
    }
    return 0;
}
