#pragma once

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
bool WriteFileAtomic(const std::string& path, std::string_view bytes);

// Copies `source` over `target` atomically (as WriteFileAtomic). Throws a
// platform::Failure (53 file not found, 70 permission denied, 75 path or
// file access error) naming the file that failed.
void CopyFileAtomic(const std::string& source, const std::string& target);

// Replaces `target` atomically by a copy of the open file `sourceFd` and
// keeps the file it replaces as `target` + `backupSuffix` (a second name for
// the old file, which is never written through, or a copy where the file
// system has no links). The backup is replaced only when the target is:
// when anything fails, target and backup stay as they were and no temporary
// file remains. Throws a platform::Failure like CopyFileAtomic.
void ReplaceKeepingBackup(int sourceFd, const std::string& source, const std::string& target,
                          std::string_view backupSuffix);

// Removes the temporary files in `folder` that no running program holds:
// those left behind by a run that was killed.
void RemoveStaleTempFiles(const std::string& folder);

// Appends `text` and CR LF to a text file, creating it when missing.
// Returns false (errno tells why) when the file cannot be opened or written,
// and for a path that is no regular file, which is never opened in a way
// that could block.
bool AppendLine(const std::string& path, std::string_view text);

// The folder part of a path (without the last "/" component); "" for a bare name.
std::string FolderOf(const std::string& path);

} // namespace torvex::platform
