#include "platform/database/FoldCase.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <vector>

namespace torvex::platform::db {

std::string FoldCase(std::string_view text) {
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        std::string folded(text);
        for (char& c : folded)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c + 32);
        return folded;
    }
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    std::vector<UChar> wide(text.size() + 1);
    u_strFromUTF8WithSub(wide.data(), static_cast<int32_t>(wide.size()), &length, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    std::vector<UChar> folded(static_cast<std::size_t>(length) * 3 + 1);
    status = U_ZERO_ERROR;
    const int32_t foldedLength = u_strFoldCase(folded.data(), static_cast<int32_t>(folded.size()),
                                               wide.data(), length, U_FOLD_CASE_DEFAULT, &status);
    std::string out(static_cast<std::size_t>(foldedLength) * 3 + 1, '\0');
    int32_t outLength = 0;
    status = U_ZERO_ERROR;
    u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &outLength, folded.data(), foldedLength,
                &status);
    out.resize(static_cast<std::size_t>(outLength));
    return out;
}

int CompareNoCase(std::string_view a, std::string_view b) {
    return FoldCase(a).compare(FoldCase(b));
}

} // namespace torvex::platform::db
