#include "platform/Failure.h"
#include "platform/Text.h"
#include "runtime/Guard.h"
#include "runtime/Runtime.h"

#include <cstdio>

namespace torvex::runtime {

namespace {

// Added to every character code of the editor mark. Marks written by
// different runs compare equal only while this stays the same.
constexpr unsigned kEditorMarkOffset = 3;

} // namespace

// Encodes the value of the first environment entry: every character except
// "-" and "_" as the hexadecimal text of its Windows-1252 code plus the offset.
std::string EditorMark(std::string_view environmentEntry) {
    const auto eq = environmentEntry.find('=');
    const std::string_view value =
        eq == std::string_view::npos ? std::string_view{} : environmentEntry.substr(eq + 1);
    std::string mark;
    for (std::size_t i = 0; i < value.size();) {
        const auto [code, length] = platform::Cp1252CodeAt(value, i);
        i += length;
        if (code == '-' || code == '_')
            continue;
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X", code + kEditorMarkOffset);
        mark += hex;
    }
    return mark;
}

// An edit record that the file refused is a failure: nothing else would
// tell that the record was not kept.
void Runtime::RequireSaved(bool saved) {
    if (!saved)
        platform::Raise(platform::errnum::PathFileAccess,
                        "The edit record was not saved: \"" + GetCFGPath() + "\" cannot be written.");
}

void Runtime::WriteEditInfo() {
    Guard guard(*this, "WriteEditInfo");
    // Both entries are written in one go: the file changes once, or not at all.
    IniStep step(*this, guard.Value("", [&] { return GetCFGPath(); }));
    guard([&] { step.Begin(); });
    guard([&] {
        const std::string prog =
            identity_.version.Text() + (IntegratedMode() ? " - Integrated" : " - Standalone");
        (void)SaveIni(prog, "Info", "S_Prog", GetCFGPath()); // reaches the file with the step
    });
    const std::string mark = guard.Value("", [&] { return EditorMark(identity_.firstEnvironmentEntry); });
    guard([&] { (void)SaveIni(mark, "Info", "S_Editor", GetCFGPath()); });
    guard([&] { RequireSaved(step.Commit()); });
}

} // namespace torvex::runtime
