#pragma once

#include "platform/FileSystem.h"

#include <chrono>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace torvex::importjet {

// The processes that hold a flock on the file `inode` of the device
// `major`:`minor`, as the lines of /proc/locks (`text`) show them; requests
// still waiting for the lock are not holders.
std::vector<long> FlockHolders(std::string_view text, unsigned major, unsigned minor, unsigned long inode);

// The file an import reads, open and locked (flock on the file itself) for
// the whole run: exclusively by an import that replaces it, shared by one
// that only reads it. No lock file is made, so a refused import leaves the
// folder as it was.
class LockedFile {
public:
    enum class Result {
        Locked, // State() is what the file was when the lock was taken
        Busy,   // another holder kept it for the whole wait; Holder() names it
        Failed, // it cannot be opened (errno says why)
    };

    // Opens `path` (never through a symbolic link when `noFollow`) and locks
    // it, waiting up to `wait` for another holder. A holder that replaced the
    // file meanwhile (an import that finished) leaves another file under the
    // path: that one is opened and locked instead.
    [[nodiscard]] Result Acquire(const std::string& path, bool exclusive, bool noFollow,
                                 std::chrono::milliseconds wait);
    int Descriptor() const { return fd_.Get(); }
    const struct stat& State() const { return state_; }
    // True when the path still names the locked file and nothing wrote to it
    // or changed its mode since it was locked.
    bool Unchanged() const;
    // The holder found when Acquire gave Busy, as "process 42: <its command
    // line>", or "" when it cannot be told.
    const std::string& Holder() const { return holder_; }

private:
    bool NamesLockedFile() const;
    std::string FindHolder() const;

    std::string path_;
    bool noFollow_ = false;
    platform::Descriptor fd_;
    struct stat state_ {};
    std::string holder_;
};

} // namespace torvex::importjet
