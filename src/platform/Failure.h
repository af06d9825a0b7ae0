#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace torvex::platform {

// Source of the program's own failures.
inline constexpr const char* kProgramSource = "pTorvex_Config_Exe";
// Source of failures of the database engine.
inline constexpr const char* kDatabaseSource = "SQLite";

// The classic failure numbers of the program's own steps.
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

} // namespace torvex::platform
