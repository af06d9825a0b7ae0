#include "platform/FileTimes.h"

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

} // namespace torvex::platform
