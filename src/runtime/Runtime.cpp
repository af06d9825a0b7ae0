#include "runtime/Runtime.h"

#include "platform/FileSystem.h"
#include "platform/ProgramEnd.h"
#include "platform/Termination.h"

#include <iostream>
#include <set>

namespace torvex::runtime {

Runtime::Runtime(platform::ProcessIdentity identity, RuntimeServices services)
    : identity_(std::move(identity)), services_(std::move(services)) {
    if (!services_.errorStream)
        services_.errorStream = &std::cerr;
}

void Runtime::StopIfTerminated() {
    const int signal = platform::TerminationSignal();
    if (signal == 0 || interrupted_)
        return;
    interrupted_ = true;
    const std::string line = std::string("Ended by ") + platform::SignalName(signal) +
                             " before the run was done; no file was left half-written.";
    if (SilentMode)
        WriteServicePackLog(line);
    else
        (void)WriteErrorLog(line);
    throw platform::ProgramEnd{1};
}

std::string Runtime::ComponentLockPath() {
    const std::string c = GetOCXName();
    return InstallationFolder() + "/" + c + "/" + c + ".lock";
}

Runtime::PlantLock Runtime::LockComponent(std::chrono::milliseconds wait) {
    if (componentLock_.Held())
        return PlantLock::Held;
    // The window keeps drawing itself (with its busy cursor) while it waits.
    const auto result = componentLock_.Acquire(ComponentLockPath(), wait, [this] {
        if (platform::TerminationSignal() != 0)
            return false;
        if (services_.processEvents)
            services_.processEvents();
        return true;
    });
    StopIfTerminated();
    if (result == platform::FileLock::Result::Busy)
        return PlantLock::Busy;
    // No lock file in a folder the run cannot write to: there is nothing it
    // could change there, and every ini file keeps its own lock.

    // Temporary files are made beside the file they replace, which for a
    // linked file is the folder of its target. The paths are composed here,
    // not asked of the path procedures, which would report what they refuse.
    const std::string c = GetOCXName();
    std::set<std::string> folders{InstallationFolder() + "/" + c, InstallationFolder() + "/parameter"};
    for (const std::string& file :
         {ComponentFile(".cfg"), ComponentFile(".mdb"), ComponentFile("_Source.mdb"),
          InstallationFolder() + "/parameter/Program.ini", LanguageFilePath()})
        folders.insert(
            platform::FolderOf(platform::ResolveLinks(platform::FindExistingFile(file).value_or(file))));
    for (const std::string& folder : folders)
        platform::RemoveStaleTempFiles(folder);
    return PlantLock::Held;
}

} // namespace torvex::runtime
