#include "runtime/Runtime.h"

#include "platform/FileLock.h"
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
    if (SilentMode())
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
    const std::string c = GetOCXName();
    const auto result = componentLock_.Acquire(
        ComponentLockPath(), wait,
        [this] {
            if (platform::TerminationSignal() != 0)
                return false;
            if (services_.processEvents)
                services_.processEvents();
            return true;
        },
        InstallationFolder() + "/" + c);
    StopIfTerminated();
    if (result == platform::FileLock::Result::Busy)
        return PlantLock::Busy;
    // Others take the lock through that very file: without it, this run
    // could work beside another one.
    if (result != platform::FileLock::Result::Locked)
        return PlantLock::Unusable;

    // Temporary files are made beside the file they replace, which for a
    // linked file is the folder of its target. The paths are composed here,
    // not asked of the path procedures, which would report what they refuse.
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

std::string Runtime::PlantLockTrouble(PlantLock result, std::chrono::milliseconds wait,
                                      std::string_view consequence) {
    const std::string lockPath = ComponentLockPath();
    const std::string then = consequence.empty() ? "" : " " + std::string(consequence);
    if (result == PlantLock::Busy)
        return "Another run of " + identity_.programFileName + " is working on this plant: \"" + lockPath +
               "\" was held for " + std::to_string(wait.count() / 1000) + " s." + then;
    return "This run cannot take the plant's lock: " + platform::LockFileTrouble(lockPath, componentLock_) +
           then;
}

} // namespace torvex::runtime
