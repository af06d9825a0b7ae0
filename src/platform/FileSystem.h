#pragma once

#include <cerrno>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace torvex::platform {

// Each file operation that can fail comes in two forms, as std::filesystem
// pairs them: the plain form throws the program's file Failure
// (RaiseFileError), naming the file the caller works on; the Try form
// returns why it failed, for a caller that decides what that means. An
// empty std::error_code is success. Questions (IsOrdinaryFile,
// ReadWholeFile) answer and do not fail.

// `err` (errno by default) as an error code.
inline std::error_code Errno(int err = errno) {
    return {err, std::generic_category()};
}

// Throws the failure for a file operation on `path` that failed with `why`:
// 70 permission denied, 75 path or file access error (naming what the file
// is when it is no regular file).
[[noreturn]] void RaiseFileError(std::error_code why, const std::string& path);

// Throws the failure (75) for a copy of `source` that could not be written
// in `folder` (a full disk, a size limit): the copy's trouble, not the source's.
[[noreturn]] void RaiseCopyFailure(const std::string& source, const std::string& folder, std::error_code why);

// A file descriptor of its own, closed when it goes (which lets go of every
// POSIX lock this process holds on the file).
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.Release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1);

private:
    int fd_;
};

// Every temporary file the program writes is named with this prefix and
// stays locked (flock) by its writer while it exists, so that a later run
// can tell a file left by a killed run from one that is being written.
inline constexpr std::string_view kTempPrefix = ".torvex-tmp-";

// True when `path` names an existing ordinary file (not a folder or device).
bool IsOrdinaryFile(const std::string& path);

// True when `path` exists but is no regular file: a FIFO, a device, a
// folder or a socket. Such a path is never opened for reading or writing.
bool IsSpecialFile(const std::string& path);

// What `path` is when it is no regular file ("a FIFO", "a device", ...),
// or the text of `why` otherwise; for messages that say why a file was refused.
std::string DescribeFileError(const std::string& path, std::error_code why);

// Returns the path of the ordinary file that `path` names: `path` itself
// when it exists as given, otherwise the first match found by comparing each
// path component without regard to letter case (files copied over from
// Windows keep their own spelling); std::nullopt when there is none.
std::optional<std::string> FindExistingFile(const std::string& path);

// The file that writing to `path` changes: symbolic links are followed to
// the file they name (which need not exist yet).
std::string ResolveLinks(const std::string& path);

// The whole content of a regular file, or std::nullopt when it cannot be
// read (and why, when asked; a special file is never opened in a way that
// blocks).
std::optional<std::string> ReadWholeFile(const std::string& path, std::error_code* why = nullptr);

// Replaces (or creates) `path` with `bytes` atomically: a temporary file in
// the same folder is written, flushed and renamed over the target, keeping
// the target's permission bits and owner, and the folder is flushed. A
// symbolic link is written through: the file it names is replaced. Fails,
// leaving any old file as it was, when the file is read-only or no regular
// file, the folder is missing or not writable, or the disk is full.
[[nodiscard]] std::error_code TryWriteFileAtomic(const std::string& path, std::string_view bytes);

// A temporary file in a folder, locked for as long as it exists. It is made
// without a name where the file system allows it, so that a run killed
// while writing leaves nothing behind, and gets its name when it is needed
// (to open it by path, or to rename it over its target). Whatever is not
// renamed is removed again. It holds new content for the file it stands
// for, which the failures of the throwing forms name (its folder before it
// stands for one).
class TempFile {
public:
    explicit TempFile(std::string standsFor = {}) : standsFor_(std::move(standsFor)) {}
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    void StandFor(std::string path) { standsFor_ = std::move(path); }

    void Create(const std::string& folder);
    [[nodiscard]] std::error_code TryCreate(const std::string& folder);
    int Descriptor() const { return fd_; }
    // The folder it was created in.
    const std::string& Folder() const { return folder_; }
    // The file's path; "" when it cannot be given a name.
    const std::string& Path();
    // Copies what can be read from `fd`, from its start.
    void CopyFrom(int fd);
    [[nodiscard]] std::error_code TryCopyFrom(int fd);
    // Writes `bytes` at its end.
    [[nodiscard]] std::error_code TryWrite(std::string_view bytes);
    // Gives it the permission bits, owner and group of `like` when that file
    // exists (the default mode otherwise; a user who may not give the owner
    // still gives the group when a member of it) and, when given, that
    // last-write time; then flushes it to disk, unless told not to.
    void Finish(const std::string& like, const timespec* lastWrite = nullptr, bool flush = true);
    [[nodiscard]] std::error_code TryFinish(const std::string& like, const timespec* lastWrite = nullptr,
                                            bool flush = true);
    // Renames it over `target` (a failure names `target`); when not to
    // `replace`, fails with std::errc::file_exists when there is a file
    // there (made meanwhile by someone else).
    void RenameOver(const std::string& target, bool replace = true);
    [[nodiscard]] std::error_code TryRenameOver(const std::string& target, bool replace = true);

private:
    [[noreturn]] void Raise(std::error_code why) const;
    std::error_code GiveName();
    std::string standsFor_;
    std::string folder_;
    int fd_ = -1;
    std::string name_;
};

// Fails unless `path` may be replaced by a new file: when it is no regular
// file (ENXIO), or read-only (EACCES) although its folder would allow
// replacing it.
void CheckReplaceable(const std::string& path);
[[nodiscard]] std::error_code TryCheckReplaceable(const std::string& path);

// Flushes the folder of `path`, so that renames in it are on disk; a
// failure names the folder.
void SyncFolderOf(const std::string& path);
[[nodiscard]] std::error_code TrySyncFolderOf(const std::string& path);

// Opens a regular file for reading without blocking on a FIFO or a device;
// a path that is no regular file fails with ENXIO.
Descriptor OpenForReading(const std::string& path);
[[nodiscard]] std::error_code TryOpenForReading(const std::string& path, Descriptor& opened);

// Writes all of `bytes` to `fd`, resuming after a short write.
[[nodiscard]] std::error_code TryWriteAll(int fd, std::string_view bytes);

// Removes the temporary files in `folder` that no running program holds:
// those left behind by a run that was killed.
void RemoveStaleTempFiles(const std::string& folder);

// Gives the file open as `fd`, which this run has just made, the read and
// write bits and the group of `like` (a file or folder), whatever the umask
// and as far as the user may, so that whoever may write `like` may write
// the new file too (the other operators of a plant's group). False when
// `like` cannot be looked at: the file stays as it was made.
bool ShareLike(int fd, const std::string& like);

// Appends `text` and CR LF to a text file, creating it when missing (shared
// like its folder, see ShareLike). Fails when the file cannot be opened or
// written, and for a path that is no regular file, which is never opened in
// a way that could block.
[[nodiscard]] std::error_code TryAppendLine(const std::string& path, std::string_view text);

// A folder of this run's own under $TMPDIR (or /tmp), removed with
// everything in it; those of the same purpose that killed runs left behind
// are removed when the next one is made. Making it throws a Failure (75)
// when it cannot be made.
class PrivateFolder {
public:
    explicit PrivateFolder(std::string_view purpose);
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// The folder part of a path (without the last "/" component); "" for a bare name.
std::string FolderOf(const std::string& path);

} // namespace torvex::platform
