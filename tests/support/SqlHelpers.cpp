#include "support/SqlHelpers.h"

#include "support/TempDir.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
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

void LeaveHotJournal(const std::string& path, const std::string& sql) {
    const pid_t child = ::fork();
    if (child == 0) {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, ("PRAGMA journal_mode=DELETE; PRAGMA cache_size=1; BEGIN; " + sql).c_str(), nullptr,
                     nullptr, nullptr);
        ::_exit(0); // no commit, no rollback, no close
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    struct stat st {};
    if (::stat((path + "-journal").c_str(), &st) != 0 || st.st_size == 0)
        throw std::runtime_error("no hot journal beside " + path);
}

std::string FolderState(const std::string& folder) {
    const auto stamp = [](const std::string& path) {
        struct stat st {};
        ::lstat(path.c_str(), &st);
        return std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
               std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_ctim.tv_sec) + "." +
               std::to_string(st.st_ctim.tv_nsec);
    };
    std::map<std::string, std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        entries[entry.path()] =
            stamp(entry.path()) + " " + (entry.is_regular_file() ? ReadFile(entry.path()) : std::string());
    std::string state = stamp(folder) + "\n";
    for (const auto& [path, what] : entries)
        state += path + " " + what + "\n";
    return state;
}

} // namespace torvex::test
