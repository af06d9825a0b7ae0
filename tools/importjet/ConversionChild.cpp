#include "ConversionChild.h"

#include "Converter.h"
#include "Diagnostics.h"
#include "JetReader.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <new>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define TORVEX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TORVEX_ADDRESS_SANITIZER 1
#endif
#endif

namespace torvex::importjet {

namespace {

constexpr std::uint64_t kMB = 1024 * 1024;

// The test of the limits makes the child allocate without bound when this
// variable holds exactly this value.
constexpr const char* kRunawayVariable = "TORVEX_IMPORTJET_TEST_RUNAWAY";
constexpr const char* kRunawayValue = "allocate-without-bound";

std::uint64_t AddressSpaceInUse() {
    unsigned long pages = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%lu", &pages) != 1)
            pages = 0;
        std::fclose(f);
    }
    return std::uint64_t{pages} * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

void WriteAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// A line of the child for the parent, in order with the library's diagnostics.
void Mark(char kind, std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::fflush(stderr);
    WriteAll(STDERR_FILENO, std::string{kMark, kind} + text + '\n');
}

// Lowers the limit on `resource`; a hard limit already lower stays.
void SetLimit(int resource, rlim_t soft, rlim_t hard) {
    rlimit limit{};
    ::getrlimit(resource, &limit);
    limit.rlim_max = std::min(limit.rlim_max, hard);
    limit.rlim_cur = std::min(limit.rlim_max, soft);
    ::setrlimit(resource, &limit);
}

[[noreturn]] void RunChild(const std::string& jet, const std::string& out, const ChildLimits& limits,
                           int diagnostics, pid_t parent) {
    // An import that is killed takes its reading with it.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
        ::_exit(1);
    ::dup2(diagnostics, STDERR_FILENO);
    ::close(diagnostics);
    SetLimit(RLIMIT_CORE, 0, 0);
    SetLimit(RLIMIT_CPU, limits.cpuSeconds, limits.cpuSeconds + 1);
    if (limits.addressSpace)
        SetLimit(RLIMIT_AS, limits.addressSpace, limits.addressSpace);
    int status = 1;
    try {
        const char* runaway = std::getenv(kRunawayVariable);
        if (runaway && std::strcmp(runaway, kRunawayValue) == 0)
            jet_allocate_without_bound();
        ConvertJetFile(jet, out,
                       {[](const std::string& table) { Mark(kReadingTable, table); },
                        [](const std::string& line) { std::cout << "  " << line << '\n'; },
                        [](const std::string& reason) {
                            Mark(kError, reason);
                            std::cout << std::flush;
                            ::_exit(1);
                        }});
        status = 0;
    } catch (const std::bad_alloc&) {
        Mark(kOutOfMemory, "");
    } catch (const std::exception& e) {
        Mark(kError, e.what());
    }
    std::cout << std::flush;
    ::_exit(status);
}

// Why the child ended without converting, for the line after "cannot be converted: ".
std::string Reason(int status, const rusage& usage, const Diagnostics& diagnostics,
                   const ChildLimits& limits) {
    if (!diagnostics.Error().empty())
        return diagnostics.Error();
    if (diagnostics.OutOfMemory())
        return "reading it needed more than the " + std::to_string(limits.addressSpace / kMB) +
               " MB of memory allowed for it; the file is damaged";
    const auto cpu = static_cast<std::uint64_t>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec);
    if (WIFSIGNALED(status) && (WTERMSIG(status) == SIGXCPU || cpu >= limits.cpuSeconds))
        return "reading it took more than the " + std::to_string(limits.cpuSeconds) +
               " s of processor time allowed for it; the file is damaged";
    if (WIFSIGNALED(status))
        return "the file is damaged: reading it stopped (signal " + std::to_string(WTERMSIG(status)) + ")";
    return "reading it ended with status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

} // namespace

ChildLimits LimitsFor(std::uint64_t size) {
    ChildLimits limits{AddressSpaceInUse() + 512 * kMB + 4 * size, 10 + size / kMB};
#ifdef TORVEX_ADDRESS_SANITIZER
    limits.addressSpace = 0;
    limits.cpuSeconds *= 20;
#endif
    return limits;
}

bool ConvertInChild(const std::string& jet, const std::string& out, std::ostream& err) {
    std::error_code ec;
    const ChildLimits limits = LimitsFor(std::filesystem::file_size(jet, ec));
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        err << "Torvex_ImportJet: " << jet << " cannot be converted: " << std::strerror(errno) << '\n';
        return false;
    }
    std::cout << std::flush;
    err << std::flush;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(channel[0]);
        RunChild(jet, out, limits, channel[1], parent);
    }
    const int forkError = errno;
    ::close(channel[1]);
    Diagnostics diagnostics(jet, err);
    char buffer[65536];
    for (ssize_t n; pid > 0 && (n = ::read(channel[0], buffer, sizeof buffer)) != 0;)
        if (n > 0)
            diagnostics.Feed(buffer, static_cast<std::size_t>(n));
        else if (errno != EINTR)
            break;
    ::close(channel[0]);
    diagnostics.Finish();
    int status = 0;
    rusage usage{};
    while (pid > 0 && ::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    err << "Torvex_ImportJet: " << jet << " cannot be converted: "
        << (pid < 0 ? std::string(std::strerror(forkError)) : Reason(status, usage, diagnostics, limits))
        << '\n';
    return false;
}

} // namespace torvex::importjet
