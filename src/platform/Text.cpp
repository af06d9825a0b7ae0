#include "platform/Text.h"

#include <array>

namespace torvex::platform {
namespace {

// Unicode code points of Windows-1252 bytes 0x80..0x9F (0 = unassigned).
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes the character at `pos`; malformed input yields U+FFFD and one byte.
char32_t DecodeUtf8(std::string_view s, std::size_t pos, std::size_t& len) {
    const auto lead = static_cast<unsigned char>(s[pos]);
    len = Utf8CharLength(lead);
    if (len == 1 || pos + len > s.size()) {
        len = 1;
        return lead < 0x80 ? lead : 0xFFFD;
    }
    char32_t cp = lead & (0x7F >> len);
    for (std::size_t i = 1; i < len; ++i) {
        const auto c = static_cast<unsigned char>(s[pos + i]);
        if ((c & 0xC0) != 0x80) {
            len = 1;
            return 0xFFFD;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    return cp;
}

} // namespace

std::size_t Utf8CharLength(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0)
        return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

namespace {

// The byte at `i` of UpperCase(text). U+00E0..U+00FE (except U+00F7) are
// C3 A0..C3 BE; their capitals are C3 80..C3 9E.
unsigned char UpperByte(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 'a' && c <= 'z')
        return static_cast<unsigned char>(c - 32);
    if (i > 0 && static_cast<unsigned char>(text[i - 1]) == 0xC3 && c >= 0xA0 && c <= 0xBE && c != 0xB7)
        return static_cast<unsigned char>(c - 0x20);
    return c;
}

} // namespace

std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(UpperByte(text, i));
    return out;
}

std::size_t FindNoCase(std::string_view haystack, std::string_view needle) {
    if (needle.size() > haystack.size())
        return std::string_view::npos;
    if (needle.empty())
        return 0;
    // A first byte that upper-casing never produces or changes can only match itself.
    const auto first = static_cast<unsigned char>(needle[0]);
    const bool plain = first < 0x80 && !(first >= 'a' && first <= 'z') && !(first >= 'A' && first <= 'Z');
    for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
        if (plain) {
            i = haystack.find(static_cast<char>(first), i);
            if (i == std::string_view::npos || i + needle.size() > haystack.size())
                return std::string_view::npos;
        }
        std::size_t k = 0;
        while (k < needle.size() && UpperByte(haystack, i + k) == UpperByte(needle, k))
            ++k;
        if (k == needle.size())
            return i;
    }
    return std::string_view::npos;
}

std::uint64_t HashNoCase(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (std::size_t i = 0; i < text.size(); ++i)
        hash = (hash ^ UpperByte(text, i)) * 1099511628211ull;
    return hash;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && UpperCase(a) == UpperCase(b);
}

std::string_view TrimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string_view TrimBlanks(std::string_view text) {
    constexpr std::string_view blanks = " \t\v";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool IsValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead < 0xC2 || lead > 0xF4)
            return false;
        const std::size_t want = Utf8CharLength(lead);
        std::size_t got = 1;
        const char32_t cp = DecodeUtf8(bytes, i, got);
        const bool overlong = (want == 3 && cp < 0x800) || (want == 4 && cp < 0x10000);
        if (got != want || overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += want;
    }
    return true;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80)
            out += ch;
        else if (c < 0xA0)
            AppendUtf8(out, kCp1252High[c - 0x80] ? kCp1252High[c - 0x80] : c);
        else
            AppendUtf8(out, c);
    }
    return out;
}

std::pair<unsigned, std::size_t> Cp1252CodeAt(std::string_view text, std::size_t pos) {
    std::size_t len = 1;
    const char32_t cp = DecodeUtf8(text, pos, len);
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return {static_cast<unsigned>(cp), len};
    if (cp >= 0x80 && cp < 0xA0 && kCp1252High[cp - 0x80] == 0)
        return {static_cast<unsigned>(cp), len}; // the five unassigned bytes travel as C1 controls
    for (unsigned i = 0; i < kCp1252High.size(); ++i)
        if (kCp1252High[i] != 0 && kCp1252High[i] == cp)
            return {0x80 + i, len};
    return {'?', len};
}

std::string Utf8ToCp1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto [code, len] = Cp1252CodeAt(text, i);
        out += static_cast<char>(code);
        i += len;
    }
    return out;
}

std::string Utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t u = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
            char32_t lo =
                static_cast<unsigned char>(bytes[i + 2]) | (static_cast<unsigned char>(bytes[i + 3]) << 8);
            if (lo >= 0xDC00 && lo < 0xE000) {
                u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                i += 2;
            }
        }
        AppendUtf8(out, u); // a lone surrogate keeps its number (3 bytes, as in WTF-8)
    }
    return out;
}

std::string Utf8ToUtf16Le(std::string_view text) {
    std::string out;
    auto put = [&out](char32_t unit) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>((unit >> 8) & 0xFF);
    };
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = 1;
        const char32_t cp = DecodeUtf8(text, i, len);
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
        i += len;
    }
    return out;
}

std::string_view Utf8Prefix(std::string_view text, std::size_t count) {
    std::size_t pos = 0;
    for (std::size_t n = 0; n < count && pos < text.size(); ++n)
        pos += Utf8CharLength(static_cast<unsigned char>(text[pos]));
    return text.substr(0, std::min(pos, text.size()));
}

std::string LocalTimeText(std::time_t time, const char* format) {
    std::tm local{};
    ::localtime_r(&time, &local);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

} // namespace torvex::platform
