#pragma once

#include "runtime/Runtime.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

namespace torvex::test {

// A temporary installation: P = <tmp>/plant, the program in P/Torvex, the
// service-pack log beside the plant. MakeRuntime builds a fresh run on it.
class RuntimeFixture : public ::testing::Test {
protected:
    RuntimeFixture() { std::filesystem::create_directories(ProgramFolder()); }

    std::string Plant() const { return dir_ / "plant"; }
    std::string ProgramFolder() const { return Plant() + "/Torvex"; }
    std::string ServicePackLog() const { return dir_ / "servicepack.log"; }
    std::string ErrorLog() const { return Plant() + "/HX5cfglog.txt"; }
    std::string Cfg() const { return ProgramFolder() + "/Torvex.cfg"; }
    std::string ProgramIni() const { return Plant() + "/parameter/Program.ini"; }
    std::string HX5Ini() const { return Plant() + "/parameter/hx5configuration.ini"; }

    runtime::Runtime& MakeRuntime(std::string commandLine = "",
                                  std::string programFileName = "Torvex_Config") {
        runtime_ = std::make_unique<runtime::Runtime>(
            MakeIdentity(ProgramFolder(), std::move(commandLine), std::move(programFileName)),
            runtime::RuntimeServices{dialogs_, ServicePackLog(), &errors_, {}});
        return *runtime_;
    }

    TempDir dir_;
    ScriptedDialogs dialogs_;
    std::ostringstream errors_;
    std::unique_ptr<runtime::Runtime> runtime_;
};

} // namespace torvex::test
