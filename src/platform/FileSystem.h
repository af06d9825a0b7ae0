#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace torvex::platform {

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
// or the text of `err` otherwise; for messages that say why a file was refused.
std::string DescribeFileError(const std::string& path, int err);

// Returns the path of the ordinary file that `path` names: `path` itself
// when it exists as given, otherwise the first match found by comparing each
// path component without regard to letter case (files copied over from
// Windows keep their own spelling); std::nullopt when there is none.
std::optional<std::string> FindExistingFile(const std::string& path);

// The file that writing to `path` changes: symbolic links are followed to
// the file they name (which need not exist yet).
std::string ResolveLinks(const std::string& path);

// The whole content of a regular file, or std::nullopt when it cannot be
// read (errno tells why; a special file is never opened in a way that blocks).
std::optional<std::string> ReadWholeFile(const std::string& path);

// Replaces (or creates) `path` with `bytes` atomically: a temporary file in
// the same folder is written, flushed and renamed over the target, keeping
// the target's permission bits and owner, and the folder is flushed. A
// symbolic link is written through: the file it names is replaced. Returns
// false, leaving any old file as it was, when the file is read-only or no
// regular file, the folder is missing or not writable, or the disk is full.
[[nodiscard]] bool WriteFileAtomic(const std::string& path, std::string_view bytes);

// A temporary file in a folder, locked for as long as it exists. It is made
// without a name where the file system allows it, so that a run killed
// while writing leaves nothing behind, and gets its name when it is needed
// (to open it by path, or to rename it over its target). Whatever is not
// renamed is removed again. The methods return 0 or the errno of the failure.
class TempFile {
public:
    TempFile() = default;
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    [[nodiscard]] int Create(const std::string& folder);
    int Descriptor() const { return fd_; }
    // The folder it was created in.
    const std::string& Folder() const { return folder_; }
    // The file's path; "" when it cannot be given a name.
    const std::string& Path();
    // Copies what can be read from `fd`, from its start.
    [[nodiscard]] int CopyFrom(int fd);
    // Gives it the permission bits, owner and group of `like` when that file
    // exists (the default mode otherwise; a user who may not give the owner
    // still gives the group when a member of it) and, when given, that
    // last-write time; then flushes it to disk, unless told not to.
    [[nodiscard]] int Finish(const std::string& like, const timespec* lastWrite = nullptr, bool flush = true);
    // Renames it over `target`; when not to `replace`, EEXIST when there is
    // a file there (made meanwhile by someone else).
    [[nodiscard]] int RenameOver(const std::string& target, bool replace = true);

private:
    int GiveName();
    std::string folder_;
    int fd_ = -1;
    std::string name_;
};

// 0 when `path` may be replaced by a new file; otherwise the errno that
// says why not: it is no regular file (ENXIO), or read-only (EACCES),
// although its folder would allow replacing it.
[[nodiscard]] int Replaceable(const std::string& path);

// Flushes the folder of `path`, so that renames in it are on disk. Returns 0 or errno.
[[nodiscard]] int SyncFolderOf(const std::string& path);

// Throws the failure for an errno of a file operation on `path`: 70
// permission denied, 75 path or file access error (naming what the file is
// when it is no regular file).
[[noreturn]] void RaiseFileError(int err, const std::string& path);

// Opens a regular file for reading without blocking on a FIFO or a device;
// -1 with errno (ENXIO for a path that is no regular file) when it cannot.
[[nodiscard]] int OpenForReading(const std::string& path);

// Removes the temporary files in `folder` that no running program holds:
// those left behind by a run that was killed.
void RemoveStaleTempFiles(const std::string& folder);

// Appends `text` and CR LF to a text file, creating it when missing.
// Returns false (errno tells why) when the file cannot be opened or written,
// and for a path that is no regular file, which is never opened in a way
// that could block.
[[nodiscard]] bool AppendLine(const std::string& path, std::string_view text);

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
