#include "platform/database/Recordset.h"

#include "platform/Failure.h"
#include "platform/Text.h"

#include <sqlite3.h>

#include <algorithm>

namespace torvex::platform::db {

Recordset::Recordset(Connection& db, std::string table, std::string condition, std::vector<Value> parameters,
                     std::string orderBy)
    : db_(&db), table_(std::move(table)), condition_(std::move(condition)),
      parameters_(std::move(parameters)), orderBy_(std::move(orderBy)), columns_(db.Columns(table_)) {
    for (const ColumnDef& c : columns_)
        kinds_.push_back(KindOfDeclaredType(c.type));
    std::string sql = "SELECT rowid";
    for (const ColumnDef& c : columns_)
        sql += ", " + QuoteIdentifier(c.name);
    sql += " FROM " + QuoteIdentifier(table_);
    if (!condition_.empty())
        sql += " WHERE " + condition_;
    sql += " ORDER BY " + (orderBy_.empty() ? std::string("rowid") : orderBy_);
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
    edited_.clear();
    if (!eof_)
        rowid_ = scan_->ColumnInt(0);
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

bool Recordset::HasField(const std::string& name) const {
    for (const ColumnDef& c : columns_)
        if (EqualsNoCase(c.name, name))
            return true;
    return false;
}

int Recordset::FieldIndex(const std::string& name) const {
    for (std::size_t i = 0; i < columns_.size(); ++i)
        if (EqualsNoCase(columns_[i].name, name))
            return static_cast<int>(i);
    throw Failure(SQLITE_ERROR, kDatabaseSource, "Item not found in this collection: " + name);
}

void Recordset::RequireCurrentRow() const {
    if (eof_)
        throw Failure(SQLITE_MISUSE, kDatabaseSource, "No current record.");
}

Value Recordset::Get(int index) const {
    FieldName(index);
    if (mode_ != Mode::None)
        for (const auto& [i, v] : pending_)
            if (i == index)
                return v;
    if (mode_ == Mode::Adding)
        return std::monostate{};
    RequireCurrentRow();
    for (const auto& [i, v] : edited_)
        if (i == index)
            return v;
    return scan_->Column(index + 1, kinds_[static_cast<std::size_t>(index)]);
}

void Recordset::AddNew() {
    mode_ = Mode::Adding;
    pending_.clear();
}

void Recordset::Edit() {
    RequireCurrentRow();
    mode_ = Mode::Editing;
    pending_.clear();
}

void Recordset::Set(int index, const Value& value) {
    FieldName(index);
    if (mode_ == Mode::None)
        throw Failure(SQLITE_MISUSE, kDatabaseSource, "Update or CancelUpdate without AddNew or Edit.");
    Value stored = Coerce(kinds_[static_cast<std::size_t>(index)], value);
    for (auto& [i, v] : pending_)
        if (i == index) {
            v = std::move(stored);
            return;
        }
    pending_.emplace_back(index, std::move(stored));
}

// The statement that stores the pending values: an INSERT of the set
// columns for a new row, an UPDATE of them for the current one.
std::string Recordset::UpdateSql() const {
    std::string sql;
    if (mode_ == Mode::Adding) {
        if (pending_.empty())
            return "INSERT INTO " + QuoteIdentifier(table_) + " DEFAULT VALUES";
        std::string names, marks;
        for (std::size_t k = 0; k < pending_.size(); ++k) {
            const char* separator = k ? ", " : "";
            names.append(separator).append(
                QuoteIdentifier(columns_[static_cast<std::size_t>(pending_[k].first)].name));
            marks.append(separator).append("?");
        }
        return "INSERT INTO " + QuoteIdentifier(table_) + " (" + names + ") VALUES (" + marks + ")";
    }
    sql = "UPDATE " + QuoteIdentifier(table_) + " SET ";
    for (std::size_t k = 0; k < pending_.size(); ++k)
        sql.append(k ? ", " : "")
            .append(QuoteIdentifier(columns_[static_cast<std::size_t>(pending_[k].first)].name))
            .append(" = ?");
    return sql + " WHERE rowid = ?";
}

void Recordset::Update() {
    if (mode_ == Mode::None)
        throw Failure(SQLITE_MISUSE, kDatabaseSource, "Update or CancelUpdate without AddNew or Edit.");
    if (mode_ == Mode::Editing && pending_.empty()) {
        mode_ = Mode::None;
        return;
    }
    auto& stmt = db_->Prepare(UpdateSql());
    int n = 1;
    for (const auto& [index, value] : pending_)
        stmt.Bind(n++, value, true);
    if (mode_ == Mode::Editing)
        stmt.Bind(n, rowid_);
    stmt.Run();
    stmt.Reset(); // no binding may outlive the pending values
    if (mode_ == Mode::Editing)
        for (auto& change : pending_) {
            const int index = change.first;
            auto old = std::find_if(edited_.begin(), edited_.end(),
                                    [index](const auto& e) { return e.first == index; });
            if (old != edited_.end())
                old->second = std::move(change.second);
            else
                edited_.push_back(std::move(change));
        }
    mode_ = Mode::None;
    pending_.clear();
}

} // namespace torvex::platform::db
