#include "presetdb/RegenerationReport.h"

#include "platform/Text.h"
#include "platform/database/FoldCase.h"
#include "presetdb/OldPresetTable.h"
#include "presetdb/PresetGeneration.h"
#include "presetdb/WorkTable.h"

#include <ctime>

namespace torvex::presetdb {
namespace {

// A value on one line of a tab-separated UTF-8 table: a tab or line break of
// its own becomes a blank, a byte that is no UTF-8 becomes U+FFFD.
std::string Cell(std::string_view text) {
    std::string cell;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = platform::Utf8CharLength(static_cast<unsigned char>(text[i]));
        const std::string_view character = text.substr(i, length);
        if (character.size() == length && platform::IsValidUtf8(character))
            cell += (character == "\t" || character == "\n" || character == "\r") ? std::string_view(" ")
                                                                                  : character;
        else
            cell += "\xEF\xBF\xBD";
        i += character.size() == length && platform::IsValidUtf8(character) ? length : 1;
    }
    return cell;
}

} // namespace

std::string ReportCell(std::string_view text) {
    return Cell(text);
}

std::size_t RegenerationReport::RowsGenerated() const {
    std::size_t rows = 0;
    for (const Machine& machine : machines)
        rows += machine.rows;
    return rows;
}

std::size_t RegenerationReport::WithoutPartner() const {
    std::size_t count = 0;
    for (const DroppedRow& row : dropped)
        count += row.overwritten ? 0 : 1;
    return count;
}

std::string RegenerationReport::Text() const {
    std::string t = "Regeneration of the preset database\n";
    t += "date: " + when + "\n";
    t += "program version: " + version + "\n";
    t += "start mode: " + startMode + "\n";
    t += "template: " + templatePath + "\n";
    t += "preset database: " + presetPath + "\n";
    if (oldRowsPath != presetPath)
        t += "old rows from: " + oldRowsPath + "\n";
    t += "naming scheme: " + scheme + "\n";
    t += "\nmachines (number, name, rows generated):\n";
    for (const Machine& machine : machines)
        t += std::to_string(machine.number) + "\t" + Cell(machine.name) + "\t" +
             std::to_string(machine.rows) + "\n";
    t += "rows generated: " + std::to_string(RowsGenerated()) + "\n";
    t += "\nold rows read: " + std::to_string(oldRows) + "\n";
    t += "renamed to the current naming scheme: " + std::to_string(renamed) + " (" +
         std::to_string(contested) +
         " of them under an old name that the generations of several machines asked for: they went to the "
         "first)\n";
    t += "carried over (tuned values taken into a generated row): " + std::to_string(carriedOver) + "\n";
    t += "without a partner (tuned values dropped): " + std::to_string(WithoutPartner()) + "\n";
    t += "with a partner, but overwritten by a later old row with the same keys (tuned values dropped): " +
         std::to_string(dropped.size() - WithoutPartner()) + "\n";
    t += "\nadditional fields (only abs_min, abs_max, min, max and pass are ever carried over):\n";
    for (const Field& field : additionalFields)
        t += Cell(field.name) + "\t" + (field.inTemplate ? "in the template" : "missing in the template") +
             "\tnot carried over\n";
    t += "\ndropped rows (" + std::to_string(dropped.size()) + "), in the order of the old table:\n";
    t += "machine_type\tvar_name\toffset_or_bitno\tabs_min\tabs_max\tmin\tmax\tpass\trenamed_to\twhy\n";
    for (const DroppedRow& row : dropped) {
        t += Cell(row.machineType) + "\t" + Cell(row.varName) + "\t" + Cell(row.offset);
        for (const std::string& value : row.values)
            t += "\t" + Cell(value);
        t += "\t" + Cell(row.renamedTo) + "\t" + (row.overwritten ? "overwritten" : "no partner") + "\n";
    }
    return t;
}

std::string RegenerationReport::Summary(const std::string& reportPath) const {
    return std::to_string(RowsGenerated()) + " rows generated, " + std::to_string(carriedOver) +
           " carried over, " + std::to_string(dropped.size()) + " dropped; report: " + reportPath;
}

namespace {

std::string LocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

} // namespace

RegenerationReport PresetGeneration::Report() const {
    RegenerationReport report;
    report.when = LocalTime();
    const auto& version = rt_.Identity().version;
    report.version = std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
                     std::to_string(version.revision);
    report.startMode = rt_.SilentMode ? "silent" : rt_.IntegratedMode ? "integrated" : "standalone";
    if (preview_)
        report.startMode += ", preview";
    report.templatePath = rt_.GetPathSourceOCXMDB();
    report.presetPath = rt_.GetPathOCXMDB();
    report.oldRowsPath = machineCopyPath_ ? *machineCopyPath_ : report.presetPath;
    report.scheme = VisiWinSystem == 0 ? "VisiWin 32" : "VisiWin Studio";
    report.machines = generated_;
    if (AdditionalFields)
        for (std::size_t i = 1; i < AdditionalFields->size(); ++i) {
            const std::string& name = (*AdditionalFields)[i];
            bool inTemplate = false;
            for (int f = 1; work_ && f < work_->FieldCount(); ++f)
                inTemplate = inTemplate || work_->FieldName(f) == name;
            report.additionalFields.push_back({name, inTemplate});
        }
    if (old_->GetState() != OldPresetTable::State::Read)
        return report;
    const OldPresetTable& old = *old_;
    report.oldRows = old.RowCount();
    const auto column = [&](const char* name) { return old.Kept(name); };
    const auto text = [&](std::size_t row, std::optional<int> kept) {
        return kept ? platform::db::ValueText(old.At(row, *kept)) : std::string();
    };
    const auto machineType = column("machine_type"), varName = column("var_name"),
               offset = column("offset_or_bitno");
    const std::array<std::optional<int>, 5> values = {column("abs_min"), column("abs_max"), column("min"),
                                                      column("max"), column("pass")};
    for (std::size_t r = 0; r < old.RowCount(); ++r) {
        if (old.NameInFile(r)) {
            ++report.renamed;
            report.contested += old.Contested(r) ? 1 : 0;
        }
        if (r < carriedOver_.size() && carriedOver_[r]) {
            ++report.carriedOver;
            continue;
        }
        RegenerationReport::DroppedRow row;
        row.machineType = text(r, machineType);
        row.varName = old.NameInFile(r).value_or(text(r, varName));
        row.renamedTo = old.NameInFile(r) ? text(r, varName) : "";
        row.offset = text(r, offset);
        row.overwritten = r < overwritten_.size() && overwritten_[r];
        for (std::size_t k = 0; k < values.size(); ++k)
            row.values[k] = text(r, values[k]);
        report.dropped.push_back(std::move(row));
    }
    return report;
}

} // namespace torvex::presetdb
