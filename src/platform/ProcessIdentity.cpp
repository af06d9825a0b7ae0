#include "platform/ProcessIdentity.h"

#include <climits>
#include <cstdlib>
#include <string_view>
#include <unistd.h>

namespace torvex::platform {
namespace {

std::string ExecutablePath(const char* argv0) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0)
        return std::string(buffer, static_cast<std::size_t>(n));
    if (argv0 && ::realpath(argv0, buffer))
        return buffer;
    return argv0 ? argv0 : "";
}

std::string FolderOf(const std::string& exe) {
    const auto slash = exe.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : exe.substr(0, slash));
}

} // namespace

std::string ExecutableFolder() {
    return FolderOf(ExecutablePath(nullptr));
}

ProcessIdentity ProcessIdentity::FromSystem(int argc, const char* const* argv, const char* const* envp,
                                            Version version) {
    ProcessIdentity id;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            id.commandLine += ' ';
        id.commandLine += argv[i];
    }
    const std::string exe = ExecutablePath(argc > 0 ? argv[0] : nullptr);
    const auto slash = exe.rfind('/');
    id.programFolder = FolderOf(exe);
    std::string name = slash == std::string::npos ? exe : exe.substr(slash + 1);
    if (const auto dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.erase(dot);
    id.programFileName = name;
    id.version = version;
    for (const char* const* e = envp; e && *e; ++e) {
        const std::string_view entry(*e);
        const auto nameOf = [](std::string_view s) { return s.substr(0, s.find('=')); };
        if (id.firstEnvironmentEntry.empty() || nameOf(entry) < nameOf(id.firstEnvironmentEntry))
            id.firstEnvironmentEntry = entry;
    }
    return id;
}

} // namespace torvex::platform
