#pragma once

#include "platform/NameIndex.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvex::platform {

// One ini file as text. The bytes read are kept as they are, and every line
// that no change touches is written back from them byte for byte, whatever
// the encoding; only changed and new lines are encoded anew. An odd last byte
// of a UTF-16LE file stays last, after any new line; a lone surrogate reads
// as the 3-byte sequence of its number and writes back as the same unit.
// The document records the section and key lines, and each run of other
// lines between them (blank lines, comments, lines without `=`) as one piece,
// so that its size and the time to parse it follow the file's size, not its
// number of lines. Copies share the bytes read. Names and values cross to the
// caller as UTF-8.
class IniDocument {
public:
    enum class Encoding { Utf8, Windows1252, Utf16Le };

    // Parses the raw bytes of a file.
    static IniDocument Parse(std::string_view bytes);

    // The processed value (blanks trimmed, one pair of matching outer quotes
    // removed) of `key` in the first section named `section`, or
    // std::nullopt when the section or key is missing. Names compare without
    // regard to letter case; only spaces around the arguments are ignored; a
    // character the file's encoding lacks compares as the '?' written for it.
    // Costs about the size of that section, not of the file.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    // Sets `key` in `section` to `value` (written verbatim), as the Windows
    // profile functions do: an existing line is rewritten in place as
    // `key=value` (the key keeping its spelling in the file), a new key goes
    // after the last key line of the section, a new section at the end.
    // Returns true when the document's bytes changed, false when the line
    // already read exactly so, with the line ending a rewritten line gets.
    bool Set(std::string_view section, std::string_view key, std::string_view value);

    // The (section, key) names of every key line below a section header, in
    // file order, as they stand in the file.
    std::vector<std::pair<std::string, std::string>> Entries() const;

    // The file's bytes in its own encoding.
    std::string Serialize() const;

    Encoding FileEncoding() const { return encoding_; }

private:
    using Index = std::uint32_t; // number of a line in lines_
    static constexpr Index npos = NameIndex::npos;
    enum class Kind : std::uint8_t { Other, Section, Key };
    enum class Eol : std::uint8_t { None, Cr, Lf, CrLf }; // the numbers ForEachIniLine gives
    // A section header, a key line, or a run of other lines. Its bytes,
    // without its (last) line ending, are [offset, offset + length) of the
    // file read, or of added_ for changed and new lines.
    struct Line {
        std::size_t offset = 0;
        std::size_t length = 0;
        Index next = npos;           // the following line in file order
        std::uint32_t hash : 24 = 0; // of a section or key name (HashNoCase)
        Kind kind : 2 = Kind::Other;
        Eol eol : 2 = Eol::None;
        bool added : 1 = false;
    };

    static Kind Classify(std::string_view text, std::string_view* name);
    static std::uint32_t NameHash(std::string_view name);
    std::vector<Line> Split(std::string_view bytes, std::size_t begin, std::size_t end, bool added) const;
    std::string_view Bytes(const Line& line) const;
    std::string_view EolBytes(Eol eol) const;
    std::string Decode(std::string_view bytes) const;
    std::string Encode(std::string_view text) const;
    std::string Stored(std::string_view name) const;
    std::string Text(Index line) const;
    std::string Name(Index line) const;

    // The first section header named `section` (trimmed), or npos.
    Index FindSection(std::string_view section) const;
    Index FindKey(Index section, std::string_view key) const;
    void Register(Index section);
    void RebuildIndex();
    // Links the lines of `encoded` in after line `at` (npos: first), or in
    // place of line `at` when `replace`.
    void Splice(Index at, bool replace, std::string_view encoded);
    void DropGarbage();

    Encoding encoding_ = Encoding::Utf8;
    std::shared_ptr<const std::string> file_; // the bytes read, shared by copies
    std::size_t begin_ = 0;                   // the lines start after a byte order mark
    std::size_t end_ = 0;                     // and end before an odd last byte of UTF-16LE
    std::string added_;                       // changed and new lines, in the file's encoding
    std::size_t liveAdded_ = 0;               // bytes of added_ that lines still use
    std::vector<Line> lines_;
    Index first_ = npos, last_ = npos;
    Eol newEol_ = Eol::CrLf; // how changed and new lines end: as the file's first line
    NameIndex sections_;     // the first header of each section name
};

} // namespace torvex::platform
