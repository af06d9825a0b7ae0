#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "platform/database/Connection.h"
#include "presetdb/OldPresetTable.h"
#include "presetdb/PresetFile.h"
#include "presetdb/PresetGeneration.h"
#include "runtime/Guard.h"

#include <cerrno>
#include <ctime>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace torvex::presetdb {

using platform::db::Connection;
using platform::db::OpenMode;

namespace {

// Puts the copy of the previous preset database in the backup's place.
// Called once the new content is in, so it must not lose the copy when that
// place is taken: the copy then stays under a name of its own, which
// `keptAs` is given ("" when it is lost). Returns "" or what the user must
// be told; `done` says what became of the preset database ("regenerated").
std::string KeepBackup(platform::TempFile& backup, const std::string& presetPath, std::string_view done,
                       std::string& keptAs) {
    const std::string bak = presetPath + ".bak";
    keptAs = bak;
    const std::error_code why = backup.TryRenameOver(bak);
    if (!why)
        return {};
    keptAs.clear();
    std::string text = "The preset database \"" + presetPath + "\" was " + std::string(done) +
                       ", but its previous version could not be kept as \"" + bak +
                       "\": " + platform::DescribeFileError(bak, why);
    const std::string stamp = platform::LocalTimeText(std::time(nullptr), "%Y%m%d-%H%M%S");
    // Runs within one second each get a name of their own.
    for (int i = 1; i <= 100; ++i) {
        const std::string elsewhere = bak + "-" + stamp + (i > 1 ? "-" + std::to_string(i) : "");
        std::error_code ec;
        if (!std::filesystem::exists(elsewhere, ec) && !ec && !backup.TryRenameOver(elsewhere)) {
            keptAs = elsewhere;
            return text + "; it was kept as \"" + elsewhere + "\".";
        }
    }
    return text + "; it is lost.";
}

// What became of the preset database.
struct PresetPublished {
    bool changedMeanwhile = false; // another program changed it since the old rows were read: nothing done
    std::string backupTrouble;     // "" or what went wrong with the backup once the new content was in
};

// The copy of the previous preset database while the new content goes in:
// on disk before it, so that a power cut before the copy has the backup's
// place leaves it here.
std::string PendingBackupPath(const std::string& presetPath) {
    return presetPath + ".bak.pending";
}

// Finishes what a run cut off by a power cut left: a pending copy that
// differs from the preset database was taken before new content went in and
// becomes the backup; one that does not was never needed.
void FinishPendingBackup(const std::string& presetPath) {
    const std::string pending = PendingBackupPath(presetPath);
    if (!platform::IsOrdinaryFile(pending))
        return;
    if (platform::db::SameDatabaseContent(pending, presetPath))
        ::unlink(pending.c_str());
    else if (::rename(pending.c_str(), (presetPath + ".bak").c_str()) != 0)
        return;
    (void)platform::TrySyncFolderOf(presetPath);
}

// Removes the pending copy once the backup has its place, or the new
// content could not be put in.
struct PendingBackup {
    std::string path;
    ~PendingBackup() {
        if (!path.empty())
            ::unlink(path.c_str());
    }
};

} // namespace

ContentReplaced ReplaceKeepingBackup(Connection& preset, const std::string& presetPath, Connection& source,
                                     std::string_view done, const std::function<bool()>& mayReplace) {
    FinishPendingBackup(presetPath);
    platform::TempFile backup(presetPath + ".bak");
    backup.Create(platform::FolderOf(presetPath));
    // Opened before and closed after SQLite locks the file: closing a
    // descriptor of the file lets go of every lock this process holds on it.
    const platform::Descriptor current = platform::OpenForReading(presetPath);
    ContentReplaced result;
    PendingBackup pending;
    result.replaced = preset.ReplaceContentWith(source, [&] {
        if (mayReplace && !mayReplace())
            return false;
        // The copy keeps the last-write time of the content it holds: the
        // time stamp of the backup says which version it is.
        struct stat st {};
        if (::fstat(current.Get(), &st) != 0)
            platform::RaiseFileError(platform::Errno(), presetPath + ".bak");
        backup.CopyFrom(current.Get());
        backup.Finish(presetPath, &st.st_mtim);
        // One left that could not be finished is never overwritten.
        const std::string path = PendingBackupPath(presetPath);
        const std::error_code why = ::link(backup.Path().c_str(), path.c_str()) == 0
                                        ? platform::TrySyncFolderOf(presetPath)
                                        : platform::Errno();
        if (why != std::errc::file_exists)
            pending.path = path;
        if (why)
            platform::RaiseFileError(why, presetPath + ".bak");
        return true;
    });
    if (result.replaced)
        result.backupTrouble = KeepBackup(backup, presetPath, done, result.keptAs);
    return result;
}

namespace {

// Puts the finished work file in place of the preset database. A new file
// is renamed into place, with the template's mode and group. An existing
// one may be held open by other programs (the machine's own runtime): it
// gets the new content through SQLite, under its own locking, so that they
// see it and nothing they write is torn. Its content at that moment is
// copied to the backup first, which takes the backup's place once the new
// content is in.
//
// `old` holds what the old rows were read from. When they were read from
// this very file (`old.Held()`), the new content goes in only if nobody
// committed into it since: otherwise the new content would undo that
// commit, and changedMeanwhile is answered instead, nothing done.
PresetPublished PublishPreset(platform::TempFile& work, const std::string& presetPath,
                              const std::string& templatePath, const OldPresetTable& old,
                              bool fromPresetFile) {
    if (!platform::IsOrdinaryFile(presetPath) && !platform::IsSpecialFile(presetPath)) {
        work.StandFor(presetPath);
        work.Finish(templatePath);
        // One that another program made meanwhile is not replaced unseen.
        const std::error_code why = work.TryRenameOver(presetPath, !fromPresetFile);
        if (why == std::errc::file_exists)
            return {true, {}};
        if (why)
            platform::RaiseFileError(why, presetPath);
        return {};
    }
    if (fromPresetFile && !old.Held())
        return {true, {}}; // made since the run found none
    platform::CheckReplaceable(presetPath);
    // A folder or the like in the backup's place would only show once the new
    // content is in: refused before anything changes.
    if (platform::IsSpecialFile(presetPath + ".bak"))
        platform::RaiseFileError(platform::Errno(ENXIO), presetPath + ".bak");
    std::unique_ptr<Connection> own;
    Connection& preset = old.Held() ? *old.Held() : *(own = std::make_unique<Connection>(presetPath));
    FinishPendingBackup(presetPath); // also when this run changes nothing
    // A page cache that holds the whole new content keeps SQLite from
    // spilling (and flushing) the journal half-way.
    preset.Execute("PRAGMA cache_size=-65536");
    std::uint32_t seen = old.SeenWhenRead() ? old.SeenWhenRead()->changes : 0;
    if (preset.JournalMode() != "delete") {
        preset.Execute("PRAGMA journal_mode=DELETE"); // a write-ahead log is folded in; fails while in use
        if (fromPresetFile && preset.OthersChangesSeen() != old.SeenWhenRead()->othersChanges)
            return {true, {}};
        seen = preset.ChangesSeen(); // this connection's own change
    }
    if (platform::db::SameDatabaseContent(work.Path(), presetPath))
        return {};
    Connection source(work.Path(), OpenMode::ReadOnly);
    bool changed = false;
    const ContentReplaced replaced = ReplaceKeepingBackup(preset, presetPath, source, "regenerated", [&] {
        changed = fromPresetFile && preset.ChangesSeen() != seen;
        return !changed;
    });
    return {changed, replaced.backupTrouble};
}

// A copy of the work file, flushed, that is to replace the template and keeps
// its last-write time; nullptr when the template already holds exactly this
// content.
std::unique_ptr<platform::TempFile> PrepareTemplate(platform::TempFile& work, const std::string& templatePath,
                                                    const timespec* lastWrite) {
    if (platform::db::SameDatabaseContent(work.Path(), templatePath))
        return nullptr;
    platform::CheckReplaceable(templatePath);
    auto copy = std::make_unique<platform::TempFile>(templatePath);
    copy->Create(platform::FolderOf(templatePath));
    copy->CopyFrom(work.Descriptor());
    copy->Finish(templatePath, lastWrite);
    return copy;
}

// Writes the report of this regeneration in place of the previous one,
// flushed before its rename: a power cut never leaves a report that was
// renamed into place without its bytes. Returns "" or why not; then the
// earlier report, with whatever the user added to it, stays.
std::string WriteReportFile(const std::string& path, const std::string& text, const std::string& presetPath) {
    platform::TempFile file;
    std::error_code why = platform::TryCheckReplaceable(path);
    if (!why)
        why = file.TryCreate(platform::FolderOf(path));
    if (!why)
        why = file.TryWrite(text);
    if (!why) // a first one like the database
        why = file.TryFinish(platform::IsOrdinaryFile(path) ? path : presetPath);
    if (!why)
        why = file.TryRenameOver(path);
    return why ? platform::DescribeFileError(path, why) : std::string();
}

} // namespace

// Puts the new preset database and template in place, the preset database
// first: when it cannot be written, the template stays as it was too. The
// preset database it replaces is kept as <component>.mdb.bak (one
// generation), so that a regeneration that dropped tuned rows can be undone
// (/RESTORE), and what the regeneration did is written beside it as
// <component>.mdb.report.txt. When anything fails, the preset database and
// its backup stay as they were; only a backup that cannot take its place
// once the new content is in stays under a name of its own, and the user is
// told. Returns false, having changed nothing, when another program
// committed into the preset database since its old rows were read: the run
// must start over from those rows.
bool PresetGeneration::Publish(runtime::Guard& guard, platform::TempFile& workFile) {
    const std::string templatePath = platform::ResolveLinks(rt_.GetPathSourceOCXMDB());
    const std::string presetPath = platform::ResolveLinks(rt_.GetPathOCXMDB());
    const std::string reportPath = presetPath + ".report.txt";
    const RegenerationReport report = Report();
    // The template's copy is made from the work file before the work file
    // may become the preset database itself; it replaces the template only
    // once the preset database has its new content.
    std::unique_ptr<platform::TempFile> templateCopy;
    PresetPublished preset;
    const bool published = guard([&] {
        templateCopy = PrepareTemplate(workFile, templatePath,
                                       templateFileTimes_.captured ? &templateFileTimes_.lastWrite : nullptr);
        preset = PublishPreset(workFile, presetPath, templatePath, *old_, !machineCopyPath_);
    });
    if (preset.changedMeanwhile)
        return false;
    if (!published) {
        rt_.ReportNotDone("The preset database \"" + presetPath +
                          "\" was left unchanged: the new one could not be written in its place.");
        return true;
    }
    guard([&] {
        if (templateCopy)
            templateCopy->RenameOver(templatePath);
    });
    const std::string trouble = WriteReportFile(reportPath, report.Text(), presetPath);
    guard([&] {
        platform::SyncFolderOf(presetPath);
        if (platform::FolderOf(templatePath) != platform::FolderOf(presetPath))
            platform::SyncFolderOf(templatePath);
    });
    if (!preset.backupTrouble.empty())
        rt_.ReportNotDone(preset.backupTrouble);
    if (!trouble.empty())
        rt_.ReportNotDone("The regeneration report \"" + reportPath + "\" could not be written: " + trouble +
                          EarlierReportNote(reportPath) + ".");
    else if (rt_.SilentMode())
        rt_.WriteServicePackNote(report.Summary(reportPath));
    return true;
}

std::string WriteReport(const std::string& path, const std::string& text, const std::string& presetPath) {
    return WriteReportFile(path, text, presetPath);
}

} // namespace torvex::presetdb
