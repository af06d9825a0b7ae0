#include "platform/FileSystem.h"

#include "platform/Failure.h"
#include "platform/Text.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <utility>
#include <vector>

namespace torvex::platform {

std::error_code TryWriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Errno();
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

namespace {

// Copies everything that can be read from `in` to `out`.
std::error_code CopyAll(int in, int out) {
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Errno();
        if (n == 0)
            return {};
        if (auto why = TryWriteAll(out, std::string_view(buffer, static_cast<std::size_t>(n))))
            return why;
    }
}

// Opens a path that must be a regular file without ever blocking on a FIFO
// or a device; errno is ENXIO for a path that is no regular file.
Descriptor OpenRegular(const std::string& path, int flags, mode_t mode = 0666) {
    Descriptor fd(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode));
    if (fd.Get() < 0)
        return fd;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        fd.Reset();
        errno = ENXIO;
        return fd;
    }
    ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
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

std::string RandomSuffix() {
    static std::mt19937_64 generator{std::random_device{}()};
    static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix;
    for (int i = 0; i < 12; ++i)
        suffix += kDigits[generator() % (sizeof kDigits - 1)];
    return suffix;
}

std::string TempName(const std::string& folder) {
    return (folder.empty() ? std::string(".") : folder) + "/" + std::string(kTempPrefix) + RandomSuffix();
}

mode_t DefaultMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Writes `bytes` to a temporary file beside `target`, renames it over the
// target and flushes the folder; why the step that failed did.
std::error_code ReplaceFile(const std::string& target, std::string_view bytes) {
    TempFile tmp;
    std::error_code why = tmp.TryCreate(FolderOf(target));
    if (!why)
        why = tmp.TryWrite(bytes);
    if (!why)
        why = tmp.TryFinish(target);
    if (!why)
        why = tmp.TryRenameOver(target);
    return why ? why : TrySyncFolderOf(target);
}

} // namespace

void Descriptor::Reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

std::error_code TryCheckReplaceable(const std::string& target) {
    if (target.empty())
        return Errno(ENOENT);
    if (IsSpecialFile(target))
        return Errno(ENXIO);
    // A file without any write permission is read-only for everyone, also
    // for a user (root) whom the permissions would not stop.
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && (::access(target.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0))
        return Errno(EACCES);
    return {};
}

void CheckReplaceable(const std::string& target) {
    if (const auto why = TryCheckReplaceable(target))
        RaiseFileError(why, target);
}

void RaiseCopyFailure(const std::string& source, const std::string& folder, std::error_code why) {
    Raise(errnum::PathFileAccess,
          "Path/File access error: a copy of " + source + " in " + folder + " (" + why.message() + ")");
}

void RaiseFileError(std::error_code why, const std::string& path) {
    if (why == std::errc::permission_denied || why == std::errc::operation_not_permitted ||
        why == std::errc::read_only_file_system)
        Raise(errnum::PermissionDenied, "Permission denied: " + path);
    Raise(errnum::PathFileAccess,
          "Path/File access error: " + path + " (" + DescribeFileError(path, why) + ")");
}

std::error_code TryOpenForReading(const std::string& path, Descriptor& opened) {
    opened = OpenRegular(path, O_RDONLY);
    return opened ? std::error_code() : Errno();
}

Descriptor OpenForReading(const std::string& path) {
    Descriptor opened;
    if (const auto why = TryOpenForReading(path, opened))
        RaiseFileError(why, path);
    return opened;
}

std::error_code TrySyncFolderOf(const std::string& path) {
    const std::string folder = FolderOf(path);
    Descriptor dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() < 0 || ::fsync(dir.Get()) != 0)
        return Errno();
    return {};
}

void SyncFolderOf(const std::string& path) {
    if (const auto why = TrySyncFolderOf(path))
        RaiseFileError(why, FolderOf(path));
}

TempFile::~TempFile() {
    if (!name_.empty())
        ::unlink(name_.c_str());
    if (fd_ >= 0)
        ::close(fd_);
}

std::error_code TempFile::TryCreate(const std::string& folder) {
    folder_ = folder.empty() ? "." : folder;
    fd_ = ::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0)
        return ::flock(fd_, LOCK_EX) == 0 ? std::error_code() : Errno();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TempName(folder_);
        fd_ = ::open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            if (errno == EEXIST)
                continue;
            return Errno();
        }
        name_ = std::move(name);
        return ::flock(fd_, LOCK_EX) == 0 ? std::error_code() : Errno();
    }
    return Errno(EEXIST);
}

void TempFile::Create(const std::string& folder) {
    if (const auto why = TryCreate(folder))
        RaiseFileError(why, standsFor_.empty() ? folder : standsFor_);
}

void TempFile::Raise(std::error_code why) const {
    RaiseFileError(why, standsFor_.empty() ? folder_ : standsFor_);
}

std::error_code TempFile::GiveName() {
    if (!name_.empty())
        return {};
    const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TempName(folder_);
        if (::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0 ||
            ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            name_ = std::move(name);
            return {};
        }
        if (errno != EEXIST)
            return Errno();
    }
    return Errno(EEXIST);
}

const std::string& TempFile::Path() {
    (void)GiveName();
    return name_;
}

std::error_code TempFile::TryCopyFrom(int fd) {
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return Errno();
    return CopyAll(fd, fd_);
}

void TempFile::CopyFrom(int fd) {
    if (const auto why = TryCopyFrom(fd))
        Raise(why);
}

std::error_code TempFile::TryWrite(std::string_view bytes) {
    return TryWriteAll(fd_, bytes);
}

std::error_code TempFile::TryFinish(const std::string& like, const timespec* lastWrite, bool flush) {
    struct stat old {};
    const bool exists = ::stat(like.c_str(), &old) == 0;
    // The owner is kept where the user may give it (root); the group also
    // where the user is a member of it, so that the other members of a
    // plant's group can still write the file.
    if (exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
        ::fchown(fd_, old.st_uid, old.st_gid) != 0)
        (void)::fchown(fd_, static_cast<uid_t>(-1), old.st_gid);
    if (::fchmod(fd_, exists ? old.st_mode & 07777 : DefaultMode()) != 0)
        return Errno();
    if (lastWrite) {
        const timespec times[2] = {{0, UTIME_OMIT}, *lastWrite};
        if (::futimens(fd_, times) != 0)
            return Errno();
    }
    return !flush || ::fsync(fd_) == 0 ? std::error_code() : Errno();
}

void TempFile::Finish(const std::string& like, const timespec* lastWrite, bool flush) {
    if (const auto why = TryFinish(like, lastWrite, flush))
        Raise(why);
}

std::error_code TempFile::TryRenameOver(const std::string& target, bool replace) {
    if (const auto why = GiveName())
        return why;
    if (::renameat2(AT_FDCWD, name_.c_str(), AT_FDCWD, target.c_str(), replace ? 0 : RENAME_NOREPLACE) != 0)
        return Errno();
    name_.clear();
    return {};
}

void TempFile::RenameOver(const std::string& target, bool replace) {
    if (const auto why = TryRenameOver(target, replace))
        RaiseFileError(why, target);
}

bool IsOrdinaryFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsSpecialFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

std::string DescribeFileError(const std::string& path, std::error_code why) {
    struct stat st {};
    if (!path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        const char* kind = S_ISFIFO(st.st_mode)                         ? "a FIFO"
                           : S_ISDIR(st.st_mode)                        ? "a folder"
                           : S_ISSOCK(st.st_mode)                       ? "a socket"
                           : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                                                                        : "no regular file";
        return std::string("it is ") + kind + ", not a regular file";
    }
    return std::strerror(why.value());
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

std::string ResolveLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(current.c_str(), target, sizeof target - 1);
        if (n < 0)
            return current;
        const std::string link(target, static_cast<std::size_t>(n));
        const std::string folder = FolderOf(current);
        current = link.starts_with('/') || folder.empty() ? link : folder + "/" + link;
    }
    return current;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::error_code* why) {
    const auto fail = [&] {
        if (why)
            *why = Errno();
        return std::nullopt;
    };
    Descriptor fd = OpenRegular(path, O_RDONLY);
    if (fd.Get() < 0)
        return fail();
    std::string data;
    struct stat st {};
    if (::fstat(fd.Get(), &st) == 0 && st.st_size > 0)
        data.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail();
        }
        if (n == 0)
            break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return data;
}

std::error_code TryWriteFileAtomic(const std::string& path, std::string_view bytes) {
    const std::string target = ResolveLinks(path);
    if (const auto why = TryCheckReplaceable(target))
        return why;
    return ReplaceFile(target, bytes);
}

void RemoveStaleTempFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        if (!std::string_view(entry->d_name).starts_with(kTempPrefix))
            continue;
        const std::string path = (folder.empty() ? std::string(".") : folder) + "/" + entry->d_name;
        Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
        struct stat held {
        }, named{};
        // A file whose writer is alive is locked; one left by a killed run is not.
        if (fd.Get() < 0 || ::fstat(fd.Get(), &held) != 0 || !S_ISREG(held.st_mode) ||
            ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        if (::lstat(path.c_str(), &named) == 0 && named.st_ino == held.st_ino && named.st_dev == held.st_dev)
            ::unlink(path.c_str());
    }
    ::closedir(dir);
}

bool ShareLike(int fd, const std::string& like) {
    struct stat st {};
    if (::stat(like.empty() ? "." : like.c_str(), &st) != 0)
        return false;
    if (st.st_gid != ::getegid())
        (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid); // where the user is a member
    (void)::fchmod(fd, (st.st_mode & 0666) | 0600);
    return true;
}

std::error_code TryAppendLine(const std::string& path, std::string_view text) {
    if (path.empty())
        return Errno(ENOENT);
    Descriptor fd = OpenRegular(path, O_WRONLY | O_APPEND);
    if (!fd && errno == ENOENT) {
        fd = OpenRegular(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL);
        if (fd)
            ShareLike(fd.Get(), FolderOf(path));
        else if (errno == EEXIST) // made meanwhile, or a link to a file not there yet
            fd = OpenRegular(path, O_WRONLY | O_APPEND | O_CREAT);
    }
    if (!fd)
        return Errno();
    std::string line(text);
    line += "\r\n";
    return TryWriteAll(fd.Get(), line);
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

// Removes the private folders for `prefix` ("torvex-read-") in `tmp` that
// runs which no longer exist left behind (killed before they could).
void RemoveAbandonedFolders(const std::string& tmp, const std::string& prefix) {
    DIR* dir = ::opendir(tmp.c_str());
    if (!dir)
        return;
    std::vector<std::string> abandoned;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!name.starts_with(prefix))
            continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        struct stat st {};
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH &&
            ::lstat((tmp + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
            abandoned.push_back(tmp + "/" + name);
    }
    ::closedir(dir);
    for (const std::string& path : abandoned) {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
}

} // namespace

PrivateFolder::PrivateFolder(std::string_view purpose) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = tmp && *tmp ? tmp : "/tmp";
    const std::string prefix = "torvex-" + std::string(purpose) + "-";
    RemoveAbandonedFolders(folder, prefix);
    // The process id in the name tells a later run whether its owner still runs.
    const std::string pattern = folder + "/" + prefix + std::to_string(::getpid()) + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data()))
        Raise(errnum::PathFileAccess,
              "No folder of its own for the run's work: " + pattern + " (" + std::strerror(errno) + ")");
    path_ = name.data();
}

PrivateFolder::~PrivateFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace torvex::platform
