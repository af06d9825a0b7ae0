#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "runtime/Guard.h"
#include "window/ConfigWindow.h"

#include <QLabel>

#include <algorithm>
#include <type_traits>
#include <utility>

namespace torvex::window {

void ConfigWindow::Form_Load() {
    runtime::Guard guard(rt_, "Form_Load");
    guard([&] { (void)rt_.GetStartModeIntegrated(); }); // sets IntegratedMode and SilentMode
    // A silent run holds the plant from reading the settings to its last
    // write, so that it never writes back settings another run has changed.
    if (rt_.SilentMode()) {
        if (const auto lock = rt_.LockComponent(kPlantWait); lock != runtime::Runtime::PlantLock::Held) {
            rt_.ReportNotDone(rt_.PlantLockTrouble(lock, kPlantWait, "Nothing was changed."));
            rt_.EndProgram();
        }
    }
    guard([&] {
        const std::string folder = runtime::Runtime::GetFileNameOnly(rt_.Identity().programFolder);
        setWindowTitle(QString::fromStdString("Erweiterte Konfiguration " + folder +
                                              (rt_.IntegratedMode() ? " - integriert" : " - standalone")));
    });
    guard([&] { configurationIniPath_ = rt_.GetHX5ConfigurationIniPath(); });
    guard([&] { rt_.GetExistingMachines(configurationIniPath_); });
    guard([&] { SetupUserInterFace(); });
    if (!rt_.SilentMode()) {
        guard([&] { Get<ButtonControl>("CommandOK").SetEnabled(true); });
        guard([&] { Get<ButtonControl>("CommandCancel").SetEnabled(true); });
    } else {
        guard([&] { CommandOK_Click(); });
    }
}

std::int16_t ConfigWindow::CountPictures(const std::string& folder, const std::string& prefix) {
    std::int16_t count = 0;
    while (platform::FindExistingFile(folder + "/" + prefix + std::to_string(count + 1) + "_800.gif"))
        ++count;
    return count;
}

void ConfigWindow::ReadMachine(std::size_t n, const std::string& readIni) {
    const std::string section = "Machine" + std::to_string(n);
    ForEachMachineKey(bobbinSettings_.Machine(n), [&](const std::string& key, auto& value) {
        if constexpr (std::is_same_v<std::remove_reference_t<decltype(value)>, bool>)
            value = rt_.LoadIniBoolean(section, key, readIni, false);
        else
            value = std::max<std::int16_t>(rt_.LoadIniInteger(section, key, readIni, false), 0);
    });
}

// The 33 entries of machine `n` in `file`, as the file holds them.
ConfigWindow::Entries ConfigWindow::ReadEntries(std::size_t n, const std::string& file) {
    const std::string section = "Machine" + std::to_string(n);
    Entries entries;
    ForEachMachineKey(bobbinSettings_.Machine(n), [&](const std::string& key, const auto&) {
        entries.emplace(key, rt_.ReadIniEntry(section, key, file));
    });
    return entries;
}

// Builds the page: the picture lists, the language's texts, one tab per
// machine that carries the component with its settings read, and the first
// machine shown.
void ConfigWindow::SetupUserInterFace() {
    runtime::Guard guard(rt_, "SetupUserInterFace");
    FillPictureLists(guard);
    guard([&] { LoadToolTipTexts(); });
    guard([&] { (void)rt_.GetValidMachines(); });
    auto& tabs = Get<TabStripControl>("TabStripMachine");
    guard([&] { tabs.RemoveTab(1); });
    const std::string readIni =
        guard.Value("", [&] { return rt_.GetProgramIniPath(runtime::Runtime::IniUse::Reading); });
    const std::string writeIni =
        guard.Value("", [&] { return rt_.GetProgramIniPath(runtime::Runtime::IniUse::Writing); });
    guard([&] {
        if (rt_.MachineCount() == 0)
            platform::Raise(platform::errnum::SubscriptOutOfRange, rt_.NoMachineFound());
    });
    AddMachineTabs(guard, tabs, readIni, writeIni);
    if (tabs.TabCount() == 0) {
        ShowNoMachine();
        return;
    }
    guard([&] { tabs.SelectTab(1); });
    guard([&] { TabStripMachine_Click(); });
}

// Counts the material pictures ("Standard" beside the program's folder) and
// the symbol pictures (the program's folder) and offers 0 to each count in
// every column's lists.
void ConfigWindow::FillPictureLists(runtime::Guard& guard) {
    guard([&] {
        const std::string& program = rt_.Identity().programFolder;
        const auto slash = program.rfind('/');
        pictureFolder_ = (slash == std::string::npos ? program : program.substr(0, slash)) + "/Standard";
    });
    guard([&] { materialPictureCount_ = CountPictures(pictureFolder_, "Material_"); });
    for (int c = 1; c <= 4; ++c)
        for (int n = 0; n <= materialPictureCount_; ++n)
            guard([&] { Get<ComboControl>("ComboMaterial", c).AddItem(std::to_string(n)); });
    symbolPictureFolder_ = rt_.Identity().programFolder;
    guard([&] { symbolPictureCount_ = CountPictures(symbolPictureFolder_, "Torvex_BobbinSymbol_"); });
    for (int c = 1; c <= 4; ++c)
        for (int n = 0; n <= symbolPictureCount_; ++n)
            guard([&] { Get<ComboControl>("ComboSymbol", c).AddItem(std::to_string(n)); });
}

// One tab for every machine whose ForMachine flag is set (five at the most),
// with that machine's settings read from `readIni` (or, where that cannot be
// read, from `writeIni`) and its entries in `writeIni`, the file that OK
// writes, remembered.
void ConfigWindow::AddMachineTabs(runtime::Guard& guard, TabStripControl& tabs, const std::string& readIni,
                                  const std::string& writeIni) {
    for (std::size_t n = 1; n <= rt_.MachineCount(); ++n) {
        if (!rt_.LoadIniBoolean("Project", "ForMachine" + std::to_string(n), rt_.GetCFGPath(), false))
            continue;
        guard([&] {
            if (tabs.TabCount() >= 5)
                throw std::out_of_range("more than five machines");
            tabs.AddTab(rt_.MachineNames[n]);
            tabMachine_.at(static_cast<std::size_t>(tabs.TabCount())) = static_cast<std::int16_t>(n);
        });
        // The entries before the settings: an entry that another program
        // changes in between then counts as changed by it, and OK keeps it.
        Entries entries = guard.Value(Entries{}, [&] { return ReadEntries(n, writeIni); });
        bool read = guard([&] { ReadMachine(n, readIni); });
        // Asked after the reads, which have reported why a file is refused.
        std::string shownFrom = readIni;
        if (read && readIni != writeIni && !rt_.IniReadable(readIni)) {
            // The save-and-restore copy is missing (a new machine) or refused:
            // the window shows the settings that OK will write over.
            shownFrom = writeIni;
            read = guard([&] { ReadMachine(n, writeIni); });
        }
        if (read) {
            shownAtLoad_.at(n) = bobbinSettings_.Machine(n);
            entriesAtLoad_.at(n) = std::move(entries);
            readFromFile_.at(n) = rt_.IniReadable(shownFrom);
        }
    }
}

// Nothing to show: says so instead of failing on every machine access.
void ConfigWindow::ShowNoMachine() {
    auto& label = Get<LabelControl>("LabelMachine");
    label.FitCaption(false);
    label.Label()->setWordWrap(true);
    QFont font = label.Widget()->font();
    font.setPointSize(10);
    label.Widget()->setFont(font);
    label.SetCaption("Keine Maschine dieses Projekts ist für " + rt_.GetOCXName() + " eingerichtet.");
    Find("MainFrame").SetEnabled(false);
}

void ConfigWindow::TabStripMachine_Click() {
    runtime::Guard guard(rt_, "TabStripMachine_Click");
    if (infoMode_)
        return;
    struct Redraw {
        bool& flag;
        bool before;
        ~Redraw() { flag = before; }
    } redraw{redrawing_, std::exchange(redrawing_, true)};
    const std::size_t m = guard.Value(0, [&] { return CurrentMachine(); });
    guard([&] {
        Get<CheckBoxControl>("CheckBobbinChange")
            .SetValue(bobbinSettings_.Machine(m).NoBobbinChanger ? 1 : 0);
    });
    for (int c = 1; c <= 4; ++c) {
        const auto col = static_cast<std::size_t>(c);
        for (const ColumnSetting& setting : kColumnSettings)
            if (setting.flag)
                guard([&] {
                    Get<CheckBoxControl>(setting.control, c)
                        .SetValue(bobbinSettings_.At(m, col).*setting.flag ? 1 : 0);
                });
        for (const auto& [name, field] : {std::pair{"ComboMaterial", &BobbinColumn::BobbinMaterialSym},
                                          std::pair{"ComboSymbol", &BobbinColumn::BobbinSym}}) {
            auto& combo = Get<ComboControl>(name, c);
            // A number that the list does not offer is reported; the combo then
            // shows no entry rather than the previous machine's number.
            // The member is copied in: clang before 16 cannot capture a structured binding.
            if (!guard([&, member = field] { combo.SetListIndex(bobbinSettings_.At(m, col).*member); }))
                guard([&] { combo.SetListIndex(-1); });
        }
    }
    guard([&] {
        Get<LabelControl>("LabelMachine")
            .SetCaption(Get<TabStripControl>("TabStripMachine").SelectedCaption());
    });
    ReportMissingPictures(guard);
}

} // namespace torvex::window
