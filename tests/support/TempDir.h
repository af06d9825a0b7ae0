#pragma once

#include "platform/ProcessIdentity.h"

#include <string>
#include <string_view>

namespace torvex::test {

// A fresh folder for one test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path of `relative` inside the folder.
    std::string operator/(std::string_view relative) const { return path_ + "/" + std::string(relative); }

private:
    std::string path_;
};

// Writes `bytes` to `path`, creating the folders on the way.
void WriteFile(const std::string& path, std::string_view bytes);
// The bytes of `path`, or "" when it cannot be read.
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Sets one entry of the ini file at `path`, as a person editing it would.
void SetIniEntry(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value);

// Identity of a program `programFileName` installed in `programFolder`.
platform::ProcessIdentity MakeIdentity(const std::string& programFolder, std::string commandLine = "",
                                       std::string programFileName = "Torvex_Config");

} // namespace torvex::test
