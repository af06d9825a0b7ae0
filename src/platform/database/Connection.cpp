#include "platform/database/Connection.h"

#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/database/FoldCase.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstring>

namespace torvex::platform::db {
namespace {

// How long a statement waits for another process's lock before it fails.
constexpr int kBusyTimeoutMs = 3000;

int CollateNoCase(void*, int lengthA, const void* a, int lengthB, const void* b) {
    return CompareNoCase(std::string_view(static_cast<const char*>(a), static_cast<std::size_t>(lengthA)),
                         std::string_view(static_cast<const char*>(b), static_cast<std::size_t>(lengthB)));
}

[[noreturn]] void FailWith(sqlite3* db, int code, const std::string& path) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    if (!path.empty())
        message += ": " + path;
    throw Failure(db ? sqlite3_extended_errcode(db) : code, kDatabaseSource, message);
}

} // namespace

std::string QuoteIdentifier(std::string_view name) {
    std::string quoted = "\"";
    for (char c : name) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + "\"";
}

bool IsJetFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    char head[20] = {};
    const std::size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return n == sizeof head && (std::memcmp(head + 4, "Standard Jet DB", 15) == 0 ||
                                std::memcmp(head + 4, "Standard ACE DB", 15) == 0);
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::Bind(int index, const Value& value) {
    return Bind(index, value, false);
}

Statement& Statement::Bind(int index, const Value& value, bool keptAlive) {
    const auto lifetime = keptAlive ? SQLITE_STATIC : SQLITE_TRANSIENT;
    int rc = SQLITE_OK;
    if (const auto* s = std::get_if<std::string>(&value))
        rc = sqlite3_bind_text(stmt_, index, s->data(), static_cast<int>(s->size()), lifetime);
    else if (const auto* i = std::get_if<std::int64_t>(&value))
        rc = sqlite3_bind_int64(stmt_, index, *i);
    else if (const auto* d = std::get_if<double>(&value))
        rc = sqlite3_bind_double(stmt_, index, *d);
    else if (const auto* b = std::get_if<bool>(&value))
        rc = sqlite3_bind_int(stmt_, index, *b ? 1 : 0);
    else if (const auto* date = std::get_if<Date>(&value))
        rc =
            sqlite3_bind_text(stmt_, index, date->text.data(), static_cast<int>(date->text.size()), lifetime);
    else
        rc = sqlite3_bind_null(stmt_, index);
    if (rc != SQLITE_OK)
        FailWith(db_, rc, {});
    return *this;
}

Statement& Statement::BindBlob(int index, const void* data, std::size_t size) {
    const int rc = sqlite3_bind_blob64(stmt_, index, data, size, SQLITE_TRANSIENT);
    if (rc != SQLITE_OK)
        FailWith(db_, rc, {});
    return *this;
}

bool Statement::Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3_reset(stmt_);
    FailWith(db_, rc, sqlite3_db_filename(db_, "main"));
}

void Statement::Run() {
    while (Step()) {
    }
}

void Statement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

std::int64_t Statement::ColumnInt(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

bool Statement::ColumnIsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::string Statement::ColumnText(int column) const {
    const auto* text = sqlite3_column_text(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                : std::string();
}

Value Statement::Column(int column, Kind kind) const {
    switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_NULL:
        return std::monostate{};
    case SQLITE_INTEGER:
        return Coerce(kind, ColumnInt(column));
    case SQLITE_FLOAT:
        return Coerce(kind, sqlite3_column_double(stmt_, column));
    default:
        return Coerce(kind, ColumnText(column));
    }
}

Connection::Connection(const std::string& path) : path_(path) {
    // Memory statistics would take a global lock on every allocation; only
    // possible before SQLite starts, and harmless when it already has.
    static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    (void)configured;
    if (IsJetFile(path))
        throw Failure(SQLITE_NOTADB, kDatabaseSource,
                      "The file \"" + path +
                          "\" is an old Access (Jet) database and must be imported first: " +
                          "Torvex_ImportJet --in-place \"" + path + "\"");
    // One thread uses a connection: SQLite's own locking would only cost time.
    const int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const Failure failure(rc, kDatabaseSource, std::string(sqlite3_errstr(rc)) + ": " + path);
        sqlite3_close(db_);
        db_ = nullptr;
        throw failure;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_create_collation(db_, kNoCaseCollation, SQLITE_UTF8, nullptr, CollateNoCase);
    try {
        // Reads the schema: a damaged, foreign or locked file fails here.
        Execute("PRAGMA journal_mode=DELETE");
        Prepare("SELECT count(*) FROM sqlite_schema").Run();
    } catch (...) {
        statements_.clear();
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

Connection::~Connection() {
    statements_.clear();
    if (db_) {
        if (!sqlite3_get_autocommit(db_) &&
            sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
    }
}

void Connection::Fail(int code) const {
    FailWith(db_, code, path_);
}

Statement& Connection::Prepare(const std::string& sql) {
    auto it = statements_.find(sql);
    if (it != statements_.end()) {
        it->second->Reset();
        return *it->second;
    }
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc != SQLITE_OK)
        FailWith(db_, rc, path_);
    return *statements_.emplace(sql, std::make_unique<Statement>(db_, stmt)).first->second;
}

std::unique_ptr<Statement> Connection::PrepareOwned(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc != SQLITE_OK)
        FailWith(db_, rc, path_);
    return std::make_unique<Statement>(db_, stmt);
}

void Connection::Execute(const std::string& sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        sqlite3_free(error);
        FailWith(db_, rc, path_);
    }
}

std::vector<std::string> Connection::TableNames() {
    auto& stmt = Prepare("SELECT name FROM sqlite_schema WHERE type='table' AND name NOT LIKE 'sqlite\\_%' "
                         "ESCAPE '\\' ORDER BY rowid");
    std::vector<std::string> names;
    while (stmt.Step())
        names.push_back(stmt.ColumnText(0));
    return names;
}

std::vector<ColumnDef> Connection::Columns(const std::string& table) {
    auto& stmt = Prepare("SELECT name, type FROM pragma_table_info(?1) ORDER BY cid");
    stmt.Bind(1, table);
    std::vector<ColumnDef> columns;
    while (stmt.Step()) {
        std::string type = stmt.ColumnText(1);
        const int size = SizeOfDeclaredType(type);
        columns.push_back({stmt.ColumnText(0), std::move(type), size});
    }
    if (columns.empty())
        throw Failure(SQLITE_ERROR, kDatabaseSource, "no such table: " + table);
    return columns;
}

void Connection::DropTable(const std::string& table) {
    statements_.clear(); // statements on the table would keep it alive
    Execute("DROP TABLE " + QuoteIdentifier(table));
}

void Connection::CreateTable(const std::string& table, const std::vector<ColumnDef>& columns) {
    std::string sql = "CREATE TABLE " + QuoteIdentifier(table) + " (";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        sql += (i ? ", " : "") + QuoteIdentifier(columns[i].name);
        if (!columns[i].type.empty())
            sql += " " + columns[i].type;
    }
    Execute(sql + ")");
}

void Connection::RenameColumn(const std::string& table, const std::string& from, const std::string& to) {
    statements_.clear();
    Execute("ALTER TABLE " + QuoteIdentifier(table) + " RENAME COLUMN " + QuoteIdentifier(from) + " TO " +
            QuoteIdentifier(to));
}

void Connection::Begin() {
    if (!InTransaction())
        Execute("BEGIN IMMEDIATE");
}

void Connection::Commit() {
    if (InTransaction())
        Execute("COMMIT");
}

void Connection::Rollback() {
    if (InTransaction())
        Execute("ROLLBACK");
}

bool Connection::InTransaction() const {
    return !sqlite3_get_autocommit(db_);
}

std::int64_t Connection::LastInsertRowid() const {
    return sqlite3_last_insert_rowid(db_);
}

} // namespace torvex::platform::db
