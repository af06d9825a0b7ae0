#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace torvex::platform {

// An exclusive advisory lock (flock) on a lock file, held while the object
// lives. Lock files are created when missing and never deleted; the lock
// itself vanishes with the process that holds it, so a killed run never
// blocks the next one.
class FileLock {
public:
    enum class Result {
        Locked,     // the lock is held
        Busy,       // another process held it for the whole wait
        NoLockFile, // the lock file cannot be created or opened (a read-only folder)
        Stopped,    // `keepWaiting` said to stop waiting
    };

    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock on `lockPath`, waiting up to `wait` for another holder;
    // while it waits, `keepWaiting` (when given) is asked about every 50 ms.
    [[nodiscard]] Result Acquire(const std::string& lockPath, std::chrono::milliseconds wait,
                                 const std::function<bool()>& keepWaiting = {});
    bool Held() const { return fd_ >= 0; }
    void Release();

private:
    int fd_ = -1;
};

} // namespace torvex::platform
