#pragma once

#include "platform/Dialogs.h"
#include "platform/FileLock.h"
#include "platform/IniProfile.h"
#include "platform/ProcessIdentity.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace torvex::runtime {

// Line break inside messages and log texts: line feed, then carriage return.
inline constexpr std::string_view LFCR = "\n\r";

// The services a run uses, handed in by `main` or by a test.
struct RuntimeServices {
    platform::Dialogs& dialogs;
    std::string servicePackLogPath;        // where "! Fault" lines go
    std::ostream* errorStream = nullptr;   // log entries that cannot be written (default std::cerr)
    std::function<void()> processEvents{}; // let the user interface handle pending events
    bool logsToErrorStream = false;        // a run that writes no file: log entries go to errorStream
};

// What the user chose after a failure report: end the program, or resume
// with the statement after the failing one. The numbers are the ones the
// report procedure has always answered with.
enum class ReportAnswer : std::int16_t { End = 1, Resume = 2 };

// A value that SaveIni can write; `IniUnsupported` stands for every other type.
struct IniUnsupported {};
using IniValue = std::variant<std::string, bool, std::int16_t, std::int32_t, double, IniUnsupported>;

// The state of one run of the program and the procedures of the runtime
// environment: start mode, program identity, paths, ini access, failure
// reports, the machine list and the edit record. Every test makes a fresh one.
class Runtime {
public:
    Runtime(platform::ProcessIdentity identity, RuntimeServices services);

    // Module-wide state, read by the whole program.
    // Started by HX5CFG (/EXTERNAL=HX5CFG): the machines come from its ini.
    bool IntegratedMode() const { return integratedMode_; }
    // Unattended (/EXTERNAL=SILENT): no window, no questions.
    bool SilentMode() const { return silentMode_; }
    // The one place that sets the start mode: GetStartModeIntegrated, and
    // tests that need a mode the command line cannot give.
    void SetStartMode(bool integrated, bool silent) {
        integratedMode_ = integrated;
        silentMode_ = silent;
    }
    std::vector<std::string> MachineNames; // index k = machine k; index 0 stays empty; empty = no elements
    std::string ProgramIniPath;

    // Start mode and identity.
    // The value of `key` in the command line (ParseCommandValue), reported
    // under its own name when the command line cannot be read.
    std::optional<std::string> ReadCommand(std::string_view commandLine, std::string_view key);
    // Decides the start mode from /EXTERNAL: sets IntegratedMode (HX5CFG) and
    // SilentMode (SILENT); true for an integrated start only.
    bool GetStartModeIntegrated();
    // The error-log file that an integrated start names with /LOGFILE. The
    // error log itself reads that path without this guarded procedure
    // (ErrorLogPath), so that a failure here is not reported into that log.
    std::string GetPathLogfile();
    // The component name C: the program file name without its last seven
    // characters ("Torvex" for Torvex_Config).
    std::string GetOCXName();
    const platform::ProcessIdentity& Identity() const { return identity_; }
    // The installation folder P: the program folder without its last component.
    std::string InstallationFolder() const;
    // The language file: an ini file beside the program, named after it.
    std::string LanguageFilePath() const {
        return identity_.programFolder + "/" + identity_.programFileName + ".ini";
    }

    // Paths of the installation; "" (or the end of the run, for GetCFGPath)
    // where the file does not exist.
    // P/parameter/hx5configuration.ini, the main configuration ini.
    std::string GetHX5ConfigurationIniPath();
    // What the program ini is wanted for.
    enum class IniUse { Reading = 1, Writing = 2 };
    // The program ini: for reading in an integrated run the copy in the
    // save-and-restore folder, otherwise P/parameter/Program.ini.
    std::string GetProgramIniPath(IniUse use);
    // P/C/C.cfg, the component configuration file; a missing one is told and
    // ends the run.
    std::string GetCFGPath();
    // P/C/C.mdb, the preset database (the path even when it does not exist yet).
    std::string GetPathOCXMDB();
    // P/C/C_Source.mdb, the template database.
    std::string GetPathSourceOCXMDB();
    // <SaveAndRestore>/C/C.mdb, the machine copy of the preset database.
    std::string GetPathMachineCopyMDB(const std::string& configurationIniPath);
    // The last component of a path.
    static std::string GetFileNameOnly(std::string_view path);

    // Ini files. A missing file, section or key reads as "", -1 or false;
    // `reportMissing` tells the user about it.
    std::string LoadIniString(std::string_view section, std::string_view key, const std::string& file,
                              bool reportMissing);
    std::int16_t LoadIniInteger(std::string_view section, std::string_view key, const std::string& file,
                                bool reportMissing);
    // True only for "true" in any letter case.
    bool LoadIniBoolean(std::string_view section, std::string_view key, const std::string& file,
                        bool reportMissing);
    // Writes `value` (Booleans as "true"/"false") to the ini file: 1 when it
    // was written (or, inside a step, taken into the step), 0 when not.
    [[nodiscard]] std::int16_t SaveIni(const IniValue& value, std::string_view section, std::string_view key,
                                       const std::string& file);
    // The entry as the file holds it, trimmed and unquoted but not cut to the
    // read buffer, or std::nullopt when the file, section or key is missing;
    // inside a step on `file`, as the step holds it. Unlike the Load
    // procedures it reports nothing: a file that cannot be read throws a
    // Failure (once, as IniProfile::ReadString says).
    std::optional<std::string> ReadIniEntry(std::string_view section, std::string_view key,
                                            const std::string& file) {
        return ini_.ReadString(file, section, key);
    }
    // Whether `file` exists and can be read as an ini file; reports nothing
    // (a file that cannot be read is reported where it is read).
    bool IniReadable(const std::string& file) { return ini_.Readable(file); }
    // A step on one ini file (see IniStep). Begin throws a Failure for a file
    // that cannot be read, or whose lock another program holds too long.
    void BeginIniStep(const std::string& file) { ini_.BeginStep(file); }
    [[nodiscard]] bool CommitIniStep(const std::string& file) { return ini_.CommitStep(file); }
    void AbandonIniStep(const std::string& file) { ini_.AbandonStep(file); }

    // Failure reports and logs.
    // Logs the failure and shows it (or, in a silent run, logs the report to
    // the service-pack log and resumes). `fatal` offers only OK and ends.
    ReportAnswer ReportError(std::int32_t number, std::string_view source, std::string_view description,
                             std::string_view procedure, bool fatal);
    // Ends the program at once (exit status 1), writing nothing more.
    [[noreturn]] void EndProgram();
    // Ends a run that completed: exit status 0, or 1 when a failure was reported.
    [[noreturn]] void EndNormally();
    // Appends `text` to the error log; returns the note for the report
    // ("Error logged to" and the log's path).
    std::string WriteErrorLog(std::string_view text);
    // A message box with OK, or in a silent run a line in the service-pack log.
    void ShowOrLogMessage(std::string_view text);
    // Says what was not done, as ShowOrLogMessage does, and makes the run end
    // with exit status 1 like a reported failure.
    void ReportNotDone(std::string_view text);
    // Appends "! Fault <program file name>: " + text to the service-pack log.
    void WriteServicePackLog(std::string_view text);
    // Appends a line that reports no fault to the service-pack log:
    // "<program file name>: " + text.
    void WriteServicePackNote(std::string_view text);
    // Asks whether to cancel without saving (a silent run logs the question
    // and cancels); true to end the run.
    bool ConfirmCancel();
    int FailureReports() const { return failureReports_; }

    // Machines and the edit record.
    // Fills MachineNames (from NameM1.. of the main configuration ini in an
    // integrated run, else from the program ini) and ProgramIniPath.
    void GetExistingMachines(const std::string& configurationIniPath);
    // Why the project lists no machine, for the failure that says so.
    std::string NoMachineFound();
    // "\"<path>\" does not exist." or, for a folder or the like in its
    // place, why it is not used: for messages about a file a path lookup
    // gave up on.
    static std::string WhyNotThere(const std::string& path);
    // [Project] ValidMachines of the component configuration file. Nothing
    // uses the list; reading it ends the run when that file is missing.
    std::string GetValidMachines();
    // Writes the edit record, [Info] S_Prog and S_Editor, to the component
    // configuration file in one write.
    void WriteEditInfo();

    // Shows a message box through the platform's dialogs.
    platform::Answer ShowMessage(const platform::MessageBox& box) { return services_.dialogs.Show(box); }
    // Lets the user interface handle pending events (no-op without a window).
    // A safe point: a run that was asked to end by a signal ends here.
    void ProcessEvents() {
        StopIfTerminated();
        if (services_.processEvents)
            services_.processEvents();
    }

    // Ends the run (exit status 1, with a log line) when a signal asked for
    // it. Called between steps, where every file the run manages is whole.
    void StopIfTerminated();
    // True once a signal has ended the run: nothing more is written.
    bool Interrupted() const { return interrupted_; }

    // The lock that lets one run at a time work on the component's files:
    // "<P>/<C>/<C>.lock". Waits up to `wait` for another run that holds it;
    // Busy when it kept it for the whole wait. Once held (for the rest of the
    // run), the temporary files that killed runs left in the folders this
    // run writes are removed. Unusable when the lock file cannot be made or
    // locked (a link, another user's file this user may not open, a folder):
    // the run holds no lock then and must change nothing;
    // PlantLockTrouble() says why.
    enum class PlantLock { Held, Busy, Unusable };
    [[nodiscard]] PlantLock LockComponent(std::chrono::milliseconds wait);
    std::string ComponentLockPath();
    // What the user is told when LockComponent did not answer Held, ending
    // with `consequence` ("Nothing was changed.").
    std::string PlantLockTrouble(PlantLock result, std::chrono::milliseconds wait,
                                 std::string_view consequence);

    // The number of machines: the highest index, or 0 for a list without elements.
    std::size_t MachineCount() const { return MachineNames.empty() ? 0 : MachineNames.size() - 1; }

private:
    std::string ErrorLogPath();
    bool AppendToLog(const std::string& path, std::string_view entry);
    void RequireSaved(bool saved);
    // The component name C: the program file name without its last seven
    // characters; std::nullopt when the name is shorter than that.
    std::optional<std::string> ComponentName() const;
    // The component name for reports: the same name the paths use (empty for
    // a name too short), without asking GetOCXName again.
    std::string ReportComponentName() const;
    std::string ComponentFile(std::string_view suffix);
    std::string ExistingOrEmpty(const std::string& path) const;

    platform::ProcessIdentity identity_;
    RuntimeServices services_;
    platform::IniProfile ini_;
    platform::FileLock componentLock_;
    bool integratedMode_ = false;
    bool silentMode_ = false;
    int failureReports_ = 0;
    bool interrupted_ = false;
    bool componentNameReported_ = false;
    // Paths found to be no regular file; each is reported once per run.
    mutable std::set<std::string> refusedPaths_;
};

// Groups the ini reads and writes of one logical step on one file (seeding
// the language file, saving the settings, writing the edit record): the file
// is locked against other writers from Begin to the one write at Commit, and
// written only when its bytes change, so a crash leaves it before or after
// the whole step. Left without Commit (the program ends inside the step), it
// still writes what was set so far, as single writes would have.
class IniStep {
public:
    IniStep(Runtime& runtime, std::string file) : rt_(runtime), file_(std::move(file)) {}
    ~IniStep() {
        if (open_ && rt_.Interrupted())
            rt_.AbandonIniStep(file_); // a signal: the file stays before the whole step
        else if (open_)
            (void)rt_.CommitIniStep(file_);
    }
    IniStep(const IniStep&) = delete;
    IniStep& operator=(const IniStep&) = delete;

    void Begin() {
        open_ = true;
        rt_.BeginIniStep(file_);
    }
    // True when the step's writes reached the file (or there were none).
    [[nodiscard]] bool Commit() {
        open_ = false;
        return rt_.CommitIniStep(file_);
    }

private:
    Runtime& rt_;
    std::string file_;
    bool open_ = false;
};

// The value of `key` in `commandLine` as the command-line reader finds it:
// upper-cased, trimmed of blanks and cut at the next "/", or std::nullopt when
// the key does not occur. The character right after the key is the separator
// and is dropped, whatever it is. A key at the very end of the command line
// (nothing after it) is a failure (number 5).
std::optional<std::string> ParseCommandValue(std::string_view commandLine, std::string_view key);

// The `LOGFILE`-style value of `key` in the letter case it was given in. A
// path contains "/", so the value runs to the next " /" (the start of the
// next key) instead of the next "/".
std::optional<std::string> ParseCommandPath(std::string_view commandLine, std::string_view key);

// How a command line holds a word such as "PREVIEW".
enum class CommandWord { Absent, Given, Ambiguous };

// Whether `commandLine` holds the key "/" + `word` (any letter case) wherever
// the command-line reader would see a key: followed by "/", a blank, "=" or
// nothing. Inside the log file's path (which runs to the next " /") it is
// Ambiguous, unless it is also given outside it. The keys that the reader
// looks for end at the next "/", so they read the same with it.
CommandWord FindCommandWord(std::string_view commandLine, std::string_view word);

// Text form of numbers in ini files: no leading blank, "." as decimal
// separator, no zero before the separator of a value between -1 and 1.
std::string InvariantNumber(double value);

// The editor mark of the edit record for an environment entry "NAME=value".
std::string EditorMark(std::string_view environmentEntry);

} // namespace torvex::runtime
