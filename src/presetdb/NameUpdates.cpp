#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "presetdb/OldPresetTable.h"
#include "presetdb/PresetGeneration.h"
#include "runtime/Guard.h"

#include <sqlite3.h>

namespace torvex::presetdb {

// Reads the old rows once, on the first use in a run. A file that cannot be
// read is reported by the procedure that first needed it.
void PresetGeneration::ReadOldTable(const std::string& path) {
    if (machineCopyPath_ || preview_) {
        // What the run does not own (the machine copy) or must leave as it
        // is (a preview's) is read from a private copy.
        old_->Read(path, OldRowColumns(), true);
        return;
    }
    // The preset database itself, which this run is to give new content:
    // read through the connection that will give it, so that the publish
    // can tell whether another program committed in between.
    old_->ReadAndHold(path, OldRowColumns());
}

// Reads the old rows unless an earlier procedure has. False when there is
// no file to read them from, or reading them failed (reported by `guard`).
bool PresetGeneration::ReadOldRowsOnce(runtime::Guard& guard) {
    if (old_->GetState() != OldPresetTable::State::NotRead)
        return true;
    const std::string path = OldRowsPath();
    if (!guard.Test([&] { return platform::IsOrdinaryFile(path); })) {
        old_->MarkNoFile();
        return false;
    }
    return guard([&] { ReadOldTable(path); });
}

// Gives a column of the old PRESET_DEFS that still has the former name
// "categorie" (any letter case) the current name "category_id". The old
// rows are read here, as this is where the run first looks at them.
void PresetGeneration::CategorieNachCategoryID() {
    runtime::Guard guard(rt_, "CategorieNachCategoryID");
    const std::string path = OldRowsPath();
    if (!guard.Test([&] { return platform::IsOrdinaryFile(path); })) {
        old_->MarkNoFile();
        return;
    }
    guard([&] {
        ReadOldTable(path);
        if (old_->GetState() == OldPresetTable::State::NoTable)
            throw platform::Failure(SQLITE_ERROR, platform::kDatabaseSource,
                                    "no such table: PRESET_DEFS: " + path);
        if (old_->GetState() != OldPresetTable::State::Read)
            return;
        for (const auto& column : std::vector(old_->Columns()))
            if (platform::UpperCase(column.name) == "CATEGORIE")
                old_->RenameColumn(column.name, "category_id");
    });
}

// Makes old rows follow the current naming scheme: rows that carry the
// variable's name of the other scheme get the name of the current one.
void PresetGeneration::VarNameInQuelleErsetzen(const std::string& first, const std::string& second) {
    runtime::Guard guard(rt_, "VarNameInQuelleErsetzen");
    if (!ReadOldRowsOnce(guard))
        return;
    const bool visiWin32 = visiWinSystem_ == 0;
    const std::string& searched = visiWin32 ? second : first;
    const std::string& replacement = visiWin32 ? first : second;
    guard([&] { old_->Rename(searched, replacement); });
}

} // namespace torvex::presetdb
