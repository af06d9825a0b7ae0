#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace torvex::crash {

// One file as a power cut may leave it: its bytes and, where the run set it
// or it was there before, its last-write time.
struct FileState {
    std::string bytes;
    std::optional<timespec> lastWrite;
    bool operator==(const FileState& other) const;
};

// The files and folders a recording touched, by absolute path.
struct Tree {
    std::map<std::string, FileState> files;
    std::set<std::string> folders;
    std::size_t Hash() const;
};

// One line of the recorder's log (see Recorder.c).
struct Record {
    char kind = 0;
    std::string id, path, to, bytes;
    long long number = 0, nanoseconds = 0; // offset, size or seconds
};

std::vector<Record> ParseLog(const std::string& log);
// One record on one line, without the bytes of a write.
std::string Summary(const Record& record);

// Every path a recording names.
std::set<std::string> TouchedPaths(const std::vector<Record>& records);

// Reads `paths` (the files among them; folders as folders) as they are now;
// with `root` given, each from its place under `copy` instead.
Tree ReadTree(const std::set<std::string>& paths, const std::string& root = "", const std::string& copy = "");

// How the data of a file written since its last flush reaches the disk.
enum class DataFate { Lost, Zeroed, Kept }; // Zeroed: the new size, the new bytes as zeros

// The states a power cut may leave after each record, under this model:
// - a file's data and last-write time are as of its last flush; what was
//   written after it is lost, or the file has its new size with the new
//   bytes as zeros, or everything reached the disk;
// - a folder operation (create, rename, link, remove, make folder) of a
//   folder not flushed since may or may not have reached the disk, those of
//   one folder in the order they were made. An operation belongs to the
//   folder of the name it creates or removes (a rename: of its new name).
class CrashStates {
public:
    CrashStates(Tree initial, std::vector<Record> records);

    struct State {
        std::size_t point = 0; // records done before the power cut
        std::string how;       // the choices, for a failure message
        Tree tree;
    };
    // Calls `visit` for every state of every point: all combinations of
    // the choices where there are at most `combinationLimit` of them, else
    // the worst ones (each fate for all files, with all or none of the
    // unflushed folder operations) and each folder's prefixes alone.
    void ForEach(std::size_t combinationLimit, const std::function<void(const State&)>& visit) const;

    // The whole versions the run gave each path (by rename or link), in order.
    const std::map<std::string, std::vector<std::string>>& NamedVersions() const { return versions_; }
    std::size_t Points() const { return records_.size() + 1; }

private:
    Tree initial_;
    std::vector<Record> records_;
    std::map<std::string, std::vector<std::string>> versions_;
};

} // namespace torvex::crash
