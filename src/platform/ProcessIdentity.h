#pragma once

#include <string>

namespace torvex::platform {

struct Version {
    int major = 0;
    int minor = 0;
    int revision = 0;
    // "major.minor.revision", as the edit record and the report give it.
    std::string Text() const {
        return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision);
    }
};

// What the program knows about its own process.
struct ProcessIdentity {
    std::string commandLine;           // the arguments, joined by single blanks
    std::string programFolder;         // folder of the executable, links resolved, no trailing "/"
    std::string programFileName;       // executable name without folder and extension
    Version version;                   // the program's version
    std::string firstEnvironmentEntry; // "NAME=value" of the variable whose name sorts first

    // Reads the running process: /proc/self/exe and the environment.
    static ProcessIdentity FromSystem(int argc, const char* const* argv, const char* const* envp,
                                      Version version);
};

// The folder of the running executable, as ProcessIdentity::programFolder
// gives it.
std::string ExecutableFolder();

} // namespace torvex::platform
