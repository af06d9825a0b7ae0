#pragma once

#include "presetdb/OldRowFields.h"
#include "runtime/Runtime.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace torvex::presetdb {

// One row of a preset table as a restore compares it: its keys and its
// tuned values as text ("" for null).
struct TunedRow {
    std::string machineType, varName, offset;
    std::array<std::string, kCarriedCount> values; // as kCarriedFields
    bool operator==(const TunedRow&) const = default;
};

// What putting the backup's content back would change: the rows of the two
// versions matched by machine_type, var_name and offset_or_bitno (rows with
// the same keys in table order).
struct RestoreComparison {
    struct MachineType {
        std::string name;
        std::size_t now = 0, restored = 0; // rows in the current content and in the backup
    };
    // A row whose tuned values differ, or that only one version has.
    struct Difference {
        std::optional<TunedRow> now, restored;
    };
    std::vector<MachineType> machineTypes; // by name
    std::size_t differingValues = 0;       // of a row only one version has, its values that are not null
    std::vector<Difference> rows; // the backup's in its order, then those only the current content has

    // The machine types, the count and the differing rows as tab-separated
    // lines under a header line.
    std::string Text() const;
};

RestoreComparison CompareForRestore(const std::vector<TunedRow>& now, const std::vector<TunedRow>& restored);

// `/RESTORE` of a silent run: under the plant's lock (waiting up to
// `plantWait`), puts the content of "<preset>.bak" back into the preset
// database through SQLite, the current content becoming the new backup, and
// writes the report beside it; nothing else of the plant is touched. A
// missing or damaged backup, or a lock that cannot be had, is refused with
// nothing changed. With `preview`, only prints on `out` what a restore would
// change (no lock, no file written); a restore itself prints nothing. Returns the exit status.
int RunRestore(runtime::Runtime& rt, std::ostream& out, bool preview, std::chrono::milliseconds plantWait);

} // namespace torvex::presetdb
