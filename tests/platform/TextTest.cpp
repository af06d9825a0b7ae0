#include "platform/Text.h"

#include <gtest/gtest.h>

using namespace torvex::platform;

TEST(Text, UpperCaseCoversLatinLettersAndKeepsByteLength) {
    EXPECT_EQ(UpperCase("abc äöü ß é ÷ ÿ"), "ABC ÄÖÜ ß É ÷ ÿ");
    EXPECT_TRUE(EqualsNoCase("Müller", "MÜLLER"));
    EXPECT_FALSE(EqualsNoCase("Müller", "Muller"));
}

TEST(Text, Windows1252RoundTripIsLossless) {
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += static_cast<char>(c);
    const std::string utf8 = Cp1252ToUtf8(all);
    EXPECT_TRUE(IsValidUtf8(utf8));
    EXPECT_EQ(Utf8ToCp1252(utf8), all);
    EXPECT_EQ(Utf8ToCp1252("€ ä 漢"), "\x80 \xE4 ?");
}

TEST(Text, Utf8ValidationRejectsMalformedInput) {
    EXPECT_TRUE(IsValidUtf8("plain ä € 😀"));
    EXPECT_FALSE(IsValidUtf8("\xE4"));         // Windows-1252 ä
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));     // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80")); // surrogate
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));     // cut short
}

TEST(Text, Utf16RoundTripAndPrefix) {
    const std::string text = "Grüße 😀";
    EXPECT_EQ(Utf16LeToUtf8(Utf8ToUtf16Le(text)), text);
    EXPECT_EQ(Utf8Prefix("äöü", 2), "äö");
    EXPECT_EQ(Utf8Prefix("ab", 5), "ab");
}

TEST(Text, Utf16LoneSurrogatesSurviveTheRoundTrip) {
    using namespace std::string_view_literals;
    // D800; DBFF x; x DC00; DFFF D800 (the wrong order); a real pair D83D DE00
    for (const std::string_view units :
         {"\x00\xD8"sv, "\xFF\xDBx\0"sv, "x\0\x00\xDC"sv, "\xFF\xDF\x00\xD8"sv, "\x3D\xD8\x00\xDE"sv}) {
        const std::string text = Utf16LeToUtf8(units);
        EXPECT_EQ(Utf8ToUtf16Le(text), units);
        EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos) << "no U+FFFD";
    }
    EXPECT_EQ(Utf16LeToUtf8("\x00\xD8"sv), "\xED\xA0\x80");
}
