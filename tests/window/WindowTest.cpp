#include "platform/Failure.h"
#include "platform/IniDocument.h"
#include "platform/ProgramEnd.h"
#include "platform/Text.h"
#include "platform/qt/EventBridge.h"
#include "platform/qt/QtDialogs.h"
#include "runtime/Runtime.h"
#include "support/SamplePictures.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"
#include "window/ConfigWindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>

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

// Dialogs for a window test: an unexpected box fails the running test function.
test::ScriptedDialogs::Unexpected FailTheTest() {
    return [](const platform::MessageBox& box) {
        QTest::qFail(("unexpected message box: " + box.text).c_str(), __FILE__, __LINE__);
    };
}

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
        test::CopySamplePictures(P());
    }
};

// A window loaded on a plant, with its run.
struct Harness {
    explicit Harness(Plant& plant, std::string commandLine = "")
        : rt(test::MakeIdentity(plant.P() + "/Torvex", std::move(commandLine)),
             {dialogs, plant.ServicePackLog(), nullptr, {}}),
          window(rt, events) {}
    test::ScriptedDialogs dialogs{FailTheTest()};
    platform::EventBridge events;
    runtime::Runtime rt;
    window::ConfigWindow window;

    template <class T> T& Get(const std::string& name, int index = 0) { return window.Get<T>(name, index); }
    QWidget* Widget(const std::string& name, int index = 0) { return window.Find(name, index).Widget(); }
    // Loads the window, shows it and makes it the active window, so that
    // focus and activation events are delivered as on a desktop.
    bool LoadAndShow() {
        window.Form_Load();
        window.show();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window);
    }
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

// Every field of one machine's settings, as text to compare.
std::string SettingsText(window::ConfigWindow& w, std::size_t m) {
    std::string text = w.BobbinSettings.Machine(m).NoBobbinChanger ? "N" : "n";
    for (std::size_t c = 1; c <= 4; ++c) {
        const window::BobbinColumn& col = w.BobbinSettings.At(m, c);
        for (bool flag : {col.Bobbin, col.BobbinWithBlankLength, col.TensionArmWithoutSplicePosition,
                          col.WithoutBobbin, col.WithoutTensionArm, col.OnlyBlank})
            text += flag ? '1' : '0';
        text += "/" + std::to_string(col.BobbinMaterialSym) + "/" + std::to_string(col.BobbinSym) + " ";
    }
    return text;
}

// What the page shows, in the form of SettingsText, plus the rows shown.
std::string PageText(Harness& h) {
    std::string text = h.Get<CheckBoxControl>("CheckBobbinChange").Value() == 1 ? "N" : "n";
    for (int c = 1; c <= 4; ++c) {
        for (const char* box : {"CheckBobbinOk", "CheckBlank", "CheckTensionArmWithoutSplicePosition",
                                "CheckWithoutBobbin", "CheckWithoutTensionArm", "CheckOnlyBlank"})
            text += h.Get<CheckBoxControl>(box, c).Value() == 1 ? '1' : '0';
        text += "/" + std::to_string(h.Get<ComboControl>("ComboMaterial", c).ListIndex()) + "/" +
                std::to_string(h.Get<ComboControl>("ComboSymbol", c).ListIndex()) + " ";
    }
    return text;
}

bool RowsShown(Harness& h, int c) {
    return h.Get<ComboControl>("ComboMaterial", c).Visible();
}

// The names of the focusable controls of the page, in keyboard order.
std::vector<std::pair<std::string, int>> PageFocusOrder() {
    std::vector<std::pair<std::string, int>> order = {{"CheckBobbinChange", 0}};
    for (int c = 1; c <= 4; ++c)
        for (const char* name :
             {"CheckBobbinOk", "CheckBlank", "CheckTensionArmWithoutSplicePosition", "CheckWithoutBobbin",
              "CheckWithoutTensionArm", "CheckOnlyBlank", "ComboMaterial", "ComboSymbol"})
            order.emplace_back(name, c);
    return order;
}

// What a message box showed: its default button and the font its text is drawn in.
struct BoxSeen {
    QString defaultButton;
    QString textFont;
};

// Answers the next modal message box with a key press, noting what it showed.
void PressOnNextBox(Qt::Key key, BoxSeen* seen) {
    QTimer::singleShot(0, [key, seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen->defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        if (auto* text = box->findChild<QLabel*>("qt_msgbox_label"))
            seen->textFont = QFontInfo(text->font()).family();
        QTest::keyClick(box, key);
    });
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { window::UseDesignFont(); }
    // A run that ended inside a handler told every event loop to quit; a
    // fresh run of the application's loop clears that for the next test.
    void cleanup() {
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
    void escapeGivesTheSafeAnswer_data();
    void escapeGivesTheSafeAnswer();
    void tabSwitchStoresNothing_data();
    void tabSwitchStoresNothing();
    void numberNotOfferedStaysStored();
    void savingCannotBeInterrupted();
    void picturesAndLogInAnyLetterCase_data();
    void picturesAndLogInAnyLetterCase();
    void infoModeFaceAndCombos();
    void keyboardOrderAndReturn();
    void captionsFitTheirPlaces();
    void tabsOnlyForEnabledMachines();
    void tabChangeShowsTheMachine();
    void columnSwitchHidesButKeepsValues();
    void comboStoresNumberAndShowsPicture();
    void controlsRaiseClickOnlyOnChange();
    void infoModeExplainsInsteadOfEditing();
    void okWritesEveryEnabledMachine();
    void okKeepsWhatOthersChanged();
    void okWritesWhatTheWindowShowsWhereTheCopyCannotBeRead();
    void editsOfAMachineSwitchedOffMeanwhileAreReported();
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
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
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
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
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
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
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
        refused = f.Number() == platform::errnum::InvalidPropertyValue;
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

    h.dialogs.Queue({Answer::Ok});
    auto& bobbin = h.Get<CheckBoxControl>("CheckBobbinOk", 1);
    bobbin.UserClick();
    QCOMPARE(bobbin.Value(), 1);
    QVERIFY(h.window.BobbinSettings.At(1, 1).Bobbin);
    QVERIFY(h.Get<CheckBoxControl>("CheckBlank", 1).Visible());
    QCOMPARE(h.dialogs.Shown().size(), std::size_t{1});
    QCOMPARE(h.dialogs.Shown()[0].text, std::string("Bobine\r\nvorhanden"));
    QCOMPARE(h.dialogs.Shown()[0].title, std::optional<std::string>("Info:"));

    h.dialogs.Queue({Answer::Ok, Answer::Ok, Answer::Ok, Answer::Ok});
    h.Get<CheckBoxControl>("CheckWithoutBobbin", 1).UserClick();
    h.Get<ComboControl>("ComboMaterial", 1).UserChoose(3);
    QCOMPARE(h.window.BobbinSettings.At(1, 1).BobbinMaterialSym, std::int16_t{2});
    QCOMPARE(h.Get<ComboControl>("ComboMaterial", 1).Text(), std::string("3"));
    h.Get<ButtonControl>("CommandOK").UserClick();
    h.Get<ButtonControl>("CommandCancel").UserClick();
    QCOMPARE(h.dialogs.Shown().size(), std::size_t{5});
    QCOMPARE(h.dialogs.Shown()[1].text, std::string("Pendel"));
    QCOMPARE(h.dialogs.Shown()[2].text, std::string("Material"));
    QCOMPARE(h.dialogs.Shown()[3].text, std::string("OK"));
    QCOMPARE(h.dialogs.Shown()[4].text, std::string("Abbruch"));
    QVERIFY(!plant.dir.Path().empty() && !test::Exists(plant.P() + "/Torvex/Torvex.mdb"));

    quest.UserClick();
    QVERIFY(!h.window.InfoMode);
    QCOMPARE(quest.BackColor(), std::optional<QColor>());
    QVERIFY(h.Get<TabStripControl>("TabStripMachine").Enabled());
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
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

// While the window is open, another program enables machine 2 and changes
// entries of machines 1 and 3. OK writes neither machine 2 (never read) nor
// those entries, except one whose setting the user changed as well: there the
// user's value wins. Every other key gets the window's value as before.
void WindowTest::okKeepsWhatOthersChanged() {
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
void WindowTest::okWritesWhatTheWindowShowsWhereTheCopyCannotBeRead() {
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

void WindowTest::editsOfAMachineSwitchedOffMeanwhileAreReported() {
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

void WindowTest::cancelAndCloseAskFirst() {
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
    QVERIFY(h.window.BobbinSettings.At(1, 1).BobbinWithBlankLength);
    h.dialogs.Queue({Answer::Yes});
    QCOMPARE(h.Ends([&] { h.Get<ButtonControl>("CommandCancel").UserClick(); }), 0);
    QCOMPARE(test::ReadFile(plant.ProgramIni()), before);
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
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
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
    QVERIFY(!test::Exists(plant.P() + "/HX5cfglog.txt"));
}

void WindowTest::missingProgramIniIsToldNotCreated() {
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

void WindowTest::escapeGivesTheSafeAnswer_data() {
    QTest::addColumn<bool>("resumeBox");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("defaultButton");
    QTest::addColumn<bool>("goesOn"); // resume after the report / keep editing
    QTest::newRow("resume, Escape") << true << int(Qt::Key_Escape) << "&Yes" << true;
    QTest::newRow("resume, Return") << true << int(Qt::Key_Return) << "&Yes" << true;
    QTest::newRow("cancel, Escape") << false << int(Qt::Key_Escape) << "&No" << true;
    QTest::newRow("cancel, Return") << false << int(Qt::Key_Return) << "&No" << true;
}

// The real message boxes: a reflexive Escape never ends the run, and the text
// is drawn in the window's font (not in what fontconfig picks for "sans-serif").
void WindowTest::escapeGivesTheSafeAnswer() {
    QFETCH(bool, resumeBox);
    QFETCH(int, key);
    QFETCH(QString, defaultButton);
    QFETCH(bool, goesOn);
    Plant plant;
    platform::EventBridge events;
    platform::QtDialogs dialogs(events);
    runtime::Runtime rt(test::MakeIdentity(plant.P() + "/Torvex"),
                        {dialogs, plant.ServicePackLog(), nullptr, {}});
    BoxSeen seen;
    PressOnNextBox(static_cast<Qt::Key>(key), &seen);
    const bool wentOn =
        resumeBox ? rt.ReportError(5, "src", "failed", "Proc", false) == runtime::ReportAnswer::Resume
                  : !rt.ConfirmCancel();
    QCOMPARE(seen.defaultButton, defaultButton);
    QCOMPARE(wentOn, goesOn);
    QCOMPARE(seen.textFont, QString("Liberation Sans"));
}

void WindowTest::tabSwitchStoresNothing_data() {
    QTest::addColumn<int>("columnsOn"); // of the second machine; the first has all four
    QTest::addColumn<bool>("byMouse");  // a click on the tab, or the tab selected by code
    for (int on = 1; on <= 4; ++on) {
        QTest::addRow("%d on, click", on) << on << true;
        QTest::addRow("%d on, code", on) << on << false;
    }
}

// Whichever control of the page has the focus, a tab switch changes no stored
// value, and afterwards every control shows the new machine's value.
void WindowTest::tabSwitchStoresNothing() {
    QFETCH(int, columnsOn);
    QFETCH(bool, byMouse);
    Plant plant;
    std::string ini = "[Machine1]\r\nMachineName=Alpha\r\nNoBobbinChanger=true\r\n";
    std::string third = "[Machine3]\r\nMachineName=Gamma\r\n";
    for (int c = 1; c <= 4; ++c) {
        const std::string n = std::to_string(c);
        for (const char* key : {"Bobbin", "BobbinWithBlankLenght", "TensionArmWithoutSplicePosition",
                                "WithoutBobbin", "WithoutTensionArm", "OnlyBlank"})
            ini += std::string(key) + n + "=true\r\n";
        ini += "BobbinMaterialSym" + n + "=3\r\nBobbinSym" + n + "=2\r\n";
        third += "Bobbin" + n + (c <= columnsOn ? "=true\r\n" : "=false\r\n");
        third += "BobbinMaterialSym" + n + "=1\r\nBobbinSym" + n + "=1\r\n";
    }
    test::WriteFile(plant.ProgramIni(), "[Project]\r\nNumberOfMachines=3\r\n" + ini + third);
    Harness h(plant);
    QVERIFY(h.LoadAndShow());
    const std::string alpha = SettingsText(h.window, 1);
    const std::string gamma = SettingsText(h.window, 3);
    auto& tabs = h.Get<TabStripControl>("TabStripMachine");
    const auto select = [&](int position) {
        if (byMouse)
            QTest::mouseClick(tabs.Bar(), Qt::LeftButton, {}, tabs.Bar()->tabRect(position - 1).center());
        else
            tabs.SelectTab(position);
    };
    for (const auto& [name, index] : PageFocusOrder()) {
        for (const int from : {1, 2}) {
            select(from);
            QWidget* focused = h.Widget(name, index);
            if (!focused->isVisible())
                continue;
            focused->setFocus(Qt::TabFocusReason);
            QVERIFY(focused->hasFocus());
            select(3 - from);
            const std::string where =
                name + std::to_string(index) + " focused, to tab " + std::to_string(3 - from);
            QCOMPARE(SettingsText(h.window, 1), alpha);
            QVERIFY2(SettingsText(h.window, 3) == gamma, where.c_str());
            const std::size_t m = from == 1 ? 3 : 1;
            QVERIFY2(PageText(h) == SettingsText(h.window, m), where.c_str());
            for (int c = 1; c <= 4; ++c)
                QCOMPARE(RowsShown(h, c), h.window.BobbinSettings.At(m, static_cast<std::size_t>(c)).Bobbin);
        }
    }
    // Going through the page with the keyboard stores what each control shows.
    for (int i = 0; i < 40; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(SettingsText(h.window, 1), alpha);
    QCOMPARE(SettingsText(h.window, 3), gamma);
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
}

// A stored number that the list does not offer is reported; the combo shows
// no entry (not the previous machine's number), and focusing it stores nothing.
void WindowTest::numberNotOfferedStaysStored() {
    Plant plant;
    test::WriteFile(plant.ProgramIni(),
                    "[Project]\r\nNumberOfMachines=3\r\n[Machine1]\r\nBobbin1=true\r\n"
                    "BobbinMaterialSym1=2\r\n[Machine3]\r\nBobbin1=true\r\nBobbinMaterialSym1=9\r\n");
    Harness h(plant);
    QVERIFY(h.LoadAndShow());
    h.dialogs.Queue({Answer::Yes});
    auto& tabs = h.Get<TabStripControl>("TabStripMachine");
    QTest::mouseClick(tabs.Bar(), Qt::LeftButton, {}, tabs.Bar()->tabRect(1).center());
    QCOMPARE(h.dialogs.Shown().size(), std::size_t{1});
    auto& combo = h.Get<ComboControl>("ComboMaterial", 1);
    QCOMPARE(combo.ListIndex(), -1);
    QCOMPARE(h.Get<ImageControl>("ImageMaterial", 1).PicturePath(), std::string());
    combo.Widget()->setFocus(Qt::TabFocusReason);
    QVERIFY(combo.Widget()->hasFocus());
    QCOMPARE(h.window.BobbinSettings.At(3, 1).BobbinMaterialSym, std::int16_t{9});
    QCOMPARE(h.window.BobbinSettings.At(1, 1).BobbinMaterialSym, std::int16_t{2});
    QCOMPARE(h.dialogs.Shown().size(), std::size_t{1});
}

// From the first OK click on, OK and Cancel stay disabled, a second click and
// a close request start nothing, and the save completes.
void WindowTest::savingCannotBeInterrupted() {
    Plant plant;
    Harness h(plant);
    QVERIFY(h.LoadAndShow());
    auto* blank = h.Widget("CheckBlank", 1);
    QTest::mouseClick(blank, Qt::LeftButton, {}, QPoint(8, blank->height() / 2));
    QVERIFY(h.window.BobbinSettings.At(1, 1).BobbinWithBlankLength);
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

void WindowTest::picturesAndLogInAnyLetterCase_data() {
    QTest::addColumn<bool>("missing"); // else: every file there, in another letter case
    QTest::newRow("other letter case") << false;
    QTest::newRow("missing and unreadable") << true;
}

// Pictures and the error log are found in any letter case; pictures that
// cannot be loaded are told in one report, and their boxes stay empty.
void WindowTest::picturesAndLogInAnyLetterCase() {
    QFETCH(bool, missing);
    Plant plant;
    const std::string standard = plant.P() + "/Standard/";
    const std::string log = plant.P() + "/hx5cfglog.txt";
    test::WriteFile(log, "old\r\n");
    if (missing) {
        std::filesystem::remove(standard + "Empty_800.gif");
        test::WriteFile(standard + "Material_2_800.gif", "no picture");
    } else {
        std::filesystem::rename(standard + "Empty_800.gif", standard + "EMPTY_800.GIF");
        std::filesystem::rename(standard + "Material_2_800.gif", standard + "material_2_800.gif");
        std::filesystem::rename(plant.P() + "/Torvex/Torvex_BobbinSymbol_1_800.gif",
                                plant.P() + "/Torvex/torvex_bobbinsymbol_1_800.gif");
    }
    Harness h(plant);
    h.dialogs.Queue({Answer::Yes});
    h.window.Form_Load();
    QCOMPARE(h.Get<ComboControl>("ComboMaterial", 1).ListCount(), 4);
    QCOMPARE(h.Get<ComboControl>("ComboSymbol", 1).ListCount(), 3);
    h.Get<TabStripControl>("TabStripMachine").SelectTab(2);
    h.Get<TabStripControl>("TabStripMachine").SelectTab(1);
    h.Get<ComboControl>("ComboMaterial", 3).UserChoose(2);
    const std::string material = h.Get<ImageControl>("ImageMaterial", 1).PicturePath();
    const std::string symbol = h.Get<ImageControl>("ImageSymbol", 2).PicturePath();
    if (missing) {
        QCOMPARE(h.dialogs.Shown().size(), std::size_t{1});
        const std::string report = "Fehler in Torvex / pTorvex_Config_Exe / TabStripMachine_Click (Nr. 53) :"
                                   "File not found: " +
                                   standard + "Material_2_800.gif, " + standard + "Empty_800.gif";
        QCOMPARE(test::ReadFile(log), "old\r\n" + report + "\r\n");
        QVERIFY(!test::Exists(plant.P() + "/HX5cfglog.txt"));
        QCOMPARE(material, std::string());
        QVERIFY(static_cast<QLabel*>(h.Widget("ImageSymbol", 1))->pixmap().isNull());
        QCOMPARE(symbol, plant.P() + "/Torvex/Torvex_BobbinSymbol_1_800.gif");
    } else {
        QCOMPARE(h.dialogs.Shown().size(), std::size_t{0});
        QCOMPARE(material, standard + "material_2_800.gif");
        QCOMPARE(symbol, plant.P() + "/Torvex/torvex_bobbinsymbol_1_800.gif");
        QCOMPARE(h.Get<ImageControl>("ImageSymbol", 1).PicturePath(), standard + "EMPTY_800.GIF");
        QCOMPARE(test::ReadFile(log), std::string("old\r\n"));
    }
}

// Info mode paints ? pure green, flat, and gives the style's own face back;
// a click on a combo explains it once and opens no list.
void WindowTest::infoModeFaceAndCombos() {
    Plant plant;
    test::WriteFile(plant.LanguageFile(), "[Language]\r\nLanguage=1031\r\n[1031]\r\nHelp15=Material\r\n");
    Harness h(plant);
    QVERIFY(h.LoadAndShow());
    QWidget* quest = h.Widget("CommandQuest");
    quest->setFocus(Qt::TabFocusReason);
    const QImage face = quest->grab().toImage();
    QTest::mouseClick(quest, Qt::LeftButton);
    QVERIFY(h.window.InfoMode);
    const QImage green = quest->grab().toImage();
    for (const QPoint at : {QPoint(3, green.height() / 2), QPoint(green.width() - 4, 3),
                            QPoint(green.width() / 2, green.height() - 4)})
        QCOMPARE(green.pixelColor(at), QColor(0, 255, 0));

    h.dialogs.Queue({Answer::Ok, Answer::Ok, Answer::Ok});
    auto* combo = static_cast<QComboBox*>(h.Widget("ComboMaterial", 1));
    QTest::mouseClick(combo, Qt::LeftButton);
    QVERIFY(combo->hasFocus());
    QCOMPARE(h.dialogs.Shown().size(), std::size_t{1}); // the focus explained; the click opens nothing
    QVERIFY(!combo->view()->isVisible());
    QTest::mouseClick(combo, Qt::LeftButton);
    QCOMPARE(h.dialogs.Shown().size(), std::size_t{2});
    QVERIFY(!combo->view()->isVisible());
    QTest::keyClick(combo, Qt::Key_Down); // a pick explains once
    QCOMPARE(h.dialogs.Shown().size(), std::size_t{3});
    QCOMPARE(h.dialogs.Shown()[2].text, std::string("Material"));
    QCOMPARE(h.window.BobbinSettings.At(1, 1).BobbinMaterialSym, std::int16_t{2});

    quest->setFocus(Qt::TabFocusReason);
    QTest::mouseClick(quest, Qt::LeftButton);
    QVERIFY(!h.window.InfoMode);
    QCOMPARE(quest->grab().toImage(), face);
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
}

// Tab goes through the page column by column, then ?, OK, Cancel and the
// tabs; Return on a check box does not save.
void WindowTest::keyboardOrderAndReturn() {
    Plant plant;
    test::WriteFile(plant.ProgramIni(), "[Project]\r\nNumberOfMachines=3\r\n[Machine1]\r\nMachineName="
                                        "Alpha\r\nBobbin1=true\r\nBobbin2=true\r\n"
                                        "Bobbin3=true\r\nBobbin4=true\r\n");
    Harness h(plant);
    QVERIFY(h.LoadAndShow());
    std::vector<QWidget*> expected;
    for (const auto& [name, index] : PageFocusOrder())
        expected.push_back(h.Widget(name, index));
    for (const char* name : {"CommandQuest", "CommandOK", "CommandCancel"})
        expected.push_back(h.Widget(name));
    expected.push_back(h.Get<TabStripControl>("TabStripMachine").Bar());
    expected.push_back(expected.front());
    QCOMPARE(QApplication::focusWidget(), expected.front());
    for (std::size_t i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY2(QApplication::focusWidget() == expected[i], std::to_string(i).c_str());
    }
    const std::string before = test::ReadFile(plant.ProgramIni());
    QWidget* blank = h.Widget("CheckBlank", 2);
    blank->setFocus(Qt::TabFocusReason);
    QTest::keyClick(blank, Qt::Key_Return);
    QTest::keyClick(blank, Qt::Key_Enter);
    QVERIFY(!h.events.Ended());
    QVERIFY(h.Get<ButtonControl>("CommandOK").Enabled());
    QCOMPARE(test::ReadFile(plant.ProgramIni()), before);
}

// Every caption fits its place at the screen's scale (the suite runs again at
// scale factors 1.5 and 2); a long machine name is fitted, not cut through.
void WindowTest::captionsFitTheirPlaces() {
    Plant plant;
    const std::string name = "Schlauchbeutelmaschine Linie 12 Nord (Halle B)";
    test::WriteFile(plant.ProgramIni(), "[Project]\r\nNumberOfMachines=3\r\n[Machine1]\r\nMachineName=" +
                                            name + "\r\n[Machine3]\r\nMachineName=Ab\r\n");
    Harness h(plant);
    QVERIFY(h.LoadAndShow());
    auto& machine = h.Get<LabelControl>("LabelMachine");
    QCOMPARE(machine.Caption(), name);
    QCOMPARE(machine.ToolTipText(), name);
    for (const auto& control : h.window.ControlCollection()) {
        QString text;
        int room = 0;
        if (auto* label = qobject_cast<QLabel*>(control->Widget()); label && !label->text().isEmpty()) {
            text = label->text();
            room = label->contentsRect().width();
        } else if (auto* box = qobject_cast<QCheckBox*>(control->Widget()); box && !box->text().isEmpty()) {
            text = box->text();
            room =
                box->width() - (box->sizeHint().width() - QFontMetrics(box->font()).horizontalAdvance(text));
        } else {
            continue;
        }
        const QFontMetrics metrics(control->Widget()->font());
        QVERIFY2(metrics.horizontalAdvance(text) <= room, qPrintable(text));
        QVERIFY2(metrics.height() <= control->Widget()->height(), qPrintable(text));
    }
    h.Get<TabStripControl>("TabStripMachine").SelectTab(2);
    QCOMPARE(machine.Label()->text(), QString("Ab"));
    QCOMPARE(machine.ToolTipText(), std::string());
    QCOMPARE(machine.Label()->font().pointSizeF(), 24.0);
}

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
