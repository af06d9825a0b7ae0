#include "platform/Failure.h"
#include "platform/ProcessIdentity.h"
#include "platform/database/Connection.h"
#include "platform/database/FoldCase.h"
#include "platform/database/ReadCopy.h"
#include "platform/database/Recordset.h"
#include "support/SqlHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

using namespace torvex::platform;
using namespace torvex::platform::db;
using torvex::test::TempDir;

namespace {

TEST(DeclaredType, GivesKindAndSize) {
    EXPECT_EQ(KindOfDeclaredType("BOOLEAN INTEGER"), Kind::Boolean);
    EXPECT_EQ(KindOfDeclaredType("DATETIME TEXT"), Kind::Date);
    EXPECT_EQ(KindOfDeclaredType("CURRENCY NUMERIC"), Kind::Number);
    EXPECT_EQ(KindOfDeclaredType("SMALLINT"), Kind::Whole);
    EXPECT_EQ(KindOfDeclaredType("double"), Kind::Number);
    EXPECT_EQ(KindOfDeclaredType("MEMO TEXT"), Kind::Text);
    EXPECT_EQ(KindOfDeclaredType(""), Kind::Text);
    EXPECT_EQ(SizeOfDeclaredType("TEXT(50)"), 50);
    EXPECT_EQ(SizeOfDeclaredType("TEXT"), 0);
}

TEST(FoldCase, IgnoresLetterCaseForAllLettersButKeepsAccents) {
    EXPECT_EQ(FoldCase("ÄÖÜ Straße ABC"), FoldCase("äöü STRASSE abc"));
    EXPECT_NE(FoldCase("é"), FoldCase("e"));
    EXPECT_EQ(CompareNoCase("Ä", "ä"), 0);
    // Beyond Latin-1, through ICU; a byte that is no UTF-8 folds as U+FFFD.
    EXPECT_EQ(FoldCase("ΣΟΦΙΑ Жук"), FoldCase("σοφια жУК"));
    EXPECT_EQ(FoldCase("Ж\xFF"), FoldCase("ж\xFE"));
}

class Database : public ::testing::Test {
protected:
    void SetUp() override {
        torvex::test::MakeDatabase(path_, "CREATE TABLE T (ID INTEGER, name TEXT(20), flag BOOLEAN INTEGER, "
                                          "amount DOUBLE, at DATETIME TEXT);"
                                          "INSERT INTO T VALUES (2, 'Äpfel', 1, 1.5, '2024-01-02 03:04:05'), "
                                          "(1, 'birnen', 0, NULL, NULL);");
    }
    TempDir dir_;
    std::string path_ = dir_ / "t.mdb";
};

TEST_F(Database, ReadsValuesWithTheKindsOfTheirColumns) {
    Connection db(path_);
    auto rs = Recordset::OnTable(db, "T");
    EXPECT_EQ(rs.RecordCount(), 2u);
    EXPECT_EQ(rs.Get("id"), Value(std::int64_t{2}));
    EXPECT_EQ(rs.Get("name"), Value(std::string("Äpfel")));
    EXPECT_EQ(rs.Get("flag"), Value(true));
    EXPECT_EQ(rs.Get("amount"), Value(1.5));
    EXPECT_EQ(rs.Get("at"), Value(Date{"2024-01-02 03:04:05"}));
    rs.MoveNext();
    EXPECT_EQ(rs.Get("amount"), Value());
    rs.MoveNext();
    EXPECT_TRUE(rs.IsEOF());
    EXPECT_THROW(rs.Get("name"), Failure);
}

TEST_F(Database, QueriesCompareTextWithoutLetterCase) {
    Connection db(path_);
    auto rs = Recordset::OnQuery(db, "T", "name = ?1 COLLATE TORVEX_NOCASE", {std::string("ÄPFEL")}, "ID");
    ASSERT_EQ(rs.RecordCount(), 1u);
    EXPECT_EQ(rs.Get("ID"), Value(std::int64_t{2}));
}

TEST(DeclaredType, OnlyPlainTypeNamesAreEverUsed) {
    for (const char* plain :
         {"", "TEXT(50)", "DECIMAL(10, 2)", "BOOLEAN INTEGER", "varchar ( 5 )", "INT8", "NUMERIC(+10,-2)"})
        EXPECT_TRUE(IsPlainTypeName(plain)) << plain;
    for (const char* other :
         {"TEXT); DROP TABLE T; --", "INT DEFAULT 5", "TEXT(50) COLLATE x", "(5)", "TEXT(5", "TEXT(a)",
          "INT CHECK(1)", "TEXT\nX", "TEXT(5)x", "DECIMAL(10,)", "TEXT(5,2,1)", "1INT", "INT -5"})
        EXPECT_FALSE(IsPlainTypeName(other)) << other;
}

TEST_F(Database, AFileFromElsewhereRunsNoCodeOfItsOwn) {
    torvex::test::MakeDatabase(path_, "CREATE TABLE Log (n INTEGER);"
                                      "CREATE TRIGGER Wipe AFTER INSERT ON T BEGIN DELETE FROM T; "
                                      "INSERT INTO Log VALUES (1); END;"
                                      "CREATE TABLE K (k TEXT PRIMARY KEY, v INTEGER) WITHOUT ROWID;"
                                      "INSERT INTO K VALUES ('b', 2), ('a', 1);");
    Connection db(path_);
    db.Prepare("INSERT INTO T (ID) VALUES (3)").Run();
    EXPECT_EQ(torvex::test::QueryOne(path_, "SELECT count(*) FROM T"), "3") << "the trigger must not fire";
    EXPECT_EQ(torvex::test::QueryOne(path_, "SELECT count(*) FROM Log"), "0");
    EXPECT_THROW(db.Execute("DELETE FROM T; DELETE FROM K"), Failure) << "one statement per call";
    EXPECT_THROW(db.CreateTable("X", {{"a", "TEXT); DELETE FROM T; --", 0}}), Failure);
    EXPECT_EQ(torvex::test::QueryOne(path_, "SELECT count(*) FROM T"), "3");
    auto keyed = Recordset::OnTable(db, "K"); // WITHOUT ROWID: key order
    EXPECT_EQ(keyed.Get("k"), Value(std::string("a")));
}

TEST_F(Database, SpecialFilesAreRefusedWithoutBlocking) {
    const std::string fifo = dir_ / "fifo.mdb";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(Connection{fifo}, Failure);
    EXPECT_THROW(Connection(dir_.Path(), OpenMode::ReadOnly), Failure) << "a folder";
}

TEST_F(Database, TableDefinitionsCanBeCopiedDroppedAndRenamed) {
    Connection db(path_);
    db.CreateTable("Copy", db.Columns("T"));
    EXPECT_EQ(db.Columns("Copy"), db.Columns("T"));
    EXPECT_EQ(db.Columns("Copy")[1], (ColumnDef{"name", "TEXT(20)", 20}));
    db.RenameColumn("Copy", "name", "label");
    EXPECT_EQ(db.Columns("Copy")[1].name, "label");
    EXPECT_THROW(db.RenameColumn("Copy", "label", "ID"), Failure);
    db.DropTable("Copy");
    EXPECT_EQ(db.TableNames(), std::vector<std::string>{"T"});
}

TEST_F(Database, OpenFailuresCarrySQLiteCodes) {
    try {
        Connection db(dir_ / "missing.mdb");
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.Source(), "SQLite");
        EXPECT_EQ(f.Number() & 0xFF, SQLITE_CANTOPEN);
    }
    torvex::test::WriteFile(dir_ / "junk.mdb", std::string(5000, 'j'));
    try {
        Connection db(dir_ / "junk.mdb");
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.Number(), SQLITE_NOTADB);
    }
    // An old Jet file is never handed to SQLite; it is refused with the
    // command that imports it.
    std::string jet(2048, '\0');
    jet.replace(4, 15, "Standard Jet DB");
    torvex::test::WriteFile(dir_ / "old.mdb", jet);
    try {
        Connection db(dir_ / "old.mdb");
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.Number(), SQLITE_NOTADB);
        EXPECT_NE(f.Description().find("nothing was changed. Import it with:\n\r\"" +
                                       torvex::platform::ExecutableFolder() +
                                       "/Torvex_ImportJet\" --in-place"),
                  std::string::npos)
            << f.Description();
    }
    EXPECT_EQ(torvex::test::ReadFile(dir_ / "old.mdb"), jet);
}

TEST_F(Database, ALockedFileFailsWithinTheBusyTimeout) {
    sqlite3* other = nullptr;
    sqlite3_open(path_.c_str(), &other);
    sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    try {
        Connection db(path_);
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.Number() & 0xFF, SQLITE_BUSY);
        EXPECT_NE(f.Description().find(path_), std::string::npos);
    }
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
}

// A file that is only read is read as its writers left it, and left as it
// lies: a write-ahead log that holds the last commits is read with it, and
// neither it nor the file is checkpointed, changed or added to.
TEST(ReadCopy, ReadsWhatAWriteAheadLogHoldsAndWritesNothingBesideTheFile) {
    TempDir dir;
    const std::string path = dir / "live.mdb";
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer,
                           "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; CREATE TABLE t (x); "
                           "INSERT INTO t VALUES (1), (2), (3);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const std::string before = torvex::test::FolderState(dir.Path());
    {
        const ReadCopy copy(path);
        Connection db(copy.Path(), OpenMode::ReadOnly);
        auto& count = db.Prepare("SELECT count(*) FROM t");
        ASSERT_TRUE(count.Step());
        EXPECT_EQ(count.ColumnInt(0), 3);
    }
    EXPECT_EQ(torvex::test::FolderState(dir.Path()), before);
    sqlite3_close(writer);

    // A file that cannot be copied fails with its own name, where it is used.
    const ReadCopy missing(dir / "missing.mdb");
    try {
        (void)missing.Path();
        FAIL() << "a missing file was read";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.Number(), SQLITE_CANTOPEN);
        EXPECT_NE(failure.Description().find(dir / "missing.mdb"), std::string::npos);
    }
}

} // namespace
