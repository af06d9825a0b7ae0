#include "platform/Text.h"
#include "support/SqlHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>

using namespace torvex;

namespace {

// The demo plant installed in a temporary folder, with the built program in
// its component folder; runs the program there as a person or HX5CFG would.
class Program : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy(TORVEX_SOURCE_DIR "/sample/plant", Plant(),
                              std::filesystem::copy_options::recursive);
        const std::string pictures = TORVEX_SOURCE_DIR "/sample/pictures/";
        for (const char* name :
             {"Material_1_800.gif", "Material_2_800.gif", "Material_3_800.gif", "Empty_800.gif"})
            test::WriteFile(Plant() + "/Standard/" + name, test::ReadFile(pictures + name));
        for (const char* name : {"Torvex_BobbinSymbol_1_800.gif", "Torvex_BobbinSymbol_2_800.gif"})
            test::WriteFile(Plant() + "/Torvex/" + name, test::ReadFile(pictures + name));
        test::WriteFile(Plant() + "/Torvex/Torvex_Source.mdb", test::ReadFile(TORVEX_SAMPLE_TEMPLATE));
        std::filesystem::copy_file(TORVEX_PROGRAM, Plant() + "/Torvex/Torvex_Config");
    }

    std::string Plant() const { return dir_ / "plant"; }
    std::string Log() const { return dir_ / "servicepack.log"; }

    // Runs the program with `arguments`; returns its exit status.
    int Run(const std::string& arguments, const std::string& environment = "QT_QPA_PLATFORM=") {
        const std::string command = "cd '" + Plant() + "' && env -u DISPLAY -u WAYLAND_DISPLAY " +
                                    environment + " PELZO_SERVICEPACK_LOG='" + Log() +
                                    "' ./Torvex/Torvex_Config " + arguments + " 2>'" + (dir_ / "stderr.txt") +
                                    "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Stderr() const { return test::ReadFile(dir_ / "stderr.txt"); }
    std::string Preset() const { return Plant() + "/Torvex/Torvex.mdb"; }

    test::TempDir dir_;
};

TEST_F(Program, SilentRunWritesSettingsEditRecordAndPresetDatabase) {
    std::string before = test::ReadFile(Plant() + "/parameter/Program.ini");
    before.erase(before.find("OnlyBlank4=false\r\n"), 18); // a key that the run must write again
    test::WriteFile(Plant() + "/parameter/Program.ini", before);
    ASSERT_EQ(Run("/EXTERNAL=SILENT", "-u QT_QPA_PLATFORM"), 0) << Stderr();
    EXPECT_EQ(
        test::QueryOne(Preset(), "SELECT count(*) || ' ' || min(ID) || ' ' || max(ID) FROM PRESET_DEFS"),
        "70 1 70");
    EXPECT_EQ(test::QueryOne(Preset(), "SELECT var_name FROM PRESET_DEFS WHERE ID = 36"),
              "Sachet 3_Reel_LineSpeed");
    const std::string ini = test::ReadFile(Plant() + "/parameter/Program.ini");
    EXPECT_NE(ini.find("BobbinSym3=0\r\nTensionArmWithoutSplicePosition4=false"), std::string::npos);
    EXPECT_NE(ini.find("WithoutTensionArm4=false\r\nOnlyBlank4=false\r\nBobbinMaterialSym4=0"),
              std::string::npos);
    EXPECT_NE(ini.find("[Machine3]\r\nMachineName=Sachet 3\r\nNoBobbinChanger=true\r\n"), std::string::npos);
    EXPECT_NE(ini.find("[Machine2]\r\nMachineName=Flowpack 2\r\n\r\n[Machine3]"), std::string::npos)
        << "a machine without the component is not touched";
    EXPECT_NE(test::ReadFile(Plant() + "/Torvex/Torvex.cfg").find("S_Prog=1.0.1 - Standalone\r\n"),
              std::string::npos);
    EXPECT_EQ(
        test::ReadFile(Log()),
        "Torvex_Config: 70 rows generated, 0 carried over, 0 carried over in part, 0 dropped; report: " +
            Preset() + ".report.txt\r\n")
        << "a run without a failure logs its summary, and no fault";
    EXPECT_FALSE(test::Exists(Plant() + "/HX5cfglog.txt"));
}

TEST_F(Program, TunedLimitsSurviveTheNextRun) {
    ASSERT_EQ(Run("/EXTERNAL=SILENT"), 0) << Stderr();
    test::MakeDatabase(
        Preset(), "UPDATE PRESET_DEFS SET abs_min = -42, pass = 9 WHERE var_name = 'Sachet 3_Bob1_Tension'");
    ASSERT_EQ(Run("/external=silent"), 0) << Stderr();
    EXPECT_EQ(test::QueryOne(Preset(), "SELECT abs_min || ' ' || pass FROM PRESET_DEFS WHERE var_name = "
                                       "'Sachet 3_Bob1_Tension'"),
              "-42.0 9");
}

TEST_F(Program, MissingCfgEndsWithTheServicePackLineAndWritesNothing) {
    std::filesystem::remove(Plant() + "/Torvex/Torvex.cfg");
    const std::string before = test::ReadFile(Plant() + "/parameter/Program.ini");
    EXPECT_EQ(Run("/EXTERNAL=SILENT"), 1);
    EXPECT_EQ(test::ReadFile(Log()), "! Fault Torvex_Config: File not found: \n\r" +
                                         platform::UpperCase(Plant() + "/Torvex/Torvex.cfg") + "\r\n");
    EXPECT_EQ(test::ReadFile(Plant() + "/parameter/Program.ini"), before);
    EXPECT_FALSE(test::Exists(Preset()));
}

TEST_F(Program, WindowRunWithoutDisplayEndsAtOnceSayingHowToRunSilently) {
    EXPECT_EQ(Run("", "-u QT_QPA_PLATFORM"), 2);
    const std::string message = Stderr();
    EXPECT_NE(message.find("/EXTERNAL=SILENT"), std::string::npos) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1);
    EXPECT_FALSE(test::Exists(Preset()));
}

} // namespace
