#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvex::platform {

// One ini file as parsed text. The content is held as UTF-8 whatever the
// file's encoding; every line keeps its own bytes and line ending, so that a
// change touches only the lines concerned.
class IniDocument {
public:
    enum class Encoding { Utf8, Windows1252, Utf16Le };

    // Parses the raw bytes of a file.
    static IniDocument Parse(std::string_view bytes);

    // The processed value (blanks trimmed, one pair of matching outer quotes
    // removed) of `key` in the first section named `section`, or
    // std::nullopt when the section or key is missing. Names compare without
    // regard to letter case; only spaces around the arguments are ignored.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    // Sets `key` in `section` to `value` (written verbatim), as the Windows
    // profile functions do: an existing line is rewritten in place, a new key
    // goes after the last key line of the section, a new section at the end.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // The (section, key) names of every key line below a section header, in
    // file order, as they stand in the file.
    std::vector<std::pair<std::string, std::string>> Entries() const;

    // The file's bytes in its own encoding.
    std::string Serialize() const;

    Encoding FileEncoding() const { return encoding_; }

private:
    enum class Kind { Other, Section, Key };
    struct Line {
        std::string text; // without line ending
        std::string eol;  // "\r\n", "\n", "\r" or "" for a last line without one
        Kind kind = Kind::Other;
        std::string name; // upper-cased section or key name
        std::string_view Value() const;
    };

    static Line ParseLine(std::string text, std::string eol);
    // Index of the first section header named `section`, or npos.
    std::size_t FindSection(const std::string& folded) const;
    std::size_t FindKey(std::size_t section, const std::string& folded) const;
    std::string NewLineEnding() const;

    Encoding encoding_ = Encoding::Utf8;
    std::string prefix_; // byte order mark kept in front of the first line
    std::vector<Line> lines_;
};

} // namespace torvex::platform
