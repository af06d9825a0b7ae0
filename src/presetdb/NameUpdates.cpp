#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "presetdb/PresetGeneration.h"
#include "presetdb/PresetSession.h"
#include "runtime/Guard.h"

namespace torvex::presetdb {

// Gives a column of the old PRESET_DEFS that still has the former name
// "categorie" (any letter case) the current name "category_id".
void PresetGeneration::CategorieNachCategoryID() {
    runtime::Guard guard(rt_, "CategorieNachCategoryID");
    std::string path;
    guard([&] { path = rt_.GetPathOCXMDB(); });
    if (!guard.Test([&] { return platform::IsOrdinaryFile(path); }))
        return;
    guard([&] {
        auto& db = preset_->Open(path);
        for (const auto& column : db.Columns("PRESET_DEFS"))
            if (platform::UpperCase(column.name) == "CATEGORIE")
                db.RenameColumn("PRESET_DEFS", column.name, "category_id");
    });
}

// Makes old rows follow the current naming scheme: rows that carry the
// variable's name of the other scheme get the name of the current one.
void PresetGeneration::VarNameInQuelleErsetzen(const std::string& first, const std::string& second) {
    runtime::Guard guard(rt_, "VarNameInQuelleErsetzen");
    std::string path;
    // While the run holds the preset database open, its path and existence
    // cannot have changed: only the first call has to look.
    if (!preset_->IsOpen()) {
        guard([&] { path = rt_.GetPathOCXMDB(); });
        if (!guard.Test([&] { return platform::IsOrdinaryFile(path); }))
            return;
    }
    const bool visiWin32 = VisiWinSystem == 0;
    const std::string& searched = visiWin32 ? second : first;
    const std::string& replacement = visiWin32 ? first : second;
    guard([&] { preset_->Rename(path, searched, replacement); });
}

} // namespace torvex::presetdb
