// A window run without a person: loads the window of the program in
// PROGRAM_FOLDER as COMMAND_LINE starts it, changes the first check box of
// the first machine and presses OK. Exit status as the program's.
//   crash_window_run PROGRAM_FOLDER SERVICE_PACK_LOG COMMAND_LINE...
#include "platform/ProgramEnd.h"
#include "platform/qt/EventBridge.h"
#include "runtime/Runtime.h"
#include "support/TempDir.h"
#include "window/ConfigWindow.h"

#include <QApplication>

#include <cstdlib>
#include <iostream>

using namespace torvex;

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: crash_window_run PROGRAM_FOLDER SERVICE_PACK_LOG COMMAND_LINE...\n";
        return 2;
    }
    std::string commandLine;
    for (int i = 3; i < argc; ++i)
        commandLine += (i > 3 ? " " : "") + std::string(argv[i]);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    platform::DefaultAnswers dialogs;
    platform::EventBridge events;
    runtime::Runtime rt(test::MakeIdentity(argv[1], commandLine), {dialogs, argv[2], nullptr, {}});
    try {
        window::ConfigWindow window(rt, events);
        window.Form_Load();
        window.Get<window::CheckBoxControl>("CheckBlank", 1).UserClick();
        window.Get<window::ButtonControl>("CommandOK").UserClick();
    } catch (const platform::ProgramEnd& end) {
        return end.exitStatus;
    }
    std::cerr << "OK did not end the run\n";
    return 3;
}
