#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace torvex::presetdb {

// What one regeneration did to the plant's tuned values: which rows it
// generated, which old rows it renamed and carried over, and every old row
// whose tuned values it dropped. Written beside the preset database as
// "<component>.mdb.report.txt" (UTF-8, LF), printed by a preview.
struct RegenerationReport {
    struct Machine {
        std::size_t number = 0;
        std::string name;
        std::size_t rows = 0;
    };
    struct DroppedRow {
        std::string machineType, varName, renamedTo, offset;
        std::array<std::string, 5> values; // abs_min, abs_max, min, max, pass
        bool overwritten = false;          // it had a partner, whose values a later old row replaced
    };
    struct Field {
        std::string name;
        bool inTemplate = false;
    };

    std::string when;      // local date and time
    std::string version;   // of the program
    std::string startMode; // "standalone", "integrated" or "silent", and "preview" when it is one
    std::string templatePath, presetPath, oldRowsPath;
    std::string scheme; // "VisiWin 32" or "VisiWin Studio"
    std::vector<Machine> machines;
    std::size_t oldRows = 0, renamed = 0, contested = 0, carriedOver = 0;
    std::vector<DroppedRow> dropped; // in the order of the old table
    std::size_t WithoutPartner() const;
    std::vector<Field> additionalFields;

    std::size_t RowsGenerated() const;
    // The report as text: a head, the machines, the counts, the additional
    // fields, then the dropped rows as tab-separated lines under a header line.
    std::string Text() const;
    // The one line a silent run adds to the service-pack log.
    std::string Summary(const std::string& reportPath) const;
};

// `text` as one cell of the reports' tab-separated tables: a tab or line
// break of its own becomes a blank, a byte that is no UTF-8 becomes U+FFFD.
std::string ReportCell(std::string_view text);

} // namespace torvex::presetdb
