#include "platform/Failure.h"
#include "platform/ProgramEnd.h"
#include "platform/Text.h"
#include "platform/qt/QtEvents.h"
#include "runtime/Runtime.h"
#include "support/TempDir.h"
#include "window/ConfigWindow.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QTabBar>
#include <QTest>

#include <deque>
#include <filesystem>
#include <memory>

using namespace torvex;
using platform::Answer;
using window::ButtonControl;
using window::CheckBoxControl;
using window::ComboControl;
using window::ImageControl;
using window::LabelControl;
using window::TabStripControl;

namespace {

// Answers boxes from a queue and records them; a box without an answer is
// counted as unexpected and answered with its default button.
class RecordingDialogs final : public platform::Dialogs {
public:
    Answer Show(const platform::MessageBox& box) override {
        shown.push_back(box);
        if (answers.empty()) {
            ++unexpected;
            return box.buttons == platform::Buttons::Ok ? Answer::Ok
                                                        : (box.defaultButton == 1 ? Answer::Yes : Answer::No);
        }
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::deque<Answer> answers;
    std::vector<platform::MessageBox> shown;
    int unexpected = 0;
};

// A demo-like plant: machines A, B, C of which 1 and 3 carry the component.
struct Plant {
    test::TempDir dir;
    std::string P() const { return dir / "plant"; }
    std::string ProgramIni() const { return P() + "/parameter/Program.ini"; }
    std::string Cfg() const { return P() + "/Torvex/Torvex.cfg"; }
    std::string LanguageFile() const { return P() + "/Torvex/Torvex_Config.ini"; }
    std::string ServicePackLog() const { return dir / "sp.log"; }

    Plant() {
        test::WriteFile(ProgramIni(),
                        "[Project]\r\nNumberOfMachines=3\r\n"
                        "[Machine1]\r\nMachineName=Alpha\r\nBobbin1=true\r\nBobbinMaterialSym1=2\r\n"
                        "Bobbin2=false\r\nOnlyBlank2=true\r\nBobbinSym2=1\r\nOther=keep\r\n"
                        "[Machine2]\r\nMachineName=Beta\r\nBobbin1=TRUE\r\n"
                        "[Machine3]\r\nMachineName=Gamma\r\nNoBobbinChanger=true\r\nBobbinSym3=-5\r\n"
                        "[Elsewhere]\r\nx=1\r\n");
        test::WriteFile(Cfg(), "[Project]\r\nForMachine1=true\r\nForMachine2=false\r\nForMachine3=true\r\n");
        const auto copy = [this](const std::string& name, const std::string& folder) {
            test::WriteFile(P() + "/" + folder + "/" + name,
                            test::ReadFile(TORVEX_SAMPLE_PICTURES "/" + name));
        };
        for (const char* name :
             {"Material_1_800.gif", "Material_2_800.gif", "Material_3_800.gif", "Empty_800.gif"})
            copy(name, "Standard");
        for (const char* name : {"Torvex_BobbinSymbol_1_800.gif", "Torvex_BobbinSymbol_2_800.gif"})
            copy(name, "Torvex");
    }
};

// A window loaded on a plant, with its run.
struct Harness {
    explicit Harness(Plant& plant, std::string commandLine = "")
        : rt(test::MakeIdentity(plant.P() + "/Torvex", std::move(commandLine)),
             {dialogs, plant.ServicePackLog(), nullptr, {}}),
          window(rt, events) {}
    RecordingDialogs dialogs;
    platform::EventBridge events;
    runtime::Runtime rt;
    window::ConfigWindow window;

    template <class T> T& Get(const std::string& name, int index = 0) { return window.Get<T>(name, index); }
    // Runs a handler that ends the program; returns the exit status (-1: it did not end).
    template <class F> int Ends(F&& f) {
        try {
            f();
        } catch (const platform::ProgramEnd& end) {
            return end.exitStatus;
        }
        return -1;
    }
};

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void tabsOnlyForEnabledMachines();
    void tabChangeShowsTheMachine();
    void columnSwitchHidesButKeepsValues();
    void comboStoresNumberAndShowsPicture();
    void controlsRaiseClickOnlyOnChange();
    void infoModeExplainsInsteadOfEditing();
    void okWritesEveryEnabledMachine();
    void cancelAndCloseAskFirst();
    void languageFileIsSeeded();
    void languageFileTranslates();
    void noEnabledMachineStillSaves();
    void missingProgramIniIsToldNotCreated();
};

void WindowTest::tabsOnlyForEnabledMachines() {
    Plant plant;
    Harness h(plant);
    h.window.Form_Load();
    auto& tabs = h.Get<TabStripControl>("TabStripMachine");
    QCOMPARE(tabs.TabCount(), 2);
    QCOMPARE(tabs.Bar()->tabText(0), QString("Alpha"));
    QCOMPARE(tabs.Bar()->tabText(1), QString("Gamma"));
    QCOMPARE(h.window.TabMachine[1], std::int16_t{1});
    QCOMPARE(h.window.TabMachine[2], std::int16_t{3});
    QCOMPARE(h.window.windowTitle(), QString("Erweiterte Konfiguration Torvex - standalone"));
    QVERIFY(h.Get<ButtonControl>("CommandOK").Enabled());
    QCOMPARE(h.Get<ComboControl>("ComboMaterial", 1).ListCount(), 4);
    QCOMPARE(h.Get<ComboControl>("ComboSymbol", 4).ListCount(), 3);
    QCOMPARE(h.dialogs.unexpected, 0);
}

void WindowTest::tabChangeShowsTheMachine() {
    Plant plant;
    Harness h(plant);
    h.window.Form_Load();
    QCOMPARE(h.Get<LabelControl>("LabelMachine").Caption(), std::string("Alpha"));
    QCOMPARE(h.Get<CheckBoxControl>("CheckBobbinOk", 1).Value(), 1);
    QCOMPARE(h.Get<ComboControl>("ComboMaterial", 1).ListIndex(), 2);
    QCOMPARE(h.Get<CheckBoxControl>("CheckBobbinChange").Value(), 0);
    h.Get<TabStripControl>("TabStripMachine").SelectTab(2);
    QCOMPARE(h.Get<LabelControl>("LabelMachine").Caption(), std::string("Gamma"));
    QCOMPARE(h.Get<CheckBoxControl>("CheckBobbinChange").Value(), 1);
    QCOMPARE(h.Get<CheckBoxControl>("CheckBobbinOk", 1).Value(), 0);
    QVERIFY(!h.Get<ComboControl>("ComboMaterial", 1).Visible());
    QCOMPARE(h.window.BobbinSettings.At(3, 3).BobbinSym, std::int16_t{0}); // -5 reads as 0
    QCOMPARE(h.window.BobbinSettings.At(1, 2).OnlyBlank, true);
    QCOMPARE(h.dialogs.unexpected, 0);
}

void WindowTest::columnSwitchHidesButKeepsValues() {
    Plant plant;
    Harness h(plant);
    h.window.Form_Load();
    h.window.show();
    auto& onlyBlank = h.Get<CheckBoxControl>("CheckOnlyBlank", 2);
    QVERIFY(!onlyBlank.Visible());
    QCOMPARE(onlyBlank.Value(), 1);
    // A real mouse click on the column switch shows the nine other controls.
    auto& bobbin = h.Get<CheckBoxControl>("CheckBobbinOk", 2);
    QTest::mouseClick(bobbin.Widget(), Qt::LeftButton, {}, QPoint(8, bobbin.Widget()->height() / 2));
    QCOMPARE(bobbin.Value(), 1);
    QVERIFY(h.window.BobbinSettings.At(1, 2).Bobbin);
    for (const char* name :
         {"CheckBlank", "CheckTensionArmWithoutSplicePosition", "ComboMaterial", "ComboSymbol",
          "ImageMaterial", "ImageSymbol", "CheckWithoutBobbin", "CheckWithoutTensionArm", "CheckOnlyBlank"})
        QVERIFY2(h.window.Find(name, 2).Visible(), name);
    onlyBlank.UserClick();
    QVERIFY(!h.window.BobbinSettings.At(1, 2).OnlyBlank);
    QCOMPARE(h.Get<CheckBoxControl>("CheckBlank", 2).Value(), 0); // options are independent
    bobbin.UserClick();
    QVERIFY(!onlyBlank.Visible());
    QVERIFY(h.Get<LabelControl>("LabelBob", 2).Visible());
    QCOMPARE(onlyBlank.Value(), 0);
    QVERIFY(!h.window.BobbinSettings.At(1, 2).Bobbin);
}

void WindowTest::comboStoresNumberAndShowsPicture() {
    Plant plant;
    Harness h(plant);
    h.window.Form_Load();
    auto& symbol = h.Get<ComboControl>("ComboSymbol", 3);
    symbol.UserChoose(2);
    QCOMPARE(h.window.BobbinSettings.At(1, 3).BobbinSym, std::int16_t{2});
    QCOMPARE(h.Get<ImageControl>("ImageSymbol", 3).PicturePath(),
             plant.P() + "/Torvex/Torvex_BobbinSymbol_2_800.gif");
    symbol.UserChoose(0);
    QCOMPARE(h.window.BobbinSettings.At(1, 3).BobbinSym, std::int16_t{0});
    QCOMPARE(h.Get<ImageControl>("ImageSymbol", 3).PicturePath(), plant.P() + "/Standard/Empty_800.gif");
    h.Get<ComboControl>("ComboMaterial", 3).UserChoose(3);
    QCOMPARE(h.Get<ImageControl>("ImageMaterial", 3).PicturePath(),
             plant.P() + "/Standard/Material_3_800.gif");
    QCOMPARE(h.dialogs.unexpected, 0);
}

void WindowTest::controlsRaiseClickOnlyOnChange() {
    Plant plant;
    Harness h(plant);
    auto& box = h.Get<CheckBoxControl>("CheckBlank", 1);
    int clicks = 0;
    box.OnClick = [&] { ++clicks; };
    box.SetValue(1);
    box.SetValue(1);
    QCOMPARE(clicks, 1);
    box.SetValue(0);
    QCOMPARE(clicks, 2);
    auto& combo = h.Get<ComboControl>("ComboMaterial", 1);
    combo.AddItem("0");
    combo.AddItem("1");
    QCOMPARE(combo.ListIndex(), -1);
    combo.OnClick = [&] { ++clicks; };
    combo.SetListIndex(1);
    combo.SetListIndex(1);
    QCOMPARE(clicks, 3);
    bool refused = false;
    try {
        combo.SetListIndex(5);
    } catch (const platform::Failure& f) {
        refused = f.Number() == 380;
    }
    QVERIFY(refused);
    QCOMPARE(combo.ListIndex(), 1);
    QCOMPARE(combo.Text(), std::string("1"));
}

void WindowTest::infoModeExplainsInsteadOfEditing() {
    Plant plant;
    test::WriteFile(plant.LanguageFile(),
                    "[Language]\r\nLanguage=1031\r\n[1031]\r\nHelp12=Bobine<crlf>vorhanden\r\n"
                    "Help14=Pendel\r\nHelp1=OK\r\nHelp2=Abbruch\r\nHelp15=Material\r\n");
    Harness h(plant);
    h.window.Form_Load();
    auto& quest = h.Get<ButtonControl>("CommandQuest");
    quest.UserClick();
    QVERIFY(h.window.InfoMode);
    QCOMPARE(quest.BackColor(), std::optional<QColor>(QColor(0, 255, 0)));
    QVERIFY(!h.Get<TabStripControl>("TabStripMachine").Enabled());

    h.dialogs.answers = {Answer::Ok};
    auto& bobbin = h.Get<CheckBoxControl>("CheckBobbinOk", 1);
    bobbin.UserClick();
    QCOMPARE(bobbin.Value(), 1);
    QVERIFY(h.window.BobbinSettings.At(1, 1).Bobbin);
    QVERIFY(h.Get<CheckBoxControl>("CheckBlank", 1).Visible());
    QCOMPARE(h.dialogs.shown.size(), std::size_t{1});
    QCOMPARE(h.dialogs.shown[0].text, std::string("Bobine\r\nvorhanden"));
    QCOMPARE(h.dialogs.shown[0].title, std::optional<std::string>("Info:"));

    h.dialogs.answers = {Answer::Ok, Answer::Ok, Answer::Ok, Answer::Ok};
    h.Get<CheckBoxControl>("CheckWithoutBobbin", 1).UserClick();
    h.Get<ComboControl>("ComboMaterial", 1).UserChoose(3);
    QCOMPARE(h.window.BobbinSettings.At(1, 1).BobbinMaterialSym, std::int16_t{2});
    QCOMPARE(h.Get<ComboControl>("ComboMaterial", 1).Text(), std::string("3"));
    h.Get<ButtonControl>("CommandOK").UserClick();
    h.Get<ButtonControl>("CommandCancel").UserClick();
    QCOMPARE(h.dialogs.shown.size(), std::size_t{5});
    QCOMPARE(h.dialogs.shown[1].text, std::string("Pendel"));
    QCOMPARE(h.dialogs.shown[2].text, std::string("Material"));
    QCOMPARE(h.dialogs.shown[3].text, std::string("OK"));
    QCOMPARE(h.dialogs.shown[4].text, std::string("Abbruch"));
    QVERIFY(!plant.dir.Path().empty() && !test::Exists(plant.P() + "/Torvex/Torvex.mdb"));

    quest.UserClick();
    QVERIFY(!h.window.InfoMode);
    QCOMPARE(quest.BackColor(), std::optional<QColor>());
    QVERIFY(h.Get<TabStripControl>("TabStripMachine").Enabled());
    QCOMPARE(h.dialogs.unexpected, 0);
}

void WindowTest::okWritesEveryEnabledMachine() {
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

void WindowTest::cancelAndCloseAskFirst() {
    Plant plant;
    Harness h(plant);
    h.window.Form_Load();
    const std::string before = test::ReadFile(plant.ProgramIni());
    h.Get<CheckBoxControl>("CheckBlank", 1).UserClick();
    h.dialogs.answers = {Answer::No, Answer::No};
    QCOMPARE(h.Ends([&] { h.Get<ButtonControl>("CommandCancel").UserClick(); }), -1);
    QVERIFY(h.window.Form_QueryUnload()); // answered No: the window stays open
    QCOMPARE(h.dialogs.shown.size(), std::size_t{2});
    QCOMPARE(h.dialogs.shown[0].text,
             std::string("Cancel edits?\n\rRemark:\n\rUntil now no changes have been taken over "));
    QCOMPARE(h.dialogs.shown[1].text, h.dialogs.shown[0].text);
    QVERIFY(h.window.BobbinSettings.At(1, 1).BobbinWithBlankLenght);
    h.dialogs.answers = {Answer::Yes};
    QCOMPARE(h.Ends([&] { h.Get<ButtonControl>("CommandCancel").UserClick(); }), 0);
    QCOMPARE(test::ReadFile(plant.ProgramIni()), before);
    QCOMPARE(h.dialogs.unexpected, 0);
}

void WindowTest::languageFileIsSeeded() {
    Plant plant;
    {
        Harness h(plant);
        h.window.Form_Load();
    }
    const std::string seeded = test::ReadFile(plant.LanguageFile());
    QVERIFY(seeded.starts_with("[Language]\r\nLanguage=1031\r\n[1031]\r\n"));
    QVERIFY(seeded.find("Caption_Header_=Torvex - Bobine / Pendel / Wechselarm\r\n") != std::string::npos);
    QVERIFY(seeded.find("Caption_LabelBob2_NoTTT=Spalte 2\r\n") != std::string::npos);
    QVERIFY(seeded.find("Caption_Label1_NoTTT=Bobinen / Pendel\r\n") != std::string::npos);
    QVERIFY(seeded.find("Help12=0\r\n") != std::string::npos);
    QVERIFY(seeded.find("TTT_CommandOK_=0\r\n") != std::string::npos);
    QVERIFY(seeded.find("TTT_ComboMaterial3_=0\r\n") != std::string::npos);
    QVERIFY(seeded.find("TTT_LabelBob") == std::string::npos);
    QVERIFY(seeded.find("TTT_TabStripMachine") == std::string::npos);
    // A second start finds every key and writes nothing.
    {
        Harness h(plant);
        h.window.Form_Load();
    }
    QCOMPARE(test::ReadFile(plant.LanguageFile()), seeded);
}

void WindowTest::languageFileTranslates() {
    Plant plant;
    test::WriteFile(plant.LanguageFile(),
                    "[Language]\r\nLanguage=1033\r\n[1033]\r\nCaption_LabelMaterial_NoTTT=Material type\r\n"
                    "TTT_CommandOK_=Save and regenerate\r\nCaption_LabelSymbol_NoTTT=0\r\n");
    Harness h(plant);
    h.window.Form_Load();
    QCOMPARE(h.Get<LabelControl>("LabelMaterial").Caption(), std::string("Material type"));
    QCOMPARE(h.Get<LabelControl>("LabelSymbol").Caption(), std::string("Symbol"));
    QCOMPARE(h.Get<ButtonControl>("CommandOK").ToolTipText(), std::string("Save and regenerate"));
    const std::string file = test::ReadFile(plant.LanguageFile());
    QVERIFY(file.find("Caption_Header_=0\r\n") != std::string::npos);
    QVERIFY(file.find("Caption_LabelSymbol_NoTTT=0\r\n") != std::string::npos);
    QVERIFY(file.find("Help13=0\r\n") != std::string::npos);

    test::WriteFile(plant.LanguageFile(),
                    "[Language]\r\nLanguage=1031\r\n[1031]\r\nCaption_LabelSymbol_NoTTT=0\r\n");
    Harness again(plant);
    again.window.Form_Load();
    QVERIFY(test::ReadFile(plant.LanguageFile()).find("Caption_LabelSymbol_NoTTT=Symbol\r\n") !=
            std::string::npos);
}

void WindowTest::noEnabledMachineStillSaves() {
    Plant plant;
    test::WriteFile(plant.Cfg(), "[Project]\r\nForMachine1=false\r\n");
    Harness h(plant);
    h.window.Form_Load();
    QCOMPARE(h.Get<TabStripControl>("TabStripMachine").TabCount(), 0);
    QVERIFY(h.Get<LabelControl>("LabelMachine").Caption().starts_with("Keine Maschine"));
    QCOMPARE(h.Ends([&] { h.Get<ButtonControl>("CommandOK").UserClick(); }), 0);
    QCOMPARE(h.dialogs.unexpected, 0);
    QVERIFY(!test::Exists(plant.P() + "/HX5cfglog.txt"));
}

void WindowTest::missingProgramIniIsToldNotCreated() {
    Plant plant;
    Harness h(plant);
    h.window.Form_Load();
    std::filesystem::remove(plant.ProgramIni());
    h.dialogs.answers = {Answer::Ok};
    QCOMPARE(h.Ends([&] { h.Get<ButtonControl>("CommandOK").UserClick(); }), 1);
    QCOMPARE(h.dialogs.shown.size(), std::size_t{1});
    QCOMPARE(h.dialogs.shown[0].text, "The settings were not saved: the program ini \"" + plant.P() +
                                          "/parameter/Program.ini\" does not exist.");
    QVERIFY(!test::Exists(plant.ProgramIni()));
    QVERIFY(!test::Exists(plant.P() + "/Program.ini"));
}

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
