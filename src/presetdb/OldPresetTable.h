#pragma once

#include "platform/database/Connection.h"
#include "platform/database/Value.h"
#include "presetdb/FlatIndex.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace torvex::presetdb {

// The old PRESET_DEFS rows of the preset database (or of the machine copy),
// read once and kept in memory for the run. The file itself is only ever
// read: renames to the current naming scheme change the rows in memory,
// which is all the take-over needs, so the file stays exactly as it was
// until a complete new preset database replaces it.
class OldPresetTable {
public:
    enum class State { NotRead, NoFile, NoTable, Read, Failed };

    // Reads the columns `wanted` (those the table has; names compared without
    // regard to letter case; a value that does not fit its column's declared
    // type, such as a text in a number column, is kept as the text it is) of
    // every row of PRESET_DEFS in the database at
    // `path`, in table order and in one read transaction, so that the rows
    // and their count agree. A file without PRESET_DEFS gives NoTable. A file
    // that cannot be read throws its failure once and leaves State Failed.
    // Read `privately`, the file is read from a private copy, so that nothing
    // beside it is written, not even to roll back what a crashed writer left
    // (a file the run does not own, or any file of a preview); otherwise
    // SQLite may do that in place, as any reader would.
    void Read(const std::string& path, const std::vector<std::string>& wanted, bool privately = false);
    // The same through a connection that stays open (to the preset database
    // that is to get the new content, which SQLite may recover as any
    // writer would): the rows and what the connection has seen of the file's
    // changes (SeenWhenRead) are taken in one read transaction, so that a
    // later commit by anyone shows as a change.
    void ReadAndHold(const std::string& path, const std::vector<std::string>& wanted);
    // The connection ReadAndHold keeps; nullptr otherwise.
    platform::db::Connection* Held() const { return held_.get(); }
    // What the connection had seen of its file's changes when the rows were
    // read through it (Connection::ChangesSeen and OthersChangesSeen).
    struct Seen {
        std::uint32_t changes = 0;
        std::int64_t othersChanges = 0;
    };
    const std::optional<Seen>& SeenWhenRead() const { return seen_; }
    State GetState() const { return state_; }
    // There is no file to read the old rows from.
    void MarkNoFile() {
        if (state_ == State::NotRead)
            state_ = State::NoFile;
    }
    bool HasRows() const { return state_ == State::Read && rows_ > 0; }

    // The old table's own columns, all of them, in ordinal order.
    const std::vector<platform::db::ColumnDef>& Columns() const { return columns_; }
    // True when the old table has the column `name` (letter case ignored).
    bool Has(const std::string& name) const;
    // Index among the kept columns of `name` (letter case ignored), or std::nullopt.
    std::optional<int> Kept(const std::string& name) const;
    std::size_t RowCount() const { return rows_; }
    const platform::db::Value& At(std::size_t row, int kept) const {
        return values_[row * kept_.size() + static_cast<std::size_t>(kept)];
    }

    // The name `var_name` had in the file, for rows that were renamed since.
    const std::optional<std::string>& NameInFile(std::size_t row) const { return nameInFile_.at(row); }
    // True when the generations of several machines asked for the old name
    // this row was renamed from: it went to the first of them, whichever
    // machine it belonged to.
    bool Contested(std::size_t row) const { return contested_.at(row); }

    // Gives every row whose var_name equals `searched` (letter case ignored,
    // as the engine compares text) the name `replacement`.
    void Rename(const std::string& searched, const std::string& replacement);

    // Gives the column `from` the name `to`; a failure when `to` exists.
    void RenameColumn(const std::string& from, const std::string& to);

private:
    struct NameEntry {
        std::string folded;
        std::vector<std::uint32_t> rows;
        std::vector<std::uint32_t> renamedAway; // rows an earlier rename took from this name
    };
    NameEntry* Entry(const std::string& folded, bool create);
    void ReadFrom(platform::db::Connection& db, const std::vector<std::string>& wanted);
    // Keeps the columns of `wanted` that the table has (letter case ignored,
    // each once, in the order of `wanted`); the kind of each kept column.
    std::vector<platform::db::Kind> KeepColumns(const std::vector<std::string>& wanted);
    // Reads the kept columns of every row of `table`, in table order; a
    // value that does not fit its column's kind is kept as text.
    void ReadKeptValues(platform::db::Connection& db, const std::string& table,
                        const std::vector<platform::db::Kind>& kinds);
    void Finish();
    // Drops what a read that failed part-way took in.
    void Forget();
    void IndexNames();

    State state_ = State::NotRead;
    std::vector<platform::db::ColumnDef> columns_;
    std::vector<std::string> kept_; // names of the kept columns, as in the file
    std::size_t rows_ = 0;
    std::vector<platform::db::Value> values_; // row after row, the kept columns of each
    std::optional<int> varName_;
    std::vector<std::optional<std::string>> nameInFile_;
    std::vector<bool> contested_;
    std::optional<Seen> seen_;
    std::unique_ptr<platform::db::Connection> held_;

    std::vector<NameEntry> names_;
    FlatIndex index_;
};

} // namespace torvex::presetdb
