#include "presetdb/PresetSession.h"

#include "platform/database/FoldCase.h"

#include <algorithm>

namespace torvex::presetdb {

using platform::db::FoldCase;

PresetSession::~PresetSession() {
    try {
        Close();
    } catch (const platform::Failure&) {
        // Closing at a program end: what could not be written stays as it was.
    }
}

platform::db::Connection& PresetSession::Open(const std::string& path) {
    if (!conn_) {
        if (failed_)
            throw platform::Failure(platform::errnum::ObjectNotSet, platform::kProgramSource,
                                    "The preset database could not be opened: " + path);
        try {
            conn_ = std::make_unique<platform::db::Connection>(path);
        } catch (...) {
            failed_ = true;
            throw;
        }
    }
    return *conn_;
}

PresetSession::NameEntry* PresetSession::Entry(const std::string& folded, bool create) {
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
    names_.push_back({folded, {}});
    return &names_.back();
}

void PresetSession::LoadIndex() {
    auto& count = conn_->Prepare("SELECT count(*) FROM PRESET_DEFS");
    if (count.Step()) {
        const auto rows = static_cast<std::size_t>(count.ColumnInt(0));
        names_.reserve(rows + rows / 2);
        index_.Reserve(rows + rows / 2);
    }
    count.Reset();
    auto& stmt = conn_->Prepare("SELECT rowid, var_name FROM PRESET_DEFS");
    while (stmt.Step())
        if (!stmt.ColumnIsNull(1))
            Entry(FoldCase(stmt.ColumnText(1)), true)->rows.push_back(stmt.ColumnInt(0));
    indexed_ = true;
}

void PresetSession::Rename(const std::string& path, const std::string& searched,
                           const std::string& replacement) {
    if (failed_)
        return; // the failure was reported when it happened; it would only repeat
    if (!conn_)
        Open(path);
    if (!indexed_) {
        try {
            LoadIndex();
        } catch (...) {
            failed_ = true;
            throw;
        }
    }
    const std::string from = FoldCase(searched);
    NameEntry* source = Entry(from, false);
    if (!source || source->rows.empty())
        return;
    for (std::int64_t rowid : source->rows)
        pending_[rowid] = replacement;
    const std::string to = FoldCase(replacement);
    if (to == from)
        return;
    std::vector<std::int64_t> moved = std::move(source->rows);
    source->rows.clear();
    auto& target = Entry(to, true)->rows; // may move the entries: `source` is not used after this
    target.insert(target.end(), moved.begin(), moved.end());
}

void PresetSession::Flush() {
    if (!conn_ || pending_.empty())
        return;
    // In file order, so that every page is changed once.
    std::vector<std::pair<std::int64_t, std::string>> renames(pending_.begin(), pending_.end());
    std::sort(renames.begin(), renames.end());
    conn_->Begin();
    for (const auto& [rowid, name] : renames) {
        auto& update = conn_->Prepare("UPDATE PRESET_DEFS SET var_name = ?1 WHERE rowid = ?2");
        update.Bind(1, name).Bind(2, rowid).Run();
    }
    conn_->Commit();
    pending_.clear();
}

void PresetSession::Close() {
    Flush();
    conn_.reset();
}

} // namespace torvex::presetdb
