#include "presetdb/RegenerationReport.h"

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "platform/database/FoldCase.h"
#include "presetdb/OldPresetTable.h"
#include "presetdb/PresetGeneration.h"
#include "presetdb/WorkTable.h"

#include <cstdio>
#include <ctime>

namespace torvex::presetdb {
namespace {

// The code point of one valid UTF-8 character.
char32_t CodePoint(std::string_view character) {
    const auto byte = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(character[i]));
    };
    switch (character.size()) {
    case 1:
        return byte(0);
    case 2:
        return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
    case 3:
        return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
    default:
        return (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
    }
}

// Characters that show nothing, or end a line for some readers: control
// characters, the Unicode line and paragraph separators, direction
// overrides and the byte order mark.
bool Invisible(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

// `text` as valid UTF-8 (a byte that is none becomes U+FFFD) with invisible
// characters escaped (\t, \n, \r, \x0B, \u2028), except tabs and line breaks
// when `keepBreaks`.
std::string Escaped(std::string_view text, bool keepBreaks) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = platform::Utf8CharLength(static_cast<unsigned char>(text[i]));
        const std::string_view character = text.substr(i, length);
        if (character.size() != length || !platform::IsValidUtf8(character)) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        i += length;
        const char32_t c = CodePoint(character);
        if (!Invisible(c) || (keepBreaks && (c == '\t' || c == '\n' || c == '\r'))) {
            out += character;
            continue;
        }
        char escape[16];
        if (c == '\t' || c == '\n' || c == '\r')
            std::snprintf(escape, sizeof escape, "\\%c", c == '\t' ? 't' : c == '\n' ? 'n' : 'r');
        else if (c < 0x80)
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(c));
        else
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
        out += escape;
    }
    return out;
}

// True when a spreadsheet reads `text` as a number: a sign, digits with at
// most one decimal point, and an exponent.
bool IsDecimalNumber(std::string_view text) {
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t from = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        return i - from;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t count = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        count += digits();
    }
    if (count == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == text.size();
}

} // namespace

std::string VisibleText(std::string_view text) {
    return Escaped(text, false);
}

std::string EarlierReportNote(const std::string& path) {
    const auto text = platform::ReadWholeFile(path);
    if (!text)
        return {};
    std::string note = "; the report beside the database is from an earlier run";
    if (const auto at = text->find("\ndate: "); at != std::string::npos)
        note += " (of " +
                VisibleText(std::string_view(*text).substr(at + 7, text->find('\n', at + 7) - at - 7)) + ")";
    return note;
}

std::string TableCell(std::string_view text) {
    std::string cell = Escaped(text, true);
    // A text that starts like a formula is shown as the text it is.
    if (!cell.empty() && std::string_view("=+-@\t\r").find(cell.front()) != std::string_view::npos &&
        !IsDecimalNumber(cell))
        cell.insert(0, "'");
    if (cell.find_first_of("\"\t\n\r") == std::string::npos)
        return cell;
    std::string quoted = "\"";
    for (const char c : cell) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + "\"";
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
        count += row.overwritten || !row.lost.empty() ? 0 : 1;
    return count;
}

std::size_t RegenerationReport::CarriedInPart() const {
    std::size_t count = 0;
    for (const DroppedRow& row : dropped)
        count += row.lost.empty() ? 0 : 1;
    return count;
}

std::string RegenerationReport::Text() const {
    std::string t = "Regeneration of the preset database\n";
    t += "date: " + when + "\n";
    t += "program version: " + version + "\n";
    t += "start mode: " + startMode + "\n";
    t += "template: " + VisibleText(templatePath) + "\n";
    t += "preset database: " + VisibleText(presetPath) + "\n";
    if (oldRowsPath != presetPath)
        t += "old rows from: " + VisibleText(oldRowsPath) + "\n";
    t += "naming scheme: " + scheme + "\n";
    t += "\nmachines (number, name, rows generated):\n";
    for (const Machine& machine : machines)
        t += std::to_string(machine.number) + "\t" + TableCell(machine.name) + "\t" +
             std::to_string(machine.rows) + "\n";
    t += "rows generated: " + std::to_string(RowsGenerated()) + "\n";
    t += "\nold rows read: " + std::to_string(oldRows) + "\n";
    t += "renamed to the current naming scheme: " + std::to_string(renamed) + " (" +
         std::to_string(contested) +
         " of them under an old name that the generations of several machines asked for: they went to the "
         "first)\n";
    t += "carried over (tuned values taken into a generated row): " + std::to_string(carriedOver) + "\n";
    t += "carried over in part (a value its partner could not take was dropped): " +
         std::to_string(CarriedInPart()) + "\n";
    t += "without a partner (tuned values dropped): " + std::to_string(WithoutPartner()) + "\n";
    t += "with a partner, but overwritten by a later old row with the same keys (tuned values dropped): " +
         std::to_string(dropped.size() - WithoutPartner() - CarriedInPart()) + "\n";
    t += "\nadditional fields (only " + FieldNames(kCarriedFields, ", ", " and ") +
         " are ever carried over):\n";
    for (const Field& field : additionalFields)
        t += TableCell(field.name) + "\t" +
             (field.inTemplate ? "in the template" : "missing in the template") + "\tnot carried over\n";
    t += "\ndropped rows, whole or in part (" + std::to_string(dropped.size()) +
         "), in the order of the old table (tab-separated, quoted where a cell holds a quote, tab or line "
         "break):\n";
    t += FieldNames(kKeyFields, "\t", "\t") + "\t" + FieldNames(kCarriedFields, "\t", "\t") +
         "\trenamed_to\twhy\n";
    for (const DroppedRow& row : dropped) {
        t += TableCell(row.machineType) + "\t" + TableCell(row.varName) + "\t" + TableCell(row.offset);
        for (const std::string& value : row.values)
            t += "\t" + TableCell(value);
        t += "\t" + TableCell(row.renamedTo) + "\t" +
             TableCell(!row.lost.empty() ? row.lost
                       : row.overwritten ? "overwritten"
                                         : "no partner") +
             "\n";
    }
    return t;
}

std::string RegenerationReport::Summary(const std::string& reportPath) const {
    return std::to_string(RowsGenerated()) + " rows generated, " + std::to_string(carriedOver) +
           " carried over, " + std::to_string(CarriedInPart()) + " carried over in part, " +
           std::to_string(dropped.size() - CarriedInPart()) + " dropped; report: " + VisibleText(reportPath);
}

namespace {

// The old rows as the report lists them, values as text ("" for null and
// for a column the old table lacks).
class OldRowTexts {
public:
    explicit OldRowTexts(const OldPresetTable& old) : old_(old) {
        for (std::size_t k = 0; k < kKeyFields.size(); ++k)
            keys_[k] = Column(kKeyFields[k]);
        for (std::size_t k = 0; k < kCarriedCount; ++k)
            values_[k] = Column(kCarriedFields[k]);
    }

    // Old row `r` with its keys as the old table has them: renamed to the
    // current scheme, the old name is the one listed.
    RegenerationReport::DroppedRow Dropped(std::size_t r) const {
        RegenerationReport::DroppedRow row;
        const std::string varName = Text(r, keys_[1]);
        row.machineType = Text(r, keys_[0]);
        row.varName = old_.NameInFile(r).value_or(varName);
        row.renamedTo = old_.NameInFile(r) ? varName : "";
        row.offset = Text(r, keys_[2]);
        for (std::size_t k = 0; k < kCarriedCount; ++k)
            row.values[k] = Text(r, values_[k]);
        return row;
    }

private:
    std::optional<int> Column(OldField field) const { return old_.Kept(std::string(NameOf(field))); }
    std::string Text(std::size_t r, std::optional<int> column) const {
        return column ? platform::db::ValueText(old_.At(r, *column)) : std::string();
    }

    const OldPresetTable& old_;
    std::array<std::optional<int>, kKeyFields.size()> keys_; // as kKeyFields
    std::array<std::optional<int>, kCarriedCount> values_;
};
static_assert(kKeyFields == std::array{OldField::MachineType, OldField::VarName, OldField::OffsetOrBitno});

} // namespace

RegenerationReport PresetGeneration::Report() const {
    RegenerationReport report = ReportHead();
    if (old_->GetState() != OldPresetTable::State::Read)
        return report;
    const OldPresetTable& old = *old_;
    const OldRowTexts texts(old);
    report.oldRows = old.RowCount();
    for (std::size_t r = 0; r < old.RowCount(); ++r) {
        if (old.NameInFile(r)) {
            ++report.renamed;
            report.contested += old.Contested(r) ? 1 : 0;
        }
        const std::string& lost = r < lost_.size() ? lost_[r] : std::string();
        if (r < carriedOver_.size() && carriedOver_[r] && lost.empty()) {
            ++report.carriedOver;
            continue;
        }
        RegenerationReport::DroppedRow row = texts.Dropped(r);
        row.lost = lost;
        row.overwritten = r < overwritten_.size() && overwritten_[r];
        report.dropped.push_back(std::move(row));
    }
    return report;
}

// The report's head: the run, its files, its machines and the additional fields.
RegenerationReport PresetGeneration::ReportHead() const {
    RegenerationReport report;
    report.when = platform::LocalTimeText(std::time(nullptr));
    report.version = rt_.Identity().version.Text();
    report.startMode = rt_.SilentMode() ? "silent" : rt_.IntegratedMode() ? "integrated" : "standalone";
    if (preview_)
        report.startMode += ", preview";
    report.templatePath = rt_.GetPathSourceOCXMDB();
    report.presetPath = rt_.GetPathOCXMDB();
    report.oldRowsPath = machineCopyPath_ ? *machineCopyPath_ : report.presetPath;
    report.scheme = visiWinSystem_ == 0 ? "VisiWin 32" : "VisiWin Studio";
    report.machines = generated_;
    if (additionalFields_)
        for (std::size_t i = 1; i < additionalFields_->size(); ++i) {
            const std::string& name = (*additionalFields_)[i];
            bool inTemplate = false;
            for (int f = 1; work_ && f < work_->FieldCount(); ++f)
                inTemplate = inTemplate || work_->FieldName(f) == name;
            report.additionalFields.push_back({name, inTemplate});
        }
    return report;
}

} // namespace torvex::presetdb
