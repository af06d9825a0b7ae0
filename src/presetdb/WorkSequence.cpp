#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "presetdb/OldPresetTable.h"
#include "presetdb/PresetGeneration.h"
#include "presetdb/WorkTable.h"
#include "runtime/Guard.h"

#include <cerrno>

namespace torvex::presetdb {

using platform::db::Connection;

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
    const bool integrated = rt_.IntegratedMode;
    guard([&] { ChooseNamingScheme(); });
    if (templatePath.empty())
        return;
    const std::string* machineCopy = integrated ? &machineCopyPath : &templatePath;
    if (!guard([&] {
            RefuseJetFiles(rt_.Identity().programFolder, {&templatePath, &presetPath, machineCopy});
        }))
        return;
    TemplateFileTimes = platform::GetFileTimes(templatePath);
    if (integrated)
        StartFromMachineCopy(machineCopyPath);
    if (!preview_)
        RecoverInPlace(templatePath);
    templateCopy_ = std::make_unique<platform::db::ReadCopy>(templatePath);
    LoadVarNamePatterns(*templateCopy_);

    platform::TempFile workFile;
    std::unique_ptr<Connection> work = StartWorkCopy(guard, templatePath, workFile);
    const bool opened = work != nullptr;
    CategorieNachCategoryID();
    guard([&] { CreateRecordSets(Opened(work)); });
    TakeOverFromPresetDatabase(guard, work);
    platform::TempFile result;
    const bool stored = work && work_ && guard([&] { WriteResult(*work, workFile, result); });
    guard([&] { work.reset(); });
    if (const auto reason = ReasonNotToPublish(opened, stored)) {
        rt_.ReportNotDone("The preset database \"" + presetPath + "\" was left unchanged: " + *reason);
        return;
    }
    publishable_ = true;
    if (preview_)
        return; // a preview only tells what would be published
    Publish(guard, result);
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
    if (int err = result.Create(platform::FolderOf(workFile.Path())); err != 0)
        platform::RaiseFileError(err, workFile.Path());
    work.VacuumInto(result.Path());
}

// A copy of the template in a work file beside it (or in a preview's own
// folder), open for the run's work.
std::unique_ptr<Connection> PresetGeneration::OpenWorkCopy(const std::string& templatePath,
                                                           platform::TempFile& file) {
    const std::string folder =
        preview_ ? *preview_ : platform::FolderOf(platform::ResolveLinks(templatePath));
    if (int err = file.Create(folder); err != 0)
        platform::RaiseFileError(err, folder);
    templateCopy_->Naming([&] { platform::db::CopyDatabaseInto(templateCopy_->Path(), file); });
    if (file.Path().empty())
        platform::RaiseFileError(EIO, folder);
    return std::make_unique<Connection>(file.Path(), platform::db::OpenMode::Scratch);
}

// Replacing the preset database loses every tuned value that did not reach
// the new rows: it happens only when the new table was built and stored,
// and the old rows were read and carried over as a whole (or there were none).
std::optional<std::string> PresetGeneration::ReasonNotToPublish(bool opened, bool stored) {
    const std::string source =
        machineCopyPath_ ? "the machine copy \"" + *machineCopyPath_ + "\"" : std::string("it");
    if (!opened)
        return "the template database could not be opened.";
    if (!stored)
        return "the new preset table could not be built in the template database.";
    if (!templateRead_)
        return "the rows of the template's Source_PRESET_DEFS could not be read.";
    if (old_->GetState() == OldPresetTable::State::Failed)
        return source + " could not be read, so its values could not be taken over.";
    if (!takeoverComplete_)
        return "the values of " + (machineCopyPath_ ? source : std::string("its rows")) +
               " could not be taken over as a whole" +
               (takeoverTrouble_.empty() ? "" : ": " + takeoverTrouble_) + ".";
    if (old_->HasRows() && work_->RowCount() == 0)
        return "no rows were generated (no machine enabled in \"" + rt_.GetCFGPath() +
               "\", or no template rows), and the " + std::to_string(old_->RowCount()) + " rows of " +
               (machineCopyPath_ ? source : std::string("it")) + " would lose their values.";
    return std::nullopt;
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
    if (rt_.SilentMode) // nobody could answer a box in an unattended run
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
