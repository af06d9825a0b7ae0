#include "platform/FileLock.h"
#include "platform/IniDocument.h"
#include "platform/IniProfile.h"
#include "support/DemoPlant.h"
#include "support/SqlHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

using namespace torvex;
using namespace std::chrono_literals;
using test::DemoPlant;
using test::RunOptions;

namespace {

std::vector<std::string> TempFiles(const std::string& plant) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(plant))
        if (entry.path().filename().string().starts_with(".torvex-tmp-"))
            found.push_back(entry.path());
    return found;
}

class SharedPlant : public ::testing::Test {
protected:
    // A plant whose settings and language file every run has to write.
    DemoPlant Fresh(const std::string& name) {
        DemoPlant plant(dir_ / name);
        auto ini = platform::IniDocument::Parse(
            "[Project]\r\nNumberOfMachines=3\r\n[Machine1]\r\nMachineName=Flowpack "
            "1\r\n[Machine2]\r\nMachineName=Flowpack 2\r\n[Machine3]\r\n"
            "MachineName=Sachet 3\r\n");
        test::WriteFile(plant.ProgramIni(), ini.Serialize());
        std::filesystem::remove(plant.P() + "/Torvex/Torvex_Config.ini");
        return plant;
    }

    // No key lost, no file torn.
    void ExpectWhole(const DemoPlant& plant, const std::string& languageFile, const std::string& where) {
        SCOPED_TRACE(where);
        const auto ini = platform::IniDocument::Parse(test::ReadFile(plant.ProgramIni()));
        for (const char* machine : {"Machine1", "Machine3"})
            for (const auto& key : test::MachineKeys())
                EXPECT_TRUE(ini.Find(machine, key).has_value()) << machine << " " << key;
        EXPECT_EQ(ini.Find("Machine2", "MachineName"), "Flowpack 2");
        EXPECT_FALSE(ini.Find("Machine2", "Bobbin1").has_value());
        EXPECT_EQ(test::ReadFile(plant.P() + "/Torvex/Torvex_Config.ini"), languageFile);
        EXPECT_EQ(test::QueryOne(plant.Preset(), "PRAGMA integrity_check"), "ok");
        EXPECT_EQ(test::QueryOne(plant.Preset(), "SELECT count(*) FROM PRESET_DEFS"), "70");
        EXPECT_TRUE(TempFiles(plant.P()).empty());
    }

    test::TempDir dir_;
};

TEST_F(SharedPlant, ConcurrentSilentRunsLoseNoKeyAndTearNoDatabase) {
    const DemoPlant reference = Fresh("reference");
    ASSERT_EQ(reference.Run().exitStatus, 0);
    const std::string languageFile = test::ReadFile(reference.P() + "/Torvex/Torvex_Config.ini");
    constexpr int kRounds = 100;
    for (int round = 0; round < kRounds; ++round) {
        const std::string name = "round" + std::to_string(round);
        const DemoPlant plant = Fresh(name);
        const int runs = 2 + round % 2; // pairs and triples
        std::vector<DemoPlant::Started> started;
        for (int i = 0; i < runs; ++i)
            started.push_back(plant.Start());
        for (const auto& run : started) {
            const auto result = plant.Wait(run);
            EXPECT_EQ(result.exitStatus, 0) << result.errors << test::ReadFile(plant.ServicePackLog());
        }
        ExpectWhole(plant, languageFile, name);
        std::filesystem::remove_all(plant.P());
    }
}

TEST_F(SharedPlant, AnotherComponentWritingTheSameProgramIniLosesNothing) {
    const DemoPlant plant = Fresh("plant");
    // The other component writes its own keys through the same ini layer.
    const pid_t other = ::fork();
    if (other == 0) {
        platform::IniProfile ini;
        for (int i = 0; i < 300; ++i)
            if (!ini.WriteString(plant.ProgramIni(), "Machine2", "Other" + std::to_string(i),
                                 std::to_string(i)))
                ::_exit(1);
        ::_exit(0);
    }
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(plant.Run().exitStatus, 0);
    int status = 0;
    ::waitpid(other, &status, 0);
    EXPECT_EQ(status, 0) << "the other component's writes failed";
    const auto ini = platform::IniDocument::Parse(test::ReadFile(plant.ProgramIni()));
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(ini.Find("Machine2", "Other" + std::to_string(i)), std::to_string(i)) << i;
    for (const auto& key : test::MachineKeys())
        EXPECT_TRUE(ini.Find("Machine3", key).has_value()) << key;
}

TEST_F(SharedPlant, ASecondRunWaitsForThePlantAndTheWaitIsBounded) {
    const DemoPlant plant = Fresh("plant");
    platform::FileLock held;
    ASSERT_EQ(held.Acquire(plant.P() + "/Torvex/Torvex.lock", 0ms), platform::FileLock::Result::Locked);
    const auto run = plant.Start();
    std::this_thread::sleep_for(700ms);
    EXPECT_FALSE(test::Exists(plant.Preset())) << "nothing is written while another run holds the plant";
    held.Release();
    EXPECT_EQ(plant.Wait(run).exitStatus, 0);
    EXPECT_EQ(test::QueryOne(plant.Preset(), "SELECT count(*) FROM PRESET_DEFS"), "70");
}

TEST_F(SharedPlant, ASignalEndsTheRunAtASafePointWithoutLitter) {
    DemoPlant pristine(dir_ / "pristine");
    pristine.GrowTemplate(3000);
    ASSERT_EQ(pristine.Run().exitStatus, 0);
    const std::string oldRows = test::QueryOne(pristine.Preset(), "SELECT count(*) FROM PRESET_DEFS");
    const std::string oldPreset = test::ReadFile(pristine.Preset());
    const auto full = pristine.Run();
    constexpr int kPoints = 24;
    int ended = 0;
    for (int i = 0; i < kPoints; ++i) {
        const std::string work = dir_ / "work";
        std::filesystem::remove_all(work);
        std::filesystem::copy(pristine.P(), work, std::filesystem::copy_options::recursive);
        test::WriteFile(pristine.P() + "/../work/Torvex/Torvex.mdb", oldPreset);
        const DemoPlant plant = DemoPlant::At(work);
        RunOptions options;
        options.killAfter = std::chrono::microseconds(static_cast<long>(full.seconds * 1.1e6 * i / kPoints));
        options.signal = std::vector{SIGTERM, SIGINT, SIGHUP}[static_cast<std::size_t>(i % 3)];
        const auto result = plant.Run(options);
        SCOPED_TRACE("signal after " + std::to_string(options.killAfter->count()) + " us");
        ASSERT_NE(result.exitStatus, -1) << "the signal must not kill the run";
        if (result.exitStatus == 1) {
            ++ended;
            // Before the start mode is known, the line goes to the error log.
            EXPECT_NE((test::ReadFile(plant.ServicePackLog()) + test::ReadFile(plant.ErrorLog()))
                          .find("Ended by SIG"),
                      std::string::npos);
        }
        EXPECT_TRUE(TempFiles(plant.P()).empty());
        EXPECT_EQ(test::QueryOne(plant.Preset(), "PRAGMA integrity_check"), "ok");
        EXPECT_EQ(test::QueryOne(plant.Template(), "PRAGMA integrity_check"), "ok");
        EXPECT_EQ(test::QueryOne(plant.Preset(), "SELECT count(*) FROM PRESET_DEFS"), oldRows);
        const auto ini = platform::IniDocument::Parse(test::ReadFile(plant.ProgramIni()));
        EXPECT_EQ(ini.Find("Project", "NumberOfMachines"), "3");
    }
    EXPECT_GE(ended, kPoints / 3) << "most signals must have reached a run that was still working";
}

TEST_F(SharedPlant, TemporaryFilesOfKilledRunsAreRemoved) {
    const DemoPlant plant = Fresh("plant");
    for (const char* folder : {"/Torvex/", "/parameter/"})
        test::WriteFile(plant.P() + folder + ".torvex-tmp-killed", "left by a killed run");
    // A linked Program.ini is replaced in its target's folder, and so is
    // what a killed run left there.
    const std::string shared = dir_ / "shared";
    std::filesystem::create_directory(shared);
    std::filesystem::rename(plant.ProgramIni(), shared + "/Program.ini");
    std::filesystem::create_symlink(shared + "/Program.ini", plant.ProgramIni());
    test::WriteFile(shared + "/.torvex-tmp-killed", "left by a killed run");
    ASSERT_EQ(plant.Run().exitStatus, 0);
    EXPECT_TRUE(TempFiles(plant.P()).empty());
    EXPECT_TRUE(TempFiles(shared).empty());
}

TEST_F(SharedPlant, SpecialFilesNeitherHangNorGetClobbered) {
    const DemoPlant plant = Fresh("plant");
    ASSERT_EQ(plant.Run().exitStatus, 0);
    // Logs that are FIFOs: the run goes on and says so on standard error.
    std::filesystem::remove(plant.ServicePackLog());
    ASSERT_EQ(::mkfifo(plant.ServicePackLog().c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(plant.ErrorLog().c_str(), 0600), 0);
    const std::string language = plant.P() + "/Torvex/Torvex_Config.ini";
    std::filesystem::remove(language);
    ASSERT_EQ(::mkfifo(language.c_str(), 0600), 0);
    auto result = plant.Run();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(std::filesystem::is_fifo(language)) << "never replaced by a regular file";
    EXPECT_NE(result.errors.find("Torvex_Config.ini\" cannot be read as an ini file: it is a FIFO"),
              std::string::npos)
        << result.errors;
    EXPECT_NE(result.errors.find(plant.ServicePackLog() + ": it is a FIFO"), std::string::npos);

    // A symbolic link is written through; a link to a device is left alone.
    std::filesystem::remove(language);
    std::filesystem::create_symlink("/dev/zero", language);
    const std::string shared = dir_ / "shared.ini";
    std::filesystem::rename(plant.ProgramIni(), shared);
    std::filesystem::create_symlink(shared, plant.ProgramIni());
    test::SetIniEntry(shared, "Machine1", "Bobbin1", "TRUE");
    result = plant.Run();
    EXPECT_TRUE(std::filesystem::is_symlink(plant.ProgramIni()));
    EXPECT_TRUE(std::filesystem::is_symlink(language));
    EXPECT_EQ(platform::IniDocument::Parse(test::ReadFile(shared)).Find("Machine1", "Bobbin1"), "true");
}

TEST_F(SharedPlant, ADisplayThatCannotBeReachedIsOneLineAndASilentRunNeedsNone) {
    const DemoPlant plant = Fresh("plant");
    RunOptions window;
    window.arguments = "";
    window.environment = {{"DISPLAY", ":97"}, {"XDG_RUNTIME_DIR", ""}};
    auto result = plant.Run(window);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.errors,
              "Torvex_Config: no display to open the window on; to configure without a window run "
              "it with /EXTERNAL=SILENT\n");
    RunOptions silent;
    silent.environment = {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":97"}, {"XDG_RUNTIME_DIR", ""}};
    result = plant.Run(silent);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.errors, "") << "nothing of Qt's in a silent run";
}

// A window run started without a login session (no XDG_RUNTIME_DIR, as from a
// root shell or a service) prints nothing of Qt's either; the start trace ends
// it after the first painted frame.
TEST_F(SharedPlant, AWindowRunWithoutALoginSessionPrintsNothingOfQts) {
    const DemoPlant plant = Fresh("plant");
    RunOptions window;
    window.arguments = "";
    window.environment = {
        {"QT_QPA_PLATFORM", "offscreen"}, {"XDG_RUNTIME_DIR", ""}, {"TORVEX_STARTUP_TRACE", "1"}};
    const auto result = plant.Run(window);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_TRUE(result.errors.starts_with("first frame painted after ")) << result.errors;
    EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << result.errors;
}

} // namespace
