#include "platform/ProgramEnd.h"
#include "presetdb/PresetFixture.h"

#include <gtest/gtest.h>

using namespace torvex;

namespace {

struct TemplateFault {
    const char* name;
    const char* sql;      // changes the template; empty: the file is replaced by `bytes`
    const char* bytes;    // what the template file holds instead of a database ("jet": an old Access header)
    const char* expected; // the start of the error-log entry
};

class TemplateFaults : public test::PresetFixture, public ::testing::WithParamInterface<TemplateFault> {};

// A damaged template is reported under the procedure that met the damage,
// the run ends normally, and the preset database is never replaced by it.
TEST_P(TemplateFaults, AreReportedUnderTheRightProcedure) {
    const std::string row = "(1, 'REEL', 1, 1, 'Speed', 7, 0, 2, 't', 'page', 0, 100, 10, 90, 1)";
    MakeTemplate("('VISIWIN32', 1, 'V_###Var_Name'), ('VISIWINSTUDIO', 1, 'S.###Var_Name')", row);
    MakePreset("(1, 'REEL', 1, 1, 'V_Speed', 7, 0, 2, 't', 'page', -5, 5, -5, 5, 5)");
    const std::string preset = test::ReadFile(Preset());
    if (*GetParam().sql) {
        test::MakeDatabase(Template(), GetParam().sql);
    } else {
        std::string bytes(2048, '\0');
        const std::string head = GetParam().bytes;
        bytes.replace(head == "jet" ? 4 : 0, head == "jet" ? 15 : head.size(),
                      head == "jet" ? "Standard Jet DB" : head);
        test::WriteFile(Template(), bytes);
    }
    try {
        Run("/EXTERNAL=SILENT");
    } catch (const platform::ProgramEnd&) {
        // a missing "part" column is also an extension conflict, which ends the run as designed
    }
    const std::string log = test::ReadFile(ErrorLog());
    EXPECT_NE(log.find(GetParam().expected), std::string::npos) << log;
    if (!*GetParam().sql) {
        EXPECT_TRUE(test::ReadFile(Preset()) == preset) << "a template that is no database was published";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Damage, TemplateFaults,
    ::testing::Values(
        TemplateFault{"MissingTable", "DROP TABLE Source_PRESET_DEFS", "",
                      "Fehler in Torvex / SQLite / WorkOnMDB"},
        TemplateFault{"RenamedIdColumn", "ALTER TABLE Source_PRESET_DEFS RENAME COLUMN ID TO Nr", "",
                      "Fehler in Torvex / SQLite / CreateRecordSets"},
        TemplateFault{"MissingPartColumn", "ALTER TABLE Source_PRESET_DEFS DROP COLUMN part", "",
                      "Fehler in Torvex / SQLite / CreateRecordSets"},
        TemplateFault{"PartOutOfRange", "UPDATE Source_PRESET_DEFS SET part = 51", "",
                      "Fehler in Torvex / pTorvex_Config_Exe / CreateRecordSets (Nr. 9)"},
        TemplateFault{"TextInANumberColumn", "UPDATE Source_PRESET_DEFS SET offset_or_bitno = 'two'", "",
                      "Fehler in Torvex / pTorvex_Config_Exe / CreateRecordSets (Nr. 13)"},
        TemplateFault{
            "MoreRowsThanTheRowNumbersHold",
            "WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < 33000) INSERT INTO "
            "Source_PRESET_DEFS SELECT i, 'REEL', 1, 1, 'V' || i, 7, 0, i, 't', 'p', 0, 1, 0, 1, 1 FROM n",
            "", "Fehler in Torvex / pTorvex_Config_Exe / CreateRecordSets (Nr. 6) :Overflow"},
        TemplateFault{"NotADatabase", "", "just some text, not a database",
                      "Fehler in Torvex / SQLite / WorkOnMDB"},
        TemplateFault{"JetFile", "", "jet", "Fehler in Torvex / SQLite / WorkOnMDB (Nr. 26)"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
