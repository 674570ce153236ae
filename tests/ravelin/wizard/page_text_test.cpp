// The texts the model page builds for its rows, the picture, and the developers page's device types.
#include <QComboBox>
#include <QImage>
#include <QPainter>
#include <QSet>
#include <QTest>

#include <cstring>

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/wizard/developers_page.h"
#include "ravelin/wizard/model_page.h"
#include "ravelin/wizard/wizard.h"
#include "ravelin/wizard/wizard_picture.h"
#include "wizard_test_support.h"
#include "wizard_tests.h"

void PageTextTest::deviceVersionColumn_data()
{
    QTest::addColumn<QString>("version");   // the record's text, trailing blank included
    QTest::addColumn<QString>("part2");
    QTest::addColumn<QString>("part3");
    QTest::addColumn<QString>("shown");
    QTest::newRow("no further parts") << "1.05 " << "" << "" << "1.05";
    QTest::newRow("suffix letter kept") << "2.31A" << "" << "" << "2.31A";
    QTest::newRow("suffix ABC-DEF") << "1.05 " << "ABC" << "-DEF" << "1.05  ABC-DEF";
    QTest::newRow("only one blank removed") << "1.05  " << "K7" << "-X" << "1.05   K7-X";
}

void PageTextTest::deviceVersionColumn()
{
    QFETCH(QString, version);
    QFETCH(QString, part2);
    QFETCH(QString, part3);
    QFETCH(QString, shown);
    RunDevice device;
    std::strcpy(device.version.szText, version.toLatin1().constData());
    std::strcpy(device.szVersionPart2, part2.toLatin1().constData());
    std::strcpy(device.szVersionPart3, part3.toLatin1().constData());
    QCOMPARE(QString::fromStdString(wiz_DeviceVersionText(device)), shown);
}

void PageTextTest::imageRow_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("part1");
    QTest::addColumn<QString>("part2");
    QTest::addColumn<QString>("shown");
    QTest::newRow("short name, no parts") << "DE" << "" << "" << "Germany   1.05";
    QTest::newRow("long name, no parts: whole") << "GB" << "" << "" << "United Kingdom   1.05";
    QTest::newRow("long name with parts: cut") << "GB" << "ABC" << "DEF" << "United Kin..   1.05  ABC-DEF";
    QTest::newRow("short name with parts") << "DE" << "X1" << "Y2" << "Germany   1.05  X1-Y2";
}

void PageTextTest::imageRow()
{
    QFETCH(QString, code);
    QFETCH(QString, part1);
    QFETCH(QString, part2);
    QFETCH(QString, shown);
    ImageEntry image;
    QVERIFY(image.country.SetFromFileCode(code.toLatin1().constData()));
    std::strcpy(image.version.szText, "1.05 ");
    std::strcpy(image.szPart1, part1.toLatin1().constData());
    std::strcpy(image.szPart2, part2.toLatin1().constData());
    QCOMPARE(QString::fromStdString(wiz_ImageRowText(image)), shown);
}

void PageTextTest::pictureIsDrawn()
{
    // Any size is filled: a tall and a wide area both get the whole drawing, not a blank band.
    for (QSize size : {QSize(300, 260), QSize(420, 180)}) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::magenta);
        QPainter painter(&image);
        wiz_DrawPicture(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
        painter.end();
        QSet<QRgb> colours;
        for (int y = 0; y < size.height(); y += 3)
            for (int x = 0; x < size.width(); x += 3) colours.insert(image.pixel(x, y));
        QVERIFY(!colours.contains(QColor(Qt::magenta).rgb()));
        QVERIFY2(colours.size() > 50, "a drawing, not a plain fill");
    }
}

void PageTextTest::deviceTypesListEachNameOnce()
{
    wiztest::WizardEnv env;
    env.closeUnusedPorts();
    env.start({"-V"});
    // A catalogue that lists one name on consecutive entries, in two spellings.
    std::vector<ModelEntry> entries(4);
    const char *names[] = {"PL1400", "pl1400", "KX-TA1", "PL3360"};
    for (int i = 0; i < 4; ++i) {
        entries[i].nModelId = i + 1;
        std::strcpy(entries[i].szName, names[i]);
        std::strcpy(entries[i].szImagePrefix, "PA");
    }
    cat_Install(entries);
    CWizard &sheet = env.showWizard();
    QComboBox *pTypes = sheet.DevelopersPage()->DeviceTypeList();
    QStringList shown;
    for (int i = 0; i < pTypes->count(); ++i) shown << pTypes->itemText(i);
    QCOMPARE(shown, (QStringList{"KX-TA1", "PL1400", "PL3360"}));
    // Without Flash.ini the type "KX-TA1" is chosen when the catalogue has it.
    QCOMPARE(pTypes->currentText(), QString("KX-TA1"));
    QCOMPARE(env.end(), flsh_kRunCancelled);
}
