#include "platform/database/FoldCase.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <limits>
#include <optional>
#include <vector>

namespace torvex::platform::db {

namespace {

// Folds texts made of ASCII and Latin-1 letters, the common case, without
// ICU; returns false for any other text. Gives what full Unicode case
// folding gives: "ß" becomes "ss" and "µ" the Greek mu.
bool FoldLatin1(std::string_view text, std::string& folded) {
    folded.clear();
    folded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            folded += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            continue;
        }
        if ((c != 0xC2 && c != 0xC3) || i + 1 >= text.size())
            return false;
        const auto n = static_cast<unsigned char>(text[++i]);
        if (n < 0x80 || n > 0xBF)
            return false;
        if (c == 0xC2 && n == 0xB5) {
            folded += "\xCE\xBC";
        } else if (c == 0xC3 && n == 0x9F) {
            folded += "ss";
        } else {
            folded += static_cast<char>(c);
            folded += static_cast<char>(c == 0xC3 && n >= 0x80 && n <= 0x9E && n != 0x97 ? n + 0x20 : n);
        }
    }
    return true;
}

// What a text folds to when ICU cannot fold it: ASCII letters in lower
// case, every other byte as it is. Texts then still compare without regard
// to the letter case of ASCII, and equal texts stay equal.
std::string FoldAscii(std::string_view text) {
    std::string folded(text);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return folded;
}

// Full Unicode case folding through ICU; std::nullopt when ICU reports a
// failure (the buffers are sized for the largest result, so none is expected).
std::optional<std::string> FoldUnicode(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max() / 3))
        return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    std::vector<UChar> wide(text.size() + 1); // UTF-16 never needs more units than UTF-8 has bytes
    u_strFromUTF8WithSub(wide.data(), static_cast<int32_t>(wide.size()), &length, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status))
        return std::nullopt;
    std::vector<UChar> folded(static_cast<std::size_t>(length) * 3 + 1); // a unit folds to three at most
    const int32_t foldedLength = u_strFoldCase(folded.data(), static_cast<int32_t>(folded.size()),
                                               wide.data(), length, U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status))
        return std::nullopt;
    std::string out(static_cast<std::size_t>(foldedLength) * 3 + 1, '\0'); // three UTF-8 bytes a unit
    int32_t outLength = 0;
    u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &outLength, folded.data(), foldedLength,
                &status);
    if (U_FAILURE(status))
        return std::nullopt;
    out.resize(static_cast<std::size_t>(outLength));
    return out;
}

} // namespace

std::string FoldCase(std::string_view text) {
    std::string fast;
    if (FoldLatin1(text, fast))
        return fast;
    if (auto folded = FoldUnicode(text))
        return std::move(*folded);
    return FoldAscii(text);
}

int CompareNoCase(std::string_view a, std::string_view b) {
    return FoldCase(a).compare(FoldCase(b));
}

} // namespace torvex::platform::db
