// The click handlers of the page and its pictures (Editing.cpp).

#include "WindowFixture.h"

#include <QLabel>
#include <QTest>

#include <filesystem>
#include <optional>

using namespace torvex;
using namespace torvex::windowtest;

class EditingTest : public WindowTestCase {
    Q_OBJECT

private slots:
    void columnSwitchHidesButKeepsValues();
    void comboStoresNumberAndShowsPicture();
    void infoModeExplainsInsteadOfEditing();
    void picturesAndLogInAnyLetterCase_data();
    void picturesAndLogInAnyLetterCase();
};

void EditingTest::columnSwitchHidesButKeepsValues() {
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
    QVERIFY(h.window.BobbinSettings().At(1, 2).Bobbin);
    for (const char* name :
         {"CheckBlank", "CheckTensionArmWithoutSplicePosition", "ComboMaterial", "ComboSymbol",
          "ImageMaterial", "ImageSymbol", "CheckWithoutBobbin", "CheckWithoutTensionArm", "CheckOnlyBlank"})
        QVERIFY2(h.window.Find(name, 2).Visible(), name);
    onlyBlank.UserClick();
    QVERIFY(!h.window.BobbinSettings().At(1, 2).OnlyBlank);
    QCOMPARE(h.Get<CheckBoxControl>("CheckBlank", 2).Value(), 0); // options are independent
    bobbin.UserClick();
    QVERIFY(!onlyBlank.Visible());
    QVERIFY(h.Get<LabelControl>("LabelBob", 2).Visible());
    QCOMPARE(onlyBlank.Value(), 0);
    QVERIFY(!h.window.BobbinSettings().At(1, 2).Bobbin);
}

void EditingTest::comboStoresNumberAndShowsPicture() {
    Plant plant;
    Harness h(plant);
    h.window.Form_Load();
    auto& symbol = h.Get<ComboControl>("ComboSymbol", 3);
    symbol.UserChoose(2);
    QCOMPARE(h.window.BobbinSettings().At(1, 3).BobbinSym, std::int16_t{2});
    QCOMPARE(h.Get<ImageControl>("ImageSymbol", 3).PicturePath(),
             plant.P() + "/Torvex/Torvex_BobbinSymbol_2_800.gif");
    symbol.UserChoose(0);
    QCOMPARE(h.window.BobbinSettings().At(1, 3).BobbinSym, std::int16_t{0});
    QCOMPARE(h.Get<ImageControl>("ImageSymbol", 3).PicturePath(), plant.P() + "/Standard/Empty_800.gif");
    h.Get<ComboControl>("ComboMaterial", 3).UserChoose(3);
    QCOMPARE(h.Get<ImageControl>("ImageMaterial", 3).PicturePath(),
             plant.P() + "/Standard/Material_3_800.gif");
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
}

void EditingTest::infoModeExplainsInsteadOfEditing() {
    Plant plant;
    test::WriteFile(plant.LanguageFile(),
                    "[Language]\r\nLanguage=1031\r\n[1031]\r\nHelp12=Bobine<crlf>vorhanden\r\n"
                    "Help14=Pendel\r\nHelp1=OK\r\nHelp2=Abbruch\r\nHelp15=Material\r\n");
    Harness h(plant);
    h.window.Form_Load();
    auto& quest = h.Get<ButtonControl>("CommandQuest");
    quest.UserClick();
    QVERIFY(h.window.InfoMode());
    QCOMPARE(quest.BackColor(), std::optional<QColor>(QColor(0, 255, 0)));
    QVERIFY(!h.Get<TabStripControl>("TabStripMachine").Enabled());

    h.dialogs.Queue({Answer::Ok});
    auto& bobbin = h.Get<CheckBoxControl>("CheckBobbinOk", 1);
    bobbin.UserClick();
    QCOMPARE(bobbin.Value(), 1);
    QVERIFY(h.window.BobbinSettings().At(1, 1).Bobbin);
    QVERIFY(h.Get<CheckBoxControl>("CheckBlank", 1).Visible());
    QCOMPARE(h.dialogs.Shown().size(), std::size_t{1});
    QCOMPARE(h.dialogs.Shown()[0].text, std::string("Bobine\r\nvorhanden"));
    QCOMPARE(h.dialogs.Shown()[0].title, std::optional<std::string>("Info:"));

    h.dialogs.Queue({Answer::Ok, Answer::Ok, Answer::Ok, Answer::Ok});
    h.Get<CheckBoxControl>("CheckWithoutBobbin", 1).UserClick();
    h.Get<ComboControl>("ComboMaterial", 1).UserChoose(3);
    QCOMPARE(h.window.BobbinSettings().At(1, 1).BobbinMaterialSym, std::int16_t{2});
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
    QVERIFY(!h.window.InfoMode());
    QCOMPARE(quest.BackColor(), std::optional<QColor>());
    QVERIFY(h.Get<TabStripControl>("TabStripMachine").Enabled());
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
}

void EditingTest::picturesAndLogInAnyLetterCase_data() {
    QTest::addColumn<bool>("missing"); // else: every file there, in another letter case
    QTest::newRow("other letter case") << false;
    QTest::newRow("missing and unreadable") << true;
}

// Pictures and the error log are found in any letter case; pictures that
// cannot be loaded are told in one report, and their boxes stay empty.
void EditingTest::picturesAndLogInAnyLetterCase() {
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

QTEST_MAIN(EditingTest)
#include "EditingTest.moc"
