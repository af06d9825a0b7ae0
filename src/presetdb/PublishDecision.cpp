#include "presetdb/PublishDecision.h"

namespace torvex::presetdb {

std::optional<std::string> ReasonNotToPublish(const RunOutcome& outcome) {
    if (!outcome.templateOpened)
        return "the template database could not be opened.";
    if (!outcome.tableStored)
        return "the new preset table could not be built in the template database.";
    if (!outcome.templateRead)
        return "the rows of the template's Source_PRESET_DEFS could not be read.";
    if (outcome.oldRowsFailed)
        return outcome.oldRowsSource + " could not be read, so its values could not be taken over.";
    if (!outcome.takeoverComplete)
        return "the values of " + (outcome.oldRowsSource == "it" ? "its rows" : outcome.oldRowsSource) +
               " could not be taken over as a whole" +
               (outcome.takeoverTrouble.empty() ? "" : ": " + outcome.takeoverTrouble) + ".";
    if (outcome.oldRows > 0 && outcome.rowsGenerated == 0 && !outcome.everyMachineSwitchedOff)
        return "no rows were generated (no machine enabled in \"" + outcome.configurationFile +
               "\", or no template rows), and the " + std::to_string(outcome.oldRows) + " rows of " +
               outcome.oldRowsSource + " would lose their values.";
    return std::nullopt;
}

} // namespace torvex::presetdb
