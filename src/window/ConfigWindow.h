#pragma once

#include "platform/qt/EventBridge.h"
#include "runtime/Runtime.h"
#include "window/BobbinSettings.h"
#include "window/Controls.h"

#include <QWidget>

#include <array>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace torvex::runtime {
class Guard;
}

namespace torvex::window {

// How long a run waits for another run that works on the same plant.
inline constexpr std::chrono::seconds kPlantWait{30};

// The program's only window, "Torvex_Config": one tab per machine that
// carries the component, four bobbin columns, info mode, OK and Cancel.
// Its procedures keep the names of the event handlers they stand for.
class ConfigWindow final : public QWidget {
public:
    ConfigWindow(runtime::Runtime& runtime, platform::EventBridge& events);
    ~ConfigWindow() override;

    // Window state.
    BobbinSettingsTable BobbinSettings;
    std::array<std::int16_t, 6> TabMachine{}; // tab position 1..5 -> machine number
    std::string ConfigurationIniPath;
    std::string PictureFolder;
    std::string SymbolPictureFolder;
    std::int16_t MaterialPictureCount = 0;
    std::int16_t SymbolPictureCount = 0;
    bool InfoMode = false;
    bool InfoClickGuard = false;
    // Set by the first OK click; from then on OK and Cancel stay disabled and
    // the window cannot be closed until the run ends.
    bool Saving = false;
    std::array<std::string, 100> InfoTexts{};

    // Start-up and tabs.
    void Form_Load();
    void SetupUserInterFace();
    void TabStripMachine_Click();
    void Form_Activate();
    void Form_Resize();

    // Editing.
    void CheckBobbinChange_Click();
    void CheckBobbinOk_Click(int c);
    void CheckBlank_Click(int c);
    void CheckTensionArmWithoutSplicePosition_Click(int c);
    void CheckWithoutBobbin_Click(int c);
    void CheckWithoutTensionArm_Click(int c);
    void CheckOnlyBlank_Click(int c);
    void ComboMaterial_Click(int c);
    void ComboMaterial_GotFocus(int c);
    void ComboSymbol_Click(int c);
    void ComboSymbol_GotFocus(int c);
    void CommandQuest_Click();

    // Language, captions and info texts.
    std::string GetLanguage();
    void LoadToolTipTexts();
    void ShowInfoText(const Control& control);
    void ShowCheckBoxInfo(CheckBoxControl& box);
    std::string LanguageFilePath() const;

    // Saving and closing.
    void CommandOK_Click();
    void CloseMe();
    void WriteInputs();
    void CommandCancel_Click();
    // Returns the request's Cancel flag: true keeps the window open.
    bool Form_QueryUnload();

    // The controls in the order of the window's control collection.
    const std::vector<std::unique_ptr<Control>>& ControlCollection() const { return controls_; }
    // The control `name` (with its array index, 0 for a single control).
    Control& Find(const std::string& name, int index = 0) const;
    template <class T> T& Get(const std::string& name, int index = 0) const {
        return static_cast<T&>(Find(name, index));
    }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildControls();
    void ConnectHandlers();
    void SetTabOrder();
    std::size_t CurrentMachine() const;
    bool CheckBoxClicked(runtime::Guard& guard, CheckBoxControl& box, std::size_t& m);
    void OptionClick(const char* handler, const char* control, bool BobbinColumn::*field, int c);
    void ComboClick(const char* handler, const char* combo, const char* image,
                    std::int16_t BobbinColumn::*field, int c);
    void ShowPicture(runtime::Guard& guard, ImageControl& box, const std::string& path);
    void ReportMissingPictures(runtime::Guard& guard);
    void FillPictureLists(runtime::Guard& guard);
    void AddMachineTabs(runtime::Guard& guard, TabStripControl& tabs, const std::string& readIni);
    void ShowNoMachine();
    void LoadTextsOf(Control& control, const std::string& language, const std::string& file);
    void ReadMachine(std::size_t n, const std::string& readIni);
    void WriteMachine(std::size_t n, const std::string& writeIni);
    std::int16_t CountPictures(const std::string& folder, const std::string& prefix);
    bool LockPlant();

    runtime::Runtime& rt_;
    platform::EventBridge& events_;
    std::vector<std::unique_ptr<Control>> controls_;
    // True while the page is redrawn from the stored settings of a machine.
    bool redrawing_ = false;
    // Pictures that could not be loaded, each told once per run; those met
    // during a redraw wait for one report at its end.
    std::set<std::string> missingPictures_;
    std::vector<std::string> untoldPictures_;
};

} // namespace torvex::window
