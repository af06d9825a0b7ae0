#include "platform/Failure.h"
#include "presetdb/PresetGeneration.h"
#include "runtime/Guard.h"
#include "runtime/SettingsMerge.h"
#include "window/ConfigWindow.h"

#include <QApplication>
#include <QCursor>

namespace torvex::window {

void ConfigWindow::CommandOK_Click() {
    runtime::Guard guard(rt_, "CommandOK_Click");
    if (infoMode_) {
        ShowInfoText(Find("CommandOK"));
        return;
    }
    // One save per run: a click that reaches here while saving (the window
    // handles events during the database work) starts nothing.
    if (saving_)
        return;
    saving_ = true;
    guard([&] { Find("CommandOK").SetEnabled(false); });
    guard([&] { Find("CommandCancel").SetEnabled(false); });
    guard([&] { CloseMe(); });
}

// Regenerates the preset database, writes the settings and ends the program.
void ConfigWindow::CloseMe() {
    runtime::Guard guard(rt_, "CloseMe");
    guard([&] { events_.ProcessEventsNow(); });
    guard([&] { QApplication::setOverrideCursor(Qt::WaitCursor); });
    if (!LockPlant()) {
        // Back to editing: nothing was saved, and the user may try again.
        QApplication::restoreOverrideCursor();
        saving_ = false;
        Find("CommandOK").SetEnabled(true);
        Find("CommandCancel").SetEnabled(true);
        return;
    }
    guard([&] {
        presetdb::PresetGeneration generation(rt_);
        generation.WorkOnMDB();
    });
    guard([&] { WriteInputs(); });
    guard([&] { QApplication::restoreOverrideCursor(); });
    rt_.EndNormally();
}

// Takes the plant's lock before anything is written: one run at a time
// regenerates the component's databases and writes its settings. While
// another run holds it, the user decides whether to wait again; false when
// the user would rather go back to the window.
bool ConfigWindow::LockPlant() {
    for (;;) {
        const auto lock = rt_.LockComponent(kPlantWait);
        if (lock == runtime::Runtime::PlantLock::Held)
            return true;
        if (lock == runtime::Runtime::PlantLock::Unusable) {
            rt_.ReportNotDone(rt_.PlantLockTrouble(lock, kPlantWait, "Your settings are not saved."));
            return false;
        }
        const std::string text = rt_.PlantLockTrouble(lock, kPlantWait, "") + std::string(runtime::LFCR) +
                                 "Your settings are not saved yet." + std::string(runtime::LFCR) +
                                 "Wait again?";
        if (rt_.ShowMessage({text, rt_.Identity().programFileName, platform::Buttons::YesNo,
                             platform::Icon::Exclamation, 1}) != platform::Answer::Yes)
            return false;
    }
}

// Writes the 33 keys of machine `n` inside the step on `writeIni`, whose
// reads see the file as it is now. An entry that another program changed
// since the window read it is left as it is, unless the user changed that
// setting here too: then, as for every other key, the window's value is
// written. When the settings could not be read at all, only what the user
// changed is written.
void ConfigWindow::WriteMachine(std::size_t n, const std::string& writeIni) {
    const std::string section = "Machine" + std::to_string(n);
    const MachineBobbins& machine = bobbinSettings_.Machine(n);
    const MachineBobbins& shown = shownAtLoad_.at(n).value();
    const Entries& before = entriesAtLoad_.at(n);
    const auto save = [&](const std::string& key, const runtime::IniValue& value, bool changedHere) {
        const auto entry = before.find(key);
        const std::optional<std::string> atLoad = entry != before.end() ? entry->second : std::nullopt;
        if (runtime::WriteEntryOnSave(changedHere, readFromFile_.at(n), atLoad,
                                      changedHere ? atLoad : rt_.ReadIniEntry(section, key, writeIni)))
            (void)rt_.SaveIni(value, section, key, writeIni);
    };
    std::vector<SettingValue> was;
    ForEachMachineKey(shown, [&](const std::string&, const auto& value) { was.emplace_back(value); });
    std::size_t i = 0;
    ForEachMachineKey(machine, [&](const std::string& key, const auto& value) {
        save(key, value, SettingValue(value) != was.at(i++));
    });
}

namespace {

std::string MachineList(const std::vector<std::size_t>& machines) {
    std::string list = machines.size() == 1 ? "machine " : "machines ";
    for (std::size_t i = 0; i < machines.size(); ++i)
        list += (i ? ", " : "") + std::to_string(machines[i]);
    return list;
}

} // namespace

// Writes the 33 keys of every machine whose settings the window read and
// that is still enabled (WriteMachine), in one write of the program ini, and
// the edit record. Settings that the file refused are a failure: the user
// must know that the edits were not saved.
void ConfigWindow::WriteInputs() {
    runtime::Guard guard(rt_, "WriteInputs");
    guard([&] { (void)rt_.GetValidMachines(); });
    const std::string writeIni =
        guard.Value("", [&] { return rt_.GetProgramIniPath(runtime::Runtime::IniUse::Writing); });
    if (writeIni.empty()) {
        // Nothing may be created under an empty name.
        rt_.ReportNotDone("The settings were not saved: the program ini " +
                          rt_.WhyNotThere(rt_.InstallationFolder() + "/parameter/Program.ini"));
    } else {
        runtime::IniStep step(rt_, writeIni);
        guard([&] { step.Begin(); });
        std::vector<std::size_t> written, switchedOff;
        for (std::size_t n = 1; n <= rt_.MachineCount(); ++n) {
            // Enabled since the window read the settings: it holds defaults
            // for that machine, not its settings.
            if (n >= shownAtLoad_.size() || !shownAtLoad_[n])
                continue;
            if (!rt_.LoadIniBoolean("Project", "ForMachine" + std::to_string(n), rt_.GetCFGPath(), false)) {
                // Switched off since: what the user changed there is not saved.
                if (bobbinSettings_.Machine(n) != *shownAtLoad_[n])
                    switchedOff.push_back(n);
                continue;
            }
            if (guard([&] { WriteMachine(n, writeIni); }))
                written.push_back(n);
        }
        if (!switchedOff.empty())
            rt_.ReportNotDone("The settings of " + MachineList(switchedOff) +
                              " were not saved: " + (switchedOff.size() == 1 ? "it is" : "they are") +
                              " no longer enabled in \"" + rt_.GetCFGPath() +
                              "\" (ForMachine), so the changes made in the window are lost.");
        guard([&] {
            if (!step.Commit() && !written.empty())
                platform::Raise(platform::errnum::PathFileAccess, "The settings of " + MachineList(written) +
                                                                      " were not saved: \"" + writeIni +
                                                                      "\" cannot be written.");
        });
    }
    guard([&] { rt_.WriteEditInfo(); });
}

void ConfigWindow::CommandCancel_Click() {
    runtime::Guard guard(rt_, "CommandCancel_Click");
    if (infoMode_) {
        ShowInfoText(Find("CommandCancel"));
        return;
    }
    if (guard.Value(false, [&] { return rt_.ConfirmCancel(); }))
        rt_.EndNormally();
}

bool ConfigWindow::Form_QueryUnload() {
    runtime::Guard guard(rt_, "Form_QueryUnload");
    // While saving, a close request is refused without a question: the edits
    // are being taken over, and the program ends by itself when that is done.
    if (saving_)
        return true;
    return guard.Value(true, [&] { return !rt_.ConfirmCancel(); });
}

} // namespace torvex::window
