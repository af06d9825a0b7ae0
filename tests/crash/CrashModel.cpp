#include "crash/CrashModel.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace torvex::crash {
namespace {

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

bool SameTime(const std::optional<timespec>& a, const std::optional<timespec>& b) {
    return a.has_value() == b.has_value() && (!a || (a->tv_sec == b->tv_sec && a->tv_nsec == b->tv_nsec));
}

} // namespace

bool FileState::operator==(const FileState& other) const {
    return bytes == other.bytes && SameTime(lastWrite, other.lastWrite);
}

std::size_t Tree::Hash() const {
    std::size_t h = 0;
    const auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    for (const auto& [path, file] : files) {
        mix(std::hash<std::string>{}(path));
        mix(std::hash<std::string>{}(file.bytes));
        if (file.lastWrite)
            mix(static_cast<std::size_t>(file.lastWrite->tv_sec * 1000000000LL + file.lastWrite->tv_nsec));
    }
    for (const auto& folder : folders)
        mix(std::hash<std::string>{}(folder)*31);
    return h;
}

std::vector<Record> ParseLog(const std::string& log) {
    std::vector<Record> records;
    std::size_t pos = 0;
    while (pos < log.size()) {
        const std::size_t end = log.find('\n', pos);
        if (end == std::string::npos)
            throw std::runtime_error("a record without its end at byte " + std::to_string(pos));
        std::istringstream line(log.substr(pos, end - pos));
        pos = end + 1;
        Record r;
        line >> r.kind;
        switch (r.kind) {
        case 'K':
        case 'C':
            line >> r.id >> r.path;
            break;
        case 'N':
        case 'S':
            line >> r.id;
            break;
        case 'W': {
            line >> r.id >> r.number;
            std::size_t length = 0;
            line >> length;
            if (pos + length >= log.size() || log[pos + length] != '\n')
                throw std::runtime_error("a write cut short at byte " + std::to_string(pos));
            r.bytes = log.substr(pos, length);
            pos += length + 1;
            break;
        }
        case 'T':
            line >> r.id >> r.number;
            break;
        case 'D':
        case 'U':
        case 'M':
            line >> r.path;
            break;
        case 'R':
        case 'P':
            line >> r.path >> r.to;
            break;
        case 'L':
            line >> r.id >> r.to;
            break;
        case 'E':
            line >> r.id >> r.number >> r.nanoseconds;
            break;
        default:
            throw std::runtime_error(std::string("an unknown record '") + r.kind + "'");
        }
        if (line.fail())
            throw std::runtime_error(std::string("a damaged record '") + r.kind + "'");
        records.push_back(std::move(r));
    }
    return records;
}

std::set<std::string> TouchedPaths(const std::vector<Record>& records) {
    std::set<std::string> paths;
    for (const Record& r : records) {
        if (!r.path.empty())
            paths.insert(r.path);
        if (!r.to.empty())
            paths.insert(r.to);
    }
    return paths;
}

Tree ReadTree(const std::set<std::string>& paths, const std::string& root, const std::string& copy) {
    Tree tree;
    for (const std::string& path : paths) {
        const std::string source = root.empty() ? path : copy + path.substr(root.size());
        struct stat st {};
        if (::lstat(source.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            tree.folders.insert(path);
        } else if (S_ISREG(st.st_mode)) {
            std::ifstream in(source, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            tree.files[path] = {bytes.str(), st.st_mtim};
        }
    }
    return tree;
}

namespace {

struct Inode {
    std::string current, durable;
    std::optional<timespec> currentTime, durableTime;
    bool Dirty() const { return current != durable || !SameTime(currentTime, durableTime); }
    std::string Bytes(DataFate fate) const {
        if (fate == DataFate::Kept)
            return current;
        if (fate == DataFate::Lost)
            return durable;
        std::string zeroed(current.size(), '\0');
        zeroed.replace(0, std::min(durable.size(), current.size()), durable, 0,
                       std::min(durable.size(), current.size()));
        return zeroed;
    }
};

// A folder operation: C (a name for a file), U (a name removed, file or
// folder), M (a folder made), R (renamed, `from` to `path`).
struct FolderOp {
    char kind;
    std::string path, from;
    int inode = -1;
    std::string Folder() const { return FolderOf(path); }
};

const char* FateName(DataFate fate) {
    return fate == DataFate::Lost ? "lost" : fate == DataFate::Zeroed ? "zeros" : "kept";
}

// The run replayed up to one point, with what a power cut there may keep.
class Replayer {
public:
    explicit Replayer(const Tree& initial) {
        for (const auto& [path, file] : initial.files) {
            names_[path] = NewInode(file.bytes, file.lastWrite);
            initialNames_[path] = names_[path];
        }
        initialFolders_ = initial.folders;
    }

    void Apply(const Record& r, std::map<std::string, std::vector<std::string>>& versions) {
        switch (r.kind) {
        case 'K': {
            const auto found = names_.find(r.path);
            if (found == names_.end())
                throw std::runtime_error("a file the recording never saw made: " + r.path);
            ids_[r.id] = found->second;
            break;
        }
        case 'C':
            ids_[r.id] = NewInode("", std::nullopt);
            AddOp({'C', r.path, "", ids_[r.id]});
            break;
        case 'N':
            ids_[r.id] = NewInode("", std::nullopt);
            break;
        case 'W': {
            std::string& bytes = inodes_[Id(r.id)].current;
            const auto end = static_cast<std::size_t>(r.number) + r.bytes.size();
            if (bytes.size() < end)
                bytes.resize(end, '\0');
            bytes.replace(static_cast<std::size_t>(r.number), r.bytes.size(), r.bytes);
            break;
        }
        case 'T':
            inodes_[Id(r.id)].current.resize(static_cast<std::size_t>(r.number), '\0');
            break;
        case 'S': {
            Inode& inode = inodes_[Id(r.id)];
            inode.durable = inode.current;
            inode.durableTime = inode.currentTime;
            break;
        }
        case 'E':
            inodes_[Id(r.id)].currentTime =
                timespec{static_cast<time_t>(r.number), static_cast<long>(r.nanoseconds)};
            break;
        case 'D':
            flushed_[r.path] = ops_.size();
            break;
        case 'R': {
            const auto found = names_.find(r.path);
            if (found == names_.end())
                throw std::runtime_error("a rename of a name never made: " + r.path);
            const int inode = found->second; // the rename below takes the name away
            AddOp({'R', r.to, r.path, inode});
            versions[r.to].push_back(inodes_[inode].current);
            break;
        }
        case 'L':
        case 'P': {
            const int inode = r.kind == 'L' ? Id(r.id) : names_.at(r.path);
            AddOp({'C', r.to, "", inode});
            versions[r.to].push_back(inodes_[inode].current);
            break;
        }
        case 'U':
            AddOp({'U', r.path, "", -1});
            break;
        case 'M':
            AddOp({'M', r.path, "", -1});
            madeFolders_.insert(r.path);
            break;
        }
    }

    // The states of this point.
    void States(std::size_t point, const std::string& last, std::size_t limit,
                const std::function<void(const CrashStates::State&)>& visit) const {
        // The choices: how many of each folder's unflushed operations reached the disk...
        std::map<std::string, std::size_t> pending;
        for (std::size_t i = 0; i < ops_.size(); ++i)
            if (!Durable(i))
                ++pending[ops_[i].Folder()];
        // ...and the fate of each file written since its flush.
        std::vector<int> dirty;
        for (std::size_t i = 0; i < inodes_.size(); ++i)
            if (inodes_[i].Dirty())
                dirty.push_back(static_cast<int>(i));
        std::size_t combinations = 1;
        for (const auto& [folder, count] : pending)
            combinations = std::min(combinations * (count + 1), limit + 1);
        for (std::size_t i = 0; i < dirty.size(); ++i)
            combinations = std::min(combinations * 3, limit + 1);

        std::map<std::string, std::size_t> keep;
        std::map<int, DataFate> fates;
        const auto emit = [&] {
            CrashStates::State state;
            state.point = point;
            state.tree = Build(keep, fates);
            state.how =
                "power cut after record " + std::to_string(point) + " (" + last + "); reached the disk:";
            for (const auto& [folder, count] : pending)
                state.how += " " + std::to_string(keep.at(folder)) + " of " + std::to_string(count) +
                             " operations in " + folder + ";";
            for (const int inode : dirty)
                state.how += " " + Describe(inode) + " " + FateName(fates.at(inode)) + ";";
            visit(state);
        };
        const auto uniform = [&](bool allOps, DataFate fate) {
            for (const auto& [folder, count] : pending)
                keep[folder] = allOps ? count : 0;
            for (const int inode : dirty)
                fates[inode] = fate;
        };
        if (combinations <= limit) {
            for (std::size_t n = 0; n < combinations; ++n) {
                std::size_t rest = n;
                for (const auto& [folder, count] : pending) {
                    keep[folder] = rest % (count + 1);
                    rest /= count + 1;
                }
                for (const int inode : dirty) {
                    fates[inode] = static_cast<DataFate>(rest % 3);
                    rest /= 3;
                }
                emit();
            }
            return;
        }
        for (const bool allOps : {true, false})
            for (const DataFate fate : {DataFate::Lost, DataFate::Zeroed, DataFate::Kept}) {
                uniform(allOps, fate);
                emit();
            }
        for (const auto& [folder, count] : pending)
            for (std::size_t k = 0; k < count; ++k) {
                uniform(true, DataFate::Lost);
                keep[folder] = k;
                emit();
            }
    }

private:
    int NewInode(std::string bytes, std::optional<timespec> time) {
        inodes_.push_back({bytes, bytes, time, time});
        return static_cast<int>(inodes_.size() - 1);
    }

    int Id(const std::string& id) const {
        const auto found = ids_.find(id);
        if (found == ids_.end())
            throw std::runtime_error("a file id never introduced: " + id);
        return found->second;
    }

    // Applies an operation to the names as the run saw them, and keeps it.
    void AddOp(FolderOp op) {
        if (op.kind == 'R') {
            names_[op.path] = op.inode;
            names_.erase(op.from);
        } else if (op.kind == 'C') {
            names_[op.path] = op.inode;
        } else if (op.kind == 'U') {
            names_.erase(op.path);
        }
        ops_.push_back(std::move(op));
    }

    bool Durable(std::size_t op) const {
        const auto flushed = flushed_.find(ops_[op].Folder());
        return flushed != flushed_.end() && op < flushed->second;
    }

    std::string Describe(int inode) const {
        for (const auto& [path, i] : names_)
            if (i == inode)
                return path;
        return "an unnamed file";
    }

    Tree Build(const std::map<std::string, std::size_t>& keep, const std::map<int, DataFate>& fates) const {
        std::map<std::string, int> names = initialNames_;
        std::set<std::string> folders = initialFolders_;
        std::map<std::string, std::size_t> taken;
        for (std::size_t i = 0; i < ops_.size(); ++i) {
            const FolderOp& op = ops_[i];
            if (!Durable(i) && taken[op.Folder()]++ >= keep.at(op.Folder()))
                continue;
            switch (op.kind) {
            case 'C':
                names[op.path] = op.inode;
                break;
            case 'R':
                if (names.count(op.from)) {
                    names[op.path] = names[op.from];
                    names.erase(op.from);
                }
                break;
            case 'U':
                names.erase(op.path);
                folders.erase(op.path);
                break;
            case 'M':
                folders.insert(op.path);
                break;
            }
        }
        Tree tree;
        tree.folders = folders;
        for (const auto& [path, inode] : names) {
            const std::string folder = FolderOf(path);
            if (madeFolders_.count(folder) && !folders.count(folder))
                continue; // its folder never reached the disk
            const Inode& node = inodes_[static_cast<std::size_t>(inode)];
            const auto fate = fates.find(inode);
            const DataFate f = fate == fates.end() ? DataFate::Kept : fate->second;
            tree.files[path] = {node.Bytes(f), f == DataFate::Kept ? node.currentTime : node.durableTime};
        }
        return tree;
    }

    std::vector<Inode> inodes_;
    std::map<std::string, int> ids_, names_, initialNames_;
    std::set<std::string> initialFolders_, madeFolders_;
    std::vector<FolderOp> ops_;
    std::map<std::string, std::size_t> flushed_; // folder: operations before its last flush
};

} // namespace

std::string Summary(const Record& r) {
    std::string s(1, r.kind);
    for (const std::string* part : {&r.id, &r.path, &r.to})
        if (!part->empty())
            s += " " + *part;
    if (r.kind == 'W' || r.kind == 'T')
        s += " " + std::to_string(r.number) + (r.kind == 'W' ? " +" + std::to_string(r.bytes.size()) : "");
    return s;
}

CrashStates::CrashStates(Tree initial, std::vector<Record> records)
    : initial_(std::move(initial)), records_(std::move(records)) {
    Replayer replay(initial_);
    for (const Record& r : records_)
        replay.Apply(r, versions_);
}

void CrashStates::ForEach(std::size_t combinationLimit,
                          const std::function<void(const State&)>& visit) const {
    Replayer replay(initial_);
    std::map<std::string, std::vector<std::string>> versions;
    replay.States(0, "none", combinationLimit, visit);
    for (std::size_t i = 0; i < records_.size(); ++i) {
        replay.Apply(records_[i], versions);
        replay.States(i + 1, Summary(records_[i]), combinationLimit, visit);
    }
}

} // namespace torvex::crash
