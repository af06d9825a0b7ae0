#include "platform/IniProfile.h"

#include "platform/FileSystem.h"

#include <ctime>
#include <sys/stat.h>

namespace torvex::platform {
namespace {

bool StatFile(const std::string& path, struct stat& st) {
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Matches(const struct stat& st, std::uint64_t device, std::uint64_t inode, std::uint64_t size,
             std::int64_t sec, std::int64_t nsec) {
    return static_cast<std::uint64_t>(st.st_dev) == device &&
           static_cast<std::uint64_t>(st.st_ino) == inode && static_cast<std::uint64_t>(st.st_size) == size &&
           st.st_mtim.tv_sec == sec && st.st_mtim.tv_nsec == nsec;
}

// File time stamps advance in clock ticks, so a file changed in place within
// the same tick could keep its time stamp: such a young file is not cached.
constexpr long long kSettledNanoseconds = 50'000'000;

int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

} // namespace

std::shared_ptr<const IniDocument> IniProfile::Load(const std::string& path, std::string* resolved) {
    struct stat st {};
    std::string actual = path;
    if (!StatFile(actual, st)) {
        auto found = FindExistingFile(path);
        if (!found || !StatFile(*found, st))
            return nullptr;
        actual = *found;
    }
    if (resolved)
        *resolved = actual;
    auto it = cache_.find(actual);
    if (it != cache_.end() && Matches(st, it->second.device, it->second.inode, it->second.size,
                                      it->second.mtimeSec, it->second.mtimeNsec))
        return it->second.doc;
    auto bytes = ReadWholeFile(actual);
    if (!bytes)
        return nullptr;
    auto doc = std::make_shared<const IniDocument>(IniDocument::Parse(*bytes));
    // Only a file that did not change while it was read, and whose time stamp
    // is old enough that a later change in place must show in it, is remembered.
    struct stat after {};
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const bool settled =
        (now.tv_sec - st.st_mtim.tv_sec) * 1000000000LL + (now.tv_nsec - st.st_mtim.tv_nsec) >
        kSettledNanoseconds;
    if (settled && StatFile(actual, after) &&
        Matches(after, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                bytes->size(), st.st_mtim.tv_sec, st.st_mtim.tv_nsec))
        Remember(actual, doc);
    return doc;
}

void IniProfile::Remember(const std::string& path, std::shared_ptr<const IniDocument> doc) {
    struct stat st {};
    if (!StatFile(path, st)) {
        cache_.erase(path);
        return;
    }
    cache_[path] = Cached{static_cast<std::uint64_t>(st.st_dev),
                          static_cast<std::uint64_t>(st.st_ino),
                          static_cast<std::uint64_t>(st.st_size),
                          st.st_mtim.tv_sec,
                          st.st_mtim.tv_nsec,
                          std::move(doc)};
}

std::optional<std::string> IniProfile::ReadString(const std::string& path, std::string_view section,
                                                  std::string_view key) {
    auto doc = Load(path, nullptr);
    if (!doc)
        return std::nullopt;
    return doc->Find(section, key);
}

std::uint32_t IniProfile::ParseProfileInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\v'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == '0') {
        const char p = text[i + 1];
        base = (p == 'x' || p == 'X') ? 16 : (p == 'o' || p == 'O') ? 8 : (p == 'b' || p == 'B') ? 2 : 10;
        if (base != 10 && i + 2 < text.size() && DigitValue(text[i + 2]) < static_cast<int>(base))
            i += 2;
        else
            base = 10;
    }
    std::uint32_t value = 0;
    for (; i < text.size(); ++i) {
        const int d = DigitValue(text[i]);
        if (d >= static_cast<int>(base))
            break;
        value = value * base + static_cast<std::uint32_t>(d);
    }
    return negative ? 0u - value : value;
}

std::uint32_t IniProfile::ReadInteger(const std::string& path, std::string_view section, std::string_view key,
                                      std::uint32_t fallback) {
    auto value = ReadString(path, section, key);
    if (!value || value->empty())
        return fallback;
    return ParseProfileInteger(*value);
}

bool IniProfile::WriteString(const std::string& path, std::string_view section, std::string_view key,
                             std::string_view value) {
    if (path.empty())
        return false;
    std::string target = path;
    auto old = Load(path, &target);
    if (!old && FindExistingFile(path))
        return false; // exists but cannot be read: never replace it by a new file
    IniDocument doc = old ? *old : IniDocument::Parse("");
    doc.Set(section, key, value);
    if (!WriteFileAtomic(target, doc.Serialize())) {
        cache_.erase(target);
        return false;
    }
    Remember(target, std::make_shared<const IniDocument>(std::move(doc)));
    return true;
}

} // namespace torvex::platform
