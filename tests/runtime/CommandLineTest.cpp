#include "platform/Failure.h"
#include "runtime/Runtime.h"
#include "support/RuntimeFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

using namespace torvex;
using torvex::test::RuntimeFixture;

namespace {

struct ValueCase {
    const char* commandLine;
    const char* key;
    std::optional<std::string> expected;
};

class CommandValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(CommandValue, IsFoundCutAndUpperCased) {
    EXPECT_EQ(runtime::ParseCommandValue(GetParam().commandLine, GetParam().key), GetParam().expected)
        << GetParam().commandLine;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, CommandValue,
    ::testing::Values(ValueCase{"/EXTERNAL=HX5CFG /LOGFILE=c:\\cfg\\run.log", "EXTERNAL", "HX5CFG"},
                      ValueCase{"/EXTERNAL=HX5CFG /LOGFILE=c:\\cfg\\run.log", "LOGFILE", "C:\\CFG\\RUN.LOG"},
                      ValueCase{"/external=hx5cfg", "EXTERNAL", "HX5CFG"},
                      ValueCase{"/EXTERNAL HX5CFG", "EXTERNAL", "HX5CFG"},
                      ValueCase{"/EXTERNAL:HX5CFG", "EXTERNAL", "HX5CFG"},
                      ValueCase{"/EXTERNAL==HX5CFG", "EXTERNAL", "=HX5CFG"},
                      ValueCase{"/EXTERNAL=HX5CFG/LOGFILE=x", "EXTERNAL", "HX5CFG"},
                      ValueCase{"/LOGFILE=c:\\external\\a.log /EXTERNAL=HX5CFG", "EXTERNAL", "A.LOG"},
                      ValueCase{"/LOGFILE=/plant/external/a.log /EXTERNAL=HX5CFG", "EXTERNAL", "A.LOG"},
                      ValueCase{"/EXTERNAL=", "EXTERNAL", ""},
                      ValueCase{"/OTHER=1", "EXTERNAL", std::nullopt},
                      ValueCase{"", "EXTERNAL", std::nullopt}));

TEST(CommandPath, KeepsLetterCaseAndSlashesUpToTheNextKey) {
    EXPECT_EQ(runtime::ParseCommandPath("/EXTERNAL=HX5CFG /LOGFILE=/Plant/Logs/Run.log", "LOGFILE"),
              "/Plant/Logs/Run.log");
    EXPECT_EQ(runtime::ParseCommandPath("/LOGFILE=/Plant/My Logs/Run.log /EXTERNAL=HX5CFG", "LOGFILE"),
              "/Plant/My Logs/Run.log");
    EXPECT_EQ(runtime::ParseCommandPath("/EXTERNAL=HX5CFG", "LOGFILE"), std::nullopt);
}

struct WordCase {
    const char* commandLine;
    runtime::CommandWord expected;
};

class PreviewWord : public ::testing::TestWithParam<WordCase> {};

// A preview word must never be missed: a real run would change the plant.
TEST_P(PreviewWord, IsFoundWhereverAKeyCanStand) {
    EXPECT_EQ(runtime::FindCommandWord(GetParam().commandLine, "PREVIEW"), GetParam().expected)
        << GetParam().commandLine;
}

using runtime::CommandWord;
INSTANTIATE_TEST_SUITE_P(
    Forms, PreviewWord,
    ::testing::Values(WordCase{"/EXTERNAL=SILENT /PREVIEW /LOGFILE=/Plant/Run.log", CommandWord::Given},
                      WordCase{"/PREVIEW /EXTERNAL=SILENT /LOGFILE=/Plant/Run.log", CommandWord::Given},
                      WordCase{"/EXTERNAL=SILENT /LOGFILE=/Plant/Run.log /preview", CommandWord::Given},
                      WordCase{"/EXTERNAL=SILENT/PREVIEW /LOGFILE=/Plant/Run.log", CommandWord::Given},
                      WordCase{"/EXTERNAL=SILENT /PREVIEW=1 /LOGFILE=/Plant/Run.log", CommandWord::Given},
                      WordCase{"/preview/external=silent", CommandWord::Given},
                      WordCase{"/EXTERNAL=SILENT /PREVIEW/", CommandWord::Given},
                      WordCase{"/EXTERNAL=SILENT /LOGFILE=/tmp/preview/x /PREVIEW", CommandWord::Given},
                      WordCase{"/EXTERNAL=SILENT /LOGFILE /PREVIEW", CommandWord::Ambiguous},
                      WordCase{"/LOGFILE=/tmp/preview/x", CommandWord::Ambiguous},
                      WordCase{"/EXTERNAL=HX5CFG /LOGFILE=/tmp/preview", CommandWord::Ambiguous},
                      WordCase{"/EXTERNAL=SILENT /LOGFILE=/tmp/x/Preview", CommandWord::Ambiguous},
                      WordCase{"/EXTERNAL=SILENT", CommandWord::Absent},
                      WordCase{"/EXTERNAL=SILENT /PREVIEWS", CommandWord::Absent},
                      WordCase{"/EXTERNAL=SILENT /LOGFILE=/tmp/preview.log", CommandWord::Absent},
                      WordCase{"/EXTERNAL=SILENT /LOGFILE", CommandWord::Absent},
                      WordCase{"", CommandWord::Absent}),
    [](const auto& param) { return std::to_string(param.index); });

TEST(CommandValue, ThePreviewWordChangesNoDesignedKey) {
    for (const char* commandLine : {"/EXTERNAL=SILENT /PREVIEW /LOGFILE=/Plant/Run.log",
                                    "/PREVIEW /EXTERNAL=SILENT /LOGFILE=/Plant/Run.log",
                                    "/EXTERNAL=SILENT/PREVIEW /LOGFILE=/Plant/Run.log",
                                    "/PREVIEW/EXTERNAL=SILENT /LOGFILE=/Plant/Run.log"}) {
        EXPECT_EQ(runtime::ParseCommandValue(commandLine, "EXTERNAL"), "SILENT") << commandLine;
        EXPECT_EQ(runtime::ParseCommandPath(commandLine, "LOGFILE"), "/Plant/Run.log") << commandLine;
    }
}

struct RestoreCase {
    const char* commandLine;
    bool restore, preview;
};

class RestoreWord : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(RestoreWord, IsAKeyOfItsOwnBesideTheOthers) {
    const RestoreCase& c = GetParam();
    EXPECT_EQ(runtime::FindCommandWord(c.commandLine, "RESTORE") == runtime::CommandWord::Given, c.restore);
    EXPECT_EQ(runtime::FindCommandWord(c.commandLine, "PREVIEW") == runtime::CommandWord::Given, c.preview);
    EXPECT_EQ(runtime::ParseCommandValue(c.commandLine, "EXTERNAL").value_or("SILENT"), "SILENT")
        << "the word changes no other key";
}

INSTANTIATE_TEST_SUITE_P(
    Examples, RestoreWord,
    ::testing::Values(RestoreCase{"/EXTERNAL=SILENT /RESTORE", true, false},
                      RestoreCase{"/RESTORE /EXTERNAL=SILENT", true, false},
                      RestoreCase{"/EXTERNAL=SILENT/restore", true, false},
                      RestoreCase{"/EXTERNAL=SILENT /RESTORE /PREVIEW", true, true},
                      RestoreCase{"/EXTERNAL=SILENT /PREVIEW /RESTORE=1", true, true},
                      RestoreCase{"/RESTORE", true, false},
                      RestoreCase{"/EXTERNAL=SILENT /RESTORED", false, false},
                      RestoreCase{"/EXTERNAL=SILENT /LOGFILE=/plant/restore/x.log", false, false},
                      RestoreCase{"/EXTERNAL=SILENT /LOGFILE=/plant/x /RESTORE", true, false},
                      RestoreCase{"/EXTERNAL=SILENT /LOGFILE=/plant/x/restore", false, false},
                      RestoreCase{"/EXTERNAL=SILENT", false, false}));

TEST(CommandValue, KeyAtTheVeryEndIsAFailure) {
    EXPECT_THROW(runtime::ParseCommandValue("/EXTERNAL=HX5CFG /LOGFILE", "LOGFILE"), platform::Failure);
}

class StartMode : public RuntimeFixture {};

TEST_F(StartMode, FollowsTheExternalWord) {
    struct Case {
        const char* commandLine;
        bool integrated, silent, result;
    };
    for (const Case& c :
         {Case{"/EXTERNAL=HX5CFG", true, false, true}, Case{"/external=silent", false, true, false},
          Case{"/EXTERNAL=OTHER", false, false, false}, Case{"", false, false, false},
          Case{"/LOGFILE=c:\\external\\a.log /EXTERNAL=HX5CFG", false, false, false}}) {
        auto& rt = MakeRuntime(c.commandLine);
        EXPECT_EQ(rt.GetStartModeIntegrated(), c.result) << c.commandLine;
        EXPECT_EQ(rt.IntegratedMode(), c.integrated) << c.commandLine;
        EXPECT_EQ(rt.SilentMode(), c.silent) << c.commandLine;
    }
}

TEST_F(StartMode, KeyAtTheEndIsReportedOnceThenStandalone) {
    auto& rt = MakeRuntime("/LOGFILE=x /EXTERNAL");
    dialogs_.Queue(platform::Answer::Yes);
    EXPECT_FALSE(rt.GetStartModeIntegrated());
    EXPECT_FALSE(rt.IntegratedMode());
    EXPECT_FALSE(rt.SilentMode());
    ASSERT_EQ(dialogs_.Shown().size(), 1u);
    EXPECT_EQ(test::ReadFile(ErrorLog()), "Fehler in Torvex / pTorvex_Config_Exe / ReadCommand (Nr. 5) "
                                          ":Invalid procedure call or argument\r\n");
}

TEST_F(StartMode, ComponentNameIsTheProgramNameWithoutItsLastSevenCharacters) {
    EXPECT_EQ(MakeRuntime("", "Torvex_Config").GetOCXName(), "Torvex");
    EXPECT_EQ(MakeRuntime("", "Other_Config").GetOCXName(), "Other");
    EXPECT_EQ(MakeRuntime("", "_Config").GetOCXName(), "");
    EXPECT_TRUE(dialogs_.Shown().empty());
}

TEST_F(StartMode, ReportsNameTheComponentAsThePathsDoAndAShortNameIsToldOnce) {
    const std::string logfileLine = "Fehler in  / pTorvex_Config_Exe / GetPathLogfile (Nr. 5) :Invalid "
                                    "procedure call or argument\r\n";
    const std::string shortNameLine = "Fehler in  / pTorvex_Config_Exe / GetOCXName (Nr. 5) :Invalid "
                                      "procedure call or argument\r\n";
    for (const auto& [programFileName, log] : {std::pair<std::string, std::string>{"Torvexx", logfileLine},
                                               {"Tool", shortNameLine + logfileLine}}) {
        std::filesystem::remove(ErrorLog());
        auto& rt = MakeRuntime("/EXTERNAL=SILENT /LOGFILE", programFileName);
        rt.GetStartModeIntegrated();
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(rt.GetPathOCXMDB(), Plant() + "//.mdb");
        EXPECT_EQ(rt.GetPathLogfile(), ""); // a failure report of its own
        EXPECT_EQ(test::ReadFile(ErrorLog()), log) << programFileName;
    }
}

} // namespace
