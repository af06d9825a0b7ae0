#pragma once

#include "presetdb/PresetGeneration.h"
#include "support/RuntimeFixture.h"
#include "support/SqlHelpers.h"

#include <memory>

namespace torvex::test {

// The preset record layout of the reel unit: ID first, part before var_name.
inline const std::string kPresetColumns = "(ID INTEGER, machine_type TEXT(50), type INTEGER, part INTEGER, "
                                          "var_name TEXT(255), category_id INTEGER, "
                                          "isBitArray BOOLEAN INTEGER, offset_or_bitno INTEGER, text "
                                          "TEXT(255), page_name TEXT(50), abs_min DOUBLE, "
                                          "abs_max DOUBLE, min DOUBLE, max DOUBLE, pass INTEGER)";

// A plant with machines M1, M2, M3 (1 and 3 enabled), a template database and
// helpers to add template rows, old preset rows and run the generation.
class PresetFixture : public RuntimeFixture {
protected:
    PresetFixture() {
        WriteFile(ProgramIni(), "[Project]\r\nNumberOfMachines=3\r\n[Machine1]\r\nMachineName=M1\r\n"
                                "[Machine2]\r\nMachineName=M2\r\n[Machine3]\r\nMachineName=M3\r\n");
        WriteFile(Cfg(), "[Project]\r\nForMachine1=true\r\nForMachine2=false\r\nForMachine3=true\r\n");
    }

    std::string Template() const { return ProgramFolder() + "/Torvex_Source.mdb"; }
    std::string Preset() const { return ProgramFolder() + "/Torvex.mdb"; }

    // Creates the template with the given Source_DEFS and Source_PRESET_DEFS rows (SQL VALUES lists).
    void MakeTemplate(const std::string& defsValues, const std::string& rowValues,
                      const std::string& columns = kPresetColumns) {
        std::string sql =
            "CREATE TABLE Source_DEFS (ID INTEGER, System TEXT(20), Part INTEGER, Var_Name TEXT(255));"
            "CREATE TABLE Source_PRESET_DEFS " +
            columns + ";";
        if (!defsValues.empty())
            sql += "INSERT INTO Source_DEFS (System, Part, Var_Name) VALUES " + defsValues + ";";
        if (!rowValues.empty())
            sql += "INSERT INTO Source_PRESET_DEFS VALUES " + rowValues + ";";
        MakeDatabase(Template(), sql);
    }

    // Creates the old preset database with the given PRESET_DEFS rows.
    void MakePreset(const std::string& rowValues, const std::string& columns = kPresetColumns) {
        MakeDatabase(Preset(),
                     "CREATE TABLE PRESET_DEFS " + columns + ";" +
                         (rowValues.empty() ? "" : "INSERT INTO PRESET_DEFS VALUES " + rowValues + ";"));
    }

    // Runs the work sequence in a fresh run with the given command line.
    presetdb::PresetGeneration& Run(const std::string& commandLine = "") {
        auto& rt = MakeRuntime(commandLine);
        rt.GetStartModeIntegrated();
        rt.GetExistingMachines(rt.GetHX5ConfigurationIniPath());
        generation_ = std::make_unique<presetdb::PresetGeneration>(rt);
        generation_->WorkOnMDB();
        return *generation_;
    }

    std::vector<std::vector<std::string>> Table(const std::string& columns, const std::string& path = "") {
        return Query(path.empty() ? Preset() : path,
                     "SELECT " + columns + " FROM PRESET_DEFS ORDER BY ID, rowid");
    }

    std::unique_ptr<presetdb::PresetGeneration> generation_;
};

using Rows = std::vector<std::vector<std::string>>;

} // namespace torvex::test
