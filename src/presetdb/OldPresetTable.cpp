#include "presetdb/OldPresetTable.h"

#include "platform/Failure.h"
#include "platform/Text.h"
#include "platform/database/FoldCase.h"
#include "platform/database/ReadCopy.h"

#include <sqlite3.h>

#include <algorithm>

namespace torvex::presetdb {

using platform::db::FoldCase;
using platform::db::Value;

void OldPresetTable::Read(const std::string& path, const std::vector<std::string>& wanted, bool privately) {
    if (state_ != State::NotRead)
        return;
    try {
        if (privately) {
            const platform::db::ReadCopy copy(path);
            copy.Naming([&] {
                platform::db::Connection db(copy.Path(), platform::db::OpenMode::ReadOnly);
                ReadFrom(db, wanted);
            });
        } else {
            platform::db::Connection db(path, platform::db::OpenMode::ReadOnly);
            ReadFrom(db, wanted);
        }
    } catch (const platform::Failure& failure) {
        Forget();
        // A journal that a crashed writer left must be rolled back first,
        // which a reader may not do: read again as a writer would.
        const int code = failure.Number();
        if (privately || (code != SQLITE_READONLY_ROLLBACK && code != SQLITE_READONLY_RECOVERY)) {
            state_ = State::Failed;
            throw;
        }
        try {
            platform::db::Connection db(path, platform::db::OpenMode::Recover);
            ReadFrom(db, wanted);
        } catch (...) {
            Forget();
            state_ = State::Failed;
            throw;
        }
    }
    Finish();
}

void OldPresetTable::ReadAndHold(const std::string& path, const std::vector<std::string>& wanted) {
    if (state_ != State::NotRead)
        return;
    try {
        held_ = std::make_unique<platform::db::Connection>(path);
        ReadFrom(*held_, wanted);
    } catch (...) {
        Forget();
        state_ = State::Failed;
        throw;
    }
    Finish();
}

void OldPresetTable::Forget() {
    rows_ = 0;
    values_.clear();
    kept_.clear();
    seen_.reset();
    held_.reset();
}

void OldPresetTable::Finish() {
    if (state_ == State::NoTable)
        return;
    state_ = State::Read;
    varName_ = Kept("var_name");
    nameInFile_.assign(rows_, std::nullopt);
    contested_.assign(rows_, false);
    IndexNames();
}

void OldPresetTable::ReadFrom(platform::db::Connection& db, const std::vector<std::string>& wanted) {
    db.BeginRead();
    // The read transaction ends also when reading fails: a connection kept
    // open must not hold the file's shared lock for the rest of the run.
    struct EndRead {
        platform::db::Connection& db;
        ~EndRead() {
            try {
                db.Commit();
            } catch (const platform::Failure&) { // nothing was written: nothing to lose
            }
        }
    } endRead{db};
    seen_ = Seen{db.ChangesSeen(), db.OthersChangesSeen()};
    const auto tables = db.TableNames();
    const auto table = std::find_if(tables.begin(), tables.end(), [](const std::string& name) {
        return platform::EqualsNoCase(name, "PRESET_DEFS");
    });
    if (table == tables.end()) {
        state_ = State::NoTable;
        return;
    }
    columns_ = db.Columns(*table);
    const std::vector<platform::db::Kind> kinds = KeepColumns(wanted);
    auto& count = db.Prepare("SELECT count(*) FROM " + platform::db::QuoteIdentifier(*table));
    count.Step();
    rows_ = static_cast<std::size_t>(count.ColumnInt(0));
    count.Reset();
    if (!kept_.empty())
        ReadKeptValues(db, *table, kinds);
}

std::vector<platform::db::Kind> OldPresetTable::KeepColumns(const std::vector<std::string>& wanted) {
    std::vector<platform::db::Kind> kinds;
    for (const std::string& name : wanted)
        for (const auto& column : columns_)
            if (platform::EqualsNoCase(column.name, name) &&
                std::find(kept_.begin(), kept_.end(), column.name) == kept_.end()) {
                kept_.push_back(column.name);
                kinds.push_back(platform::db::KindOfDeclaredType(column.type));
                break;
            }
    return kinds;
}

void OldPresetTable::ReadKeptValues(platform::db::Connection& db, const std::string& table,
                                    const std::vector<platform::db::Kind>& kinds) {
    std::string sql;
    for (const std::string& name : kept_)
        sql += (sql.empty() ? "SELECT " : ", ") + platform::db::QuoteIdentifier(name);
    sql += " FROM " + platform::db::QuoteIdentifier(table);
    if (db.HasRowid(table))
        sql += " ORDER BY rowid";
    values_.reserve(rows_ * kept_.size());
    auto scan = db.PrepareOwned(sql);
    std::size_t row = 0;
    for (; scan->Step(); ++row) {
        for (std::size_t i = 0; i < kept_.size(); ++i) {
            try {
                values_.push_back(scan->Column(static_cast<int>(i), kinds[i]));
            } catch (const platform::Failure&) { // kept as it stands
                values_.push_back(scan->Column(static_cast<int>(i), platform::db::Kind::Text));
            }
        }
    }
    rows_ = row;
}

bool OldPresetTable::Has(const std::string& name) const {
    return std::any_of(columns_.begin(), columns_.end(), [&](const platform::db::ColumnDef& column) {
        return platform::EqualsNoCase(column.name, name);
    });
}

std::optional<int> OldPresetTable::Kept(const std::string& name) const {
    for (std::size_t i = 0; i < kept_.size(); ++i)
        if (platform::EqualsNoCase(kept_[i], name))
            return static_cast<int>(i);
    return std::nullopt;
}

OldPresetTable::NameEntry* OldPresetTable::Entry(const std::string& folded, bool create) {
    const std::uint64_t hash = FlatIndex::Hash(folded);
    NameEntry* found = nullptr;
    index_.Find(hash, [&](std::uint32_t i) {
        if (names_[i].folded != folded)
            return false;
        found = &names_[i];
        return true;
    });
    if (found || !create)
        return found;
    index_.Insert(hash, static_cast<std::uint32_t>(names_.size()));
    names_.push_back({folded, {}, {}});
    return &names_.back();
}

void OldPresetTable::IndexNames() {
    if (!varName_)
        return;
    names_.reserve(rows_ + rows_ / 2);
    index_.Reserve(rows_ + rows_ / 2);
    for (std::size_t r = 0; r < rows_; ++r) {
        const Value& name = At(r, *varName_);
        if (!std::holds_alternative<std::monostate>(name)) // a null never equals a name
            Entry(FoldCase(platform::db::ValueText(name)), true)
                ->rows.push_back(static_cast<std::uint32_t>(r));
    }
}

void OldPresetTable::Rename(const std::string& searched, const std::string& replacement) {
    if (state_ != State::Read || !varName_)
        return;
    const std::string from = FoldCase(searched);
    NameEntry* source = Entry(from, false);
    if (!source)
        return;
    if (source->rows.empty()) {
        // Another generation took these rows under the same old name first.
        for (const std::uint32_t r : source->renamedAway)
            contested_[r] = true;
        return;
    }
    for (const std::uint32_t r : source->rows) {
        Value& name = values_[r * kept_.size() + static_cast<std::size_t>(*varName_)];
        const std::string old = platform::db::ValueText(name);
        if (old == replacement)
            continue; // rewritten with the same value: nothing changes
        if (!nameInFile_[r])
            nameInFile_[r] = old;
        name = replacement;
    }
    const std::string to = FoldCase(replacement);
    if (to == from)
        return;
    std::vector<std::uint32_t> moved = std::move(source->rows);
    source->rows.clear();
    source->renamedAway.insert(source->renamedAway.end(), moved.begin(), moved.end());
    auto& target = Entry(to, true)->rows; // may move the entries: `source` is not used after this
    target.insert(target.end(), moved.begin(), moved.end());
}

void OldPresetTable::RenameColumn(const std::string& from, const std::string& to) {
    for (const auto& column : columns_)
        if (platform::EqualsNoCase(column.name, to))
            throw platform::Failure(SQLITE_ERROR, platform::kDatabaseSource, "duplicate column name: " + to);
    for (auto& column : columns_)
        if (column.name == from)
            column.name = to;
    for (auto& name : kept_)
        if (name == from)
            name = to;
}

} // namespace torvex::presetdb
