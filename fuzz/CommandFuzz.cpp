// Random command lines and keys: the reader never crashes, and a value it
// finds is trimmed, upper-cased and ends before the next "/".
#include "platform/Failure.h"
#include "platform/Text.h"
#include "runtime/Runtime.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto newline = input.find('\n');
    const std::string_view key = input.substr(0, newline);
    const std::string_view commandLine =
        newline == std::string_view::npos ? std::string_view{} : input.substr(newline + 1);
    try {
        if (const auto value = torvex::runtime::ParseCommandValue(commandLine, key)) {
            if (value->find('/') != std::string::npos || *value != torvex::platform::UpperCase(*value) ||
                torvex::platform::TrimSpaces(*value).size() != value->size())
                std::abort();
        }
    } catch (const torvex::platform::Failure&) {
        // a key at the very end of the command line
    }
    try {
        if (const auto path = torvex::runtime::ParseCommandPath(commandLine, key))
            if (path->find(" /") != std::string::npos)
                std::abort();
    } catch (const torvex::platform::Failure&) {
    }
    return 0;
}
