// The language file: captions, tool tips and info texts (Language.cpp).

#include "WindowFixture.h"

#include <QTest>

using namespace torvex;
using namespace torvex::windowtest;

class LanguageTest : public WindowTestCase {
    Q_OBJECT

private slots:
    void languageFileIsSeeded();
    void languageFileTranslates();
};

void LanguageTest::languageFileIsSeeded() {
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

void LanguageTest::languageFileTranslates() {
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

QTEST_MAIN(LanguageTest)
#include "LanguageTest.moc"
