#include "support/DemoPlant.h"
#include "support/SqlHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

using namespace torvex;
using namespace std::chrono_literals;
using test::DemoPlant;
using test::RunOptions;

namespace {

class Sharing : public ::testing::Test {
protected:
    // A demo plant after its first run: its preset database holds 70 rows.
    DemoPlant Regenerated(const std::string& name) {
        DemoPlant plant(dir_ / name);
        EXPECT_EQ(plant.Run().exitStatus, 0);
        return plant;
    }
    std::string Log(const DemoPlant& plant) { return test::ReadFile(plant.ServicePackLog()); }
    test::TempDir dir_;
};

// Another program (the machine's runtime) that takes the preset database's
// write lock, changes a tuned value and commits `delay` later. Returns once
// it holds the lock; the process ends after its commit.
pid_t HoldAndCommit(const std::string& preset, std::chrono::milliseconds delay) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        sqlite3* db = nullptr;
        if (sqlite3_open(preset.c_str(), &db) != SQLITE_OK ||
            sqlite3_exec(db, "BEGIN IMMEDIATE; UPDATE PRESET_DEFS SET max = 123 WHERE ID = 1", nullptr,
                         nullptr, nullptr) != SQLITE_OK)
            ::_exit(2);
        (void)!::write(ready[1], "x", 1);
        std::this_thread::sleep_for(delay);
        const int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        ::_exit(rc == SQLITE_OK ? 0 : 3);
    }
    char c;
    EXPECT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    return pid;
}

TEST_F(Sharing, AValueTheRuntimeCommitsDuringARunIsNeverLost) {
    // Committed before the old rows are read, while the run works, and while
    // it waits to put the new content in.
    for (const auto delay : {0ms, 150ms, 1000ms}) {
        SCOPED_TRACE(delay.count());
        const DemoPlant plant = Regenerated("commit-" + std::to_string(delay.count()));
        test::SetIniEntry(plant.ProgramIni(), "Project", "VWStudio",
                          "true"); // the run has new names to write
        const pid_t writer = HoldAndCommit(plant.Preset(), delay);
        const auto result = plant.Run();
        int status = 0;
        ::waitpid(writer, &status, 0);
        ASSERT_EQ(WEXITSTATUS(status), 0) << "the other program's commit";
        EXPECT_EQ(test::QueryOne(plant.Preset(), "SELECT max FROM PRESET_DEFS WHERE ID = 1"), "123.0")
            << Log(plant);
        if (result.exitStatus == 0) // published: the new names, the value carried over
            EXPECT_NE(test::QueryOne(plant.Preset(), "SELECT var_name FROM PRESET_DEFS WHERE ID = 1")
                          .find(".Reel."),
                      std::string::npos);
        else
            EXPECT_NE(Log(plant).find("was left unchanged"), std::string::npos) << Log(plant);
    }
}

TEST_F(Sharing, ALockThatCannotBeTakenChangesNothing) {
    struct Case {
        const char* lock;   // relative to the plant
        const char* target; // what the link at the lock path points to
        const char* said;
    } const cases[] = {
        {"Torvex/Torvex.lock", "/dev/null", "cannot take the plant's lock"},
        {"Torvex/Torvex.lock", "/nonexistent/elsewhere", "cannot take the plant's lock"},
        {"parameter/Program.ini.lock", "/dev/null", "Program.ini\" is not written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lock + std::string(" -> ") + c.target);
        const DemoPlant plant = Regenerated("lock-" + std::to_string(&c - cases));
        test::SetIniEntry(plant.ProgramIni(), "Machine1", "Bobbin1", "TRUE"); // to be written anew
        const std::string lock = plant.P() + "/" + c.lock;
        std::filesystem::remove(lock);
        ASSERT_EQ(::symlink(c.target, lock.c_str()), 0);
        const std::string ini = test::ReadFile(plant.ProgramIni());
        EXPECT_EQ(plant.Run().exitStatus, 1);
        EXPECT_NE(Log(plant).find(c.said), std::string::npos) << Log(plant);
        EXPECT_NE(Log(plant).find(lock), std::string::npos) << "the message names the lock file";
        EXPECT_EQ(test::ReadFile(plant.ProgramIni()), ini);
    }
}

TEST_F(Sharing, EveryMachineSwitchedOffOnPurposeEmptiesThePresetTable) {
    const DemoPlant plant = Regenerated("off");
    test::WriteFile(plant.Cfg(),
                    "[Project]\r\nForMachine1=false\r\nForMachine2=False\r\nForMachine3=false\r\n");
    EXPECT_EQ(plant.Run().exitStatus, 0) << Log(plant);
    EXPECT_EQ(test::QueryOne(plant.Preset(), "SELECT count(*) FROM PRESET_DEFS"), "0");
    EXPECT_EQ(test::QueryOne(plant.Preset() + ".bak", "SELECT count(*) FROM PRESET_DEFS"), "70");
    EXPECT_NE(test::ReadFile(plant.Preset() + ".report.txt").find("dropped rows, whole or in part (70)"),
              std::string::npos);
    // Without any flag the machine list was not read as meant: nothing is published.
    const DemoPlant unread = Regenerated("no-flag");
    test::WriteFile(unread.Cfg(), "[Project]\r\nDataBaseAdditionalFields=\r\n");
    EXPECT_EQ(unread.Run().exitStatus, 1);
    EXPECT_EQ(test::QueryOne(unread.Preset(), "SELECT count(*) FROM PRESET_DEFS"), "70");
    // A flag that says neither true nor false is no machine switched off on purpose.
    const DemoPlant unclear = Regenerated("unclear-flag");
    test::WriteFile(unclear.Cfg(),
                    "[Project]\r\nForMachine1=false\r\nForMachine2=1\r\nForMachine3=false\r\n");
    EXPECT_EQ(unclear.Run().exitStatus, 1);
    EXPECT_EQ(test::QueryOne(unclear.Preset(), "SELECT count(*) FROM PRESET_DEFS"), "70");
}

// Every file of the plant's folders, with the group it must keep.
void ExpectGroupKept(const std::string& p, gid_t group) {
    for (const char* folder : {"/Torvex", "/parameter"})
        for (const auto& entry : std::filesystem::directory_iterator(p + folder)) {
            struct stat st {};
            ::lstat(entry.path().c_str(), &st);
            if (!S_ISREG(st.st_mode) || entry.path().filename() == "Torvex_Config")
                continue;
            EXPECT_EQ(st.st_gid, group) << entry.path();
            EXPECT_TRUE(st.st_mode & S_IWGRP) << entry.path();
        }
}

TEST_F(Sharing, TwoUsersOfThePlantsGroupTakeTurns) {
    if (!test::RunningAsRoot())
        GTEST_SKIP() << "needs root to act as two users";
    constexpr uid_t kOwner = 41000, kFirst = 41001, kSecond = 41002;
    constexpr gid_t kPlantGroup = 42000;
    DemoPlant plant(dir_ / "group");
    ::chmod(dir_.Path().c_str(), 0755);
    test::WriteFile(plant.ServicePackLog(), "");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(plant.P())) {
        ::chown(entry.path().c_str(), kOwner, kPlantGroup);
        ::chmod(entry.path().c_str(), entry.is_directory() ? 0775 : 0664);
    }
    ::chown(plant.P().c_str(), kOwner, kPlantGroup);
    ::chmod(plant.P().c_str(), 0775);
    ::chmod((plant.P() + "/Torvex/Torvex_Config").c_str(), 0775);
    ::chmod(plant.ServicePackLog().c_str(), 0666);
    for (int turn = 0; turn < 4; ++turn) {
        SCOPED_TRACE(turn);
        // Something to write each time: names of the other scheme, a setting to normalise.
        test::SetIniEntry(plant.ProgramIni(), "Project", "VWStudio", turn % 2 ? "false" : "true");
        test::SetIniEntry(plant.ProgramIni(), "Machine1", "Bobbin1", "TRUE");
        RunOptions options;
        const uid_t user = turn % 2 ? kSecond : kFirst;
        options.as = RunOptions::User{user, user, {kPlantGroup}};
        const auto result = plant.Run(options);
        EXPECT_EQ(result.exitStatus, 0) << Log(plant) << result.errors;
        ExpectGroupKept(plant.P(), kPlantGroup);
    }
    EXPECT_EQ(test::QueryOne(plant.Preset(), "SELECT count(*) FROM PRESET_DEFS"), "70");
}

} // namespace
