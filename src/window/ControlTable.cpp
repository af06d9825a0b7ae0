#include "window/ControlTable.h"

#include <string>

namespace torvex::window {
namespace {

constexpr double kText = 12;
constexpr const char* kNoTT = "NoTTT";
using K = ControlKind;

// Row labels of FrameBeschriftung: name, top, caption, info number.
struct RowLabel {
    const char* name;
    int top;
    const char* caption;
    int info;
};
constexpr RowLabel kRowLabels[] = {
    {"LabelBobineVorhanden", 150, "Bobine / Pedel vorhanden", 12},
    {"LabelCheckBlank", 600, "mit Zuschnittlänge", 13},
    {"LabelTensionArmWithoutSplicePosition", 1050, "Pendel ohne Splicelage", 14},
    {"LabelWithoutBobbin", 1500, "keine Bobine anzeigen", 14},
    {"LabelWithoutTensionArm", 1950, "keine Pendel anzeigen", 18},
    {"LabelOnlyBlank", 2400, "nur Zuschnittlänge", 19},
    {"LabelMaterial", 3150, "Material", 15},
    {"LabelSymbol", 4110, "Symbol", 16},
};

// Column controls of FrameBobine(c) for each row: name, kind, place, visibility, info number.
struct ColumnControl {
    const char* name;
    K kind;
    int left, top, width, height;
    bool visible;
    int info;
};
constexpr ColumnControl kRowControls[][2] = {
    {{"CheckBobbinOk", K::CheckBox, 630, 690, 300, 375, true, 12}, {}},
    {{"CheckBlank", K::CheckBox, 630, 1140, 300, 375, false, 13}, {}},
    {{"CheckTensionArmWithoutSplicePosition", K::CheckBox, 630, 1590, 300, 375, false, 14}, {}},
    {{"CheckWithoutBobbin", K::CheckBox, 630, 2040, 300, 375, false, 14}, {}},
    {{"CheckWithoutTensionArm", K::CheckBox, 630, 2490, 300, 375, false, 18}, {}},
    {{"CheckOnlyBlank", K::CheckBox, 630, 2940, 300, 375, false, 19}, {}},
    {{"ComboMaterial", K::ComboBox, 60, 3690, 660, 360, false, 15},
     {"ImageMaterial", K::Image, 780, 3690, 750, 750, false, 15}},
    {{"ComboSymbol", K::ComboBox, 60, 4650, 660, 360, false, 16},
     {"ImageSymbol", K::Image, 780, 4650, 750, 750, false, 16}},
};

std::vector<ControlDesign> Build() {
    std::vector<ControlDesign> t = {
        {"Header", 0, K::Label, "", 0, 30, 30, 7245, 360, "Torvex - Bobine / Pendel / Wechselarm", 13.5, true,
         "", 0},
        {"TabStripMachine", 0, K::TabStrip, "", 0, 0, 390, 11880, 7260, "", kText, true, kNoTT, 0},
        {"MainFrame", 0, K::Frame, "", 0, 90, 810, 11700, 6720, "", kText, true, "", 0},
        {"CommandQuest", 0, K::CommandButton, "", 0, 7350, 7710, 975, 855, "", kText, true, "", 0},
        {"CommandOK", 0, K::CommandButton, "", 0, 8400, 7710, 1695, 855, "", kText, true, "", 1},
        {"CommandCancel", 0, K::CommandButton, "", 0, 10170, 7710, 1695, 855, "", kText, true, "", 2},
        {"FrameStandard", 0, K::Frame, "MainFrame", 0, 120, 150, 4470, 1500, "", kText, true, "", 0},
        {"Label1", 1, K::Label, "FrameStandard", 0, 120, 150, 4200, 375, "Bobinen / Pendel", kText, true,
         kNoTT, 0},
        {"LabelMachine", 0, K::Label, "FrameStandard", 0, 120, 600, 4215, 735, "222", 24, true, kNoTT, 0},
        {"Frame1", 0, K::Frame, "MainFrame", 0, 4635, 150, 6900, 990, "", kText, true, "", 0},
        {"CheckBobbinChange", 0, K::CheckBox, "Frame1", 0, 120, 150, 3600, 375, "ohne Bobbinenwechsler",
         kText, true, "", 11},
        {"FrameBeschriftung", 0, K::Frame, "MainFrame", 0, 120, 1650, 4470, 4950, "", kText, true, "", 0},
    };
    for (int c = 1; c <= 4; ++c)
        t.push_back({"FrameBobine", c, K::Frame, "MainFrame", 0, 4635 + (c - 1) * 1740, 1110, 1695, 5490, "",
                     kText, true, "", 0});
    for (int c = 1; c <= 4; ++c) {
        static const std::string captions[] = {"", "Spalte 1", "Spalte 2", "Spalte 3", "Spalte 4"};
        t.push_back({"LabelBob", c, K::Label, "FrameBobine", c, 120, 150, 1380, 450, captions[c].c_str(),
                     kText, true, kNoTT, 11});
    }
    for (std::size_t row = 0; row < std::size(kRowLabels); ++row) {
        const RowLabel& label = kRowLabels[row];
        t.push_back({label.name, 0, K::Label, "FrameBeschriftung", 0, 120, label.top, 3615, 450,
                     label.caption, kText, true, kNoTT, label.info});
        for (const ColumnControl& cc : kRowControls[row]) {
            if (!cc.name)
                continue;
            for (int c = 1; c <= 4; ++c)
                t.push_back({cc.name, c, cc.kind, "FrameBobine", c, cc.left, cc.top, cc.width, cc.height, "",
                             kText, cc.visible, "", cc.info});
        }
    }
    return t;
}

} // namespace

const std::vector<ControlDesign>& WindowControls() {
    static const std::vector<ControlDesign> table = Build();
    return table;
}

} // namespace torvex::window
