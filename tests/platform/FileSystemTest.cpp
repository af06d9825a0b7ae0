#include "platform/FileSystem.h"
#include "platform/Failure.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

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

TEST(FileSystem, AtomicWritesKeepPermissionsAndRefuseWhatTheyMustNotReplace) {
    TempDir dir;
    WriteFile(dir / "b", "old");
    ::chmod((dir / "b").c_str(), 0640);
    ASSERT_FALSE(platform::TryWriteFileAtomic(dir / "b", "new content"));
    EXPECT_EQ(ReadFile(dir / "b"), "new content");
    struct stat st {};
    ::stat((dir / "b").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(platform::TryWriteFileAtomic(dir / "no/such/folder/b", "x"),
              std::errc::no_such_file_or_directory);
    for (const auto& [err, number] : {std::pair{EACCES, 70}, {ENOENT, 75}, {ENOSPC, 75}}) {
        try {
            platform::RaiseFileError(platform::Errno(err), dir / "b");
            FAIL();
        } catch (const platform::Failure& f) {
            EXPECT_EQ(f.Number(), number) << err;
        }
    }
}

TEST(FileSystem, AppendLineEndsEveryEntryWithCrLf) {
    TempDir dir;
    EXPECT_FALSE(platform::TryAppendLine(dir / "log.txt", "one\n\rtwo"));
    EXPECT_FALSE(platform::TryAppendLine(dir / "log.txt", "three"));
    EXPECT_EQ(ReadFile(dir / "log.txt"), "one\n\rtwo\r\nthree\r\n");
    EXPECT_EQ(platform::TryAppendLine(dir / "missing/log.txt", "x"), std::errc::no_such_file_or_directory);
    EXPECT_EQ(platform::TryAppendLine("", "x"), std::errc::no_such_file_or_directory);
    // A new log may be written by every operator who may write its folder.
    std::filesystem::create_directories(dir / "shared");
    ::chmod((dir / "shared").c_str(), 0775);
    const mode_t mask = ::umask(077);
    EXPECT_FALSE(platform::TryAppendLine(dir / "shared/log.txt", "x"));
    ::umask(mask);
    struct stat st {};
    ::stat((dir / "shared/log.txt").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0664u) << "the folder's bits, not the umask's";
}

namespace {

std::vector<std::string> TempFilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(platform::kTempPrefix))
            names.push_back(entry.path().filename());
    return names;
}

TEST(FileSystem, APrivateFolderGoesWithItsRunOrWithTheNextOne) {
    TempDir tmp;
    ::setenv("TMPDIR", tmp.Path().c_str(), 1);
    const pid_t gone = ::fork(); // a process id that no longer runs
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string abandoned = tmp / ("torvex-test-" + std::to_string(gone) + "-abc");
    const std::string running = tmp / ("torvex-test-" + std::to_string(::getppid()) + "-abc");
    std::filesystem::create_directories(abandoned + "/sub");
    std::filesystem::create_directories(running);
    std::string path;
    {
        const platform::PrivateFolder folder("test");
        path = folder.Path();
        EXPECT_TRUE(std::filesystem::is_directory(path));
        torvex::test::WriteFile(path + "/file", "x");
        EXPECT_FALSE(std::filesystem::exists(abandoned));
        EXPECT_TRUE(std::filesystem::exists(running)) << "its run still runs";
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    ::unsetenv("TMPDIR");
}

} // namespace

TEST(FileSystem, ATemporaryFileReplacesItsTargetOrLeavesNothing) {
    TempDir dir;
    WriteFile(dir / "db", "current");
    {
        platform::TempFile fresh;
        fresh.Create(dir.Path());
        // Never renamed over the target: the target stays as it was.
    }
    EXPECT_EQ(ReadFile(dir / "db"), "current");
    EXPECT_TRUE(TempFilesIn(dir.Path()).empty());

    platform::TempFile fresh;
    fresh.Create(dir.Path());
    ASSERT_EQ(::write(fresh.Descriptor(), "new", 3), 3);
    fresh.Finish(dir / "db");
    fresh.RenameOver(dir / "db");
    EXPECT_EQ(ReadFile(dir / "db"), "new");
    EXPECT_TRUE(TempFilesIn(dir.Path()).empty());
}

TEST(FileSystem, WritesGoThroughLinksAndRefuseSpecialFiles) {
    TempDir dir;
    WriteFile(dir / "shared/Program.ini", "old");
    ::chmod((dir / "shared/Program.ini").c_str(), 0640);
    std::filesystem::create_directories(dir / "plant");
    std::filesystem::create_symlink(dir / "shared/Program.ini", dir / "plant/Program.ini");
    ASSERT_FALSE(platform::TryWriteFileAtomic(dir / "plant/Program.ini", "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "plant/Program.ini"));
    EXPECT_EQ(ReadFile(dir / "shared/Program.ini"), "new");
    EXPECT_EQ(std::filesystem::status(dir / "shared/Program.ini").permissions(),
              std::filesystem::perms(0640));
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_TRUE(platform::TryAppendLine(dir / "fifo", "x")) << "no reader: must not block";
    EXPECT_TRUE(platform::TryWriteFileAtomic(dir / "fifo", "x"));
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo"));
    EXPECT_EQ(platform::ReadWholeFile(dir / "fifo"), std::nullopt);
    EXPECT_NE(platform::DescribeFileError(dir / "fifo", {}).find("FIFO"), std::string::npos);
}

// A failure of a throwing form names the file the caller works on: what a
// temporary file stands for (else its folder), a rename's target, the folder
// that is flushed.
TEST(FileSystem, TheThrowingFormsNameTheFileTheCallerWorksOn) {
    TempDir dir;
    WriteFile(dir / "db", "x");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    const auto failure = [](const std::function<void()>& step) {
        try {
            step();
        } catch (const platform::Failure& f) {
            return f.Description();
        }
        return std::string("no failure");
    };
    platform::TempFile backup(dir / "db.bak"), plain, made;
    made.Create(dir.Path());
    const std::string missing = dir / "missing";
    const std::pair<std::string, std::string> cases[] = {
        {failure([&] { backup.Create(missing); }), dir / "db.bak (No such file or directory)"},
        {failure([&] { plain.Create(missing); }), missing + " (No such file or directory)"},
        {failure([&] { made.RenameOver(missing + "/db"); }), missing + "/db (No such file or directory)"},
        {failure([&] { platform::SyncFolderOf(missing + "/db"); }), missing + " (No such file or directory)"},
        {failure([&] { platform::CheckReplaceable(dir / "fifo"); }), "it is a FIFO, not a regular file"},
        {failure([&] { (void)platform::OpenForReading(missing); }), missing + " (No such file or directory)"},
    };
    for (const auto& [description, names] : cases)
        EXPECT_NE(description.find(names), std::string::npos) << description;
    EXPECT_EQ(platform::TryCheckReplaceable(dir / "fifo"), std::errc::no_such_device_or_address);
    EXPECT_FALSE(platform::TryCheckReplaceable(dir / "db"));
}

TEST(FileSystem, OnlyTemporaryFilesThatNobodyHoldsAreRemoved) {
    TempDir dir;
    const std::string left = dir / (std::string(platform::kTempPrefix) + "left");
    const std::string held = dir / (std::string(platform::kTempPrefix) + "held");
    WriteFile(left, "from a killed run");
    WriteFile(held, "being written");
    WriteFile(dir / "Program.ini", "kept");
    const int writer = ::open(held.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    platform::RemoveStaleTempFiles(dir.Path());
    EXPECT_FALSE(torvex::test::Exists(left));
    EXPECT_TRUE(torvex::test::Exists(held));
    EXPECT_TRUE(torvex::test::Exists(dir / "Program.ini"));
    ::close(writer);
}
