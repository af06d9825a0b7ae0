#include "support/RuntimeFixture.h"

#include <gtest/gtest.h>

using namespace torvex;
using torvex::test::ReadFile;
using torvex::test::WriteFile;

namespace {

class IniAccess : public test::RuntimeFixture {
protected:
    std::string File() const { return dir_ / "x.ini"; }
    std::string NotFound(const std::string& key) const {
        return "File '" + File() + "' or Section [S] or Entry '" + key + "' not found";
    }
};

TEST_F(IniAccess, MissingFileGivesTheDefaultsWithoutAMessage) {
    auto& rt = MakeRuntime();
    EXPECT_EQ(rt.LoadIniString("S", "k", File(), false), "");
    EXPECT_EQ(rt.LoadIniInteger("S", "k", File(), false), -1);
    EXPECT_FALSE(rt.LoadIniBoolean("S", "k", File(), false));
    EXPECT_TRUE(dialogs_.Shown().empty());
}

TEST_F(IniAccess, ReportMissingShowsTheNotFoundTextForEmptyAndInvalidValues) {
    WriteFile(File(), "[S]\nempty=\nyes=yes\none=1\nminus=-1\nT1=True\nT2=TRUE\nT3=true\n");
    auto& rt = MakeRuntime();
    for (int i = 0; i < 6; ++i)
        dialogs_.Queue(platform::Answer::Ok);
    EXPECT_EQ(rt.LoadIniString("S", "empty", File(), true), "");
    EXPECT_FALSE(rt.LoadIniBoolean("S", "yes", File(), true));
    EXPECT_FALSE(rt.LoadIniBoolean("S", "one", File(), true));
    EXPECT_FALSE(rt.LoadIniBoolean("S", "empty", File(), true));
    EXPECT_EQ(rt.LoadIniInteger("S", "minus", File(), true), -1);
    EXPECT_EQ(rt.LoadIniInteger("S", "missing", File(), true), -1);
    for (const char* key : {"T1", "T2", "T3"})
        EXPECT_TRUE(rt.LoadIniBoolean("S", key, File(), true));
    ASSERT_EQ(dialogs_.Shown().size(), 6u);
    EXPECT_EQ(dialogs_.Shown()[0].text, NotFound("empty"));
    EXPECT_EQ(dialogs_.Shown()[1].text, NotFound("yes"));
    EXPECT_EQ(dialogs_.Shown()[5].text, NotFound("missing"));
    EXPECT_EQ(dialogs_.Shown()[0].title, "Torvex_Config");
    EXPECT_EQ(dialogs_.Shown()[0].icon, platform::Icon::Critical);
}

TEST_F(IniAccess, LongValuesAreCutTo254Characters) {
    WriteFile(File(), "[S]\nk=" + std::string(300, 'x') + "\nu=" + std::string(300, 'a') + "\n");
    auto& rt = MakeRuntime();
    EXPECT_EQ(rt.LoadIniString("S", "k", File(), false), std::string(254, 'x'));
}

TEST_F(IniAccess, OutOfRangeIntegerIsAnOverflowThatReadsAsZero) {
    WriteFile(File(), "[S]\nbig=40000\nwrapped=4294967295\nlow=-32768\n");
    auto& rt = MakeRuntime("/EXTERNAL=SILENT");
    rt.GetStartModeIntegrated();
    EXPECT_EQ(rt.LoadIniInteger("S", "big", File(), true), 0);
    EXPECT_EQ(rt.LoadIniInteger("S", "wrapped", File(), false), -1);
    EXPECT_EQ(rt.LoadIniInteger("S", "low", File(), false), -32768);
    EXPECT_EQ(ReadFile(ErrorLog()),
              "Fehler in Torvex / pTorvex_Config_Exe / LoadIniInteger (Nr. 6) :Overflow\r\n");
}

TEST_F(IniAccess, SaveWritesTheInvariantTextForms) {
    auto& rt = MakeRuntime();
    EXPECT_EQ(rt.SaveIni(true, "S", "b", File()), 1);
    EXPECT_EQ(rt.SaveIni(std::int16_t{5}, "S", "i", File()), 1);
    EXPECT_EQ(rt.SaveIni(2.5, "S", "d", File()), 1);
    EXPECT_EQ(rt.SaveIni(-0.5, "S", "n", File()), 1);
    EXPECT_EQ(rt.SaveIni(std::string(), "S", "e", File()), 1);
    EXPECT_EQ(rt.SaveIni("text", "S", "t", File()), 1);
    EXPECT_EQ(ReadFile(File()), "[S]\r\nb=true\r\ni=5\r\nd=2.5\r\nn=-.5\r\ne=\r\nt=text\r\n");
    EXPECT_EQ(rt.SaveIni(true, "S", "b", dir_ / "missing/x.ini"), 0) << "a refused write is only a result";
}

TEST_F(IniAccess, UnsupportedTypeLeavesTheEntryAlone) {
    WriteFile(File(), "[S]\r\nk=keep\r\n");
    auto& rt = MakeRuntime();
    dialogs_.Queue(platform::Answer::Ok);
    EXPECT_EQ(rt.SaveIni(runtime::IniUnsupported{}, "S", "k", File()), 0);
    ASSERT_EQ(dialogs_.Shown().size(), 1u);
    EXPECT_EQ(dialogs_.Shown()[0].text, "Ini Save:  wrong data type");
    EXPECT_EQ(ReadFile(File()), "[S]\r\nk=keep\r\n");
}

} // namespace
