// Torvex_ImportJet: brings old Access (Jet) databases of a plant over to the
// SQLite files that Torvex_Config works on.
#include "ConversionChild.h"
#include "platform/FileSystem.h"
#include "platform/database/Connection.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

using torvex::importjet::ConvertInChild;

constexpr int kOk = 0, kFailed = 1, kUsage = 2;

void Usage(std::ostream& out) {
    out << "Usage:\n"
           "  Torvex_ImportJet FILE.mdb OUT.sqlite      write the SQLite version of FILE.mdb to the new file "
           "OUT\n"
           "  Torvex_ImportJet --in-place FILE.mdb       replace FILE.mdb by its SQLite version; the "
           "original is\n"
           "                                             kept beside it as FILE.mdb.jet\n"
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
           "needs more memory or processor time than a file of its size may.\n"
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
    if (!inPlace && std::filesystem::exists(target)) {
        std::cerr << "Torvex_ImportJet: " << target << " exists already; give a new file\n";
        return kUsage;
    }
    const std::string work = (inPlace ? jet : target) + ".importing";
    std::cout << jet << ":\n";
    if (!ConvertInChild(jet, work, std::cerr))
        return kFailed;
    std::error_code ec;
    if (inPlace) {
        // Keep the original under its new name first, then put the new file in its place.
        const std::string kept = jet + ".jet";
        std::filesystem::remove(kept + ".tmp", ec);
        std::filesystem::create_hard_link(jet, kept + ".tmp", ec);
        if (!ec)
            std::filesystem::rename(kept + ".tmp", kept, ec);
        if (!ec)
            std::filesystem::rename(work, jet, ec);
        if (!ec)
            std::cout << "  replaced; the original is kept as " << kept << '\n';
    } else {
        std::filesystem::rename(work, target, ec);
    }
    if (ec) {
        std::cerr << "Torvex_ImportJet: " << jet << " could not be replaced: " << ec.message() << '\n';
        std::filesystem::remove(work, ec);
        return kFailed;
    }
    return kOk;
}

int ImportComponentFolder(const std::string& folder) {
    std::filesystem::path dir = std::filesystem::path(folder).lexically_normal();
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
