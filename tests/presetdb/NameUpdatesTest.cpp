#include "presetdb/OldPresetTable.h"
#include "presetdb/PresetFixture.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace torvex;
using torvex::test::Rows;

namespace {

std::string Row(int id, const std::string& machineType, int part, const std::string& var,
                const std::string& offset, int limit) {
    const std::string l = std::to_string(limit);
    return "(" + std::to_string(id) + ", '" + machineType + "', 1, " + std::to_string(part) + ", '" + var +
           "', 7, 0, " + offset + ", 't', 'page', " + l + ", " + l + ", " + l + ", " + l + ", " + l + ")";
}

const std::string kDefs =
    "('VISIWIN32', 1, '###machine_###Var_Name'), ('VISIWINSTUDIO', 1, '###machine.Reel.###Var_Name')";

class NameUpdates : public test::PresetFixture {
protected:
    void SetUp() override { test::WriteFile(Cfg(), "[Project]\r\nForMachine1=true\r\n"); }
};

// Old rows named in the other scheme (one in other letter case) get the
// current scheme's names and keep their values; one already in the current
// scheme stays; one of another machine finds no partner.
struct SchemeChange {
    const char* name;
    bool studio; // [Project] VWStudio
    const char* speed;
    const char* tension;
    const char* otherMachine;
    Rows expected;
};

class NameUpdatesByScheme : public NameUpdates, public ::testing::WithParamInterface<SchemeChange> {};

TEST_P(NameUpdatesByScheme, OldRowsFollowTheSchemeChangeAndKeepTheirValues) {
    const SchemeChange& c = GetParam();
    test::WriteFile(ProgramIni(), std::string("[Project]\r\nNumberOfMachines=1\r\nVWStudio=") +
                                      (c.studio ? "TRUE" : "false") + "\r\n[Machine1]\r\nMachineName=M1\r\n");
    MakeTemplate(kDefs, Row(1, "REEL", 1, "Speed", "0", 0) + "," + Row(2, "REEL", 1, "Tension", "1", 0));
    MakePreset(Row(1, "REEL", 1, c.speed, "0", 5) + "," + Row(2, "REEL", 1, c.tension, "1", 6) + "," +
               Row(3, "REEL", 1, c.otherMachine, "0", 7));
    Run();
    EXPECT_EQ(Table("var_name, abs_min"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Directions, NameUpdatesByScheme,
    ::testing::Values(SchemeChange{"StudioToVisiWin32", false, "m1.REEL.speed", "M1_Tension", "M9.Reel.Speed",
                                   Rows{{"M1_Speed", "5.0"}, {"M1_Tension", "6.0"}}},
                      SchemeChange{"VisiWin32ToStudio", true, "m1_SPEED", "M1.Reel.Tension", "M9_Speed",
                                   Rows{{"M1.Reel.Speed", "5.0"}, {"M1.Reel.Tension", "6.0"}}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(NameUpdates, RenamesRunInGenerationOrderSoChainsBehaveAsSingleUpdates) {
    // The Studio name of row 1 is the VisiWin 32 name that row 2 looks for: row 1's
    // rename produces a name that the second update renames again.
    MakeTemplate(
        "('VISIWIN32', 1, 'A'), ('VISIWINSTUDIO', 1, 'B'), ('VISIWIN32', 2, 'C'), ('VISIWINSTUDIO', 2, 'A')",
        Row(1, "REEL", 1, "x", "0", 0) + "," + Row(2, "REEL", 2, "y", "0", 0));
    MakePreset(Row(1, "REEL", 1, "b", "0", 5));
    Run();
    // B -> A by the first update, A -> C by the second; C then matches the second row.
    EXPECT_EQ(Table("var_name, abs_min"), (Rows{{"A", "0.0"}, {"C", "5.0"}}));
}

TEST_F(NameUpdates, NamesWithDoubleQuotesAreRenamedLikeAnyOther) {
    MakeTemplate("('VISIWIN32', 1, 'R_###Var_Name'), ('VISIWINSTUDIO', 1, 'R.###Var_Name')",
                 Row(1, "REEL", 1, "Sp\"eed", "0", 0));
    MakePreset(Row(1, "REEL", 1, "R.Sp\"eed", "0", 9));
    Run();
    EXPECT_EQ(Table("var_name, abs_min"), (Rows{{"R_Sp\"eed", "9.0"}}));
    EXPECT_FALSE(test::Exists(ErrorLog()));
}

TEST_F(NameUpdates, UmlautsCompareWithoutLetterCase) {
    test::WriteFile(ProgramIni(),
                    "[Project]\r\nNumberOfMachines=1\r\n[Machine1]\r\nMachineName=Wickler Ä\r\n");
    MakeTemplate(kDefs, Row(1, "Straße", 1, "Zug", "0", 0));
    MakePreset(Row(1, "STRAßE", 1, "wickler ä.reel.zug", "0", 4));
    Run();
    EXPECT_EQ(Table("machine_type, var_name, abs_min"), (Rows{{"Straße", "Wickler Ä_Zug", "4.0"}}));
}

TEST_F(NameUpdates, OldCategorieColumnGetsTheCurrentNameWithoutWritingTheFile) {
    MakeTemplate(kDefs, Row(1, "REEL", 1, "Speed", "0", 0));
    std::string columns = test::kPresetColumns;
    columns.replace(columns.find("category_id"), 11, "CateGorie");
    MakePreset(Row(1, "REEL", 1, "M1_Speed", "0", 3), columns);
    const std::string before = test::ReadFile(Preset());
    auto& rt = MakeRuntime();
    presetdb::PresetGeneration gen(rt);
    gen.CategorieNachCategoryID();
    EXPECT_EQ(gen.OldRows().Columns()[5].name, "category_id");
    EXPECT_EQ(test::ReadFile(Preset()), before) << "the old rows are renamed in memory only";
    gen.CategorieNachCategoryID(); // already current: nothing to do
    EXPECT_TRUE(dialogs_.Shown().empty());

    std::filesystem::remove(Preset());
    columns.insert(columns.size() - 1, ", category_id INTEGER"); // both names: a clash, reported
    MakePreset("", columns);
    presetdb::PresetGeneration clash(MakeRuntime("/EXTERNAL=SILENT"));
    runtime_->GetStartModeIntegrated();
    clash.CategorieNachCategoryID();
    EXPECT_NE(test::ReadFile(ErrorLog()).find("/ CategorieNachCategoryID (Nr. 1) :duplicate column name"),
              std::string::npos)
        << test::ReadFile(ErrorLog());
}

TEST_F(NameUpdates, MissingPresetDatabaseIsNoFailure) {
    MakeTemplate(kDefs, Row(1, "REEL", 1, "Speed", "0", 0));
    Run();
    EXPECT_FALSE(test::Exists(ErrorLog()));
    EXPECT_EQ(Table("var_name"), (Rows{{"M1_Speed"}})) << "the publish creates the preset database";
}

} // namespace
