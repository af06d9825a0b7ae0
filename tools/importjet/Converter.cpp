#include "Converter.h"

#include "JetDate.h"
#include "JetReader.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/database/Connection.h"

#include <memory>
#include <stdexcept>
#include <vector>

namespace torvex::importjet {

using platform::db::Value;

std::string DeclaredType(int jetType, int size, int precision, int scale, int jetVersion) {
    switch (jetType) {
    case JET_BOOLEAN:
        return "BOOLEAN INTEGER";
    case JET_BYTE:
        return "BYTE INTEGER";
    case JET_INTEGER:
        return "SMALLINT";
    case JET_LONG:
        return "LONG INTEGER";
    case JET_CURRENCY:
        return "CURRENCY NUMERIC";
    case JET_SINGLE:
        return "SINGLE REAL";
    case JET_DOUBLE:
        return "DOUBLE";
    case JET_DATETIME:
        return "DATETIME TEXT";
    case JET_TEXT:
        return "TEXT(" + std::to_string(jetVersion >= 4 ? size / 2 : size) + ")";
    case JET_MEMO:
        return "MEMO TEXT";
    case JET_GUID:
        return "GUID TEXT";
    case JET_NUMERIC:
        return "DECIMAL(" + std::to_string(precision) + "," + std::to_string(scale) + ")";
    case JET_BINARY:
        return "BINARY BLOB";
    case JET_OLE:
        return "OLE BLOB";
    default:
        return "BLOB";
    }
}

namespace {

struct Reader {
    explicit Reader(const std::string& path) {
        char error[256] = {};
        file = jet_open(path.c_str(), error, sizeof error);
        if (!file)
            throw std::runtime_error(path + ": " + error);
    }
    ~Reader() { jet_close(file); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    JetFile* file;
};

Value ToValue(const JetValue& v) {
    switch (v.kind) {
    case JETV_WHOLE:
        return std::int64_t{v.whole};
    case JETV_NUMBER:
        return v.number;
    case JETV_DATE:
        return platform::db::Date{JetDateText(v.number)};
    case JETV_TEXT:
    case JETV_BLOB:
        return std::string(v.text, v.length);
    case JETV_NULL:
        break;
    }
    return std::monostate{};
}

void CopyTable(Reader& jet, int table, platform::db::Connection& db,
               const std::function<void(const std::string&)>& say) {
    const std::string name = jet_table_name(jet.file, table);
    if (!jet_use_table(jet.file, table))
        throw std::runtime_error("table \"" + name + "\" cannot be read");
    std::vector<platform::db::ColumnDef> columns;
    std::vector<bool> blob;
    for (int c = 0; c < jet_column_count(jet.file); ++c) {
        const int type = jet_column_type(jet.file, c);
        columns.push_back({jet_column_name(jet.file, c),
                           DeclaredType(type, jet_column_size(jet.file, c), jet_column_precision(jet.file, c),
                                        jet_column_scale(jet.file, c), jet_version(jet.file)),
                           0});
        blob.push_back(type == JET_OLE || type == JET_BINARY);
    }
    db.CreateTable(name, columns);
    std::string names, marks;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        names.append(c ? ", " : "").append(platform::db::QuoteIdentifier(columns[c].name));
        marks.append(c ? ", ?" : "?");
    }
    auto insert = db.PrepareOwned("INSERT INTO " + platform::db::QuoteIdentifier(name) + " (" + names +
                                  ") VALUES (" + marks + ")");
    long rows = 0;
    while (jet_next_row(jet.file)) {
        insert->Reset();
        for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
            JetValue value;
            if (!jet_value(jet.file, c, &value))
                throw std::runtime_error("table \"" + name + "\", row " + std::to_string(rows + 1) +
                                         ", column \"" + columns[static_cast<std::size_t>(c)].name +
                                         "\" cannot be read");
            if (blob[static_cast<std::size_t>(c)] && value.kind == JETV_BLOB)
                insert->BindBlob(c + 1, value.text, value.length);
            else
                insert->Bind(c + 1, ToValue(value));
        }
        insert->Run();
        ++rows;
    }
    if (rows != jet_row_count(jet.file))
        throw std::runtime_error("table \"" + name + "\": " + std::to_string(rows) + " of " +
                                 std::to_string(jet_row_count(jet.file)) + " rows could be read");
    say(name + ": " + std::to_string(rows) + " rows");
}

} // namespace

void ConvertJetFile(const std::string& jetPath, const std::string& sqlitePath,
                    const std::function<void(const std::string&)>& say) {
    Reader jet(jetPath);
    if (!platform::WriteFileAtomic(sqlitePath, ""))
        throw std::runtime_error(sqlitePath + ": cannot be written");
    platform::db::Connection db(sqlitePath);
    db.Begin();
    for (int t = 0; t < jet_table_count(jet.file); ++t)
        CopyTable(jet, t, db, say);
    db.Commit();
}

} // namespace torvex::importjet
