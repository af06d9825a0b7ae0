#include "platform/Dialogs.h"
#include "platform/ProcessIdentity.h"
#include "runtime/ProgramEnd.h"
#include "runtime/Runtime.h"

#include <cstdlib>
#include <iostream>

extern char** environ;

namespace {

// Until the window exists, every box is answered on standard error with its
// default button.
class ConsoleDialogs final : public torvex::platform::Dialogs {
public:
    torvex::platform::Answer Show(const torvex::platform::MessageBox& box) override {
        std::cerr << box.title.value_or("Torvex_Config") << ": " << box.text << '\n';
        if (box.buttons == torvex::platform::Buttons::Ok)
            return torvex::platform::Answer::Ok;
        return box.defaultButton == 1 ? torvex::platform::Answer::Yes : torvex::platform::Answer::No;
    }
};

} // namespace

int main(int argc, char** argv) {
    using namespace torvex;
    const auto identity = platform::ProcessIdentity::FromSystem(
        argc, argv, environ, {TORVEX_VERSION_MAJOR, TORVEX_VERSION_MINOR, TORVEX_VERSION_PATCH});
    ConsoleDialogs dialogs;
    const char* spLog = std::getenv("PELZO_SERVICEPACK_LOG");
    runtime::Runtime rt(identity, {dialogs, spLog ? spLog : "/var/log/PelzoServicePack.log"});
    try {
        rt.GetStartModeIntegrated();
        rt.GetExistingMachines(rt.GetHX5ConfigurationIniPath());
        rt.GetValidMachines();
        rt.EndNormally();
    } catch (const runtime::ProgramEnd& end) {
        return end.exitStatus;
    }
}
