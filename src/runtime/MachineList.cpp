#include "platform/FileSystem.h"
#include "runtime/Guard.h"
#include "runtime/Runtime.h"

namespace torvex::runtime {

void Runtime::GetExistingMachines(const std::string& configurationIniPath) {
    Guard guard(*this, "GetExistingMachines");
    guard([&] { ProgramIniPath = GetProgramIniPath(IniUse::Reading); });
    if (IntegratedMode()) {
        if (!guard.Test([&] { return platform::FindExistingFile(configurationIniPath).has_value(); }))
            return;
        for (int k = 1; k <= 5; ++k) {
            const std::string name = guard.Value("", [&] {
                return LoadIniString("Common", "NameM" + std::to_string(k), configurationIniPath, false);
            });
            if (name == "-" || name.empty())
                break;
            guard([&] {
                MachineNames.resize(
                    std::max<std::size_t>(MachineNames.size(), static_cast<std::size_t>(k) + 1));
                MachineNames[static_cast<std::size_t>(k)] = name;
            });
        }
        return;
    }
    const std::int16_t count =
        guard.Value(0, [&] { return LoadIniInteger("Project", "NumberOfMachines", ProgramIniPath, false); });
    for (int k = 1; k <= count; ++k) {
        guard([&] {
            MachineNames.resize(std::max<std::size_t>(MachineNames.size(), static_cast<std::size_t>(k) + 1));
            MachineNames[static_cast<std::size_t>(k)] =
                LoadIniString("Machine" + std::to_string(k), "MachineName", ProgramIniPath, false);
        });
    }
}

std::string Runtime::NoMachineFound() {
    if (IntegratedMode()) {
        const std::string ini = GetHX5ConfigurationIniPath();
        return ini.empty()
                   ? "No machine found: the main configuration ini " +
                         WhyNotThere(InstallationFolder() + "/parameter/hx5configuration.ini")
                   : "No machine found: [Common] NameM1 in \"" + ini + "\" is missing, empty or \"-\".";
    }
    return ProgramIniPath.empty() ? "No machine found: the program ini " +
                                        WhyNotThere(InstallationFolder() + "/parameter/Program.ini")
                                  : "No machine found: [Project] NumberOfMachines in \"" + ProgramIniPath +
                                        "\" is missing or below 1.";
}

std::string Runtime::GetValidMachines() {
    return LoadIniString("Project", "ValidMachines", GetCFGPath(), false);
}

} // namespace torvex::runtime
