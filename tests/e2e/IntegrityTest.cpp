#include "platform/FileTimes.h"
#include "platform/IniDocument.h"
#include "support/DemoPlant.h"
#include "support/SqlHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

using namespace torvex;
using test::DemoPlant;
using test::RunOptions;

namespace {

const std::string kAllColumns = "SELECT * FROM PRESET_DEFS ORDER BY ID";

// The plant after one run, with tuned values in every old row.
class Integrity : public ::testing::Test {
protected:
    Integrity() : plant_(dir_ / "plant") {
        EXPECT_EQ(plant_.Run().exitStatus, 0);
        test::MakeDatabase(plant_.Preset(), "UPDATE PRESET_DEFS SET abs_min = 1000 + ID, pass = 7");
        preset_ = test::ReadFile(plant_.Preset());
        templateTime_ = platform::GetFileTimes(plant_.Template()).lastWrite;
    }

    // The run left the preset database and its backup as they were, said
    // why with a line naming `cause`, and ended with exit status 1.
    void ExpectKept(const test::RunResult& result, const std::string& cause) {
        ExpectKeptBeside(result, cause);
        EXPECT_FALSE(test::Exists(plant_.Preset() + ".bak")) << "no new backup without a new file";
        EXPECT_FALSE(test::Exists(plant_.Preset() + "-journal"));
        const auto time = platform::GetFileTimes(plant_.Template()).lastWrite;
        EXPECT_EQ(time.tv_sec, templateTime_.tv_sec);
        EXPECT_EQ(time.tv_nsec, templateTime_.tv_nsec);
        for (const auto& entry : std::filesystem::directory_iterator(plant_.P() + "/Torvex"))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".torvex-tmp-")) << entry.path();
    }

    // As ExpectKept, with something standing in the backup's place.
    void ExpectKeptBeside(const test::RunResult& result, const std::string& cause) {
        EXPECT_EQ(result.exitStatus, 1) << result.errors;
        const std::string log = test::ReadFile(plant_.ServicePackLog());
        EXPECT_NE(log.find(cause), std::string::npos) << log;
        EXPECT_NE(log.find("was left unchanged"), std::string::npos) << log;
        EXPECT_TRUE(test::ReadFile(plant_.Preset()) == preset_) << "the preset database was changed";
    }

    test::TempDir dir_;
    DemoPlant plant_;
    std::string preset_;
    timespec templateTime_{};
};

TEST_F(Integrity, AnotherProgramInThePresetDatabaseIsWaitedForAndNeverOverrun) {
    test::SetIniEntry(plant_.ProgramIni(), "Project", "VWStudio", "true"); // every old row gets renamed
    std::filesystem::copy(plant_.P(), dir_ / "alone", std::filesystem::copy_options::recursive);
    ASSERT_EQ(DemoPlant::At(dir_ / "alone").Run().exitStatus, 0);
    for (const bool writer : {false, true}) {
        SCOPED_TRACE(writer ? "a writer" : "a reader");
        // Another program's transaction that ends while the run waits for it.
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(plant_.Preset().c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other,
                               writer ? "BEGIN IMMEDIATE; UPDATE PRESET_DEFS SET pass = 7;"
                                      : "BEGIN; SELECT count(*) FROM PRESET_DEFS;",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        const auto run = plant_.Start();
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        EXPECT_EQ(plant_.Wait(run).exitStatus, 0) << test::ReadFile(plant_.ServicePackLog());
        // It still has the file open, and sees the new content.
        sqlite3_stmt* count = nullptr;
        sqlite3_prepare_v2(other, "SELECT count(*) FROM PRESET_DEFS WHERE var_name LIKE '%.Reel.%'", -1,
                           &count, nullptr);
        ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int(count, 0), 70);
        sqlite3_finalize(count);
        sqlite3_close(other);
        EXPECT_EQ(test::Query(plant_.Preset(), kAllColumns),
                  test::Query(dir_ / "alone/Torvex/Torvex.mdb", kAllColumns));
        EXPECT_EQ(test::QueryOne(plant_.Preset(), "PRAGMA integrity_check"), "ok");
        EXPECT_FALSE(test::Exists(plant_.Preset() + "-journal"));
    }
}

TEST_F(Integrity, AProgramThatHoldsThePresetDatabaseTooLongMakesTheRunChangeNothing) {
    test::SetIniEntry(plant_.ProgramIni(), "Project", "VWStudio", "true");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(plant_.Preset().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN; SELECT count(*) FROM PRESET_DEFS;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    const auto result = plant_.Run();
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    ExpectKept(result, "database is locked");
}

TEST_F(Integrity, AWriteAheadLogBesideThePresetDatabaseIsFoldedInFirst) {
    test::MakeDatabase(plant_.Preset(), "PRAGMA journal_mode=WAL");
    if (::fork() == 0) { // a program killed before its log was folded into the file
        sqlite3* writer = nullptr;
        sqlite3_open(plant_.Preset().c_str(), &writer);
        sqlite3_exec(writer, "PRAGMA wal_autocheckpoint=0; UPDATE PRESET_DEFS SET pass = 9 WHERE ID <= 10;",
                     nullptr, nullptr, nullptr);
        ::_exit(0);
    }
    ::wait(nullptr);
    ASSERT_TRUE(test::Exists(plant_.Preset() + "-wal"));
    ASSERT_EQ(plant_.Run().exitStatus, 0) << test::ReadFile(plant_.ServicePackLog());
    EXPECT_EQ(test::QueryOne(plant_.Preset(), "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(test::QueryOne(plant_.Preset(), "SELECT count(*) FROM PRESET_DEFS WHERE pass = 9"), "10")
        << "the values the log held are carried over";
    EXPECT_EQ(test::QueryOne(plant_.Preset() + ".bak", "SELECT count(*) FROM PRESET_DEFS WHERE pass = 9"),
              "10")
        << "and kept in the backup";
    EXPECT_FALSE(test::Exists(plant_.Preset() + "-wal"));
}

TEST_F(Integrity, OddCellsAndFilesInThePresetDatabaseAreToldNotHungOn) {
    // A text in a number column: reported with its place, the rest carried over.
    test::MakeDatabase(plant_.Preset(), "UPDATE PRESET_DEFS SET abs_min = 'high' WHERE ID = 5");
    EXPECT_EQ(plant_.Run().exitStatus, 1);
    EXPECT_NE(test::ReadFile(plant_.ErrorLog()).find("Type mismatch: abs_min of old row 5 holds \"high\""),
              std::string::npos);
    EXPECT_EQ(test::QueryOne(plant_.Preset(), "SELECT count(*) FROM PRESET_DEFS WHERE abs_min >= 1000"),
              "69");
    // A FIFO in its place is never opened in a way that could block.
    std::filesystem::remove(plant_.Preset());
    ASSERT_EQ(::mkfifo(plant_.Preset().c_str(), 0644), 0);
    RunOptions options;
    options.killAfter = std::chrono::seconds(8);
    EXPECT_EQ(plant_.Run(options).exitStatus, 1) << "-1: the run hung and was killed";
    EXPECT_TRUE(std::filesystem::is_fifo(plant_.Preset()));
}

TEST_F(Integrity, TriggersInThePresetDatabaseNeverFire) {
    test::SetIniEntry(plant_.ProgramIni(), "Project", "VWStudio", "true");
    test::MakeDatabase(plant_.Preset(), "CREATE TRIGGER Wipe AFTER UPDATE ON PRESET_DEFS BEGIN "
                                        "DELETE FROM PRESET_DEFS; END;");
    ASSERT_EQ(plant_.Run().exitStatus, 0);
    EXPECT_EQ(test::QueryOne(plant_.Preset(), "SELECT count(*) FROM PRESET_DEFS WHERE abs_min < 1000"), "0");
}

TEST_F(Integrity, MoreOldRowsThanASixteenBitCountHoldsAreKept) {
    test::MakeDatabase(plant_.Preset(), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                                        "WHERE i < 33000) INSERT INTO PRESET_DEFS (ID, var_name, abs_min) "
                                        "SELECT 100000 + i, 'extra' || i, i FROM n;");
    preset_ = test::ReadFile(plant_.Preset());
    const auto result = plant_.Run();
    ExpectKept(result, "Overflow");
    EXPECT_NE(test::ReadFile(plant_.ErrorLog()).find("TakeoverMachineCopyMDBData (Nr. 6) :Overflow"),
              std::string::npos);
}

TEST_F(Integrity, ADeclaredTypeFromTheTemplateIsNeverRunAsSql) {
    const std::string outside = dir_ / "outside.db";
    test::MakeDatabase(outside, "CREATE TABLE T (x); INSERT INTO T VALUES (1);");
    const std::string injected = "TEXT); ATTACH DATABASE ''" + outside + "'' AS x; DELETE FROM x.T; --";
    test::MakeDatabase(plant_.Template(),
                       "ALTER TABLE Source_PRESET_DEFS ADD COLUMN evil '" + injected + "'");
    templateTime_ = platform::GetFileTimes(plant_.Template()).lastWrite;
    const auto result = plant_.Run();
    ExpectKept(result, "has a declared type that is no plain type name");
    EXPECT_EQ(test::QueryOne(outside, "SELECT count(*) FROM T"), "1") << "nothing outside the plant changes";
}

TEST_F(Integrity, APresetDatabaseWithoutItsTableIsReplacedByTheTemplate) {
    for (const std::string content : {"", "table"}) {
        SCOPED_TRACE(content.empty() ? "empty file" : "no PRESET_DEFS");
        std::filesystem::remove(plant_.Preset());
        std::filesystem::remove(plant_.Preset() + ".bak");
        test::WriteFile(plant_.Preset(), "");
        if (!content.empty())
            test::MakeDatabase(plant_.Preset(), "CREATE TABLE Other (x)");
        const std::string before = test::ReadFile(plant_.Preset());
        const auto result = plant_.Run();
        EXPECT_EQ(result.exitStatus, 1) << "the missing table is reported";
        EXPECT_NE(test::ReadFile(plant_.ServicePackLog()).find("no such table: PRESET_DEFS"),
                  std::string::npos);
        EXPECT_EQ(test::QueryOne(plant_.Preset(), "SELECT count(*) FROM PRESET_DEFS"),
                  test::QueryOne(plant_.Template(), "SELECT count(*) FROM PRESET_DEFS"));
        EXPECT_TRUE(test::ReadFile(plant_.Preset() + ".bak") == before);
    }
}

// Whatever stands in the backup's place, the previous version is never lost
// and the log says what happened to it.
TEST_F(Integrity, ABackupPlaceThatIsTakenLosesNoPreviousVersion) {
    test::SetIniEntry(plant_.ProgramIni(), "Project", "VWStudio", "true"); // the content changes
    const std::string bak = plant_.Preset() + ".bak";
    // A folder is seen before anything changes.
    std::filesystem::create_directories(bak + "/kept");
    ExpectKeptBeside(plant_.Run(), "Torvex.mdb.bak (it is a folder");
    EXPECT_TRUE(std::filesystem::is_directory(bak + "/kept"));
    std::filesystem::remove_all(bak);
    std::filesystem::remove(plant_.ServicePackLog());

    // A file that cannot be replaced shows only once the new content is in:
    // the previous version then stays under a name of its own.
    test::WriteFile(bak, "older");
    const int fd = ::open(bak.c_str(), O_RDONLY);
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0 ||
        (flags |= FS_IMMUTABLE_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags)) != 0) {
        ::close(fd);
        GTEST_SKIP() << "no immutable files here (needs root on ext4 or the like)";
    }
    const auto result = plant_.Run();
    // A second regeneration, within the same second or not, keeps its own.
    const std::string between = test::ReadFile(plant_.Preset());
    test::SetIniEntry(plant_.ProgramIni(), "Project", "VWStudio", "false");
    const auto second = plant_.Run();
    flags &= ~FS_IMMUTABLE_FL;
    (void)::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    ::close(fd);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(second.exitStatus, 1);
    const std::string log = test::ReadFile(plant_.ServicePackLog());
    EXPECT_NE(log.find("was regenerated, but its previous version could not be kept as"), std::string::npos)
        << log;
    EXPECT_EQ(log.find("it is lost"), std::string::npos) << log;
    EXPECT_EQ(log.find("was left unchanged"), std::string::npos) << log;
    EXPECT_EQ(test::ReadFile(bak), "older");
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(plant_.P() + "/Torvex"))
        if (entry.path().filename().string().starts_with("Torvex.mdb.bak-"))
            kept.push_back(entry.path());
    ASSERT_EQ(kept.size(), 2u);
    std::sort(kept.begin(), kept.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b; // "-2" after its first
    });
    EXPECT_TRUE(test::ReadFile(kept[0]) == preset_) << "the version before the first run";
    EXPECT_TRUE(test::ReadFile(kept[1]) == between) << "the version before the second run";
    for (const std::string& path : kept)
        EXPECT_NE(log.find(path), std::string::npos) << log;
    EXPECT_FALSE(test::ReadFile(plant_.Preset()) == between) << "the new content is in";
}

// A damaged program ini or component configuration file: read as empty, it
// would enable no machine and replace every tuned row by nothing.
struct DamagedFile {
    const char* name;
    const char* file; // relative to the plant
    enum { Empty, Garbage, Utf16WithoutBom, Unreadable, Folder } damage;
    const char* cause;
};

void PrintTo(const DamagedFile& file, std::ostream* out) {
    *out << file.name;
}

class Damaged : public Integrity, public ::testing::WithParamInterface<DamagedFile> {};

TEST_P(Damaged, IniFilesAreReportedAndNoTunedValueIsLost) {
    const std::string path = plant_.P() + "/" + GetParam().file;
    const std::string text = test::ReadFile(path);
    std::string utf16;
    for (char c : text)
        utf16 += std::string{c, '\0'};
    RunOptions options;
    switch (GetParam().damage) {
    case DamagedFile::Empty:
        test::WriteFile(path, "");
        break;
    case DamagedFile::Garbage:
        test::WriteFile(path, std::string("\x7F\x45\x4C\x46\x02\x01\x00\x00\x91\xFF\x00\x13", 12));
        break;
    case DamagedFile::Utf16WithoutBom:
        test::WriteFile(path, utf16);
        break;
    case DamagedFile::Unreadable:
        if (!test::RunningAsRoot())
            GTEST_SKIP() << "needs root to hand the plant to another user";
        plant_.HandToUnprivilegedUser();
        ::chmod(path.c_str(), 0);
        options.unprivileged = true;
        break;
    case DamagedFile::Folder:
        std::filesystem::remove(path);
        std::filesystem::create_directory(path);
        break;
    }
    const auto result = plant_.Run(options);
    ExpectKept(result, GetParam().cause);
    EXPECT_EQ(test::ReadFile(plant_.ServicePackLog()).find("does not exist"), std::string::npos)
        << "the file is there, damaged";
}

INSTANTIATE_TEST_SUITE_P(
    Files, Damaged,
    ::testing::Values(
        DamagedFile{"EmptyProgramIni", "parameter/Program.ini", DamagedFile::Empty, "No machine found"},
        DamagedFile{"GarbageProgramIni", "parameter/Program.ini", DamagedFile::Garbage, "holds NUL bytes"},
        DamagedFile{"Utf16ProgramIni", "parameter/Program.ini", DamagedFile::Utf16WithoutBom,
                    "holds NUL bytes"},
        DamagedFile{"UnreadableProgramIni", "parameter/Program.ini", DamagedFile::Unreadable,
                    "Permission denied"},
        DamagedFile{"FolderProgramIni", "parameter/Program.ini", DamagedFile::Folder,
                    "is not used: it is a folder, not a regular file."},
        DamagedFile{"EmptyCfg", "Torvex/Torvex.cfg", DamagedFile::Empty, "no rows were generated"},
        DamagedFile{"GarbageCfg", "Torvex/Torvex.cfg", DamagedFile::Garbage, "Torvex.cfg\" cannot be read"},
        DamagedFile{"Utf16Cfg", "Torvex/Torvex.cfg", DamagedFile::Utf16WithoutBom, "holds NUL bytes"},
        DamagedFile{"UnreadableCfg", "Torvex/Torvex.cfg", DamagedFile::Unreadable, "Permission denied"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
