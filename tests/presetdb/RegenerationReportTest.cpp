#include "presetdb/RegenerationReport.h"

#include <gtest/gtest.h>

using namespace torvex;

namespace {

struct CellCase {
    std::string text, cell;
};

class Cell : public ::testing::TestWithParam<CellCase> {};

// A cell must read back as one cell, never run as a formula and never hide
// a character.
TEST_P(Cell, ReadsBackAsOneVisibleCell) {
    EXPECT_EQ(presetdb::TableCell(GetParam().text), GetParam().cell) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Cell,
    ::testing::Values(CellCase{"Reel.Speed", "Reel.Speed"}, CellCase{"", ""},
                      CellCase{"\"quoted", "\"\"\"quoted\""}, CellCase{"a\"b", "\"a\"\"b\""},
                      CellCase{"a\tb", "\"a\tb\""}, CellCase{"a\nb\r", "\"a\nb\r\""},
                      CellCase{"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
                      CellCase{"+cmd|' /C calc'!A0", "'+cmd|' /C calc'!A0"},
                      CellCase{"@SUM(A1)", "'@SUM(A1)"}, CellCase{"-", "'-"}, CellCase{"-1+2", "'-1+2"},
                      CellCase{"\tx", "\"'\tx\""}, CellCase{"-12.5", "-12.5"}, CellCase{"+3", "+3"},
                      CellCase{"1e-5", "1e-5"}, CellCase{"-.5E+3", "-.5E+3"}, CellCase{"a=b", "a=b"},
                      CellCase{std::string("a\0b", 3), "a\\x00b"}, CellCase{"a\vb\x7F", "a\\x0Bb\\x7F"},
                      CellCase{"a\xC2\x85"
                               "b\xE2\x80\xA8"
                               "c\xE2\x80\xAE",
                               "a\\u0085b\\u2028c\\u202E"},
                      CellCase{"\xFF\xC3\xA4", "\xEF\xBF\xBD\xC3\xA4"}, CellCase{"=\x0B", "'=\\x0B"}),
    [](const auto& param) { return std::to_string(param.index); });

TEST(VisibleText, KeepsAPathOnOneLine) {
    EXPECT_EQ(presetdb::VisibleText("/plant\nnew/Torvex\t.mdb\r"), "/plant\\nnew/Torvex\\t.mdb\\r");
    EXPECT_EQ(presetdb::VisibleText("/Anlage/Prüfstand/\"x\""), "/Anlage/Prüfstand/\"x\"");
}

} // namespace

TEST(ReportCounts, EveryDroppedRowIsCountedOnceUnderItsOwnCause) {
    torvex::presetdb::RegenerationReport report;
    report.oldRows = 4;
    report.carriedOver = 1;
    report.dropped = {{"REEL", "a", "", "0", {}, false, ""},
                      {"REEL", "b", "", "0", {}, true, ""},
                      {"REEL", "c", "", "0", {}, false, "min: text \"12,5\" is no number"}};
    const std::string text = report.Text();
    for (const char* line :
         {"\nwithout a partner (tuned values dropped): 1\n",
          "\nwith a partner, but overwritten by a later old row with the same keys (tuned values dropped): "
          "1\n",
          "\ncarried over in part (a value its partner could not take was dropped): 1\n",
          "\nREEL\ta\t0\t\t\t\t\t\t\tno partner\n", "\nREEL\tb\t0\t\t\t\t\t\t\toverwritten\n",
          "\nREEL\tc\t0\t\t\t\t\t\t\t\"min: text \"\"12,5\"\" is no number\"\n",
          // the column names that readers of the report look for
          "\nadditional fields (only abs_min, abs_max, min, max and pass are ever carried over):\n",
          "\nmachine_type\tvar_name\toffset_or_bitno\tabs_min\tabs_max\tmin\tmax\tpass\trenamed_to\twhy\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
}
