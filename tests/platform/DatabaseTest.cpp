#include "platform/Failure.h"
#include "platform/database/Connection.h"
#include "platform/database/FoldCase.h"
#include "platform/database/Recordset.h"
#include "support/SqlHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

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
    EXPECT_EQ(TypeName(rs.Get("name")), "STRING");
    EXPECT_EQ(rs.Get("flag"), Value(true));
    EXPECT_EQ(rs.Get("amount"), Value(1.5));
    EXPECT_EQ(rs.Get("at"), Value(Date{"2024-01-02 03:04:05"}));
    rs.MoveNext();
    EXPECT_EQ(TypeName(rs.Get("amount")), "NULL");
    rs.MoveNext();
    EXPECT_TRUE(rs.IsEOF());
    EXPECT_THROW(rs.Get("name"), Failure);
}

TEST_F(Database, QueriesCompareTextWithoutLetterCaseAndWriteBack) {
    Connection db(path_);
    auto rs = Recordset::OnQuery(db, "T", "name = ?1 COLLATE TORVEX_NOCASE", {std::string("ÄPFEL")}, "ID");
    ASSERT_EQ(rs.RecordCount(), 1u);
    rs.Edit();
    rs.Set("amount", std::string("2.25"));
    rs.Update();
    EXPECT_THROW(rs.Set("amount", 1.0), Failure) << "no Edit";
    rs.AddNew();
    EXPECT_THROW(rs.Set("amount", std::string("abc")), Failure) << "a text is no number";
    rs.Set("ID", std::int64_t{3});
    rs.Update();
    EXPECT_EQ(torvex::test::Query(path_, "SELECT ID, amount FROM T ORDER BY rowid"),
              (std::vector<std::vector<std::string>>{{"2", "2.25"}, {"1", "NULL"}, {"3", "NULL"}}));
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

} // namespace
