// Torvex_ImportJet: brings old Access (Jet) databases of a plant over to the
// SQLite files that Torvex_Config works on.
#include "ConversionChild.h"
#include "platform/FileSystem.h"
#include "platform/database/Connection.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using torvex::importjet::ConvertInChild;
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
           "OUT and FILE.mdb must not be symbolic links.\n"
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

// What tells one state of a file from another: a write changes the change
// time even where it keeps size and last-write time.
std::optional<std::array<long long, 5>> StateOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return std::array<long long, 5>{static_cast<long long>(st.st_dev), static_cast<long long>(st.st_ino),
                                    st.st_size, st.st_mtim.tv_nsec + st.st_mtim.tv_sec * 1000000000LL,
                                    st.st_ctim.tv_nsec + st.st_ctim.tv_sec * 1000000000LL};
}

// Brings one file over; `target` empty means in place.
int ImportFile(const std::string& jet, std::string target) {
    if (!torvex::platform::IsOrdinaryFile(jet)) {
        std::cerr << "Torvex_ImportJet: " << jet << " does not exist\n";
        return kFailed;
    }
    if (StartsLikeSqlite(jet)) {
        std::cout << jet << ": already an SQLite database, left alone\n";
        return kOk;
    }
    if (!torvex::platform::db::IsJetFile(jet)) {
        std::cerr << "Torvex_ImportJet: " << jet << " is neither a Jet nor an SQLite database\n";
        return kFailed;
    }
    const bool inPlace = target.empty();
    const std::string kept = jet + ".jet";
    if (inPlace && IsSymlink(jet)) {
        std::cerr << "Torvex_ImportJet: " << jet << " is a symbolic link; convert the file it points to\n";
        return kFailed;
    }
    if (inPlace && Exists(kept)) {
        std::cerr << "Torvex_ImportJet: " << kept
                  << " exists already (the original of an earlier import); move it away and run again\n";
        return kFailed;
    }
    if (!inPlace && Exists(target)) {
        std::cerr << "Torvex_ImportJet: " << target
                  << (IsSymlink(target) ? " is a symbolic link" : " exists already") << "; give a new file\n";
        return kUsage;
    }
    const std::string work = (inPlace ? jet : target) + ".importing";
    std::cout << jet << ":\n";
    const auto before = StateOf(jet);
    if (!ConvertInChild(jet, work, std::cerr))
        return kFailed;
    // A file that another program wrote meanwhile (a copy still running) may
    // have been read half old, half new, or half missing.
    if (!before || StateOf(jet) != before) {
        std::cerr << "Torvex_ImportJet: " << jet
                  << " changed while it was read (is it still being copied?); nothing was written. Run again "
                     "once it is complete.\n";
        std::error_code ignored;
        fs::remove(work, ignored);
        return kFailed;
    }
    std::error_code ec;
    if (inPlace) {
        // Keep the original under its new name first (a link never replaces an
        // existing file), then put the new file in its place.
        fs::create_hard_link(jet, kept, ec);
        if (!ec) {
            fs::rename(work, jet, ec);
            std::error_code ignored;
            if (ec)
                fs::remove(kept, ignored); // a second name of the unchanged original
        }
        if (!ec)
            std::cout << "  replaced; the original is kept as " << kept << '\n';
    } else if (::renameat2(AT_FDCWD, work.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
        ec.assign(errno, std::generic_category());
    }
    if (ec) {
        std::cerr << "Torvex_ImportJet: " << (inPlace ? jet : target)
                  << " could not be written: " << ec.message() << '\n';
        fs::remove(work, ec);
        return kFailed;
    }
    return kOk;
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
        if (StartsLikeSqlite(*path)) {
            std::cout << *path << ": already an SQLite database, left alone\n";
            continue;
        }
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
