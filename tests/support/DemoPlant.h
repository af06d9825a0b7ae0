#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace torvex::test {

// How to run the built program.
struct RunOptions {
    std::string arguments = "/EXTERNAL=SILENT";
    std::optional<long> fileSizeLimit;                  // RLIMIT_FSIZE in bytes
    bool unprivileged = false;                          // run as "nobody" when the tests run as root
    std::optional<std::chrono::microseconds> killAfter; // send `signal` after this long
    int signal = 9;                                     // SIGKILL
    std::vector<std::pair<std::string, std::string>> environment; // set for the run ("" value: unset)
    // Another user to run as (the tests run as root): its user and primary
    // group id and its supplementary groups, as `setpriv` would set them.
    struct User {
        uid_t uid;
        gid_t gid;
        std::vector<gid_t> groups;
    };
    std::optional<User> as;
};

struct RunResult {
    int exitStatus = -1; // -1 when it was killed
    double seconds = 0;
    std::string errors; // what it wrote to standard error
    std::string output; // what it wrote to standard output
};

// The demo plant, laid out in `folder` with the built program in its
// component folder, run as an operator or HX5CFG would run it.
class DemoPlant {
public:
    explicit DemoPlant(std::string folder);
    // A plant that is already laid out in `folder`.
    static DemoPlant At(std::string folder);

    const std::string& P() const { return p_; }
    std::string ProgramIni() const { return p_ + "/parameter/Program.ini"; }
    std::string Cfg() const { return p_ + "/Torvex/Torvex.cfg"; }
    std::string Template() const { return p_ + "/Torvex/Torvex_Source.mdb"; }
    std::string Preset() const { return p_ + "/Torvex/Torvex.mdb"; }
    std::string ServicePackLog() const { return p_ + "/servicepack.log"; }
    std::string ErrorLog() const { return p_ + "/HX5cfglog.txt"; }

    // Makes the template generate `rowsPerMachine` rows per machine.
    void GrowTemplate(int rowsPerMachine) const;
    // Generates the plant under Studio names, part 1's omitting the machine and
    // each template row naming its machine, and tunes every row (abs_min
    // 1000 + ID): switching back to the other scheme then drops the tuned
    // values of machine 3's four rows of part 1.
    void TuneUnderStudioNames() const;
    // Hands the whole plant to the unprivileged user that RunOptions::unprivileged runs as.
    void HandToUnprivilegedUser() const;

    RunResult Run(const RunOptions& options = {}) const;

    // A run that goes on while the caller does something else.
    struct Started {
        pid_t pid = -1;
        std::chrono::steady_clock::time_point start;
        std::string errors, output; // files
    };
    Started Start(const RunOptions& options = {}) const;
    RunResult Wait(const Started& run) const;

private:
    DemoPlant() = default;
    std::string p_;
};

// The 33 keys of a machine section that a run writes.
std::vector<std::string> MachineKeys();

// True when the tests run as root: file permissions then only bind another user.
bool RunningAsRoot();

} // namespace torvex::test
