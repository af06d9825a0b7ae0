#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "runtime/Guard.h"
#include "runtime/Runtime.h"

namespace torvex::runtime {

namespace {

std::string UnderFolder(const std::string& folder, std::string_view rest) {
    return folder + (folder.ends_with('/') ? "" : "/") + std::string(rest);
}

} // namespace

// The existing file at `path`, or "" when there is none. Something there
// that is no regular file (a FIFO, a device, a folder) is never opened: it
// is a failure that names it, the first time; then it is as if there were
// none.
std::string Runtime::ExistingOrEmpty(const std::string& path) const {
    if (platform::IsSpecialFile(path)) {
        if (refusedPaths_.insert(path).second)
            platform::Raise(platform::errnum::PathFileAccess, WhyNotThere(path));
        return {};
    }
    return platform::FindExistingFile(path).value_or("");
}

std::string Runtime::WhyNotThere(const std::string& path) {
    return "\"" + path + "\" " +
           (platform::IsSpecialFile(path) ? "is not used: " + platform::DescribeFileError(path, {})
                                          : std::string("does not exist")) +
           ".";
}

std::string Runtime::ComponentFile(std::string_view suffix) {
    // Asks for the component name anew on every use, as every path does.
    const std::string c = GetOCXName();
    return InstallationFolder() + "/" + c + "/" + c + std::string(suffix);
}

std::string Runtime::GetHX5ConfigurationIniPath() {
    Guard guard(*this, "GetHX5ConfigurationIniPath");
    return guard.Value(
        "", [&] { return ExistingOrEmpty(InstallationFolder() + "/parameter/hx5configuration.ini"); });
}

std::string Runtime::GetProgramIniPath(IniUse use) {
    Guard guard(*this, "GetProgramIniPath");
    return guard.Value("", [&] {
        if (use == IniUse::Reading && IntegratedMode()) {
            const std::string s =
                LoadIniString("Common", "SaveAndRestore", GetHX5ConfigurationIniPath(), false);
            return ExistingOrEmpty(UnderFolder(s, "parameter/program.ini"));
        }
        return ExistingOrEmpty(InstallationFolder() + "/parameter/Program.ini");
    });
}

std::string Runtime::GetCFGPath() {
    std::string path;
    {
        Guard guard(*this, "GetCFGPath");
        std::string composed;
        guard([&] {
            composed = ComponentFile(".cfg");
            path = ExistingOrEmpty(composed);
        });
        if (!path.empty())
            return path;
        if (!platform::IsSpecialFile(composed)) // a folder or the like there was reported as such
            ShowOrLogMessage("File not found: " + std::string(LFCR) + platform::UpperCase(composed));
    }
    EndProgram();
}

std::string Runtime::GetPathOCXMDB() {
    Guard guard(*this, "GetPathOCXMDB");
    return guard.Value("", [&] {
        const std::string path = ComponentFile(".mdb");
        return platform::FindExistingFile(path).value_or(path);
    });
}

std::string Runtime::GetPathSourceOCXMDB() {
    Guard guard(*this, "GetPathSourceOCXMDB");
    return guard.Value("", [&] { return ExistingOrEmpty(ComponentFile("_Source.mdb")); });
}

std::string Runtime::GetPathMachineCopyMDB(const std::string& configurationIniPath) {
    Guard guard(*this, "GetPathMachineCopyMDB");
    return guard.Value("", [&] {
        const std::string s = LoadIniString("Common", "SaveAndRestore", configurationIniPath, false);
        const std::string c = GetOCXName();
        return ExistingOrEmpty(UnderFolder(s, c + "/" + c + ".mdb"));
    });
}

std::string Runtime::GetFileNameOnly(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace torvex::runtime
