// Torvex_ImportJet: brings old Access (Jet) databases of a plant over to the
// SQLite files that Torvex_Config works on.
#include "ConversionChild.h"
#include "LockedFile.h"
#include "platform/FileSystem.h"
#include "platform/database/Connection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <iostream>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using torvex::importjet::ConvertInChild;
using torvex::importjet::LockedFile;
using torvex::platform::Errno;
using torvex::platform::TempFile;
namespace fs = std::filesystem;

constexpr int kOk = 0, kFailed = 1, kUsage = 2;

void Usage(std::ostream& out) {
    out << "Usage:\n"
           "  Torvex_ImportJet FILE.mdb OUT.sqlite      write the SQLite version of FILE.mdb to the new file "
           "OUT\n"
           "  Torvex_ImportJet --in-place FILE.mdb       replace FILE.mdb by its SQLite version; the "
           "original is\n"
           "                                             kept beside it as FILE.mdb.jet, which must not "
           "exist yet\n"
           "  Torvex_ImportJet --component-folder DIR    convert, in place, every Jet file among the "
           "component's\n"
           "                                             databases in DIR (DIR/<C>_Source.mdb and "
           "DIR/<C>.mdb,\n"
           "                                             C being the name of DIR)\n"
           "  Torvex_ImportJet --help\n"
           "Every table keeps its name, its columns in their order and every row. A file that is already "
           "SQLite\n"
           "is left alone. Only a whole file is converted: one that is cut short, or whose tables yield "
           "fewer or\n"
           "more rows than they count, is refused, and nothing is written or replaced; so is one whose "
           "reading\n"
           "needs more memory or processor time than a file of its size may. An existing FILE.mdb.jet (the\n"
           "original of an earlier import) is never overwritten: the import refuses until it is moved away.\n"
           "OUT and FILE.mdb must not be symbolic links. The converted file gets the mode, owner and "
           "group of FILE.mdb\n"
           "as far as the user may. One import of a file at a time: a second one waits 3 s, then "
           "refuses.\n"
           "Exit status: 0 done (or nothing to do), 1 a file could not be converted, 2 wrong use.\n";
}

bool StartsLikeSqlite(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    char head[16] = {};
    const bool sqlite =
        std::fread(head, 1, sizeof head, f) == sizeof head && std::memcmp(head, "SQLite format 3", 16) == 0;
    std::fclose(f);
    return sqlite;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

bool IsSymlink(const std::string& path) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec));
}

// How long a second import of a file waits for the first.
constexpr std::chrono::seconds kLockWait{3};

std::string OwnerText(uid_t uid, gid_t gid) {
    const passwd* user = ::getpwuid(uid);
    std::string text = user ? user->pw_name : std::to_string(uid);
    const group* grp = ::getgrgid(gid);
    return text + ":" + (grp ? grp->gr_name : std::to_string(gid));
}

// Gives the work file the mode, owner and group of the original as far as
// the user may (root all of them, the file's owner a group of theirs), then
// flushes it. Where the group cannot be kept, it gets no access: its
// members are not the ones the original let in (nor does a set-user- or
// set-group-ID bit pass to another owner or group). `warning` says what
// could not be kept.
std::error_code TakeModeAndOwner(TempFile& work, const std::string& jet, const struct stat& old,
                                 std::string& warning) {
    const int fd = work.Descriptor();
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        return Errno();
    // Compared with the file's own ids, not the user's: it may have another
    // group from the start (a folder with the set-group-ID bit).
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) && ::fchown(fd, old.st_uid, old.st_gid) != 0 &&
        now.st_gid != old.st_gid)
        (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    if (::fstat(fd, &now) != 0)
        return Errno();
    // One change of mode, after the owner: the set-ID bits never stand,
    // not even for a moment, on a file of another owner or group.
    mode_t mode = old.st_mode & 07777;
    if (now.st_uid != old.st_uid)
        mode &= ~mode_t{04000};
    if (now.st_gid != old.st_gid)
        mode &= ~mode_t{02070};
    if (::fchmod(fd, mode) != 0)
        return Errno();
    if (now.st_uid != old.st_uid || now.st_gid != old.st_gid)
        warning = "Torvex_ImportJet: warning: " + jet + " belongs to " + OwnerText(now.st_uid, now.st_gid) +
                  ", its original to " + OwnerText(old.st_uid, old.st_gid) +
                  " (only root can give a file to another user, and a user only to a group of theirs)" +
                  (now.st_gid != old.st_gid ? "; its group has no access to it" : "") + "\n";
    return ::fsync(fd) == 0 ? std::error_code() : Errno();
}

// Gives the locked original the name `kept` as well (never replacing
// anything there); by its descriptor, so that it is the file that was read.
std::error_code KeepOriginal(int fd, const std::string& jet, const std::string& kept) {
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, kept.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return {};
    const std::error_code why = Errno();
    if (why != std::errc::no_such_file_or_directory || ::access("/proc/self/fd", F_OK) == 0)
        return why;
    return ::link(jet.c_str(), kept.c_str()) == 0 ? std::error_code() : Errno();
}

// Puts the converted work file in the place of `jet`, with the original's
// mode, owner and group, and keeps the original as `jet`.jet.
std::error_code ReplaceOriginal(const std::string& jet, TempFile& work, const LockedFile& original) {
    std::string warning;
    if (const auto why = TakeModeAndOwner(work, jet, original.State(), warning))
        return why;
    const std::string kept = jet + ".jet";
    if (const auto why = KeepOriginal(original.Descriptor(), jet, kept))
        return why;
    if (const auto why = work.TryRenameOver(jet)) {
        ::unlink(kept.c_str()); // a second name of the unchanged original
        return why;
    }
    (void)torvex::platform::TrySyncFolderOf(jet);
    std::cout << "  replaced; the original is kept as " << kept << '\n';
    std::cerr << warning;
    return {};
}

// Converts the locked `jet` into a work file beside the file written, which
// takes its place only when it is complete; `target` empty means in place.
int Convert(const std::string& jet, const std::string& target, const LockedFile& original) {
    const bool inPlace = target.empty();
    const std::string written = inPlace ? jet : target;
    const std::string folder = torvex::platform::FolderOf(written);
    torvex::platform::RemoveStaleTempFiles(folder); // left by an import that was killed
    TempFile work;
    std::error_code why = work.TryCreate(folder);
    if (!why && work.Path().empty())
        why = Errno(errno ? errno : EIO);
    if (why) {
        std::cerr << "Torvex_ImportJet: " << written << " could not be written: " << why.message() << '\n';
        return kFailed;
    }
    std::cout << jet << ":\n";
    if (!ConvertInChild(jet, work.Path(), std::cerr))
        return kFailed;
    // A file that another program wrote meanwhile (a copy still running) may
    // have been read half old, half new, or half missing.
    if (!original.Unchanged()) {
        std::cerr << "Torvex_ImportJet: " << jet
                  << " changed while it was read (is it still being copied?); nothing was written. Run again "
                     "once it is complete.\n";
        return kFailed;
    }
    if (inPlace)
        why = ReplaceOriginal(jet, work, original);
    else if (!(why = work.TryFinish("")) && !(why = work.TryRenameOver(target, false)))
        (void)torvex::platform::TrySyncFolderOf(target); // its new name on disk, as in place
    if (why) {
        std::cerr << "Torvex_ImportJet: " << written << " could not be written: " << why.message() << '\n';
        return kFailed;
    }
    return kOk;
}

// Why `jet` is not to be converted (and the exit status), or std::nullopt.
// Asked again once the lock is held: the import waited for may have
// converted the file meanwhile.
std::optional<int> Refusal(const std::string& jet, bool inPlace) {
    if (StartsLikeSqlite(jet)) {
        std::cout << jet << ": already an SQLite database, left alone\n";
        return kOk;
    }
    if (!torvex::platform::db::IsJetFile(jet)) {
        std::cerr << "Torvex_ImportJet: " << jet << " is neither a Jet nor an SQLite database\n";
        return kFailed;
    }
    if (inPlace && IsSymlink(jet)) {
        std::cerr << "Torvex_ImportJet: " << jet << " is a symbolic link; convert the file it points to\n";
        return kFailed;
    }
    if (inPlace && Exists(jet + ".jet")) {
        std::cerr << "Torvex_ImportJet: " << jet
                  << ".jet exists already (the original of an earlier import); move it away and run again\n";
        return kFailed;
    }
    return std::nullopt;
}

// Why the import of `jet` is refused before it is locked (and the exit
// status), or std::nullopt; `target` empty means in place, otherwise it must
// name no file yet.
std::optional<int> RefusalBeforeLock(const std::string& jet, const std::string& target) {
    if (!torvex::platform::IsOrdinaryFile(jet)) {
        std::cerr << "Torvex_ImportJet: " << jet << " does not exist\n";
        return kFailed;
    }
    const bool inPlace = target.empty();
    if (auto refused = Refusal(jet, inPlace))
        return refused;
    if (!inPlace && Exists(target)) {
        std::cerr << "Torvex_ImportJet: " << target
                  << (IsSymlink(target) ? " is a symbolic link" : " exists already") << "; give a new file\n";
        return kUsage;
    }
    return std::nullopt;
}

// Locks `jet` into `original`, exclusively when it is replaced in place,
// waiting kLockWait for an import that holds it. False, with the reason
// told, when it stays unlocked.
bool LockOriginal(LockedFile& original, const std::string& jet, bool inPlace) {
    switch (original.Acquire(jet, inPlace, inPlace, kLockWait)) {
    case LockedFile::Result::Locked:
        return true;
    case LockedFile::Result::Busy:
        std::cerr << "Torvex_ImportJet: " << jet << " is in use by another import ("
                  << (original.Holder().empty() ? "or program" : original.Holder())
                  << "); nothing was changed. Run again when it has finished.\n";
        return false;
    case LockedFile::Result::Failed:
        std::cerr << "Torvex_ImportJet: " << jet << " cannot be read: " << std::strerror(errno) << '\n';
        return false;
    }
    return false;
}

// Brings one file over; `target` empty means in place.
int ImportFile(const std::string& jet, const std::string& target) {
    if (auto refused = RefusalBeforeLock(jet, target))
        return *refused;
    const bool inPlace = target.empty();
    // One import replaces a file at a time; imports that only read it may share it.
    LockedFile original;
    if (!LockOriginal(original, jet, inPlace))
        return kFailed;
    if (auto refused = Refusal(jet, inPlace))
        return *refused;
    return Convert(jet, target, original);
}

int ImportComponentFolder(const std::string& folder) {
    // The component is the folder's name, also when it is given as "." from
    // inside it.
    std::error_code ec;
    fs::path dir = fs::absolute(folder, ec).lexically_normal();
    if (dir.filename().empty())
        dir = dir.parent_path(); // a trailing "/"
    const std::string component = dir.filename().string();
    int result = kOk;
    bool any = false;
    for (const std::string& name : {component + "_Source.mdb", component + ".mdb"}) {
        const auto path = torvex::platform::FindExistingFile(folder + "/" + name);
        if (!path)
            continue;
        any = true;
        result = std::max(result, ImportFile(*path, ""));
    }
    if (!any)
        std::cout << "No databases of the component " << component << " in " << folder << '\n';
    return result;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        Usage(std::cout);
        return kOk;
    }
    if (args.size() == 2 && args[0] == "--in-place")
        return ImportFile(args[1], "");
    if (args.size() == 2 && args[0] == "--component-folder")
        return ImportComponentFolder(args[1]);
    if (args.size() == 2 && !args[0].starts_with("--") && !args[1].starts_with("--"))
        return ImportFile(args[0], args[1]);
    Usage(std::cerr);
    return kUsage;
}
