#include "platform/FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <utility>

namespace torvex::platform {

FileLock::FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FileLock::Result FileLock::Acquire(const std::string& lockPath, std::chrono::milliseconds wait,
                                   const std::function<bool()>& keepWaiting) {
    Release();
    // A lock file that another user made read-only can still be locked.
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        fd = ::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Result::NoLockFile;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            fd_ = fd;
            return Result::Locked;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            ::close(fd);
            return Result::NoLockFile;
        }
        if (keepWaiting && !keepWaiting()) {
            ::close(fd);
            return Result::Stopped;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return Result::Busy;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

void FileLock::Release() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace torvex::platform
