#include "platform/Text.h"
#include "platform/database/Recordset.h"
#include "presetdb/PresetGeneration.h"
#include "presetdb/WorkTable.h"
#include "runtime/Guard.h"

namespace torvex::presetdb {

using platform::db::Recordset;
using platform::db::Value;

namespace {

// The number of UTF-16 code units of a UTF-8 text: the position in
// characters that a 16-bit string position counts.
std::size_t Utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = platform::Utf8CharLength(static_cast<unsigned char>(text[i]));
        units += length == 4 ? 2 : 1;
        i += length;
    }
    return units;
}

} // namespace

// Replaces the first occurrence of `searchItem` in `source` (letter case
// ignored) by `replaceWith`; returns `source` unchanged when there is none.
// The position is a 16-bit number of characters: a match beyond it is an
// overflow, reported, after which the source is returned as it is.
std::string PresetGeneration::ReplaceSearchItem(std::string_view source, std::string_view searchItem,
                                                std::string_view replaceWith) {
    runtime::Guard guard(rt_, "ReplaceSearchItem");
    const std::size_t pos = guard.Value(std::string::npos, [&] {
        const auto found = platform::FindNoCase(source, searchItem);
        if (found != std::string::npos)
            (void)platform::ToInt16(Utf16Length(source.substr(0, found)) + 1); // the 1-based position
        return found;
    });
    if (pos == std::string::npos)
        return std::string(source);
    std::string result;
    result.reserve(source.size() + replaceWith.size());
    result.append(source.substr(0, pos)).append(replaceWith).append(source.substr(pos + searchItem.size()));
    return result;
}

// Fills the empty PRESET_DEFS of the template database: for every enabled
// machine in ascending number, one row per template row in template ID
// order, IDs 1, 2, 3, ... over all machines, placeholders filled in.
void PresetGeneration::CreateRecordSets(platform::db::Connection& database) {
    runtime::Guard guard(rt_, "CreateRecordSets");
    WorkTable* destination = nullptr;
    guard([&] {
        work_ = std::make_unique<WorkTable>(database.Columns("PRESET_DEFS"));
        destination = work_.get();
    });
    const std::vector<std::vector<Value>> templateRows = ReadTemplateRows(guard, database);
    if (destination)
        destination->Reserve(templateRows.size() * rt_.MachineCount());
    if (templateRows.empty() || !destination)
        return;
    RowSequence sequence;
    for (int f = 1; f < destination->FieldCount(); ++f)
        if (platform::UpperCase(destination->FieldName(f)) == "VAR_NAME" && sequence.varNameColumn < 0)
            sequence.varNameColumn = f;
    for (std::size_t m = 1; m <= rt_.MachineCount(); ++m) {
        if (!rt_.LoadIniBoolean("Project", "ForMachine" + std::to_string(m), rt_.GetCFGPath(), false))
            continue;
        const std::string& machine = rt_.MachineNames[m];
        generated_.push_back({m, machine, 0});
        for (const auto& templateRow : templateRows)
            if (AddGeneratedRow(guard, *destination, templateRow, machine, sequence))
                ++generated_.back().rows;
    }
}

// The rows of Source_PRESET_DEFS in ID order, every field read; a field that
// cannot be read stays null. Sets templateRead_ to whether they could be counted.
std::vector<std::vector<Value>> PresetGeneration::ReadTemplateRows(runtime::Guard& guard,
                                                                   platform::db::Connection& database) {
    std::optional<Recordset> source;
    // Qualified, so that a template without an ID column fails here instead
    // of ordering by a constant text.
    guard([&] {
        source = Recordset::OnQuery(database, "Source_PRESET_DEFS", "", {}, "\"Source_PRESET_DEFS\".\"ID\"");
    });
    std::int16_t n = 0;
    templateRead_ = guard([&] { n = platform::ToInt16(source.value().RecordCount()); });
    std::vector<std::vector<Value>> rows;
    if (n == 0)
        return rows;
    guard([&] { source->MoveFirst(); });
    for (int r = 1; r <= n; ++r) {
        std::vector<Value> row(static_cast<std::size_t>(source->FieldCount()));
        for (int f = 0; f < source->FieldCount(); ++f) {
            rt_.ProcessEvents();
            guard([&] { row[static_cast<std::size_t>(f)] = source->Get(f); });
        }
        rows.push_back(std::move(row));
        guard([&] { source->MoveNext(); });
    }
    return rows;
}

// Adds the row that `templateRow` gives for `machine`, with the next ID;
// true when it was added.
bool PresetGeneration::AddGeneratedRow(runtime::Guard& guard, WorkTable& destination,
                                       const std::vector<Value>& templateRow, const std::string& machine,
                                       RowSequence& sequence) {
    rt_.ProcessEvents();
    guard([&] { destination.AddNew(); });
    guard([&] { destination.Set("ID", std::int64_t{sequence.nextPresetID}); });
    guard([&] { sequence.nextPresetID = platform::ToInt16(sequence.nextPresetID + 1); });
    for (int f = 1; f < destination.FieldCount(); ++f) {
        rt_.ProcessEvents();
        const Value& v = templateRow.at(static_cast<std::size_t>(f));
        if (!std::holds_alternative<std::string>(v)) { // not a text
            guard([&] { destination.Set(f, v); });
            continue;
        }
        const std::string& text = std::get<std::string>(v);
        const std::string value = f == sequence.varNameColumn
                                      ? FilledVarName(guard, destination, text, machine, sequence)
                                      : ReplaceSearchItem(text, "###machine", machine);
        guard([&] { destination.Set(f, value); });
    }
    return guard([&] { destination.Update(); });
}

// The variable name of the row being added in the current naming scheme:
// the pattern of its part with `text` and the machine filled in. The old
// rows get the same name (VarNameInQuelleErsetzen). A pattern that cannot be
// had leaves the scheme's name of the previous row.
std::string PresetGeneration::FilledVarName(runtime::Guard& guard, WorkTable& destination,
                                            const std::string& text, const std::string& machine,
                                            RowSequence& sequence) {
    auto& names = sequence.schemeVarNames;
    for (std::size_t k = 0; k < 2; ++k) {
        guard([&] {
            const std::size_t p = PartNumber(destination.Get("part"));
            names[k] = ReplaceSearchItem(varNamePattern_[k][p], "###Var_Name", text);
        });
        names[k] = ReplaceSearchItem(names[k], "###machine", machine);
        names[k] = ReplaceSearchItem(names[k], "###machine", machine);
    }
    VarNameInQuelleErsetzen(names[0], names[1]);
    return names[static_cast<std::size_t>(visiWinSystem_)];
}

} // namespace torvex::presetdb
