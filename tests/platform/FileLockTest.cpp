#include "platform/FileLock.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

using namespace std::chrono_literals;
using torvex::platform::FileLock;
using torvex::test::TempDir;
using torvex::test::WriteFile;

namespace {

// The answer of Acquire in a child process, optionally as another user
// (65534, as root only), so that the parent's own locks do not count.
FileLock::Result AcquireInChild(const std::string& lockPath, bool asOtherUser = false) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (asOtherUser && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
        FileLock lock;
        ::_exit(static_cast<int>(lock.Acquire(lockPath, 0ms)));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return static_cast<FileLock::Result>(WEXITSTATUS(status));
}

TEST(FileLock, APathThatCannotBeLockedIsNeverPassedOver) {
    TempDir dir;
    WriteFile(dir / "elsewhere", "precious");
    ::mkfifo((dir / "fifo").c_str(), 0666);
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
    } const cases[] = {
        {"link to /dev/null", [](const std::string& p) { (void)::symlink("/dev/null", p.c_str()); }},
        {"dangling link", [&](const std::string& p) { (void)::symlink((dir / "none").c_str(), p.c_str()); }},
        {"link to a file",
         [&](const std::string& p) { (void)::symlink((dir / "elsewhere").c_str(), p.c_str()); }},
        {"folder", [](const std::string& p) { ::mkdir(p.c_str(), 0777); }},
        {"FIFO", [&](const std::string& p) { (void)::symlink((dir / "fifo").c_str(), p.c_str()); }},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string path = dir / (std::to_string(++n) + ".lock");
        c.make(path);
        FileLock lock;
        EXPECT_EQ(lock.Acquire(path, 0ms), FileLock::Result::Unusable) << c.name;
        EXPECT_FALSE(lock.Held()) << c.name;
        EXPECT_FALSE(lock.Problem().empty()) << c.name;
    }
    EXPECT_EQ(torvex::test::ReadFile(dir / "elsewhere"), "precious");
}

TEST(FileLock, AMissingLockFileIsMadeForEveryoneWhoMayWriteTheGuardedFile) {
    TempDir dir;
    WriteFile(dir / "Program.ini", "x");
    ::chmod((dir / "Program.ini").c_str(), 0664);
    const mode_t mask = ::umask(077);
    FileLock lock;
    const auto result = lock.Acquire(dir / "Program.ini.lock", 0ms, {}, dir / "Program.ini");
    ::umask(mask);
    ASSERT_EQ(result, FileLock::Result::Locked);
    struct stat st {};
    ::stat((dir / "Program.ini.lock").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0664u) << "the guarded file's bits, not the umask's";
    EXPECT_EQ(AcquireInChild(dir / "Program.ini.lock"), FileLock::Result::Busy);
    lock.Release();
    EXPECT_EQ(AcquireInChild(dir / "Program.ini.lock"), FileLock::Result::Locked);
}

TEST(FileLock, AnotherUsersLockFileIsLockedThroughReadingOrRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as a second user";
    TempDir dir;
    ::chmod(dir.Path().c_str(), 0777);
    WriteFile(dir / "readable.lock", "");
    ::chmod((dir / "readable.lock").c_str(), 0644); // root's, read-only for others
    WriteFile(dir / "private.lock", "");
    ::chmod((dir / "private.lock").c_str(), 0600); // made under umask 077
    FileLock held;
    ASSERT_EQ(held.Acquire(dir / "readable.lock", 0ms), FileLock::Result::Locked);
    EXPECT_EQ(AcquireInChild(dir / "readable.lock", true), FileLock::Result::Busy)
        << "a read-only lock still excludes";
    held.Release();
    EXPECT_EQ(AcquireInChild(dir / "readable.lock", true), FileLock::Result::Locked);
    EXPECT_EQ(AcquireInChild(dir / "private.lock", true), FileLock::Result::Unusable);
    ::chmod(dir.Path().c_str(), 0555);
    EXPECT_EQ(AcquireInChild(dir / "missing.lock", true), FileLock::Result::NoLockFile);
    ::chmod(dir.Path().c_str(), 0700);
}

} // namespace
