#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace torvex::window {

// What one bobbin column of one machine holds.
struct BobbinColumn {
    bool Bobbin = false;
    bool BobbinWithBlankLength = false;
    bool TensionArmWithoutSplicePosition = false;
    bool WithoutBobbin = false;
    bool WithoutTensionArm = false;
    bool OnlyBlank = false;
    std::int16_t BobbinMaterialSym = 0;
    std::int16_t BobbinSym = 0;
    bool operator==(const BobbinColumn&) const = default;
};

struct MachineBobbins {
    bool NoBobbinChanger = false;
    std::array<BobbinColumn, 5> columns{}; // columns 1..4; 0 unused
    bool operator==(const MachineBobbins&) const = default;
};

// The bobbin settings of machines 1 to 5; any other machine or column is
// outside the model and a failure (index out of range).
class BobbinSettingsTable {
public:
    MachineBobbins& Machine(std::size_t machine) {
        return const_cast<MachineBobbins&>(std::as_const(*this).Machine(machine));
    }
    const MachineBobbins& Machine(std::size_t machine) const {
        if (machine < 1 || machine > 5)
            throw std::out_of_range("machine " + std::to_string(machine));
        return machines_[machine];
    }
    BobbinColumn& At(std::size_t machine, std::size_t column) {
        return const_cast<BobbinColumn&>(std::as_const(*this).At(machine, column));
    }
    const BobbinColumn& At(std::size_t machine, std::size_t column) const {
        if (column < 1 || column > 4)
            throw std::out_of_range("column " + std::to_string(column));
        return Machine(machine).columns[column];
    }

private:
    std::array<MachineBobbins, 6> machines_{};
};

// One setting of a bobbin column: its key in a "Machine" section (the
// column's number follows it), the control that shows it, and the field that
// holds it, a Boolean or a picture number. The order is the order in which
// the keys are read and written. The key texts are what other programs read
// in the program ini, misspelt "BobbinWithBlankLenght" included. A new
// setting is one line here.
struct ColumnSetting {
    const char* key;
    const char* control;
    bool BobbinColumn::*flag;
    std::int16_t BobbinColumn::*number;
};

inline constexpr std::array<ColumnSetting, 8> kColumnSettings = {{
    {"TensionArmWithoutSplicePosition", "CheckTensionArmWithoutSplicePosition",
     &BobbinColumn::TensionArmWithoutSplicePosition, nullptr},
    {"BobbinWithBlankLenght", "CheckBlank", &BobbinColumn::BobbinWithBlankLength, nullptr},
    {"Bobbin", "CheckBobbinOk", &BobbinColumn::Bobbin, nullptr},
    {"WithoutBobbin", "CheckWithoutBobbin", &BobbinColumn::WithoutBobbin, nullptr},
    {"WithoutTensionArm", "CheckWithoutTensionArm", &BobbinColumn::WithoutTensionArm, nullptr},
    {"OnlyBlank", "CheckOnlyBlank", &BobbinColumn::OnlyBlank, nullptr},
    {"BobbinMaterialSym", "ComboMaterial", nullptr, &BobbinColumn::BobbinMaterialSym},
    {"BobbinSym", "ComboSymbol", nullptr, &BobbinColumn::BobbinSym},
}};

// The setting of column settings that `control` shows; a failure (index out
// of range) for a control that shows none.
inline const ColumnSetting& SettingShownBy(std::string_view control) {
    for (const ColumnSetting& setting : kColumnSettings)
        if (control == setting.control)
            return setting;
    throw std::out_of_range("no setting is shown by " + std::string(control));
}

// A setting's value: a Boolean or a picture number.
using SettingValue = std::variant<bool, std::int16_t>;

// Calls visit(key, value) for the 33 keys of a machine's section, in the
// order they are read and written: "NoBobbinChanger", then every setting of
// columns 1 to 4. `value` is the field in `machine` (a bool& or an
// std::int16_t&, const when `machine` is).
template <class Machine, class Visit> void ForEachMachineKey(Machine& machine, Visit&& visit) {
    visit(std::string("NoBobbinChanger"), machine.NoBobbinChanger);
    for (std::size_t c = 1; c <= 4; ++c)
        for (const ColumnSetting& setting : kColumnSettings) {
            const std::string key = setting.key + std::to_string(c);
            if (setting.flag)
                visit(key, machine.columns[c].*setting.flag);
            else
                visit(key, machine.columns[c].*setting.number);
        }
}

} // namespace torvex::window
