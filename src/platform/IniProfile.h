#pragma once

#include "platform/FileLock.h"
#include "platform/IniDocument.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace torvex::platform {

// Ini-file access with the Windows profile semantics. Every call goes to the
// file: a parsed file is reused only while the file on disk is unchanged
// (same inode, size and modification time), so a value written by another
// program is seen by the next read, and every write replaces the file
// atomically. An existing file is found case-insensitively when the exact
// name is missing.
//
// Writers are serialised: every read-modify-write of a file runs under an
// exclusive advisory lock on "<file>.lock" beside it (never deleted), which
// every program built on this layer takes, so that several writers of one
// file lose no key. A step (BeginStep ... CommitStep) holds that lock from
// its first read to its one write.
class IniProfile {
public:
    IniProfile() = default;
    IniProfile(const IniProfile&) = delete;
    IniProfile& operator=(const IniProfile&) = delete;

    // The value of `key` in `section`, trimmed and unquoted, or std::nullopt
    // when the file, the section or the key is missing. A file that exists
    // but cannot be read as an ini file (no regular file, not readable, or
    // binary: NUL bytes without the UTF-16LE byte order mark) throws a
    // Failure naming it, once: later calls on the unchanged file read it as
    // missing.
    std::optional<std::string> ReadString(const std::string& path, std::string_view section,
                                          std::string_view key);

    // GetPrivateProfileInt: the value parsed as a base-0 number modulo 2^32
    // (no digits give 0), or `fallback` when the entry is missing or empty.
    std::uint32_t ReadInteger(const std::string& path, std::string_view section, std::string_view key,
                              std::uint32_t fallback);

    // Writes `value` verbatim. A missing file is created (UTF-8); a missing
    // folder is not. A file whose bytes would not change is not replaced.
    // Returns false when nothing could be written: the file is read-only, no
    // regular file, cannot be read, or its lock cannot be had in time.
    // Inside a step the write goes to the step and reaches the file at CommitStep.
    [[nodiscard]] bool WriteString(const std::string& path, std::string_view section, std::string_view key,
                                   std::string_view value);

    // Starts a step on `path`: takes the file's lock and reads the file;
    // reads and writes of `path` then work on the step's copy, so that they
    // see the step's own writes. Throws like ReadString for a file that
    // cannot be read (the step then writes nothing).
    void BeginStep(const std::string& path);
    // Ends the step: writes the file once, when its bytes changed, and
    // releases the lock. Returns false when the changes could not be written.
    [[nodiscard]] bool CommitStep(const std::string& path);
    // Whether `path` names an existing file that can be read as an ini file.
    // Reports nothing: a file that cannot be read throws where it is read.
    bool Readable(const std::string& path);
    // Ends the step without writing anything; the file stays as it was.
    void AbandonStep(const std::string& path) { steps_.erase(path); }

    // Parses the digits of a profile integer as GetPrivateProfileInt does.
    static std::uint32_t ParseProfileInteger(std::string_view text);

    // How long a writer waits for another writer's lock before it gives up.
    static constexpr std::chrono::seconds kLockWait{10};
    // Another wait than kLockWait, for tests.
    void SetLockWait(std::chrono::milliseconds wait) { lockWait_ = wait; }

    // What tells one state of a file from another.
    struct Identity {
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t mtimeSec = 0, mtimeNsec = 0;
        bool operator==(const Identity&) const = default;
    };

private:
    // Thrown by Load for a file that was refused before and has not changed.
    struct Refused {};
    struct Cached {
        Identity identity;
        std::shared_ptr<const IniDocument> doc;
    };
    struct Step {
        std::string target; // the file written: the existing file, links followed
        FileLock lock;
        std::shared_ptr<const IniDocument> original; // nullptr: no file
        std::shared_ptr<IniDocument> doc;            // with the step's writes
        bool refused = false;                        // could not be read: never written
        bool changed = false;                        // the step's writes changed the file's bytes
    };

    // The parsed file at `path` (resolved case-insensitively), or nullptr when
    // there is none; `resolved` gets the file's path. Throws for a file that
    // cannot be read as an ini file.
    std::shared_ptr<const IniDocument> Load(const std::string& path, std::string* resolved);
    void Remember(const std::string& path, std::shared_ptr<const IniDocument> doc);
    Step* OpenStep(const std::string& path);

    std::map<std::string, Cached> cache_;
    std::map<std::string, Identity> refused_;
    std::map<std::string, Step> steps_;
    std::chrono::milliseconds lockWait_ = kLockWait;
};

} // namespace torvex::platform
