#pragma once

#include <string>
#include <vector>

namespace torvex::test {

// Creates (or extends) the SQLite database at `path` by running `sql`.
void MakeDatabase(const std::string& path, const std::string& sql);

// The rows of `sql` on the database at `path`, each value as text ("NULL" for null).
std::vector<std::vector<std::string>> Query(const std::string& path, const std::string& sql);

// Leaves the database at `path` as a writer that crashed in the middle of
// running `sql` in one transaction: the file half-written (its cache spills)
// and a hot journal beside it.
void LeaveHotJournal(const std::string& path, const std::string& sql);

// Every entry under `folder` (recursively) with its bytes, size, last-write
// and change time: equal when nothing in the folder was written.
std::string FolderState(const std::string& folder);

// The first value of the first row of `sql`.
std::string QueryOne(const std::string& path, const std::string& sql);

} // namespace torvex::test
