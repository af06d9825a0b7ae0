#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "presetdb/PresetGeneration.h"
#include "presetdb/PresetSession.h"
#include "presetdb/WorkTable.h"
#include "runtime/Guard.h"

namespace torvex::presetdb {

using platform::db::Connection;
using platform::db::Recordset;

PresetGeneration::PresetGeneration(runtime::Runtime& runtime)
    : rt_(runtime), preset_(std::make_unique<PresetSession>()) {}

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

void PresetGeneration::WorkOnMDB() {
    runtime::Guard guard(rt_, "WorkOnMDB");
    std::string templatePath, presetPath, hx5Ini, machineCopyPath;
    guard([&] { templatePath = rt_.GetPathSourceOCXMDB(); });
    guard([&] { presetPath = rt_.GetPathOCXMDB(); });
    guard([&] { hx5Ini = rt_.GetHX5ConfigurationIniPath(); });
    guard([&] { machineCopyPath = rt_.GetPathMachineCopyMDB(hx5Ini); });
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
        StartFromMachineCopy(guard, machineCopyPath, presetPath);
    LoadVarNamePatterns(templatePath);

    std::unique_ptr<Connection> work;
    guard([&] { work = std::make_unique<Connection>(templatePath); });
    const bool opened = work != nullptr;
    // Whatever ends the run from here on, the rows generated so far are
    // stored in the work table, as each row was stored when it was made.
    struct StoreOnExit {
        PresetGeneration& generation;
        std::unique_ptr<Connection>& database;
        ~StoreOnExit() {
            try {
                if (database)
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
    const bool presetReadable = TakeOverFromPresetDatabase(guard, work, presetPath);
    const bool stored = work && work_ && guard([&] {
                            StoreWorkTable(*work);
                            work->Commit();
                        });
    if (work && !stored)
        guard([&] { work->Rollback(); });
    guard([&] { work.reset(); });

    // Replacing the preset database by a template whose work table could not
    // be built and stored, or while the old one could not be read, would lose
    // its tuned values.
    if (!stored || !presetReadable) {
        const char* reason = !opened   ? "the template database could not be opened."
                             : !stored ? "the new preset table could not be built in the template database."
                                       : "it could not be read, so its values could not be taken over.";
        rt_.ShowOrLogMessage("The preset database \"" + presetPath + "\" was left unchanged: " + reason);
        return;
    }
    Publish(guard);
}

Connection& PresetGeneration::Opened(const std::unique_ptr<Connection>& database) {
    if (!database)
        platform::Raise(platform::errnum::ObjectNotSet, "Object variable or With block variable not set");
    return *database;
}

// Replaces the preset database by the machine copy of the save-and-restore
// folder, or says that there is none (a new machine).
void PresetGeneration::StartFromMachineCopy(runtime::Guard& guard, const std::string& machineCopyPath,
                                            const std::string& presetPath) {
    if (!machineCopyPath.empty()) {
        guard([&] { platform::CopyFileAtomic(machineCopyPath, presetPath); });
        return;
    }
    const std::string text = MissingMachineCopyText(runtime::Runtime::GetFileNameOnly(presetPath));
    if (rt_.SilentMode) // nobody could answer a box in an unattended run
        rt_.WriteServicePackLog(text);
    else
        rt_.ShowMessage({text, std::nullopt, platform::Buttons::Ok, platform::Icon::Information, 1});
}

// Takes the tuned values of the preset database's old rows over, when it has
// a PRESET_DEFS. Returns false when the preset database could not be read.
bool PresetGeneration::TakeOverFromPresetDatabase(runtime::Guard& guard,
                                                  const std::unique_ptr<Connection>& work,
                                                  const std::string& presetPath) {
    if (!guard.Test([&] { return platform::IsOrdinaryFile(presetPath); }))
        return true;
    guard([&] {
        Connection& preset = preset_->Open(presetPath);
        preset_->Flush();
        const auto tables = preset.TableNames();
        if (std::find(tables.begin(), tables.end(), "PRESET_DEFS") == tables.end())
            return;
        std::optional<Recordset> oldRows = Recordset::OnTable(preset, "PRESET_DEFS");
        GetAddFields();
        TakeoverMachineCopyMDBData(Opened(work), oldRows);
    });
    const bool readable = !preset_->Failed();
    guard([&] { preset_->Close(); });
    return readable;
}

// Copies the template over the preset database and puts the template's
// last-write time back. The previous preset database is kept as
// <component>.mdb.bak (one generation), so that a regeneration that dropped
// tuned rows can be undone by hand; without that copy the old file stays.
void PresetGeneration::Publish(runtime::Guard& guard) {
    std::string target;
    const bool kept = guard([&] {
        target = rt_.GetPathOCXMDB();
        if (platform::IsOrdinaryFile(target))
            platform::KeepPreviousVersion(target, target + ".bak");
    });
    if (!kept) {
        rt_.ShowOrLogMessage("The preset database \"" + target +
                             "\" was left unchanged: its previous version " + "could not be kept as \"" +
                             target + ".bak\".");
        return;
    }
    guard([&] { platform::CopyFileAtomic(rt_.GetPathSourceOCXMDB(), target); });
    guard([&] { platform::RestoreLastWriteTime(rt_.GetPathSourceOCXMDB(), TemplateFileTimes); });
}

} // namespace torvex::presetdb
