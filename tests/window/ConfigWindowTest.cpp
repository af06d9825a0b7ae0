// The window as built: keyboard order, captions at any scale, the design font
// in message boxes (ConfigWindow.cpp).

#include "WindowFixture.h"

#include "platform/qt/QtDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>

using namespace torvex;
using namespace torvex::windowtest;

namespace {

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

class ConfigWindowTest : public WindowTestCase {
    Q_OBJECT

private slots:
    void keyboardOrderAndReturn();
    void captionsFitTheirPlaces();
    void escapeGivesTheSafeAnswer_data();
    void escapeGivesTheSafeAnswer();
};

// Tab goes through the page column by column, then ?, OK, Cancel and the
// tabs; Return on a check box does not save.
void ConfigWindowTest::keyboardOrderAndReturn() {
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
void ConfigWindowTest::captionsFitTheirPlaces() {
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

void ConfigWindowTest::escapeGivesTheSafeAnswer_data() {
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
void ConfigWindowTest::escapeGivesTheSafeAnswer() {
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

QTEST_MAIN(ConfigWindowTest)
#include "ConfigWindowTest.moc"
