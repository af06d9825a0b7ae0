#include "platform/Termination.h"

#include <atomic>
#include <csignal>

namespace torvex::platform {
namespace {

std::atomic<int> requested{0};

extern "C" void NoteTermination(int signal) {
    requested.store(signal, std::memory_order_relaxed);
}

} // namespace

void InstallTerminationHandlers() {
    struct sigaction action {};
    action.sa_handler = NoteTermination;
    sigemptyset(&action.sa_mask);
    // Blocking calls go on after the note; the second signal finds the
    // default handling back and ends the process.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

int TerminationSignal() {
    return requested.load(std::memory_order_relaxed);
}

const char* SignalName(int signal) {
    switch (signal) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    case SIGHUP:
        return "SIGHUP";
    }
    return "a signal";
}

} // namespace torvex::platform
