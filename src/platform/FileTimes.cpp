#include "platform/FileTimes.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace torvex::platform {

FileTimes GetFileTimes(const std::string& path) {
    FileTimes times;
    struct stat st {};
    if (!path.empty() && ::stat(path.c_str(), &st) == 0) {
        times.lastAccess = st.st_atim;
        times.lastWrite = st.st_mtim;
        times.captured = true;
    }
    return times;
}

bool RestoreLastWriteTime(const std::string& path, const FileTimes& times) {
    if (!times.captured)
        return true;
    timespec both[2] = {{0, UTIME_OMIT}, times.lastWrite};
    return ::utimensat(AT_FDCWD, path.c_str(), both, 0) == 0;
}

} // namespace torvex::platform
