#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

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
        if (machine < 1 || machine > 5)
            throw std::out_of_range("machine " + std::to_string(machine));
        return machines_[machine];
    }
    BobbinColumn& At(std::size_t machine, std::size_t column) {
        if (column < 1 || column > 4)
            throw std::out_of_range("column " + std::to_string(column));
        return Machine(machine).columns[column];
    }

private:
    std::array<MachineBobbins, 6> machines_{};
};

// One of the eight keys of a bobbin column in a "Machine" section, with the
// field it holds: a Boolean or a picture number. The order is the order in
// which the keys are read and written. The key texts are what other programs
// read in the program ini, misspelt "BobbinWithBlankLenght" included.
struct ColumnKey {
    const char* key;
    bool BobbinColumn::*flag;
    std::int16_t BobbinColumn::*number;
};

inline constexpr std::array<ColumnKey, 8> kColumnKeys = {{
    {"TensionArmWithoutSplicePosition", &BobbinColumn::TensionArmWithoutSplicePosition, nullptr},
    {"BobbinWithBlankLenght", &BobbinColumn::BobbinWithBlankLength, nullptr},
    {"Bobbin", &BobbinColumn::Bobbin, nullptr},
    {"WithoutBobbin", &BobbinColumn::WithoutBobbin, nullptr},
    {"WithoutTensionArm", &BobbinColumn::WithoutTensionArm, nullptr},
    {"OnlyBlank", &BobbinColumn::OnlyBlank, nullptr},
    {"BobbinMaterialSym", nullptr, &BobbinColumn::BobbinMaterialSym},
    {"BobbinSym", nullptr, &BobbinColumn::BobbinSym},
}};

} // namespace torvex::window
