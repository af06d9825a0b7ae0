#include "platform/database/ReadCopy.h"

#include "platform/FileSystem.h"
#include "platform/database/Connection.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace torvex::platform::db {
namespace {

// The bytes that SQLite locks in a database file, and in the shared memory
// of a write-ahead log the read lock of a reader that reads the file alone:
// while it is held, no checkpoint writes into the file.
constexpr off_t kPendingByte = 0x40000000;
constexpr off_t kReservedByte = kPendingByte + 1;
constexpr off_t kSharedFirst = kPendingByte + 2;
constexpr off_t kSharedSize = 510;
constexpr off_t kWalReadLock0 = 120 + 3;
// How long a busy file is waited for, as a statement waits.
constexpr auto kWait = std::chrono::milliseconds(3000);

// Open-file-description locks: they belong to this descriptor only, so
// closing another descriptor of the same file (SQLite's, in this process)
// never drops them, and they meet SQLite's own locks of other processes.
bool SetLock(int fd, short type, off_t start, off_t length) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool HeldByAnother(int fd, off_t start, off_t length) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    return ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

[[noreturn]] void Fail(int code, const std::string& what, const std::string& path, int err = 0) {
    throw Failure(code, kDatabaseSource,
                  what + ": " + path + (err != 0 ? " (" + std::string(std::strerror(err)) + ")" : ""));
}

// Waits until `take` succeeds; a lock that stays taken is SQLite's "busy".
template <class Take> void WaitFor(Take take, const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (!take()) {
        if (errno != EAGAIN && errno != EACCES)
            Fail(SQLITE_IOERR_LOCK, "the file could not be locked for reading", path, errno);
        if (std::chrono::steady_clock::now() > deadline)
            Fail(SQLITE_BUSY, "database is locked", path);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Copies the open file `in` to the new file `to`.
void CopyFile(int in, const std::string& to, const std::string& source) {
    const Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.Get() < 0)
        RaiseCopyFailure(source, FolderOf(to), Errno());
    char buffer[1 << 16];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(in, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            Fail(SQLITE_IOERR_READ, "disk I/O error", source, errno);
        if (n == 0)
            return;
        if (const auto why = TryWriteAll(out.Get(), std::string_view(buffer, static_cast<std::size_t>(n))))
            RaiseCopyFailure(source, FolderOf(to), why);
        at += n;
    }
}

// Copies a file beside the database when there is one; false when there is none.
bool CopySideFile(const std::string& path, const std::string& to) {
    Descriptor in;
    if (const auto why = TryOpenForReading(path, in)) {
        if (why == std::errc::no_such_file_or_directory)
            return false;
        Fail(SQLITE_CANTOPEN, "unable to open", path, why.value());
    }
    CopyFile(in.Get(), to, path);
    return true;
}

// One attempt; false when a connection to a write-ahead log appeared
// meanwhile, whose checkpoints nothing kept from the file.
bool CopyOnce(const std::string& source, const std::string& into) {
    Descriptor db;
    if (const auto why = TryOpenForReading(source, db)) {
        const bool special = why == std::errc::no_such_device_or_address;
        Fail(SQLITE_CANTOPEN, special ? "not a regular file" : "unable to open database file", source,
             special ? 0 : why.value());
    }
    // SQLite's shared lock: the pending byte first, so that a writer waiting
    // for its exclusive lock goes first.
    WaitFor(
        [&] {
            if (!SetLock(db.Get(), F_RDLCK, kPendingByte, 1))
                return false;
            const bool shared = SetLock(db.Get(), F_RDLCK, kSharedFirst, kSharedSize);
            const int err = errno;
            SetLock(db.Get(), F_UNLCK, kPendingByte, 1);
            errno = err;
            return shared;
        },
        source);
    const std::string shmPath = source + "-shm";
    Descriptor shm;
    const bool hadShm = !TryOpenForReading(shmPath, shm);
    if (hadShm)
        WaitFor([&] { return SetLock(shm.Get(), F_RDLCK, kWalReadLock0, 1); }, source);
    CopyFile(db.Get(), into, source);
    CopySideFile(source + "-wal", into + "-wal");
    // A journal is a crashed writer's only while nobody holds the reserved
    // lock; a live writer's journal holds nothing the file lacks.
    if (!HeldByAnother(db.Get(), kReservedByte, 1))
        CopySideFile(source + "-journal", into + "-journal");
    return hadShm || !Exists(shmPath);
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

void CopyDatabaseFiles(const std::string& source, const std::string& into) {
    for (int attempt = 0;; ++attempt) {
        if (CopyOnce(source, into))
            return;
        for (const char* suffix : {"", "-wal", "-journal"})
            ::unlink((into + suffix).c_str());
        if (attempt == 100)
            Fail(SQLITE_BUSY, "database is locked", source);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

ReadCopy::ReadCopy(std::string original) : original_(std::move(original)) {
    try {
        folder_ = std::make_unique<PrivateFolder>("read");
        copyPath_ = folder_->Path() + "/" + FileNameOf(original_);
        CopyDatabaseFiles(original_, copyPath_);
        // Rolls back or recovers, in the copy, what a crashed writer left.
        Connection recovered(copyPath_, OpenMode::Recover);
    } catch (const Failure& failure) {
        failure_ = Renamed(failure);
    }
}

ReadCopy::~ReadCopy() = default;

const std::string& ReadCopy::Path() const {
    if (failure_)
        throw *failure_;
    return copyPath_;
}

Failure ReadCopy::Renamed(const Failure& failure) const {
    std::string text = failure.Description();
    if (!copyPath_.empty())
        for (auto at = text.find(copyPath_); at != std::string::npos;
             at = text.find(copyPath_, at + original_.size()))
            text.replace(at, copyPath_.size(), original_);
    return Failure(failure.Number(), failure.Source(), text);
}

} // namespace torvex::platform::db
