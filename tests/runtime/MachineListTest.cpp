#include "support/RuntimeFixture.h"

#include <gtest/gtest.h>

using namespace torvex;
using torvex::test::WriteFile;

namespace {

class MachineList : public test::RuntimeFixture {
protected:
    std::vector<std::string> Integrated(const std::string& hx5) {
        WriteFile(HX5Ini(), hx5);
        auto& rt = MakeRuntime("/EXTERNAL=HX5CFG");
        rt.GetStartModeIntegrated();
        rt.GetExistingMachines(HX5Ini());
        return rt.MachineNames;
    }
    std::vector<std::string> Standalone(const std::string& programIni, const std::string& commandLine = "") {
        WriteFile(ProgramIni(), programIni);
        auto& rt = MakeRuntime(commandLine);
        rt.GetStartModeIntegrated();
        rt.GetExistingMachines("");
        EXPECT_EQ(rt.ProgramIniPath, ProgramIni());
        return rt.MachineNames;
    }
    using Names = std::vector<std::string>;
};

TEST_F(MachineList, IntegratedStopsAtTheFirstGapAndReadsAtMostFive) {
    EXPECT_EQ(Integrated("[Common]\nNameM1=Line A\nNameM2=Line B\nNameM3=-\nNameM4=Line D\n"),
              (Names{"", "Line A", "Line B"}));
    EXPECT_EQ(Integrated("[Common]\nNameM1=a\nNameM2=b\nNameM3=c\nNameM4=d\nNameM5=e\nNameM6=f\n"),
              (Names{"", "a", "b", "c", "d", "e"}));
    EXPECT_EQ(Integrated("[Common]\nNameM1=\nNameM2=b\n"), Names{});
}

TEST_F(MachineList, StandaloneAndSilentTakeExactlyTheCountedMachines) {
    const std::string ini =
        "[Project]\nNumberOfMachines=3\n[Machine1]\nMachineName=M1\n[Machine3]\nMachineName=M3\n";
    EXPECT_EQ(Standalone(ini), (Names{"", "M1", "", "M3"}));
    EXPECT_EQ(Standalone(ini, "/EXTERNAL=SILENT"), (Names{"", "M1", "", "M3"}));
    EXPECT_EQ(Standalone("[Project]\nNumberOfMachines=0\n"), Names{});
    EXPECT_EQ(Standalone("[Project]\n"), Names{});
}

TEST_F(MachineList, ValidMachinesIsFetchedFromTheCfg) {
    WriteFile(Cfg(), "[Project]\nValidMachines=1,3\n");
    EXPECT_EQ(MakeRuntime().GetValidMachines(), "1,3");
}

} // namespace
