#pragma once

#include <ctime>
#include <string>

namespace torvex::platform {

// The times of a file that the program keeps. Linux cannot set a file's
// creation time, so only the last-access and last-write times exist here.
struct FileTimes {
    timespec lastAccess{};
    timespec lastWrite{};
    bool captured = false;
};

// Reads the times of `path`; `captured` is false when the file cannot be read.
FileTimes GetFileTimes(const std::string& path);

} // namespace torvex::platform
