#include "platform/IniDocument.h"
#include "support/DemoPlant.h"
#include "support/SqlHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <utility>

using namespace torvex;
using test::DemoPlant;

namespace {

using Row = std::vector<std::string>;

// An excel-tab reader, as Python's csv module reads: a cell that starts
// with a quote runs to the closing quote, "" inside it is one quote.
std::vector<Row> ReadExcelTab(std::string_view text) {
    std::vector<Row> rows;
    Row row;
    std::string cell;
    bool quoted = false, started = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"')
                cell += c;
            else if (i + 1 < text.size() && text[i + 1] == '"')
                cell += text[++i];
            else
                quoted = false;
        } else if (c == '"' && !started) {
            quoted = started = true;
        } else if (c == '\t' || c == '\n') {
            row.push_back(std::exchange(cell, {}));
            started = false;
            if (c == '\n')
                rows.push_back(std::exchange(row, {}));
        } else {
            cell += c;
            started = true;
        }
    }
    return rows;
}

// The rows of the report's table of dropped rows: machine_type, var_name,
// offset_or_bitno and abs_min of each.
std::vector<Row> DroppedRows(const std::string& report) {
    const auto table = report.find("machine_type\tvar_name\t");
    const auto lines = table == std::string::npos ? std::vector<Row>() : ReadExcelTab(report.substr(table));
    std::vector<Row> rows;
    for (std::size_t i = 1; i < lines.size(); ++i) // below the header
        rows.push_back(
            {lines[i].at(0), lines[i].at(1), lines[i].at(2), std::to_string(std::stoi(lines[i].at(3)))});
    return rows;
}

class Report : public ::testing::Test {
protected:
    test::TempDir dir_;
};

TEST_F(Report, ASchemeChangeListsExactlyTheRowsWhoseValuesAreDropped) {
    DemoPlant plant(dir_ / "plant");
    plant.TuneUnderStudioNames();
    const auto old = test::Query(plant.Preset(), "SELECT machine_type, var_name, offset_or_bitno, "
                                                 "CAST(abs_min AS INTEGER) FROM PRESET_DEFS ORDER BY rowid");
    test::SetIniEntry(plant.ProgramIni(), "Project", "VWStudio", "false");
    ASSERT_EQ(plant.Run().exitStatus, 0);

    // Every old row has a value of its own: what the new table lacks was dropped.
    std::set<std::string> kept;
    for (const auto& row : test::Query(plant.Preset(), "SELECT CAST(abs_min AS INTEGER) FROM PRESET_DEFS"))
        kept.insert(row[0]);
    std::vector<Row> dropped;
    for (const Row& row : old)
        if (!kept.count(row[3]))
            dropped.push_back(row);
    ASSERT_EQ(dropped.size(), 4u) << "machine 3 loses its four rows of part 1";
    const std::string report = test::ReadFile(plant.Preset() + ".report.txt");
    EXPECT_EQ(DroppedRows(report), dropped) << report;
    EXPECT_NE(report.find("renamed to the current naming scheme: 70 (8 of them under an old name that the "
                          "generations of several machines asked for: they went to the first)"),
              std::string::npos)
        << report;
    EXPECT_NE(
        test::ReadFile(plant.ServicePackLog())
            .find("Torvex_Config: 70 rows generated, 66 carried over, 0 carried over in part, 4 dropped; "
                  "report: " +
                  plant.Preset() + ".report.txt\r\n"),
        std::string::npos);
}

TEST_F(Report, AReportThatCannotBeReplacedStaysAndIsCalledAnEarlierRunsOne) {
    DemoPlant plant(dir_ / "plant");
    ASSERT_EQ(plant.Run().exitStatus, 0);
    const std::string report = plant.Preset() + ".report.txt";
    test::WriteFile(report, test::ReadFile(report) + "checked by the night shift\n");
    const std::string before = test::ReadFile(report);
    ::chmod(report.c_str(), 0444); // read-only: never replaced
    test::SetIniEntry(plant.ProgramIni(), "Machine1", "Bobbin4", "TRUE");
    test::MakeDatabase(plant.Preset(), "UPDATE PRESET_DEFS SET abs_min = 1"); // a run that changes something
    const auto result = plant.Run();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(test::ReadFile(report), before) << "what the user added to the report is kept";
    const std::string log = test::ReadFile(plant.ServicePackLog());
    EXPECT_NE(log.find("could not be written"), std::string::npos) << log;
    EXPECT_NE(log.find("the report beside the database is from an earlier run (of " +
                       before.substr(before.find("date: ") + 6, 19) + ")."),
              std::string::npos)
        << log;
}

TEST_F(Report, ARunWhereEveryRowHasAPartnerDropsNone) {
    DemoPlant plant(dir_ / "plant");
    const auto fields = [&] {
        const std::string report = test::ReadFile(plant.Preset() + ".report.txt");
        const auto from = report.find("\nadditional fields");
        return report.substr(from, report.find("\ndropped rows") - from);
    };
    ASSERT_EQ(plant.Run().exitStatus, 0);
    const std::string firstRun = fields(); // no old rows, no take-over
    EXPECT_NE(firstRun.find("\npart\tin the template\tnot carried over\n"), std::string::npos) << firstRun;
    ASSERT_EQ(plant.Run().exitStatus, 0);
    EXPECT_EQ(fields(), firstRun);
    const std::string report = test::ReadFile(plant.Preset() + ".report.txt");
    EXPECT_NE(report.find("carried over (tuned values taken into a generated row): 70\n"), std::string::npos);
    EXPECT_NE(report.find("without a partner (tuned values dropped): 0\n"), std::string::npos);
    EXPECT_TRUE(DroppedRows(report).empty()) << report;
}

TEST_F(Report, APreviewTellsWithoutChangingAnyFileOfThePlant) {
    DemoPlant plant(dir_ / "plant");
    ASSERT_EQ(plant.Run().exitStatus, 0);
    test::SetIniEntry(plant.ProgramIni(), "Project", "VWStudio", "true"); // a run would rename and rewrite
    test::SetIniEntry(plant.ProgramIni(), "Machine1", "Bobbin4", "TRUE");
    std::filesystem::remove(plant.ServicePackLog());
    const std::string before = test::FolderState(plant.P());
    test::RunOptions options;
    options.arguments = "/EXTERNAL=SILENT /PREVIEW";
    const auto result = plant.Run(options);
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(test::FolderState(plant.P()), before) << "the preview changed the plant";
    EXPECT_NE(result.output.find("start mode: silent, preview\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("naming scheme: VisiWin Studio\n"), std::string::npos);
    EXPECT_NE(result.output.find("preset database: " + plant.Preset() + "\n"), std::string::npos);
    EXPECT_NE(result.output.find("renamed to the current naming scheme: 70 "), std::string::npos);

    options.arguments = "/EXTERNAL=SILENT/PREVIEW"; // keys may follow each other without a blank
    EXPECT_EQ(plant.Run(options).exitStatus, 0);
    EXPECT_EQ(test::FolderState(plant.P()), before);
    options.arguments = "/PREVIEW";
    EXPECT_EQ(plant.Run(options).exitStatus, 2) << "a preview is a silent run";
    // A run that would not publish has no report to show.
    test::MakeDatabase(plant.Preset(), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                                       "WHERE i < 33000) INSERT INTO PRESET_DEFS (ID, var_name) "
                                       "SELECT 100000 + i, 'extra' || i FROM n;");
    options.arguments = "/EXTERNAL=SILENT /PREVIEW";
    const auto refused = plant.Run(options);
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.output, "");
    EXPECT_NE(refused.errors.find("\"" + plant.Preset() + "\" was left unchanged"), std::string::npos);
    std::filesystem::remove(plant.Cfg());
    options.arguments = "/EXTERNAL=SILENT /PREVIEW";
    const auto failed = plant.Run(options);
    EXPECT_EQ(failed.exitStatus, 1);
    EXPECT_NE(failed.errors.find("File not found"), std::string::npos) << failed.errors;
    EXPECT_FALSE(test::Exists(plant.ServicePackLog()));
}

// Whatever journal or log the databases have, and however the preview word
// is written, a preview leaves every byte, time and entry of the plant.
TEST_F(Report, APreviewLeavesThePlantWithAHotJournalOrAWriteAheadLog) {
    DemoPlant plant(dir_ / "plant");
    ASSERT_EQ(plant.Run().exitStatus, 0);
    std::filesystem::remove(plant.ServicePackLog());
    test::LeaveHotJournal(plant.Preset(),
                          "UPDATE PRESET_DEFS SET abs_min = 99; WITH RECURSIVE n(i) AS "
                          "(SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) INSERT INTO "
                          "PRESET_DEFS (ID, var_name, text) SELECT 1000 + i, 'x' || i, "
                          "randomblob(4000) FROM n;");
    const auto preview = [&](const char* arguments, int exitStatus) {
        const std::string before = test::FolderState(plant.P());
        test::RunOptions options;
        options.arguments = arguments;
        const auto result = plant.Run(options);
        EXPECT_EQ(result.exitStatus, exitStatus) << arguments << result.errors;
        EXPECT_EQ(test::FolderState(plant.P()), before) << arguments;
        return result;
    };
    // The old rows as the journal restores them.
    EXPECT_NE(preview("/EXTERNAL=SILENT /PREVIEW", 0).output.find("\nold rows read: 70\n"),
              std::string::npos);
    EXPECT_NE(preview("/preview/external=silent", 0).output.find("start mode: silent, preview"),
              std::string::npos);
    EXPECT_NE(preview("/EXTERNAL=SILENT /PREVIEW/", 0).output.find("start mode: silent, preview"),
              std::string::npos);
    EXPECT_EQ(preview("/EXTERNAL=SILENT /LOGFILE /PREVIEW", 2).output, "") << "a preview or not: neither";

    ASSERT_EQ(plant.Run().exitStatus, 0); // a real run may roll the journal back
    EXPECT_FALSE(test::Exists(plant.Preset() + "-journal"));
    test::MakeDatabase(plant.Template(), "PRAGMA journal_mode=WAL");
    test::MakeDatabase(plant.Preset(), "PRAGMA journal_mode=WAL");
    EXPECT_NE(preview("/EXTERNAL=SILENT /PREVIEW", 0).output.find("\nold rows read: 70\n"),
              std::string::npos);
    EXPECT_FALSE(test::Exists(plant.Preset() + "-wal"));
}

TEST_F(Report, EveryLossIsCountedAndTheTableReadsBack) {
    DemoPlant plant(dir_ / "plant");
    ASSERT_EQ(plant.Run().exitStatus, 0);
    // Names no generated row has: eight rows dropped, each with a name a
    // table could break on; and one row whose values are carried in part.
    test::MakeDatabase(plant.Preset(),
                       "UPDATE PRESET_DEFS SET max = '4 50', min = '12,5' WHERE ID = 1;"
                       "UPDATE PRESET_DEFS SET var_name = CASE ID WHEN 2 THEN '\"quoted' WHEN 3 THEN "
                       "'tab' || char(9) || 'in' WHEN 4 THEN '=HYPERLINK(\"http://x\")' WHEN 5 THEN "
                       "'+cmd|'' /C calc''!A0' WHEN 6 THEN 'nul' || char(0) || 'vt' || char(11) WHEN 7 THEN "
                       "'nel' || char(133) || 'ls' || char(8232) WHEN 8 THEN 'line' || char(10) || 'break' "
                       "ELSE '@x' END WHERE ID BETWEEN 2 AND 9;");
    const auto result = plant.Run();
    EXPECT_EQ(result.exitStatus, 1) << "the values that did not fit are reported";
    const std::string report = test::ReadFile(plant.Preset() + ".report.txt");
    EXPECT_NE(report.find("carried over (tuned values taken into a generated row): 61\n"), std::string::npos)
        << report;
    EXPECT_NE(report.find("carried over in part (a value its partner could not take was dropped): 1\n"),
              std::string::npos);
    EXPECT_NE(report.find("without a partner (tuned values dropped): 8\n"), std::string::npos);
    EXPECT_NE(report.find("dropped rows, whole or in part (9)"), std::string::npos);
    const auto rows = ReadExcelTab(report.substr(report.find("machine_type\tvar_name\t")));
    ASSERT_EQ(rows.size(), 10u) << report;
    for (const auto& row : rows)
        EXPECT_EQ(row.size(), 10u) << row.at(0);
    EXPECT_EQ(rows[1][9], "min: text \"12,5\" is no number, max: text \"4 50\" is no number; the "
                          "template's values were kept");
    const std::vector<std::string> names = {"\"quoted",
                                            "tab\tin",
                                            "'=HYPERLINK(\"http://x\")",
                                            "'+cmd|' /C calc'!A0",
                                            "nul\\x00vt\\x0B",
                                            "nel\\u0085ls\\u2028",
                                            "line\nbreak",
                                            "'@x"};
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(rows[2 + i][1], names[i]);
    EXPECT_NE(test::ReadFile(plant.ServicePackLog())
                  .find("70 rows generated, 61 carried over, 1 carried over in part, 8 dropped; "),
              std::string::npos);
}

} // namespace
