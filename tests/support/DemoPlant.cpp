#include "support/DemoPlant.h"

#include "support/SamplePictures.h"
#include "support/SqlHelpers.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace torvex::test {
namespace {

constexpr uid_t kNobody = 65534;

} // namespace

std::vector<std::string> MachineKeys() {
    std::vector<std::string> keys{"NoBobbinChanger"};
    for (int c = 1; c <= 4; ++c)
        for (const char* key :
             {"TensionArmWithoutSplicePosition", "BobbinWithBlankLenght", "Bobbin", "WithoutBobbin",
              "WithoutTensionArm", "OnlyBlank", "BobbinMaterialSym", "BobbinSym"})
            keys.push_back(key + std::to_string(c));
    return keys;
}

bool RunningAsRoot() {
    return ::geteuid() == 0;
}

DemoPlant::DemoPlant(std::string folder) : p_(std::move(folder)) {
    std::filesystem::copy(TORVEX_SOURCE_DIR "/sample/plant", p_, std::filesystem::copy_options::recursive);
    CopySamplePictures(p_);
    WriteFile(Template(), ReadFile(TORVEX_SAMPLE_TEMPLATE));
    std::filesystem::copy_file(TORVEX_PROGRAM, p_ + "/Torvex/Torvex_Config");
}

DemoPlant DemoPlant::At(std::string folder) {
    DemoPlant plant;
    plant.p_ = std::move(folder);
    return plant;
}

void DemoPlant::GrowTemplate(int rowsPerMachine) const {
    MakeDatabase(Template(),
                 "WITH RECURSIVE n(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                     std::to_string(1000 + rowsPerMachine - 36) +
                     ") INSERT INTO Source_PRESET_DEFS SELECT i * 10, 'REEL', 1, 1 + i % 6, 'Extra' || i, "
                     "11, 0, i % 32, 'Extra preset ' || i || ' of ###machine', 'Extra', 0, 100, 10, 90, 1 "
                     "FROM n;");
}

void DemoPlant::TuneUnderStudioNames() const {
    MakeDatabase(Template(), "UPDATE Source_DEFS SET Var_Name = 'Reel.###Var_Name' WHERE "
                             "System = 'VISIWINSTUDIO' AND Part = 1;"
                             "UPDATE Source_PRESET_DEFS SET machine_type = '###machine';");
    SetIniEntry(ProgramIni(), "Project", "VWStudio", "true");
    if (const auto result = Run(); result.exitStatus != 0)
        throw std::runtime_error("the run under Studio names failed: " + result.errors);
    MakeDatabase(Preset(), "UPDATE PRESET_DEFS SET abs_min = 1000 + ID");
}

void DemoPlant::HandToUnprivilegedUser() const {
    if (!RunningAsRoot())
        return;
    ::chmod(std::filesystem::path(p_).parent_path().c_str(), 0755);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(p_))
        ::chown(entry.path().c_str(), kNobody, kNobody);
    ::chown(p_.c_str(), kNobody, kNobody);
}

DemoPlant::Started DemoPlant::Start(const RunOptions& options) const {
    static int runs = 0;
    ++runs;
    Started run;
    run.errors = p_ + "/../stderr-" + std::to_string(runs) + ".txt";
    run.output = p_ + "/../stdout-" + std::to_string(runs) + ".txt";
    run.start = std::chrono::steady_clock::now();
    run.pid = ::fork();
    if (run.pid == 0) {
        if (::chdir(p_.c_str()) != 0)
            ::_exit(126);
        const int err = ::open(run.errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        ::dup2(err, 2);
        const int out = ::open(run.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        ::dup2(out, 1);
        if (options.fileSizeLimit) {
            const rlimit limit{static_cast<rlim_t>(*options.fileSizeLimit),
                               static_cast<rlim_t>(*options.fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.unprivileged && RunningAsRoot() && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(125);
        if (const auto& as = options.as; as && (::setgroups(as->groups.size(), as->groups.data()) != 0 ||
                                                ::setgid(as->gid) != 0 || ::setuid(as->uid) != 0))
            ::_exit(125);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::unsetenv("QT_QPA_PLATFORM");
        ::setenv("PELZO_SERVICEPACK_LOG", ServicePackLog().c_str(), 1);
        for (const auto& [name, value] : options.environment)
            value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
        const std::string exe = p_ + "/Torvex/Torvex_Config";
        std::vector<std::string> words;
        std::istringstream split(options.arguments);
        for (std::string word; split >> word;)
            words.push_back(word);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (auto& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    return run;
}

RunResult DemoPlant::Wait(const Started& run) const {
    int status = 0;
    ::waitpid(run.pid, &status, 0);
    RunResult result;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - run.start).count();
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.errors = ReadFile(run.errors);
    result.output = ReadFile(run.output);
    ::unlink(run.errors.c_str());
    ::unlink(run.output.c_str());
    return result;
}

namespace {

// Waits until the process has its handler for `signal` in place (a signal
// that comes before the program's main ends any program), at most 10 s.
void WaitUntilCatching(pid_t pid, int signal) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("SigCgt:") && (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1))
                return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

RunResult DemoPlant::Run(const RunOptions& options) const {
    const Started run = Start(options);
    if (options.killAfter && options.signal != SIGKILL)
        WaitUntilCatching(run.pid, options.signal);
    if (options.killAfter) {
        std::this_thread::sleep_for(*options.killAfter);
        ::kill(run.pid, options.signal);
    }
    return Wait(run);
}

} // namespace torvex::test
