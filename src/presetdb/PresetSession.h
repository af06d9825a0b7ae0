#pragma once

#include "platform/Failure.h"
#include "platform/database/Connection.h"
#include "presetdb/FlatIndex.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace torvex::presetdb {

// The run's one connection to the preset database, and the name updates
// made to its old PRESET_DEFS rows. Every row is found by its var_name as
// the engine compares text (letter case ignored), through an in-memory
// index that follows each update, so a chain of renames behaves as the same
// updates run one after the other against the file.
class PresetSession {
public:
    ~PresetSession();

    // The connection to the database at `path`, opened on first use. A
    // failure to open is thrown once; afterwards Failed() tells.
    platform::db::Connection& Open(const std::string& path);
    bool Failed() const { return failed_; }
    bool IsOpen() const { return conn_ != nullptr; }

    // Gives every old row whose var_name equals `searched` the name `replacement`.
    void Rename(const std::string& path, const std::string& searched, const std::string& replacement);

    // Writes the pending renames to the file in one transaction.
    void Flush();
    // Flushes and closes the connection.
    void Close();

private:
    void LoadIndex();

    std::unique_ptr<platform::db::Connection> conn_;
    bool failed_ = false;
    bool indexed_ = false;
    // The old rows by their folded var_name: one entry per name ever seen.
    struct NameEntry {
        std::string folded;
        std::vector<std::int64_t> rows;
    };
    NameEntry* Entry(const std::string& folded, bool create);
    std::vector<NameEntry> names_;
    FlatIndex index_;
    std::unordered_map<std::int64_t, std::string> pending_;
};

} // namespace torvex::presetdb
