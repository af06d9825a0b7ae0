#include "platform/IniProfile.h"

#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/Termination.h"

#include <cerrno>
#include <ctime>
#include <sys/stat.h>

namespace torvex::platform {
namespace {

bool StatFile(const std::string& path, struct stat& st) {
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
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

namespace {

IniProfile::Identity IdentityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

// A file that holds NUL bytes is no text of any code page: UTF-16 without
// its byte order mark, or a binary file. Read as Windows-1252 it would only
// look empty.
bool LooksBinary(std::string_view bytes) {
    return !bytes.starts_with("\xFF\xFE") && bytes.find('\0') != std::string_view::npos;
}

} // namespace

std::shared_ptr<const IniDocument> IniProfile::Load(const std::string& path, std::string* resolved) {
    struct stat st {};
    std::string actual = path;
    if (path.empty())
        return nullptr;
    if (::stat(actual.c_str(), &st) != 0) {
        auto found = FindExistingFile(path);
        if (!found || ::stat(found->c_str(), &st) != 0)
            return nullptr;
        actual = *found;
    }
    if (resolved)
        *resolved = actual;
    const Identity identity = IdentityOf(st);
    if (auto refused = refused_.find(actual); refused != refused_.end() && refused->second == identity)
        throw Refused{};
    const auto refuse = [&](int number, const std::string& why) {
        refused_[actual] = identity;
        Raise(number, "The file \"" + actual + "\" cannot be read as an ini file: " + why);
    };
    if (!S_ISREG(st.st_mode))
        refuse(errnum::PathFileAccess, DescribeFileError(actual, {}) + ".");
    auto it = cache_.find(actual);
    if (it != cache_.end() && it->second.identity == identity)
        return it->second.doc;
    std::error_code readError;
    auto bytes = ReadWholeFile(actual, &readError);
    if (!bytes)
        refuse(readError == std::errc::permission_denied || readError == std::errc::operation_not_permitted
                   ? errnum::PermissionDenied
                   : errnum::PathFileAccess,
               DescribeFileError(actual, readError) + ".");
    if (LooksBinary(*bytes))
        refuse(errnum::PathFileAccess,
               "it holds NUL bytes (UTF-16 text without its byte order mark, or no text "
               "file at all).");
    auto doc = std::make_shared<const IniDocument>(IniDocument::Parse(*bytes));
    // Only a file that did not change while it was read, and whose time stamp
    // is old enough that a later change in place must show in it, is remembered.
    struct stat after {};
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const bool settled =
        (now.tv_sec - st.st_mtim.tv_sec) * 1000000000LL + (now.tv_nsec - st.st_mtim.tv_nsec) >
        kSettledNanoseconds;
    if (settled && StatFile(actual, after) && IdentityOf(after) == identity && identity.size == bytes->size())
        cache_[actual] = Cached{identity, doc};
    return doc;
}

void IniProfile::Remember(const std::string& path, std::shared_ptr<const IniDocument> doc) {
    struct stat st {};
    if (!StatFile(path, st)) {
        cache_.erase(path);
        return;
    }
    cache_[path] = Cached{IdentityOf(st), std::move(doc)};
}

IniProfile::Step* IniProfile::OpenStep(const std::string& path) {
    auto it = steps_.find(path);
    return it == steps_.end() ? nullptr : &it->second;
}

bool IniProfile::Readable(const std::string& path) {
    try {
        return Load(path, nullptr) != nullptr;
    } catch (...) {
        return false;
    }
}

std::optional<std::string> IniProfile::ReadString(const std::string& path, std::string_view section,
                                                  std::string_view key) {
    if (const Step* step = OpenStep(path)) {
        const IniDocument* doc = step->doc ? step->doc.get() : step->original.get();
        return doc ? doc->Find(section, key) : std::nullopt;
    }
    std::shared_ptr<const IniDocument> doc;
    try {
        doc = Load(path, nullptr);
    } catch (const Refused&) {
        return std::nullopt; // told once already
    }
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
    const bool own = !OpenStep(path);
    if (own) {
        try {
            BeginStep(path);
        } catch (const Failure&) {
            steps_.erase(path);
            return false;
        } catch (const Refused&) {
            steps_.erase(path);
            return false;
        }
    }
    Step& step = *OpenStep(path);
    if (!step.doc)
        step.doc = step.original ? std::make_shared<IniDocument>(*step.original)
                                 : std::make_shared<IniDocument>(IniDocument::Parse(""));
    step.changed = step.doc->Set(section, key, value) || step.changed;
    if (own)
        return CommitStep(path);
    return !step.refused;
}

void IniProfile::BeginStep(const std::string& path) {
    if (path.empty() || OpenStep(path))
        return;
    Step& step = steps_[path];
    step.target = FindExistingFile(path).value_or(path);
    const std::string real = ResolveLinks(step.target);
    switch (step.lock.Acquire(
        real + ".lock", lockWait_, [] { return TerminationSignal() == 0; }, real)) {
    case FileLock::Result::Locked:
        break;
    case FileLock::Result::NoLockFile:
        // A folder that does not let this user make a file: the file in it
        // cannot be replaced either, so the write fails and says so.
        break;
    case FileLock::Result::Unusable:
        step.refused = true;
        Raise(errnum::PathFileAccess, "The file \"" + step.target +
                                          "\" is not written: " + LockFileTrouble(real + ".lock", step.lock));
    case FileLock::Result::Stopped: // the run is ending: nothing is written
        step.refused = true;
        return;
    case FileLock::Result::Busy:
        step.refused = true;
        Raise(errnum::PathFileAccess, "The file \"" + step.target +
                                          "\" is being changed by another program: its " + "lock \"" + real +
                                          ".lock\" was held for " + std::to_string(lockWait_.count() / 1000) +
                                          " s. Nothing was written to it.");
    }
    try {
        step.original = Load(path, nullptr);
    } catch (const Refused&) {
        step.refused = true;
    } catch (...) {
        step.refused = true;
        throw;
    }
}

bool IniProfile::CommitStep(const std::string& path) {
    auto it = steps_.find(path);
    if (it == steps_.end())
        return true;
    Step step = std::move(it->second);
    steps_.erase(it);
    if (!step.doc)
        return true; // nothing was written
    if (step.refused)
        return false;
    if (!step.changed)
        return true; // not one byte changes: the file stays as it is
    if (TryWriteFileAtomic(step.target, step.doc->Serialize())) {
        cache_.erase(step.target);
        return false;
    }
    Remember(step.target, std::move(step.doc));
    return true;
}

} // namespace torvex::platform
