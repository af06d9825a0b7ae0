#include "platform/database/Connection.h"

#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/ProcessIdentity.h"
#include "platform/Text.h"
#include "platform/database/FoldCase.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

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

namespace {

// Words that would start a column constraint: never part of a type name.
bool IsConstraintWord(std::string_view word) {
    static constexpr std::string_view kConstraintWords[] = {
        "AS",  "AUTOINCREMENT", "CHECK", "COLLATE", "CONFLICT", "CONSTRAINT", "DEFAULT", "GENERATED",
        "KEY", "NOT",           "NULL",  "ON",      "PRIMARY",  "REFERENCES", "UNIQUE"};
    const std::string upper = UpperCase(word);
    return std::ranges::find(kConstraintWords, upper) != std::end(kConstraintWords);
}

// Reads a declared column type from its start, piece by piece.
class TypeNameReader {
public:
    explicit TypeNameReader(std::string_view text) : text_(text) {}
    std::size_t Position() const { return i_; }
    bool AtEnd() const { return i_ == text_.size(); }
    void SkipBlanks() {
        while (i_ < text_.size() && text_[i_] == ' ')
            ++i_;
    }
    // Takes `c` when it comes next.
    bool Take(char c) {
        if (i_ >= text_.size() || text_[i_] != c)
            return false;
        ++i_;
        return true;
    }
    // The next word of letters, digits and "_" that starts with a letter;
    // "" when none comes next.
    std::string_view Word() {
        const std::size_t first = i_;
        if (i_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[i_])))
            while (i_ < text_.size() &&
                   (std::isalnum(static_cast<unsigned char>(text_[i_])) || text_[i_] == '_'))
                ++i_;
        return text_.substr(first, i_ - first);
    }
    // Takes a whole number with an optional sign, between blanks.
    bool Number() {
        SkipBlanks();
        if (!Take('+'))
            (void)Take('-');
        const std::size_t first = i_;
        while (i_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[i_])))
            ++i_;
        const bool digits = i_ > first;
        SkipBlanks();
        return digits;
    }

private:
    std::string_view text_;
    std::size_t i_ = 0;
};

} // namespace

bool IsPlainTypeName(std::string_view type) {
    TypeNameReader read(type);
    read.SkipBlanks();
    for (std::string_view word = read.Word(); !word.empty(); word = read.Word()) {
        if (IsConstraintWord(word))
            return false;
        read.SkipBlanks();
    }
    if (read.Position() > 0 && read.Take('(')) {
        if (!read.Number() || (read.Take(',') && !read.Number()) || !read.Take(')'))
            return false;
        read.SkipBlanks();
    }
    return read.AtEnd();
}

Failure JetFileRefusal(const std::string& path, const std::string& programFolder) {
    static_assert(errnum::NotADatabase == SQLITE_NOTADB);
    return Failure(errnum::NotADatabase, kDatabaseSource,
                   "The file \"" + path +
                       "\" is an old Access (Jet) database and must be imported first; nothing was changed. "
                       "Import it with:\n\r\"" +
                       programFolder + "/Torvex_ImportJet\" --in-place \"" + path + "\"");
}

bool IsJetFile(const std::string& path) {
    Descriptor file;
    if (TryOpenForReading(path, file)) // never blocks on a FIFO or a device
        return false;
    char head[20] = {};
    const ssize_t n = ::read(file.Get(), head, sizeof head);
    return n == static_cast<ssize_t>(sizeof head) && (std::memcmp(head + 4, "Standard Jet DB", 15) == 0 ||
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
        if (kind == Kind::Whole)
            return ColumnInt(column);
        return Coerce(kind, ColumnInt(column));
    case SQLITE_FLOAT:
        if (kind == Kind::Number)
            return sqlite3_column_double(stmt_, column);
        return Coerce(kind, sqlite3_column_double(stmt_, column));
    default:
        if (kind == Kind::Text)
            return ColumnText(column);
        return Coerce(kind, ColumnText(column));
    }
}

Connection::Connection(const std::string& path, OpenMode mode) : path_(path) {
    // Memory statistics would take a global lock on every allocation; only
    // possible before SQLite starts, and harmless when it already has.
    static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    (void)configured;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw Failure(SQLITE_CANTOPEN, kDatabaseSource, "not a regular file: " + path);
    if (IsJetFile(path))
        throw JetFileRefusal(path, ExecutableFolder());
    // One thread uses a connection: SQLite's own locking would only cost time.
    const int flags =
        (mode == OpenMode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const Failure failure(rc, kDatabaseSource, std::string(sqlite3_errstr(rc)) + ": " + path);
        sqlite3_close(db_);
        db_ = nullptr;
        throw failure;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // A file from elsewhere must not run its own code during our work.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_create_collation(db_, kNoCaseCollation, SQLITE_UTF8, nullptr, CollateNoCase);
    try {
        // Reads the schema: a damaged, foreign or locked file fails here.
        if (mode == OpenMode::ReadWrite)
            Execute("PRAGMA journal_mode=DELETE");
        if (mode == OpenMode::Scratch) {
            Execute("PRAGMA journal_mode=MEMORY");
            Execute("PRAGMA synchronous=OFF");
        }
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

namespace {

// Prepares exactly one statement: text after it (other than blanks) is a failure.
sqlite3_stmt* PrepareOne(sqlite3* db, const std::string& sql, const std::string& path) {
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, &tail);
    if (rc != SQLITE_OK)
        FailWith(db, rc, path);
    while (tail && *tail && std::isspace(static_cast<unsigned char>(*tail)))
        ++tail;
    if (!stmt || (tail && *tail)) {
        sqlite3_finalize(stmt);
        throw Failure(SQLITE_MISUSE, kDatabaseSource, "not exactly one SQL statement: " + path);
    }
    return stmt;
}

} // namespace

Statement& Connection::Prepare(const std::string& sql) {
    auto it = statements_.find(sql);
    if (it != statements_.end()) {
        it->second->Reset();
        return *it->second;
    }
    sqlite3_stmt* stmt = PrepareOne(db_, sql, path_);
    return *statements_.emplace(sql, std::make_unique<Statement>(db_, stmt)).first->second;
}

std::unique_ptr<Statement> Connection::PrepareOwned(const std::string& sql) {
    return std::make_unique<Statement>(db_, PrepareOne(db_, sql, path_));
}

void Connection::Execute(const std::string& sql) {
    Statement(db_, PrepareOne(db_, sql, path_)).Run();
}

void Connection::ResetStatements() {
    // A statement that is still stepping would keep a table from being
    // dropped or changed; reset ones prepare themselves anew when used again.
    for (auto& [sql, stmt] : statements_)
        stmt->Reset();
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

void Connection::VacuumInto(const std::string& path) {
    ResetStatements();
    auto vacuum = PrepareOwned("VACUUM INTO ?1");
    vacuum->Bind(1, path).Run();
}

std::string Connection::JournalMode() {
    auto& stmt = Prepare("PRAGMA journal_mode");
    const std::string mode = stmt.Step() ? stmt.ColumnText(0) : std::string();
    stmt.Reset();
    return mode;
}

bool Connection::ReplaceContentWith(Connection& source, const std::function<bool()>& onceLocked) {
    ResetStatements();
    struct Backup {
        sqlite3_backup* handle;
        // An unfinished backup is rolled back; finishing sets the error of `db_`.
        int Finish() { return sqlite3_backup_finish(std::exchange(handle, nullptr)); }
        ~Backup() { Finish(); }
    } backup{sqlite3_backup_init(db_, "main", source.db_, "main")};
    if (!backup.handle)
        FailWith(db_, sqlite3_errcode(db_), path_);
    // No page yet: this takes the file's lock and keeps it until the end.
    int rc = sqlite3_backup_step(backup.handle, 0);
    if (rc == SQLITE_OK && onceLocked && !onceLocked())
        return false;
    if (rc == SQLITE_OK)
        rc = sqlite3_backup_step(backup.handle, -1);
    backup.Finish();
    if (rc != SQLITE_DONE)
        FailWith(db_, rc == SQLITE_OK ? SQLITE_ERROR : rc, path_);
    return true;
}

std::uint32_t Connection::ChangesSeen() {
    unsigned int version = 0;
    const int rc = sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &version);
    if (rc != SQLITE_OK)
        FailWith(db_, rc, path_);
    return version;
}

std::int64_t Connection::OthersChangesSeen() {
    auto& stmt = Prepare("PRAGMA data_version");
    const std::int64_t version = stmt.Step() ? stmt.ColumnInt(0) : 0;
    stmt.Reset();
    return version;
}

bool Connection::HasRowid(const std::string& table) {
    auto& stmt = Prepare("SELECT type = 'table' AND NOT wr FROM pragma_table_list WHERE schema = 'main' AND "
                         "name = ?1");
    stmt.Bind(1, table);
    const bool rowid = stmt.Step() && stmt.ColumnInt(0) != 0;
    stmt.Reset();
    return rowid;
}

void Connection::DropTable(const std::string& table) {
    ResetStatements();
    Execute("DROP TABLE " + QuoteIdentifier(table));
}

void Connection::CreateTable(const std::string& table, const std::vector<ColumnDef>& columns) {
    std::string sql = "CREATE TABLE " + QuoteIdentifier(table) + " (";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (!IsPlainTypeName(columns[i].type))
            throw Failure(SQLITE_ERROR, kDatabaseSource,
                          "the column \"" + columns[i].name +
                              "\" has a declared type that is no plain type " + "name and is not used: \"" +
                              columns[i].type + "\"");
        sql += (i ? ", " : "") + QuoteIdentifier(columns[i].name);
        if (!columns[i].type.empty())
            sql += " " + columns[i].type;
    }
    Execute(sql + ")");
}

void Connection::RenameColumn(const std::string& table, const std::string& from, const std::string& to) {
    ResetStatements();
    Execute("ALTER TABLE " + QuoteIdentifier(table) + " RENAME COLUMN " + QuoteIdentifier(from) + " TO " +
            QuoteIdentifier(to));
}

void Connection::Begin() {
    if (!InTransaction())
        Execute("BEGIN IMMEDIATE");
}

void Connection::BeginRead() {
    if (InTransaction())
        return;
    Execute("BEGIN");
    Prepare("SELECT count(*) FROM sqlite_schema").Run();
}

void Connection::Commit() {
    if (InTransaction())
        Execute("COMMIT");
}

bool Connection::InTransaction() const {
    return !sqlite3_get_autocommit(db_);
}

bool SameDatabaseContent(const std::string& a, const std::string& b) {
    struct stat left {
    }, right{};
    if (::stat(a.c_str(), &left) != 0 || ::stat(b.c_str(), &right) != 0 || left.st_size != right.st_size ||
        left.st_size < 100)
        return false;
    Descriptor fileA, fileB;
    bool same = !TryOpenForReading(a, fileA) && !TryOpenForReading(b, fileB);
    const int fa = fileA.Get(), fb = fileB.Get();
    constexpr std::size_t kBlock = 1 << 16;
    std::vector<char> x(kBlock), y(kBlock);
    for (off_t at = 0; same && at < left.st_size; at += static_cast<off_t>(kBlock)) {
        const ssize_t n = ::pread(fa, x.data(), kBlock, at);
        same = n > 0 && ::pread(fb, y.data(), kBlock, at) == n;
        if (same && at == 0) {
            // Bytes 24..27 and 92..99 count commits and name the writing library;
            // 40..43 count schema changes, which a copy of the whole file makes one.
            for (const auto& [from, to] : {std::pair{24, 28}, {40, 44}, {92, 100}})
                std::fill(x.begin() + from, x.begin() + to, 0),
                    std::fill(y.begin() + from, y.begin() + to, 0);
        }
        same = same && std::equal(x.begin(), x.begin() + n, y.begin());
    }
    return same;
}

void CopyDatabaseInto(const std::string& source, platform::TempFile& into) {
    // Opened before and closed after SQLite holds the file's shared lock:
    // closing a descriptor of the file lets go of every lock of this process on it.
    Descriptor file;
    std::error_code why = TryOpenForReading(source, file);
    {
        Connection db(source, OpenMode::ReadOnly);
        db.BeginRead();
        if (!why)
            why = into.TryCopyFrom(file.Get());
        db.Commit();
    }
    // A full disk or a size limit is the copy's, not the source's.
    if (why == std::errc::no_space_on_device || why.value() == EDQUOT || why == std::errc::file_too_large)
        RaiseCopyFailure(source, into.Folder(), why);
    if (why)
        RaiseFileError(why, source);
}

std::int64_t Connection::LastInsertRowid() const {
    return sqlite3_last_insert_rowid(db_);
}

} // namespace torvex::platform::db
