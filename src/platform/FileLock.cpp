#include "platform/FileLock.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <utility>

namespace torvex::platform {

namespace {

// Makes the missing lock file `lockPath` with the read and write bits and
// the group of `guarded`; -1 with errno when it cannot (EEXIST: another run
// made it first).
int CreateLockFile(const std::string& lockPath, const std::string& guarded) {
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return fd;
    // With nothing to take the bits from, it stays private, as made.
    if (guarded.empty() || !ShareLike(fd, guarded))
        (void)ShareLike(fd, FolderOf(lockPath));
    return fd;
}

} // namespace

// Opens the lock file, making it when it is missing: the descriptor, or
// none with problem_ set and `failure` the answer for it.
Descriptor FileLock::Open(const std::string& lockPath, const std::string& guarded, Result& failure) {
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    failure = Result::Unusable;
    for (int attempt = 0; attempt < 5; ++attempt) {
        Descriptor fd(::open(lockPath.c_str(), O_RDWR | kFlags));
        if (!fd && errno != ENOENT && errno != ELOOP)
            fd.Reset(::open(lockPath.c_str(), O_RDONLY | kFlags)); // flock works on a read-only descriptor
        if (fd) {
            struct stat st {};
            if (::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode))
                return fd;
            problem_ = DescribeFileError(lockPath, Errno(EINVAL));
            return Descriptor();
        }
        const int err = errno;
        if (err == ELOOP) {
            problem_ = "it is a symbolic link";
            return Descriptor();
        }
        if (err != ENOENT) {
            problem_ = std::strerror(err);
            return Descriptor();
        }
        fd.Reset(CreateLockFile(lockPath, guarded));
        if (fd)
            return fd;
        if (const int made = errno; made != EEXIST) { // EEXIST: another run made it (or a link) meanwhile
            problem_ = std::strerror(made);
            failure = Result::NoLockFile;
            return Descriptor();
        }
    }
    problem_ = "it keeps changing";
    return Descriptor();
}

FileLock::Result FileLock::Acquire(const std::string& lockPath, std::chrono::milliseconds wait,
                                   const std::function<bool()>& keepWaiting, const std::string& guarded) {
    Release();
    problem_.clear();
    Result failure = Result::Unusable;
    Descriptor fd = Open(lockPath, guarded, failure);
    if (!fd)
        return failure;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) {
            fd_ = std::move(fd);
            return Result::Locked;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            problem_ = std::strerror(errno);
            return Result::Unusable;
        }
        if (keepWaiting && !keepWaiting())
            return Result::Stopped;
        if (std::chrono::steady_clock::now() >= deadline)
            return Result::Busy;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

void FileLock::Release() {
    fd_.Reset();
}

std::string LockFileTrouble(const std::string& lockPath, const FileLock& lock) {
    return "its lock file \"" + lockPath + "\" cannot be used (" + lock.Problem() +
           "). Every run takes its lock through that file: put an empty regular file there that every user "
           "of the plant may open (mode and group as the files it guards).";
}

} // namespace torvex::platform
