#include "platform/IniDocument.h"

#include <gtest/gtest.h>

using torvex::platform::IniDocument;

namespace {

// A UTF-16LE file: the byte order mark, then `units`, then `tail` raw bytes.
std::string Wide(std::u16string_view units, std::string_view tail = "") {
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : units) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes.append(tail);
}

struct SetCase {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    std::string value;
    bool changed;
    std::string expected;
};

class IniSet : public ::testing::TestWithParam<SetCase> {};

// Every line the write does not touch keeps its bytes, Set() tells whether
// the bytes changed, and the document then reads as its own bytes would.
TEST_P(IniSet, ChangesOnlyItsLineAndSaysWhetherBytesChanged) {
    const SetCase& c = GetParam();
    IniDocument doc = IniDocument::Parse(c.file);
    ASSERT_EQ(doc.Serialize(), c.file);
    EXPECT_EQ(doc.Set(c.section, c.key, c.value), c.changed);
    EXPECT_EQ(doc.Serialize(), c.expected);
    const IniDocument reread = IniDocument::Parse(c.expected);
    EXPECT_EQ(doc.Entries(), reread.Entries());
    for (const auto& [section, key] : reread.Entries())
        EXPECT_EQ(doc.Find(section, key), reread.Find(section, key)) << section << "/" << key;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniSet,
    ::testing::Values(
        SetCase{"Utf16OddLastByteStaysLast", Wide(u"[S]\r\nk=1\r\n[T]\r\nx=2", "\x41"), "N", "k", "v", true,
                Wide(u"[S]\r\nk=1\r\n[T]\r\nx=2\r\n[N]\r\nk=v\r\n", "\x41")},
        SetCase{"Utf16OddByteAfterLastBreak", Wide(u"[S]\r\nk=1\r\n", "\r"), "S", "k", "2", true,
                Wide(u"[S]\r\nk=2\r\n", "\r")},
        SetCase{"Utf16LoneHighSurrogateKept", Wide(u"[S]\r\na=\xD800x\r\nb=1\r\n"), "S", "b", "2", true,
                Wide(u"[S]\r\na=\xD800x\r\nb=2\r\n")},
        SetCase{"Utf16LoneLowSurrogateKept", Wide(u"[S]\r\nb=1\r\n;\xDC00\r\n\xDFFF=y\r\n"), "S", "c", "3",
                true, Wide(u"[S]\r\nb=1\r\n;\xDC00\r\n\xDFFF=y\r\nc=3\r\n")},
        SetCase{"Utf16LoneSurrogateWrittenBack", Wide(u"[S]\r\na=\xD800x\r\n"), "S", "a", "\xED\xA0\x80x",
                false, Wide(u"[S]\r\na=\xD800x\r\n")},
        SetCase{"Utf8BomKept", "\xEF\xBB\xBF[S]\r\nk=1\r\n", "S", "k", "2", true,
                "\xEF\xBB\xBF[S]\r\nk=2\r\n"},
        SetCase{"Cp1252SameBytes", "[S]\r\nk=?\r\nn=M\xFC\x81\r\n", "S", "k", "漢", false,
                "[S]\r\nk=?\r\nn=M\xFC\x81\r\n"},
        SetCase{"Cp1252NameWrittenTwiceIsOneLine", "[S]\r\n?=1\r\nn=\xFC\r\n", "S", "漢", "2", true,
                "[S]\r\n?=2\r\nn=\xFC\r\n"},
        SetCase{"SameValueAndSpelling", "[S]\r\nKey=v\r\n", " s ", "KEY", "v", false, "[S]\r\nKey=v\r\n"},
        SetCase{"SpacesAroundEquals", "[S]\r\n k = v\r\n", "S", "k", "v", true, "[S]\r\nk=v\r\n"},
        SetCase{"OtherLineEnding", "[S]\r\nk=v\n", "S", "k", "v", true, "[S]\r\nk=v\r\n"},
        SetCase{"LastLineWithoutBreak", "[S]\nk=v", "S", "k", "v", true, "[S]\nk=v\n"},
        SetCase{"QuotesDropped", "[S]\nk=\"v\"\n", "S", "k", "v", true, "[S]\nk=v\n"},
        SetCase{"NewKeyAboveTrailingComment", "[S]\nk=1\n;c\n\n", "S", "n", "", true, "[S]\nk=1\nn=\n;c\n\n"},
        SetCase{"ValueWithLineBreaks", "[S]\nk=1\n;c\n[T]\nq=0\n", "S", "k", "2\n[T]\nq=3", true,
                "[S]\nk=2\n[T]\nq=3\n;c\n[T]\nq=0\n"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(IniDocument, LoneSurrogatesReadBackAsTheirOwnNumbers) {
    const IniDocument doc = IniDocument::Parse(Wide(u"[S]\r\na=\xD800x\r\n\xDC01=\xD83D\xDE00\r\n"));
    EXPECT_EQ(doc.Find("S", "a"), "\xED\xA0\x80x");
    EXPECT_EQ(doc.Find("S", "\xED\xB0\x81"), "😀");
}

// Blank and comment lines cost no record each: a file of a million of them
// parses, writes and serialises at once (the figures are in ini_bench).
TEST(IniDocument, LargeFilesOfBlankLinesRoundTrip) {
    for (const std::string_view line : {"\r\n", "\n", "\r", " ;\r\n"}) {
        std::string blanks;
        while (blanks.size() < (2u << 20))
            blanks += line;
        const std::string file = "[S]\r\nk=1\r\n" + blanks + "[T]\r\nk=2\r\n" + blanks;
        IniDocument doc = IniDocument::Parse(file);
        EXPECT_EQ(doc.Serialize(), file);
        EXPECT_EQ(doc.Find("t", "K"), "2");
        std::string added;
        for (int i = 0; i < 300; ++i) {
            doc.Set("S", "n" + std::to_string(i), "v");
            added += "n" + std::to_string(i) + "=v\r\n";
        }
        EXPECT_EQ(doc.Serialize(), "[S]\r\nk=1\r\n" + added + blanks + "[T]\r\nk=2\r\n" + blanks);
    }
}

} // namespace
