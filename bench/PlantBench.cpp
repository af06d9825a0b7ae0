// Measures the preset database generation at plant scale: WorkOnMDB alone,
// a whole silent run of the built program, and the floor that plain SQLite
// needs for the same data, at 1,000, 8,000 and 32,765 generated rows.
#include "PlantGenerator.h"
#include "platform/Dialogs.h"
#include "presetdb/PresetGeneration.h"
#include "runtime/Runtime.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace torvex;
namespace fs = std::filesystem;

namespace {

class NoDialogs final : public platform::Dialogs {
public:
    platform::Answer Show(const platform::MessageBox&) override { return platform::Answer::Ok; }
};

double Seconds(const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A fresh copy of the generated plant for each measured run.
std::string FreshCopy(const std::string& plant, const std::string& work) {
    fs::remove_all(work);
    fs::copy(plant, work, fs::copy_options::recursive);
    return work;
}

// WorkOnMDB alone; `report` gets how long building the regeneration report
// took (it is built from what the run already holds).
double WorkOnMDBAlone(const std::string& plant, double* report = nullptr) {
    NoDialogs dialogs;
    platform::ProcessIdentity id;
    id.commandLine = "/EXTERNAL=SILENT";
    id.programFolder = plant + "/Torvex";
    id.programFileName = "Torvex_Config";
    runtime::Runtime rt(id, {dialogs, plant + "/sp.log", nullptr, {}});
    rt.GetStartModeIntegrated();
    rt.GetExistingMachines(rt.GetHX5ConfigurationIniPath());
    presetdb::PresetGeneration generation(rt);
    const double seconds = Seconds([&] { generation.WorkOnMDB(); });
    if (report)
        *report = Seconds([&] { (void)generation.Report().Text(); });
    return seconds;
}

struct ProcessRun {
    double seconds;
    long maxRssKb;
    int status;
};

// A whole silent run of the built program. With `flushDelayMs` it runs with
// every flush to disk counted and slowed down to that many milliseconds (an
// SD card or an old disk); `flushes` gets the count.
ProcessRun WholeSilentRun(const std::string& plant, int flushDelayMs = -1, long* flushes = nullptr) {
    fs::copy_file(TORVEX_PROGRAM, plant + "/Torvex/Torvex_Config", fs::copy_options::overwrite_existing);
    const std::string counted = plant + "/../flushes.txt";
    fs::remove(counted);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("PELZO_SERVICEPACK_LOG", (plant + "/sp.log").c_str(), 1);
        if (flushDelayMs >= 0) {
            setenv("LD_PRELOAD", TORVEX_SLOWFLUSH, 1);
            setenv("TORVEX_FLUSH_DELAY_MS", std::to_string(flushDelayMs).c_str(), 1);
            setenv("TORVEX_FLUSH_COUNT_FILE", counted.c_str(), 1);
        }
        const std::string exe = plant + "/Torvex/Torvex_Config";
        execl(exe.c_str(), exe.c_str(), "/EXTERNAL=SILENT", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (flushes) {
        std::FILE* in = std::fopen(counted.c_str(), "r");
        *flushes = -1;
        if (in && std::fscanf(in, "%ld", flushes) != 1)
            *flushes = -1;
        if (in)
            std::fclose(in);
    }
    return {seconds, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

void Exec(sqlite3* db, const char* sql) {
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

// Plain SQLite on the same data: the generated rows inserted with one
// prepared statement in one transaction, the old rows' five values applied
// through an index on the three keys, the file copied.
double Floor(const std::string& plant) {
    const std::string source = plant + "/Torvex/Torvex_Source.mdb";
    const std::string preset = plant + "/Torvex/Torvex.mdb";
    return Seconds([&] {
        sqlite3* old = nullptr;
        sqlite3_open(preset.c_str(), &old);
        struct OldRow {
            std::string machineType, name;
            long long offset;
            double values[4];
            long long pass;
        };
        std::vector<OldRow> oldRows;
        sqlite3_stmt* read = nullptr;
        sqlite3_prepare_v2(old,
                           "SELECT machine_type, var_name, offset_or_bitno, abs_min, abs_max, min, max, pass "
                           "FROM PRESET_DEFS",
                           -1, &read, nullptr);
        while (sqlite3_step(read) == SQLITE_ROW)
            oldRows.push_back({reinterpret_cast<const char*>(sqlite3_column_text(read, 0)),
                               reinterpret_cast<const char*>(sqlite3_column_text(read, 1)),
                               sqlite3_column_int64(read, 2),
                               {sqlite3_column_double(read, 3), sqlite3_column_double(read, 4),
                                sqlite3_column_double(read, 5), sqlite3_column_double(read, 6)},
                               sqlite3_column_int64(read, 7)});
        sqlite3_finalize(read);
        sqlite3_close(old);

        sqlite3* db = nullptr;
        sqlite3_open(source.c_str(), &db);
        Exec(db, "BEGIN; DROP TABLE IF EXISTS PRESET_DEFS; CREATE TABLE PRESET_DEFS AS SELECT * FROM "
                 "Source_PRESET_DEFS WHERE 0;");
        sqlite3_stmt* tmpl = nullptr;
        sqlite3_prepare_v2(db, "SELECT * FROM Source_PRESET_DEFS ORDER BY ID", -1, &tmpl, nullptr);
        std::vector<std::vector<std::string>> rows;
        while (sqlite3_step(tmpl) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int c = 0; c < sqlite3_column_count(tmpl); ++c)
                row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(tmpl, c)));
            rows.push_back(std::move(row));
        }
        sqlite3_finalize(tmpl);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(
            db, "INSERT INTO PRESET_DEFS VALUES (?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16)", -1,
            &insert, nullptr);
        int id = 1;
        for (int m = 1; m <= 5; ++m)
            for (const auto& row : rows) {
                sqlite3_bind_int(insert, 1, id++);
                for (int c = 1; c < static_cast<int>(row.size()); ++c)
                    sqlite3_bind_text(insert, c + 1, row[static_cast<std::size_t>(c)].c_str(), -1,
                                      SQLITE_STATIC);
                sqlite3_step(insert);
                sqlite3_reset(insert);
            }
        sqlite3_finalize(insert);
        Exec(db, "CREATE INDEX work_keys ON PRESET_DEFS (machine_type, var_name, offset_or_bitno)");
        sqlite3_stmt* update = nullptr;
        sqlite3_prepare_v2(
            db,
            "UPDATE PRESET_DEFS SET abs_min=?1, abs_max=?2, min=?3, max=?4, pass=?5 WHERE rowid = "
            "(SELECT rowid FROM PRESET_DEFS WHERE machine_type=?6 AND var_name=?7 AND "
            "offset_or_bitno=?8 LIMIT 1)",
            -1, &update, nullptr);
        for (const OldRow& o : oldRows) {
            for (int k = 0; k < 4; ++k)
                sqlite3_bind_double(update, k + 1, o.values[k]);
            sqlite3_bind_int64(update, 5, o.pass);
            sqlite3_bind_text(update, 6, o.machineType.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(update, 7, o.name.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_int64(update, 8, o.offset);
            sqlite3_step(update);
            sqlite3_reset(update);
        }
        sqlite3_finalize(update);
        Exec(db, "DROP INDEX work_keys; COMMIT;");
        sqlite3_close(db);
        fs::copy_file(source, preset, fs::copy_options::overwrite_existing);
    });
}

// The best of the repeated runs: the figure least disturbed by whatever else
// the machine is doing.
template <class T> T Best(const std::vector<T>& v) {
    return *std::min_element(v.begin(), v.end());
}

} // namespace

// The start of the window on the demo plant up to its first painted frame
// (offscreen): the program reports it itself and ends.
void WindowStart(int repeats) {
    const std::string plant = fs::temp_directory_path() / ("torvex-bench-window-" + std::to_string(getpid()));
    const std::string layout = std::string(TORVEX_SOURCE_DIR) + "/tools/lay-out-demo-plant.sh '" + plant +
                               "' '" + TORVEX_BUILD_DIR + "'";
    if (std::system(layout.c_str()) != 0) {
        std::printf("window start: the demo plant could not be laid out\n");
        return;
    }
    fs::copy_file(TORVEX_PROGRAM, plant + "/Torvex/Torvex_Config", fs::copy_options::overwrite_existing);
    std::vector<double> process, painted;
    for (int i = 0; i < repeats; ++i) {
        const std::string command = "cd '" + plant +
                                    "' && QT_QPA_PLATFORM=offscreen TORVEX_STARTUP_TRACE=1 "
                                    "PELZO_SERVICEPACK_LOG=/dev/null ./Torvex/Torvex_Config 2>&1 | "
                                    "sed -n 's/first frame painted after \\([0-9.]*\\) ms/\\1/p'";
        std::FILE* out = nullptr;
        const double seconds = Seconds([&] {
            out = popen(command.c_str(), "r");
            char line[64] = {};
            if (out && std::fgets(line, sizeof line, out))
                painted.push_back(std::atof(line));
            if (out)
                pclose(out);
        });
        process.push_back(seconds * 1000);
    }
    if (!painted.empty())
        std::printf(
            "window start to first painted frame: %.1f ms in the program, %.1f ms with process start\n",
            Best(painted), Best(process));
    fs::remove_all(plant);
}

// Flushes per silent run and the run's time when every flush takes 10 ms:
// the demo plant as laid out (its first run seeds the language file and
// rewrites the settings) and then again (nothing to seed, nothing changed),
// and the largest plant; then the window's start on the seeded demo plant.
void SlowDisk(const std::string& base, const std::string& largest, int repeats) {
    const std::string demo = base + "/demo";
    const std::string layout = std::string(TORVEX_SOURCE_DIR) + "/tools/lay-out-demo-plant.sh '" + demo +
                               "' '" + TORVEX_BUILD_DIR + "'";
    if (std::system(layout.c_str()) != 0)
        return;
    const std::string pristine = base + "/demo-pristine";
    fs::copy(demo, pristine, fs::copy_options::recursive);
    struct Case {
        const char* name;
        std::function<std::string()> plant;
    };
    const Case cases[] = {
        {"demo plant, first run", [&] { return FreshCopy(pristine, demo); }},
        {"demo plant, next run", [&] { return demo; }},
        {"largest plant", [&] { return FreshCopy(largest, base + "/work"); }},
    };
    std::printf("\n%-24s %8s %14s %14s\n", "silent run", "flushes", "s, no delay", "s, 10 ms flush");
    for (const Case& c : cases) {
        std::vector<double> fast, slow;
        long flushes = 0;
        for (int i = 0; i < repeats; ++i) {
            fast.push_back(WholeSilentRun(c.plant(), 0, &flushes).seconds);
            slow.push_back(WholeSilentRun(c.plant(), 10, &flushes).seconds);
        }
        std::printf("%-24s %8ld %14.3f %14.3f\n", c.name, flushes, Best(fast), Best(slow));
    }
    std::vector<double> painted;
    for (int i = 0; i < repeats; ++i) {
        const std::string command = "cd '" + demo +
                                    "' && QT_QPA_PLATFORM=offscreen TORVEX_STARTUP_TRACE=1 "
                                    "PELZO_SERVICEPACK_LOG=/dev/null LD_PRELOAD='" TORVEX_SLOWFLUSH
                                    "' TORVEX_FLUSH_DELAY_MS=10 ./Torvex/Torvex_Config 2>&1 | "
                                    "sed -n 's/first frame painted after \\([0-9.]*\\) ms/\\1/p'";
        std::FILE* out = popen(command.c_str(), "r");
        char line[64] = {};
        if (out && std::fgets(line, sizeof line, out))
            painted.push_back(std::atof(line));
        if (out)
            pclose(out);
    }
    if (!painted.empty())
        std::printf("window start to first painted frame on the seeded demo plant, 10 ms flush: %.1f ms\n",
                    Best(painted));
}

int main(int argc, char** argv) {
    const std::string base = fs::temp_directory_path() / ("torvex-bench-" + std::to_string(getpid()));
    if (argc > 3 && std::string(argv[1]) == "--write-plant") {
        // A plant of the given number of rows per machine, kept for a profiler.
        const std::string plant = bench::WritePlant(argv[2], {5, std::atoi(argv[3])});
        fs::copy_file(TORVEX_PROGRAM, plant + "/Torvex/Torvex_Config", fs::copy_options::overwrite_existing);
        std::printf("%s\n", plant.c_str());
        return 0;
    }
    if (argc > 2 && std::string(argv[1]) == "--work-only") {
        // One WorkOnMDB of the given number of rows per machine, for a profiler.
        const std::string plant = bench::WritePlant(base + "/gen", {5, std::atoi(argv[2])});
        std::printf("WorkOnMDB: %.3f s\n", WorkOnMDBAlone(plant));
        fs::remove_all(base);
        return 0;
    }
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 7;
    struct Size {
        int machines, rows;
    };
    const Size sizes[] = {{5, 200}, {5, 1600}, {5, 6553}};
    std::printf("%8s %12s %10s %12s %10s %8s %12s %10s\n", "rows", "WorkOnMDB s", "rows/s", "floor s",
                "ratio", "run s", "run rows/s", "RSS MB");
    double work8000 = 0, work32765 = 0, run8000 = 0, run32765 = 0, reportBest = 0;
    std::string largest;
    for (const Size& size : sizes) {
        const int generated = size.machines * size.rows;
        const std::string plant =
            bench::WritePlant(base + "/gen" + std::to_string(generated), {size.machines, size.rows});
        std::vector<double> work, floor, run, report;
        std::vector<long> rss;
        for (int i = 0; i < repeats; ++i) {
            double reportSeconds = 0;
            work.push_back(WorkOnMDBAlone(FreshCopy(plant, base + "/work"), &reportSeconds));
            report.push_back(reportSeconds);
            floor.push_back(Floor(FreshCopy(plant, base + "/work")));
            const ProcessRun r = WholeSilentRun(FreshCopy(plant, base + "/work"));
            if (r.status != 0)
                std::fprintf(stderr, "silent run ended with status %d\n", r.status);
            run.push_back(r.seconds);
            rss.push_back(r.maxRssKb);
        }
        const double w = Best(work), f = Best(floor), s = Best(run);
        std::printf("%8d %12.3f %10.0f %12.3f %10.2f %8.3f %12.0f %10.1f\n", generated, w, generated / w, f,
                    w / f, s, generated / s, static_cast<double>(Best(rss)) / 1024.0);
        if (generated == 8000)
            work8000 = w, run8000 = s;
        if (generated == 32765) {
            work32765 = w, run32765 = s;
            largest = plant;
            reportBest = Best(report);
        }
    }
    std::printf("growth 8,000 -> 32,765 rows: WorkOnMDB x%.2f, silent run x%.2f (linear would be x4.10)\n",
                work32765 / work8000, run32765 / run8000);
    std::printf("32,765 rows: silent run / WorkOnMDB = %.2f; building the regeneration report: %.4f s\n",
                run32765 / work32765, reportBest);
    SlowDisk(base, largest, repeats);
    fs::remove_all(base);
    WindowStart(repeats);
}
