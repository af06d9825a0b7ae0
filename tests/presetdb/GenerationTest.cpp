#include "presetdb/PresetFixture.h"

#include <gtest/gtest.h>

using namespace torvex;
using torvex::test::Rows;

namespace {

// One template row: ID, part, var_name, offset and text; the rest fixed.
std::string Row(int id, int part, const std::string& var, int offset, const std::string& text = "t") {
    return "(" + std::to_string(id) + ", 'REEL', 1, " + std::to_string(part) + ", '" + var + "', 7, 0, " +
           std::to_string(offset) + ", '" + text + "', 'page', 0, 100, 10, 90, 1)";
}

const std::string kDefs =
    "('VISIWIN32', 1, '###machine_###Var_Name'), ('visiwinstudio', 1, '###machine.Reel.###Var_Name'),"
    "('VISIWIN32', 2, 'Old_###Var_Name'), ('VISIWIN32', 2, 'X_###Var_Name')";

class Generation : public test::PresetFixture {};

TEST_F(Generation, OneBlockPerEnabledMachineInTemplateOrder) {
    std::string rows;
    for (int i = 10; i >= 1; --i) // stored backwards: the template's ID gives the order
        rows += (rows.empty() ? "" : ",") + Row(i * 5, 1, "V" + std::to_string(i), i);
    MakeTemplate(kDefs, rows);
    Run();
    const Rows result = Table("ID, var_name, offset_or_bitno");
    ASSERT_EQ(result.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        const std::string machine = i < 10 ? "M1" : "M3";
        EXPECT_EQ(result[i][0], std::to_string(i + 1));
        EXPECT_EQ(result[i][1], machine + "_V" + std::to_string(i % 10 + 1));
        EXPECT_EQ(result[i][2], std::to_string(i % 10 + 1));
    }
    EXPECT_TRUE(dialogs_.Shown().empty());
}

TEST_F(Generation, PlaceholdersAreReplacedOnceInTextAndTwiceInVarName) {
    MakeTemplate("('VISIWIN32', 1, '###machine_###Var_Name'), ('VISIWIN32', 3, '###MACHINE.R.###var_name')",
                 Row(1, 1, "###machine_x", 0, "###machine/###machine") + "," +
                     Row(2, 3, "A.###Machine.B", 1));
    test::WriteFile(Cfg(), "[Project]\r\nForMachine1=true\r\n");
    Run();
    EXPECT_EQ(Table("var_name, text"), (Rows{{"M1_M1_x", "M1/###machine"}, {"M1.R.A.M1.B", "t"}}));
}

TEST_F(Generation, PartsWithoutPatternGiveEmptyNamesAndNonTextValuesAreCopied) {
    MakeTemplate(kDefs, Row(1, 3, "NoPattern", 0) +
                            ", (2, NULL, NULL, 1, 'n', NULL, 1, 5, NULL, 'p', 1.5, NULL, -2, 3, 0)");
    test::WriteFile(Cfg(), "[Project]\r\nForMachine1=true\r\n");
    Run();
    EXPECT_EQ(Table("*"), (Rows{{"1", "REEL", "1", "3", "", "7", "0", "0", "t", "page", "0.0", "100.0",
                                 "10.0", "90.0", "1"},
                                {"2", "NULL", "NULL", "1", "M1_n", "NULL", "1", "5", "NULL", "p", "1.5",
                                 "NULL", "-2.0", "3.0", "0"}}));
}

TEST_F(Generation, LaterPatternRowWinsAndAFailingRowFallsBackForPartOne) {
    MakeTemplate(kDefs, Row(1, 2, "Speed", 0));
    test::WriteFile(Cfg(), "[Project]\r\nForMachine1=true\r\n");
    Run();
    EXPECT_EQ(Table("var_name"), (Rows{{"X_Speed"}}));

    test::MakeDatabase(Template(),
                       "INSERT INTO Source_DEFS (System, Part, Var_Name) VALUES ('VISIWIN32', 51, 'x');"
                       "UPDATE Source_PRESET_DEFS SET part = 1;");
    auto& gen = Run();
    EXPECT_EQ(gen.VarNamePattern()[0][1], "###Var_Name");
    EXPECT_EQ(gen.VarNamePattern()[1][1], "###Var_Name");
    EXPECT_EQ(gen.VarNamePattern()[0][2], "X_###Var_Name");
    EXPECT_EQ(Table("var_name"), (Rows{{"Speed"}}));
    EXPECT_FALSE(test::Exists(ErrorLog())) << "failures while reading the patterns are not reported";
}

TEST_F(Generation, StudioNamesWhenTheProgramIniAsksForThem) {
    MakeTemplate(kDefs, Row(1, 1, "Speed", 0));
    test::WriteFile(Cfg(), "[Project]\r\nForMachine1=true\r\n");
    test::WriteFile(
        ProgramIni(),
        "[Project]\r\nNumberOfMachines=1\r\nVWStudio=TRUE\r\n[Machine1]\r\nMachineName=Läufer\r\n");
    EXPECT_EQ(Run().VisiWinSystem(), 1);
    EXPECT_EQ(Table("var_name"), (Rows{{"Läufer.Reel.Speed"}}));
}

TEST_F(Generation, ReplaceSearchItemExamples) {
    auto& rt = MakeRuntime();
    presetdb::PresetGeneration gen(rt);
    EXPECT_EQ(gen.ReplaceSearchItem("Abc###MACHINE", "###machine", "X"), "AbcX");
    EXPECT_EQ(gen.ReplaceSearchItem("", "###machine", "X"), "");
    EXPECT_EQ(gen.ReplaceSearchItem("abc", "", "X"), "Xabc");
    EXPECT_EQ(gen.ReplaceSearchItem("öx ÖX", "Öx", "-"), "- ÖX");
    EXPECT_EQ(gen.ReplaceSearchItem("no placeholder", "###machine", "X"), "no placeholder");
}

TEST_F(Generation, TooManyRowsOverflowTheRowNumberAndAreReported) {
    std::string rows = Row(1, 1, "A", 0);
    MakeTemplate(kDefs, rows);
    test::MakeDatabase(Template(),
                       "WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < 16385) "
                       "INSERT INTO Source_PRESET_DEFS SELECT i, 'REEL', 1, 1, 'V' || i, 7, 0, i, 't', 'p', "
                       "0, 1, 0, 1, 1 FROM n;");
    Run("/EXTERNAL=SILENT");
    EXPECT_EQ(test::QueryOne(Preset(), "SELECT max(ID) FROM PRESET_DEFS"), "32767");
    EXPECT_NE(test::ReadFile(ErrorLog()).find("CreateRecordSets (Nr. 6) :Overflow"), std::string::npos);
}

} // namespace
