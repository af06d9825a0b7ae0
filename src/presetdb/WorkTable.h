#pragma once

#include "platform/database/Connection.h"
#include "platform/database/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace torvex::presetdb {

// The rows of the work table PRESET_DEFS while a run builds them. New rows
// are added as on a record set (AddNew, Set, Update: every value is checked
// against its column at once) but kept in memory, so that the take-over can
// change them without a statement per row; Store then writes every new row
// and every changed stored row in one go, in table order.
class WorkTable {
public:
    explicit WorkTable(std::vector<platform::db::ColumnDef> columns);

    // Adds the rows already stored in PRESET_DEFS of `db`, in table order.
    void LoadStored(platform::db::Connection& db);

    int FieldCount() const { return static_cast<int>(columns_.size()); }
    const std::string& FieldName(int index) const;
    // Index of the column `name` (letter case ignored), or std::nullopt.
    std::optional<int> FindField(const std::string& name) const;
    platform::db::Kind FieldKind(int index) const { return kinds_.at(static_cast<std::size_t>(index)); }

    void AddNew();
    void Set(int index, const platform::db::Value& value);
    void Set(const std::string& name, const platform::db::Value& value);
    // A value of the row being added; null while it was not set.
    platform::db::Value Get(const std::string& name) const;
    void Update();

    std::size_t RowCount() const { return rows_.size(); }
    void Reserve(std::size_t rows) { rows_.reserve(rows); }
    const platform::db::Value& At(std::size_t row, int column) const;
    // Changes a value of a row (checked against its column).
    void Assign(std::size_t row, int column, const platform::db::Value& value);

    // Writes new rows and changed stored rows to PRESET_DEFS of `db`.
    void Store(platform::db::Connection& db);
    bool HasUnstored() const;

private:
    struct Row {
        std::vector<platform::db::Value> values;
        std::optional<std::int64_t> rowid; // set for rows that are stored
        bool changed = false;
    };
    int IndexOf(const std::string& name) const;

    std::vector<platform::db::ColumnDef> columns_;
    std::vector<platform::db::Kind> kinds_;
    std::vector<Row> rows_;
    std::optional<std::vector<platform::db::Value>> adding_;
    std::vector<bool> set_;
};

} // namespace torvex::presetdb
