// The controls over Qt (Controls.cpp, Widgets.cpp).

#include "WindowFixture.h"

#include "platform/Failure.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QImage>
#include <QTest>

#include <optional>

using namespace torvex;
using namespace torvex::windowtest;

class ControlsTest : public WindowTestCase {
    Q_OBJECT

private slots:
    void controlsRaiseClickOnlyOnChange();
    void infoModeFaceAndCombos();
};

void ControlsTest::controlsRaiseClickOnlyOnChange() {
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

// Info mode paints ? pure green, flat, and gives the style's own face back;
// a click on a combo explains it once and opens no list.
void ControlsTest::infoModeFaceAndCombos() {
    Plant plant;
    test::WriteFile(plant.LanguageFile(), "[Language]\r\nLanguage=1031\r\n[1031]\r\nHelp15=Material\r\n");
    Harness h(plant);
    QVERIFY(h.LoadAndShow());
    QWidget* quest = h.Widget("CommandQuest");
    quest->setFocus(Qt::TabFocusReason);
    const QImage face = quest->grab().toImage();
    QTest::mouseClick(quest, Qt::LeftButton);
    QVERIFY(h.window.InfoMode());
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
    QCOMPARE(h.window.BobbinSettings().At(1, 1).BobbinMaterialSym, std::int16_t{2});

    quest->setFocus(Qt::TabFocusReason);
    QTest::mouseClick(quest, Qt::LeftButton);
    QVERIFY(!h.window.InfoMode());
    QCOMPARE(quest->grab().toImage(), face);
    QCOMPARE(h.dialogs.UnexpectedCount(), 0);
}

QTEST_MAIN(ControlsTest)
#include "ControlsTest.moc"
