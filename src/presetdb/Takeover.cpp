#include "platform/ProgramEnd.h"
#include "platform/Text.h"
#include "platform/database/FoldCase.h"
#include "presetdb/FlatIndex.h"
#include "presetdb/OldPresetTable.h"
#include "presetdb/OldRowFields.h"
#include "presetdb/PresetGeneration.h"
#include "presetdb/WorkTable.h"
#include "runtime/Guard.h"

#include <sqlite3.h>

#include <array>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace torvex::presetdb {

using platform::db::Value;

namespace {

// An old table with more fields than this holds some that nothing carries
// over, unless the component configuration names additional fields.
constexpr std::size_t kFieldsNeverWarnedAbout = 15;

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
    // The key columns of `table` must exist (std::bad_optional_access).
    explicit PartnerIndex(const WorkTable& table) {
        const auto column = [&](OldField key) { return table.FindField(std::string(NameOf(key))).value(); };
        const int machineType = column(OldField::MachineType), varName = column(OldField::VarName),
                  offset = column(OldField::OffsetOrBitno);
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

// The values of an old row that are used after reading: its keys and its
// tuned values.
class OldRow {
public:
    // Where an OldRow keeps `field`, or std::nullopt for a field that is only read.
    static constexpr std::optional<std::size_t> Slot(OldField field) {
        std::size_t slot = 0;
        for (std::size_t i = 0; i < Index(field); ++i)
            slot += kOldFields[i].use != FieldUse::Read ? 1 : 0;
        if (kOldFields[Index(field)].use == FieldUse::Read)
            return std::nullopt;
        return slot;
    }
    const Value& operator[](OldField field) const { return values_[Kept(field)]; }
    Value& operator[](OldField field) { return values_[Kept(field)]; }

private:
    static std::size_t Kept(OldField field) {
        const auto slot = Slot(field);
        assert(slot && "a field that is only read is not kept");
        return *slot;
    }

    std::array<Value, kKeyFields.size() + kCarriedCount> values_{};
};

const std::vector<std::string>& PresetGeneration::OldRowColumns() {
    // Only the keys and the five values are used after reading.
    static const std::vector<std::string> columns = [] {
        std::vector<std::string> names;
        for (const OldFieldInfo& info : kOldFields)
            if (OldRow::Slot(info.field))
                names.emplace_back(info.name);
        return names;
    }();
    return columns;
}

namespace {

// Gives the partner row the value of carried `field` of old row number
// `oldRow` (0-based). A value that the column does not take fails, naming
// the column, the old row and the value, for the caller's guard to report;
// the partner then keeps its own value.
void TakeOverValue(WorkTable& table, std::size_t partner, int target, OldField field, const OldRow& row,
                   std::size_t oldRow) {
    const Value& value = row[field];
    try {
        table.Assign(partner, target, value);
    } catch (const platform::Failure& failure) {
        throw platform::Failure(failure.Number(), failure.Source(),
                                failure.Description() + ": " + std::string(NameOf(field)) + " of old row " +
                                    std::to_string(oldRow + 1) + " holds \"" +
                                    platform::db::ValueText(value) + "\"");
    }
}

// What was lost of carried `field` of `row` when its partner did not take
// the value (its partner keeps what it held).
std::string LossText(OldField field, const OldRow& row, platform::db::Kind kind) {
    const Value& value = row[field];
    const std::string text = platform::db::ValueText(value);
    const bool number = kind == platform::db::Kind::Whole || kind == platform::db::Kind::Number;
    return std::string(NameOf(field)) + ": " +
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
    if (fieldCount > kFieldsNeverWarnedAbout && additionalFieldCount_ == 0)
        WarnAboutFieldsNotTakenOver(database);
    const std::vector<OldRow> buffer = ReadOldRows(guard, oldRows);
    if (buffer.empty())
        return;
    for (const OldField key : kKeyFields)
        if (!oldRows.Kept(std::string(NameOf(key)))) {
            // Without its keys, no old row can find its partner.
            takeoverComplete_ = false;
            takeoverTrouble_ = "its PRESET_DEFS has no column " + std::string(NameOf(key));
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

// The fields that the old table lacks, in reading order: reading them fails
// for every row.
std::vector<OldField> MissingFields(const OldPresetTable& oldRows) {
    std::vector<OldField> missing;
    for (const OldFieldInfo& info : kOldFields) {
        const bool older = !info.olderName.empty() && oldRows.Has(std::string(info.olderName));
        if (!older && !oldRows.Has(std::string(info.name)))
            missing.push_back(info.field);
    }
    return missing;
}

// By field, where the old table keeps the value that an OldRow holds.
std::array<std::optional<int>, kOldFields.size()> KeptFields(const OldPresetTable& oldRows) {
    std::array<std::optional<int>, kOldFields.size()> kept;
    for (const OldFieldInfo& info : kOldFields)
        if (OldRow::Slot(info.field))
            kept[Index(info.field)] = oldRows.Kept(std::string(info.name));
    return kept;
}

[[noreturn]] void RaiseMissingField(OldField field) {
    throw platform::Failure(SQLITE_ERROR, platform::kDatabaseSource,
                            "Item not found in this collection: " + std::string(NameOf(field)));
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
    const std::vector<OldField> missing = MissingFields(oldRows);
    const auto kept = KeptFields(oldRows);
    std::vector<OldRow> buffer;
    buffer.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        rt_.ProcessEvents();
        for (const OldField field : missing)
            guard([&] { RaiseMissingField(field); });
        OldRow& row = buffer.emplace_back();
        for (const OldFieldInfo& info : kOldFields)
            if (const auto column = kept[Index(info.field)])
                row[info.field] = oldRows.At(i, *column);
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
        const std::size_t extra = additionalFields_ ? additionalFields_->size() : 0;
        for (std::size_t j = 1; j < extra; ++j) {
            const std::string& field = (*additionalFields_)[j];
            if (!has(field, true, 1))
                AbortRun(database, "Conflict while attempting to extend database!Configurationsfile \"" +
                                       ComponentUpper() + ".CFG\", demanded field \"" +
                                       platform::UpperCase(field) + "\"missing in machinecopy-database" +
                                       std::string(runtime::LFCR) + "Configuration of \"" + ComponentUpper() +
                                       "\" aborted.");
            queryable = queryable && has(field, false, 0);
        }
        for (const OldFieldInfo& info : kOldFields)
            queryable = queryable && has(std::string(info.name), false, 0);
    });
    return queryable;
}

namespace {

// Marks a regenerated row that no old row has given its values yet.
constexpr std::size_t kNoOldRow = std::numeric_limits<std::size_t>::max();

// Where each carried field goes in `table`; -1 where the table lacks it, so
// that assigning to it fails and is reported row by row.
std::array<int, kCarriedCount> CarriedTargets(const WorkTable& table) {
    std::array<int, kCarriedCount> targets{};
    for (std::size_t k = 0; k < kCarriedCount; ++k)
        targets[k] = table.FindField(std::string(NameOf(kCarriedFields[k]))).value_or(-1);
    return targets;
}

// The key by which old row `row` looks for its partner, or std::nullopt when
// an empty or non-numeric offset makes the row query fail.
std::optional<RowKey> PartnerKey(const OldRow& row) {
    const auto offset = OffsetKey(row[OldField::OffsetOrBitno]);
    if (!offset)
        return std::nullopt;
    return RowKey{platform::db::FoldCase(platform::db::ValueText(row[OldField::MachineType])),
                  platform::db::FoldCase(platform::db::ValueText(row[OldField::VarName])), *offset};
}

// Gives old row `row` (number `oldRow`, 0-based) to its partner, value by
// value: "" when the partner took all of them, else what was lost and what
// the partner kept instead (the values of an earlier old row with the same
// keys when `earlier`, else the template's).
std::string CarryOver(runtime::Guard& guard, WorkTable& table, const std::array<int, kCarriedCount>& targets,
                      std::size_t partner, const OldRow& row, std::size_t oldRow, bool earlier) {
    std::string lost;
    int losses = 0;
    for (std::size_t k = 0; k < kCarriedCount; ++k)
        if (!guard([&] { TakeOverValue(table, partner, targets[k], kCarriedFields[k], row, oldRow); })) {
            const auto kind = targets[k] < 0 ? platform::db::Kind::Text : table.FieldKind(targets[k]);
            lost += (losses++ ? ", " : "") + LossText(kCarriedFields[k], row, kind);
        }
    if (losses == 0)
        return {};
    return lost + (earlier      ? "; what an earlier old row with the same keys gave was kept"
                   : losses > 1 ? "; the template's values were kept"
                                : "; the template's value was kept");
}

} // namespace

// The rows stored in PRESET_DEFS of `database`, loaded into `loaded`;
// nullptr when they cannot be loaded.
WorkTable* PresetGeneration::LoadStoredRows(runtime::Guard& guard, platform::db::Connection& database,
                                            std::unique_ptr<WorkTable>& loaded) {
    const bool done = guard([&] {
        loaded = std::make_unique<WorkTable>(database.Columns("PRESET_DEFS"));
        loaded->LoadStored(database);
    });
    return done ? loaded.get() : nullptr;
}

// Gives each old row's tuned values to its partner among the regenerated
// rows. Those are still in the work table; without one (the take-over on its
// own), the rows stored in the table are worked on.
void PresetGeneration::ApplyOldRows(runtime::Guard& guard, platform::db::Connection& database,
                                    const std::vector<OldRow>& buffer) {
    std::unique_ptr<WorkTable> loaded;
    WorkTable* table = work_ ? work_.get() : LoadStoredRows(guard, database, loaded);
    PartnerIndex partners;
    if (!table || !guard([&] { partners = PartnerIndex(*table); })) {
        takeoverComplete_ = false;
        return;
    }
    const auto targets = CarriedTargets(*table);
    carriedOver_.assign(buffer.size(), false);
    overwritten_.assign(buffer.size(), false);
    lost_.assign(buffer.size(), std::string());
    // The old row whose values a regenerated row holds so far: a later old
    // row with the same keys overwrites them.
    std::vector<std::size_t> holder(table->RowCount(), kNoOldRow);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        const auto key = PartnerKey(buffer[i]);
        const auto partner = key ? partners.Find(*key) : std::nullopt;
        if (!partner)
            continue;
        const std::size_t earlier = std::exchange(holder[*partner], i);
        if (earlier != kNoOldRow) {
            assert(earlier < i && carriedOver_[earlier]);
            carriedOver_[earlier] = false;
            overwritten_[earlier] = true;
        }
        carriedOver_[i] = true;
        lost_[i] = CarryOver(guard, *table, targets, *partner, buffer[i], i, earlier != kNoOldRow);
    }
    if (loaded && !guard([&] { loaded->Store(database); }))
        takeoverComplete_ = false;
}

} // namespace torvex::presetdb
