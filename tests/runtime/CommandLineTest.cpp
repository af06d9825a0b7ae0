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

TEST(CommandValue, ThePreviewWordChangesNoDesignedKey) {
    for (const char* commandLine : {"/EXTERNAL=SILENT /PREVIEW /LOGFILE=/Plant/Run.log",
                                    "/PREVIEW /EXTERNAL=SILENT /LOGFILE=/Plant/Run.log",
                                    "/EXTERNAL=SILENT /LOGFILE=/Plant/Run.log /preview",
                                    "/EXTERNAL=SILENT/PREVIEW /LOGFILE=/Plant/Run.log",
                                    "/EXTERNAL=SILENT /PREVIEW=1 /LOGFILE=/Plant/Run.log"}) {
        EXPECT_TRUE(runtime::AsksForPreview(commandLine)) << commandLine;
        EXPECT_EQ(runtime::ParseCommandValue(commandLine, "EXTERNAL"), "SILENT") << commandLine;
        EXPECT_EQ(runtime::ParseCommandPath(commandLine, "LOGFILE"), "/Plant/Run.log") << commandLine;
    }
    for (const char* commandLine :
         {"/EXTERNAL=SILENT", "/EXTERNAL=SILENT /PREVIEWS", "/LOGFILE=/tmp/preview/x",
          "/EXTERNAL=HX5CFG /LOGFILE=/tmp/preview", "/EXTERNAL=SILENT /LOGFILE=/tmp/x/Preview"})
        EXPECT_FALSE(runtime::AsksForPreview(commandLine)) << commandLine;
}

struct WordCase {
    const char* commandLine;
    bool restore, preview;
};

class RestoreWord : public ::testing::TestWithParam<WordCase> {};

TEST_P(RestoreWord, IsAKeyOfItsOwnBesideTheOthers) {
    const WordCase& c = GetParam();
    EXPECT_EQ(runtime::AsksForRestore(c.commandLine), c.restore);
    EXPECT_EQ(runtime::AsksForPreview(c.commandLine), c.preview);
    EXPECT_EQ(runtime::ParseCommandValue(c.commandLine, "EXTERNAL").value_or("SILENT"), "SILENT")
        << "the word changes no other key";
}

INSTANTIATE_TEST_SUITE_P(
    Examples, RestoreWord,
    ::testing::Values(WordCase{"/EXTERNAL=SILENT /RESTORE", true, false},
                      WordCase{"/RESTORE /EXTERNAL=SILENT", true, false},
                      WordCase{"/EXTERNAL=SILENT/restore", true, false},
                      WordCase{"/EXTERNAL=SILENT /RESTORE /PREVIEW", true, true},
                      WordCase{"/EXTERNAL=SILENT /PREVIEW /RESTORE=1", true, true},
                      WordCase{"/RESTORE", true, false}, WordCase{"/EXTERNAL=SILENT /RESTORED", false, false},
                      WordCase{"/EXTERNAL=SILENT /LOGFILE=/plant/restore/x.log", false, false},
                      WordCase{"/EXTERNAL=SILENT /LOGFILE=/plant/x /RESTORE", true, false},
                      WordCase{"/EXTERNAL=SILENT /LOGFILE=/plant/x/restore", false, false},
                      WordCase{"/EXTERNAL=SILENT", false, false}));

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
        EXPECT_EQ(rt.IntegratedMode, c.integrated) << c.commandLine;
        EXPECT_EQ(rt.SilentMode, c.silent) << c.commandLine;
    }
}

TEST_F(StartMode, KeyAtTheEndIsReportedOnceThenStandalone) {
    auto& rt = MakeRuntime("/LOGFILE=x /EXTERNAL");
    dialogs_.Queue(platform::Answer::Yes);
    EXPECT_FALSE(rt.GetStartModeIntegrated());
    EXPECT_FALSE(rt.IntegratedMode);
    EXPECT_FALSE(rt.SilentMode);
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
