#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace torvex::platform {

// True when `path` names an existing ordinary file (not a folder or device).
bool IsOrdinaryFile(const std::string& path);

// Returns the path of the ordinary file that `path` names: `path` itself
// when it exists as given, otherwise the first match found by comparing each
// path component without regard to letter case (files copied over from
// Windows keep their own spelling); std::nullopt when there is none.
std::optional<std::string> FindExistingFile(const std::string& path);

// The whole content of a file, or std::nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Replaces (or creates) `path` with `bytes` atomically: a temporary file in
// the same folder is written, flushed and renamed over the target, keeping
// the target's permission bits. Returns false, leaving any old file as it
// was, when the file is read-only, the folder is missing or not writable, or
// the disk is full.
bool WriteFileAtomic(const std::string& path, std::string_view bytes);

// Copies `source` over `target` atomically (as WriteFileAtomic). Throws a
// platform::Failure (53 file not found, 70 permission denied, 75 path or
// file access error) naming the file that failed.
void CopyFileAtomic(const std::string& source, const std::string& target);

// Makes `backup` a copy of `path` as it is now, replacing an older backup
// atomically: a second name for the same file where the file system allows
// it (the file itself is then replaced, never changed, by the caller), a
// full copy otherwise. Throws a platform::Failure like CopyFileAtomic.
void KeepPreviousVersion(const std::string& path, const std::string& backup);

// Appends `text` and CR LF to a text file, creating it when missing.
// Returns false when the file cannot be opened or written.
bool AppendLine(const std::string& path, std::string_view text);

// The folder part of a path (without the last "/" component); "" for a bare name.
std::string FolderOf(const std::string& path);

} // namespace torvex::platform
