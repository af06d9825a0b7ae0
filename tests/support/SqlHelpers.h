#pragma once

#include <string>
#include <vector>

namespace torvex::test {

// Creates (or extends) the SQLite database at `path` by running `sql`.
void MakeDatabase(const std::string& path, const std::string& sql);

// The rows of `sql` on the database at `path`, each value as text ("NULL" for null).
std::vector<std::vector<std::string>> Query(const std::string& path, const std::string& sql);

// The first value of the first row of `sql`.
std::string QueryOne(const std::string& path, const std::string& sql);

} // namespace torvex::test
