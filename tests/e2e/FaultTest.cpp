#include "platform/IniDocument.h"
#include "platform/Text.h"
#include "support/DemoPlant.h"
#include "support/SqlHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

using namespace torvex;
using namespace std::chrono_literals;
using test::DemoPlant;
using test::RunOptions;

namespace {

// Every file the program manages is either as before or completely new.
void ExpectIntact(const DemoPlant& plant, const std::set<std::string>& rowCounts, const std::string& where) {
    SCOPED_TRACE(where);
    EXPECT_EQ(test::QueryOne(plant.Preset(), "PRAGMA integrity_check"), "ok");
    EXPECT_TRUE(rowCounts.count(test::QueryOne(plant.Preset(), "SELECT count(*) FROM PRESET_DEFS")));
    const auto ini = platform::IniDocument::Parse(test::ReadFile(plant.ProgramIni()));
    EXPECT_EQ(ini.Find("Project", "NumberOfMachines"), "3");
    EXPECT_EQ(ini.Find("Machine2", "MachineName"), "Flowpack 2");
    for (const char* machine : {"Machine1", "Machine3"})
        for (const auto& key : test::MachineKeys()) {
            const auto value = ini.Find(machine, key);
            ASSERT_TRUE(value.has_value()) << machine << " " << key;
            const bool valid =
                *value == "true" || *value == "false" ||
                (!value->empty() && value->find_first_not_of("0123456789") == std::string::npos);
            EXPECT_TRUE(valid) << machine << " " << key << "=" << *value;
        }
    const auto cfg = platform::IniDocument::Parse(test::ReadFile(plant.Cfg()));
    EXPECT_EQ(cfg.Find("Project", "ForMachine3"), "true");
    EXPECT_EQ(cfg.Find("Project", "ValidMachines"), "1,3");
}

class Faults : public ::testing::Test {
protected:
    test::TempDir dir_;
};

TEST_F(Faults, AKilledRunNeverLeavesAHalfWrittenFile) {
    // The plant before the run: an old preset database, and a template that
    // now generates more rows than the old file has.
    DemoPlant pristine(dir_ / "pristine");
    pristine.GrowTemplate(3000);
    ASSERT_EQ(pristine.Run().exitStatus, 0);
    const std::string oldRows = test::QueryOne(pristine.Preset(), "SELECT count(*) FROM PRESET_DEFS");
    pristine.GrowTemplate(3500);
    const auto fresh = [&] {
        const std::string work = dir_ / "work";
        std::filesystem::remove_all(work);
        std::filesystem::copy(pristine.P(), work, std::filesystem::copy_options::recursive);
        return DemoPlant::At(work);
    };
    // The kill points spread over the run's length: the shortest of three
    // whole runs, so that a slow first one on a busy machine does not leave
    // most of them after the end.
    double seconds = 1e9;
    for (int i = 0; i < 3; ++i) {
        const auto full = fresh().Run();
        ASSERT_EQ(full.exitStatus, 0) << full.errors;
        seconds = std::min(seconds, full.seconds);
    }
    const std::string newRows =
        test::QueryOne(dir_ / "work/Torvex/Torvex.mdb", "SELECT count(*) FROM PRESET_DEFS");
    ASSERT_NE(oldRows, newRows);

    constexpr int kPoints = 30;
    int killed = 0;
    for (int i = 0; i < kPoints; ++i) {
        const DemoPlant plant = fresh();
        const auto delay = std::chrono::microseconds(static_cast<long>(seconds * 1.2e6 * i / kPoints));
        RunOptions options;
        options.killAfter = delay;
        killed += plant.Run(options).exitStatus == -1;
        ExpectIntact(plant, {oldRows, newRows}, "killed after " + std::to_string(delay.count()) + " us");
    }
    EXPECT_GE(killed, kPoints / 3) << "a good part of the runs must really have been interrupted";
    RecordProperty("kill_points", kPoints);
    RecordProperty("killed_runs", killed);
}

TEST_F(Faults, ALockedPresetDatabaseIsReportedWithinSecondsAndKeptAsItWas) {
    DemoPlant plant(dir_ / "plant");
    ASSERT_EQ(plant.Run().exitStatus, 0);
    const std::string before = test::ReadFile(plant.Preset());
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(plant.Preset().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto result = plant.Run();
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_LT(result.seconds, 10.0);
    EXPECT_EQ(result.exitStatus, 1);
    const std::string log = test::ReadFile(plant.ServicePackLog());
    EXPECT_NE(log.find("database is locked: " + plant.Preset()), std::string::npos) << log;
    EXPECT_NE(log.find("was left unchanged"), std::string::npos) << log;
    EXPECT_TRUE(test::ReadFile(plant.Preset()) == before) << "the preset database was changed";
}

TEST_F(Faults, NoSpaceLeftIsReportedAndTheOldFilesStay) {
    DemoPlant plant(dir_ / "plant");
    plant.GrowTemplate(400);
    ASSERT_EQ(plant.Run().exitStatus, 0);
    const std::string preset = test::ReadFile(plant.Preset());
    plant.GrowTemplate(4000); // the work table now outgrows the limit below
    RunOptions options;
    options.fileSizeLimit = static_cast<long>(std::filesystem::file_size(plant.Template())) + 4096;
    const auto result = plant.Run(options);
    EXPECT_EQ(result.exitStatus, 1) << result.errors;
    EXPECT_NE(test::ReadFile(plant.ErrorLog()).find("Fehler in Torvex / SQLite / "), std::string::npos);
    EXPECT_TRUE(test::ReadFile(plant.Preset()) == preset) << "the preset database was changed";
    EXPECT_NE(test::ReadFile(plant.ServicePackLog()).find("was left unchanged"), std::string::npos);
    ExpectIntact(plant, {test::QueryOne(plant.Preset(), "SELECT count(*) FROM PRESET_DEFS")}, "no space");

    // No room even for the work copy: the report names the copy, not the template.
    options.fileSizeLimit = 4096;
    EXPECT_EQ(plant.Run(options).exitStatus, 1);
    EXPECT_NE(test::ReadFile(plant.ErrorLog()).find("a copy of " + plant.Template() + " in "),
              std::string::npos);
    EXPECT_TRUE(test::ReadFile(plant.Preset()) == preset) << "the preset database was changed";
}

struct ReadOnlyCase {
    const char* name;
    const char* file; // relative to the plant
    const char* expectedReport;
    const char* staleSection = ""; // an entry the run has to write anew, in the file
    const char* staleKey = "";
};

class ReadOnly : public Faults, public ::testing::WithParamInterface<ReadOnlyCase> {};

TEST_P(ReadOnly, NothingIsReportedAsSavedThatWasNot) {
    DemoPlant plant(dir_ / "plant");
    ASSERT_EQ(plant.Run().exitStatus, 0);
    plant.HandToUnprivilegedUser();
    const std::string target = plant.P() + "/" + GetParam().file;
    const bool folder = std::filesystem::is_directory(target);
    if (*GetParam().staleKey) {
        auto ini = platform::IniDocument::Parse(test::ReadFile(target));
        // The same value with a leading zero: read the same, but written anew.
        ini.Set(GetParam().staleSection, GetParam().staleKey,
                "0" + ini.Find(GetParam().staleSection, GetParam().staleKey).value_or(""));
        test::WriteFile(target, ini.Serialize());
    }
    ::chmod(target.c_str(), folder ? 0555 : 0444);
    std::string before;
    if (!folder)
        before = test::ReadFile(target);
    const std::string preset = test::ReadFile(plant.Preset());
    RunOptions options;
    options.unprivileged = true;
    const auto result = plant.Run(options);
    ::chmod(target.c_str(), folder ? 0755 : 0644);
    if (!folder) {
        EXPECT_EQ(test::ReadFile(target), before);
    }
    const std::string log = test::ReadFile(plant.ServicePackLog());
    if (*GetParam().expectedReport) {
        EXPECT_EQ(result.exitStatus, 1) << log;
        EXPECT_NE(log.find(GetParam().expectedReport), std::string::npos) << log;
    } else {
        EXPECT_EQ(result.exitStatus, 0) << log;
    }
    if (folder) {
        EXPECT_TRUE(test::ReadFile(plant.Preset()) == preset) << "the preset database was changed";
    }
    ExpectIntact(plant, {test::QueryOne(plant.Preset(), "SELECT count(*) FROM PRESET_DEFS")},
                 GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Files, ReadOnly,
                         ::testing::Values(ReadOnlyCase{"ProgramIni", "parameter/Program.ini",
                                                        "The settings of machines 1, 3 were not saved",
                                                        "Machine1", "BobbinSym1"},
                                           ReadOnlyCase{"ComponentConfiguration", "Torvex/Torvex.cfg",
                                                        "The edit record was not saved", "Info", "S_Prog"},
                                           ReadOnlyCase{"LanguageFile", "Torvex/Torvex_Config.ini", ""},
                                           ReadOnlyCase{"ComponentFolder", "Torvex", "was left unchanged"}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
