#pragma once

// What the window tests share: a small plant on disk, a window loaded on it
// with scripted message boxes, and the test case every window test class
// derives from.

#include "platform/ProgramEnd.h"
#include "platform/qt/EventBridge.h"
#include "runtime/Runtime.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"
#include "window/ConfigWindow.h"

#include <QObject>

#include <string>
#include <utility>
#include <vector>

namespace torvex::windowtest {

// What the window tests talk about.
using platform::Answer;
using window::ButtonControl;
using window::CheckBoxControl;
using window::ComboControl;
using window::ImageControl;
using window::LabelControl;
using window::TabStripControl;

// A demo-like plant: machines A, B, C of which 1 and 3 carry the component.
struct Plant {
    test::TempDir dir;
    std::string P() const { return dir / "plant"; }
    std::string ProgramIni() const { return P() + "/parameter/Program.ini"; }
    std::string Cfg() const { return P() + "/Torvex/Torvex.cfg"; }
    std::string LanguageFile() const { return P() + "/Torvex/Torvex_Config.ini"; }
    std::string ServicePackLog() const { return dir / "sp.log"; }

    Plant();
};

// A window loaded on a plant, with its run. An unexpected message box fails
// the running test function.
struct Harness {
    explicit Harness(Plant& plant, std::string commandLine = "");
    test::ScriptedDialogs dialogs;
    platform::EventBridge events;
    runtime::Runtime rt;
    window::ConfigWindow window;

    template <class T> T& Get(const std::string& name, int index = 0) { return window.Get<T>(name, index); }
    QWidget* Widget(const std::string& name, int index = 0) { return window.Find(name, index).Widget(); }
    // Loads the window, shows it and makes it the active window, so that
    // focus and activation events are delivered as on a desktop.
    bool LoadAndShow();
    // Runs a handler that ends the program; returns the exit status (-1: it did not end).
    template <class F> int Ends(F&& f) {
        try {
            f();
        } catch (const platform::ProgramEnd& end) {
            return end.exitStatus;
        }
        return -1;
    }
};

// The names of the focusable controls of the page, in keyboard order.
std::vector<std::pair<std::string, int>> PageFocusOrder();

// The start and the step between test functions of every window test class.
class WindowTestCase : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    // A run that ended inside a handler told every event loop to quit; a
    // fresh run of the application's loop clears that for the next test.
    void cleanup();
};

} // namespace torvex::windowtest
