#pragma once

#include "platform/qt/EventBridge.h"
#include "runtime/Runtime.h"
#include "window/BobbinSettings.h"
#include "window/Controls.h"

#include <QWidget>

#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace torvex::runtime {
class Guard;
}

namespace torvex::window {

// How long a run waits for another run that works on the same plant.
inline constexpr std::chrono::seconds kPlantWait{30};

// The font family the window is designed in; it is drawn in Liberation Sans,
// which has the same widths.
inline constexpr const char* kDesignFontFamily = "MS Sans Serif";

// Makes the design font the whole application's font, at the toolkit's size:
// message boxes and tool tips are drawn in it too, never in whatever
// fontconfig answers for "sans-serif" (on a machine with one font installed
// that can be a monospace one). Call once, after the QApplication exists.
void UseDesignFont();

// The program's only window, "Torvex_Config": one tab per machine that
// carries the component, four bobbin columns, info mode, OK and Cancel.
// Its procedures keep the names of the event handlers they stand for.
class ConfigWindow final : public QWidget {
public:
    ConfigWindow(runtime::Runtime& runtime, platform::EventBridge& events);
    ~ConfigWindow() override;

    // What the window shows and how far it got, for those who look at it
    // from outside (the settings of every machine as edited so far).
    const BobbinSettingsTable& BobbinSettings() const { return bobbinSettings_; }
    // Tab position 1..5 -> machine number.
    const std::array<std::int16_t, 6>& TabMachine() const { return tabMachine_; }
    bool InfoMode() const { return infoMode_; }

    // Start-up and tabs.
    // The window's load step, where the run starts: start mode, caption,
    // machines, the page set up, then either waiting for the user or, in a
    // silent run, the OK path at once.
    void Form_Load();
    // Sets the page up ("set up user interface"): picture lists, language
    // texts, one tab per machine that carries the component, settings read.
    void SetupUserInterFace();
    // The tab switch: shows the stored settings of the selected tab's machine
    // on the page; stores nothing.
    void TabStripMachine_Click();
    // The window became active: OK is enabled again, unless saving began.
    void Form_Activate();
    // The controls keep their places at every window size: nothing to do.
    void Form_Resize();

    // Editing: every handler stores the change for the machine of the
    // selected tab; in info mode it explains instead.
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
    // The ? button: info mode on or off.
    void CommandQuest_Click();

    // Language, captions and info texts.
    // The language code of the language file ("1031" written when missing).
    std::string GetLanguage();
    // Loads captions, tool tips ("TTT_" keys) and info texts of the language
    // and seeds the language file with every key it lacks.
    void LoadToolTipTexts();
    // In info mode, shows the info text of `control`.
    void ShowInfoText(const Control& control);
    void ShowCheckBoxInfo(CheckBoxControl& box);

    // Saving and closing.
    // OK: disables OK and Cancel and saves (CloseMe).
    void CommandOK_Click();
    // Saves and ends: takes the plant's lock, regenerates the preset database
    // (WorkOnMDB), writes the settings (WriteInputs) and ends the program.
    void CloseMe();
    // Writes the 33 keys of every machine whose settings the window read and
    // that is still enabled to the program ini in one write, then the edit
    // record.
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
    // The window state.
    BobbinSettingsTable bobbinSettings_;
    std::array<std::int16_t, 6> tabMachine_{}; // tab position 1..5 -> machine number
    std::string configurationIniPath_;         // the main configuration ini
    std::string pictureFolder_;                // P/Standard: material pictures
    std::string symbolPictureFolder_;          // the program's folder: bobbin symbols
    std::int16_t materialPictureCount_ = 0;
    std::int16_t symbolPictureCount_ = 0;
    bool infoMode_ = false;       // the ? button is down: clicks explain instead of edit
    bool infoClickGuard_ = false; // the next check box click is the undo of an explained click
    // Set by the first OK click; from then on OK and Cancel stay disabled and
    // the window cannot be closed until the run ends.
    bool saving_ = false;
    std::array<std::string, 100> infoTexts_{}; // info text n at index n - 1

    // Ini entries by key; std::nullopt for a key the file does not hold.
    using Entries = std::map<std::string, std::optional<std::string>>;

    void BuildControls();
    void ConnectHandlers();
    void SetTabOrder();
    std::size_t CurrentMachine() const;
    bool CheckBoxClicked(runtime::Guard& guard, CheckBoxControl& box, std::size_t& m);
    void OptionClick(const char* handler, const char* control, int c);
    void ComboClick(const char* handler, const char* combo, const char* image,
                    std::int16_t BobbinColumn::*field, int c);
    void ShowPicture(runtime::Guard& guard, ImageControl& box, const std::string& path);
    void ReportMissingPictures(runtime::Guard& guard);
    void FillPictureLists(runtime::Guard& guard);
    void AddMachineTabs(runtime::Guard& guard, TabStripControl& tabs, const std::string& readIni,
                        const std::string& writeIni);
    void ShowNoMachine();
    void LoadTextsOf(Control& control, const std::string& language, const std::string& file);
    void ReadMachine(std::size_t n, const std::string& readIni);
    Entries ReadEntries(std::size_t n, const std::string& file);
    void WriteMachine(std::size_t n, const std::string& writeIni);
    std::int16_t CountPictures(const std::string& folder, const std::string& prefix);
    bool LockPlant();

    runtime::Runtime& rt_;
    platform::EventBridge& events_;
    std::vector<std::unique_ptr<Control>> controls_;
    // Each machine's settings as read at start; std::nullopt for a machine
    // whose settings were not read, which OK therefore never writes.
    std::array<std::optional<MachineBobbins>, 6> shownAtLoad_{};
    // Each machine's 33 entries in the program ini that OK writes, by key, as
    // they were just before its settings were read (std::nullopt: no entry);
    // empty when they could not be read. OK leaves an entry that has changed
    // since, unless the user changed its setting here.
    std::array<Entries, 6> entriesAtLoad_{};
    // False for a machine whose settings file could not be read (missing or
    // refused): the window shows defaults, not its settings, and OK writes
    // only what the user changed here.
    std::array<bool, 6> readFromFile_{};
    // True while the page is redrawn from the stored settings of a machine.
    bool redrawing_ = false;
    // Pictures that could not be loaded, each told once per run; those met
    // during a redraw wait for one report at its end.
    std::set<std::string> missingPictures_;
    std::vector<std::string> untoldPictures_;
};

} // namespace torvex::window
