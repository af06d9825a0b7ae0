#include "platform/ProgramEnd.h"
#include "platform/Text.h"
#include "platform/database/FoldCase.h"
#include "presetdb/FlatIndex.h"
#include "presetdb/OldPresetTable.h"
#include "presetdb/PresetGeneration.h"
#include "presetdb/WorkTable.h"
#include "runtime/Guard.h"

#include <sqlite3.h>

#include <array>
#include <cmath>
#include <cstring>

namespace torvex::presetdb {

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

// The keys of one row as the row query compares them.
struct RowKey {
    std::string machineType; // folded
    std::string varName;     // folded
    double offset = 0;
    bool operator==(const RowKey&) const = default;
    std::uint64_t Hash() const {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &offset, sizeof bits);
        return FlatIndex::Combine(FlatIndex::Combine(FlatIndex::Hash(machineType), FlatIndex::Hash(varName)),
                                  bits);
    }
};

// Partners of old rows: the first row of the work table, in table order, for
// each (machine_type, var_name, offset_or_bitno), texts compared as the
// engine compares them. A key that the row query could not match (a null, an
// offset column that holds no numbers) gives no partner.
class PartnerIndex {
public:
    PartnerIndex() = default;
    PartnerIndex(const WorkTable& table, int machineType, int varName, int offset) {
        const auto offsetKind = table.FieldKind(offset);
        if (offsetKind != platform::db::Kind::Whole && offsetKind != platform::db::Kind::Number)
            return;
        index_.Reserve(table.RowCount());
        for (std::size_t r = 0; r < table.RowCount(); ++r) {
            const Value& type = table.At(r, machineType);
            const Value& name = table.At(r, varName);
            const auto key = OffsetKey(table.At(r, offset));
            if (std::holds_alternative<std::monostate>(type) ||
                std::holds_alternative<std::monostate>(name) || !key)
                continue;
            RowKey rowKey{platform::db::FoldCase(platform::db::ValueText(type)),
                          platform::db::FoldCase(platform::db::ValueText(name)), *key};
            if (Find(rowKey))
                continue; // only the first row with these keys is a partner
            index_.Insert(rowKey.Hash(), static_cast<std::uint32_t>(keys_.size()));
            keys_.push_back(std::move(rowKey));
            rows_.push_back(r);
        }
    }

    // The row of the work table that is the partner of `key`, if any.
    std::optional<std::size_t> Find(const RowKey& key) const {
        std::optional<std::size_t> row;
        index_.Find(key.Hash(), [&](std::uint32_t i) {
            if (!(keys_[i] == key))
                return false;
            row = rows_[i];
            return true;
        });
        return row;
    }

private:
    FlatIndex index_;
    std::vector<RowKey> keys_;
    std::vector<std::size_t> rows_;
};

} // namespace

// The values of an old row that are used after reading: the three keys and
// the five columns taken over, addressed by buffer column.
class OldRow {
public:
    // The slot of a buffer column, or std::nullopt for a column that is only read.
    static std::optional<std::size_t> Slot(std::size_t column) {
        if (column == kMachineType)
            return 0;
        if (column == kVarName)
            return 1;
        if (column == kOffset)
            return 2;
        if (column >= 10 && column <= 14)
            return column - 7;
        return std::nullopt;
    }
    const Value& operator[](std::size_t column) const { return values_[Slot(column).value()]; }
    Value& operator[](std::size_t column) { return values_[Slot(column).value()]; }

private:
    std::array<Value, 8> values_{};
};

const std::vector<std::string>& PresetGeneration::OldRowColumns() {
    // Only the keys and the five values are used after reading.
    static const std::vector<std::string> columns = [] {
        std::vector<std::string> names;
        for (std::size_t col = 0; col < kOldRowFields.size(); ++col)
            if (OldRow::Slot(col))
                names.emplace_back(kOldRowFields[col]);
        return names;
    }();
    return columns;
}

namespace {

// Gives the partner row the value of taken-over column `k` of old row number
// `oldRow` (0-based). A value that the column does not take fails, naming
// the column, the old row and the value, for the caller's guard to report;
// the partner then keeps its own value.
void TakeOverValue(WorkTable& table, std::size_t partner, int target, std::size_t k, const OldRow& row,
                   std::size_t oldRow) {
    const Value& value = row[kTakenOver[k].second];
    try {
        table.Assign(partner, target, value);
    } catch (const platform::Failure& failure) {
        throw platform::Failure(failure.Number(), failure.Source(),
                                failure.Description() + ": " + kTakenOver[k].first + " of old row " +
                                    std::to_string(oldRow + 1) + " holds \"" +
                                    platform::db::ValueText(value) + "\"");
    }
}

// What was lost of taken-over column `k` of `row` when its partner did not
// take the value (its partner keeps what it held).
std::string LossText(std::size_t k, const OldRow& row, platform::db::Kind kind) {
    const Value& value = row[kTakenOver[k].second];
    const std::string text = platform::db::ValueText(value);
    const bool number = kind == platform::db::Kind::Whole || kind == platform::db::Kind::Number;
    return std::string(kTakenOver[k].first) + ": " +
           (number && std::holds_alternative<std::string>(value)
                ? "text \"" + text + "\" is no number"
                : "\"" + text + "\" does not fit the column");
}

} // namespace

std::string PresetGeneration::ComponentUpper() {
    return platform::UpperCase(rt_.GetOCXName());
}

// Ends the run from inside the take-over: logs `logLine`, reports the
// database error in its fatal form and ends the program, also in a silent
// run, whose report resumes. The report has a guard of its own, set fatal,
// so that the caller's guard never resumes after it.
void PresetGeneration::AbortRun(platform::db::Connection& database, const std::string& logLine) {
    // Rows taken over before this moment stay taken over.
    try {
        StoreWorkTable(database);
    } catch (const platform::Failure&) {
        // ending anyway: what could not be stored stays as it was
    }
    rt_.WriteErrorLog(logLine);
    runtime::Guard fatal(rt_, "TakeoverMachineCopyMDBData");
    fatal.SetFatal(true);
    fatal([&] {
        throw platform::Failure(platform::errnum::DatabaseError, rt_.Identity().programFileName,
                                "Database-Error - Contact Administrator!");
    });
    rt_.EndProgram(); // a silent run resumes from the report; the run ends all the same
}

// Carries abs_min, abs_max, min, max and pass of every old row over to the
// first regenerated row with the same machine_type, var_name and
// offset_or_bitno. Rows without a partner stay as they are.
void PresetGeneration::TakeoverMachineCopyMDBData(platform::db::Connection& database,
                                                  const OldPresetTable& oldRows) {
    runtime::Guard guard(rt_, "TakeoverMachineCopyMDBData");
    const auto fieldCount = oldRows.Columns().size();
    if (fieldCount > 15 && AdditionalFieldCount == 0)
        WarnAboutFieldsNotTakenOver(database);
    const std::vector<OldRow> buffer = ReadOldRows(guard, oldRows);
    if (buffer.empty())
        return;
    for (const char* key : {"machine_type", "var_name", "offset_or_bitno"})
        if (!oldRows.Kept(key)) {
            // Without its keys, no old row can find its partner.
            takeoverComplete_ = false;
            takeoverTrouble_ = std::string("its PRESET_DEFS has no column ") + key;
            return;
        }
    if (!RowQueriesCanRun(guard, database)) {
        // No row query could run: not one tuned value would reach the new rows.
        takeoverComplete_ = false;
        takeoverTrouble_ = "the template's PRESET_DEFS lacks a column that the take-over needs";
        return;
    }
    ApplyOldRows(guard, database, buffer);
}

// The old table has columns that nothing carries over: ask (or, unattended,
// log) before their data is lost.
void PresetGeneration::WarnAboutFieldsNotTakenOver(platform::db::Connection& database) {
    const std::string c = ComponentUpper();
    const std::string lines[] = {"WARNING!", "Machinecopy contains data in fields that won't be taken over!",
                                 "Configurationfile \"" + c +
                                     ".CFG\", missing entry \"DataBaseAdditionalFields \"",
                                 "If you continue now this data will be lost.", "Continue?"};
    if (rt_.SilentMode()) {
        rt_.WriteServicePackLog(lines[0] + lines[1] + lines[2] + lines[3] + lines[4]);
        return;
    }
    std::string text;
    for (const auto& line : lines)
        text += (text.empty() ? "" : std::string(runtime::LFCR)) + line;
    const auto& id = rt_.Identity();
    if (rt_.ShowMessage({text, id.programFileName, platform::Buttons::YesNo, platform::Icon::Exclamation,
                         2}) == platform::Answer::Yes)
        return;
    AbortRun(database, id.programFileName + " :Database-Error - Contact Administrator!" +
                           " Configurationprogram \"" + c + "\" terminated." +
                           " Please check Configuration in \"" + c + ".CFG\"" + " Restart " +
                           platform::UpperCase(id.programFolder + "/" + id.programFileName + ".EXE!"));
}

namespace {

// The buffer columns that the old table lacks: reading them fails for every row.
std::vector<std::size_t> MissingFields(const OldPresetTable& oldRows) {
    std::vector<std::size_t> missing;
    for (std::size_t col = 0; col < kOldRowFields.size(); ++col) {
        const std::string name = col == 4 && oldRows.Has("categorie") ? "categorie" : kOldRowFields[col];
        if (col != 6 && !oldRows.Has(name))
            missing.push_back(col);
    }
    return missing;
}

// By buffer column, where the old table keeps the value that an OldRow holds.
std::array<std::optional<int>, kOldRowFields.size()> KeptFields(const OldPresetTable& oldRows) {
    std::array<std::optional<int>, kOldRowFields.size()> kept;
    for (std::size_t col = 0; col < kOldRowFields.size(); ++col)
        if (OldRow::Slot(col))
            kept[col] = oldRows.Kept(kOldRowFields[col]);
    return kept;
}

[[noreturn]] void RaiseMissingField(std::size_t col) {
    throw platform::Failure(SQLITE_ERROR, platform::kDatabaseSource,
                            std::string("Item not found in this collection: ") + kOldRowFields[col]);
}

} // namespace

// Reads the fourteen fields of every old row; a field that the old table
// lacks is reported and stays empty. More rows than a 16-bit count holds
// cannot be read as a whole: nothing is read, and the run keeps the preset
// database as it is.
std::vector<OldRow> PresetGeneration::ReadOldRows(runtime::Guard& guard, const OldPresetTable& oldRows) {
    const std::size_t count = oldRows.RowCount();
    const bool counted = guard([&] {
        (void)platform::ToInt16(count); // the old rows are counted in 16 bits
        if (count == 0)                 // going to the first row of an empty table fails
            throw platform::Failure(platform::errnum::NoCurrentRecord, platform::kDatabaseSource,
                                    "No current record.");
    });
    if (!counted) {
        takeoverComplete_ = count == 0;
        return {};
    }
    // A field that the old table lacks fails for every row, as reading it
    // would; the others are only read, and only the used ones are kept.
    const std::vector<std::size_t> missing = MissingFields(oldRows);
    const auto kept = KeptFields(oldRows);
    std::vector<OldRow> buffer;
    buffer.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        rt_.ProcessEvents();
        for (const std::size_t col : missing)
            guard([&] { RaiseMissingField(col); });
        OldRow& row = buffer.emplace_back();
        for (std::size_t col = 0; col < kOldRowFields.size(); ++col)
            if (kept[col])
                row[col] = oldRows.At(i, *kept[col]);
    }
    return buffer;
}

// Every row query asks for the same columns of the same table: when one of
// them is missing, each query fails and every row is skipped silently. Before
// that, every additional field must exist, spelled exactly, or the run ends.
bool PresetGeneration::RowQueriesCanRun(runtime::Guard& guard, platform::db::Connection& database) {
    bool queryable = true;
    guard([&] {
        const auto columns = database.Columns("PRESET_DEFS");
        const auto has = [&](const std::string& name, bool exactly, std::size_t from) {
            for (std::size_t f = from; f < columns.size(); ++f)
                if (exactly ? columns[f].name == name : platform::EqualsNoCase(columns[f].name, name))
                    return true;
            return false;
        };
        const std::size_t extra = AdditionalFields ? AdditionalFields->size() : 0;
        for (std::size_t j = 1; j < extra; ++j) {
            const std::string& field = (*AdditionalFields)[j];
            if (!has(field, true, 1))
                AbortRun(database, "Conflict while attempting to extend database!Configurationsfile \"" +
                                       ComponentUpper() + ".CFG\", demanded field \"" +
                                       platform::UpperCase(field) + "\"missing in machinecopy-database" +
                                       std::string(runtime::LFCR) + "Configuration of \"" + ComponentUpper() +
                                       "\" aborted.");
            queryable = queryable && has(field, false, 0);
        }
        for (const char* name : kRowQueryColumns)
            queryable = queryable && has(name, false, 0);
    });
    return queryable;
}

// Gives each old row's five values to its partner among the regenerated
// rows. Those are still in the work table; without one (the take-over on its
// own), the rows stored in the table are worked on.
void PresetGeneration::ApplyOldRows(runtime::Guard& guard, platform::db::Connection& database,
                                    const std::vector<OldRow>& buffer) {
    std::unique_ptr<WorkTable> loaded;
    WorkTable* table = work_.get();
    if (!table) {
        if (!guard([&] {
                loaded = std::make_unique<WorkTable>(database.Columns("PRESET_DEFS"));
                loaded->LoadStored(database);
            })) {
            takeoverComplete_ = false;
            return;
        }
        table = loaded.get();
    }
    std::array<int, kTakenOver.size()> targets{};
    for (std::size_t k = 0; k < kTakenOver.size(); ++k)
        targets[k] = table->FindField(kTakenOver[k].first).value_or(-1);
    PartnerIndex partners;
    if (!guard([&] {
            partners = PartnerIndex(*table, table->FindField("machine_type").value(),
                                    table->FindField("var_name").value(),
                                    table->FindField("offset_or_bitno").value());
        })) {
        takeoverComplete_ = false;
        return;
    }
    carriedOver_.assign(buffer.size(), false);
    overwritten_.assign(buffer.size(), false);
    lost_.assign(buffer.size(), std::string());
    // The old row whose values a regenerated row holds so far: a later old
    // row with the same keys overwrites them.
    std::vector<std::size_t> holder(table->RowCount(), buffer.size());
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        const OldRow& row = buffer[i];
        const auto offset = OffsetKey(row[kOffset]);
        if (!offset)
            continue; // an empty or non-numeric offset makes the row query fail: skipped
        const auto partner =
            partners.Find({platform::db::FoldCase(platform::db::ValueText(row[kMachineType])),
                           platform::db::FoldCase(platform::db::ValueText(row[kVarName])), *offset});
        if (!partner)
            continue;
        const bool earlier = holder[*partner] < buffer.size();
        if (earlier) {
            carriedOver_[holder[*partner]] = false;
            overwritten_[holder[*partner]] = true;
        }
        holder[*partner] = i;
        carriedOver_[i] = true;
        std::string lost;
        int losses = 0;
        for (std::size_t k = 0; k < kTakenOver.size(); ++k)
            if (!guard([&] { TakeOverValue(*table, *partner, targets[k], k, row, i); })) {
                const auto kind = targets[k] < 0 ? platform::db::Kind::Text : table->FieldKind(targets[k]);
                lost += (losses++ ? ", " : "") + LossText(k, row, kind);
            }
        if (losses > 0)
            lost_[i] = lost + (earlier      ? "; what an earlier old row with the same keys gave was kept"
                               : losses > 1 ? "; the template's values were kept"
                                            : "; the template's value was kept");
    }
    if (loaded && !guard([&] { loaded->Store(database); }))
        takeoverComplete_ = false;
}

} // namespace torvex::presetdb
