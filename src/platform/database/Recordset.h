#pragma once

#include "platform/database/Connection.h"
#include "platform/database/Value.h"

#include <memory>
#include <string>
#include <vector>

namespace torvex::platform::db {

// Rows of one table, visited one at a time, with DAO's record-set reading
// operations: EOF, MoveFirst, MoveNext, an exact RecordCount, fields by index
// or name. Values are read with the kinds of the table's declared column types.
class Recordset {
public:
    // Every row of `table`, in table order (rowid order, or key order for a
    // table WITHOUT ROWID).
    static Recordset OnTable(Connection& db, const std::string& table);
    // The rows of `table` for which `condition` (SQL with ?1.. parameters)
    // holds, in the order of `orderBy` (table order when empty).
    static Recordset OnQuery(Connection& db, const std::string& table, const std::string& condition,
                             std::vector<Value> parameters, const std::string& orderBy);

    std::size_t RecordCount();
    bool IsEOF() const { return eof_; }
    void MoveFirst();
    void MoveNext();

    int FieldCount() const { return static_cast<int>(columns_.size()); }
    const std::string& FieldName(int index) const;
    // Index of the field `name` (letter case ignored); a failure when missing.
    int FieldIndex(const std::string& name) const;
    Value Get(int index) const;
    Value Get(const std::string& name) const { return Get(FieldIndex(name)); }

private:
    Recordset(Connection& db, std::string table, std::string condition, std::vector<Value> parameters,
              std::string orderBy);
    void Fetch();

    Connection* db_;
    std::string table_;
    std::string condition_;
    std::vector<Value> parameters_;
    std::vector<ColumnDef> columns_;
    std::vector<Kind> kinds_;
    std::unique_ptr<Statement> scan_;
    bool eof_ = true;
};

} // namespace torvex::platform::db
