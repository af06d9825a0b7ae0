#pragma once

#include <cstddef>
#include <ostream>
#include <string>

namespace torvex::importjet {

// What the converting child writes to its standard error, read by the
// parent: the reading library's own diagnostics, and lines of the child that
// start with kMark followed by a kind letter.
inline constexpr char kMark = '\x1e';
inline constexpr char kReadingTable = 'T'; // the rest of the line names the table read from now on
inline constexpr char kError = 'E';        // the rest of the line says why the conversion failed
inline constexpr char kOutOfMemory = 'M';  // an allocation failed under the child's memory limit

// Passes the reading library's diagnostics on to `out` as warnings naming the
// file and the table being read: the first `shown` lines, then how many more
// there were. Takes the child's own lines out of the stream. Output of any
// size is read through with memory bounded by `lineLimit` characters a line.
class Diagnostics {
public:
    Diagnostics(std::string file, std::ostream& out, long shown = 20, std::size_t lineLimit = 400);

    void Feed(const char* data, std::size_t size);
    // Takes a last line without a line break and tells the number of lines not shown.
    void Finish();

    const std::string& Error() const { return error_; }
    bool OutOfMemory() const { return outOfMemory_; }

private:
    void Line(const std::string& line);

    std::string file_;
    std::ostream& out_;
    long shown_;
    std::size_t lineLimit_;
    std::string where_ = "table catalog";
    std::string pending_;
    std::string error_;
    bool outOfMemory_ = false;
    long passed_ = 0;
    long held_ = 0;
};

} // namespace torvex::importjet
