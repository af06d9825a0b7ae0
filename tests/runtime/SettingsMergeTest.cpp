#include "runtime/SettingsMerge.h"

#include <gtest/gtest.h>

using torvex::runtime::WriteEntryOnSave;

TEST(SettingsMerge, TheUserWinsAndOtherwiseAnotherProgramsChangeStays) {
    using E = std::optional<std::string>;
    struct Case {
        bool changedHere, settingsRead;
        E atLoad, now;
        bool written;
    } const cases[] = {
        {true, true, "1", "2", true},                    // both changed it: the user's value
        {true, false, std::nullopt, "2", true},          // changed over settings not read
        {false, false, "1", "1", false},                 // shown defaults are never written unasked
        {false, true, "1", "2", false},                  // another program changed it: kept
        {false, true, std::nullopt, "2", false},         // another program made it: kept
        {false, true, "1", std::nullopt, false},         // another program removed it: stays removed
        {false, true, "1", "1", true},                   // nobody changed it: written as shown
        {false, true, std::nullopt, std::nullopt, true}, // missing: made
    };
    for (const Case& c : cases)
        EXPECT_EQ(WriteEntryOnSave(c.changedHere, c.settingsRead, c.atLoad, c.now), c.written)
            << c.changedHere << c.settingsRead << c.atLoad.value_or("-") << c.now.value_or("-");
}
