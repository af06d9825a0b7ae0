#include "support/SqlHelpers.h"

#include <sqlite3.h>
#include <stdexcept>

namespace torvex::test {

namespace {

struct Db {
    explicit Db(const std::string& path) {
        if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
            throw std::runtime_error("cannot open " + path);
    }
    ~Db() { sqlite3_close(db); }
    sqlite3* db = nullptr;
};

} // namespace

void MakeDatabase(const std::string& path, const std::string& sql) {
    Db db(path);
    char* error = nullptr;
    if (sqlite3_exec(db.db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "?";
        sqlite3_free(error);
        throw std::runtime_error("SQL failed: " + message);
    }
}

std::vector<std::vector<std::string>> Query(const std::string& path, const std::string& sql) {
    Db db(path);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db.db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string("query failed: ") + sqlite3_errmsg(db.db));
    std::vector<std::vector<std::string>> rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            const auto* text = sqlite3_column_text(stmt, i);
            row.push_back(text ? reinterpret_cast<const char*>(text) : "NULL");
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return rows;
}

std::string QueryOne(const std::string& path, const std::string& sql) {
    const auto rows = Query(path, sql);
    return rows.empty() || rows[0].empty() ? std::string("<none>") : rows[0][0];
}

} // namespace torvex::test
