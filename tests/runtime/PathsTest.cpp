#include "platform/ProgramEnd.h"
#include "platform/Text.h"
#include "support/RuntimeFixture.h"

#include <gtest/gtest.h>

using namespace torvex;
using torvex::test::WriteFile;

namespace {

class Paths : public test::RuntimeFixture {};

TEST_F(Paths, ComposeFromTheInstallationFolder) {
    runtime::Runtime rt(test::MakeIdentity("/plant/tools"), {dialogs_, ServicePackLog(), &errors_, {}});
    EXPECT_EQ(rt.InstallationFolder(), "/plant");
    EXPECT_EQ(rt.GetPathOCXMDB(), "/plant/Torvex/Torvex.mdb") << "returned even when missing";
    EXPECT_EQ(rt.GetPathSourceOCXMDB(), "");
    EXPECT_EQ(rt.GetProgramIniPath(runtime::Runtime::IniUse::Reading), "");
    EXPECT_EQ(rt.GetHX5ConfigurationIniPath(), "");
    runtime::Runtime root(test::MakeIdentity("/"), {dialogs_, ServicePackLog(), &errors_, {}});
    EXPECT_EQ(root.InstallationFolder(), "");
}

TEST_F(Paths, FindExistingFilesOfThePlant) {
    WriteFile(Cfg(), "");
    WriteFile(ProgramFolder() + "/Torvex_Source.mdb", "");
    WriteFile(ProgramIni(), "");
    WriteFile(HX5Ini(), "");
    auto& rt = MakeRuntime();
    EXPECT_EQ(rt.GetCFGPath(), Cfg());
    EXPECT_EQ(rt.GetPathSourceOCXMDB(), ProgramFolder() + "/Torvex_Source.mdb");
    EXPECT_EQ(rt.GetProgramIniPath(runtime::Runtime::IniUse::Reading), ProgramIni());
    EXPECT_EQ(rt.GetProgramIniPath(runtime::Runtime::IniUse::Writing), ProgramIni());
    EXPECT_EQ(rt.GetHX5ConfigurationIniPath(), HX5Ini());
}

TEST_F(Paths, IntegratedReadsTheProgramIniUnderSaveAndRestoreButWritesItsOwn) {
    for (const std::string& s : {dir_ / "save", dir_ / "save/"}) {
        WriteFile(HX5Ini(), "[Common]\r\nSaveAndRestore=" + s + "\r\n");
        WriteFile(dir_ / "save/parameter/Program.ini", "");
        WriteFile(dir_ / "save/Torvex/Torvex.mdb", "");
        WriteFile(ProgramIni(), "");
        auto& rt = MakeRuntime("/EXTERNAL=HX5CFG");
        rt.GetStartModeIntegrated();
        EXPECT_EQ(rt.GetProgramIniPath(runtime::Runtime::IniUse::Reading),
                  dir_ / "save/parameter/Program.ini")
            << "found case-insensitively";
        EXPECT_EQ(rt.GetProgramIniPath(runtime::Runtime::IniUse::Writing), ProgramIni());
        EXPECT_EQ(rt.GetPathMachineCopyMDB(HX5Ini()), dir_ / "save/Torvex/Torvex.mdb");
    }
}

TEST_F(Paths, MissingCfgEndsTheProgramAfterItsMessage) {
    auto& rt = MakeRuntime();
    dialogs_.Queue(platform::Answer::Ok);
    EXPECT_THROW(rt.GetCFGPath(), platform::ProgramEnd);
    ASSERT_EQ(dialogs_.Shown().size(), 1u);
    EXPECT_EQ(dialogs_.Shown()[0].text, "File not found: \n\r" + platform::UpperCase(Cfg()));
    EXPECT_EQ(dialogs_.Shown()[0].title, "Torvex_Config");
}

TEST_F(Paths, MissingCfgInASilentRunIsAServicePackLine) {
    auto& rt = MakeRuntime("/EXTERNAL=SILENT");
    rt.GetStartModeIntegrated();
    try {
        rt.GetCFGPath();
        FAIL();
    } catch (const platform::ProgramEnd& end) {
        EXPECT_EQ(end.exitStatus, 1);
    }
    EXPECT_EQ(test::ReadFile(ServicePackLog()),
              "! Fault Torvex_Config: File not found: \n\r" + platform::UpperCase(Cfg()) + "\r\n");
}

TEST_F(Paths, FileNameOnlyIsTheLastComponent) {
    EXPECT_EQ(runtime::Runtime::GetFileNameOnly("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(runtime::Runtime::GetFileNameOnly("c.txt"), "c.txt");
}

} // namespace
