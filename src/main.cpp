#include "platform/Failure.h"
#include "platform/ProcessIdentity.h"
#include "platform/ProgramEnd.h"
#include "platform/Termination.h"
#include "platform/qt/EventBridge.h"
#include "platform/qt/QtDialogs.h"
#include "presetdb/Preview.h"
#include "presetdb/Restore.h"
#include "runtime/Runtime.h"
#include "window/ConfigWindow.h"

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <unistd.h>

extern char** environ;

namespace {

using namespace torvex;

// Where a silent run logs when the environment names no log.
constexpr const char* kServicePackLog = "/var/log/PelzoServicePack.log";

bool AsksForSilentRun(const std::string& commandLine) {
    try {
        return runtime::ParseCommandValue(commandLine, "EXTERNAL").value_or("") == "SILENT";
    } catch (const platform::Failure&) {
        return false;
    }
}

bool IsSet(const char* variable) {
    const char* value = std::getenv(variable);
    return value && *value;
}

bool HasDisplay() {
    return IsSet("QT_QPA_PLATFORM") || IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

// With TORVEX_STARTUP_TRACE set, reports on standard error how long the start
// took up to the window's first painted frame, then ends the run.
class StartupTrace final : public QObject {
public:
    explicit StartupTrace(std::chrono::steady_clock::time_point start) : start_(start) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !reported_) {
            reported_ = true;
            QTimer::singleShot(0, [this] {
                const auto ms =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_);
                std::cerr << "first frame painted after " << ms.count() << " ms\n";
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::chrono::steady_clock::time_point start_;
    bool reported_ = false;
};

// Qt's own messages. A silent run prints none of them. While the window's
// platform starts, they are held back: a window run that cannot reach its
// display ends with the program's one line and exit status 2 instead of
// Qt's abort, and otherwise they are passed on as they came.
//
// One note is never passed on: that XDG_RUNTIME_DIR is not set (a root
// shell, a service, a plant PC started without a login session). Qt then
// takes a runtime folder of its own in the temporary folder, which it creates
// with mode 0700 and checks for owner and mode; what is wrong with that folder
// comes as a message of its own and is passed on.
struct QtMessages {
    static inline bool silent = false;
    static inline bool starting = true;
    static inline std::string noDisplayLine;
    static inline QtMessageHandler passOn = nullptr;
    struct Held {
        QtMsgType type;
        const char *file, *function, *category;
        int line;
        QString message;
    };
    static inline std::vector<Held> held;

    static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (type == QtFatalMsg && starting) {
            std::cerr << noDisplayLine << std::flush;
            std::_Exit(2);
        }
        if (silent || IsRuntimeFolderNote(type, message))
            return;
        if (starting) {
            held.push_back({type, context.file, context.function, context.category, context.line, message});
            return;
        }
        passOn(type, context, message);
    }
    static bool IsRuntimeFolderNote(QtMsgType type, const QString& message) {
        return type == QtWarningMsg && message.startsWith("QStandardPaths: XDG_RUNTIME_DIR not set,");
    }
    static void Started() {
        starting = false;
        for (const Held& h : held)
            if (!silent)
                passOn(h.type, QMessageLogContext(h.file, h.line, h.function, h.category), h.message);
        held.clear();
    }
};

// Runs a restore or a preview, which need no window, when the command line
// asks for one: its exit status, or std::nullopt for a run of the window.
// A word that is not clearly meant, or not allowed without /EXTERNAL=SILENT,
// runs nothing (exit status 2).
std::optional<int> RunWithoutWindow(const platform::ProcessIdentity& identity, bool silent,
                                    const char* servicePackLog) {
    const auto preview = runtime::FindCommandWord(identity.commandLine, "PREVIEW");
    const auto restore = runtime::FindCommandWord(identity.commandLine, "RESTORE");
    for (const auto& [found, word] : {std::pair{preview, "/PREVIEW"}, std::pair{restore, "/RESTORE"}})
        if (found == runtime::CommandWord::Ambiguous) {
            // Never a real run, or a restore, that the user may not have meant.
            std::cerr << identity.programFileName << ": " << word
                      << " stands in the log file's path (the path runs to the next \" /\"): "
                         "meant or not? Nothing was run\n";
            return 2;
        }
    const bool only = preview == runtime::CommandWord::Given;
    if (restore != runtime::CommandWord::Given && !only)
        return std::nullopt;
    if (!silent) {
        std::cerr << identity.programFileName << ": "
                  << (only && restore != runtime::CommandWord::Given ? "/PREVIEW" : "/RESTORE")
                  << " runs only together with /EXTERNAL=SILENT\n";
        return 2;
    }
    platform::DefaultAnswers dialogs;
    // A preview writes nothing, also no service-pack log the environment does not name.
    const std::string log = servicePackLog ? servicePackLog : only ? "" : kServicePackLog;
    runtime::Runtime rt(identity, {dialogs, log, nullptr, {}, only});
    if (restore == runtime::CommandWord::Given)
        return presetdb::RunRestore(rt, std::cout, only, window::kPlantWait);
    return presetdb::RunPreview(rt, std::cout);
}

// Starts Qt for the window, or for a silent run that works through it:
// false, having said why, when a window run has no display.
bool StartQt(const platform::ProcessIdentity& identity, bool silent) {
    // A silent run never needs a display, whatever the environment says.
    if (silent)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QtMessages::silent = silent;
    QtMessages::noDisplayLine =
        identity.programFileName +
        ": no display to open the window on; to configure without a window run it with "
        "/EXTERNAL=SILENT\n";
    if (!silent && !HasDisplay()) {
        std::cerr << QtMessages::noDisplayLine;
        return false;
    }
    QtMessages::passOn = qInstallMessageHandler(QtMessages::Handle);
    return true;
}

// Runs the configuration window (or a silent run through it) to its end.
int RunWindow(QApplication& app, const platform::ProcessIdentity& identity, const char* servicePackLog,
              std::chrono::steady_clock::time_point started) {
    QtMessages::Started();
    QApplication::setApplicationName(QString::fromStdString(identity.programFileName));
    window::UseDesignFont();
    platform::EventBridge events;
    platform::QtDialogs dialogs(events);
    runtime::Runtime rt(identity, {dialogs, servicePackLog ? servicePackLog : kServicePackLog, nullptr,
                                   [&events] { events.ProcessEvents(); }});
    // A signal ends a window that waits for the user at the next tick.
    QTimer terminationPoll;
    QObject::connect(&terminationPoll, &QTimer::timeout,
                     [&] { events.Deliver([&] { rt.StopIfTerminated(); }); });
    terminationPoll.start(100);
    try {
        window::ConfigWindow window(rt, events);
        window.Form_Load();
        StartupTrace trace(started);
        if (IsSet("TORVEX_STARTUP_TRACE"))
            window.installEventFilter(&trace);
        window.show();
        const int status = app.exec();
        events.ThrowIfEnded();
        return status != 0 ? status : (rt.FailureReports() > 0 ? 1 : 0);
    } catch (const platform::ProgramEnd& end) {
        return end.exitStatus;
    }
}

} // namespace

int main(int argc, char** argv) {
    const auto started = std::chrono::steady_clock::now();
    // A file that may not grow further fails the write that tries it (and is
    // reported); it must not end the program in the middle of a write.
    std::signal(SIGXFSZ, SIG_IGN);
    platform::InstallTerminationHandlers();
    const auto identity = platform::ProcessIdentity::FromSystem(
        argc, argv, environ, {TORVEX_VERSION_MAJOR, TORVEX_VERSION_MINOR, TORVEX_VERSION_PATCH});
    if (::access(identity.programFolder.c_str(), R_OK | X_OK) != 0) {
        std::cerr << identity.programFileName << ": cannot read the program folder " << identity.programFolder
                  << '\n';
        return 2;
    }
    const bool silent = AsksForSilentRun(identity.commandLine);
    const char* servicePackLog = std::getenv("PELZO_SERVICEPACK_LOG");
    if (const auto status = RunWithoutWindow(identity, silent, servicePackLog))
        return *status;
    if (!StartQt(identity, silent))
        return 2;
    QApplication app(argc, argv);
    return RunWindow(app, identity, servicePackLog, started);
}
