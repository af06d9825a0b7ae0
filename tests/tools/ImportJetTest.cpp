#include "Converter.h"
#include "JetDate.h"
#include "platform/database/Connection.h"
#include "platform/database/Recordset.h"
#include "support/SqlHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/wait.h>

using namespace torvex;
using torvex::test::Query;
using torvex::test::QueryOne;
using Rows = std::vector<std::vector<std::string>>;

namespace {

const std::string kFixtures = TORVEX_JET_FIXTURES;

// Runs a command; returns its exit status and what it printed.
std::pair<int, std::string> RunCommand(const std::string& command) {
    std::string output;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = pipe ? ::pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::string Tool() {
    return TORVEX_IMPORT_TOOL;
}

class ImportJet : public ::testing::Test {
protected:
    std::string Copy(const std::string& name) {
        const std::string target = dir_ / name;
        std::filesystem::copy_file(kFixtures + "/" + name, target);
        std::filesystem::permissions(target, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
        return target;
    }
    test::TempDir dir_;
};

TEST(JetDate, CoversTheWholeCalendarOfTheEngine) {
    EXPECT_EQ(importjet::JetDateText(0), "1899-12-30 00:00:00");
    EXPECT_EQ(importjet::JetDateText(44532.75), "2021-12-02 18:00:00");
    EXPECT_EQ(importjet::JetDateText(-1.25), "1899-12-29 06:00:00");
    EXPECT_EQ(importjet::JetDateText(2958465.999988), "9999-12-31 23:59:59");
    EXPECT_EQ(importjet::JetDateText(-657434), "0100-01-01 00:00:00");
}

TEST(DeclaredType, KeepsTheJetTypeAndGivesTheRightAffinity) {
    EXPECT_EQ(importjet::DeclaredType(10, 510, 0, 0, 4), "TEXT(255)");
    EXPECT_EQ(importjet::DeclaredType(10, 40, 0, 0, 3), "TEXT(40)");
    EXPECT_EQ(importjet::DeclaredType(1, 0, 0, 0, 4), "BOOLEAN INTEGER");
    EXPECT_EQ(importjet::DeclaredType(5, 8, 0, 0, 4), "CURRENCY NUMERIC");
    EXPECT_EQ(importjet::DeclaredType(8, 8, 0, 0, 4), "DATETIME TEXT");
    EXPECT_EQ(importjet::DeclaredType(12, 0, 0, 0, 4), "MEMO TEXT");
}

TEST_F(ImportJet, Jet4FileKeepsDatesTextsAndLineBreaks) {
    const std::string jet = Copy("DateTestDatabase.mdb");
    const auto [status, output] = RunCommand(Tool() + " '" + jet + "' '" + (dir_ / "out.sqlite") + "'");
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("DateTest: 6 rows"), std::string::npos) << output;
    const std::string out = dir_ / "out.sqlite";
    EXPECT_EQ(Query(out, "SELECT name, type FROM pragma_table_info('DateTest')"),
              (Rows{{"IDCol", "LONG INTEGER"},
                    {"DateTimeCol", "DATETIME TEXT"},
                    {"DateCol", "DATETIME TEXT"},
                    {"TimeCol", "DATETIME TEXT"},
                    {"LongTextCol", "MEMO TEXT"},
                    {"ShortTextCol", "TEXT(255)"}}));
    EXPECT_EQ(Query(out, "SELECT IDCol, DateTimeCol, LongTextCol FROM DateTest WHERE IDCol IN (1, 2, 3, 6)"),
              (Rows{{"1", "2021-12-02 00:00:00", "Hello"},
                    {"2", "9999-01-01 00:00:00", "Year 9999"},
                    {"3", "1898-01-01 00:00:00", "Pre-1900 years"},
                    {"6", "2021-12-02 00:00:00", "New line\r\nin field"}}));
    EXPECT_EQ(test::ReadFile(jet), test::ReadFile(kFixtures + "/DateTestDatabase.mdb"))
        << "the source is only read";
}

TEST_F(ImportJet, Jet3FileKeepsEveryTableRowAndValueAsMdbExportShowsThem) {
    const std::string jet = Copy("nwind.mdb");
    const auto [status, output] = RunCommand(Tool() + " --in-place '" + jet + "'");
    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(test::ReadFile(jet + ".jet"), test::ReadFile(kFixtures + "/nwind.mdb"));
    EXPECT_EQ(
        Query(jet, "SELECT group_concat(name, '|') FROM (SELECT name FROM sqlite_schema ORDER BY rowid)"),
        (Rows{{"Order Details|Orders|Products|Shippers|Categories|Customers|Employees|Suppliers|Umsätze"}}));
    for (const auto& [table, rows] :
         std::vector<std::pair<std::string, std::string>>{{"Order Details", "2155"},
                                                          {"Orders", "830"},
                                                          {"Products", "77"},
                                                          {"Umsätze", "830"},
                                                          {"Employees", "9"}})
        EXPECT_EQ(QueryOne(jet, "SELECT count(*) FROM \"" + table + "\""), rows) << table;
    EXPECT_EQ(Query(jet, "SELECT name, type FROM pragma_table_info('Products')"),
              (Rows{{"ProductID", "LONG INTEGER"},
                    {"ProductName", "TEXT(40)"},
                    {"SupplierID", "LONG INTEGER"},
                    {"CategoryID", "LONG INTEGER"},
                    {"QuantityPerUnit", "TEXT(20)"},
                    {"UnitPrice", "CURRENCY NUMERIC"},
                    {"UnitsInStock", "SMALLINT"},
                    {"UnitsOnOrder", "SMALLINT"},
                    {"ReorderLevel", "SMALLINT"},
                    {"Discontinued", "BOOLEAN INTEGER"}}));
    // The whole Shippers table and the first Products rows, cell by cell as mdb-export prints them.
    const auto [exportStatus, csv] =
        RunCommand("mdb-export -Q -d '|' '" + kFixtures + "/nwind.mdb' Shippers");
    ASSERT_EQ(exportStatus, 0);
    std::string ours = "ShipperID|CompanyName|Phone\n";
    for (const auto& row : Query(jet, "SELECT * FROM Shippers"))
        ours += row[0] + "|" + row[1] + "|" + row[2] + "\n";
    EXPECT_EQ(ours, csv);
    EXPECT_EQ(
        Query(jet,
              "SELECT ProductName, printf('%.4f', UnitPrice), Discontinued FROM Products WHERE ProductID IN "
              "(1, 5)"),
        (Rows{{"Chai", "18.0000", "0"}, {"Chef Anton's Gumbo Mix", "21.3500", "1"}}));
    EXPECT_EQ(QueryOne(jet, "SELECT ShipAddress FROM Orders WHERE OrderID = 10330"),
              "Carrera 52 con Ave. Bolívar #65-98 Llano Largo");
    EXPECT_EQ(QueryOne(jet, "SELECT count(*) FROM Orders WHERE ShipRegion IS NULL"), "507");
    EXPECT_EQ(QueryOne(jet, "SELECT OrderDate FROM Orders WHERE OrderID = 10330"), "1994-11-16 00:00:00");
}

TEST_F(ImportJet, TheProgramsDatabaseLayerReadsEveryConvertedTableWithItsKinds) {
    for (const char* name : {"nwind.mdb", "DateTestDatabase.mdb"}) {
        const std::string jet = Copy(name);
        ASSERT_EQ(RunCommand(Tool() + " --in-place '" + jet + "'").first, 0);
        platform::db::Connection db(jet);
        for (const std::string& table : db.TableNames()) {
            auto rows = platform::db::Recordset::OnTable(db, table);
            std::size_t count = 0;
            for (; !rows.IsEOF(); rows.MoveNext(), ++count)
                for (int f = 0; f < rows.FieldCount(); ++f)
                    rows.Get(f);
            EXPECT_EQ(count, rows.RecordCount()) << table;
        }
    }
    platform::db::Connection db(dir_ / "nwind.mdb");
    auto product = platform::db::Recordset::OnQuery(db, "Products", "ProductID = 5", {}, "");
    EXPECT_EQ(platform::db::TypeName(product.Get("ProductName")), "STRING");
    EXPECT_EQ(product.Get("Discontinued"), platform::db::Value(true));
    EXPECT_EQ(product.Get("UnitPrice"), platform::db::Value(21.35));
    auto order = platform::db::Recordset::OnQuery(db, "Orders", "OrderID = 10331", {}, "");
    EXPECT_EQ(order.Get("OrderDate"), platform::db::Value(platform::db::Date{"1994-11-16 00:00:00"}));
    EXPECT_EQ(platform::db::TypeName(order.Get("ShipRegion")), "NULL");
}

TEST_F(ImportJet, ComponentFolderConvertsTheJetDatabasesAndLeavesSqliteAlone) {
    const std::string folder = dir_ / "Torvex";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(kFixtures + "/DateTestDatabase.mdb", folder + "/Torvex_Source.mdb");
    test::MakeDatabase(folder + "/Torvex.mdb", "CREATE TABLE PRESET_DEFS (ID INTEGER)");
    const std::string before = test::ReadFile(folder + "/Torvex.mdb");
    const auto [status, output] = RunCommand(Tool() + " --component-folder '" + folder + "'");
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("already an SQLite database"), std::string::npos);
    EXPECT_EQ(QueryOne(folder + "/Torvex_Source.mdb", "SELECT count(*) FROM DateTest"), "6");
    EXPECT_EQ(test::ReadFile(folder + "/Torvex.mdb"), before);
}

TEST_F(ImportJet, DamagedFilesAndWrongUseReplaceNothing) {
    const std::string broken = dir_ / "broken.mdb";
    test::WriteFile(broken, test::ReadFile(kFixtures + "/nwind.mdb").substr(0, 6000));
    auto [status, output] = RunCommand(Tool() + " --in-place '" + broken + "'");
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find("cannot be converted"), std::string::npos) << output;
    EXPECT_EQ(test::ReadFile(broken).size(), 6000u);
    EXPECT_FALSE(test::Exists(broken + ".jet"));
    EXPECT_FALSE(test::Exists(broken + ".importing"));
    EXPECT_EQ(RunCommand(Tool() + " --bogus").first, 2);
    EXPECT_EQ(RunCommand(Tool() + " --help").first, 0);
}

} // namespace
