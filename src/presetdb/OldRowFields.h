#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace torvex::presetdb {

// The fields of a PRESET_DEFS row that the take-over reads from every old
// row, in the order it reads them. A new carried column is one line here.
enum class OldField : std::uint8_t {
    ID,
    MachineType,
    Type,
    VarName,
    CategoryId,
    IsBitArray,
    OffsetOrBitno,
    Text,
    PageName,
    AbsMin,
    AbsMax,
    Min,
    Max,
    Pass,
};

// What the take-over does with a field after reading it.
enum class FieldUse : std::uint8_t {
    Read,    // nothing: an old table that lacks it is reported, row by row
    Key,     // finds the regenerated row that is the old row's partner
    Carried, // given to that partner: the plant's tuned values
};

struct OldFieldInfo {
    OldField field;
    std::string_view name;
    FieldUse use;
    std::string_view olderName = {}; // read instead when the old table has it
};

inline constexpr std::array<OldFieldInfo, 14> kOldFields = {{
    {OldField::ID, "ID", FieldUse::Read},
    {OldField::MachineType, "machine_type", FieldUse::Key},
    {OldField::Type, "type", FieldUse::Read},
    {OldField::VarName, "var_name", FieldUse::Key},
    {OldField::CategoryId, "category_id", FieldUse::Read, "categorie"},
    {OldField::IsBitArray, "isBitArray", FieldUse::Read},
    {OldField::OffsetOrBitno, "offset_or_bitno", FieldUse::Key},
    {OldField::Text, "text", FieldUse::Read},
    {OldField::PageName, "page_name", FieldUse::Read},
    {OldField::AbsMin, "abs_min", FieldUse::Carried},
    {OldField::AbsMax, "abs_max", FieldUse::Carried},
    {OldField::Min, "min", FieldUse::Carried},
    {OldField::Max, "max", FieldUse::Carried},
    {OldField::Pass, "pass", FieldUse::Carried},
}};

constexpr std::size_t Index(OldField field) {
    return static_cast<std::size_t>(field);
}

constexpr std::string_view NameOf(OldField field) {
    return kOldFields[Index(field)].name;
}

namespace detail {

constexpr bool InEnumOrder() {
    for (std::size_t i = 0; i < kOldFields.size(); ++i)
        if (Index(kOldFields[i].field) != i)
            return false;
    return true;
}
static_assert(InEnumOrder(), "kOldFields lists the fields in the order of OldField");

template <FieldUse use> constexpr auto FieldsUsedAs() {
    constexpr auto count = static_cast<std::size_t>(std::ranges::count(kOldFields, use, &OldFieldInfo::use));
    std::array<OldField, count> fields{};
    std::size_t n = 0;
    for (const OldFieldInfo& info : kOldFields)
        if (info.use == use)
            fields[n++] = info.field;
    return fields;
}

} // namespace detail

// The keys in the order a partner is looked up by: machine_type, var_name,
// offset_or_bitno.
inline constexpr auto kKeyFields = detail::FieldsUsedAs<FieldUse::Key>();
// The tuned values carried over, in table order.
inline constexpr auto kCarriedFields = detail::FieldsUsedAs<FieldUse::Carried>();
inline constexpr std::size_t kCarriedCount = kCarriedFields.size();

// The names of `fields`, each led by `prefix`, between `separator`s, the
// last two between `last` ("abs_min, abs_max, min, max and pass").
template <std::size_t N>
std::string FieldNames(const std::array<OldField, N>& fields, std::string_view separator,
                       std::string_view last, std::string_view prefix = {}) {
    std::string names;
    for (std::size_t i = 0; i < N; ++i) {
        if (i > 0)
            names += i + 1 == N ? last : separator;
        names += prefix;
        names += NameOf(fields[i]);
    }
    return names;
}

} // namespace torvex::presetdb
