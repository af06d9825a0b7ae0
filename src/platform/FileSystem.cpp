#include "platform/FileSystem.h"

#include "platform/Failure.h"
#include "platform/Text.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <type_traits>
#include <utility>
#include <vector>

namespace torvex::platform {
namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::optional<std::string> MatchInFolder(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.empty() ? "/" : folder.c_str());
    if (!dir)
        return std::nullopt;
    std::optional<std::string> found;
    const std::string wanted = UpperCase(name);
    while (const dirent* entry = ::readdir(dir)) {
        if (UpperCase(entry->d_name) == wanted) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// Copies everything that can be read from `in` to `out`.
bool CopyAll(int in, int out) {
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        if (!WriteAll(out, std::string_view(buffer, static_cast<std::size_t>(n))))
            return false;
    }
}

// Writes the content (bytes, or what can be read from a file descriptor) to
// a fresh temporary file beside `target` and renames it over the target.
// Returns 0 or the errno of the step that failed.
template <class Content> int ReplaceFile(const std::string& target, Content content, mode_t mode) {
    std::string folder = FolderOf(target);
    std::string pattern = (folder.empty() ? std::string(".") : folder) + "/.torvex-tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    Fd fd(::mkstemp(name.data()));
    if (fd.Get() < 0)
        return errno;
    const std::string tmp(name.data());
    int err = 0;
    bool written = false;
    if constexpr (std::is_same_v<Content, int>)
        written = CopyAll(content, fd.Get());
    else
        written = WriteAll(fd.Get(), content);
    if (!written || ::fchmod(fd.Get(), mode) != 0 || ::fsync(fd.Get()) != 0)
        err = errno ? errno : EIO;
    if (::close(fd.Release()) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(tmp.c_str(), target.c_str()) != 0)
        err = errno;
    if (err != 0)
        ::unlink(tmp.c_str());
    return err;
}

mode_t ModeFor(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

bool IsOrdinaryFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> FindExistingFile(const std::string& path) {
    if (path.empty())
        return std::nullopt;
    if (IsOrdinaryFile(path))
        return path;
    // Walk the components, keeping each one that exists as given and looking
    // the others up without regard to letter case.
    std::string resolved = path[0] == '/' ? "" : ".";
    std::size_t pos = path[0] == '/' ? 1 : 0;
    while (pos <= path.size()) {
        std::size_t next = path.find('/', pos);
        if (next == std::string::npos)
            next = path.size();
        const std::string part = path.substr(pos, next - pos);
        pos = next + 1;
        if (part.empty() || part == ".")
            continue;
        std::string candidate = resolved + "/" + part;
        struct stat st {};
        if (part != ".." && ::lstat(candidate.c_str(), &st) != 0) {
            auto match = MatchInFolder(resolved, part);
            if (!match)
                return std::nullopt;
            candidate = resolved + "/" + *match;
        }
        resolved = std::move(candidate);
    }
    if (path[0] != '/')
        resolved.erase(0, 2);
    if (!IsOrdinaryFile(resolved))
        return std::nullopt;
    return resolved;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        return std::nullopt;
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return data;
}

bool WriteFileAtomic(const std::string& path, std::string_view bytes) {
    // A read-only file stays as it is, although its folder would allow replacing it.
    if (path.empty() || (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0))
        return false;
    return ReplaceFile(path, bytes, ModeFor(path)) == 0;
}

void CopyFileAtomic(const std::string& source, const std::string& target) {
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0) {
        const int err = errno;
        Raise(err == ENOENT ? errnum::FileNotFound : errnum::PathFileAccess,
              "File not found or not readable: " + source + " (" + std::strerror(err) + ")");
    }
    int err = target.empty() ? ENOENT : 0;
    if (err == 0 && ::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0)
        err = EACCES; // a read-only file stays as it is
    if (err == 0)
        err = ReplaceFile(target, in.Get(), ModeFor(target));
    if (err == EACCES || err == EPERM || err == EROFS)
        Raise(errnum::PermissionDenied, "Permission denied: " + target);
    if (err != 0)
        Raise(errnum::PathFileAccess, "Path/File access error: " + target + " (" + std::strerror(err) + ")");
}

void KeepPreviousVersion(const std::string& path, const std::string& backup) {
    const std::string staged = backup + ".tmp";
    ::unlink(staged.c_str());
    if (::link(path.c_str(), staged.c_str()) == 0) {
        if (::rename(staged.c_str(), backup.c_str()) == 0)
            return;
        const int err = errno;
        ::unlink(staged.c_str());
        Raise(err == EACCES || err == EPERM || err == EROFS ? errnum::PermissionDenied
                                                            : errnum::PathFileAccess,
              "Path/File access error: " + backup + " (" + std::strerror(err) + ")");
    }
    CopyFileAtomic(path, backup);
}

bool AppendLine(const std::string& path, std::string_view text) {
    if (path.empty())
        return false;
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (fd.Get() < 0)
        return false;
    std::string line(text);
    line += "\r\n";
    return WriteAll(fd.Get(), line);
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace torvex::platform
