#pragma once

#include "platform/FileSystem.h"

#include <chrono>
#include <functional>
#include <string>

namespace torvex::platform {

// An exclusive advisory lock (flock) on a lock file, held while the object
// lives. Lock files are created when missing and never deleted; the lock
// itself vanishes with the process that holds it, so a killed run never
// blocks the next one.
//
// Everyone who guards a file takes the lock through that very lock file, so
// nothing else can stand in for it: a lock path that cannot be locked is
// never passed over, it is answered Unusable (or NoLockFile) and the caller
// must not go on as if it held the lock.
class FileLock {
public:
    enum class Result {
        Locked,     // the lock is held
        Busy,       // another process held it for the whole wait
        NoLockFile, // there is none, and the folder does not let this user make one
        Unusable,   // the lock path holds a link, no regular file, or a file this user may not open
        Stopped,    // `keepWaiting` said to stop waiting
    };

    FileLock() = default;

    // Takes the lock on `lockPath`, waiting up to `wait` for another holder;
    // while it waits, `keepWaiting` (when given) is asked about every 50 ms.
    // A missing lock file is made with the read and write bits and the group
    // of `guarded` (the file or folder it guards; when that does not exist,
    // the lock file's folder), whatever the creator's umask, so that everyone
    // who may write the guarded file may open it. A lock file that cannot be
    // opened for writing is locked through a read-only descriptor.
    [[nodiscard]] Result Acquire(const std::string& lockPath, std::chrono::milliseconds wait,
                                 const std::function<bool()>& keepWaiting = {},
                                 const std::string& guarded = {});
    bool Held() const { return static_cast<bool>(fd_); }
    void Release();
    // After NoLockFile or Unusable: what the lock path holds or why it could
    // not be opened ("it is a symbolic link", "Permission denied").
    const std::string& Problem() const { return problem_; }

private:
    Descriptor Open(const std::string& lockPath, const std::string& guarded, Result& failure);

    Descriptor fd_;
    std::string problem_;
};

// The words that tell the user what to do about a lock file that Acquire
// answered NoLockFile or Unusable for: names `lockPath` and the problem.
std::string LockFileTrouble(const std::string& lockPath, const FileLock& lock);

} // namespace torvex::platform
