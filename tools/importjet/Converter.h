#pragma once

#include <functional>
#include <string>

namespace torvex::importjet {

// The SQLite declaration of a Jet column: the Jet type's name first (so that
// the program reads it with the right kind) and the type that gives SQLite
// the right storage affinity. Jet 4 gives text sizes in bytes, two per character.
std::string DeclaredType(int jetType, int size, int precision, int scale, int jetVersion);

struct Progress {
    std::function<void(const std::string& table)> reading; // before a table is read
    std::function<void(const std::string& line)> say;      // one line per table read
    // When set, called with what is wrong the moment the file turns out to be
    // cut short, from inside the reading library; it should end the process
    // (returning lets the reading go on to the exception).
    std::function<void(const std::string& reason)> stop;
};

// Writes the SQLite version of the Jet database `jetPath` into `sqlitePath`
// (an empty file made for it): every table with its columns in their order and every row.
// Throws std::runtime_error, with what is wrong, when the Jet file is not
// whole: cut short, or a table (the catalog included) yields another number
// of rows than its definition counts, or a value cannot be read.
void ConvertJetFile(const std::string& jetPath, const std::string& sqlitePath, const Progress& progress);

} // namespace torvex::importjet
