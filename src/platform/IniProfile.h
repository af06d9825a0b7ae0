#pragma once

#include "platform/IniDocument.h"

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
class IniProfile {
public:
    // The value of `key` in `section`, trimmed and unquoted, or std::nullopt
    // when the file, the section or the key is missing.
    std::optional<std::string> ReadString(const std::string& path, std::string_view section,
                                          std::string_view key);

    // GetPrivateProfileInt: the value parsed as a base-0 number modulo 2^32
    // (no digits give 0), or `fallback` when the entry is missing or empty.
    std::uint32_t ReadInteger(const std::string& path, std::string_view section, std::string_view key,
                              std::uint32_t fallback);

    // Writes `value` verbatim. A missing file is created (UTF-8); a missing
    // folder is not. Returns false when nothing could be written.
    bool WriteString(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view value);

    // Parses the digits of a profile integer as GetPrivateProfileInt does.
    static std::uint32_t ParseProfileInteger(std::string_view text);

private:
    struct Cached {
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t mtimeSec = 0, mtimeNsec = 0;
        std::shared_ptr<const IniDocument> doc;
    };
    // The parsed file at `path` (resolved case-insensitively), or nullptr.
    std::shared_ptr<const IniDocument> Load(const std::string& path, std::string* resolved);
    void Remember(const std::string& path, std::shared_ptr<const IniDocument> doc);

    std::map<std::string, Cached> cache_;
};

} // namespace torvex::platform
