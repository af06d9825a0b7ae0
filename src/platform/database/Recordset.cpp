#include "platform/database/Recordset.h"

#include "platform/Failure.h"
#include "platform/Text.h"

#include <sqlite3.h>

namespace torvex::platform::db {

Recordset::Recordset(Connection& db, std::string table, std::string condition, std::vector<Value> parameters,
                     std::string orderBy)
    : db_(&db), table_(std::move(table)), condition_(std::move(condition)),
      parameters_(std::move(parameters)), columns_(db.Columns(table_)) {
    for (const ColumnDef& c : columns_)
        kinds_.push_back(KindOfDeclaredType(c.type));
    std::string sql = "SELECT ";
    for (std::size_t i = 0; i < columns_.size(); ++i)
        sql += (i ? ", " : "") + QuoteIdentifier(columns_[i].name);
    sql += " FROM " + QuoteIdentifier(table_);
    if (!condition_.empty())
        sql += " WHERE " + condition_;
    if (!orderBy.empty())
        sql += " ORDER BY " + orderBy;
    else if (db.HasRowid(table_))
        sql += " ORDER BY rowid";
    scan_ = db.PrepareOwned(sql);
    MoveFirst();
}

Recordset Recordset::OnTable(Connection& db, const std::string& table) {
    return Recordset(db, table, {}, {}, {});
}

Recordset Recordset::OnQuery(Connection& db, const std::string& table, const std::string& condition,
                             std::vector<Value> parameters, const std::string& orderBy) {
    return Recordset(db, table, condition, std::move(parameters), orderBy);
}

void Recordset::Fetch() {
    eof_ = !scan_->Step();
}

void Recordset::MoveFirst() {
    scan_->Reset();
    for (std::size_t i = 0; i < parameters_.size(); ++i)
        scan_->Bind(static_cast<int>(i + 1), parameters_[i]);
    Fetch();
}

void Recordset::MoveNext() {
    if (eof_)
        throw Failure(SQLITE_MISUSE, kDatabaseSource, "No current record.");
    Fetch();
}

std::size_t Recordset::RecordCount() {
    std::string sql = "SELECT count(*) FROM " + QuoteIdentifier(table_);
    if (!condition_.empty())
        sql += " WHERE " + condition_;
    auto& count = db_->Prepare(sql);
    for (std::size_t i = 0; i < parameters_.size(); ++i)
        count.Bind(static_cast<int>(i + 1), parameters_[i]);
    count.Step();
    const auto n = static_cast<std::size_t>(count.ColumnInt(0));
    count.Reset();
    return n;
}

const std::string& Recordset::FieldName(int index) const {
    if (index < 0 || index >= FieldCount())
        throw Failure(SQLITE_RANGE, kDatabaseSource, "Item not found in this collection.");
    return columns_[static_cast<std::size_t>(index)].name;
}

int Recordset::FieldIndex(const std::string& name) const {
    for (std::size_t i = 0; i < columns_.size(); ++i)
        if (EqualsNoCase(columns_[i].name, name))
            return static_cast<int>(i);
    throw Failure(SQLITE_ERROR, kDatabaseSource, "Item not found in this collection: " + name);
}

Value Recordset::Get(int index) const {
    FieldName(index);
    if (eof_)
        throw Failure(SQLITE_MISUSE, kDatabaseSource, "No current record.");
    return scan_->Column(index, kinds_[static_cast<std::size_t>(index)]);
}

} // namespace torvex::platform::db
