#include "presetdb/Preview.h"

#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/ProgramEnd.h"
#include "presetdb/PresetGeneration.h"
#include "runtime/Guard.h"

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <system_error>
#include <vector>

namespace torvex::presetdb {

int RunPreview(runtime::Runtime& rt, std::ostream& out) {
    try {
        runtime::Guard guard(rt, "Preview");
        rt.GetStartModeIntegrated();
        rt.GetExistingMachines(guard.Value("", [&] { return rt.GetHX5ConfigurationIniPath(); }));
        (void)rt.GetValidMachines(); // a missing component configuration file ends the run here
        runtime::Guard setup(rt, "SetupUserInterFace");
        setup([&] {
            if (rt.MachineCount() == 0)
                platform::Raise(platform::errnum::SubscriptOutOfRange, rt.NoMachineFound());
        });
        const auto folder =
            guard.Value(nullptr, [] { return std::make_unique<platform::PrivateFolder>("preview"); });
        if (!folder)
            return 1;
        PresetGeneration generation(rt);
        generation.PreviewIn(folder->Path());
        generation.WorkOnMDB();
        if (generation.Publishable())
            out << generation.Report().Text() << std::flush;
        return rt.FailureReports() > 0 ? 1 : 0;
    } catch (const platform::ProgramEnd& end) {
        return end.exitStatus;
    }
}

} // namespace torvex::presetdb
