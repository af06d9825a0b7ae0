#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace torvex::platform {

// Source of the program's own failures.
inline constexpr const char* kProgramSource = "pTorvex_Config_Exe";
// Source of failures of the database engine.
inline constexpr const char* kDatabaseSource = "SQLite";

// The classic failure numbers of the program's own steps, of the window's
// controls, and the few that the program reports under the database's source.
namespace errnum {
inline constexpr std::int32_t InvalidArgument = 5;
inline constexpr std::int32_t Overflow = 6;
inline constexpr std::int32_t OutOfMemory = 7;
inline constexpr std::int32_t SubscriptOutOfRange = 9;
inline constexpr std::int32_t TypeMismatch = 13;
inline constexpr std::int32_t FileNotFound = 53;
inline constexpr std::int32_t PermissionDenied = 70;
inline constexpr std::int32_t PathFileAccess = 75;
inline constexpr std::int32_t ObjectNotSet = 91;
inline constexpr std::int32_t InvalidUseOfNull = 94;
// A value that a control's property does not take (a list index without an entry).
inline constexpr std::int32_t InvalidPropertyValue = 380;
// A property or method that a kind of control does not have.
inline constexpr std::int32_t NoSuchProperty = 438;
// A tab position that the tab strip does not have.
inline constexpr std::int32_t IndexOutOfBounds = 35600;
// Source kDatabaseSource: going to the first row of a table without rows.
inline constexpr std::int32_t NoCurrentRecord = 12;
// Source kDatabaseSource: a file that is no database the engine reads (an
// old Jet file); SQLite's own SQLITE_NOTADB has the same number.
inline constexpr std::int32_t NotADatabase = 26;
// Source: the program file name. The take-over ends the run with it when
// the user declines, or a configured additional field is missing.
inline constexpr std::int32_t DatabaseError = 9999;
} // namespace errnum

// An unexpected failure of one step: what a guarded procedure reports.
class Failure : public std::exception {
public:
    Failure(std::int32_t number, std::string source, std::string description)
        : number_(number), source_(std::move(source)), description_(std::move(description)) {}

    std::int32_t Number() const { return number_; }
    const std::string& Source() const { return source_; }
    const std::string& Description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::int32_t number_;
    std::string source_;
    std::string description_;
};

// Throws a failure of the program's own (source `kProgramSource`).
[[noreturn]] inline void Raise(std::int32_t number, std::string description) {
    throw Failure(number, kProgramSource, std::move(description));
}

// `value` as the program's 16-bit whole number; a value outside -32768 to
// 32767 is a failure (6, overflow).
template <class Int> [[nodiscard]] std::int16_t ToInt16(Int value) {
    if (!std::in_range<std::int16_t>(value))
        Raise(errnum::Overflow, "Overflow");
    return static_cast<std::int16_t>(value);
}

} // namespace torvex::platform
