#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace torvex::presetdb {

// What the steps of one generation found, as far as it decides whether the
// preset database may be replaced. Each step fills in its part.
struct RunOutcome {
    bool templateOpened = false; // the work copy of the template could be made
    bool tableStored = false;    // the new PRESET_DEFS was built and stored in it
    bool templateRead = true;    // every row of Source_PRESET_DEFS could be read
    bool oldRowsFailed = false;  // the file holding the old rows could not be read
    bool takeoverComplete = true;
    std::string takeoverTrouble; // why the take-over was not complete, when it says
    std::size_t oldRows = 0;
    std::size_t rowsGenerated = 0;
    // The configuration file was read, names a ForMachine flag for the
    // project's machines, and every one of them is false: no machine is to
    // have rows, on purpose.
    bool everyMachineSwitchedOff = false;
    std::string oldRowsSource; // "it" (the preset database) or "the machine copy \"...\""
    std::string configurationFile;
};

// Why the preset database must not be replaced by the generation, or
// std::nullopt when it may: replacing it loses every tuned value that did
// not reach the new rows, so it happens only when the new table was built
// and stored, and the old rows were read and carried over as a whole (or
// there were none). A generation without rows over old rows is published
// only when every machine was switched off on purpose.
std::optional<std::string> ReasonNotToPublish(const RunOutcome& outcome);

} // namespace torvex::presetdb
