#include "runtime/Guard.h"

#include <new>
#include <optional>
#include <stdexcept>

namespace torvex::runtime {

platform::Failure FailureFromStd(const std::exception& e) {
    using namespace platform::errnum;
    if (dynamic_cast<const std::bad_alloc*>(&e))
        return {OutOfMemory, platform::kProgramSource, "Out of memory"};
    if (dynamic_cast<const std::out_of_range*>(&e))
        return {SubscriptOutOfRange, platform::kProgramSource, "Subscript out of range"};
    if (dynamic_cast<const std::bad_optional_access*>(&e))
        return {ObjectNotSet, platform::kProgramSource, "Object variable or With block variable not set"};
    if (dynamic_cast<const std::overflow_error*>(&e))
        return {Overflow, platform::kProgramSource, "Overflow"};
    return {InvalidArgument, platform::kProgramSource, e.what()};
}

void Guard::Report(const platform::Failure& failure) {
    if (runtime_.ReportError(failure.Number(), failure.Source(), failure.Description(), procedure_, fatal_) ==
        ReportAnswer::End)
        runtime_.EndProgram();
}

} // namespace torvex::runtime
