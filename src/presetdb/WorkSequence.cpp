#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "presetdb/OldPresetTable.h"
#include "presetdb/PresetGeneration.h"
#include "presetdb/PublishDecision.h"
#include "presetdb/WorkTable.h"
#include "runtime/Guard.h"

#include <cerrno>

namespace torvex::presetdb {

using platform::db::Connection;

namespace {

// How many generations a run makes when another program keeps changing the
// preset database while each is made.
constexpr int kGenerationTries = 3;

} // namespace

PresetGeneration::PresetGeneration(runtime::Runtime& runtime)
    : rt_(runtime), old_(std::make_unique<OldPresetTable>()) {}

PresetGeneration::~PresetGeneration() = default;

void PresetGeneration::StoreWorkTable(Connection& database) {
    if (!work_ || !work_->HasUnstored())
        return;
    const bool own = !database.InTransaction();
    if (own)
        database.Begin();
    work_->Store(database);
    if (own)
        database.Commit();
}

// Drops the work table PRESET_DEFS and creates it anew, empty, with the
// column names and declared types of Source_PRESET_DEFS in their order.
void PresetGeneration::RebuildPresetDefs(Connection& database) {
    runtime::Guard guard(rt_, "WorkOnMDB");
    guard([&] {
        for (const auto& name : database.TableNames())
            if (name == "PRESET_DEFS") {
                database.DropTable(name);
                break;
            }
    });
    guard([&] { database.CreateTable("PRESET_DEFS", database.Columns("Source_PRESET_DEFS")); });
}

namespace {

// Refuses the work when an old Access database lies at one of the paths:
// such a file must be imported first (with the import tool installed beside
// the program), and nothing here may touch it.
void RefuseJetFiles(const std::string& programFolder, std::initializer_list<const std::string*> paths) {
    for (const std::string* path : paths)
        if (!path->empty() && platform::db::IsJetFile(*path))
            throw platform::db::JetFileRefusal(*path, programFolder);
}

std::string MissingMachineCopyText(const std::string& fileName) {
    return "Konnte die Datei:\"" + fileName + "\" in der Vorlage nicht finden!\r\n\r\n" +
           "Ist das Bild in der Vorlage noch nicht vorhanden (also neu)?\r\n" +
           "Dann ist diese Meldung völlig normal und es wird eine neue Datei mit den Standardwerten erzeugt.";
}

// A template that a crashed writer left half-written is rolled back (or its
// write-ahead log folded in) where it lies, as any reader of it would do,
// before a new template may take its place: a journal or log left beside
// the new file would be applied to it. One that cannot be opened is
// reported by the steps that read it.
void RecoverInPlace(const std::string& templatePath) {
    try {
        const Connection recovered(templatePath, platform::db::OpenMode::Recover);
    } catch (const platform::Failure&) {
    }
}

} // namespace

// The work sequence: the databases' paths, the naming scheme and patterns,
// the work copy of the template with PRESET_DEFS rebuilt, the old rows'
// column and names brought up to date, the rows generated, the old rows'
// values taken over, the result written out and, when nothing was lost,
// published.
void PresetGeneration::WorkOnMDB() {
    runtime::Guard guard(rt_, "WorkOnMDB");
    const std::string templatePath = guard.Value("", [&] { return rt_.GetPathSourceOCXMDB(); });
    const std::string presetPath = guard.Value("", [&] { return rt_.GetPathOCXMDB(); });
    const std::string hx5Ini = guard.Value("", [&] { return rt_.GetHX5ConfigurationIniPath(); });
    const std::string machineCopyPath = guard.Value("", [&] { return rt_.GetPathMachineCopyMDB(hx5Ini); });
    const bool integrated = rt_.IntegratedMode();
    guard([&] { ChooseNamingScheme(); });
    if (templatePath.empty())
        return;
    const std::string* machineCopy = integrated ? &machineCopyPath : &templatePath;
    if (!guard([&] {
            RefuseJetFiles(rt_.Identity().programFolder, {&templatePath, &presetPath, machineCopy});
        }))
        return;
    templateFileTimes_ = platform::GetFileTimes(templatePath);
    if (integrated)
        StartFromMachineCopy(machineCopyPath);
    if (!preview_)
        RecoverInPlace(templatePath);
    templateCopy_ = std::make_unique<platform::db::ReadCopy>(templatePath);
    LoadVarNamePatterns(*templateCopy_);
    // Another program (the machine's runtime) may commit tuned values into
    // the preset database while the run works: the new content then goes in
    // only after a generation from the rows as they are now.
    for (int attempt = 1; !GenerateAndPublish(guard, templatePath, presetPath); ++attempt) {
        if (attempt == kGenerationTries) {
            rt_.ReportNotDone("The preset database \"" + presetPath +
                              "\" was left unchanged: another program changed it while each of " +
                              std::to_string(kGenerationTries) +
                              " generations was made from it. Run again when it is quiet.");
            return;
        }
        StartOver();
    }
}

bool PresetGeneration::GenerateAndPublish(runtime::Guard& guard, const std::string& templatePath,
                                          const std::string& presetPath) {
    platform::TempFile workFile;
    std::unique_ptr<Connection> work = StartWorkCopy(guard, templatePath, workFile);
    const bool opened = work != nullptr;
    CategorieNachCategoryID();
    guard([&] { CreateRecordSets(Opened(work)); });
    TakeOverFromPresetDatabase(guard, work);
    platform::TempFile result;
    const bool stored = work && work_ && guard([&] { WriteResult(*work, workFile, result); });
    guard([&] { work.reset(); });
    if (const auto reason = ReasonNotToPublish(Outcome(opened, stored))) {
        rt_.ReportNotDone("The preset database \"" + presetPath + "\" was left unchanged: " + *reason);
        return true;
    }
    publishable_ = true;
    if (preview_)
        return true; // a preview only tells what would be published
    if (beforePublish_)
        beforePublish_();
    return Publish(guard, result);
}

void PresetGeneration::StartOver() {
    old_ = std::make_unique<OldPresetTable>();
    work_.reset();
    takeoverComplete_ = true;
    carriedOver_.clear();
    overwritten_.clear();
    lost_.clear();
    generated_.clear();
    publishable_ = false;
    takeoverTrouble_.clear();
    templateRead_ = true;
}

// PRESET_DEFS is rebuilt in a copy of the template, a work file beside it
// that nobody else reads. The template and the preset database are replaced
// by it only once it is complete: a run that stops half-way, for whatever
// reason, leaves both as they were. Returns the open work copy with its
// transaction begun and PRESET_DEFS empty, or nullptr when it could not be made.
std::unique_ptr<Connection> PresetGeneration::StartWorkCopy(runtime::Guard& guard,
                                                            const std::string& templatePath,
                                                            platform::TempFile& workFile) {
    std::unique_ptr<Connection> work =
        guard.Value(nullptr, [&] { return OpenWorkCopy(templatePath, workFile); });
    if (!work)
        return work;
    // The whole new table is written in one transaction: a page cache that
    // holds it keeps SQLite from spilling pages to the file half-way.
    guard([&] { work->Execute("PRAGMA cache_size=-24576"); });
    guard([&] { work->Begin(); });
    RebuildPresetDefs(*work);
    return work;
}

// Stores the work table, commits, and writes the result out compact into
// `result`, a new file beside the work file, so that the same content always
// gives the same file: a run that changes nothing rewrites nothing.
void PresetGeneration::WriteResult(Connection& work, platform::TempFile& workFile,
                                   platform::TempFile& result) {
    StoreWorkTable(work);
    work.Commit();
    result.StandFor(workFile.Path());
    result.Create(platform::FolderOf(workFile.Path()));
    work.VacuumInto(result.Path());
}

// A copy of the template in a work file beside it (or in a preview's own
// folder), open for the run's work.
std::unique_ptr<Connection> PresetGeneration::OpenWorkCopy(const std::string& templatePath,
                                                           platform::TempFile& file) {
    const std::string folder =
        preview_ ? *preview_ : platform::FolderOf(platform::ResolveLinks(templatePath));
    file.Create(folder);
    templateCopy_->Naming([&] { platform::db::CopyDatabaseInto(templateCopy_->Path(), file); });
    if (file.Path().empty())
        platform::RaiseFileError(platform::Errno(EIO), folder);
    return std::make_unique<Connection>(file.Path(), platform::db::OpenMode::Scratch);
}

// What this generation found, for ReasonNotToPublish.
RunOutcome PresetGeneration::Outcome(bool opened, bool stored) {
    RunOutcome outcome;
    outcome.templateOpened = opened;
    outcome.tableStored = stored;
    outcome.templateRead = templateRead_;
    outcome.oldRowsFailed = old_->GetState() == OldPresetTable::State::Failed;
    outcome.takeoverComplete = takeoverComplete_;
    outcome.takeoverTrouble = takeoverTrouble_;
    outcome.oldRows = old_->HasRows() ? old_->RowCount() : 0;
    outcome.rowsGenerated = work_ ? work_->RowCount() : 0;
    outcome.oldRowsSource = machineCopyPath_ ? "the machine copy \"" + *machineCopyPath_ + "\"" : "it";
    if (outcome.oldRows > 0 && outcome.rowsGenerated == 0) {
        outcome.configurationFile = rt_.GetCFGPath();
        outcome.everyMachineSwitchedOff = EveryMachineSwitchedOff(outcome.configurationFile);
    }
    return outcome;
}

// True when the configuration file could be read and holds ForMachine flags
// for the project's machines, each of them "false": nothing is to be
// generated on purpose, unlike a file or machine list that could not be
// read, or a flag that says neither true nor false ("1", ""), which drops
// every tuned value only when it is meant.
bool PresetGeneration::EveryMachineSwitchedOff(const std::string& configurationFile) {
    if (configurationFile.empty() || !rt_.IniReadable(configurationFile) || rt_.MachineCount() == 0)
        return false;
    bool flagFound = false;
    try {
        for (std::size_t m = 1; m <= rt_.MachineCount(); ++m) {
            const auto entry =
                rt_.ReadIniEntry("Project", "ForMachine" + std::to_string(m), configurationFile);
            flagFound = flagFound || entry.has_value();
            if (entry && platform::UpperCase(*entry) != "FALSE")
                return false;
        }
    } catch (const platform::Failure&) { // could not be read after all
        return false;
    }
    return flagFound;
}

Connection& PresetGeneration::Opened(const std::unique_ptr<Connection>& database) {
    if (!database)
        platform::Raise(platform::errnum::ObjectNotSet, "Object variable or With block variable not set");
    return *database;
}

std::string PresetGeneration::OldRowsPath() {
    return machineCopyPath_ ? *machineCopyPath_ : rt_.GetPathOCXMDB();
}

// An integrated run starts from the machine copy of the save-and-restore
// folder: its rows are the old rows of this run (the preset database itself
// is replaced only by the finished result). Without one, it says that there
// is none (a new machine) and goes on from the preset database.
void PresetGeneration::StartFromMachineCopy(const std::string& machineCopyPath) {
    if (!machineCopyPath.empty()) {
        machineCopyPath_ = machineCopyPath;
        return;
    }
    const std::string text = MissingMachineCopyText(runtime::Runtime::GetFileNameOnly(rt_.GetPathOCXMDB()));
    if (rt_.SilentMode()) // nobody could answer a box in an unattended run
        rt_.WriteServicePackLog(text);
    else
        rt_.ShowMessage({text, std::nullopt, platform::Buttons::Ok, platform::Icon::Information, 1});
}

// Takes the tuned values of the old rows over, when there is a PRESET_DEFS
// to take them from.
void PresetGeneration::TakeOverFromPresetDatabase(runtime::Guard& guard,
                                                  const std::unique_ptr<Connection>& work) {
    if (!ReadOldRowsOnce(guard) || old_->GetState() != OldPresetTable::State::Read) {
        GetAddFields(); // for the report, which tells what is configured also without a take-over
        return;
    }
    guard([&] {
        GetAddFields();
        TakeoverMachineCopyMDBData(Opened(work), *old_);
    });
}

} // namespace torvex::presetdb
