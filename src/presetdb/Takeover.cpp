#include "platform/Text.h"
#include "platform/database/FoldCase.h"
#include "presetdb/PresetGeneration.h"
#include "runtime/Guard.h"
#include "runtime/ProgramEnd.h"

#include <array>
#include <cmath>
#include <map>
#include <tuple>

namespace torvex::presetdb {

using platform::db::Recordset;
using platform::db::Value;

namespace {

// Fields read from an old row, by buffer column; column 6 stays empty.
constexpr std::array<const char*, 15> kOldRowFields = {
    "ID",   "machine_type", "type",    "var_name", "category_id", "isBitArray", "",    "offset_or_bitno",
    "text", "page_name",    "abs_min", "abs_max",  "min",         "max",        "pass"};
constexpr std::size_t kMachineType = 1, kVarName = 3, kOffset = 7;
// The columns taken over, with the buffer column each one comes from.
constexpr std::array<std::pair<const char*, std::size_t>, 5> kTakenOver = {
    {{"abs_min", 10}, {"abs_max", 11}, {"min", 12}, {"max", 13}, {"pass", 14}}};
// The fixed columns of the row query that finds an old row's partner.
constexpr std::array<const char*, 14> kRowQueryColumns = {
    "ID",   "machine_type", "type",    "var_name", "category_id", "isBitArray", "offset_or_bitno",
    "text", "page_name",    "abs_min", "abs_max",  "min",         "max",        "pass"};

// The number an offset_or_bitno value stands for in the row query, where it
// is written as bare decimal text; std::nullopt when that text is no number
// (an empty value leaves the query malformed).
std::optional<double> OffsetKey(const Value& value) {
    if (std::holds_alternative<std::monostate>(value) || std::holds_alternative<platform::db::Date>(value))
        return std::nullopt;
    try {
        const double d = std::get<double>(platform::db::Coerce(platform::db::Kind::Number, value));
        return d == 0 ? 0.0 : d;
    } catch (const platform::Failure&) {
        return std::nullopt;
    }
}

using RowKey = std::tuple<std::string, std::string, double>;

// Partners of old rows: the first template-database row, in table order, for
// each (machine_type, var_name, offset_or_bitno), texts compared as the
// engine compares them.
std::map<RowKey, std::int64_t> IndexTemplateRows(platform::db::Connection& database) {
    std::map<RowKey, std::int64_t> index;
    auto& scan = database.Prepare("SELECT rowid, machine_type, var_name, offset_or_bitno FROM PRESET_DEFS "
                                  "ORDER BY rowid");
    const auto columns = database.Columns("PRESET_DEFS");
    auto kindOf = [&](const char* name) {
        for (const auto& c : columns)
            if (platform::EqualsNoCase(c.name, name))
                return platform::db::KindOfDeclaredType(c.type);
        return platform::db::Kind::Text;
    };
    const auto offsetKind = kindOf("offset_or_bitno");
    while (scan.Step()) {
        if (scan.ColumnIsNull(1) || scan.ColumnIsNull(2) || scan.ColumnIsNull(3))
            continue;
        std::optional<double> offset;
        if (offsetKind == platform::db::Kind::Whole || offsetKind == platform::db::Kind::Number)
            offset = OffsetKey(scan.Column(3, platform::db::Kind::Number));
        if (!offset)
            continue;
        index.try_emplace(
            {platform::db::FoldCase(scan.ColumnText(1)), platform::db::FoldCase(scan.ColumnText(2)), *offset},
            scan.ColumnInt(0));
    }
    return index;
}

} // namespace

std::string PresetGeneration::ComponentUpper() {
    return platform::UpperCase(rt_.GetOCXName());
}

void PresetGeneration::AbortRun(const std::string& logLine, bool declinedWarning) {
    rt_.WriteErrorLog(logLine);
    runtime::Guard fatal(rt_, "TakeoverMachineCopyMDBData");
    fatal.SetFatal(true);
    fatal([&] {
        throw platform::Failure(9999, rt_.Identity().programFileName,
                                "Database-Error - Contact Administrator!");
    });
    (void)declinedWarning; // a silent run resumes from the report; the run ends all the same
    rt_.EndProgram();
}

// Carries abs_min, abs_max, min, max and pass of every old row over to the
// first regenerated row with the same machine_type, var_name and
// offset_or_bitno. Rows without a partner stay as they are.
void PresetGeneration::TakeoverMachineCopyMDBData(platform::db::Connection& database,
                                                  std::optional<Recordset>& oldRows) {
    runtime::Guard guard(rt_, "TakeoverMachineCopyMDBData");
    const std::string c = ComponentUpper();
    int fieldCount = 0;
    guard([&] { fieldCount = oldRows.value().FieldCount(); });
    if (fieldCount > 15 && AdditionalFieldCount == 0) {
        const std::string lines[] = {
            "WARNING!", "Machinecopy contains data in fields that won't be taken over!",
            "Configurationfile \"" + c + ".CFG\", missing entry \"DataBaseAdditionalFields \"",
            "If you continue now this data will be lost.", "Continue?"};
        if (rt_.SilentMode) {
            rt_.WriteServicePackLog(lines[0] + lines[1] + lines[2] + lines[3] + lines[4]);
        } else {
            std::string text;
            for (const auto& line : lines)
                text += (text.empty() ? "" : std::string(runtime::LFCR)) + line;
            const auto answer = rt_.ShowMessage({text, rt_.Identity().programFileName,
                                                 platform::Buttons::YesNo, platform::Icon::Exclamation, 2});
            if (answer != platform::Answer::Yes)
                AbortRun(rt_.Identity().programFileName + " :Database-Error - Contact Administrator!" +
                             " Configurationprogram \"" + c + "\" terminated." +
                             " Please check Configuration in \"" + c + ".CFG\"" + " Restart " +
                             platform::UpperCase(rt_.Identity().programFolder + "/" +
                                                 rt_.Identity().programFileName + ".EXE!"),
                         true);
        }
    }

    // Read the old rows.
    std::vector<std::vector<Value>> buffer;
    guard([&] {
        Recordset& rows = oldRows.value();
        std::array<std::optional<int>, 15> fieldIndex;
        for (std::size_t col = 0; col < kOldRowFields.size(); ++col) {
            std::string name = kOldRowFields[col];
            if (col == 4 && rows.HasField("categorie"))
                name = "categorie";
            if (!name.empty() && rows.HasField(name))
                fieldIndex[col] = rows.FieldIndex(name);
        }
        const std::size_t count = rows.RecordCount();
        if (count > 32767)
            platform::Raise(platform::errnum::Overflow, "Overflow");
        if (count == 0) // going to the first row of an empty table fails
            throw platform::Failure(12, platform::kDatabaseSource, "No current record.");
        rows.MoveFirst();
        for (std::size_t i = 0; i < count && !rows.IsEOF(); ++i) {
            rt_.ProcessEvents();
            std::vector<Value> row(15);
            for (std::size_t col = 0; col < kOldRowFields.size(); ++col) {
                if (col == 6)
                    continue;
                guard([&] {
                    row[col] = fieldIndex[col] ? rows.Get(*fieldIndex[col]) : rows.Get(kOldRowFields[col]);
                });
            }
            buffer.push_back(std::move(row));
            guard([&] { rows.MoveNext(); });
        }
    });
    oldRows.reset();
    if (buffer.empty())
        return;

    // Every row query asks for the same columns of the same table: when one of
    // them is missing, each query fails and every row is skipped silently.
    bool queryable = true;
    guard([&] {
        const auto columns = database.Columns("PRESET_DEFS");
        std::vector<std::string> wanted(kRowQueryColumns.begin(), kRowQueryColumns.end());
        if (AdditionalFields)
            wanted.insert(wanted.end(), AdditionalFields->begin() + 1, AdditionalFields->end());
        for (const auto& name : wanted) {
            bool found = false;
            for (const auto& col : columns)
                found = found || platform::EqualsNoCase(col.name, name);
            queryable = queryable && found;
        }
        // The extension check: every additional field must exist, spelled exactly.
        if (!AdditionalFields)
            return;
        for (std::size_t j = 1; j < AdditionalFields->size(); ++j) {
            bool found = false;
            for (std::size_t f = 1; f < columns.size() && !found; ++f)
                found = columns[f].name == (*AdditionalFields)[j];
            if (!found)
                AbortRun("Conflict while attempting to extend database!Configurationsfile \"" + c +
                             ".CFG\", demanded field \"" + platform::UpperCase((*AdditionalFields)[j]) +
                             "\"missing in machinecopy-database" + std::string(runtime::LFCR) +
                             "Configuration of \"" + c + "\" aborted.",
                         false);
        }
    });
    if (!queryable)
        return;

    std::map<RowKey, std::int64_t> partners;
    guard([&] { partners = IndexTemplateRows(database); });
    std::vector<platform::db::Kind> kinds;
    guard([&] {
        const auto columns = database.Columns("PRESET_DEFS");
        for (const auto& [name, col] : kTakenOver) {
            kinds.push_back(platform::db::Kind::Text);
            for (const auto& def : columns)
                if (platform::EqualsNoCase(def.name, name))
                    kinds.back() = platform::db::KindOfDeclaredType(def.type);
        }
    });
    guard([&] { database.Begin(); });
    for (const auto& row : buffer) {
        const auto offset = OffsetKey(row[kOffset]);
        if (!offset)
            continue; // an empty or non-numeric offset makes the row query fail: skipped
        const auto it =
            partners.find({platform::db::FoldCase(platform::db::ValueText(row[kMachineType])),
                           platform::db::FoldCase(platform::db::ValueText(row[kVarName])), *offset});
        if (it == partners.end())
            continue;
        guard([&] {
            auto& update =
                database.Prepare("UPDATE PRESET_DEFS SET abs_min = ?1, abs_max = ?2, min = ?3, max = ?4, "
                                 "pass = ?5 WHERE rowid = ?6");
            for (std::size_t k = 0; k < kTakenOver.size(); ++k)
                update.Bind(static_cast<int>(k + 1),
                            platform::db::Coerce(kinds[k], row[kTakenOver[k].second]));
            update.Bind(6, it->second).Run();
        });
    }
    guard([&] { database.Commit(); });
}

} // namespace torvex::presetdb
