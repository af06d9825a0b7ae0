#include "presetdb/Restore.h"

#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/ProgramEnd.h"
#include "platform/Text.h"
#include "platform/database/Connection.h"
#include "presetdb/PresetFile.h"
#include "presetdb/RegenerationReport.h"
#include "runtime/Guard.h"

#include <sys/stat.h>

#include <ctime>
#include <map>
#include <memory>
#include <ostream>

namespace torvex::presetdb {

using platform::db::Connection;
using platform::db::OpenMode;

RestoreComparison CompareForRestore(const std::vector<TunedRow>& now, const std::vector<TunedRow>& restored) {
    using Key = std::array<std::string, 3>;
    const auto keyOf = [](const TunedRow& row) { return Key{row.machineType, row.varName, row.offset}; };
    const auto valuesSet = [](const TunedRow& row) {
        std::size_t count = 0;
        for (const std::string& value : row.values)
            count += value.empty() ? 0 : 1;
        return count;
    };
    RestoreComparison result;
    std::map<std::string, RestoreComparison::MachineType> types;
    std::map<Key, std::vector<std::size_t>> unmatched; // rows of `now` by key, the first first
    for (std::size_t i = now.size(); i-- > 0;) {
        unmatched[keyOf(now[i])].push_back(i);
        ++types[now[i].machineType].now;
    }
    std::vector<bool> matched(now.size(), false);
    for (const TunedRow& row : restored) {
        ++types[row.machineType].restored;
        auto& partners = unmatched[keyOf(row)];
        if (partners.empty()) {
            result.differingValues += valuesSet(row);
            result.rows.push_back({std::nullopt, row});
            continue;
        }
        const TunedRow& partner = now[partners.back()];
        matched[partners.back()] = true;
        partners.pop_back();
        std::size_t differing = 0;
        for (std::size_t k = 0; k < row.values.size(); ++k)
            differing += row.values[k] != partner.values[k] ? 1 : 0;
        if (differing > 0) {
            result.differingValues += differing;
            result.rows.push_back({partner, row});
        }
    }
    for (std::size_t i = 0; i < now.size(); ++i)
        if (!matched[i]) {
            result.differingValues += valuesSet(now[i]);
            result.rows.push_back({now[i], std::nullopt});
        }
    for (auto& [name, type] : types) {
        type.name = name;
        result.machineTypes.push_back(type);
    }
    return result;
}

std::string RestoreComparison::Text() const {
    std::string t = "machine types (machine_type, rows now, rows after the restore):\n";
    for (const MachineType& type : machineTypes)
        t += TableCell(type.name) + "\t" + std::to_string(type.now) + "\t" + std::to_string(type.restored) +
             "\n";
    t += "tuned values (" + FieldNames(kCarriedFields, ", ", ", ") +
         ") that differ: " + std::to_string(differingValues) + "\n";
    t += "\ndiffering rows (" + std::to_string(rows.size()) +
         "), those of the backup in its order, then those only the current content has:\n";
    t += FieldNames(kKeyFields, "\t", "\t") + "\t" + FieldNames(kCarriedFields, "\t", "\t") + "\t" +
         FieldNames(kCarriedFields, "\t", "\t", "restored_") + "\twhat\n";
    for (const Difference& row : rows) {
        const TunedRow& keys = row.restored ? *row.restored : *row.now;
        t += TableCell(keys.machineType) + "\t" + TableCell(keys.varName) + "\t" + TableCell(keys.offset);
        for (const auto* version : {&row.now, &row.restored})
            for (std::size_t k = 0; k < keys.values.size(); ++k)
                t += "\t" + (*version ? TableCell((**version).values[k]) : std::string());
        t += std::string("\t") +
             (!row.now        ? "only in the backup"
              : !row.restored ? "only now"
                              : "changed") +
             "\n";
    }
    return t;
}

namespace {

constexpr std::string_view kTable = "PRESET_DEFS";

// The rows of the preset table in table order, with the columns looked up
// by name: a column the table lacks reads as null.
std::vector<TunedRow> ReadTunedRows(Connection& db) {
    const auto columns = db.Columns(std::string(kTable));
    std::string select;
    std::array<OldField, kKeyFields.size() + kCarriedCount> wanted{};
    std::ranges::copy(kCarriedFields, std::ranges::copy(kKeyFields, wanted.begin()).out);
    std::array<platform::db::Kind, wanted.size()> kinds{};
    for (std::size_t w = 0; w < kinds.size(); ++w) {
        std::string expression = "NULL";
        kinds[w] = platform::db::Kind::Text;
        for (const auto& column : columns)
            if (platform::UpperCase(column.name) == platform::UpperCase(std::string(NameOf(wanted[w])))) {
                expression = platform::db::QuoteIdentifier(column.name);
                kinds[w] = platform::db::KindOfDeclaredType(column.type);
                break;
            }
        select += (w ? ", " : "") + expression;
    }
    const std::string table = platform::db::QuoteIdentifier(kTable);
    auto stmt = db.PrepareOwned("SELECT " + select + " FROM " + table +
                                (db.HasRowid(std::string(kTable)) ? " ORDER BY rowid" : ""));
    std::vector<TunedRow> rows;
    const auto text = [&](int column) {
        return platform::db::ValueText(stmt->Column(column, kinds[static_cast<std::size_t>(column)]));
    };
    while (stmt->Step()) {
        TunedRow row{text(0), text(1), text(2), {}};
        for (std::size_t k = 0; k < kCarriedCount; ++k)
            row.values[k] = text(static_cast<int>(kKeyFields.size() + k));
        rows.push_back(std::move(row));
    }
    return rows;
}

// The backup opened for reading when it is a whole database with the preset
// table; otherwise why not.
std::string OpenWholeBackup(const std::string& path, std::unique_ptr<Connection>& backup) {
    try {
        backup = std::make_unique<Connection>(path, OpenMode::ReadOnly);
        auto check = backup->PrepareOwned("PRAGMA integrity_check");
        const std::string verdict = check->Step() ? check->ColumnText(0) : "";
        if (verdict != "ok")
            return "the backup \"" + path + "\" is damaged (" + verdict + ").";
        bool hasTable = false;
        for (const std::string& name : backup->TableNames())
            hasTable = hasTable || platform::UpperCase(name) == kTable;
        if (!hasTable)
            return "the backup \"" + path + "\" has no table " + std::string(kTable) + ".";
        return {};
    } catch (const platform::Failure& failure) {
        backup.reset();
        return "the backup \"" + path + "\" is no whole database (" + failure.Description() + ").";
    }
}

// "<path>, last written <time>" of a file.
std::string Version(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "\"" + path + "\"";
    return "\"" + path + "\", last written " + platform::LocalTimeText(st.st_mtim.tv_sec);
}

// The preview of a restore: what putting the backup back would change.
int PrintRestorePreview(runtime::Runtime& rt, runtime::Guard& guard, std::ostream& out,
                        const std::string& presetPath, const std::string& backupVersion,
                        const std::vector<TunedRow>& restoredRows) {
    std::vector<TunedRow> nowRows;
    if (!guard([&] {
            Connection current(presetPath, OpenMode::ReadOnly);
            nowRows = ReadTunedRows(current);
        }))
        return 1;
    out << "Restore of the preset database, preview\npreset database: " << presetPath
        << "\nrestored version: " << backupVersion << "\n\n"
        << CompareForRestore(nowRows, restoredRows).Text() << std::flush;
    return rt.FailureReports() > 0 ? 1 : 0;
}

// Puts the content of `backup` into the preset database, keeping what it
// held as the new backup; std::nullopt when it could not be put back.
std::optional<ContentReplaced> PutBackupBack(runtime::Guard& guard, const std::string& presetPath,
                                             Connection& backup) {
    ContentReplaced replaced;
    const bool done = guard([&] {
        platform::CheckReplaceable(presetPath);
        Connection preset(presetPath);
        // A page cache that holds the whole content keeps SQLite from
        // spilling (and flushing) the journal half-way.
        preset.Execute("PRAGMA cache_size=-65536");
        replaced = ReplaceKeepingBackup(preset, presetPath, backup, "restored");
    });
    if (!done || !replaced.replaced)
        return std::nullopt;
    return replaced;
}

// The report of a restore that put the backup's content in: the versions,
// and what changed against the previous content where that was kept. No
// guarded step (a safe point for a signal) is taken: once the content is
// in, the report must be written.
std::string RestoreReport(const runtime::Runtime& rt, const std::string& presetPath,
                          const std::string& backupVersion, const ContentReplaced& replaced,
                          const std::vector<TunedRow>& restoredRows) {
    std::string report =
        "Restore of the preset database\ndate: " + platform::LocalTimeText(std::time(nullptr)) + "\n";
    report += "program version: " + rt.Identity().version.Text() + "\n";
    report += "preset database: " + presetPath + "\n";
    report += "its content is a restore of: " + backupVersion + "\n";
    if (!replaced.keptAs.empty()) {
        try {
            Connection previous(replaced.keptAs, OpenMode::ReadOnly);
            const std::vector<TunedRow> nowRows = ReadTunedRows(previous);
            return report + "previous content kept as: " + Version(replaced.keptAs) + "\n\n" +
                   CompareForRestore(nowRows, restoredRows).Text();
        } catch (const platform::Failure&) {
            // The report then only names the versions.
        }
    }
    return report + "previous content: " +
           (replaced.keptAs.empty() ? std::string("not kept") : Version(replaced.keptAs)) + "\n";
}

// Writes the report beside the restored preset database and says what was done.
int FinishRestore(runtime::Runtime& rt, runtime::Guard& guard, const std::string& presetPath,
                  const std::string& backupVersion, const ContentReplaced& replaced,
                  const std::string& report) {
    const std::string reportPath = presetPath + ".report.txt";
    const std::string trouble = WriteReport(reportPath, report, presetPath);
    guard([&] { platform::SyncFolderOf(presetPath); });
    if (!replaced.backupTrouble.empty())
        rt.ReportNotDone(replaced.backupTrouble);
    if (!trouble.empty())
        rt.ReportNotDone("The preset database \"" + presetPath + "\" was restored, but the report \"" +
                         reportPath + "\" could not be written: " + trouble + ".");
    else
        rt.WriteServicePackNote("the preset database \"" + presetPath + "\" was restored from " +
                                backupVersion +
                                "; its previous content is the new backup; report: " + reportPath);
    return rt.FailureReports() > 0 ? 1 : 0;
}

} // namespace

int RunRestore(runtime::Runtime& rt, std::ostream& out, bool preview, std::chrono::milliseconds plantWait) {
    try {
        rt.GetStartModeIntegrated();
        runtime::Guard guard(rt, "Restore");
        const std::string presetPath =
            guard.Value("", [&] { return platform::ResolveLinks(rt.GetPathOCXMDB()); });
        if (presetPath.empty())
            return 1;
        if (!preview) {
            if (const auto lock = rt.LockComponent(plantWait); lock != runtime::Runtime::PlantLock::Held) {
                rt.ReportNotDone(rt.PlantLockTrouble(lock, plantWait, "Nothing was restored."));
                return 1;
            }
        }
        const std::string bakPath = presetPath + ".bak";
        const auto refuse = [&](const std::string& why) {
            rt.ReportNotDone("The preset database \"" + presetPath + "\" was not restored: " + why +
                             " Nothing was changed.");
            return 1;
        };
        if (!platform::IsOrdinaryFile(presetPath))
            return refuse("there is no preset database to put the backup into.");
        if (!platform::IsOrdinaryFile(bakPath))
            return refuse("there is no backup \"" + bakPath + "\".");
        std::unique_ptr<Connection> backup;
        if (const std::string why = OpenWholeBackup(bakPath, backup); !why.empty())
            return refuse(why);
        const std::string backupVersion = Version(bakPath);
        std::vector<TunedRow> restoredRows;
        if (!guard([&] { restoredRows = ReadTunedRows(*backup); }))
            return refuse("the backup \"" + bakPath + "\" cannot be read.");
        if (preview)
            return PrintRestorePreview(rt, guard, out, presetPath, backupVersion, restoredRows);
        if (platform::db::SameDatabaseContent(bakPath, presetPath)) {
            rt.WriteServicePackNote("the preset database \"" + presetPath +
                                    "\" already holds the content of its backup; nothing changed");
            return 0;
        }
        const auto replaced = PutBackupBack(guard, presetPath, *backup);
        backup.reset();
        if (!replaced) {
            rt.ReportNotDone("The preset database \"" + presetPath +
                             "\" was left unchanged: its backup could not be put back.");
            return 1;
        }
        const std::string report = RestoreReport(rt, presetPath, backupVersion, *replaced, restoredRows);
        return FinishRestore(rt, guard, presetPath, backupVersion, *replaced, report);
    } catch (const platform::ProgramEnd& end) {
        return end.exitStatus;
    }
}

} // namespace torvex::presetdb
