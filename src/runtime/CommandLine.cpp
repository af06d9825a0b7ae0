#include "platform/Failure.h"
#include "platform/Text.h"
#include "runtime/Guard.h"
#include "runtime/Runtime.h"

namespace torvex::runtime {

using platform::TrimSpaces;
using platform::UpperCase;

namespace {

// The text after `key` and its one-character separator, or std::nullopt when
// the key does not occur.
std::optional<std::string_view> TextAfterKey(std::string_view commandLine, std::string_view key) {
    const auto pos = UpperCase(commandLine).find(UpperCase(key));
    if (pos == std::string::npos)
        return std::nullopt;
    std::size_t start = pos + key.size();
    if (start >= commandLine.size())
        platform::Raise(platform::errnum::InvalidArgument, "Invalid procedure call or argument");
    start += platform::Utf8CharLength(static_cast<unsigned char>(commandLine[start]));
    return commandLine.substr(std::min(start, commandLine.size()));
}

} // namespace

std::optional<std::string> ParseCommandValue(std::string_view commandLine, std::string_view key) {
    const auto rest = TextAfterKey(commandLine, key);
    if (!rest)
        return std::nullopt;
    std::string value = UpperCase(TrimSpaces(*rest));
    if (const auto slash = value.find('/'); slash != std::string::npos)
        value = UpperCase(TrimSpaces(std::string_view(value).substr(0, slash)));
    return value;
}

std::optional<std::string> ParseCommandPath(std::string_view commandLine, std::string_view key) {
    auto rest = TextAfterKey(commandLine, key);
    if (!rest)
        return std::nullopt;
    if (const auto next = rest->find(" /"); next != std::string_view::npos)
        rest = rest->substr(0, next);
    return std::string(TrimSpaces(*rest));
}

CommandWord FindCommandWord(std::string_view commandLine, std::string_view word) {
    const std::string upper = UpperCase(commandLine);
    // The log file's path is read from after "LOGFILE" and its separator to
    // the next " /", as GetPathLogfile reads it.
    std::size_t pathStart = std::string::npos, pathEnd = std::string::npos;
    if (const auto key = upper.find("LOGFILE"); key != std::string::npos && key + 7 < upper.size()) {
        pathStart = key + 7 + platform::Utf8CharLength(static_cast<unsigned char>(upper[key + 7]));
        pathEnd = upper.find(" /", pathStart);
    }
    const std::string key = "/" + UpperCase(word);
    CommandWord found = CommandWord::Absent;
    for (auto pos = upper.find(key); pos != std::string::npos; pos = upper.find(key, pos + 1)) {
        // A value ends at the next "/", so a key may follow it without a blank
        // (/EXTERNAL=SILENT/PREVIEW) and be followed by the next key (/PREVIEW/EXTERNAL=SILENT).
        const std::size_t end = pos + key.size();
        if (end < upper.size() && upper[end] != ' ' && upper[end] != '=' && upper[end] != '/')
            continue;
        if (pathStart == std::string::npos || pos < pathStart || pos >= pathEnd)
            return CommandWord::Given;
        // In the log file's path it is a folder, or a key the path swallowed
        // (/LOGFILE /PREVIEW): nobody can tell which.
        found = CommandWord::Ambiguous;
    }
    return found;
}

std::optional<std::string> Runtime::ReadCommand(std::string_view commandLine, std::string_view key) {
    Guard guard(*this, "ReadCommand");
    return guard.Value(std::nullopt, [&] { return ParseCommandValue(commandLine, key); });
}

bool Runtime::GetStartModeIntegrated() {
    Guard guard(*this, "GetStartModeIntegrated");
    bool result = false;
    guard([&] {
        const std::string external = ReadCommand(identity_.commandLine, "EXTERNAL").value_or("");
        const bool silent = external == "SILENT";
        result = external == "HX5CFG" && !silent;
        SetStartMode(result, silent);
    });
    return result;
}

std::string Runtime::GetPathLogfile() {
    Guard guard(*this, "GetPathLogfile");
    return guard.Value("", [&] { return ParseCommandPath(identity_.commandLine, "LOGFILE").value_or(""); });
}

std::string Runtime::GetOCXName() {
    Guard guard(*this, "GetOCXName");
    return guard.Value("", [&] {
        const auto component = ComponentName();
        // A program name too short to hold a component name is told once per
        // run: every path asks for the name anew, and each ask would report.
        if (!component && !componentNameReported_) {
            componentNameReported_ = true;
            platform::Raise(platform::errnum::InvalidArgument, "Invalid procedure call or argument");
        }
        return component.value_or("");
    });
}

std::optional<std::string> Runtime::ComponentName() const {
    const std::string& file = identity_.programFileName;
    if (file.size() < 7)
        return std::nullopt;
    return file.substr(0, file.size() - 7);
}

std::string Runtime::ReportComponentName() const {
    return ComponentName().value_or("");
}

std::string Runtime::InstallationFolder() const {
    std::string folder = identity_.programFolder;
    while (!folder.empty() && folder.back() != '/')
        folder.pop_back();
    if (!folder.empty())
        folder.pop_back();
    return folder;
}

} // namespace torvex::runtime
