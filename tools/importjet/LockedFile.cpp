#include "LockedFile.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace torvex::importjet {

std::vector<long> FlockHolders(std::string_view text, unsigned major, unsigned minor, unsigned long inode) {
    // A line reads "1: FLOCK  ADVISORY  WRITE 1234 fe:00:10970200 0 EOF"; a
    // waiting request has "->" after the number.
    std::vector<long> holders;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string number, kind, advisory, access, file;
        long pid = 0;
        if (!(fields >> number >> kind >> advisory >> access >> pid >> file) || kind != "FLOCK")
            continue;
        unsigned fileMajor = 0, fileMinor = 0;
        unsigned long fileInode = 0;
        char end = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%lu%c", &fileMajor, &fileMinor, &fileInode, &end) == 3 &&
            fileMajor == major && fileMinor == minor && fileInode == inode)
            holders.push_back(pid);
    }
    return holders;
}

LockedFile::Result LockedFile::Acquire(const std::string& path, bool exclusive, bool noFollow,
                                       std::chrono::milliseconds wait) {
    path_ = path;
    noFollow_ = noFollow;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (!fd_) {
            fd_.Reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0)));
            if (!fd_)
                return Result::Failed;
            if (::fstat(fd_.Get(), &state_) != 0 || !S_ISREG(state_.st_mode)) {
                fd_.Reset();
                errno = ENXIO;
                return Result::Failed;
            }
        }
        const bool locked = ::flock(fd_.Get(), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
        // Where the file system offers no flock, the checks before the file is
        // replaced still refuse one that another import replaced meanwhile.
        if (locked || (errno != EWOULDBLOCK && errno != EINTR)) {
            if (::fstat(fd_.Get(), &state_) == 0 && NamesLockedFile())
                return Result::Locked;
            fd_.Reset(); // another file is there now
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            holder_ = FindHolder();
            return Result::Busy;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

bool LockedFile::NamesLockedFile() const {
    struct stat named {};
    const int found = noFollow_ ? ::lstat(path_.c_str(), &named) : ::stat(path_.c_str(), &named);
    return found == 0 && named.st_dev == state_.st_dev && named.st_ino == state_.st_ino;
}

bool LockedFile::Unchanged() const {
    struct stat now {};
    return fd_ && ::fstat(fd_.Get(), &now) == 0 && now.st_size == state_.st_size &&
           now.st_mtim.tv_sec == state_.st_mtim.tv_sec && now.st_mtim.tv_nsec == state_.st_mtim.tv_nsec &&
           now.st_ctim.tv_sec == state_.st_ctim.tv_sec && now.st_ctim.tv_nsec == state_.st_ctim.tv_nsec &&
           NamesLockedFile();
}

std::string LockedFile::FindHolder() const {
    struct stat st {};
    if (!fd_ || ::fstat(fd_.Get(), &st) != 0)
        return "";
    const auto locks = platform::ReadWholeFile("/proc/locks");
    if (!locks)
        return "";
    for (const long pid : FlockHolders(*locks, major(st.st_dev), minor(st.st_dev), st.st_ino)) {
        if (pid == ::getpid())
            continue;
        std::string command =
            platform::ReadWholeFile("/proc/" + std::to_string(pid) + "/cmdline").value_or("");
        std::replace(command.begin(), command.end(), '\0', ' ');
        while (!command.empty() && command.back() == ' ')
            command.pop_back();
        if (command.size() > 300)
            command = command.substr(0, 300) + "...";
        return "process " + std::to_string(pid) + (command.empty() ? "" : ": " + command);
    }
    return "";
}

} // namespace torvex::importjet
