#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace torvex::importjet {

// What the child that reads a Jet file may use. A damaged file can send the
// reading library into a loop or an allocation without end; the limits grow
// with the file, so that a whole file of any size stays well within them.
struct ChildLimits {
    std::uint64_t addressSpace; // bytes; 0 for no limit
    std::uint64_t cpuSeconds;
};

// The limits for a file of `size` bytes: the address space in use plus
// 512 MB and four times the file, and 10 s of processor time plus 1 s per MB.
// Under AddressSanitizer, which reserves terabytes of address space at start,
// there is no address-space limit, and the time is twenty times as long: it
// maps and unmaps each of the library's large buffers (one of the bind size
// for every value read).
ChildLimits LimitsFor(std::uint64_t size);

// Converts `jet` into the empty file `out` (ConvertJetFile) in a child
// process under LimitsFor the file's size; the child ends with the calling
// process. The child's lines per table go to standard output; the library's
// diagnostics are passed to `err` as warnings (the first 20 lines, then a
// count). When the conversion fails, hits a limit or crashes, says why on
// `err` and returns false; what was written of `out` is then of no use.
bool ConvertInChild(const std::string& jet, const std::string& out, std::ostream& err);

} // namespace torvex::importjet
