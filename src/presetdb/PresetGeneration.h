#pragma once

#include "platform/FileTimes.h"
#include "platform/database/Connection.h"
#include "platform/database/ReadCopy.h"
#include "presetdb/PublishDecision.h"
#include "presetdb/RegenerationReport.h"
#include "runtime/Runtime.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvex::runtime {
class Guard;
}

namespace torvex::presetdb {

class OldRow;
class OldPresetTable;
class WorkTable;

// The part number 1..50 of a `part` value; a null is a failure (94), any
// other number one too (9, subscript out of range).
std::size_t PartNumber(const platform::db::Value& part);

// The preset database generation: rebuilds PRESET_DEFS of the template
// database from Source_PRESET_DEFS for every enabled machine, carries the
// tuned values of the old rows over and publishes the result as the preset
// database. One object per run; its members are the subsystem's run state.
class PresetGeneration {
public:
    explicit PresetGeneration(runtime::Runtime& runtime);
    ~PresetGeneration();

    // Naming patterns by scheme (0 VisiWin 32, 1 VisiWin Studio) and part
    // 1..50, as GetVarNamePattern read them.
    const std::array<std::array<std::string, 51>, 2>& VarNamePattern() const { return varNamePattern_; }
    // The naming scheme of this run, as ChooseNamingScheme chose it.
    std::int16_t VisiWinSystem() const { return visiWinSystem_; }

    // The whole work sequence ("work on the databases"); the single entry point.
    void WorkOnMDB();

    // Makes the run a preview: its work file goes to `folder`, a folder of
    // its own, and nothing is published. The plant's files are only read.
    void PreviewIn(std::string folder) { preview_ = std::move(folder); }

    // Calls `hook` just before each publish: a seam for tests, which let
    // another program commit into the preset database there.
    void OnBeforePublish(std::function<void()> hook) { beforePublish_ = std::move(hook); }

    // What the run did, once WorkOnMDB has built a result it may publish.
    RegenerationReport Report() const;
    bool Publishable() const { return publishable_; }

    // Sets VisiWinSystem: VisiWin Studio when [Project] VWStudio=true in the
    // program ini of a run that is not integrated, else VisiWin 32.
    void ChooseNamingScheme();
    // Reads VarNamePattern from the template's Source_DEFS (opened read-only).
    void LoadVarNamePatterns(const platform::db::ReadCopy& templateFile);
    // "Categorie to category_id": gives the old rows' column "categorie" its
    // current name (the old rows are read here, in memory only).
    void CategorieNachCategoryID();
    // "Variable name in the source replaced": old rows named `first` (VisiWin
    // 32) or `second` (Studio), whichever is not the current scheme, get the
    // current scheme's name.
    void VarNameInQuelleErsetzen(const std::string& first, const std::string& second);
    // Generates the rows of PRESET_DEFS ("creates the record sets") in the work table.
    void CreateRecordSets(platform::db::Connection& database);
    // Replaces the first occurrence of `searchItem` (letter case ignored).
    std::string ReplaceSearchItem(std::string_view source, std::string_view searchItem,
                                  std::string_view replaceWith);
    // The additional-field list of the component configuration file.
    std::optional<std::vector<std::string>> GetAdditionalFieldsMDB();
    // Sets AdditionalFields and AdditionalFieldCount.
    void GetAddFields();
    // The take-over: carries abs_min, abs_max, min, max and pass of the old
    // rows (from the preset database or the machine copy) to the new rows.
    void TakeoverMachineCopyMDBData(platform::db::Connection& database, const OldPresetTable& oldRows);

    // The columns of an old row that the run reads.
    static const std::vector<std::string>& OldRowColumns();
    // The old rows, as this run has read and renamed them.
    const OldPresetTable& OldRows() const { return *old_; }

private:
    // The run state, each set in one place: the naming patterns by
    // GetVarNamePattern, the scheme by ChooseNamingScheme (0 VisiWin 32, 1
    // VisiWin Studio), the additional fields by GetAddFields ("", "part",
    // then the names of [Project] DataBaseAdditionalFields; their number
    // counts "part"), the template's times (its last-write time is kept) by
    // WorkOnMDB before the run changes it.
    std::array<std::array<std::string, 51>, 2> varNamePattern_{};
    std::int16_t visiWinSystem_ = 0;
    std::optional<std::vector<std::string>> additionalFields_;
    std::int16_t additionalFieldCount_ = 0;
    platform::FileTimes templateFileTimes_;

    // What CreateRecordSets carries from one generated row to the next.
    struct RowSequence {
        std::int16_t nextPresetID = 1;
        std::array<std::string, 2> schemeVarNames{}; // by scheme; a failed step keeps the previous row's
        int varNameColumn = -1;                      // the work table's var_name column
    };
    std::vector<std::vector<platform::db::Value>> ReadTemplateRows(runtime::Guard& guard,
                                                                   platform::db::Connection& database);
    bool AddGeneratedRow(runtime::Guard& guard, WorkTable& destination,
                         const std::vector<platform::db::Value>& templateRow, const std::string& machine,
                         RowSequence& sequence);
    std::string FilledVarName(runtime::Guard& guard, WorkTable& destination, const std::string& text,
                              const std::string& machine, RowSequence& sequence);

    void RebuildPresetDefs(platform::db::Connection& database);
    static platform::db::Connection& Opened(const std::unique_ptr<platform::db::Connection>& database);
    void StartFromMachineCopy(const std::string& machineCopyPath);
    void TakeOverFromPresetDatabase(runtime::Guard& guard,
                                    const std::unique_ptr<platform::db::Connection>& work);
    RunOutcome Outcome(bool opened, bool stored);
    bool EveryMachineSwitchedOff(const std::string& configurationFile);
    std::unique_ptr<platform::db::Connection>
    StartWorkCopy(runtime::Guard& guard, const std::string& templatePath, platform::TempFile& workFile);
    std::unique_ptr<platform::db::Connection> OpenWorkCopy(const std::string& templatePath,
                                                           platform::TempFile& file);
    void WriteResult(platform::db::Connection& work, platform::TempFile& workFile,
                     platform::TempFile& result);
    // False when the preset database changed since its old rows were read.
    bool Publish(runtime::Guard& guard, platform::TempFile& workFile);
    // One generation from the old rows on: read, generate, take over, and
    // publish when nothing was lost. False when the preset database changed
    // meanwhile and nothing was published.
    bool GenerateAndPublish(runtime::Guard& guard, const std::string& templatePath,
                            const std::string& presetPath);
    // Forgets what a generation found, for another one.
    void StartOver();
    void ReadOldTable(const std::string& path);
    bool ReadOldRowsOnce(runtime::Guard& guard);

    // Where the old rows come from: the preset database, or in an integrated
    // run the machine copy that stands in for it.
    std::string OldRowsPath();
    void WarnAboutFieldsNotTakenOver(platform::db::Connection& database);
    std::vector<OldRow> ReadOldRows(runtime::Guard& guard, const OldPresetTable& oldRows);
    bool RowQueriesCanRun(runtime::Guard& guard, platform::db::Connection& database);
    void ApplyOldRows(runtime::Guard& guard, platform::db::Connection& database,
                      const std::vector<OldRow>& buffer);
    WorkTable* LoadStoredRows(runtime::Guard& guard, platform::db::Connection& database,
                              std::unique_ptr<WorkTable>& loaded);
    [[noreturn]] void AbortRun(platform::db::Connection& database, const std::string& logLine);
    RegenerationReport ReportHead() const;
    // Writes the rows of the work table that are not stored yet.
    void StoreWorkTable(platform::db::Connection& database);
    std::string ComponentUpper();

    runtime::Runtime& rt_;
    std::unique_ptr<OldPresetTable> old_;
    // The template as the run read it: a private copy, from which the work copy is made.
    std::unique_ptr<platform::db::ReadCopy> templateCopy_;
    std::optional<std::string> machineCopyPath_; // set when an integrated run starts from a machine copy
    std::unique_ptr<WorkTable> work_;            // PRESET_DEFS of the template while this run builds it
    // False once the old rows' values could not be read or carried over as a
    // whole (a failure that the take-over does not absorb row by row).
    bool takeoverComplete_ = true;
    std::vector<bool> carriedOver_; // by old row: a regenerated row holds its values
    std::vector<bool> overwritten_; // by old row: a later old row with the same keys overwrote them
    std::vector<std::string> lost_; // by old row: which of its values its partner did not take, and why
    std::vector<RegenerationReport::Machine> generated_;
    std::optional<std::string> preview_; // the folder of a preview's work file
    bool publishable_ = false;
    std::string takeoverTrouble_; // why the old rows' values could not be taken over as a whole
    bool templateRead_ = true;    // the template's rows could all be read
    std::function<void()> beforePublish_;
};

} // namespace torvex::presetdb
