#pragma once

namespace torvex::platform {

// Thrown to end the program at once. It unwinds to `main`, closing whatever
// is open on the way, and is deliberately not a std::exception, so that no
// guard of a procedure can catch it.
struct ProgramEnd {
    int exitStatus = 1;
};

} // namespace torvex::platform
