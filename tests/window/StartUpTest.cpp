// Loading the window and switching between machines (StartUp.cpp).

#include "WindowFixture.h"

#include <QApplication>
#include <QTabBar>
#include <QTest>

using namespace torvex;
using namespace torvex::windowtest;

namespace {

// Every field of one machine's settings, as text to compare.
std::string SettingsText(window::ConfigWindow& w, std::size_t m) {
    std::string text = w.BobbinSettings().Machine(m).NoBobbinChanger ? "N" : "n";
    for (std::size_t c = 1; c <= 4; ++c) {
        const window::BobbinColumn& col = w.BobbinSettings().At(m, c);
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

} // namespace

class StartUpTest : public WindowTestCase {
    Q_OBJECT

private slots:
    void tabsOnlyForEnabledMachines();
    void tabChangeShowsTheMachine();
    void tabSwitchStoresNothing_data();
    void tabSwitchStoresNothing();
    void numberNotOfferedStaysStored();
};

void StartUpTest::tabsOnlyForEnabledMachines() {
    Plant plant;
    Harness h(plant);
    h.window.Form_Load();
    auto& tabs = h.Get<TabStripControl>("TabStripMachine");
    QCOMPARE(tabs.TabCount(), 2);
    QCOMPARE(tabs.Bar()->tabText(0), QString("Alpha"));
    QCOMPARE(tabs.Bar()->tabText(1), QString("Gamma"));
    QCOMPARE(h.window.TabMachine()[1], std::int16_t{1});
    QCOMPARE(h.window.TabMachine()[2], std::int16_t{3});
    QCOMPARE(h.window.windowTitle(), QString("Erweiterte Konfiguration Torvex - standalone"));
    QVERIFY(h.Get<ButtonControl>("CommandOK").Enabled());
    QCOMPARE(h.Get<ComboControl>("ComboMaterial", 1).ListCount(), 4);
    QCOMPARE(h.Get<ComboControl>("ComboSymbol", 4).ListCount(), 3);
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
}

void StartUpTest::tabChangeShowsTheMachine() {
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
    QCOMPARE(h.window.BobbinSettings().At(3, 3).BobbinSym, std::int16_t{0}); // -5 reads as 0
    QCOMPARE(h.window.BobbinSettings().At(1, 2).OnlyBlank, true);
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
}

void StartUpTest::tabSwitchStoresNothing_data() {
    QTest::addColumn<int>("columnsOn"); // of the second machine; the first has all four
    QTest::addColumn<bool>("byMouse");  // a click on the tab, or the tab selected by code
    for (int on = 1; on <= 4; ++on) {
        QTest::addRow("%d on, click", on) << on << true;
        QTest::addRow("%d on, code", on) << on << false;
    }
}

// Whichever control of the page has the focus, a tab switch changes no stored
// value, and afterwards every control shows the new machine's value.
void StartUpTest::tabSwitchStoresNothing() {
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
                QCOMPARE(RowsShown(h, c),
                         h.window.BobbinSettings().At(m, static_cast<std::size_t>(c)).Bobbin);
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
void StartUpTest::numberNotOfferedStaysStored() {
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
    QCOMPARE(h.window.BobbinSettings().At(3, 1).BobbinMaterialSym, std::int16_t{9});
    QCOMPARE(h.window.BobbinSettings().At(1, 1).BobbinMaterialSym, std::int16_t{2});
    QCOMPARE(h.dialogs.Shown().size(), std::size_t{1});
}

QTEST_MAIN(StartUpTest)
#include "StartUpTest.moc"
