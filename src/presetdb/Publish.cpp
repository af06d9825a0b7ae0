#include "platform/FileSystem.h"
#include "presetdb/PresetGeneration.h"
#include "runtime/Guard.h"

namespace torvex::presetdb {
namespace {

// What was written of a publish, so that a failure half-way can say so.
struct Replaced {
    bool templateFile = false, presetFile = false;
};

// The new template and preset database from the finished work file: a copy
// of it (with the template's last-write time) replaces the template, the
// work file itself replaces the preset database, whose previous file is kept
// as the backup, and the report is put beside it. Each file is flushed
// before its rename, and the folders once after them.
void ReplaceBoth(platform::TempFile& work, const std::string& templatePath, const timespec* templateTime,
                 const std::string& presetPath, platform::TempFile* report, const std::string& reportPath,
                 Replaced& replaced) {
    for (const std::string& path : {templatePath, presetPath})
        if (int err = platform::Replaceable(path); err != 0)
            platform::RaiseFileError(err, path);
    platform::TempFile copy;
    int err = copy.Create(platform::FolderOf(templatePath));
    if (err == 0)
        err = copy.CopyFrom(work.Descriptor());
    if (err == 0)
        err = copy.Finish(templatePath, templateTime);
    if (err != 0)
        platform::RaiseFileError(err, templatePath);
    if ((err = work.Finish(presetPath)) != 0)
        platform::RaiseFileError(err, presetPath);
    platform::BackupLink backup;
    if ((err = backup.Make(presetPath)) != 0)
        platform::RaiseFileError(err, presetPath + ".bak");

    if ((err = copy.RenameOver(templatePath)) != 0)
        platform::RaiseFileError(err, templatePath);
    replaced.templateFile = true;
    if ((err = work.RenameOver(presetPath)) != 0)
        platform::RaiseFileError(err, presetPath);
    replaced.presetFile = true;
    const int kept = backup.KeepAs(presetPath + ".bak");
    if (report && report->RenameOver(reportPath) != 0)
        report = nullptr;
    err = platform::SyncFolderOf(presetPath);
    if (err == 0 && platform::FolderOf(templatePath) != platform::FolderOf(presetPath))
        err = platform::SyncFolderOf(templatePath);
    if (err != 0)
        platform::RaiseFileError(err, platform::FolderOf(presetPath));
    if (kept != 0)
        platform::Raise(platform::errnum::PathFileAccess,
                        "The previous preset database could not be kept as \"" + presetPath +
                            ".bak\": " + platform::DescribeFileError(presetPath + ".bak", kept));
}

// The report of this regeneration, ready to be put in place; nullptr when it
// cannot be written (the reason is in `why`).
std::unique_ptr<platform::TempFile> PrepareReport(const std::string& path, const std::string& text,
                                                  std::string& why) {
    auto file = std::make_unique<platform::TempFile>();
    int err = platform::Replaceable(path);
    if (err == 0)
        err = file->Create(platform::FolderOf(path));
    if (err == 0 &&
        ::write(file->Descriptor(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        err = errno ? errno : EIO;
    if (err == 0)
        err = file->Finish(path);
    if (err == 0)
        return file;
    why = platform::DescribeFileError(path, err);
    return nullptr;
}

} // namespace

// Puts the new template and preset database in place. The preset database
// it replaces is kept as <component>.mdb.bak (one generation), so that a
// regeneration that dropped tuned rows can be undone by hand, and what the
// regeneration did is written beside it as <component>.mdb.report.txt. When
// anything fails, the preset database and its backup stay as they were.
void PresetGeneration::Publish(runtime::Guard& guard, platform::TempFile& workFile) {
    const std::string templatePath = platform::ResolveLinks(rt_.GetPathSourceOCXMDB());
    const std::string presetPath = platform::ResolveLinks(rt_.GetPathOCXMDB());
    const std::string reportPath = presetPath + ".report.txt";
    const RegenerationReport report = Report();
    std::string reportTrouble;
    const auto reportFile = PrepareReport(reportPath, report.Text(), reportTrouble);
    Replaced replaced;
    const bool published = guard([&] {
        ReplaceBoth(workFile, templatePath,
                    TemplateFileTimes.captured ? &TemplateFileTimes.lastWrite : nullptr, presetPath,
                    reportFile.get(), reportPath, replaced);
    });
    if (!replaced.presetFile) {
        rt_.ReportNotDone("The preset database \"" + presetPath +
                          "\" was left unchanged: the new one could not be written in its place.");
        return;
    }
    if (!reportFile)
        rt_.ReportNotDone("The regeneration report \"" + reportPath +
                          "\" could not be written: " + reportTrouble + ".");
    else if (rt_.SilentMode && published)
        rt_.WriteServicePackNote(report.Summary(reportPath));
}

} // namespace torvex::presetdb
