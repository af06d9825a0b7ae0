#include "PlantGenerator.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace torvex::bench {
namespace {

void Write(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void Exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "?";
        sqlite3_free(error);
        throw std::runtime_error(message);
    }
}

const char* kColumns =
    "(ID INTEGER, machine_type TEXT(50), type INTEGER, part INTEGER, var_name TEXT(255), "
    "category_id INTEGER, isBitArray BOOLEAN INTEGER, offset_or_bitno INTEGER, text TEXT(255), "
    "page_name TEXT(50), abs_min DOUBLE, abs_max DOUBLE, min DOUBLE, max DOUBLE, pass INTEGER, "
    "extra1 TEXT(50))";

std::string Machine(int m) {
    return "Mä" + std::to_string(m);
}
int PartOf(int r) {
    return r % 50 + 1;
}
std::string Var(int r) {
    return "Var" + std::to_string(r);
}

} // namespace

std::string WritePlant(const std::string& folder, const PlantShape& shape) {
    const std::string p = folder + "/plant";
    std::string ini =
        "[Project]\r\nNumberOfMachines=" + std::to_string(shape.machines) + "\r\nVWStudio=false\r\n";
    std::string cfg = "[Project]\r\nDataBaseAdditionalFields=extra1\r\n";
    for (int m = 1; m <= shape.machines; ++m) {
        ini += "[Machine" + std::to_string(m) + "]\r\nMachineName=" + Machine(m) + "\r\n";
        cfg += "ForMachine" + std::to_string(m) + "=true\r\n";
    }
    Write(p + "/parameter/Program.ini", ini);
    // The pictures the window loads: an empty picture is enough.
    static const char kGif[] =
        "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00\x00"
        "\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;";
    Write(p + "/Standard/Empty_800.gif", std::string(kGif, sizeof kGif - 1));
    Write(p + "/Torvex/Torvex.cfg", cfg);

    sqlite3* db = nullptr;
    sqlite3_open((p + "/Torvex/Torvex_Source.mdb").c_str(), &db);
    Exec(db,
         "BEGIN; CREATE TABLE Source_DEFS (ID INTEGER, System TEXT(20), Part INTEGER, Var_Name TEXT(255));"
         "CREATE TABLE Source_PRESET_DEFS " +
             std::string(kColumns) + ";");
    for (int part = 1; part <= 50; ++part)
        Exec(db, "INSERT INTO Source_DEFS (System, Part, Var_Name) VALUES ('VISIWIN32', " +
                     std::to_string(part) + ", '###machine_P" + std::to_string(part) +
                     "_###Var_Name'), ('VISIWINSTUDIO', " + std::to_string(part) + ", '###machine.P" +
                     std::to_string(part) + ".###Var_Name');");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO Source_PRESET_DEFS VALUES (?1, 'REEL', 1, ?2, ?3, 7, 0, ?4, "
                       "'Preset ' || ?3 || ' of ###machine', 'Page', 0, 100, 10, 90, 1, 'x')",
                       -1, &insert, nullptr);
    for (int r = 1; r <= shape.rowsPerMachine; ++r) {
        sqlite3_bind_int(insert, 1, r * 10);
        sqlite3_bind_int(insert, 2, PartOf(r));
        sqlite3_bind_text(insert, 3, Var(r).c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 4, r % 16);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec(db, "COMMIT;");
    sqlite3_close(db);

    // The old preset database: one row per row to be generated, in four kinds.
    sqlite3_open((p + "/Torvex/Torvex.mdb").c_str(), &db);
    Exec(db, "BEGIN; CREATE TABLE PRESET_DEFS " + std::string(kColumns) + ";");
    sqlite3_prepare_v2(
        db,
        "INSERT INTO PRESET_DEFS VALUES (?1, ?2, 1, ?3, ?4, 7, 0, ?5, 'old', 'Page', ?6, ?6 + 50, "
        "?6 + 5, ?6 + 45, 3, 'y')",
        -1, &insert, nullptr);
    int id = 1;
    for (int m = 1; m <= shape.machines; ++m)
        for (int r = 1; r <= shape.rowsPerMachine; ++r, ++id) {
            const std::string part = "P" + std::to_string(PartOf(r));
            std::string name = Machine(m) + "_" + part + "_" + Var(r);
            std::string machineType = "REEL";
            switch (id % 10) {
            case 0: // in the other scheme's names: renamed during the run
                name = Machine(m) + "." + part + "." + Var(r);
                break;
            case 1: // other letter case
                name = std::string("MÄ")
                           .append(std::to_string(m))
                           .append("_")
                           .append(part)
                           .append("_")
                           .append(Var(r));
                machineType = "reel";
                break;
            case 2: // no partner
                name = "Retired" + std::to_string(id);
                break;
            default:
                break;
            }
            sqlite3_bind_int(insert, 1, id);
            sqlite3_bind_text(insert, 2, machineType.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 3, PartOf(r));
            sqlite3_bind_text(insert, 4, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 5, r % 16);
            sqlite3_bind_int(insert, 6, -(id % 100));
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
    sqlite3_finalize(insert);
    Exec(db, "COMMIT;");
    sqlite3_close(db);
    return p;
}

} // namespace torvex::bench
