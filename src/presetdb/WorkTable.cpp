#include "presetdb/WorkTable.h"

#include "platform/Failure.h"
#include "platform/Text.h"

#include <sqlite3.h>

namespace torvex::presetdb {

using platform::db::QuoteIdentifier;
using platform::db::Value;

WorkTable::WorkTable(std::vector<platform::db::ColumnDef> columns) : columns_(std::move(columns)) {
    for (const auto& column : columns_)
        kinds_.push_back(platform::db::KindOfDeclaredType(column.type));
}

void WorkTable::LoadStored(platform::db::Connection& db) {
    std::string sql = "SELECT rowid";
    for (const auto& column : columns_)
        sql += ", " + QuoteIdentifier(column.name);
    auto& scan = db.Prepare(sql + " FROM PRESET_DEFS ORDER BY rowid");
    while (scan.Step()) {
        Row row{{}, scan.ColumnInt(0), false};
        for (int i = 0; i < FieldCount(); ++i)
            row.values.push_back(scan.Column(i + 1, kinds_[static_cast<std::size_t>(i)]));
        rows_.push_back(std::move(row));
    }
}

const std::string& WorkTable::FieldName(int index) const {
    if (index < 0 || index >= FieldCount())
        throw platform::Failure(SQLITE_RANGE, platform::kDatabaseSource,
                                "Item not found in this collection.");
    return columns_[static_cast<std::size_t>(index)].name;
}

std::optional<int> WorkTable::FindField(const std::string& name) const {
    for (std::size_t i = 0; i < columns_.size(); ++i)
        if (platform::EqualsNoCase(columns_[i].name, name))
            return static_cast<int>(i);
    return std::nullopt;
}

int WorkTable::IndexOf(const std::string& name) const {
    if (auto index = FindField(name))
        return *index;
    throw platform::Failure(SQLITE_ERROR, platform::kDatabaseSource,
                            "Item not found in this collection: " + name);
}

void WorkTable::AddNew() {
    adding_.emplace(columns_.size());
    set_.assign(columns_.size(), false);
}

void WorkTable::Set(int index, const Value& value) {
    FieldName(index);
    if (!adding_)
        throw platform::Failure(SQLITE_MISUSE, platform::kDatabaseSource,
                                "Update or CancelUpdate without AddNew or Edit.");
    (*adding_)[static_cast<std::size_t>(index)] =
        platform::db::Coerce(kinds_[static_cast<std::size_t>(index)], value);
    set_[static_cast<std::size_t>(index)] = true;
}

void WorkTable::Set(const std::string& name, const Value& value) {
    Set(IndexOf(name), value);
}

Value WorkTable::Get(const std::string& name) const {
    const int index = IndexOf(name);
    if (!adding_)
        throw platform::Failure(SQLITE_MISUSE, platform::kDatabaseSource, "No current record.");
    return (*adding_)[static_cast<std::size_t>(index)];
}

void WorkTable::Update() {
    if (!adding_)
        throw platform::Failure(SQLITE_MISUSE, platform::kDatabaseSource,
                                "Update or CancelUpdate without AddNew or Edit.");
    rows_.push_back({std::move(*adding_), std::nullopt, false});
    adding_.reset();
}

const Value& WorkTable::At(std::size_t row, int column) const {
    return rows_.at(row).values.at(static_cast<std::size_t>(column));
}

void WorkTable::Assign(std::size_t row, int column, const Value& value) {
    Row& target = rows_.at(row);
    target.values.at(static_cast<std::size_t>(column)) =
        platform::db::Coerce(kinds_.at(static_cast<std::size_t>(column)), value);
    target.changed = true;
}

bool WorkTable::HasUnstored() const {
    for (const Row& row : rows_)
        if (!row.rowid || row.changed)
            return true;
    return false;
}

void WorkTable::Store(platform::db::Connection& db) {
    std::string names, marks, sets;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const char* separator = i ? ", " : "";
        names.append(separator).append(QuoteIdentifier(columns_[i].name));
        marks.append(separator).append("?");
        sets.append(separator).append(QuoteIdentifier(columns_[i].name)).append(" = ?");
    }
    auto& insert = db.Prepare("INSERT INTO PRESET_DEFS (" + names + ") VALUES (" + marks + ")");
    auto& update = db.Prepare("UPDATE PRESET_DEFS SET " + sets + " WHERE rowid = ?");
    for (Row& row : rows_) {
        if (row.rowid && !row.changed)
            continue;
        auto& stmt = row.rowid ? update : insert;
        stmt.Reset();
        int n = 1;
        for (const Value& value : row.values)
            stmt.Bind(n++, value, true);
        if (row.rowid)
            stmt.Bind(n, *row.rowid);
        stmt.Run();
        if (!row.rowid)
            row.rowid = db.LastInsertRowid();
        row.changed = false;
    }
    insert.Reset();
    update.Reset();
}

} // namespace torvex::presetdb
