#pragma once

#include <cstddef>
#include <string_view>

// The line structure of ini text, read in code units of W bytes (1 for UTF-8
// and Windows-1252, 2 for UTF-16LE), without decoding the text: the
// characters that shape an ini line are all ASCII.
namespace torvex::platform {

inline bool IsBlankUnit(unsigned u) {
    return u == ' ' || u == '\t' || u == '\v';
}

template <std::size_t W> unsigned UnitAt(std::string_view bytes, std::size_t pos) {
    if constexpr (W == 1)
        return static_cast<unsigned char>(bytes[pos]);
    else
        return static_cast<unsigned char>(bytes[pos]) | static_cast<unsigned char>(bytes[pos + 1]) << 8;
}

// Calls visit(begin, end, eol, plain) for each line of bytes[pos, end), read
// in code units of W bytes (end - pos a multiple of W): the line's text is
// bytes[begin, end); eol is 0 for none, 1 CR, 2 LF, 3 CR LF; plain is true for
// a blank line or a comment, which can be neither a header nor a key line.
// CR LF, a bare LF and a bare CR all end a line. Stops early when visit
// returns false.
template <std::size_t W, class Visit>
void ForEachIniLine(std::string_view bytes, std::size_t pos, std::size_t end, Visit&& visit) {
    while (pos < end) {
        std::size_t i = pos;
        while (i < end && IsBlankUnit(UnitAt<W>(bytes, i)))
            i += W;
        const bool plain = i == end || UnitAt<W>(bytes, i) == '\r' || UnitAt<W>(bytes, i) == '\n' ||
                           UnitAt<W>(bytes, i) == ';';
        while (i < end && UnitAt<W>(bytes, i) != '\r' && UnitAt<W>(bytes, i) != '\n')
            i += W;
        int eol = 0;
        std::size_t next = i;
        if (i < end) {
            const bool crlf = UnitAt<W>(bytes, i) == '\r' && i + W < end && UnitAt<W>(bytes, i + W) == '\n';
            eol = crlf ? 3 : UnitAt<W>(bytes, i) == '\r' ? 1 : 2;
            next = i + (crlf ? 2 * W : W);
        }
        if (!visit(pos, i, eol, plain))
            return;
        pos = next;
    }
}

} // namespace torvex::platform
