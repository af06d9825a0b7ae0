// A power cut at any instant of a run loses nothing. Each run here is
// recorded (Recorder.c); every state the crash model (CrashModel.h) gives
// for every point of the recording is laid out in the plant and checked:
// each file whole, as before or after the run (or a whole version the run
// gave it); the databases as SQLite finds them; no tuned value lost; and a
// next run on that state succeeds.
#include "crash/CrashModel.h"
#include "support/DemoPlant.h"
#include "support/SqlHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <unordered_map>

using namespace torvex;
using crash::FileState;
using crash::Tree;
namespace fs = std::filesystem;

namespace {

// Files that are no result of a run: work files (swept or replaced by the
// next run), locks, logs, and journals (checked with their databases).
bool Ignored(const std::string& name) {
    return name.starts_with(".torvex-tmp-") || name.ends_with(".importing") || name.ends_with(".lock") ||
           name.ends_with(".log") || name == "HX5cfglog.txt" || name.ends_with("-journal");
}

std::string NameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// Copies a plant; the programs are linked, never written.
void CopyPlant(const std::string& from, const std::string& to) {
    fs::create_directories(to);
    for (const auto& entry : fs::recursive_directory_iterator(from)) {
        const std::string target = to + entry.path().string().substr(from.size());
        if (entry.is_directory()) {
            fs::create_directories(target);
        } else if (entry.path().filename() == "Torvex_Config") {
            fs::create_hard_link(entry.path(), target);
        } else {
            fs::copy_file(entry.path(), target);
            struct stat st {};
            ::stat(entry.path().c_str(), &st);
            const timespec times[2] = {st.st_atim, st.st_mtim};
            ::utimensat(AT_FDCWD, target.c_str(), times, 0);
        }
    }
}

// Lays `tree` out at `root` over a copy of `base`, the plant before the run.
void LayOut(const Tree& tree, const std::set<std::string>& touched, const std::string& root,
            const std::string& base) {
    fs::remove_all(root);
    CopyPlant(base, root);
    for (auto path = touched.rbegin(); path != touched.rend(); ++path)
        if (!tree.files.count(*path) && !tree.folders.count(*path))
            fs::remove_all(*path);
    for (const std::string& folder : tree.folders)
        fs::create_directories(folder);
    for (const auto& [path, file] : tree.files) {
        fs::remove(path);
        test::WriteFile(path, file.bytes);
        if (file.lastWrite) {
            const timespec times[2] = {{0, UTIME_OMIT}, *file.lastWrite};
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
    }
}

// Runs a program to its end; its exit status (-1: killed).
int RunProcess(const std::vector<std::string>& argv,
               const std::vector<std::pair<std::string, std::string>>& env, const std::string& folder) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(folder.c_str()) != 0)
            ::_exit(126);
        for (const auto& [name, value] : env)
            ::setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A database as SQLite finds it (a hot journal beside it rolled back): its
// tables as text, or nullopt when it is no whole database.
std::optional<std::string> Contents(const std::string& bytes, const std::optional<std::string>& journal,
                                    const std::string& scratch) {
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    const std::string db = scratch + "/db";
    test::WriteFile(db, bytes);
    if (journal)
        test::WriteFile(db + "-journal", *journal);
    sqlite3* c = nullptr;
    std::optional<std::string> text;
    if (sqlite3_open_v2(db.c_str(), &c, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        std::vector<std::string> tables;
        bool whole = false;
        const auto exec = [&](const std::string& sql, const std::function<void(sqlite3_stmt*)>& row) {
            sqlite3_stmt* s = nullptr;
            if (sqlite3_prepare_v2(c, sql.c_str(), -1, &s, nullptr) != SQLITE_OK)
                return false;
            int rc;
            while ((rc = sqlite3_step(s)) == SQLITE_ROW)
                row(s);
            sqlite3_finalize(s);
            return rc == SQLITE_DONE;
        };
        const auto cell = [](sqlite3_stmt* s, int i) {
            const auto* t = sqlite3_column_text(s, i);
            return sqlite3_column_type(s, i) == SQLITE_NULL ? std::string("NULL")
                                                            : std::string(reinterpret_cast<const char*>(t));
        };
        whole = exec("PRAGMA integrity_check", [&](sqlite3_stmt* s) { whole = cell(s, 0) == "ok"; }) && whole;
        whole = whole && exec("SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name",
                              [&](sqlite3_stmt* s) { tables.push_back(cell(s, 0)); });
        std::string all;
        for (const std::string& t : tables) {
            all += "[" + t + "]\n";
            whole = whole && exec("SELECT * FROM \"" + t + "\" ORDER BY rowid", [&](sqlite3_stmt* s) {
                        for (int i = 0; i < sqlite3_column_count(s); ++i)
                            all += cell(s, i) + "\t";
                        all += "\n";
                    });
        }
        if (whole)
            text = all;
    }
    sqlite3_close(c);
    return text;
}

// The tuned values of a preset database's rows (the name may change with
// the naming scheme): machine type, offset, the limits and the password level.
std::set<std::string> TunedValues(const std::string& contents) {
    std::set<std::string> values;
    const auto start = contents.find("[PRESET_DEFS]\n");
    if (start == std::string::npos)
        return values;
    std::istringstream rows(contents.substr(start + 14));
    for (std::string row; std::getline(rows, row) && !row.starts_with("[");) {
        std::vector<std::string> cells;
        std::istringstream split(row);
        for (std::string cell; std::getline(split, cell, '\t');)
            cells.push_back(cell);
        if (cells.size() >= 15)
            values.insert(cells[1] + "|" + cells[7] + "|" + cells[10] + "|" + cells[11] + "|" + cells[12] +
                          "|" + cells[13] + "|" + cells[14]);
    }
    return values;
}

// One recorded run and what a power cut during it must never cost.
class PowerCut : public ::testing::Test {
protected:
    PowerCut() : root_(fs::canonical(dir_.Path()).string() + "/plant"), plant_(root_) {}

    // Records `run` on the plant as it is now.
    void Record(const std::function<int(const std::vector<std::pair<std::string, std::string>>&)>& run) {
        CopyPlant(root_, before_);
        const std::string log = dir_ / "record.log";
        // A sanitizer build's program takes the recorder before its runtime.
        const char* asan = std::getenv("ASAN_OPTIONS");
        const int status =
            run({{"LD_PRELOAD", TORVEX_CRASH_RECORDER},
                 {"ASAN_OPTIONS", (asan ? asan + std::string(":") : "") + "verify_asan_link_order=0"},
                 {"TORVEX_CRASH_ROOT", root_},
                 {"TORVEX_CRASH_LOG", log}});
        ASSERT_EQ(status, 0) << test::ReadFile(plant_.ServicePackLog());
        records_ = crash::ParseLog(test::ReadFile(log));
        touched_ = crash::TouchedPaths(records_);
        after_ = crash::ReadTree(touched_);
    }

    // Checks every state of the recording; `next` runs on each.
    void CheckEveryState(const std::function<int()>& next) {
        const Tree before = crash::ReadTree(touched_, root_, before_);
        const crash::CrashStates states(before, records_);
        std::set<std::size_t> seen, ran;
        std::size_t count = 0, failures = 0;
        const auto started = std::chrono::steady_clock::now();
        states.ForEach(32, [&](const crash::CrashStates::State& state) {
            ++count;
            if (!seen.insert(state.tree.Hash()).second || failures >= 3)
                return;
            std::vector<std::string> faults = Faults(state.tree, before, states.NamedVersions());
            if (state.point + 1 == states.Points())
                NotYetOnDisk(state.tree, faults);
            if (faults.empty() && ran.insert(NextRunKey(state.tree)).second) {
                LayOut(state.tree, touched_, root_, before_);
                if (const int status = next(); status != 0)
                    faults.push_back("the next run ended with " + std::to_string(status) + ": " +
                                     test::ReadFile(plant_.ServicePackLog()));
                const std::string p = plant_.Preset();
                TunedValuesKept(crash::ReadTree({p, p + "-journal", p + ".bak"}), before, false, faults);
            }
            if (!faults.empty()) {
                ++failures;
                std::string all;
                for (const std::string& f : faults)
                    all += "\n  " + f;
                ADD_FAILURE() << state.how << all;
            }
        });
        if (failures > 0 || std::getenv("TORVEX_CRASH_SHOW")) {
            std::string all = "The recording:";
            for (std::size_t i = 0; i < records_.size(); ++i)
                all += "\n" + std::to_string(i + 1) + " " + crash::Summary(records_[i]);
            if (failures > 0)
                ADD_FAILURE() << all;
            else
                std::cout << all << '\n';
        }
        std::cout << records_.size() << " records, " << count << " states, " << seen.size() << " distinct, "
                  << ran.size() << " next runs, "
                  << std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()
                  << " s\n";
    }

    // States that a next run cannot tell apart share a key: the same files,
    // work files and journals aside, and the same content in each database
    // as SQLite finds it.
    std::size_t NextRunKey(const Tree& state) {
        Tree key;
        for (const auto& [path, file] : state.files) {
            const auto journal = state.files.find(path + "-journal");
            if (Ignored(NameOf(path)))
                key.files[path] = {};
            else if (journal != state.files.end())
                key.files[path] = {Database(file.bytes, journal->second.bytes).value_or(file.bytes),
                                   file.lastWrite};
            else
                key.files[path] = file;
        }
        key.folders = state.folders;
        return key.Hash();
    }

    std::vector<std::string> Faults(const Tree& state, const Tree& before,
                                    const std::map<std::string, std::vector<std::string>>& versions) {
        std::vector<std::string> faults;
        const auto get = [](const Tree& t, const std::string& p) -> const FileState* {
            const auto f = t.files.find(p);
            return f == t.files.end() ? nullptr : &f->second;
        };
        const auto journal = [&](const std::string& p) -> std::optional<std::string> {
            const FileState* j = get(state, p + "-journal");
            return j ? std::optional<std::string>(j->bytes) : std::nullopt;
        };
        for (const std::string& path : touched_) {
            const std::string name = NameOf(path);
            const FileState *now = get(state, path), *was = get(before, path), *will = get(after_, path);
            if (Ignored(name) || (!now && !(was && will)))
                continue;
            if (!now) {
                faults.push_back(path + " is missing");
                continue;
            }
            std::vector<const std::string*> whole;
            for (const FileState* v : {was, will})
                if (v)
                    whole.push_back(&v->bytes);
            if (versions.count(path))
                for (const std::string& v : versions.at(path))
                    whole.push_back(&v);
            const bool isWhole = std::any_of(whole.begin(), whole.end(),
                                             [&](const std::string* v) { return *v == now->bytes; });
            if (name.ends_with("_Source.mdb")) {
                const FileState* same = was && was->bytes == now->bytes     ? was
                                        : will && will->bytes == now->bytes ? will
                                                                            : nullptr;
                if (!same || !(*same == *now))
                    faults.push_back(path + (same ? " has lost its last-write time" : " is neither version"));
            } else if (name.ends_with(".mdb") || name.ends_with(".mdb.bak")) {
                const auto contents = Database(now->bytes, journal(path));
                std::vector<std::optional<std::string>> known;
                for (const FileState* v : {was, will})
                    if (v)
                        known.push_back(Database(v->bytes, std::nullopt));
                if (name.ends_with(".bak") && get(before, path.substr(0, path.size() - 4)))
                    known.push_back(
                        Database(get(before, path.substr(0, path.size() - 4))->bytes, std::nullopt));
                const bool jet = !contents && isWhole; // not SQLite, as it was before the run
                if (!jet && (!contents || std::find(known.begin(), known.end(), contents) == known.end()))
                    faults.push_back(path + (contents ? " holds neither the old nor the new content"
                                                      : " is no whole database"));
            } else if (!isWhole) {
                faults.push_back(path + " is no whole version (" + std::to_string(now->bytes.size()) +
                                 " bytes)");
            }
        }
        TunedValuesKept(state, before, true, faults);
        if (extraCheck_)
            extraCheck_(state, faults);
        return faults;
    }

    // Every tuned value is in the preset database or its backup (or, with
    // `pending`, in the copy that becomes the backup at the next run).
    void TunedValuesKept(const Tree& state, const Tree& before, bool pending,
                         std::vector<std::string>& faults) {
        const std::string path = plant_.Preset();
        const auto old = before.files.find(path);
        const auto oldContents =
            old == before.files.end() ? std::nullopt : Database(old->second.bytes, std::nullopt);
        if (!oldContents)
            return;
        std::set<std::string> kept;
        for (const std::string& p : {path, path + ".bak", path + (pending ? ".bak.pending" : ".bak")}) {
            const auto f = state.files.find(p), j = state.files.find(p + "-journal");
            if (f != state.files.end())
                if (const auto c =
                        Database(f->second.bytes,
                                 j == state.files.end() ? std::nullopt : std::optional(j->second.bytes)))
                    kept.merge(TunedValues(*c));
        }
        for (const std::string& value : TunedValues(*oldContents))
            if (!kept.count(value)) {
                faults.push_back("the tuned values " + value + " are lost");
                return;
            }
    }

    // A run that has ended has everything it wrote on disk: a power cut
    // right after it leaves its results, not an earlier version.
    void NotYetOnDisk(const Tree& state, std::vector<std::string>& faults) {
        for (const auto& [path, file] : after_.files) {
            if (Ignored(NameOf(path)))
                continue;
            const auto now = state.files.find(path);
            const auto journal = state.files.find(path + "-journal");
            const bool same =
                now != state.files.end() &&
                (now->second.bytes == file.bytes ||
                 (journal != state.files.end() &&
                  Database(now->second.bytes, journal->second.bytes) == Database(file.bytes, std::nullopt)));
            if (!same)
                faults.push_back(path + " is not yet on disk when the run has ended");
        }
        for (const auto& [path, file] : state.files)
            if (!Ignored(NameOf(path)) && !after_.files.count(path))
                faults.push_back(path + " is still on disk after the run removed it");
    }

    // Database contents, remembered by their bytes.
    std::optional<std::string> Database(const std::string& bytes, const std::optional<std::string>& journal) {
        const std::size_t key =
            std::hash<std::string>{}(bytes) ^ (journal ? std::hash<std::string>{}(*journal) * 3 : 7);
        const auto found = databases_.find(key);
        if (found != databases_.end())
            return found->second;
        return databases_[key] = Contents(bytes, journal, dir_ / "scratch");
    }

    test::RunResult Silent(const std::vector<std::pair<std::string, std::string>>& env = {}) const {
        test::RunOptions options;
        options.environment = env;
        return plant_.Run(options);
    }

    // A plant that has been run once, with tuned values in every row.
    void RunAndTune() {
        ASSERT_EQ(Silent().exitStatus, 0);
        test::MakeDatabase(plant_.Preset(), "UPDATE PRESET_DEFS SET abs_min = 1000 + ID, pass = 7");
    }

    test::TempDir dir_;
    std::string root_;
    test::DemoPlant plant_;
    std::string before_ = dir_ / "before";
    std::vector<crash::Record> records_;
    std::set<std::string> touched_;
    Tree after_;
    std::unordered_map<std::size_t, std::optional<std::string>> databases_;
    std::function<void(const Tree&, std::vector<std::string>&)> extraCheck_;
};

TEST_F(PowerCut, FirstRun) {
    Record([&](const auto& env) { return Silent(env).exitStatus; });
    CheckEveryState([&] { return Silent().exitStatus; });
}

TEST_F(PowerCut, RunAfterANamingSchemeSwitchThatDropsATunedRow) {
    RunAndTune();
    test::SetIniEntry(plant_.ProgramIni(), "Project", "VWStudio", "true"); // every old row gets renamed
    // ...but one: its tuned values are dropped, kept only in the backup.
    test::MakeDatabase(
        plant_.Template(),
        "DELETE FROM Source_PRESET_DEFS WHERE rowid = (SELECT max(rowid) FROM Source_PRESET_DEFS)");
    Record([&](const auto& env) { return Silent(env).exitStatus; });
    CheckEveryState([&] { return Silent().exitStatus; });
}

TEST_F(PowerCut, IntegratedRunWithAWindowSave) {
    RunAndTune();
    const std::string save = root_ + "/SaveAndRestore";
    fs::create_directories(save + "/Torvex");
    fs::create_directories(save + "/parameter");
    fs::copy_file(plant_.Preset(), save + "/Torvex/Torvex.mdb");
    fs::copy_file(plant_.ProgramIni(), save + "/parameter/Program.ini");
    test::SetIniEntry(save + "/parameter/Program.ini", "Project", "VWStudio", "true");
    test::SetIniEntry(root_ + "/parameter/hx5configuration.ini", "Common", "SaveAndRestore", save);
    const auto window = [&](const std::vector<std::pair<std::string, std::string>>& env) {
        return RunProcess({TORVEX_WINDOW_RUN, root_ + "/Torvex", plant_.ServicePackLog(), "/EXTERNAL=HX5CFG"},
                          env, root_ + "/Torvex");
    };
    Record(window);
    CheckEveryState([&] { return Silent().exitStatus; });
}

TEST_F(PowerCut, InPlaceImport) {
    const std::string jet = root_ + "/jet/nwind.mdb";
    fs::create_directories(root_ + "/jet");
    fs::copy_file(TORVEX_JET_FIXTURES "/nwind.mdb", jet);
    const auto import = [&](const std::vector<std::pair<std::string, std::string>>& env) {
        return RunProcess({TORVEX_IMPORT_TOOL, "--in-place", jet}, env, root_);
    };
    Record(import);
    const std::string original = test::ReadFile(before_ + "/jet/nwind.mdb");
    extraCheck_ = [&](const Tree& state, std::vector<std::string>& faults) {
        const auto has = [&](const std::string& p) {
            return state.files.count(p) && state.files.at(p).bytes == original;
        };
        if (!has(jet) && !has(jet + ".jet"))
            faults.push_back("the original is neither in " + jet + " nor kept beside it");
    };
    CheckEveryState([&] {
        const int status = import({});
        // The original kept beside the unchanged file (the link made, the
        // rename lost): the tool refuses to overwrite it, and nothing is lost.
        if (status == 1 && test::Exists(jet + ".jet") && test::ReadFile(jet) == test::ReadFile(jet + ".jet"))
            return 0;
        return status;
    });
}

} // namespace
