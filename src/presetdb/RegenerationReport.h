#pragma once

#include "presetdb/OldRowFields.h"

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
        std::array<std::string, kCarriedCount> values; // the tuned values, as kCarriedFields
        bool overwritten = false; // it had a partner, whose values a later old row replaced
        std::string lost;         // carried over in part: which values its partner did not take, and why
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
    // Rows carried over whole are counted in carriedOver; the others, also
    // those carried over in part, are listed here.
    std::vector<DroppedRow> dropped; // in the order of the old table
    std::size_t WithoutPartner() const;
    std::size_t CarriedInPart() const;
    std::vector<Field> additionalFields;

    std::size_t RowsGenerated() const;
    // The report as text: a head, the machines, the counts, the additional
    // fields, then the dropped rows as tab-separated lines under a header line.
    std::string Text() const;
    // The one line a silent run adds to the service-pack log.
    std::string Summary(const std::string& reportPath) const;
};

// For a report at `path` that a run could not replace: "" when there is
// none, else a note that the report there is an earlier run's, with its date.
std::string EarlierReportNote(const std::string& path);

// `text` on one line: invalid UTF-8 as U+FFFD, and characters that show
// nothing or break a line escaped (\n, \t, \x0B, \u2028).
std::string VisibleText(std::string_view text);

// `text` as a cell of a tab-separated table that a spreadsheet or Python's
// csv reader (dialect "excel-tab") reads back as one cell: invisible
// characters escaped as VisibleText does, but tabs and line breaks kept; a
// text that a spreadsheet would read as a formula (starting with =, +, -, @,
// a tab or a carriage return, and no number) led by "'"; quoted, with inner
// quotes doubled, when it holds a quote, a tab or a line break.
std::string TableCell(std::string_view text);

} // namespace torvex::presetdb
