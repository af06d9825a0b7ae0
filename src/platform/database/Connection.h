#pragma once

#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/database/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace torvex::platform::db {

// A column as a table definition holds it: its name, its declared type
// text (copied as it stands when a layout is copied) and the size in
// parentheses of that type.
struct ColumnDef {
    std::string name;
    std::string type;
    int size = 0;
    bool operator==(const ColumnDef&) const = default;
};

// A prepared statement. Reset and cleared each time it is handed out again.
class Statement {
public:
    Statement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Binds the parameters 1..n in order.
    Statement& Bind(int index, const Value& value);
    // The same without copying a text: the caller keeps `value` alive until
    // the statement has run.
    Statement& Bind(int index, const Value& value, bool keptAlive);
    // Binds bytes as a BLOB.
    Statement& BindBlob(int index, const void* data, std::size_t size);
    // Steps once; true while a row is there.
    bool Step();
    // Steps until done, for statements that return no rows.
    void Run();
    void Reset();
    // The value of a column of the current row, read as a column of `kind`.
    Value Column(int column, Kind kind) const;
    std::int64_t ColumnInt(int column) const;
    std::string ColumnText(int column) const;

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_;
};

// How a database file is opened. A scratch file is one that nobody else
// reads until it is finished and flushed: its journal is kept in memory and
// it is written without flushes of its own.
// Recover opens for writing only so that SQLite can roll back what a crashed
// writer left, and keeps the file's journal mode.
enum class OpenMode { ReadWrite, ReadOnly, Scratch, Recover };

// One open database file. Failures of the engine are thrown as Failures
// with SQLite's extended result code, its message and the source "SQLite".
//
// Files may come from elsewhere, so every connection is defensive: the
// schema cannot call functions with side effects, triggers stored in a file
// never fire, and each call runs exactly one statement.
class Connection {
public:
    // Opens an existing database file, shared. A missing, locked, damaged or
    // non-database file is a failure, and so is a path that is no regular
    // file (a FIFO or device is never opened); a file that is an old Jet/ACE
    // database is refused with its JetFileRefusal.
    explicit Connection(const std::string& path, OpenMode mode = OpenMode::ReadWrite);
    // Closing commits an open transaction, so that the work done before a
    // program end stays in the file as each single write would have.
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const std::string& Path() const { return path_; }

    // Table definitions.
    std::vector<std::string> TableNames();
    // The columns of `table` in ordinal order; a failure when there is no such table.
    std::vector<ColumnDef> Columns(const std::string& table);
    // Writes a compact copy of the database to the empty file `path`: the
    // same content always gives the same pages.
    void VacuumInto(const std::string& path);
    // The journal mode ("delete", "wal", ...).
    std::string JournalMode();
    // Gives the database the whole content of `source` in one transaction,
    // under this file's own locking (SQLite's online backup): connections
    // that other programs hold open see the new content, and a crash leaves
    // the old one. Waits for another program's transaction as long as the
    // busy timeout allows. `onceLocked`, when given, runs as soon as this
    // file is locked for the new content (no other program reads or writes
    // it until the content is in, and a journal a crashed writer left has
    // been rolled back); when it answers false, or throws, nothing is
    // replaced and the lock is let go. Returns whether the content was replaced.
    bool ReplaceContentWith(Connection& source, const std::function<bool()>& onceLocked = {});
    // How often this connection has seen the file change: every commit,
    // by any connection or program, that it noticed when it last began a
    // transaction (SQLite's data version of the file). Equal values taken
    // in two transactions mean that nobody committed in between.
    std::uint32_t ChangesSeen();
    // PRAGMA data_version: the same, less this connection's own commits.
    std::int64_t OthersChangesSeen();

    // True when `table` stores its rows by rowid (not WITHOUT ROWID, not a view).
    bool HasRowid(const std::string& table);
    void DropTable(const std::string& table);
    // Creates `table` with the columns' names and declared types. A declared
    // type that is not a plain type name (words, optionally "(n)" or
    // "(p,s)") is a failure naming the column: it is never run as SQL.
    void CreateTable(const std::string& table, const std::vector<ColumnDef>& columns);
    void RenameColumn(const std::string& table, const std::string& from, const std::string& to);

    // A prepared statement for `sql` (one statement), kept for reuse for the
    // life of the connection; a reference stays valid as long as the connection.
    Statement& Prepare(const std::string& sql);
    // A prepared statement of the caller's own, for a scan that runs beside others.
    std::unique_ptr<Statement> PrepareOwned(const std::string& sql);
    // Runs one statement that returns no rows.
    void Execute(const std::string& sql);

    // Begins a write transaction unless one is open; Commit ends it.
    void Begin();
    // Begins a read transaction and takes the file's shared lock at once, so
    // that no other process can commit into the file until Commit.
    void BeginRead();
    void Commit();
    bool InTransaction() const;
    // The rowid of the row that the last INSERT added.
    std::int64_t LastInsertRowid() const;

private:
    void ResetStatements();

    std::string path_;
    sqlite3* db_ = nullptr;
    std::unordered_map<std::string, std::unique_ptr<Statement>> statements_;
};

// True when two database files hold the same content: every byte alike but
// the counters in the file's header that commits and copies change.
bool SameDatabaseContent(const std::string& a, const std::string& b);

// Copies the database file `source` into `into`, holding the source's shared
// lock while its bytes are read, so that no other process can commit into it
// meanwhile. Throws a Failure naming the file that failed.
void CopyDatabaseInto(const std::string& source, platform::TempFile& into);

// `name` quoted as an SQL identifier.
std::string QuoteIdentifier(std::string_view name);

// True when the file starts like an old Jet or ACE (.mdb/.accdb) database.
bool IsJetFile(const std::string& path);

// The failure (NotADatabase, source "SQLite") that refuses the old Jet file
// at `path`: it says that nothing was changed and gives the command that
// imports the file with the import tool installed in `programFolder`.
Failure JetFileRefusal(const std::string& path, const std::string& programFolder);

// True when `declaredType` has the plain form of a column type: words of
// letters, digits and "_" (the first a letter) separated by blanks,
// optionally followed by "(n)" or "(p,s)". Empty is plain too.
bool IsPlainTypeName(std::string_view declaredType);

} // namespace torvex::platform::db
