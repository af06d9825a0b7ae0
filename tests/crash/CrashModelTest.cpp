#include "crash/CrashModel.h"

#include <gtest/gtest.h>

#include <set>

using namespace torvex::crash;

namespace {

// Every content a power cut may leave at /p/f, over all points ("-": no file).
std::set<std::string> Outcomes(const std::string& log, const std::string& before = "old") {
    Tree initial;
    initial.folders.insert("/p");
    if (!before.empty())
        initial.files["/p/f"] = {before, std::nullopt};
    std::set<std::string> seen;
    CrashStates(initial, ParseLog(log)).ForEach(1000, [&](const CrashStates::State& s) {
        const auto f = s.tree.files.find("/p/f");
        seen.insert(f == s.tree.files.end() ? "-" : f->second.bytes);
    });
    return seen;
}

// Writes "new" to a file beside /p/f and renames it over /p/f; `flush`
// and `folderFlush` choose whether the file and the folder are flushed.
std::string Replace(bool flush, bool folderFlush) {
    return "N 1.1\nW 1.1 0 3\nnew\n" + std::string(flush ? "S 1.1\n" : "") + "L 1.1 /p/t\nR /p/t /p/f\n" +
           (folderFlush ? "D /p\n" : "");
}

TEST(CrashModel, AReplacementIsWholeOnlyWhenFlushedBeforeItsRename) {
    const struct {
        bool flush, folderFlush;
        std::set<std::string> outcomes;
    } cases[] = {
        {true, true, {"old", "new"}},
        {true, false, {"old", "new"}},
        {false, true, {"old", "new", "", std::string(3, '\0')}}, // empty, or its size in zeros
    };
    for (const auto& c : cases)
        EXPECT_EQ(Outcomes(Replace(c.flush, c.folderFlush)), c.outcomes) << c.flush << c.folderFlush;
}

TEST(CrashModel, WritesInPlaceAfterTheLastFlushMayBeLostOrTornButNotEarlierOnes) {
    // Grown by an unflushed write: the old size, or zeros where the new bytes were.
    EXPECT_EQ(Outcomes("K 1.1 /p/f\nW 1.1 3 2\nxy\n"),
              (std::set<std::string>{"old", "oldxy", std::string("old\0\0", 5)}));
    EXPECT_EQ(Outcomes("K 1.1 /p/f\nW 1.1 0 3\nnew\nS 1.1\nT 1.1 0\n"),
              (std::set<std::string>{"old", "new", ""}));
}

TEST(CrashModel, FolderOperationsReachTheDiskInOrderUnlessTheFolderIsFlushed) {
    // Made, then removed: with no flush it may be there at the end, never
    // with bytes it was not given.
    EXPECT_EQ(Outcomes("C 1.1 /p/f\nW 1.1 0 1\na\nS 1.1\nU /p/f\n", ""),
              (std::set<std::string>{"-", "", std::string(1, '\0'), "a"}));
    // A flushed removal is final: the last point holds no file in any state.
    Tree initial;
    initial.folders.insert("/p");
    initial.files["/p/f"] = {"old", std::nullopt};
    const CrashStates states(initial, ParseLog("U /p/f\nD /p\n"));
    states.ForEach(1000, [](const CrashStates::State& s) {
        if (s.point == 2) {
            EXPECT_FALSE(s.tree.files.count("/p/f")) << s.how;
        }
    });
    EXPECT_EQ(states.Points(), 3u);
}

TEST(CrashModel, TheLogKeepsBinaryBytesAndNamesEveryPathItTouches) {
    static const char kLog[] = "C 1.1 /p/a\nW 1.1 0 3\n\n\0\n\nR /p/a /p/b\nE 1.1 12 34\n";
    const auto records = ParseLog(std::string(kLog, sizeof kLog - 1));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1].bytes, std::string("\n\0\n", 3));
    EXPECT_EQ(records[3].nanoseconds, 34);
    EXPECT_EQ(TouchedPaths(records), (std::set<std::string>{"/p/a", "/p/b"}));
    EXPECT_THROW(ParseLog("W 1.1 0 9\nshort"), std::exception);
}

} // namespace
