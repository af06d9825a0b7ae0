// Measures the ini layer on large files: parse time, the time of a batch of
// writes and one serialisation, and the parse's peak memory, for files of
// blank lines (CR LF and LF), of many small sections, and of one long line.
#include "platform/IniDocument.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

using torvex::platform::IniDocument;
namespace fs = std::filesystem;

namespace {

constexpr int kSets = 200;

struct Case {
    const char* name;
    // Writes a file of about `size` bytes and returns entries that exist in it.
    std::function<std::vector<std::pair<std::string, std::string>>(std::ofstream&, std::size_t size)> write;
};

// Writes `line` repeated to `out` until `size` bytes.
void Repeat(std::ofstream& out, const std::string& line, std::size_t size) {
    std::string chunk;
    while (chunk.size() < (1u << 20))
        chunk += line;
    for (std::size_t written = 0; written < size; written += chunk.size())
        out.write(chunk.data(), static_cast<std::streamsize>(std::min(chunk.size(), size - written)));
}

std::vector<Case> Cases() {
    return {
        {"blank lines CR LF",
         [](std::ofstream& out, std::size_t size) {
             Repeat(out, "\r\n", size);
             return std::vector<std::pair<std::string, std::string>>{};
         }},
        {"blank lines LF",
         [](std::ofstream& out, std::size_t size) {
             Repeat(out, "\n", size);
             return std::vector<std::pair<std::string, std::string>>{};
         }},
        {"small sections",
         [](std::ofstream& out, std::size_t size) {
             std::vector<std::pair<std::string, std::string>> existing;
             std::size_t written = 0;
             for (int n = 0; written < size; ++n) {
                 const std::string section = "Machine" + std::to_string(n);
                 std::string text = "[";
                 text.append(section).append("]\r\nName=M").append(std::to_string(n));
                 text.append("\r\nSpeed=").append(std::to_string(n % 3000)).append("\r\nEnabled=1\r\n");
                 out << text;
                 written += text.size();
                 if (n % 9973 == 0)
                     existing.emplace_back(section, "Speed");
             }
             return existing;
         }},
        {"one long line",
         [](std::ofstream& out, std::size_t size) {
             out << "[Other]\r\nA=1\r\n[Long]\r\nValue=";
             Repeat(out, "x", size);
             out << "\r\n";
             return std::vector<std::pair<std::string, std::string>>{{"Other", "A"}, {"Long", "Value"}};
         }},
    };
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(fs::file_size(path), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

double Seconds(const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Reads `path` and, when `parse`, parses it: what a measuring child does.
int ReadAndParse(const std::string& path, bool parse) {
    const std::string bytes = ReadAll(path);
    if (!parse)
        return bytes.empty() ? 1 : 0;
    const IniDocument doc = IniDocument::Parse(bytes);
    return doc.FileEncoding() == IniDocument::Encoding::Utf8 ? 0 : 1;
}

// Peak resident memory (kB) of a fresh process that reads `path` and parses
// it when `parse`, or only reads it. The process is started anew so that it
// inherits no memory of this one.
long ChildPeakKb(const std::string& path, bool parse) {
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/proc/self/exe", "ini_bench", "--peak", path.c_str(), parse ? "parse" : "read",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

// `kSets` writes, half to entries of the file, half new keys in new
// sections, then one serialisation.
void WriteBatch(IniDocument& doc, const std::vector<std::pair<std::string, std::string>>& existing) {
    for (int i = 0; i < kSets; ++i) {
        const std::string value = std::string("v").append(std::to_string(i));
        if (i % 2 == 0 && !existing.empty()) {
            const auto& [section, key] = existing[static_cast<std::size_t>(i / 2) % existing.size()];
            doc.Set(section, key, value);
        } else {
            doc.Set(std::string("Bench").append(std::to_string(i % 7)),
                    std::string("New").append(std::to_string(i)), value);
        }
    }
    if (doc.Serialize().empty())
        std::abort();
}

// Best parse time and best time of one WriteBatch on a fresh parse.
std::pair<double, double>
Timings(const std::string& path, const std::vector<std::pair<std::string, std::string>>& existing, int runs) {
    const std::string bytes = ReadAll(path);
    double parse = 1e9, write = 1e9;
    for (int run = 0; run < runs; ++run) {
        std::optional<IniDocument> doc;
        parse = std::min(parse, Seconds([&] { doc.emplace(IniDocument::Parse(bytes)); }));
        write = std::min(write, Seconds([&] { WriteBatch(*doc, existing); }));
    }
    return {parse, write};
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string_view(argv[1]) == "--peak")
        return ReadAndParse(argv[2], std::string_view(argv[3]) == "parse");
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 50;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const auto size = static_cast<std::size_t>(megabytes * 1e6);
    const fs::path dir = fs::temp_directory_path() / ("ini_bench." + std::to_string(getpid()));
    fs::create_directories(dir);
    std::printf("%-20s %8s %10s %14s %13s %8s\n", "file", "MB", "parse s", "200 Set+Ser s", "parse MB",
                "x size");
    std::fflush(stdout);
    for (const Case& c : Cases()) {
        const std::string path = (dir / "Program.ini").string();
        std::vector<std::pair<std::string, std::string>> existing;
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            existing = c.write(out, size);
        }
        const double fileMb = static_cast<double>(fs::file_size(path)) / 1e6;
        const long base = ChildPeakKb(path, false), parsed = ChildPeakKb(path, true);
        const double parseMb = static_cast<double>(parsed - base) * 1024 / 1e6;
        // The timing runs in a child too: this process stays small, so that
        // the measuring processes it starts inherit no memory peak from it.
        if (const pid_t pid = fork(); pid == 0) {
            const auto [parse, write] = Timings(path, existing, runs);
            std::printf("%-20s %8.1f %10.3f %14.3f %13.1f %8.2f\n", c.name, fileMb, parse, write, parseMb,
                        parseMb / fileMb);
            std::fflush(stdout);
            _exit(0);
        } else {
            waitpid(pid, nullptr, 0);
        }
    }
    fs::remove_all(dir);
    return 0;
}
