#include "platform/Text.h"
#include "platform/database/Recordset.h"
#include "presetdb/PresetGeneration.h"
#include "runtime/Guard.h"

namespace torvex::presetdb {

using platform::db::Value;

void PresetGeneration::ChooseNamingScheme() {
    if (rt_.IntegratedMode())
        visiWinSystem_ = 0;
    else
        visiWinSystem_ = rt_.LoadIniBoolean("Project", "VWStudio", rt_.ProgramIniPath, false) ? 1 : 0;
}

std::size_t PartNumber(const Value& part) {
    if (std::holds_alternative<std::monostate>(part))
        platform::Raise(platform::errnum::InvalidUseOfNull, "Invalid use of Null");
    const auto p = std::get<std::int64_t>(platform::db::Coerce(platform::db::Kind::Whole, part));
    if (p < 1 || p > 50)
        platform::Raise(platform::errnum::SubscriptOutOfRange, "Subscript out of range");
    return static_cast<std::size_t>(p);
}

namespace {

std::string PatternText(const Value& value) {
    if (std::holds_alternative<std::monostate>(value))
        platform::Raise(platform::errnum::InvalidUseOfNull, "Invalid use of Null");
    return platform::db::ValueText(value);
}

} // namespace

// Reads Source_DEFS: the later row for the same scheme and part wins. A
// failure inside the row loop is not reported; it makes part 1 of both
// schemes "###Var_Name" and the loop goes on.
void PresetGeneration::LoadVarNamePatterns(const platform::db::ReadCopy& templateFile) {
    runtime::Guard guard(rt_, "WorkOnMDB");
    std::optional<platform::db::Connection> db;
    std::optional<platform::db::Recordset> rows;
    guard([&] {
        templateFile.Naming([&] { db.emplace(templateFile.Path(), platform::db::OpenMode::ReadOnly); });
    });
    if (!db)
        return; // reported: without the database there is nothing to read
    guard([&] { templateFile.Naming([&] { rows = platform::db::Recordset::OnTable(*db, "Source_DEFS"); }); });
    if (!rows)
        return; // nothing to read: the patterns stay as they are
    // Not the guard: the row loop reports nothing. A failed step only puts
    // the placeholder back as part 1 of both schemes, and the loop goes on.
    auto absorb = [this](auto&& step) {
        try {
            step();
            return true;
        } catch (const std::exception&) {
            varNamePattern_[0][1] = "###Var_Name";
            varNamePattern_[1][1] = "###Var_Name";
            return false;
        }
    };
    while (!rows->IsEOF()) {
        for (int scheme = 0; scheme < 2; ++scheme) {
            const char* name = scheme == 0 ? "VISIWIN32" : "VISIWINSTUDIO";
            bool matches = true; // a failed test enters the branch
            absorb([&] {
                const Value system = rows->Get("System");
                matches = !std::holds_alternative<std::monostate>(system) &&
                          platform::UpperCase(platform::db::ValueText(system)) == name;
            });
            if (matches)
                absorb([&] {
                    const std::size_t part = PartNumber(rows->Get("Part"));
                    varNamePattern_[static_cast<std::size_t>(scheme)][part] =
                        PatternText(rows->Get("Var_Name"));
                });
        }
        if (!absorb([&] { rows->MoveNext(); }))
            break; // a table that cannot be read further ends the loading
    }
}

} // namespace torvex::presetdb
