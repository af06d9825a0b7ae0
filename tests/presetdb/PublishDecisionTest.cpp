#include "presetdb/PublishDecision.h"

#include <gtest/gtest.h>

using torvex::presetdb::ReasonNotToPublish;
using torvex::presetdb::RunOutcome;

namespace {

// A generation that may be published: everything read, built and carried over.
RunOutcome Complete() {
    RunOutcome outcome;
    outcome.templateOpened = true;
    outcome.tableStored = true;
    outcome.oldRows = 70;
    outcome.rowsGenerated = 70;
    outcome.oldRowsSource = "it";
    outcome.configurationFile = "/p/Torvex/Torvex.cfg";
    return outcome;
}

struct Case {
    const char* name;
    void (*change)(RunOutcome&);
    const char* reasonStart; // nullptr: published
};

const Case kCases[] = {
    {"complete", [](RunOutcome&) {}, nullptr},
    {"no old rows", [](RunOutcome& o) { o.oldRows = 0; }, nullptr},
    {"template not opened", [](RunOutcome& o) { o.templateOpened = false; }, "the template database could"},
    {"table not stored", [](RunOutcome& o) { o.tableStored = false; }, "the new preset table could not"},
    {"template rows not read", [](RunOutcome& o) { o.templateRead = false; }, "the rows of the template's"},
    {"old rows not read", [](RunOutcome& o) { o.oldRowsFailed = true; }, "it could not be read"},
    {"take-over incomplete",
     [](RunOutcome& o) {
         o.takeoverComplete = false;
         o.takeoverTrouble = "Overflow";
     },
     "the values of its rows could not be taken over as a whole: Overflow."},
    {"no rows over old rows", [](RunOutcome& o) { o.rowsGenerated = 0; }, "no rows were generated"},
    {"no rows, no old rows",
     [](RunOutcome& o) {
         o.rowsGenerated = 0;
         o.oldRows = 0;
     },
     nullptr},
    {"every machine switched off",
     [](RunOutcome& o) {
         o.rowsGenerated = 0;
         o.everyMachineSwitchedOff = true;
     },
     nullptr},
    {"switched off, but the old rows unread",
     [](RunOutcome& o) {
         o.rowsGenerated = 0;
         o.everyMachineSwitchedOff = true;
         o.oldRowsFailed = true;
     },
     "it could not be read"},
    {"machine copy not carried over",
     [](RunOutcome& o) {
         o.oldRowsSource = "the machine copy \"/s/Torvex.mdb\"";
         o.takeoverComplete = false;
     },
     "the values of the machine copy \"/s/Torvex.mdb\" could not be taken over as a whole."},
};

TEST(PublishDecision, ReplacesThePresetDatabaseOnlyWhenNothingIsLostUnasked) {
    for (const Case& c : kCases) {
        RunOutcome outcome = Complete();
        c.change(outcome);
        const auto reason = ReasonNotToPublish(outcome);
        if (!c.reasonStart) {
            EXPECT_EQ(reason, std::nullopt) << c.name;
            continue;
        }
        ASSERT_TRUE(reason.has_value()) << c.name;
        EXPECT_TRUE(reason->starts_with(c.reasonStart)) << c.name << ": " << *reason;
    }
}

} // namespace
