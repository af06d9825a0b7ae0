#include "platform/database/Connection.h"
#include "presetdb/PresetFixture.h"

#include <gtest/gtest.h>

using namespace torvex;
using torvex::test::Rows;

namespace {

// Every tricky case at once, with the rows that the generation must leave,
// worked out by following the work sequence one step after the other:
// chained renames, two template rows with the same keys, keys that differ
// only in letter case (umlauts too), double quotes, and null keys.
class ResultPin : public test::PresetFixture {};

std::string Old(int k, const std::string& machineType, const std::string& var, const std::string& offset) {
    const std::string n = std::to_string(k);
    return "(" + n + ", " + machineType + ", 1, 1, '" + var + "', 7, 0, " + offset + ", 'old', 'p', -" + n +
           ", " + std::to_string(100 + k) + ", " + n + ", " + std::to_string(50 + k) + ", " + n + ")";
}

TEST_F(ResultPin, RegeneratedRowsAreExactlyWhatTheStepByStepSequenceGives) {
    test::WriteFile(ProgramIni(), "[Project]\r\nNumberOfMachines=2\r\n[Machine1]\r\nMachineName=M1\r\n"
                                  "[Machine2]\r\nMachineName=Mü\r\n");
    test::WriteFile(Cfg(), "[Project]\r\nForMachine1=true\r\nForMachine2=true\r\n");
    const std::string limits = "0, 100, 10, 90, 1)";
    MakeTemplate("('VISIWIN32', 1, '###machine_###Var_Name'), ('VISIWINSTUDIO', 1, '###machine.###Var_Name'),"
                 "('VISIWIN32', 2, 'A_###Var_Name'), ('VISIWINSTUDIO', 2, 'B_###Var_Name'),"
                 "('VISIWIN32', 3, 'C_###Var_Name'), ('VISIWINSTUDIO', 3, 'A_###Var_Name')",
                 "(10, 'REEL', 1, 1, 'Speed', 7, 0, 1, 't', 'p', " + limits + "," +
                     "(20, 'REEL', 1, 1, 'Speed', 7, 0, 1, 't', 'p', " + limits + "," +
                     "(30, 'Reel\"Q', 1, 2, 'x', 7, 0, 2, 't', 'p', " + limits + "," +
                     "(40, NULL, 1, 1, 'Zug', 7, 0, 3, 't', 'p', " + limits + "," +
                     "(50, 'REEL', 1, 1, 'Lauf', 7, 0, NULL, 't', 'p', " + limits + "," +
                     "(60, 'REEL', 1, 3, 'x', 7, 0, 4, 't', 'p', " + limits + "," +
                     "(70, 'REEL', 1, 1, 'Q\"t', 7, 0, 5, 't', 'p', " + limits);
    MakePreset(Old(1, "'REEL'", "m1.speed", "1") + "," + Old(2, "'reel'", "MÜ_SPEED", "1") + "," +
               Old(3, "'Reel\"Q'", "B_x", "2") + "," + Old(4, "NULL", "M1_Zug", "3") + "," +
               Old(5, "'REEL'", "M1_Lauf", "NULL") + "," + Old(6, "'REEL'", "Mü_Speed", "1") + "," +
               Old(7, "'REEL'", "b_x", "4") + "," + Old(8, "'REEL'", "M1_Q\"T", "5") + "," +
               Old(9, "'REEL'", "Gone", "9"));
    Run();
    const Rows expected = {
        {"1", "REEL", "M1_Speed", "1", "-1.0", "101.0", "1.0", "51.0", "1"},   // old row 1, renamed first
        {"2", "REEL", "M1_Speed", "1", "0.0", "100.0", "10.0", "90.0", "1"},   // same keys: not the first
        {"3", "Reel\"Q", "A_x", "2", "0.0", "100.0", "10.0", "90.0", "1"},     // old row 3 renamed on to C_x
        {"4", "NULL", "M1_Zug", "3", "0.0", "100.0", "10.0", "90.0", "1"},     // null key: no partner
        {"5", "REEL", "M1_Lauf", "NULL", "0.0", "100.0", "10.0", "90.0", "1"}, // null offset: skipped
        {"6", "REEL", "C_x", "4", "-7.0", "107.0", "7.0", "57.0", "7"},        // b_x -> A_x -> C_x
        {"7", "REEL", "M1_Q\"t", "5", "-8.0", "108.0", "8.0", "58.0", "8"},    // quote, other case
        {"8", "REEL", "Mü_Speed", "1", "-6.0", "106.0", "6.0", "56.0", "6"},   // rows 2 and 6: the later wins
        {"9", "REEL", "Mü_Speed", "1", "0.0", "100.0", "10.0", "90.0", "1"},
        {"10", "Reel\"Q", "A_x", "2", "0.0", "100.0", "10.0", "90.0", "1"},
        {"11", "NULL", "Mü_Zug", "3", "0.0", "100.0", "10.0", "90.0", "1"},
        {"12", "REEL", "Mü_Lauf", "NULL", "0.0", "100.0", "10.0", "90.0", "1"},
        {"13", "REEL", "C_x", "4", "0.0", "100.0", "10.0", "90.0", "1"},
        {"14", "REEL", "Mü_Q\"t", "5", "0.0", "100.0", "10.0", "90.0", "1"},
    };
    EXPECT_EQ(Table("ID, machine_type, var_name, offset_or_bitno, abs_min, abs_max, min, max, pass"),
              expected);
    EXPECT_TRUE(platform::db::SameDatabaseContent(Preset(), Template()))
        << "the preset database holds the template";
    EXPECT_FALSE(test::Exists(ErrorLog()));
}

} // namespace
