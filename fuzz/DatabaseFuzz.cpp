// Names and values as they come from configuration files: tables and
// columns with any name are created, written and read back, never crashing.
#include "platform/Failure.h"
#include "platform/database/Connection.h"
#include "platform/database/Recordset.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

using namespace torvex::platform;

namespace {

db::Connection& Database() {
    static const std::string path = [] {
        char name[] = "/tmp/torvex-fuzz-XXXXXX";
        const int fd = ::mkstemp(name);
        ::close(fd);
        return std::string(name);
    }();
    static db::Connection connection(path);
    static const bool fast = [] {
        connection.Execute("PRAGMA synchronous=OFF"); // durability is not what is fuzzed here
        return true;
    }();
    (void)fast;
    return connection;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> parts;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\0') {
            parts.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    parts.push_back(current);
    if (parts.size() < 3 || parts[0].empty())
        return 0;
    db::Connection& db = Database();
    const std::string table = parts[0];
    const std::vector<db::ColumnDef> columns = {
        {parts[1].empty() ? "c" : parts[1], "TEXT(50)", 50}, {"n", "DOUBLE", 0}, {"d", "DATETIME TEXT", 0}};
    try {
        db.CreateTable(table, columns);
    } catch (const Failure&) {
        return 0; // a name the engine refuses (a clash with another table or column)
    }
    try {
        auto& insert = db.Prepare("INSERT INTO " + db::QuoteIdentifier(table) + " VALUES (?1, ?2, ?3)");
        db::Value number;
        try {
            number = db::Coerce(db::Kind::Number, parts.size() > 3 ? parts[3] : std::string());
        } catch (const Failure&) {
            // a text that is no number
        }
        insert.Bind(1, parts[2]).Bind(2, number).Bind(3, db::Date{parts[2]}).Run();
        auto back =
            db::Recordset::OnQuery(db, table, db::QuoteIdentifier(columns[0].name) + " = ?1", {parts[2]}, "");
        if (back.RecordCount() != 1 || back.Get(0) != db::Value(parts[2]))
            std::abort();
    } catch (const Failure&) {
    }
    db.DropTable(table);
    return 0;
}
