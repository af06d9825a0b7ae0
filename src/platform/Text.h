#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// Text helpers shared by every layer. Texts inside the program are UTF-8; the
// letter-case rules cover ASCII and the Latin-1 letters (the letters of the
// Windows-1252 code page the program was made for), and never change a
// text's length in bytes, so a position found in an upper-cased copy is a
// position in the original.
namespace torvex::platform {

// Returns `text` with ASCII and Latin-1 lower-case letters upper-cased.
std::string UpperCase(std::string_view text);

// Position of the first occurrence of `needle` in `haystack`, both compared
// after UpperCase, or npos; the same as UpperCase(haystack).find(UpperCase(needle))
// without making the two copies.
std::size_t FindNoCase(std::string_view haystack, std::string_view needle);

// A hash of UpperCase(text): texts that EqualsNoCase calls equal hash alike.
std::uint64_t HashNoCase(std::string_view text);

// True when both texts are equal after UpperCase.
bool EqualsNoCase(std::string_view a, std::string_view b);

// Returns `text` without leading and trailing spaces (0x20 only).
std::string_view TrimSpaces(std::string_view text);

// Returns `text` without leading and trailing space, tab and vertical tab.
std::string_view TrimBlanks(std::string_view text);

// True when `bytes` is well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// Windows-1252 bytes to UTF-8. The five unassigned bytes map to the C1
// controls of the same number, so that a file survives the round trip.
std::string Cp1252ToUtf8(std::string_view bytes);

// UTF-8 to Windows-1252; characters the code page cannot hold become '?'.
std::string Utf8ToCp1252(std::string_view text);

// The Windows-1252 code of the character starting at `text[pos]` ('?' = 63
// when the code page has none), and the number of bytes it takes.
std::pair<unsigned, std::size_t> Cp1252CodeAt(std::string_view text, std::size_t pos);

// UTF-16LE bytes (without BOM) to UTF-8 and back. A lone surrogate becomes
// the 3-byte sequence of its number (as in WTF-8), which Utf8ToUtf16Le turns
// back into the same code unit, so that the round trip loses nothing; an odd
// last byte is not part of any character and is left out.
std::string Utf16LeToUtf8(std::string_view bytes);
std::string Utf8ToUtf16Le(std::string_view text);

// The first `count` characters (code points) of a UTF-8 text.
std::string_view Utf8Prefix(std::string_view text, std::size_t count);

// Number of bytes of the UTF-8 character that starts with `lead` (1 for a
// stray continuation byte, so that walking a text always advances).
std::size_t Utf8CharLength(unsigned char lead);

// `time` in local time, as strftime writes it with `format` (by default
// "2026-12-07 21:05:09").
std::string LocalTimeText(std::time_t time, const char* format = "%Y-%m-%d %H:%M:%S");

} // namespace torvex::platform
