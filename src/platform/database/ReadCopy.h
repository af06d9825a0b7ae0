#pragma once

#include "platform/Failure.h"
#include "platform/FileSystem.h"

#include <memory>
#include <optional>
#include <string>

namespace torvex::platform::db {

// Copies the database file `source` to `into`, with the rollback journal or
// write-ahead log beside it as `into`-journal or `into`-wal, without opening
// `source` in SQLite: nothing beside it is created, changed or rolled back.
// The bytes are read under the file's shared lock, as SQLite takes it, and
// for a write-ahead log under the read lock that keeps checkpoints from
// writing into the file, so that no other program commits into the copied
// state meanwhile. A busy file is waited for as a statement would wait.
// Opening the copy for writing then rolls back or recovers, in the copy,
// what a crashed writer left. Throws a Failure naming `source`.
void CopyDatabaseFiles(const std::string& source, const std::string& into);

// A database file that the run only reads and does not own (or that a
// preview must leave as it is): read from a private copy in a folder of the
// run's own, made with CopyDatabaseFiles and recovered there. Making it never
// throws; a failure to copy, open or recover the file is kept and thrown by
// Path(), naming the original file.
class ReadCopy {
public:
    explicit ReadCopy(std::string original);
    ~ReadCopy();
    ReadCopy(const ReadCopy&) = delete;
    ReadCopy& operator=(const ReadCopy&) = delete;

    const std::string& Original() const { return original_; }
    // The path of the copy, to be opened read-only; throws the failure that
    // kept it from being made.
    const std::string& Path() const;
    // Runs `step` (which opens Path()); a failure it throws names the
    // original file where it named the copy.
    template <class Step> decltype(auto) Naming(Step&& step) const {
        try {
            return step();
        } catch (const Failure& failure) {
            throw Renamed(failure);
        }
    }

private:
    Failure Renamed(const Failure& failure) const;

    std::string original_;
    std::unique_ptr<PrivateFolder> folder_;
    std::string copyPath_;
    std::optional<Failure> failure_;
};

} // namespace torvex::platform::db
