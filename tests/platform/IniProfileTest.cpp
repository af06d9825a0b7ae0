#include "platform/IniProfile.h"
#include "platform/FileLock.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

using torvex::platform::IniProfile;
using torvex::test::ReadFile;
using torvex::test::TempDir;
using torvex::test::WriteFile;

namespace {

struct ReadCase {
    const char* file;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
};

class IniRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniRead, FollowsTheProfileRules) {
    TempDir dir;
    WriteFile(dir / "t.ini", GetParam().file);
    IniProfile ini;
    EXPECT_EQ(ini.ReadString(dir / "t.ini", GetParam().section, GetParam().key), GetParam().expected)
        << GetParam().file;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniRead,
    ::testing::Values(
        ReadCase{"[S]\r\nk=v\r\n", "S", "k", "v"},
        ReadCase{"[s]\nK = spaced value \t\n", " S ", "k", "spaced value"},
        ReadCase{"[S]\rk=cr only\r", "S", "K", "cr only"}, ReadCase{"[S]\nk=\"  x  \"\n", "S", "k", "  x  "},
        ReadCase{"[S]\nk='\"x\"'\n", "S", "k", "\"x\""}, ReadCase{"[S]\nk=\"x'\n", "S", "k", "\"x'"},
        ReadCase{"[S]\nk=\"\"x\"\"\n", "S", "k", "\"x\""}, ReadCase{"[S]\nk=\"\n", "S", "k", "\""},
        ReadCase{"[S]\nk=a ;b\n", "S", "k", "a ;b"}, ReadCase{"[S]\nk=a=b\n", "S", "k", "a=b"},
        ReadCase{"[S]\n;k=comment\n", "S", "k", std::nullopt}, ReadCase{"[S]\n#k=v\n", "S", "#k", "v"},
        ReadCase{"[S]\nk\n", "S", "k", std::nullopt}, ReadCase{"[S]\n=empty key\n", "S", "", "empty key"},
        ReadCase{"k=before\n[S]\n", "", "k", std::nullopt},
        ReadCase{"[S]\n[S]\nk=v\n", "S", "k", std::nullopt},
        ReadCase{"[S]\nk=1\nK=2\n[S]\nk=3\n", "S", "k", "1"},
        ReadCase{"  [ S ] trailing k=v\n\tk=x\n", "S", "k", "x"},
        ReadCase{"[abc\nk=open header\n", "abc", "k", "open header"},
        ReadCase{"[Grüße]\nSchlüssel=Wert\n", "GRÜßE", "SCHLÜSSEL", "Wert"},
        ReadCase{"[S]\nk=\n", "S", "k", ""}, ReadCase{"[S]\nk=v", "S", "k\t", std::nullopt}));

// A file whose time stamp is settled (older than 50 ms) is parsed once and
// reused while its inode, size and modification time stay the same; a change
// of any of them is seen by the next read. A file with a young time stamp is
// never reused, as a change in the same clock tick could keep the stamp.
struct CacheCase {
    const char* name;
    bool settled;         // time stamp 10 s old, else 2 s ahead (not yet settled)
    const char* value;    // replaces "old": same length keeps the size
    long long mtimeShift; // nanoseconds added to the time stamp with the change
    bool newInode;        // the change comes as a new file renamed over it
    const char* expected;
};

class IniCache : public ::testing::TestWithParam<CacheCase> {};

void SetMtime(const std::string& path, timespec when) {
    const timespec times[2] = {{0, UTIME_OMIT}, when};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_P(IniCache, ReusesAParsedFileOnlyWhileItIsUnchanged) {
    const CacheCase& c = GetParam();
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path, "[S]\r\nk=old\r\n");
    timespec stamp{};
    ::clock_gettime(CLOCK_REALTIME, &stamp);
    stamp.tv_sec += c.settled ? -10 : 2;
    SetMtime(path, stamp);
    IniProfile ini;
    ASSERT_EQ(ini.ReadString(path, "S", "k"), "old");

    const std::string changed = "[S]\r\nk=" + std::string(c.value) + "\r\n";
    if (c.newInode) {
        WriteFile(path + ".new", changed);
        ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
    } else {
        WriteFile(path, changed); // truncated and rewritten: the same inode
    }
    stamp.tv_sec += c.mtimeShift / 1'000'000'000;
    stamp.tv_nsec += c.mtimeShift % 1'000'000'000;
    if (stamp.tv_nsec >= 1'000'000'000)
        stamp.tv_sec += 1, stamp.tv_nsec -= 1'000'000'000;
    SetMtime(path, stamp);
    EXPECT_EQ(ini.ReadString(path, "S", "k"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, IniCache,
    ::testing::Values(CacheCase{"SettledAndUnchangedIsReused", true, "new", 0, false, "old"},
                      CacheCase{"AnOlderTimeStampIsSeen", true, "new", -5'000'000'000, false, "new"},
                      CacheCase{"ANanosecondIsSeen", true, "new", 1, false, "new"},
                      CacheCase{"AnotherSizeIsSeen", true, "newer", 0, false, "newer"},
                      CacheCase{"AnotherInodeIsSeen", true, "new", 0, true, "new"},
                      CacheCase{"AYoungFileIsNeverReused", false, "new", 0, false, "new"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(IniInteger, ParsesLikeTheWindowsProfileFunction) {
    EXPECT_EQ(IniProfile::ParseProfileInteger("1"), 1u);
    EXPECT_EQ(IniProfile::ParseProfileInteger("+1"), 1u);
    EXPECT_EQ(IniProfile::ParseProfileInteger("-1"), 4294967295u);
    EXPECT_EQ(IniProfile::ParseProfileInteger("4294967296"), 0u);
    EXPECT_EQ(IniProfile::ParseProfileInteger("4294967297"), 1u);
    EXPECT_EQ(IniProfile::ParseProfileInteger("-4294967297"), 4294967295u);
    EXPECT_EQ(IniProfile::ParseProfileInteger("42A94967297"), 42u);
    EXPECT_EQ(IniProfile::ParseProfileInteger("B4294967297"), 0u);
    EXPECT_EQ(IniProfile::ParseProfileInteger("0x1A"), 26u);
    EXPECT_EQ(IniProfile::ParseProfileInteger("0o17"), 15u);
    EXPECT_EQ(IniProfile::ParseProfileInteger("0b101"), 5u);
    EXPECT_EQ(IniProfile::ParseProfileInteger("010"), 10u);
    EXPECT_EQ(IniProfile::ParseProfileInteger("0x"), 0u);
}

TEST(IniInteger, EmptyOrMissingGivesTheDefaultAndQuotesAreStripped) {
    TempDir dir;
    WriteFile(dir / "t.ini", "[S]\nempty=\nquoted=\"7\"\nword=abc\n");
    IniProfile ini;
    EXPECT_EQ(ini.ReadInteger(dir / "t.ini", "S", "empty", 99), 99u);
    EXPECT_EQ(ini.ReadInteger(dir / "t.ini", "S", "missing", 99), 99u);
    EXPECT_EQ(ini.ReadInteger(dir / "none.ini", "S", "k", 99), 99u);
    EXPECT_EQ(ini.ReadInteger(dir / "t.ini", "S", "quoted", 99), 7u);
    EXPECT_EQ(ini.ReadInteger(dir / "t.ini", "S", "word", 99), 0u);
}

TEST(IniWrite, ChangesOnlyItsOwnLineAndPlacesNewKeysAsWindowsDoes) {
    TempDir dir;
    WriteFile(dir / "t.ini", ";c0\r\n[S]\r\n;c1\r\nb=value\r\n;c2\r\na=value\r\n\r\n[T]\r\n  X = 1\r\n");
    IniProfile ini;
    for (const char* key : {"z", ";x", "y", "a", "b"})
        ASSERT_TRUE(ini.WriteString(dir / "t.ini", "S", key, ""));
    ASSERT_TRUE(ini.WriteString(dir / "t.ini", "t", "x", "2"));
    ASSERT_TRUE(ini.WriteString(dir / "t.ini", "New", "k", "v"));
    EXPECT_EQ(ReadFile(dir / "t.ini"), ";c0\r\n[S]\r\n;c1\r\nb=\r\n;c2\r\na=\r\nz=\r\ny=\r\n;x=\r\n\r\n"
                                       "[T]\r\nX=2\r\n[New]\r\nk=v\r\n");
}

TEST(IniWrite, KeepsLineEndingsAndAddsBreakBeforeAppending) {
    TempDir dir;
    WriteFile(dir / "t.ini", "[S]\nk=1\n[Empty]\n; only a comment\n\n[Last]\nz=9");
    IniProfile ini;
    ASSERT_TRUE(ini.WriteString(dir / "t.ini", "S", "k", "2"));
    ASSERT_TRUE(ini.WriteString(dir / "t.ini", "Empty", "n", "3"));
    ASSERT_TRUE(ini.WriteString(dir / "t.ini", "Last", "y", "4"));
    EXPECT_EQ(ReadFile(dir / "t.ini"), "[S]\nk=2\n[Empty]\nn=3\n; only a comment\n\n[Last]\nz=9\ny=4\n");
}

TEST(IniWrite, CreatesNewFilesButNoFolders) {
    TempDir dir;
    IniProfile ini;
    ASSERT_TRUE(ini.WriteString(dir / "new.ini", " S ", " k ", " v"));
    EXPECT_EQ(ReadFile(dir / "new.ini"), "[S]\r\nk= v\r\n");
    EXPECT_FALSE(ini.WriteString(dir / "missing/new.ini", "S", "k", "v"));
    EXPECT_FALSE(ini.WriteString("", "S", "k", "v"));
}

TEST(IniWrite, KeepsWindows1252AndUtf16Files) {
    TempDir dir;
    WriteFile(dir / "ansi.ini", "[Maschine]\r\nName=M\xFC\x6Cler\r\n");
    WriteFile(dir / "wide.ini", std::string("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\xE4\0\r\0\n\0", 22));
    IniProfile ini;
    EXPECT_EQ(ini.ReadString(dir / "ansi.ini", "maschine", "name"), "Müller");
    ASSERT_TRUE(ini.WriteString(dir / "ansi.ini", "Maschine", "Ort", "Köln €"));
    EXPECT_EQ(ReadFile(dir / "ansi.ini"), "[Maschine]\r\nName=M\xFCller\r\nOrt=K\xF6ln \x80\r\n");
    EXPECT_EQ(ini.ReadString(dir / "wide.ini", "S", "k"), "ä");
    ASSERT_TRUE(ini.WriteString(dir / "wide.ini", "S", "k", "ö"));
    EXPECT_EQ(ReadFile(dir / "wide.ini"), std::string("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\xF6\0\r\0\n\0", 22));
}

TEST(IniWrite, SeesChangesMadeByOthersAndNeverReplacesAnUnreadableFile) {
    TempDir dir;
    WriteFile(dir / "t.ini", "[S]\nk=1\n");
    IniProfile ini;
    EXPECT_EQ(ini.ReadString(dir / "t.ini", "S", "k"), "1");
    WriteFile(dir / "t.ini", "[S]\nk=2\n");
    EXPECT_EQ(ini.ReadString(dir / "t.ini", "S", "k"), "2");
    if (::geteuid() != 0) {
        ::chmod((dir / "t.ini").c_str(), 0);
        EXPECT_FALSE(ini.WriteString(dir / "t.ini", "S", "k", "3"));
        ::chmod((dir / "t.ini").c_str(), 0644);
    }
    EXPECT_EQ(ReadFile(dir / "t.ini"), "[S]\nk=2\n");
}

TEST(IniWrite, FindsAnExistingFileWithOtherLetterCase) {
    TempDir dir;
    WriteFile(dir / "parameter/Program.ini", "[S]\nk=1\n");
    IniProfile ini;
    EXPECT_EQ(ini.ReadString(dir / "parameter/program.ini", "S", "k"), "1");
    ASSERT_TRUE(ini.WriteString(dir / "parameter/program.ini", "S", "k", "2"));
    EXPECT_EQ(ReadFile(dir / "parameter/Program.ini"), "[S]\nk=2\n");
    EXPECT_FALSE(torvex::test::Exists(dir / "parameter/program.ini"));
}

TEST(IniStep, AStepThatChangesNothingLeavesTheFileAloneEvenWhenReadOnly) {
    TempDir dir;
    const std::string path = dir / "Program.ini";
    WriteFile(path, "[Machine1]\r\nBobbin1=true\r\n");
    for (const mode_t mode : {0644, 0444}) {
        ::chmod(path.c_str(), mode);
        struct stat before {};
        ::stat(path.c_str(), &before);
        IniProfile ini;
        ini.BeginStep(path);
        EXPECT_TRUE(ini.WriteString(path, "Machine1", "Bobbin1", "true"));
        EXPECT_TRUE(ini.CommitStep(path)) << mode;
        struct stat after {};
        ::stat(path.c_str(), &after);
        EXPECT_EQ(after.st_ino, before.st_ino) << mode;
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec) << mode;
    }
}

TEST(IniStep, AWriterThatCannotGetTheLockWritesNothing) {
    TempDir dir;
    const std::string path = dir / "Program.ini";
    WriteFile(path, "[Machine1]\r\nBobbin1=true\r\n");
    torvex::platform::FileLock other; // another program's writer
    ASSERT_EQ(other.Acquire(path + ".lock", std::chrono::milliseconds(0)),
              torvex::platform::FileLock::Result::Locked);
    IniProfile ini;
    ini.SetLockWait(std::chrono::milliseconds(20));
    EXPECT_FALSE(ini.WriteString(path, "Machine1", "Bobbin1", "false"));
    EXPECT_EQ(ReadFile(path), "[Machine1]\r\nBobbin1=true\r\n");
}

} // namespace
