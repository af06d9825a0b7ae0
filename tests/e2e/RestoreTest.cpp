#include "support/DemoPlant.h"
#include "support/SqlHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

using namespace torvex;
using test::DemoPlant;
using test::RunOptions;

namespace {

const std::string kAllRows = "SELECT * FROM PRESET_DEFS ORDER BY rowid";

RunOptions Restore(const std::string& more = "") {
    RunOptions options;
    options.arguments = "/EXTERNAL=SILENT /RESTORE" + more;
    return options;
}

// Every file of the plant but the service-pack log, with its bytes.
std::map<std::string, std::string> Files(const DemoPlant& plant) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(plant.P()))
        if (entry.path() != plant.ServicePackLog())
            files[entry.path()] = entry.is_regular_file() ? test::ReadFile(entry.path()) : "(folder)";
    return files;
}

class Restoring : public ::testing::Test {
protected:
    // A plant whose last regeneration (a switch of the naming scheme) dropped
    // the tuned values of four rows: its backup still has them.
    void SetUp() override {
        plant_.TuneUnderStudioNames();
        tuned_ = test::Query(plant_.Preset(), kAllRows);
        test::SetIniEntry(plant_.ProgramIni(), "Project", "VWStudio", "false");
        ASSERT_EQ(plant_.Run().exitStatus, 0);
        regenerated_ = test::Query(plant_.Preset(), kAllRows);
        ASSERT_NE(regenerated_, tuned_);
        ASSERT_EQ(test::Query(Bak(), kAllRows), tuned_);
    }
    std::string Bak() const { return plant_.Preset() + ".bak"; }

    test::TempDir dir_;
    DemoPlant plant_{dir_ / "plant"};
    std::vector<std::vector<std::string>> tuned_, regenerated_;
    RunOptions options_;
};

TEST_F(Restoring, BringsTheDroppedRowsBackWhileAReaderHoldsTheDatabaseAndASecondRestoreUndoesIt) {
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open(plant_.Preset().c_str(), &reader), SQLITE_OK);
    const auto count = [&](const char* sql) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(reader, sql, -1, &stmt, nullptr);
        const int n = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : -1;
        sqlite3_finalize(stmt);
        return n;
    };
    const char* tunedRows = "SELECT count(*) FROM PRESET_DEFS WHERE abs_min >= 1000";
    ASSERT_EQ(count(tunedRows), 66);
    struct stat before {};
    ::stat(plant_.Preset().c_str(), &before);
    const auto configuration = Files(plant_);

    const auto result = plant_.Run(Restore());
    EXPECT_EQ(result.exitStatus, 0) << result.errors << test::ReadFile(plant_.ServicePackLog());
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(count(tunedRows), 70) << "the reader sees the whole restored content";
    sqlite3_close(reader);
    EXPECT_EQ(test::Query(plant_.Preset(), kAllRows), tuned_);
    EXPECT_EQ(test::Query(Bak(), kAllRows), regenerated_);
    EXPECT_EQ(test::QueryOne(plant_.Preset(), "PRAGMA integrity_check"), "ok");
    struct stat after {};
    ::stat(plant_.Preset().c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the content went into the existing file";
    // Nothing but the database, its backup and the report changed.
    auto changed = Files(plant_), expected = configuration;
    for (const char* suffix : {"", ".bak", ".report.txt"}) {
        changed.erase(plant_.Preset() + suffix);
        expected.erase(plant_.Preset() + suffix);
    }
    EXPECT_TRUE(changed == expected) << "a restore touches no other file";
    const std::string report = test::ReadFile(plant_.Preset() + ".report.txt");
    EXPECT_TRUE(report.starts_with("Restore of the preset database\n")) << report;
    EXPECT_NE(report.find("its content is a restore of: \"" + Bak() + "\", last written "),
              std::string::npos);
    const std::string log = test::ReadFile(plant_.ServicePackLog());
    EXPECT_NE(log.find("Torvex_Config: the preset database \"" + plant_.Preset() + "\" was restored from \"" +
                       Bak() + "\", last written "),
              std::string::npos)
        << log;

    ASSERT_EQ(plant_.Run(Restore()).exitStatus, 0);
    EXPECT_EQ(test::Query(plant_.Preset(), kAllRows), regenerated_);
    EXPECT_EQ(test::Query(Bak(), kAllRows), tuned_);
}

// The rows of the preview's table of differing rows, each as its cells.
std::vector<std::vector<std::string>> PreviewRows(const std::string& output) {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line) && !line.starts_with("machine_type\tvar_name\toffset_or_bitno\t")) {
    }
    std::vector<std::vector<std::string>> rows;
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::istringstream fields(line + "\t");
        for (std::string cell; std::getline(fields, cell, '\t');)
            cells.push_back(cell);
        EXPECT_EQ(cells.size(), 14u) << line;
        rows.push_back(cells);
    }
    return rows;
}

TEST_F(Restoring, APreviewListsExactlyTheDifferingRowsAndChangesNothing) {
    // A backup that differs from the current content in a few known rows.
    std::filesystem::copy_file(plant_.Preset(), Bak(), std::filesystem::copy_options::overwrite_existing);
    test::MakeDatabase(Bak(), "UPDATE PRESET_DEFS SET abs_max = 12345 WHERE ID IN (1, 2);"
                              "DELETE FROM PRESET_DEFS WHERE ID = 3;"
                              "INSERT INTO PRESET_DEFS (ID, machine_type, var_name, offset_or_bitno, min) "
                              "VALUES (99999, 'Sachet 3', 'extra', 4, 1.5)");
    test::MakeDatabase(plant_.Preset(), "UPDATE PRESET_DEFS SET pass = 9 WHERE ID = 4");
    const auto row = [&](int id, const char* what) {
        auto keys = test::Query(plant_.Preset(), "SELECT machine_type, var_name, offset_or_bitno FROM "
                                                 "PRESET_DEFS WHERE ID = " +
                                                     std::to_string(id))
                        .at(0);
        keys.push_back(what);
        return keys;
    };
    // The backup's rows in its order, then those only the current content has.
    const std::vector<std::vector<std::string>> expected = {row(1, "changed"),
                                                            row(2, "changed"),
                                                            row(4, "changed"),
                                                            {"Sachet 3", "extra", "4", "only in the backup"},
                                                            row(3, "only now")};

    const auto files = Files(plant_);
    const auto result = plant_.Run(Restore(" /PREVIEW"));
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_TRUE(Files(plant_) == files) << "a preview changes nothing";
    const auto rows = PreviewRows(result.output);
    std::vector<std::vector<std::string>> listed;
    for (const auto& cells : rows)
        listed.push_back({cells[0], cells[1], cells[2], cells[13]});
    EXPECT_EQ(listed, expected) << result.output;
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0][9], "12345") << "the restored abs_max";
    EXPECT_EQ(rows[3][10], "1.5") << "the restored min";
    EXPECT_EQ(rows[2][7], "9") << "the current pass";
    // abs_max of rows 1 and 2, pass of row 4, the values of row 3, min of the new row
    const int row3Values = std::stoi(test::QueryOne(
        plant_.Preset(), "SELECT (abs_min IS NOT NULL) + (abs_max IS NOT NULL) + (min IS NOT NULL) + "
                         "(max IS NOT NULL) + (pass IS NOT NULL) FROM PRESET_DEFS WHERE ID = 3"));
    EXPECT_NE(result.output.find("tuned values (abs_min, abs_max, min, max, pass) that differ: " +
                                 std::to_string(3 + row3Values + 1) + "\n"),
              std::string::npos)
        << result.output;
    options_.arguments = "/PREVIEW /EXTERNAL=SILENT/restore";
    EXPECT_EQ(plant_.Run(options_).output, result.output) << "keys in any order, with or without blanks";
}

TEST_F(Restoring, EveryRefusalLeavesEveryFileAsItWas) {
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* why;
        int exitStatus = 1;
    };
    const std::string lock = plant_.P() + "/Torvex/Torvex.lock";
    const Case cases[] = {
        {"no backup", [&] { std::filesystem::remove(Bak()); }, "there is no backup"},
        {"a backup cut short",
         [&] { std::filesystem::resize_file(Bak(), std::filesystem::file_size(Bak()) / 2); },
         "the backup \""},
        {"a backup that is no database", [&] { test::WriteFile(Bak(), std::string(4096, 'x')); },
         "is no whole database"},
        {"a backup without the preset table", [&] { test::MakeDatabase(Bak(), "DROP TABLE PRESET_DEFS"); },
         "has no table PRESET_DEFS"},
        {"a lock that cannot be had",
         [&] {
             std::filesystem::remove(lock);
             std::filesystem::create_directory(lock);
         },
         "cannot take the plant's lock"},
        {"no silent run", [] {}, "", 2},
    };
    std::filesystem::copy(plant_.P(), dir_ / "pristine", std::filesystem::copy_options::recursive);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(plant_.P());
        std::filesystem::copy(dir_ / "pristine", plant_.P(), std::filesystem::copy_options::recursive);
        std::filesystem::remove(plant_.ServicePackLog());
        c.make();
        const auto files = Files(plant_);
        RunOptions options = Restore();
        if (c.exitStatus == 2)
            options.arguments = "/RESTORE";
        const auto result = plant_.Run(options);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.errors;
        EXPECT_TRUE(Files(plant_) == files);
        const std::string log = test::ReadFile(plant_.ServicePackLog());
        EXPECT_NE(log.find(c.why), std::string::npos) << log;
        if (c.exitStatus == 1) {
            EXPECT_NE(log.find("Nothing was"), std::string::npos) << log;
        }
    }
}

} // namespace
