#include "Diagnostics.h"

#include <algorithm>
#include <cctype>

namespace torvex::importjet {

Diagnostics::Diagnostics(std::string file, std::ostream& out, long shown, std::size_t lineLimit)
    : file_(std::move(file)), out_(out), shown_(shown), lineLimit_(lineLimit) {}

void Diagnostics::Feed(const char* data, std::size_t size) {
    for (const char* end = data + size; data < end;) {
        const char* newline = std::find(data, end, '\n');
        const std::size_t room = lineLimit_ - std::min(lineLimit_, pending_.size());
        pending_.append(data, std::min(room, static_cast<std::size_t>(newline - data)));
        if (newline == end)
            return;
        Line(pending_);
        pending_.clear();
        data = newline + 1;
    }
}

void Diagnostics::Finish() {
    if (!pending_.empty())
        Line(pending_);
    pending_.clear();
    if (held_ > 0)
        out_ << "Torvex_ImportJet: warning: " << file_ << ": " << held_
             << " more lines from the reading library not shown\n";
    held_ = 0;
}

void Diagnostics::Line(const std::string& line) {
    if (line.size() >= 2 && line[0] == kMark) {
        const std::string rest = line.substr(2);
        if (line[1] == kReadingTable)
            where_ = "table \"" + rest + "\"";
        else if (line[1] == kError)
            error_ = rest;
        else if (line[1] == kOutOfMemory)
            outOfMemory_ = true;
        return;
    }
    // glib's words when an allocation of the library fails; glib then stops the program.
    if (line.find("failed to allocate") != std::string::npos)
        outOfMemory_ = true;
    if (std::all_of(line.begin(), line.end(), [](unsigned char c) { return std::isspace(c); }))
        return;
    if (passed_ == shown_) {
        ++held_;
        return;
    }
    ++passed_;
    // Many of the library's lines call themselves a warning already.
    const bool named = line.size() > 9 && std::tolower(line[0]) == 'w' && line.compare(1, 8, "arning: ") == 0;
    out_ << "Torvex_ImportJet: warning: " << file_ << ", " << where_ << ": " << line.substr(named ? 9 : 0)
         << '\n';
}

} // namespace torvex::importjet
