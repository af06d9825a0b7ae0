#pragma once

#include "platform/database/Connection.h"

#include <functional>
#include <string>
#include <string_view>

namespace torvex::presetdb {

// What became of an existing preset database given new content.
struct ContentReplaced {
    bool replaced = false;
    std::string backupTrouble; // "" or what the user must be told about the previous content's copy
    std::string keptAs;        // where the previous content lies now ("" when it is lost or not replaced)
};

// Gives the existing preset database `presetPath` (links resolved), open as `preset`, the whole content
// of `source` through SQLite's online backup, so that programs holding it
// open keep working and see the whole new content. Its content at that
// moment is copied aside under the file's lock (with its last-write time)
// and becomes "<preset>.bak" once the new content is in. `mayReplace`, when
// given, runs first under the lock; when it answers false nothing is done.
// `done` names what became of the database in a message ("regenerated").
// A failure before the new content is in changes nothing and is thrown.
ContentReplaced ReplaceKeepingBackup(platform::db::Connection& preset, const std::string& presetPath,
                                     platform::db::Connection& source, std::string_view done,
                                     const std::function<bool()>& mayReplace = {});

// Writes `text` as the report beside the preset database at `path`, in place
// of the previous one. Returns "" or why not; then no earlier report stays.
std::string WriteReport(const std::string& path, const std::string& text, const std::string& presetPath);

} // namespace torvex::presetdb
