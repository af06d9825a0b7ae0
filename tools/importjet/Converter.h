#pragma once

#include <functional>
#include <string>

namespace torvex::importjet {

// The SQLite declaration of a Jet column: the Jet type's name first (so that
// the program reads it with the right kind) and the type that gives SQLite
// the right storage affinity. Jet 4 gives text sizes in bytes, two per character.
std::string DeclaredType(int jetType, int size, int precision, int scale, int jetVersion);

// Writes the SQLite version of the Jet database `jetPath` to `sqlitePath`
// (a new file): every table with its columns in their order and every row.
// Reports one line per table through `say`. Throws std::runtime_error when
// the Jet file cannot be read.
void ConvertJetFile(const std::string& jetPath, const std::string& sqlitePath,
                    const std::function<void(const std::string&)>& say);

} // namespace torvex::importjet
