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
