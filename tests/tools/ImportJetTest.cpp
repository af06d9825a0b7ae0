#include "Converter.h"
#include "Diagnostics.h"
#include "JetDate.h"
#include "JetReader.h"
#include "LockedFile.h"
#include "platform/database/Connection.h"
#include "platform/database/Recordset.h"
#include "support/SqlHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

// Runs one of mdbtools' programs, the reference. They convert table names
// through the locale's character set, so they get a UTF-8 locale whatever
// the caller's is ("Umsätze" under LANG unset); Torvex_ImportJet needs none.
std::pair<int, std::string> RunReference(const std::string& command) {
    return RunCommand("LC_ALL=C.UTF-8 " + command);
}

std::string Tool() {
    return TORVEX_IMPORT_TOOL;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

using TableRows = std::map<std::string, std::string>;

// The tables of a Jet file and their row counts as mdbtools reads them.
TableRows JetTableRows(const std::string& jet) {
    TableRows rows;
    std::istringstream tables(RunReference("mdb-tables -1 '" + jet + "'").second);
    for (std::string table; std::getline(tables, table);) {
        std::string count = RunReference("mdb-count '" + jet + "' '" + table + "'").second;
        rows[table] = count.substr(0, count.find('\n'));
    }
    return rows;
}

TableRows SqliteTableRows(const std::string& path) {
    TableRows rows;
    for (const auto& table : Query(path, "SELECT name FROM sqlite_schema WHERE type = 'table'"))
        rows[table[0]] = QueryOne(path, "SELECT count(*) FROM \"" + table[0] + "\"");
    return rows;
}

std::set<std::string> Listing(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// Starts the tool with `args`, its output going to the file `output`.
pid_t StartTool(const std::vector<std::string>& args, const std::string& output) {
    std::vector<std::string> all{Tool()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// The exit status of a started tool; -1 when a signal ended it.
int Finished(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Where to cut a Jet file of `page`-byte pages: inside the first pages, at
// the start and in the middle of some table definitions (pages of type 2)
// and data pages (type 1), and at page bounds spread over the whole file.
std::vector<std::size_t> CutOffsets(const std::string& bytes, std::size_t page) {
    std::vector<std::size_t> offsets{100, page - 1, page, page + 700, 2 * page, 2 * page + 300};
    const std::size_t pages = bytes.size() / page;
    for (const char type : {'\x02', '\x01'}) {
        std::vector<std::size_t> found;
        for (std::size_t p = 3; p < pages; ++p)
            if (bytes[p * page] == type && bytes[p * page + 1] == '\x01')
                found.push_back(p);
        for (std::size_t i = 0; i < 4 && !found.empty(); ++i) {
            const std::size_t p = found[i * found.size() / 4];
            offsets.insert(offsets.end(), {p * page, p * page + page / 2});
        }
    }
    for (std::size_t i = 1; i < 12; ++i)
        offsets.push_back(pages * i / 12 * page);
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    return offsets;
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

TEST(JetDecodeNumber, GivesEachFixedSizeTypeItsSignScaleAndKind) {
    struct Case {
        int type;
        std::vector<unsigned char> bytes;
        JetValueKind kind;
        double expected;
    };
    const std::vector<Case> cases = {
        {JET_BYTE, {0xff}, JETV_WHOLE, 255},
        {JET_INTEGER, {0xfe, 0xff}, JETV_WHOLE, -2},
        {JET_LONG, {0x00, 0x00, 0x00, 0x80}, JETV_WHOLE, -2147483648.0},
        {JET_CURRENCY, {0xfc, 0x41, 0x03, 0, 0, 0, 0, 0}, JETV_NUMBER, 21.35},
        {JET_CURRENCY, {0x20, 0xab, 0xfd, 0xff, 0xff, 0xff, 0xff, 0xff}, JETV_NUMBER, -15.28},
        {JET_SINGLE, {0, 0, 0xc0, 0xbf}, JETV_NUMBER, -1.5},
        {JET_DOUBLE, {0, 0, 0, 0, 0, 0, 0xf8, 0x3f}, JETV_NUMBER, 1.5},
        {JET_DATETIME, {0, 0, 0, 0, 0, 0, 0xf8, 0x3f}, JETV_DATE, 1.5},
    };
    for (const Case& c : cases) {
        JetValue value;
        ASSERT_EQ(jet_decode_number(c.type, c.bytes.data(), &value), 1) << c.type;
        EXPECT_EQ(value.kind, c.kind) << c.type;
        EXPECT_DOUBLE_EQ(c.kind == JETV_WHOLE ? static_cast<double>(value.whole) : value.number, c.expected)
            << c.type;
    }
    JetValue value;
    EXPECT_EQ(jet_decode_number(JET_TEXT, nullptr, &value), 0);
}

TEST(Diagnostics, PassTheLibrarysLinesOnNamingTheTableAndCountTheRest) {
    const std::string mark{importjet::kMark};
    const std::string stream = "catalog trouble\n" + mark + "TOrders\nwarning: bad row\n  \n" +
                               std::string(50, 'x') + "\nmore 1\nmore 2\n" + mark + "Eit broke\n" +
                               "failed to allocate 64 bytes";
    const std::string expected =
        "Torvex_ImportJet: warning: f.mdb, table catalog: catalog trouble\n"
        "Torvex_ImportJet: warning: f.mdb, table \"Orders\": bad row\n"
        "Torvex_ImportJet: warning: f.mdb, table \"Orders\": xxxxxxxxxxxxxxxxxxxx\n"
        "Torvex_ImportJet: warning: f.mdb: 3 more lines from the reading library not "
        "shown\n";
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{5}, stream.size()}) {
        std::ostringstream out;
        importjet::Diagnostics diagnostics("f.mdb", out, 3, 20);
        for (std::size_t i = 0; i < stream.size(); i += chunk)
            diagnostics.Feed(stream.data() + i, std::min(chunk, stream.size() - i));
        diagnostics.Finish();
        EXPECT_EQ(out.str(), expected) << chunk;
        EXPECT_EQ(diagnostics.Error(), "it broke");
        EXPECT_TRUE(diagnostics.OutOfMemory());
    }
}

TEST(FlockHolders, AreTheHoldersOfAFlockOnThatFileAlone) {
    const std::string locks = "1: FLOCK  ADVISORY  WRITE 4711 fe:00:10970200 0 EOF\n"
                              "1: -> FLOCK  ADVISORY  WRITE 4712 fe:00:10970200 0 EOF\n"
                              "2: POSIX  ADVISORY  WRITE 4713 fe:00:10970200 0 EOF\n"
                              "3: FLOCK  ADVISORY  READ 4714 fe:00:109702001 0 EOF\n"
                              "4: FLOCK  ADVISORY  READ 4715 08:11:10970200 0 EOF\n"
                              "5: OFDLCK ADVISORY  READ -1 fe:00:10970200 0 EOF\n"
                              "6: FLOCK  ADVISORY  READ 4716 fe:00:10970200 0 EOF";
    EXPECT_EQ(importjet::FlockHolders(locks, 0xfe, 0, 10970200), (std::vector<long>{4711, 4716}));
    EXPECT_EQ(importjet::FlockHolders(locks, 8, 0x11, 10970200), (std::vector<long>{4715}));
    EXPECT_TRUE(importjet::FlockHolders("", 0xfe, 0, 10970200).empty());
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
        RunReference("mdb-export -Q -d '|' '" + kFixtures + "/nwind.mdb' Shippers");
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
    EXPECT_TRUE(std::holds_alternative<std::string>(product.Get("ProductName")));
    EXPECT_EQ(product.Get("Discontinued"), platform::db::Value(true));
    EXPECT_EQ(product.Get("UnitPrice"), platform::db::Value(21.35));
    auto order = platform::db::Recordset::OnQuery(db, "Orders", "OrderID = 10331", {}, "");
    EXPECT_EQ(order.Get("OrderDate"), platform::db::Value(platform::db::Date{"1994-11-16 00:00:00"}));
    EXPECT_EQ(order.Get("ShipRegion"), platform::db::Value());
}

TEST_F(ImportJet, ComponentFolderConvertsTheJetDatabasesAndLeavesSqliteAlone) {
    const std::string folder = dir_ / "Torvex";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(kFixtures + "/DateTestDatabase.mdb", folder + "/Torvex_Source.mdb");
    test::MakeDatabase(folder + "/Torvex.mdb", "CREATE TABLE PRESET_DEFS (ID INTEGER)");
    const std::string before = test::ReadFile(folder + "/Torvex.mdb");
    // Given from inside the folder, as a technician in P/Torvex would.
    const auto [status, output] = RunCommand("cd '" + folder + "' && " + Tool() + " --component-folder .");
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("already an SQLite database"), std::string::npos) << output;
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

// Every cut either is refused, with nothing written or replaced, or gives
// exactly the tables and rows of the whole file (when only pages that hold
// nothing to convert were cut off).
TEST_F(ImportJet, ACutShortFileIsRefusedOrConvertedWhole) {
    for (const auto& [name, page] :
         {std::pair{"DateTestDatabase.mdb", 4096u}, std::pair{"nwind.mdb", 2048u}}) {
        const std::string whole = test::ReadFile(kFixtures + "/" + name);
        const TableRows expected = JetTableRows(kFixtures + "/" + name);
        std::vector<std::size_t> offsets = CutOffsets(whole, page);
        // Under AddressSanitizer, reading nwind.mdb takes seconds (the library allocates a large
        // buffer for every value it reads); every third cut still spreads over the file.
        if (kAddressSanitizer && whole.size() > 1000000) {
            std::vector<std::size_t> thinned;
            for (std::size_t i = 0; i < offsets.size(); i += 3)
                thinned.push_back(offsets[i]);
            offsets = thinned;
        }
        int refused = 0, converted = 0;
        for (const std::size_t offset : offsets) {
            const std::filesystem::path folder = dir_ / (name + std::string("-") + std::to_string(offset));
            std::filesystem::create_directory(folder);
            const std::string jet = folder / name, cut = whole.substr(0, offset);
            test::WriteFile(jet, cut);
            const auto [status, output] = RunCommand(Tool() + " --in-place '" + jet + "'");
            if (status == 1) {
                ++refused;
                EXPECT_NE(output.find(jet + " cannot be converted: "), std::string::npos) << output;
                EXPECT_EQ(Listing(folder), std::set<std::string>{name}) << offset;
                EXPECT_EQ(test::ReadFile(jet), cut) << offset;
            } else {
                ++converted;
                ASSERT_EQ(status, 0) << offset << output;
                EXPECT_EQ(SqliteTableRows(jet), expected) << offset;
                EXPECT_EQ(test::ReadFile(jet + ".jet"), cut) << offset;
            }
            if (offset % page != 0) {
                EXPECT_NE(output.find("cut short at byte "), std::string::npos) << offset << output;
            }
        }
        std::cout << name << ": " << refused << " cuts refused, " << converted << " converted whole\n";
        EXPECT_GT(refused, static_cast<int>(offsets.size()) / 2) << name;
    }
}

// A file still being copied when the import reads it: refused or whole,
// never a partial database with exit status 0.
TEST_F(ImportJet, AFileWrittenWhileItIsReadIsRefusedOrConvertedWhole) {
    const std::string name = "nwind.mdb";
    const std::string whole = test::ReadFile(kFixtures + "/" + name);
    const TableRows expected = JetTableRows(kFixtures + "/" + name);
    const std::string jet = dir_ / name;
    test::WriteFile(jet, whole);
    std::atomic<bool> stop = false;
    std::thread copier([&] {
        while (!stop) { // truncates, then writes, as cp does, now and then
            test::WriteFile(jet, whole);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    int refused = 0;
    const int runs = kAddressSanitizer ? 8 : 40; // reading takes seconds under AddressSanitizer
    for (int i = 0; i < runs; ++i) {
        const std::string out = dir_ / ("out" + std::to_string(i) + ".sqlite");
        const auto [status, output] = RunCommand(Tool() + " '" + jet + "' '" + out + "'");
        if (status == 0) {
            EXPECT_EQ(SqliteTableRows(out), expected) << output;
        } else {
            ++refused;
            EXPECT_EQ(status, 1) << output;
            EXPECT_FALSE(test::Exists(out)) << output;
        }
    }
    stop = true;
    copier.join();
    std::cout << refused << " of " << runs << " runs refused the file being written\n";
}

TEST_F(ImportJet, InconsistenciesTheLibraryReportsAreWarningsNamingTheTable) {
    const std::string jet = Copy("DateTestDatabase.mdb");
    // The second row of DateTest's data page (page 20) now starts in the middle of the page.
    std::string bytes = test::ReadFile(jet);
    bytes.replace(20 * 4096 + 16, 2, std::string("\x00\x08", 2));
    test::WriteFile(jet, bytes);
    const auto [status, output] = RunCommand(Tool() + " '" + jet + "' '" + (dir_ / "out.sqlite") + "'");
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find("Torvex_ImportJet: warning: " + jet + ", table \"DateTest\": "), std::string::npos)
        << output;
    EXPECT_NE(output.find("table \"DateTest\": 4 of 6 rows readable"), std::string::npos) << output;
    EXPECT_FALSE(test::Exists(dir_ / "out.sqlite"));
}

TEST_F(ImportJet, LimitsStopAChildThatAllocatesWithoutBound) {
    if (kAddressSanitizer)
        GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space, so the sanitizer build reads "
                        "without an address-space limit";
    const std::string jet = Copy("DateTestDatabase.mdb"), out = dir_ / "out.sqlite";
    const auto start = std::chrono::steady_clock::now();
    const auto [status, output] = RunCommand("TORVEX_IMPORTJET_TEST_RUNAWAY=allocate-without-bound " +
                                             Tool() + " '" + jet + "' '" + out + "'");
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find(jet + " cannot be converted: reading it needed more than the "), std::string::npos)
        << output;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(Listing(dir_.Path()), std::set<std::string>{"DateTestDatabase.mdb"});
    // Any other value asks for nothing.
    EXPECT_EQ(RunCommand("TORVEX_IMPORTJET_TEST_RUNAWAY=1 " + Tool() + " '" + jet + "' '" + out + "'").first,
              0);
}

TEST_F(ImportJet, NoEarlierOriginalIsOverwrittenAndNoLinkFollowed) {
    const std::string jet = Copy("DateTestDatabase.mdb"), original = test::ReadFile(jet);
    test::WriteFile(jet + ".jet", "earlier original");
    auto [status, output] = RunCommand(Tool() + " --in-place '" + jet + "'");
    EXPECT_EQ(status, 1);
    EXPECT_NE(output.find(jet + ".jet exists already (the original of an earlier import); move it away"),
              std::string::npos)
        << output;
    std::filesystem::create_symlink(dir_ / "nowhere.sqlite", dir_ / "dangling.sqlite");
    std::filesystem::create_symlink(jet + ".jet", dir_ / "link.sqlite");
    std::filesystem::create_symlink(jet, dir_ / "alias.mdb");
    for (const auto& [arguments, expectedStatus] :
         std::vector<std::pair<std::string, int>>{{"'" + jet + "' '" + (dir_ / "dangling.sqlite") + "'", 2},
                                                  {"'" + jet + "' '" + (dir_ / "link.sqlite") + "'", 2},
                                                  {"--in-place '" + (dir_ / "alias.mdb") + "'", 1}}) {
        std::tie(status, output) = RunCommand(Tool() + " " + arguments);
        EXPECT_EQ(status, expectedStatus) << arguments;
        EXPECT_NE(output.find(" is a symbolic link; "), std::string::npos) << output;
    }
    EXPECT_EQ(test::ReadFile(jet + ".jet"), "earlier original");
    EXPECT_EQ(test::ReadFile(jet), original);
    EXPECT_EQ(Listing(dir_.Path()), (std::set<std::string>{"DateTestDatabase.mdb", "DateTestDatabase.mdb.jet",
                                                           "dangling.sqlite", "link.sqlite", "alias.mdb"}));
    EXPECT_EQ(std::filesystem::read_symlink(dir_ / "dangling.sqlite").string(), dir_ / "nowhere.sqlite");
}

// Two in-place imports of one file, one of them killed at some point or
// both left to finish: the file is the original or its whole conversion,
// and the next import finds nothing left over but the kept original.
TEST_F(ImportJet, TwoImportsAtOnceLeaveTheOriginalOrItsWholeConversion) {
    // Under AddressSanitizer, reading nwind.mdb takes seconds; the small file takes as long there.
    const std::string name = kAddressSanitizer ? "DateTestDatabase.mdb" : "nwind.mdb";
    const std::string whole = test::ReadFile(kFixtures + "/" + name);
    const TableRows expected = JetTableRows(kFixtures + "/" + name);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunCommand(Tool() + " '" + Copy(name) + "' '" + (dir_ / "timed.sqlite") + "'").first, 0);
    const auto one = std::chrono::steady_clock::now() - start; // how long one import takes
    struct Kill {
        int import;   // 0 the first, 1 the second
        double after; // the time of one import times this, from the previous kill or the start
    };
    const std::vector<std::vector<Kill>> scenarios{
        {},         {{1, 0.2}}, {{1, 0.7}},           {{1, 1.5}},           {{0, 0.2}},
        {{0, 0.6}}, {{0, 0.9}}, {{0, 0.3}, {1, 0.3}}, {{0, 0.5}, {1, 0.6}}, {{0, 0.4}, {1, 0.9}}};
    for (std::size_t i = 0; i < scenarios.size(); ++i) {
        const std::filesystem::path folder = dir_ / ("run" + std::to_string(i));
        std::filesystem::create_directory(folder);
        const std::string jet = folder / "Torvex.mdb", log = dir_ / ("run" + std::to_string(i) + "-");
        test::WriteFile(jet, whole);
        const pid_t first = StartTool({"--in-place", jet}, log + "0");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const pid_t imports[] = {first, StartTool({"--in-place", jet}, log + "1")};
        for (const Kill& kill : scenarios[i]) {
            std::this_thread::sleep_for(
                std::chrono::duration_cast<std::chrono::microseconds>(one * kill.after));
            ::kill(imports[kill.import], SIGKILL);
        }
        for (int n = 0; n < 2; ++n) {
            const int status = Finished(imports[n]);
            const std::string output = test::ReadFile(log + std::to_string(n));
            EXPECT_TRUE(
                status == -1 || status == 0 ||
                (status == 1 && output.find(" is in use by another import (process ") != std::string::npos))
                << i << " " << n << " " << status << output;
        }
        if (test::ReadFile(jet) == whole) {
            EXPECT_FALSE(test::Exists(jet + ".jet")) << i;
        } else {
            EXPECT_EQ(SqliteTableRows(jet), expected) << i;
            EXPECT_EQ(test::ReadFile(jet + ".jet"), whole) << i;
        }
        const auto [status, output] = RunCommand(Tool() + " --in-place '" + jet + "'");
        EXPECT_EQ(status, 0) << i << output;
        EXPECT_EQ(Listing(folder), (std::set<std::string>{"Torvex.mdb", "Torvex.mdb.jet"})) << i;
        EXPECT_EQ(SqliteTableRows(jet), expected) << i;
    }
}

// The lock on the file: an import that replaces it waits for every other
// holder, then refuses naming it; imports that only read it share it.
TEST_F(ImportJet, AnImportWaitsForTheOneHoldingTheFileThenRefusesNamingIt) {
    const std::string jet = Copy("DateTestDatabase.mdb"), original = test::ReadFile(jet);
    const int fd = ::open(jet.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(fd, LOCK_SH), 0);
    auto [status, output] = RunCommand(Tool() + " '" + jet + "' '" + (dir_ / "copy.sqlite") + "'");
    EXPECT_EQ(status, 0) << output;
    const auto start = std::chrono::steady_clock::now();
    std::tie(status, output) = RunCommand(Tool() + " --in-place '" + jet + "'");
    EXPECT_EQ(status, 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2900));
    EXPECT_NE(output.find(jet + " is in use by another import (process " + std::to_string(::getpid()) + ": "),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("nothing was changed"), std::string::npos) << output;
    EXPECT_EQ(test::ReadFile(jet), original);
    EXPECT_EQ(Listing(dir_.Path()), (std::set<std::string>{"DateTestDatabase.mdb", "copy.sqlite"}));
    // Released within the wait, the file is converted.
    const pid_t waiting = StartTool({"--in-place", jet}, dir_ / "waiting.log");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::close(fd);
    EXPECT_EQ(Finished(waiting), 0) << test::ReadFile(dir_ / "waiting.log");
    EXPECT_EQ(test::ReadFile(jet + ".jet"), original);
}

TEST_F(ImportJet, LinksAtTheWorkPathsAreNeverFollowed) {
    const std::string jet = Copy("DateTestDatabase.mdb"), outside = dir_ / "outside";
    test::WriteFile(outside + "/precious.txt", "precious");
    // The work file names of earlier versions, and a temporary file that looks stale.
    for (const std::string& link :
         {jet + ".importing", dir_ / "out.sqlite.importing", dir_ / ".torvex-tmp-link"})
        std::filesystem::create_symlink(outside + "/precious.txt", link);
    auto [status, output] = RunCommand(Tool() + " --in-place '" + jet + "'");
    EXPECT_EQ(status, 0) << output;
    std::tie(status, output) = RunCommand(Tool() + " '" + jet + ".jet' '" + (dir_ / "out.sqlite") + "'");
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(test::ReadFile(outside + "/precious.txt"), "precious");
    for (const std::string& written : {jet, dir_ / "out.sqlite", jet + ".jet"})
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(written))) << written;
    EXPECT_EQ(QueryOne(jet, "SELECT count(*) FROM DateTest"), "6");
    // A link at the name of the kept original, even one that points nowhere, is never replaced.
    const std::string second = Copy("nwind.mdb");
    std::filesystem::create_symlink(outside + "/kept.jet", second + ".jet");
    std::tie(status, output) = RunCommand(Tool() + " --in-place '" + second + "'");
    EXPECT_EQ(status, 1);
    EXPECT_NE(output.find(second + ".jet exists already"), std::string::npos) << output;
    EXPECT_EQ(test::ReadFile(second), test::ReadFile(kFixtures + "/nwind.mdb"));
    EXPECT_EQ(Listing(outside), std::set<std::string>{"precious.txt"});
}

// Run by root, with a second user id for the import where the case says so.
TEST_F(ImportJet, TheConvertedFileKeepsTheOriginalsModeOwnerAndGroup) {
    if (::geteuid() != 0 || RunCommand("setpriv --help").first != 0)
        GTEST_SKIP() << "needs root and setpriv to give files and the import other user ids";
    constexpr uid_t kUser = 54321;
    constexpr gid_t kGroup = 54322, kForeignGroup = 54323;
    const std::string asUser = "setpriv --reuid=" + std::to_string(kUser) +
                               " --regid=" + std::to_string(kUser) + " --groups=" + std::to_string(kGroup) +
                               " ";
    struct Case {
        std::string name, runAs, arguments;
        mode_t mode;
        gid_t group;
        mode_t expectedMode;
        gid_t expectedGroup;
    };
    const std::vector<Case> cases{
        {"private.mdb", asUser, "--in-place", 0600, kGroup, 0600, kGroup},
        {"shared.mdb", "", "--in-place", 0664, kGroup, 0664, kGroup},
        {"Plant.mdb", "", "--component-folder", 0660, kForeignGroup, 0660, kForeignGroup},
        // The user is no member of the group: it is not kept, and gets no access.
        {"foreign.mdb", asUser, "--in-place", 0644, kForeignGroup, 0604, kUser}};
    std::filesystem::permissions(dir_.Path(), std::filesystem::perms(0755));
    for (const Case& c : cases) {
        const std::string folder = dir_ / c.name.substr(0, c.name.find('.'));
        const std::string jet = folder + "/" + c.name;
        test::WriteFile(jet, test::ReadFile(kFixtures + "/DateTestDatabase.mdb"));
        ASSERT_EQ(::chown(folder.c_str(), kUser, kUser), 0);
        ASSERT_EQ(::chown(jet.c_str(), kUser, c.group), 0);
        ASSERT_EQ(::chmod(jet.c_str(), c.mode), 0);
        struct stat before {};
        ::stat(jet.c_str(), &before);
        const std::string path = c.arguments == "--component-folder" ? folder : jet;
        const auto [status, output] = RunCommand(c.runAs + Tool() + " " + c.arguments + " '" + path + "'");
        EXPECT_EQ(status, 0) << c.name << output;
        struct stat converted {
        }, kept{};
        ASSERT_EQ(::stat(jet.c_str(), &converted), 0);
        ASSERT_EQ(::stat((jet + ".jet").c_str(), &kept), 0);
        EXPECT_EQ(converted.st_mode & 07777, c.expectedMode) << c.name;
        EXPECT_EQ(converted.st_uid, kUser) << c.name;
        EXPECT_EQ(converted.st_gid, c.expectedGroup) << c.name;
        EXPECT_EQ(output.find("warning: " + jet + " belongs to ") != std::string::npos,
                  c.group != c.expectedGroup)
            << output;
        EXPECT_EQ(QueryOne(jet, "SELECT count(*) FROM DateTest"), "6") << c.name;
        EXPECT_EQ(
            std::tie(kept.st_ino, kept.st_mode, kept.st_uid, kept.st_gid, kept.st_mtim.tv_nsec),
            std::tie(before.st_ino, before.st_mode, before.st_uid, before.st_gid, before.st_mtim.tv_nsec))
            << c.name;
    }
}

} // namespace
