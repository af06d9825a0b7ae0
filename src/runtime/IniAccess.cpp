#include "platform/Failure.h"
#include "platform/Text.h"
#include "runtime/Guard.h"
#include "runtime/Runtime.h"

#include <charconv>
#include <cmath>

namespace torvex::runtime {

namespace {

// The read buffer holds 255 characters including the terminating zero.
constexpr std::size_t kReadBufferChars = 254;

std::string NotFoundText(std::string_view section, std::string_view key, const std::string& file) {
    return "File '" + file + "' or Section [" + std::string(section) + "] or Entry '" + std::string(key) +
           "' not found";
}

} // namespace

std::string InvariantNumber(double value) {
    if (!std::isfinite(value))
        platform::Raise(platform::errnum::Overflow, "Overflow");
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, end);
    for (char& c : text)
        if (c == 'e')
            c = 'E';
    if (text.starts_with("0."))
        text.erase(0, 1);
    else if (text.starts_with("-0."))
        text.erase(1, 1);
    return text;
}

std::string Runtime::LoadIniString(std::string_view section, std::string_view key, const std::string& file,
                                   bool reportMissing) {
    Guard guard(*this, "LoadIniString");
    std::string value;
    guard([&] {
        value = platform::Utf8Prefix(ini_.ReadString(file, section, key).value_or(""), kReadBufferChars);
        if (value.empty() && reportMissing)
            ShowOrLogMessage(NotFoundText(section, key, file));
    });
    return value;
}

std::int16_t Runtime::LoadIniInteger(std::string_view section, std::string_view key, const std::string& file,
                                     bool reportMissing) {
    Guard guard(*this, "LoadIniInteger");
    const std::int16_t result = guard.Value(0, [&] {
        return platform::ToInt16(
            static_cast<std::int32_t>(ini_.ReadInteger(file, section, key, 0xFFFFFFFFu)));
    });
    guard([&] {
        if (result == -1 && reportMissing)
            ShowOrLogMessage(NotFoundText(section, key, file));
    });
    return result;
}

bool Runtime::LoadIniBoolean(std::string_view section, std::string_view key, const std::string& file,
                             bool reportMissing) {
    Guard guard(*this, "LoadIniBoolean");
    bool result = false;
    guard([&] {
        const std::string value = platform::UpperCase(
            platform::Utf8Prefix(ini_.ReadString(file, section, key).value_or(""), kReadBufferChars));
        if ((value.empty() || (value != "FALSE" && value != "TRUE")) && reportMissing)
            ShowOrLogMessage(NotFoundText(section, key, file));
        result = value == "TRUE";
    });
    return result;
}

std::int16_t Runtime::SaveIni(const IniValue& value, std::string_view section, std::string_view key,
                              const std::string& file) {
    Guard guard(*this, "SaveIni");
    return guard.Value(0, [&]() -> std::int16_t {
        std::string text;
        if (const auto* s = std::get_if<std::string>(&value))
            text = *s;
        else if (const auto* b = std::get_if<bool>(&value))
            text = *b ? "true" : "false";
        else if (const auto* i16 = std::get_if<std::int16_t>(&value))
            text = std::to_string(*i16);
        else if (const auto* i32 = std::get_if<std::int32_t>(&value))
            text = std::to_string(*i32);
        else if (const auto* d = std::get_if<double>(&value))
            text = InvariantNumber(*d);
        else {
            // The entry is left as it is: writing nothing would delete it.
            ShowOrLogMessage("Ini Save:  wrong data type");
            return 0;
        }
        return ini_.WriteString(file, section, key, text) ? 1 : 0;
    });
}

} // namespace torvex::runtime
