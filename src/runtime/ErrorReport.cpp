#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/ProgramEnd.h"
#include "platform/Text.h"
#include "runtime/Runtime.h"

#include <cerrno>
#include <iostream>

namespace torvex::runtime {

using platform::Answer;
using platform::Buttons;
using platform::Icon;
using platform::MessageBox;

// The error log as it exists, found in any letter case (a log copied over
// from Windows may be called hx5cfglog.txt); a new log gets the name as given.
std::string Runtime::ErrorLogPath() {
    std::string path;
    if (IntegratedMode()) {
        // Not through GetPathLogfile: a failure there would be reported into this very log.
        try {
            path = ParseCommandPath(identity_.commandLine, "LOGFILE").value_or("");
        } catch (const platform::Failure&) {
            return {};
        }
    } else {
        path = InstallationFolder() + "/HX5cfglog.txt";
    }
    return platform::FindExistingFile(path).value_or(path);
}

// Appends one entry to a log file. An entry that cannot be written there
// goes to standard error, with the reason: a log never ends or blocks a run.
// Returns whether the entry is in the log file.
bool Runtime::AppendToLog(const std::string& path, std::string_view entry) {
    if (services_.logsToErrorStream) {
        *services_.errorStream << entry << '\n' << std::flush;
        return false;
    }
    const std::error_code why = platform::TryAppendLine(path, entry);
    if (!why)
        return true;
    *services_.errorStream << (path.empty() ? std::string("no log file is named")
                                            : path + ": " + platform::DescribeFileError(path, why))
                           << "; the entry follows:\n"
                           << entry << '\n'
                           << std::flush;
    return false;
}

std::string Runtime::WriteErrorLog(std::string_view text) {
    const std::string path = ErrorLogPath();
    const bool inFile = AppendToLog(path, text);
    return "Error logged to " + std::string(LFCR) +
           (inFile ? platform::UpperCase(path) : std::string("(standard error)"));
}

void Runtime::WriteServicePackLog(std::string_view text) {
    AppendToLog(services_.servicePackLogPath,
                "! Fault " + identity_.programFileName + ": " + std::string(text));
}

void Runtime::WriteServicePackNote(std::string_view text) {
    AppendToLog(services_.servicePackLogPath, identity_.programFileName + ": " + std::string(text));
}

void Runtime::ShowOrLogMessage(std::string_view text) {
    if (SilentMode()) {
        WriteServicePackLog(text);
        return;
    }
    ShowMessage(MessageBox{std::string(text), identity_.programFileName, Buttons::Ok, Icon::Critical, 1});
}

void Runtime::ReportNotDone(std::string_view text) {
    ++failureReports_;
    ShowOrLogMessage(text);
}

ReportAnswer Runtime::ReportError(std::int32_t number, std::string_view source, std::string_view description,
                                  std::string_view procedure, bool fatal) {
    ++failureReports_;
    const std::string entry = "Fehler in " + ReportComponentName() + " / " + std::string(source) + " / " +
                              std::string(procedure) + " (Nr. " + std::to_string(number) +
                              ") :" + std::string(description);
    const std::string note = WriteErrorLog(entry);
    const std::string report =
        "Unexpected error!" + std::string(LFCR) + std::string(description) + std::string(LFCR) + note;
    if (SilentMode()) {
        WriteServicePackLog(report);
        return ReportAnswer::Resume;
    }
    if (!fatal) {
        const Answer answer = ShowMessage(MessageBox{report + std::string(LFCR) + "Resume?",
                                                     "Unexpected error", Buttons::YesNo, Icon::Critical, 1});
        return answer == Answer::Yes ? ReportAnswer::Resume : ReportAnswer::End;
    }
    ShowMessage(MessageBox{report, "Fatal error", Buttons::Ok, Icon::Critical, 1});
    return ReportAnswer::End;
}

void Runtime::EndProgram() {
    throw platform::ProgramEnd{1};
}

void Runtime::EndNormally() {
    throw platform::ProgramEnd{failureReports_ > 0 ? 1 : 0};
}

bool Runtime::ConfirmCancel() {
    std::string question = "Cancel edits?" + std::string(LFCR) + "Remark:" + std::string(LFCR) +
                           "Until now no changes have been taken over ";
    if (IntegratedMode()) {
        question += std::string(LFCR) + "\"" + GetOCXName() + "\"" + " has to be configured again in " +
                    "\"standalone-mode\"" + " via " + std::string(LFCR) + "\"" + identity_.programFolder +
                    "/" + identity_.programFileName + ".exe" + "\"";
    }
    if (SilentMode()) {
        WriteServicePackLog(question);
        return true;
    }
    const Answer answer = ShowMessage(MessageBox{question, "Cancel?", Buttons::YesNo, Icon::Exclamation, 2});
    if (answer != Answer::Yes)
        return false;
    WriteErrorLog("Konfigurations-EXE wurde abgebrochen:     " + GetOCXName());
    return true;
}

} // namespace torvex::runtime
