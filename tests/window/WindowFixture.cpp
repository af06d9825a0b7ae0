#include "WindowFixture.h"

#include "support/SamplePictures.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

namespace torvex::windowtest {

namespace {

test::ScriptedDialogs::Unexpected FailTheTest() {
    return [](const platform::MessageBox& box) {
        QTest::qFail(("unexpected message box: " + box.text).c_str(), __FILE__, __LINE__);
    };
}

} // namespace

Plant::Plant() {
    test::WriteFile(ProgramIni(),
                    "[Project]\r\nNumberOfMachines=3\r\n"
                    "[Machine1]\r\nMachineName=Alpha\r\nBobbin1=true\r\nBobbinMaterialSym1=2\r\n"
                    "Bobbin2=false\r\nOnlyBlank2=true\r\nBobbinSym2=1\r\nOther=keep\r\n"
                    "[Machine2]\r\nMachineName=Beta\r\nBobbin1=TRUE\r\n"
                    "[Machine3]\r\nMachineName=Gamma\r\nNoBobbinChanger=true\r\nBobbinSym3=-5\r\n"
                    "[Elsewhere]\r\nx=1\r\n");
    test::WriteFile(Cfg(), "[Project]\r\nForMachine1=true\r\nForMachine2=false\r\nForMachine3=true\r\n");
    test::CopySamplePictures(P());
}

Harness::Harness(Plant& plant, std::string commandLine)
    : dialogs(FailTheTest()), rt(test::MakeIdentity(plant.P() + "/Torvex", std::move(commandLine)),
                                 {dialogs, plant.ServicePackLog(), nullptr, {}}),
      window(rt, events) {}

bool Harness::LoadAndShow() {
    window.Form_Load();
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

std::vector<std::pair<std::string, int>> PageFocusOrder() {
    std::vector<std::pair<std::string, int>> order = {{"CheckBobbinChange", 0}};
    for (int c = 1; c <= 4; ++c)
        for (const char* name :
             {"CheckBobbinOk", "CheckBlank", "CheckTensionArmWithoutSplicePosition", "CheckWithoutBobbin",
              "CheckWithoutTensionArm", "CheckOnlyBlank", "ComboMaterial", "ComboSymbol"})
            order.emplace_back(name, c);
    return order;
}

void WindowTestCase::initTestCase() {
    window::UseDesignFont();
}

void WindowTestCase::cleanup() {
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

} // namespace torvex::windowtest
