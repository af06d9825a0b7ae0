#include "platform/ProgramEnd.h"
#include "platform/Text.h"
#include "presetdb/OldPresetTable.h"
#include "presetdb/PresetFixture.h"

#include <gtest/gtest.h>

using namespace torvex;
using torvex::test::Rows;

namespace {

std::string Row(int id, const std::string& machineType, const std::string& var, const std::string& offset,
                const std::string& limits, const std::string& text = "t") {
    return "(" + std::to_string(id) + ", '" + machineType + "', 1, 1, '" + var + "', 7, 0, " + offset +
           ", '" + text + "', 'page', " + limits + ")";
}

const std::string kDefs = "('VISIWIN32', 1, '###Var_Name'), ('VISIWINSTUDIO', 1, '###Var_Name')";
const std::string kTemplateLimits = "0, 100, 10, 90, 1";

class Takeover : public test::PresetFixture {
protected:
    void SetUp() override { test::WriteFile(Cfg(), "[Project]\r\nForMachine1=true\r\n"); }
};

TEST_F(Takeover, CopiesTheFiveColumnsByTheThreeKeys) {
    MakeTemplate(kDefs, Row(1, "REEL", "Speed", "2", kTemplateLimits) + "," +
                            Row(2, "REEL", "Tension", "4", kTemplateLimits) + "," +
                            Row(3, "REEL", "Speed", "6", kTemplateLimits));
    MakePreset(Row(7, "reel", "SPEED", "2", "-1, 50, 5, 45, 3", "old text") + "," +
               Row(8, "REEL", "Speed", "5", "-2, 51, 6, 46, 4") + "," +
               Row(9, "OTHER", "Tension", "4", "1, 2, 3, 4, 5"));
    Run();
    EXPECT_EQ(Table("ID, machine_type, var_name, offset_or_bitno, text, abs_min, abs_max, min, max, pass"),
              (Rows{{"1", "REEL", "Speed", "2", "t", "-1.0", "50.0", "5.0", "45.0", "3"},
                    {"2", "REEL", "Tension", "4", "t", "0.0", "100.0", "10.0", "90.0", "1"},
                    {"3", "REEL", "Speed", "6", "t", "0.0", "100.0", "10.0", "90.0", "1"}}));
    EXPECT_FALSE(test::Exists(ErrorLog()));
}

TEST_F(Takeover, OnlyTheFirstOfTwoMatchingRowsIsUpdated) {
    MakeTemplate(kDefs, Row(1, "REEL", "Speed", "2", kTemplateLimits) + "," +
                            Row(2, "REEL", "Speed", "2", kTemplateLimits));
    MakePreset(Row(1, "REEL", "Speed", "2", "-1, 50, 5, 45, 3"));
    Run();
    EXPECT_EQ(Table("abs_min, pass"), (Rows{{"-1.0", "3"}, {"0.0", "1"}}));
}

TEST_F(Takeover, QuotesTakeOverAndAnEmptyOffsetIsSkipped) {
    MakeTemplate(kDefs, Row(1, "RE\"EL", "Sp\"eed", "2", kTemplateLimits) + "," +
                            "(2, 'REEL', 1, 1, 'Tension', 7, 0, NULL, 't', 'page', " + kTemplateLimits + ")");
    MakePreset(Row(1, "RE\"EL", "Sp\"eed", "2", "-1, 50, 5, 45, 3") + "," +
               "(2, 'REEL', 1, 1, 'Tension', 7, 0, NULL, 't', 'page', -9, -9, -9, -9, 9)");
    Run();
    EXPECT_EQ(Table("abs_min, pass"), (Rows{{"-1.0", "3"}, {"0.0", "1"}}));
    EXPECT_FALSE(test::Exists(ErrorLog())) << "a row whose query cannot match is skipped without a message";
}

TEST_F(Takeover, MissingAdditionalFieldAbortsTheRun) {
    test::WriteFile(Cfg(), "[Project]\r\nForMachine1=true\r\nDataBaseAdditionalFields=Extra\r\n");
    MakeTemplate(kDefs, Row(1, "REEL", "Speed", "2", kTemplateLimits));
    MakePreset(Row(1, "REEL", "Speed", "2", "-1, 50, 5, 45, 3"));
    dialogs_.Queue(platform::Answer::Ok);
    try {
        Run();
        FAIL() << "the run must end";
    } catch (const platform::ProgramEnd& end) {
        EXPECT_EQ(end.exitStatus, 1);
    }
    EXPECT_EQ(
        test::ReadFile(ErrorLog()),
        "Conflict while attempting to extend database!Configurationsfile \"TORVEX.CFG\", demanded field "
        "\"EXTRA\"missing in machinecopy-database\n\rConfiguration of \"TORVEX\" aborted.\r\n"
        "Fehler in Torvex / Torvex_Config / TakeoverMachineCopyMDBData (Nr. 9999) :Database-Error - Contact "
        "Administrator!\r\n");
    ASSERT_EQ(dialogs_.Shown().size(), 1u);
    EXPECT_EQ(dialogs_.Shown()[0].title, "Fatal error");
    EXPECT_EQ(test::QueryOne(Preset(), "SELECT abs_min FROM PRESET_DEFS"), "-1.0")
        << "the preset database stays";
}

TEST_F(Takeover, ExtraColumnsWithoutConfiguredFieldsWarnFirst) {
    MakeTemplate(kDefs, Row(1, "REEL", "Speed", "2", kTemplateLimits));
    std::string columns = test::kPresetColumns;
    columns.insert(columns.size() - 1, ", Extra TEXT");
    MakePreset("(1, 'REEL', 1, 1, 'Speed', 7, 0, 2, 't', 'page', -1, 50, 5, 45, 3, 'only here')", columns);
    auto& rt = MakeRuntime();
    presetdb::PresetGeneration gen(rt);
    platform::db::Connection work(Template());
    work.Execute("CREATE TABLE PRESET_DEFS AS SELECT * FROM Source_PRESET_DEFS");
    presetdb::OldPresetTable old;
    old.Read(Preset(), presetdb::PresetGeneration::OldRowColumns());
    dialogs_.Queue(platform::Answer::No);
    dialogs_.Queue(platform::Answer::Ok);
    EXPECT_THROW(gen.TakeoverMachineCopyMDBData(work, old), platform::ProgramEnd);
    ASSERT_EQ(dialogs_.Shown().size(), 2u);
    EXPECT_EQ(dialogs_.Shown()[1].title, "Fatal error");
    EXPECT_EQ(
        dialogs_.Shown()[0].text,
        "WARNING!\n\rMachinecopy contains data in fields that won't be taken over!\n\rConfigurationfile "
        "\"TORVEX.CFG\", missing entry \"DataBaseAdditionalFields \"\n\rIf you continue now this data will "
        "be "
        "lost.\n\rContinue?");
    EXPECT_EQ(dialogs_.Shown()[0].defaultButton, 2);
    EXPECT_EQ(
        test::ReadFile(ErrorLog()),
        "Torvex_Config :Database-Error - Contact Administrator! Configurationprogram \"TORVEX\" terminated. "
        "Please check Configuration in \"TORVEX.CFG\" Restart " +
            platform::UpperCase(ProgramFolder()) + "/TORVEX_CONFIG.EXE!\r\n" +
            "Fehler in Torvex / Torvex_Config / TakeoverMachineCopyMDBData (Nr. 9999) :Database-Error - "
            "Contact Administrator!\r\n");
}

} // namespace
