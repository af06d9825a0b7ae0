#include "support/TempDir.h"

#include "platform/IniDocument.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace torvex::test {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/torvex-test-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data()))
        throw std::runtime_error("cannot create a temporary folder");
    path_ = name.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make read-only folders of a test removable again.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, std::string_view bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

void SetIniEntry(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value) {
    auto ini = platform::IniDocument::Parse(ReadFile(path));
    (void)ini.Set(section, key, value);
    WriteFile(path, ini.Serialize());
}

platform::ProcessIdentity MakeIdentity(const std::string& programFolder, std::string commandLine,
                                       std::string programFileName) {
    platform::ProcessIdentity id;
    id.commandLine = std::move(commandLine);
    id.programFolder = programFolder;
    id.programFileName = std::move(programFileName);
    id.version = {1, 0, 1};
    id.firstEnvironmentEntry = "AAA_EDITOR=Jo-Ann_Smith";
    return id;
}

} // namespace torvex::test
