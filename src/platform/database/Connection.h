#pragma once

#include "platform/database/Value.h"

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
    bool ColumnIsNull(int column) const;

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_;
};

// One open database file. Failures of the engine are thrown as Failures
// with SQLite's extended result code, its message and the source "SQLite".
class Connection {
public:
    // Opens an existing database file, shared and writable. A missing,
    // locked, damaged or non-database file is a failure; a file that is an
    // old Jet/ACE database is refused with a message that names it.
    explicit Connection(const std::string& path);
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
    void DropTable(const std::string& table);
    void CreateTable(const std::string& table, const std::vector<ColumnDef>& columns);
    void RenameColumn(const std::string& table, const std::string& from, const std::string& to);

    // A prepared statement for `sql`, kept for reuse for the life of the connection.
    Statement& Prepare(const std::string& sql);
    // A prepared statement of the caller's own, for a scan that runs beside others.
    std::unique_ptr<Statement> PrepareOwned(const std::string& sql);
    void Execute(const std::string& sql);

    // Begins a transaction unless one is open; Commit ends it.
    void Begin();
    void Commit();
    void Rollback();
    bool InTransaction() const;
    // The rowid of the row that the last INSERT added.
    std::int64_t LastInsertRowid() const;

    [[noreturn]] void Fail(int code) const;

private:
    std::string path_;
    sqlite3* db_ = nullptr;
    std::unordered_map<std::string, std::unique_ptr<Statement>> statements_;
};

// `name` quoted as an SQL identifier.
std::string QuoteIdentifier(std::string_view name);

// True when the file starts like an old Jet or ACE (.mdb/.accdb) database.
bool IsJetFile(const std::string& path);

} // namespace torvex::platform::db
