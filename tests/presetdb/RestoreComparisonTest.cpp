#include "presetdb/Restore.h"

#include <gtest/gtest.h>

#include <cctype>

using namespace torvex;
using presetdb::CompareForRestore;
using presetdb::TunedRow;

namespace {

TunedRow Row(const char* type, const char* name, const char* offset, const char* absMin,
             const char* pass = "") {
    return {type, name, offset, {absMin, "", "", "", pass}};
}

struct Case {
    const char* what;
    std::vector<TunedRow> now, restored;
    std::size_t differingValues;
    // The differing rows: which versions have each, by index (-1: none).
    std::vector<std::pair<int, int>> rows;
};

class RestoreComparison : public ::testing::TestWithParam<Case> {};

TEST_P(RestoreComparison, MatchesByTheThreeKeysAndCountsTheTunedValuesThatDiffer) {
    const Case& c = GetParam();
    const auto result = CompareForRestore(c.now, c.restored);
    EXPECT_EQ(result.differingValues, c.differingValues);
    ASSERT_EQ(result.rows.size(), c.rows.size());
    for (std::size_t i = 0; i < c.rows.size(); ++i) {
        const auto [now, restored] = c.rows[i];
        EXPECT_EQ(result.rows[i].now, now < 0 ? std::nullopt : std::optional(c.now[now])) << i;
        EXPECT_EQ(result.rows[i].restored, restored < 0 ? std::nullopt : std::optional(c.restored[restored]))
            << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestoreComparison,
    ::testing::Values(Case{"alike", {Row("A", "x", "0", "1")}, {Row("A", "x", "0", "1")}, 0, {}},
                      Case{"two values changed",
                           {Row("A", "x", "0", "1", "1"), Row("A", "y", "0", "1")},
                           {Row("A", "x", "0", "2", "0"), Row("A", "y", "0", "1")},
                           2,
                           {{0, 0}}},
                      // Each key part counts: another machine type, name or offset is another row.
                      Case{"keys differ",
                           {Row("A", "x", "0", "1"), Row("A", "y", "4", "")},
                           {Row("B", "x", "0", "1"), Row("A", "y", "5", "")},
                           1 + 1,
                           {{-1, 0}, {-1, 1}, {0, -1}, {1, -1}}},
                      // Rows with the same keys are matched in table order.
                      Case{"duplicate keys",
                           {Row("A", "x", "0", "1"), Row("A", "x", "0", "2")},
                           {Row("A", "x", "0", "1"), Row("A", "x", "0", "3"), Row("A", "x", "0", "4")},
                           1 + 1,
                           {{1, 1}, {-1, 2}}},
                      Case{"empty versions", {}, {Row("A", "x", "0", "1", "1")}, 2, {{-1, 0}}}),
    [](const ::testing::TestParamInfo<Case>& caseInfo) {
        std::string name = caseInfo.param.what;
        for (char& ch : name)
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST(RestoreComparisonText, CountsRowsPerMachineTypeAndWritesOneCellPerValue) {
    const auto text =
        CompareForRestore({Row("A", "x", "0", "1"), Row("A", "y\tz", "0", "")}, {Row("B", "x", "0", "1.5")})
            .Text();
    EXPECT_NE(text.find("\nA\t2\t0\nB\t0\t1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\ntuned values (abs_min, abs_max, min, max, pass) that differ: 2\n"),
              std::string::npos)
        << text;
    EXPECT_NE(
        text.find("\nmachine_type\tvar_name\toffset_or_bitno\tabs_min\tabs_max\tmin\tmax\tpass\t"
                  "restored_abs_min\trestored_abs_max\trestored_min\trestored_max\trestored_pass\twhat\n"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("\nB\tx\t0\t\t\t\t\t\t1.5\t\t\t\t\tonly in the backup\n"
                        "A\tx\t0\t1\t\t\t\t\t\t\t\t\t\tonly now\n"
                        "A\t\"y\tz\"\t0\t\t\t\t\t\t\t\t\t\t\tonly now\n"),
              std::string::npos)
        << text;
}

} // namespace
