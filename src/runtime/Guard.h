#pragma once

#include "platform/Failure.h"
#include "runtime/Runtime.h"

#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace torvex::runtime {

// Turns a failure of a standard-library operation into the program's
// failure numbers (6 overflow, 7 out of memory, 9 index out of range, ...).
platform::Failure FailureFromStd(const std::exception& e);

// The type a value step gives: `T`, or what the step returns when `T` is void.
template <class T, class Step>
using StepResult = std::conditional_t<std::is_void_v<T>, std::decay_t<std::invoke_result_t<Step&>>, T>;

// The guard of a named procedure: runs each step, turns any failure into a
// ReportError under the procedure's name and then either resumes (the step
// has no effect and the caller goes on) or ends the program. A ProgramEnd is
// never caught here.
//
//     Guard guard(rt_, "GetPathSourceOCXMDB");
//     return guard.Value("", [&] { return ExistingOrEmpty(ComponentFile("_Source.mdb")); });
//
// gives the template's path, or "" once a failure was reported and the user
// chose to resume.
class Guard {
public:
    // `procedure` names the procedure in reports; the text must outlive the guard.
    Guard(Runtime& runtime, std::string_view procedure) : runtime_(runtime), procedure_(procedure) {}

    // Runs one step. Returns true when it completed, false when it failed and
    // the run resumes with the caller's next step.
    template <class Step> bool operator()(Step&& step) {
        runtime_.StopIfTerminated();
        try {
            std::forward<Step>(step)();
            return true;
        } catch (const platform::Failure& f) {
            Report(f);
        } catch (const std::exception& e) {
            Report(FailureFromStd(e));
        }
        return false;
    }

    // Runs a step that computes a value and returns that value, or
    // `fallback` when the step failed and the run resumes. The type is what
    // the step returns, unless given as `T` (for a fallback of another type,
    // such as std::nullopt).
    template <class T = void, class Step>
    StepResult<T, Step> Value(std::type_identity_t<StepResult<T, Step>> fallback, Step&& step) {
        StepResult<T, Step> result = std::move(fallback);
        (*this)([&] { result = std::forward<Step>(step)(); });
        return result;
    }

    // Evaluates a condition; a failed test counts as true, so that the run
    // enters the guarded branch or loop body as it does after a resume.
    template <class Condition> bool Test(Condition&& condition) {
        return Value<bool>(true, std::forward<Condition>(condition));
    }

    // While set, reports are fatal: the report ends the program.
    void SetFatal(bool fatal) { fatal_ = fatal; }

private:
    void Report(const platform::Failure& failure);

    Runtime& runtime_;
    std::string_view procedure_;
    bool fatal_ = false;
};

} // namespace torvex::runtime
