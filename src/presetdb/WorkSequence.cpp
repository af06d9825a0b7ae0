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
            throw platform::Failure(26, platform::kDatabaseSource,
                                    "The file \"" + *path +
                                        "\" is an old Access (Jet) database and must be imported first; "
                                        "nothing was changed. Import it with:\n\r\"" +
                                        programFolder + "/Torvex_ImportJet\" --in-place \"" + *path + "\"");
}

std::string MissingMachineCopyText(const std::string& fileName) {
    return "Konnte die Datei:\"" + fileName + "\" in der Vorlage nicht finden!\r\n\r\n" +
           "Ist das Bild in der Vorlage noch nicht vorhanden (also neu)?\r\n" +
           "Dann ist diese Meldung völlig normal und es wird eine neue Datei mit den Standardwerten erzeugt.";
}

} // namespace

// Puts the template's last-write time back when it goes out of scope, after
// the work connection that changed the template has been closed, whichever
// way the work ended.
class TemplateTimeKeeper {
public:
    TemplateTimeKeeper(const std::string& path, const platform::FileTimes& times)
        : path_(path), times_(times) {}
    ~TemplateTimeKeeper() { (void)platform::RestoreLastWriteTime(path_, times_); }
    TemplateTimeKeeper(const TemplateTimeKeeper&) = delete;
    TemplateTimeKeeper& operator=(const TemplateTimeKeeper&) = delete;

private:
    const std::string& path_;
    const platform::FileTimes& times_;
};

void PresetGeneration::WorkOnMDB() {
    runtime::Guard guard(rt_, "WorkOnMDB");
    std::string templatePath, presetPath, hx5Ini, machineCopyPath;
    guard([&] { templatePath = TemplatePath(); });
    guard([&] { presetPath = PresetPath(); });
    guard([&] { hx5Ini = rt_.GetHX5ConfigurationIniPath(); });
    guard([&] { machineCopyPath = MachineCopyPath(hx5Ini); });
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
    LoadVarNamePatterns(templatePath);

    bool opened = false, stored = false;
    {
        const TemplateTimeKeeper keepTime(templatePath, TemplateFileTimes);
        std::unique_ptr<Connection> work;
        guard([&] { work = std::make_unique<Connection>(templatePath); });
        opened = work != nullptr;
        // Whatever ends the run from here on, the rows generated so far are
        // stored in the work table, as each row was stored when it was made.
        // A run ended by a signal leaves the template as it was.
        struct StoreOnExit {
            PresetGeneration& generation;
            std::unique_ptr<Connection>& database;
            ~StoreOnExit() {
                try {
                    if (database && generation.rt_.Interrupted())
                        database->Rollback();
                    else if (database)
                        generation.StoreWorkTable(*database);
                } catch (const platform::Failure&) {
                    // the program is ending: what could not be stored stays as it was
                }
            }
        } storeOnExit{*this, work};
        // The work table is rebuilt and filled in one transaction: a run that
        // cannot store it leaves the template as it was.
        if (work) {
            // The whole new table is written in one transaction: a page cache that
            // holds it keeps SQLite from spilling pages to the file half-way.
            guard([&] { work->Execute("PRAGMA cache_size=-24576"); });
            guard([&] { work->Begin(); });
            RebuildPresetDefs(*work);
        }
        CategorieNachCategoryID();
        guard([&] { CreateRecordSets(Opened(work)); });
        TakeOverFromPresetDatabase(guard, work);
        stored = work && work_ && guard([&] {
                     StoreWorkTable(*work);
                     work->Commit();
                 });
        if (work && !stored)
            guard([&] { work->Rollback(); });
        guard([&] { work.reset(); });
    }

    stored_ = stored;
    if (const auto reason = ReasonNotToPublish(opened, stored)) {
        rt_.ReportNotDone("The preset database \"" + presetPath + "\" was left unchanged: " + *reason);
        return;
    }
    if (preview_)
        return; // a preview only tells what would be published
    Publish(guard);
}

std::string PresetGeneration::TemplatePath() {
    return preview_ ? preview_->templatePath : rt_.GetPathSourceOCXMDB();
}

std::string PresetGeneration::PresetPath() {
    return preview_ ? preview_->presetPath : rt_.GetPathOCXMDB();
}

std::string PresetGeneration::MachineCopyPath(const std::string& configurationIniPath) {
    return preview_ ? preview_->machineCopyPath : rt_.GetPathMachineCopyMDB(configurationIniPath);
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
    if (old_->GetState() == OldPresetTable::State::Failed)
        return source + " could not be read, so its values could not be taken over.";
    if (!takeoverComplete_)
        return "the values of " + (machineCopyPath_ ? source : std::string("its rows")) +
               " could not be taken over as a whole.";
    if (old_->HasRows() && work_->RowCount() == 0)
        return "no rows were generated, and the " + std::to_string(old_->RowCount()) + " rows of " +
               (machineCopyPath_ ? source : std::string("it")) + " would lose their values.";
    return std::nullopt;
}

Connection& PresetGeneration::Opened(const std::unique_ptr<Connection>& database) {
    if (!database)
        platform::Raise(platform::errnum::ObjectNotSet, "Object variable or With block variable not set");
    return *database;
}

std::string PresetGeneration::OldRowsPath() {
    return machineCopyPath_ ? *machineCopyPath_ : PresetPath();
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
    const std::string text = MissingMachineCopyText(runtime::Runtime::GetFileNameOnly(PresetPath()));
    if (rt_.SilentMode) // nobody could answer a box in an unattended run
        rt_.WriteServicePackLog(text);
    else
        rt_.ShowMessage({text, std::nullopt, platform::Buttons::Ok, platform::Icon::Information, 1});
}

// Takes the tuned values of the old rows over, when there is a PRESET_DEFS
// to take them from.
void PresetGeneration::TakeOverFromPresetDatabase(runtime::Guard& guard,
                                                  const std::unique_ptr<Connection>& work) {
    if (old_->GetState() == OldPresetTable::State::NotRead) {
        const std::string path = OldRowsPath();
        if (!guard.Test([&] { return platform::IsOrdinaryFile(path); })) {
            old_->MarkNoFile();
            return;
        }
        if (!guard([&] { ReadOldTable(path); }))
            return;
    }
    if (old_->GetState() != OldPresetTable::State::Read)
        return;
    guard([&] {
        GetAddFields();
        TakeoverMachineCopyMDBData(Opened(work), *old_);
    });
}

// Copies the template over the preset database; the file it replaces is kept
// as <component>.mdb.bak (one generation), so that a regeneration that
// dropped tuned rows can be undone by hand, and what the regeneration did is
// written beside it. When the copy fails, the preset database and its
// backup stay as they were.
void PresetGeneration::Publish(runtime::Guard& guard) {
    std::string target;
    if (!guard([&] {
            target = PresetPath();
            platform::db::CopyDatabaseFile(TemplatePath(), target, ".bak");
        })) {
        rt_.ReportNotDone("The preset database \"" + target +
                          "\" was left unchanged: the new one could not be written in its place.");
        return;
    }
    WriteReport();
}

// The report replaces the one of the previous regeneration; a silent run
// also says in one line of its log what became of the tuned values.
void PresetGeneration::WriteReport() {
    const std::string path = PresetPath() + ".report.txt";
    const RegenerationReport report = Report();
    if (!platform::WriteFileAtomic(path, report.Text())) {
        rt_.ReportNotDone("The regeneration report \"" + path +
                          "\" could not be written: " + platform::DescribeFileError(path, errno) + ".");
        return;
    }
    if (rt_.SilentMode)
        rt_.WriteServicePackNote(report.Summary(path));
}

} // namespace torvex::presetdb
