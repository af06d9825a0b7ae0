#include "platform/Failure.h"
#include "runtime/Guard.h"
#include "window/ConfigWindow.h"

#include <QColor>

#include <charconv>

namespace torvex::window {

// The start of every check box handler: finds the current machine, and in
// info mode undoes the click and explains instead. Returns false when the
// handler has nothing more to do.
bool ConfigWindow::CheckBoxClicked(runtime::Guard& guard, CheckBoxControl& box, std::size_t& m) {
    if (!guard([&] { m = CurrentMachine(); }))
        return false;
    if (InfoMode) {
        guard([&] { ShowCheckBoxInfo(box); });
        return false;
    }
    return true;
}

// The five check boxes with one setting each, and the bobbin changer.
void ConfigWindow::OptionClick(const char* handler, const char* control, bool BobbinColumn::*field, int c) {
    runtime::Guard guard(rt_, handler);
    auto& box = Get<CheckBoxControl>(control, c);
    std::size_t m = 0;
    if (!CheckBoxClicked(guard, box, m))
        return;
    guard([&] {
        if (field)
            BobbinSettings.At(m, static_cast<std::size_t>(c)).*field = box.Value() == 1;
        else
            BobbinSettings.Machine(m).NoBobbinChanger = box.Value() == 1;
    });
}

void ConfigWindow::CheckBobbinChange_Click() {
    OptionClick("CheckBobbinChange_Click", "CheckBobbinChange", nullptr, 0);
}
void ConfigWindow::CheckBlank_Click(int c) {
    OptionClick("CheckBlank_Click", "CheckBlank", &BobbinColumn::BobbinWithBlankLenght, c);
}
void ConfigWindow::CheckTensionArmWithoutSplicePosition_Click(int c) {
    OptionClick("CheckTensionArmWithoutSplicePosition_Click", "CheckTensionArmWithoutSplicePosition",
                &BobbinColumn::TensionArmWithoutSplicePosition, c);
}
void ConfigWindow::CheckWithoutBobbin_Click(int c) {
    OptionClick("CheckWithoutBobbin_Click", "CheckWithoutBobbin", &BobbinColumn::WithoutBobbin, c);
}
void ConfigWindow::CheckWithoutTensionArm_Click(int c) {
    OptionClick("CheckWithoutTensionArm_Click", "CheckWithoutTensionArm", &BobbinColumn::WithoutTensionArm,
                c);
}
void ConfigWindow::CheckOnlyBlank_Click(int c) {
    OptionClick("CheckOnlyBlank_Click", "CheckOnlyBlank", &BobbinColumn::OnlyBlank, c);
}

// The column switch: shows or hides the column's other controls.
void ConfigWindow::CheckBobbinOk_Click(int c) {
    runtime::Guard guard(rt_, "CheckBobbinOk_Click");
    auto& box = Get<CheckBoxControl>("CheckBobbinOk", c);
    std::size_t m = 0;
    if (!CheckBoxClicked(guard, box, m))
        return;
    const bool on = box.Value() == 1;
    if (!guard([&] { BobbinSettings.At(m, static_cast<std::size_t>(c)).Bobbin = on; }))
        return;
    for (const char* name :
         {"CheckBlank", "CheckTensionArmWithoutSplicePosition", "ComboMaterial", "ComboSymbol",
          "ImageMaterial", "ImageSymbol", "CheckWithoutBobbin", "CheckWithoutTensionArm", "CheckOnlyBlank"})
        Find(name, c).SetVisible(on);
}

// A material or symbol combo: stores the number and shows its picture.
void ConfigWindow::ComboClick(const char* handler, const char* combo, const char* image,
                              std::int16_t BobbinColumn::*field, int c) {
    runtime::Guard guard(rt_, handler);
    auto& list = Get<ComboControl>(combo, c);
    std::size_t m = 0;
    if (!guard([&] { m = CurrentMachine(); }))
        return;
    if (InfoMode) {
        ShowInfoText(list);
        return;
    }
    std::int16_t n = 0;
    const bool stored = guard([&] {
        const std::string text = list.Text();
        int value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || ec != std::errc() || end != text.data() + text.size())
            platform::Raise(platform::errnum::TypeMismatch, "Type mismatch");
        if (value < -32768 || value > 32767)
            platform::Raise(platform::errnum::Overflow, "Overflow");
        n = static_cast<std::int16_t>(value);
        BobbinSettings.At(m, static_cast<std::size_t>(c)).*field = n;
    });
    if (!stored)
        return;
    const bool symbol = field == &BobbinColumn::BobbinSym;
    const std::string path =
        n < 1    ? PictureFolder + "/Empty_800.gif"
        : symbol ? SymbolPictureFolder + "/Torvex_BobbinSymbol_" + std::to_string(n) + "_800.gif"
                 : PictureFolder + "/Material_" + std::to_string(n) + "_800.gif";
    guard([&] { Get<ImageControl>(image, c).LoadPicture(path); });
}

void ConfigWindow::ComboMaterial_Click(int c) {
    ComboClick("ComboMaterial_Click", "ComboMaterial", "ImageMaterial", &BobbinColumn::BobbinMaterialSym, c);
}

void ConfigWindow::ComboSymbol_Click(int c) {
    ComboClick("ComboSymbol_Click", "ComboSymbol", "ImageSymbol", &BobbinColumn::BobbinSym, c);
}

void ConfigWindow::CommandQuest_Click() {
    runtime::Guard guard(rt_, "CommandQuest_Click");
    auto& button = Get<ButtonControl>("CommandQuest");
    auto& tabs = Get<TabStripControl>("TabStripMachine");
    InfoMode = !InfoMode;
    guard([&] { button.SetBackColor(InfoMode ? std::optional<QColor>(QColor(0, 255, 0)) : std::nullopt); });
    guard([&] { tabs.SetEnabled(!InfoMode); });
}

} // namespace torvex::window
