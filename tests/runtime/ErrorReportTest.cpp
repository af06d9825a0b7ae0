#include "platform/Failure.h"
#include "platform/ProgramEnd.h"
#include "platform/Termination.h"
#include "platform/Text.h"
#include "runtime/Guard.h"
#include "support/RuntimeFixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <stdexcept>

using namespace torvex;
using platform::Answer;
using torvex::test::ReadFile;

namespace {

class ErrorReport : public test::RuntimeFixture {
protected:
    // Runs a procedure of three steps whose second fails; returns which ran.
    std::string RunProcedure(runtime::Runtime& rt) {
        std::string ran;
        runtime::Guard guard(rt, "Demo");
        guard([&] { ran += "1"; });
        guard([&] { platform::Raise(53, "File not found"); });
        guard([&] { ran += "3"; });
        return ran;
    }
    std::string LogLine() const {
        return "Fehler in Torvex / pTorvex_Config_Exe / Demo (Nr. 53) :File not found";
    }
    std::string Report() const {
        return "Unexpected error!\n\rFile not found\n\rError logged to \n\r" +
               platform::UpperCase(ErrorLog());
    }
};

TEST_F(ErrorReport, AnsweredYesResumesWithTheNextStep) {
    auto& rt = MakeRuntime();
    dialogs_.Queue(Answer::Yes);
    EXPECT_EQ(RunProcedure(rt), "13");
    EXPECT_EQ(ReadFile(ErrorLog()), LogLine() + "\r\n");
    ASSERT_EQ(dialogs_.Shown().size(), 1u);
    const auto& box = dialogs_.Shown()[0];
    EXPECT_EQ(box.text, Report() + "\n\rResume?");
    EXPECT_EQ(box.title, "Unexpected error");
    EXPECT_EQ(box.buttons, platform::Buttons::YesNo);
    EXPECT_EQ(box.icon, platform::Icon::Critical);
    EXPECT_EQ(box.defaultButton, 1);
}

TEST_F(ErrorReport, AnsweredNoEndsTheProgramAtOnce) {
    auto& rt = MakeRuntime();
    dialogs_.Queue(Answer::No);
    std::string ran;
    try {
        runtime::Guard outer(rt, "Outer");
        outer([&] { ran = RunProcedure(rt); }); // a guard never swallows the end
        ran += "after";
        FAIL();
    } catch (const platform::ProgramEnd& end) {
        EXPECT_EQ(end.exitStatus, 1);
    }
    EXPECT_EQ(ran, "");
    EXPECT_EQ(ReadFile(ErrorLog()), LogLine() + "\r\n");
    EXPECT_EQ(dialogs_.Shown().size(), 1u);
}

TEST_F(ErrorReport, SilentRunLogsAndResumes) {
    auto& rt = MakeRuntime("/EXTERNAL=SILENT");
    rt.GetStartModeIntegrated();
    EXPECT_EQ(RunProcedure(rt), "13");
    EXPECT_EQ(ReadFile(ErrorLog()), LogLine() + "\r\n");
    EXPECT_EQ(ReadFile(ServicePackLog()), "! Fault Torvex_Config: " + Report() + "\r\n");
    EXPECT_EQ(rt.ReportError(9999, "Torvex_Config", "x", "P", true), runtime::ReportAnswer::Resume)
        << "silent reports resume, even fatal";
}

TEST_F(ErrorReport, FatalFormShowsOnlyOkAndEnds) {
    auto& rt = MakeRuntime();
    dialogs_.Queue(Answer::Ok);
    runtime::Guard guard(rt, "Demo");
    guard.SetFatal(true);
    EXPECT_THROW(guard([] { platform::Raise(53, "File not found"); }), platform::ProgramEnd);
    ASSERT_EQ(dialogs_.Shown().size(), 1u);
    EXPECT_EQ(dialogs_.Shown()[0].text, Report());
    EXPECT_EQ(dialogs_.Shown()[0].title, "Fatal error");
    EXPECT_EQ(dialogs_.Shown()[0].buttons, platform::Buttons::Ok);
}

TEST_F(ErrorReport, FailedConditionEntersItsBranchAndStdFailuresGetClassicNumbers) {
    auto& rt = MakeRuntime("/EXTERNAL=SILENT");
    rt.GetStartModeIntegrated();
    runtime::Guard guard(rt, "Demo");
    EXPECT_TRUE(guard.Test([]() -> bool { throw std::out_of_range("x"); }));
    EXPECT_FALSE(guard.Test([] { return false; }));
    guard([] { throw std::overflow_error("x"); });
    EXPECT_EQ(ReadFile(ErrorLog()),
              "Fehler in Torvex / pTorvex_Config_Exe / Demo (Nr. 9) :Subscript out of range\r\n"
              "Fehler in Torvex / pTorvex_Config_Exe / Demo (Nr. 6) :Overflow\r\n");
}

TEST_F(ErrorReport, AValueStepGivesItsValueOrAfterAResumeTheFallback) {
    auto& rt = MakeRuntime("/EXTERNAL=SILENT");
    rt.GetStartModeIntegrated();
    runtime::Guard guard(rt, "Demo");
    EXPECT_EQ(guard.Value("fallback", [] { return std::string("computed"); }), "computed");
    EXPECT_EQ(guard.Value("fallback", []() -> std::string { platform::Raise(53, "File not found"); }),
              "fallback");
    EXPECT_EQ(guard.Value<std::optional<int>>(std::nullopt, [] { return platform::ToInt16(40000); }),
              std::nullopt);
    EXPECT_EQ(ReadFile(ErrorLog()),
              LogLine() + "\r\nFehler in Torvex / pTorvex_Config_Exe / Demo (Nr. 6) :Overflow\r\n");
}

TEST_F(ErrorReport, IntegratedLogGoesToLogfileAndAnUnwritableLogToStandardError) {
    auto& rt = MakeRuntime("/EXTERNAL=HX5CFG /LOGFILE=" + (dir_ / "Logs/Cfg.log"));
    rt.GetStartModeIntegrated();
    test::WriteFile(dir_ / "Logs/Cfg.log", "");
    EXPECT_EQ(rt.WriteErrorLog("entry"), "Error logged to \n\r" + platform::UpperCase(dir_ / "Logs/Cfg.log"));
    EXPECT_EQ(ReadFile(dir_ / "Logs/Cfg.log"), "entry\r\n");

    auto& noLog = MakeRuntime("/EXTERNAL=HX5CFG");
    noLog.GetStartModeIntegrated();
    EXPECT_EQ(noLog.WriteErrorLog("lost?"), "Error logged to \n\r(standard error)");
    EXPECT_EQ(errors_.str(), "no log file is named; the entry follows:\nlost?\n");

    // A log that refuses the entry is not named as holding it.
    std::filesystem::create_directories(dir_ / "Logs/Dir.log");
    auto& folderLog = MakeRuntime("/EXTERNAL=HX5CFG /LOGFILE=" + (dir_ / "Logs/Dir.log"));
    folderLog.GetStartModeIntegrated();
    EXPECT_EQ(folderLog.WriteErrorLog("entry"), "Error logged to \n\r(standard error)");
}

TEST_F(ErrorReport, ConfirmCancelAsksTheDesignedQuestion) {
    const std::string question = "Cancel edits?\n\rRemark:\n\rUntil now no changes have been taken over ";
    auto& rt = MakeRuntime();
    dialogs_.Queue(Answer::No);
    EXPECT_FALSE(rt.ConfirmCancel());
    EXPECT_FALSE(test::Exists(ErrorLog()));
    dialogs_.Queue(Answer::Yes);
    EXPECT_TRUE(rt.ConfirmCancel());
    EXPECT_EQ(ReadFile(ErrorLog()), "Konfigurations-EXE wurde abgebrochen:     Torvex\r\n");
    ASSERT_EQ(dialogs_.Shown().size(), 2u);
    EXPECT_EQ(dialogs_.Shown()[0].text, question);
    EXPECT_EQ(dialogs_.Shown()[0].title, "Cancel?");
    EXPECT_EQ(dialogs_.Shown()[0].defaultButton, 2);
    EXPECT_EQ(dialogs_.Shown()[0].icon, platform::Icon::Exclamation);

    auto& integrated = MakeRuntime("/EXTERNAL=HX5CFG /LOGFILE=" + (dir_ / "cfg.log"));
    integrated.GetStartModeIntegrated();
    dialogs_.Queue(Answer::No);
    EXPECT_FALSE(integrated.ConfirmCancel());
    EXPECT_EQ(dialogs_.Shown()[2].text,
              question +
                  "\n\r\"Torvex\" has to be configured again in \"standalone-mode\" via "
                  "\n\r\"" +
                  ProgramFolder() + "/Torvex_Config.exe\"");

    auto& silent = MakeRuntime("/EXTERNAL=SILENT");
    silent.GetStartModeIntegrated();
    EXPECT_TRUE(silent.ConfirmCancel());
    EXPECT_EQ(ReadFile(ServicePackLog()), "! Fault Torvex_Config: " + question + "\r\n");
    EXPECT_EQ(dialogs_.Shown().size(), 3u);
}

class Signals : public test::RuntimeFixture {};

// In a child process (the handlers stay for the process): a signal before a
// guarded step ends the run there, with its line in the log, and an ini
// step open at that moment leaves its file as it was.
TEST_F(Signals, ASignalEndsTheRunBeforeTheNextStepAndAnOpenIniStepWritesNothing) {
    test::WriteFile(ProgramIni(), "[Machine1]\r\nBobbin1=true\r\n");
    const auto run = [&] {
        platform::InstallTerminationHandlers();
        auto& rt = MakeRuntime("/EXTERNAL=SILENT");
        rt.GetStartModeIntegrated();
        bool ran = false;
        try {
            runtime::IniStep step(rt, ProgramIni());
            step.Begin();
            (void)rt.SaveIni(false, "Machine1", "Bobbin1", ProgramIni());
            ::raise(SIGTERM);
            runtime::Guard guard(rt, "Demo");
            guard([&] { ran = true; });
        } catch (const platform::ProgramEnd& end) {
            const bool whole = test::ReadFile(ProgramIni()) == "[Machine1]\r\nBobbin1=true\r\n";
            const bool logged =
                test::ReadFile(ServicePackLog()).find("Ended by SIGTERM") != std::string::npos;
            std::_Exit(!ran && whole && logged && end.exitStatus == 1 ? 0 : 1);
        }
        std::_Exit(2);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

} // namespace
