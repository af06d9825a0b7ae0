// OK and Cancel (Saving.cpp).

#include "WindowFixture.h"

#include "platform/IniDocument.h"

#include <QApplication>
#include <QEvent>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <optional>

using namespace torvex;
using namespace torvex::windowtest;

class SavingTest : public WindowTestCase {
    Q_OBJECT

private slots:
    void okWritesEveryEnabledMachine();
    void okKeepsWhatOthersChanged();
    void okWritesWhatTheWindowShowsWhereTheCopyCannotBeRead();
    void editsOfAMachineSwitchedOffMeanwhileAreReported();
    void cancelAndCloseAskFirst();
    void noEnabledMachineStillSaves();
    void missingProgramIniIsToldNotCreated();
    void savingCannotBeInterrupted();
};

void SavingTest::okWritesEveryEnabledMachine() {
    Plant plant;
    Harness h(plant);
    h.window.Form_Load();
    h.Get<CheckBoxControl>("CheckBobbinOk", 1).UserClick(); // switch column 1 of Alpha off
    QCOMPARE(h.Ends([&] { h.Get<ButtonControl>("CommandOK").UserClick(); }), 0);
    const std::string ini = test::ReadFile(plant.ProgramIni());
    const auto section = [&](const std::string& name) {
        const auto start = ini.find("[" + name + "]");
        const auto end = ini.find("\r\n[", start + 1);
        return ini.substr(start, end == std::string::npos ? std::string::npos : end - start + 2);
    };
    QVERIFY(section("Machine1").find("Bobbin1=false\r\n") != std::string::npos);
    QVERIFY(section("Machine1").find("BobbinMaterialSym1=2\r\n") != std::string::npos);
    QVERIFY(section("Machine1").find("Other=keep\r\n") != std::string::npos);
    QVERIFY(section("Machine3").find("NoBobbinChanger=true\r\n") != std::string::npos);
    QVERIFY(section("Machine3").find("BobbinSym3=0\r\n") != std::string::npos);
    for (const char* machine : {"Machine1", "Machine3"}) {
        int keys = 0;
        for (const char* key : {"NoBobbinChanger="})
            keys += section(machine).find(key) != std::string::npos;
        for (int c = 1; c <= 4; ++c)
            for (const char* key :
                 {"TensionArmWithoutSplicePosition", "BobbinWithBlankLenght", "Bobbin", "WithoutBobbin",
                  "WithoutTensionArm", "OnlyBlank", "BobbinMaterialSym", "BobbinSym"})
                keys += section(machine).find("\n" + std::string(key) + std::to_string(c) + "=") !=
                        std::string::npos;
        QCOMPARE(keys, 33);
    }
    QCOMPARE(section("Machine2"), std::string("[Machine2]\r\nMachineName=Beta\r\nBobbin1=TRUE\r\n"));
    QVERIFY(ini.find("[Elsewhere]\r\nx=1\r\n") != std::string::npos);
    QVERIFY(test::ReadFile(plant.Cfg()).find("S_Prog=1.0.1 - Standalone") != std::string::npos);
}

// While the window is open, another program enables machine 2 and changes
// entries of machines 1 and 3. OK writes neither machine 2 (never read) nor
// those entries, except one whose setting the user changed as well: there the
// user's value wins. Every other key gets the window's value as before.
void SavingTest::okKeepsWhatOthersChanged() {
    Plant plant;
    Harness h(plant);
    h.window.Form_Load();
    const auto machine2 = [&] {
        const std::string ini = test::ReadFile(plant.ProgramIni());
        const auto start = ini.find("[Machine2]");
        return ini.substr(start, ini.find("\r\n[", start) - start);
    };
    const std::string machine2AtLoad = machine2();
    struct Entry {
        const char* section;
        const char* key;
        const char* value;
    };
    test::SetIniEntry(plant.Cfg(), "Project", "ForMachine2", "true");
    for (const auto& [section, key, value] :
         {Entry{"Machine1", "BobbinSym2", "2"}, Entry{"Machine3", "NoBobbinChanger", "false"},
          Entry{"Machine1", "BobbinMaterialSym1", "3"}, Entry{"Machine1", "NoBobbinChanger", "maybe"}})
        test::SetIniEntry(plant.ProgramIni(), section, key, value);
    h.Get<CheckBoxControl>("CheckBlank", 1).UserClick();
    h.Get<CheckBoxControl>("CheckBobbinChange").UserClick(); // both changed it: the user's value
    h.Get<ComboControl>("ComboMaterial", 1).UserChoose(1);
    QCOMPARE(h.Ends([&] { h.Get<ButtonControl>("CommandOK").UserClick(); }), 0);

    const auto ini = platform::IniDocument::Parse(test::ReadFile(plant.ProgramIni()));
    for (const auto& [section, key, value] :
         {Entry{"Machine1", "BobbinSym2", "2"}, Entry{"Machine3", "NoBobbinChanger", "false"},
          Entry{"Machine1", "BobbinWithBlankLenght1", "true"}, Entry{"Machine1", "BobbinMaterialSym1", "1"},
          Entry{"Machine1", "Bobbin2", "false"}, Entry{"Machine3", "Bobbin1", "false"},
          Entry{"Machine1", "NoBobbinChanger", "true"}})
        QVERIFY2(ini.Find(section, key) == std::optional<std::string>(value), key);
    QCOMPARE(machine2(), machine2AtLoad);
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
}

// An integrated run reads the settings from the save-and-restore copy. When
// that copy is missing or cannot be read, the window shows the settings of
// the program ini that OK writes, and OK writes all of them as shown.
void SavingTest::okWritesWhatTheWindowShowsWhereTheCopyCannotBeRead() {
    for (const bool damaged : {false, true}) {
        Plant plant;
        const std::string copy = plant.dir / "S/parameter/program.ini";
        test::WriteFile(plant.P() + "/parameter/hx5configuration.ini",
                        "[Common]\r\nNameM1=Alpha\r\nNameM2=Beta\r\nNameM3=Gamma\r\nSaveAndRestore=" +
                            (plant.dir / "S") + "\r\n");
        if (damaged)
            test::WriteFile(copy, std::string("[Machine1]\r\nBobbin1=\0\0", 22));
        Harness h(plant, "/EXTERNAL=HX5CFG /LOGFILE=" + (plant.dir / "cfg.log"));
        if (damaged)
            h.dialogs.Queue({Answer::Yes}); // resume after the report that names the copy
        h.window.Form_Load();
        // The settings OK will write over, not defaults.
        QCOMPARE(h.Get<CheckBoxControl>("CheckBobbinOk", 1).Value(), 1);
        QCOMPARE(h.Get<ComboControl>("ComboMaterial", 1).ListIndex(), 2);
        h.Get<CheckBoxControl>("CheckBlank", 1).UserClick();
        h.window.WriteInputs();
        const auto ini = platform::IniDocument::Parse(test::ReadFile(plant.ProgramIni()));
        QCOMPARE(ini.Find("Machine1", "BobbinWithBlankLenght1"), std::optional<std::string>("true"));
        QCOMPARE(ini.Find("Machine1", "Bobbin1"), std::optional<std::string>("true"));
        QCOMPARE(ini.Find("Machine1", "BobbinMaterialSym1"), std::optional<std::string>("2"));
        QCOMPARE(ini.Find("Machine3", "NoBobbinChanger"), std::optional<std::string>("true"));
        QCOMPARE(ini.Find("Machine3", "Bobbin1"), std::optional<std::string>("false")); // all keys, as shown
        QCOMPARE(h.dialogs.UnexpectedCount(), 0);
    }
}

void SavingTest::editsOfAMachineSwitchedOffMeanwhileAreReported() {
    Plant plant;
    Harness h(plant);
    h.window.Form_Load();
    h.Get<CheckBoxControl>("CheckBlank", 1).UserClick();
    test::WriteFile(plant.Cfg(),
                    "[Project]\r\nForMachine1=false\r\nForMachine2=false\r\nForMachine3=true\r\n");
    const std::string before = test::ReadFile(plant.ProgramIni());
    h.dialogs.Queue({Answer::Ok});
    h.window.WriteInputs();
    QCOMPARE(h.dialogs.Shown().size(), std::size_t{1});
    QVERIFY(h.dialogs.Shown()[0].text.starts_with("The settings of machine 1 were not saved: it is no longer "
                                                  "enabled in"));
    QCOMPARE(h.rt.FailureReports(), 1);
    const auto ini = platform::IniDocument::Parse(test::ReadFile(plant.ProgramIni()));
    QCOMPARE(ini.Find("Machine1", "BobbinWithBlankLenght1"), std::nullopt);
    QVERIFY(test::ReadFile(plant.ProgramIni()) != before); // machine 3 is written as before
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
}

void SavingTest::cancelAndCloseAskFirst() {
    Plant plant;
    Harness h(plant);
    h.window.Form_Load();
    const std::string before = test::ReadFile(plant.ProgramIni());
    h.Get<CheckBoxControl>("CheckBlank", 1).UserClick();
    h.dialogs.Queue({Answer::No, Answer::No});
    QCOMPARE(h.Ends([&] { h.Get<ButtonControl>("CommandCancel").UserClick(); }), -1);
    QVERIFY(h.window.Form_QueryUnload()); // answered No: the window stays open
    QCOMPARE(h.dialogs.Shown().size(), std::size_t{2});
    QCOMPARE(h.dialogs.Shown()[0].text,
             std::string("Cancel edits?\n\rRemark:\n\rUntil now no changes have been taken over "));
    QCOMPARE(h.dialogs.Shown()[1].text, h.dialogs.Shown()[0].text);
    QVERIFY(h.window.BobbinSettings().At(1, 1).BobbinWithBlankLength);
    h.dialogs.Queue({Answer::Yes});
    QCOMPARE(h.Ends([&] { h.Get<ButtonControl>("CommandCancel").UserClick(); }), 0);
    QCOMPARE(test::ReadFile(plant.ProgramIni()), before);
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
}

void SavingTest::noEnabledMachineStillSaves() {
    Plant plant;
    test::WriteFile(plant.Cfg(), "[Project]\r\nForMachine1=false\r\n");
    Harness h(plant);
    h.window.Form_Load();
    QCOMPARE(h.Get<TabStripControl>("TabStripMachine").TabCount(), 0);
    QVERIFY(h.Get<LabelControl>("LabelMachine").Caption().starts_with("Keine Maschine"));
    QCOMPARE(h.Ends([&] { h.Get<ButtonControl>("CommandOK").UserClick(); }), 0);
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
    QVERIFY(!test::Exists(plant.P() + "/HX5cfglog.txt"));
}

void SavingTest::missingProgramIniIsToldNotCreated() {
    Plant plant;
    Harness h(plant);
    h.window.Form_Load();
    std::filesystem::remove(plant.ProgramIni());
    h.dialogs.Queue({Answer::Ok});
    QCOMPARE(h.Ends([&] { h.Get<ButtonControl>("CommandOK").UserClick(); }), 1);
    QCOMPARE(h.dialogs.Shown().size(), std::size_t{1});
    QCOMPARE(h.dialogs.Shown()[0].text, "The settings were not saved: the program ini \"" + plant.P() +
                                            "/parameter/Program.ini\" does not exist.");
    QVERIFY(!test::Exists(plant.ProgramIni()));
    QVERIFY(!test::Exists(plant.P() + "/Program.ini"));
}

// From the first OK click on, OK and Cancel stay disabled, a second click and
// a close request start nothing, and the save completes.
void SavingTest::savingCannotBeInterrupted() {
    Plant plant;
    Harness h(plant);
    QVERIFY(h.LoadAndShow());
    auto* blank = h.Widget("CheckBlank", 1);
    QTest::mouseClick(blank, Qt::LeftButton, {}, QPoint(8, blank->height() / 2));
    QVERIFY(h.window.BobbinSettings().At(1, 1).BobbinWithBlankLength);
    QWidget* ok = h.Widget("CommandOK");
    QWidget* cancel = h.Widget("CommandCancel");
    bool intruded = false;
    bool enabledWhileSaving = false;
    // Runs while the save lets the window handle its pending events.
    QTimer::singleShot(0, [&] {
        QEvent activation(QEvent::ActivationChange);
        QApplication::sendEvent(&h.window, &activation);
        enabledWhileSaving = ok->isEnabled() || cancel->isEnabled();
        QTest::mouseClick(ok, Qt::LeftButton);
        h.window.close();
        intruded = true;
    });
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(intruded);
    QVERIFY(!enabledWhileSaving);
    QVERIFY(!ok->isEnabled() && !cancel->isEnabled());
    QVERIFY(h.events.Ended());
    QCOMPARE(h.events.ExitStatus(), 0);
    QCOMPARE(h.dialogs.Shown().size(), std::size_t{0}); // no cancel question
    QVERIFY(test::ReadFile(plant.ProgramIni()).find("BobbinWithBlankLenght1=true\r\n") != std::string::npos);
    QVERIFY(!test::Exists(plant.P() + "/HX5cfglog.txt"));
}

QTEST_MAIN(SavingTest)
#include "SavingTest.moc"
