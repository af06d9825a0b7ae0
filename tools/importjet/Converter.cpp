#include "Converter.h"

#include "JetDate.h"
#include "JetReader.h"
#include "platform/Failure.h"
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

// `n` with its thousands grouped by commas, as in 4,032.
std::string Grouped(long long n) {
    std::string digits = std::to_string(n < 0 ? -n : n);
    for (auto i = static_cast<std::ptrdiff_t>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), ",");
    return n < 0 ? "-" + digits : digits;
}

struct Reader {
    Reader(const std::string& path, std::function<void(const std::string&)> stopReading)
        : file(jet_open(path.c_str())), stop(std::move(stopReading)) {
        if (!file)
            throw std::runtime_error("not a readable Jet database");
        ThrowIfCutShort();
        if (stop)
            jet_on_cut_short(file, &Reader::Stop, this);
        long read = 0, counted = 0;
        if (!jet_read_catalog(file, &read, &counted)) {
            ThrowIfCutShort();
            if (read != counted)
                throw std::runtime_error("the table catalog: " + Grouped(read) + " of " + Grouped(counted) +
                                         " objects readable");
            throw std::runtime_error("the table catalog cannot be read");
        }
    }
    ~Reader() { jet_close(file); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    void ThrowIfCutShort() const {
        long long size = 0, needed = 0;
        if (jet_cut_short(file, &size, &needed))
            throw std::runtime_error(CutShort(size, needed));
    }

    static std::string CutShort(long long size, long long needed) {
        return "cut short at byte " + Grouped(size) + " of at least " + Grouped(needed);
    }

    static void Stop(void* context) {
        const auto* reader = static_cast<const Reader*>(context);
        long long size = 0, needed = 0;
        jet_cut_short(reader->file, &size, &needed);
        reader->stop(CutShort(size, needed));
    }

    JetFile* file;
    std::function<void(const std::string&)> stop;
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

void CopyTable(Reader& jet, int table, platform::db::Connection& db, const Progress& progress) {
    const std::string name = jet_table_name(jet.file, table);
    progress.reading(name);
    if (!jet_use_table(jet.file, table)) {
        jet.ThrowIfCutShort();
        throw std::runtime_error("table \"" + name + "\" cannot be read");
    }
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
    const long counted = jet_row_count(jet.file);
    long rows = 0;
    while (jet_next_row(jet.file)) {
        if (rows == counted)
            throw std::runtime_error("table \"" + name + "\": more rows than the " + Grouped(counted) +
                                     " its definition counts");
        insert->Reset();
        for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
            JetValue value;
            if (!jet_value(jet.file, c, &value)) {
                jet.ThrowIfCutShort();
                throw std::runtime_error("table \"" + name + "\", row " + std::to_string(rows + 1) +
                                         ", column \"" + columns[static_cast<std::size_t>(c)].name +
                                         "\" cannot be read");
            }
            if (blob[static_cast<std::size_t>(c)] && value.kind == JETV_BLOB)
                insert->BindBlob(c + 1, value.text, value.length);
            else
                insert->Bind(c + 1, ToValue(value));
        }
        insert->Run();
        ++rows;
    }
    jet.ThrowIfCutShort();
    if (rows != counted)
        throw std::runtime_error("table \"" + name + "\": " + Grouped(rows) + " of " + Grouped(counted) +
                                 " rows readable");
    progress.say(name + ": " + std::to_string(rows) + " rows");
}

} // namespace

void ConvertJetFile(const std::string& jetPath, const std::string& sqlitePath, const Progress& progress) {
    Reader jet(jetPath, progress.stop);
    // A work file: its writer keeps the rollback journal in memory, and the
    // caller flushes the file before it puts it in place.
    platform::db::Connection db(sqlitePath, platform::db::OpenMode::Scratch);
    db.Begin();
    for (int t = 0; t < jet_table_count(jet.file); ++t)
        CopyTable(jet, t, db, progress);
    db.Commit();
}

} // namespace torvex::importjet
