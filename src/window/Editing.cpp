#include "platform/Failure.h"
#include "platform/FileSystem.h"
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
    if (infoMode_) {
        guard([&] { ShowCheckBoxInfo(box); });
        return false;
    }
    return true;
}

// The five check boxes with one setting each (column `c`), and the bobbin
// changer (column 0).
void ConfigWindow::OptionClick(const char* handler, const char* control, int c) {
    runtime::Guard guard(rt_, handler);
    auto& box = Get<CheckBoxControl>(control, c);
    std::size_t m = 0;
    if (!CheckBoxClicked(guard, box, m))
        return;
    guard([&] {
        if (bool BobbinColumn::*field = c == 0 ? nullptr : SettingShownBy(control).flag)
            bobbinSettings_.At(m, static_cast<std::size_t>(c)).*field = box.Value() == 1;
        else
            bobbinSettings_.Machine(m).NoBobbinChanger = box.Value() == 1;
    });
}

void ConfigWindow::CheckBobbinChange_Click() {
    OptionClick("CheckBobbinChange_Click", "CheckBobbinChange", 0);
}
void ConfigWindow::CheckBlank_Click(int c) {
    OptionClick("CheckBlank_Click", "CheckBlank", c);
}
void ConfigWindow::CheckTensionArmWithoutSplicePosition_Click(int c) {
    OptionClick("CheckTensionArmWithoutSplicePosition_Click", "CheckTensionArmWithoutSplicePosition", c);
}
void ConfigWindow::CheckWithoutBobbin_Click(int c) {
    OptionClick("CheckWithoutBobbin_Click", "CheckWithoutBobbin", c);
}
void ConfigWindow::CheckWithoutTensionArm_Click(int c) {
    OptionClick("CheckWithoutTensionArm_Click", "CheckWithoutTensionArm", c);
}
void ConfigWindow::CheckOnlyBlank_Click(int c) {
    OptionClick("CheckOnlyBlank_Click", "CheckOnlyBlank", c);
}

// The column switch: shows or hides the column's other controls.
void ConfigWindow::CheckBobbinOk_Click(int c) {
    runtime::Guard guard(rt_, "CheckBobbinOk_Click");
    auto& box = Get<CheckBoxControl>("CheckBobbinOk", c);
    std::size_t m = 0;
    if (!CheckBoxClicked(guard, box, m))
        return;
    const bool on = box.Value() == 1;
    if (!guard([&] { bobbinSettings_.At(m, static_cast<std::size_t>(c)).Bobbin = on; }))
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
    if (infoMode_) {
        ShowInfoText(list);
        return;
    }
    auto& box = Get<ImageControl>(image, c);
    if (list.ListIndex() < 0) {
        // No entry chosen (the stored number is not in the list): the stored
        // number stays as it is, and no picture stands for it.
        box.ClearPicture();
        return;
    }
    std::int16_t n = 0;
    const bool stored = guard([&] {
        const std::string text = list.Text();
        int value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || ec != std::errc() || end != text.data() + text.size())
            platform::Raise(platform::errnum::TypeMismatch, "Type mismatch");
        n = platform::ToInt16(value);
        bobbinSettings_.At(m, static_cast<std::size_t>(c)).*field = n;
    });
    if (!stored)
        return;
    const bool symbol = field == &BobbinColumn::BobbinSym;
    const std::string path =
        n < 1    ? pictureFolder_ + "/Empty_800.gif"
        : symbol ? symbolPictureFolder_ + "/Torvex_BobbinSymbol_" + std::to_string(n) + "_800.gif"
                 : pictureFolder_ + "/Material_" + std::to_string(n) + "_800.gif";
    ShowPicture(guard, box, path);
}

// Loads a picture, found in any letter case as the pictures are counted. A
// picture that cannot be loaded leaves its box empty and is told once per
// run: at once, or, while the page is redrawn, in one report at its end.
void ConfigWindow::ShowPicture(runtime::Guard& guard, ImageControl& box, const std::string& path) {
    try {
        const auto found = platform::FindExistingFile(path);
        if (!found)
            platform::Raise(platform::errnum::FileNotFound, "File not found: " + path);
        box.LoadPicture(*found);
        return;
    } catch (const platform::Failure&) {
        box.ClearPicture();
    }
    if (!missingPictures_.insert(path).second)
        return;
    if (redrawing_) {
        untoldPictures_.push_back(path);
        return;
    }
    guard([&] { platform::Raise(platform::errnum::FileNotFound, "File not found: " + path); });
}

// One report naming every picture that the last redraw could not load.
void ConfigWindow::ReportMissingPictures(runtime::Guard& guard) {
    if (untoldPictures_.empty())
        return;
    std::string files;
    for (const std::string& path : untoldPictures_)
        files += (files.empty() ? "" : ", ") + path;
    untoldPictures_.clear();
    guard([&] { platform::Raise(platform::errnum::FileNotFound, "File not found: " + files); });
}

void ConfigWindow::ComboMaterial_Click(int c) {
    ComboClick("ComboMaterial_Click", "ComboMaterial", "ImageMaterial", &BobbinColumn::BobbinMaterialSym, c);
}

void ConfigWindow::ComboSymbol_Click(int c) {
    ComboClick("ComboSymbol_Click", "ComboSymbol", "ImageSymbol", &BobbinColumn::BobbinSym, c);
}

// The focus moves by itself while the page is redrawn: a focused control that
// the redraw hides hands the focus on to a combo that may still show the
// previous machine's number. Such a focus is nobody's choice and stores
// nothing; the redraw sets every combo from the machine's own settings.
void ConfigWindow::ComboMaterial_GotFocus(int c) {
    if (!redrawing_)
        ComboMaterial_Click(c);
}

void ConfigWindow::ComboSymbol_GotFocus(int c) {
    if (!redrawing_)
        ComboSymbol_Click(c);
}

void ConfigWindow::CommandQuest_Click() {
    runtime::Guard guard(rt_, "CommandQuest_Click");
    auto& button = Get<ButtonControl>("CommandQuest");
    auto& tabs = Get<TabStripControl>("TabStripMachine");
    infoMode_ = !infoMode_;
    guard([&] { button.SetBackColor(infoMode_ ? std::optional<QColor>(QColor(0, 255, 0)) : std::nullopt); });
    guard([&] { tabs.SetEnabled(!infoMode_); });
    // In info mode a click on a combo explains it; the list does not drop down.
    for (int c = 1; c <= 4; ++c)
        for (const char* combo : {"ComboMaterial", "ComboSymbol"})
            Get<ComboControl>(combo, c).SetExplainOnly(infoMode_);
}

} // namespace torvex::window
