#include "platform/FileSystem.h"
#include "platform/Failure.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace torvex;
using torvex::test::ReadFile;
using torvex::test::TempDir;
using torvex::test::WriteFile;

TEST(FileSystem, FindsExistingFilesCaseInsensitivelyWhenTheExactNameIsMissing) {
    TempDir dir;
    WriteFile(dir / "Plant/Parameter/Program.ini", "x");
    EXPECT_EQ(platform::FindExistingFile(dir / "Plant/Parameter/Program.ini"),
              dir / "Plant/Parameter/Program.ini");
    EXPECT_EQ(platform::FindExistingFile(dir / "plant/parameter/program.ini"),
              dir / "Plant/Parameter/Program.ini");
    EXPECT_EQ(platform::FindExistingFile(dir / "plant/parameter/other.ini"), std::nullopt);
    EXPECT_EQ(platform::FindExistingFile(dir / "plant/parameter"), std::nullopt) << "a folder is no file";
    EXPECT_EQ(platform::FindExistingFile(""), std::nullopt);
}

TEST(FileSystem, CopyReplacesTheTargetAndKeepsItsPermissions) {
    TempDir dir;
    WriteFile(dir / "a", "new content");
    WriteFile(dir / "b", "old");
    ::chmod((dir / "b").c_str(), 0640);
    platform::CopyFileAtomic(dir / "a", dir / "b");
    EXPECT_EQ(ReadFile(dir / "b"), "new content");
    struct stat st {};
    ::stat((dir / "b").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(FileSystem, CopyFailuresCarryTheClassicNumbers) {
    TempDir dir;
    try {
        platform::CopyFileAtomic(dir / "missing", dir / "b");
        FAIL();
    } catch (const platform::Failure& f) {
        EXPECT_EQ(f.Number(), 53);
    }
    WriteFile(dir / "a", "x");
    try {
        platform::CopyFileAtomic(dir / "a", dir / "no/such/folder/b");
        FAIL();
    } catch (const platform::Failure& f) {
        EXPECT_EQ(f.Number(), 75);
    }
}

TEST(FileSystem, AppendLineEndsEveryEntryWithCrLf) {
    TempDir dir;
    EXPECT_TRUE(platform::AppendLine(dir / "log.txt", "one\n\rtwo"));
    EXPECT_TRUE(platform::AppendLine(dir / "log.txt", "three"));
    EXPECT_EQ(ReadFile(dir / "log.txt"), "one\n\rtwo\r\nthree\r\n");
    EXPECT_FALSE(platform::AppendLine(dir / "missing/log.txt", "x"));
    EXPECT_FALSE(platform::AppendLine("", "x"));
}
