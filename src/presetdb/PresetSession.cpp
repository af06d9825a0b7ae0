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

void PresetSession::LoadIndex() {
    auto& stmt = conn_->Prepare("SELECT rowid, var_name FROM PRESET_DEFS");
    std::unordered_map<std::string, std::vector<std::int64_t>> index;
    auto& count = conn_->Prepare("SELECT count(*) FROM PRESET_DEFS");
    if (count.Step())
        index.reserve(static_cast<std::size_t>(count.ColumnInt(0)));
    count.Reset();
    while (stmt.Step())
        if (!stmt.ColumnIsNull(1))
            index[FoldCase(stmt.ColumnText(1))].push_back(stmt.ColumnInt(0));
    rowsByName_ = std::move(index);
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
    auto it = rowsByName_.find(from);
    if (it == rowsByName_.end())
        return;
    for (std::int64_t rowid : it->second)
        pending_[rowid] = replacement;
    const std::string to = FoldCase(replacement);
    if (to == from)
        return;
    std::vector<std::int64_t> moved = std::move(it->second);
    rowsByName_.erase(it);
    auto& target = rowsByName_[to];
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
