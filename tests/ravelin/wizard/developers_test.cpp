// The developers page set: Flash.ini's defaults, the page's three checks, the update of the ports
// named by hand, Flash.ini written, and read back by the next start.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include <unistd.h>

#include "ravelin/support/ospfl.h"
#include "ravelin/wizard/developers_page.h"
#include "ravelin/wizard/progress_page.h"
#include "ravelin/wizard/status_page.h"
#include "wizard_test_support.h"
#include "wizard_tests.h"

using wiztest::click;
using wiztest::shownButtons;

namespace {

QStringList selectedPorts(QListWidget *pList)
{
    QStringList names;
    for (int i = 0; i < pList->count(); ++i)
        if (pList->item(i)->isSelected()) names << pList->item(i)->text();
    return names;
}

void selectPorts(QListWidget *pList, const QStringList &names)
{
    pList->clearSelection();
    for (int i = 0; i < pList->count(); ++i)
        if (names.contains(pList->item(i)->text())) pList->item(i)->setSelected(true);
}

std::string iniValue(const std::string &path, const char *pszEntry)
{
    char szValue[160] = "";
    os_GetPPS("Flash", pszEntry, "<missing>", szValue, sizeof szValue, path.c_str());
    os_FreeReadProfile(path.c_str());
    return szValue;
}

} // namespace

void DevelopersTest::flashIniWrittenUsedAndReadBack()
{
    wiztest::WizardEnv env;
    env.addLoaderDevice(2, "PL1400", "1.05", "GERMANY");
    env.addLoaderDevice(5, "PL1400", "1.05", "GERMANY");
    env.closeUnusedPorts();
    std::string image = env.writeImage("NEWCODE.HEX", 4);
    std::string ini = env.file("Flash.ini");
    QVERIFY(!flashtest::fileExists(ini));

    env.start({"-V", "-S"});
    CWizard &sheet = env.showWizard();
    CDevelopersPage *pPage = sheet.DevelopersPage();
    QCOMPARE(sheet.currentPage(), pPage);
    QVERIFY(wiztest::pictureOnLeft(pPage));
    QCOMPARE(shownButtons(sheet), std::string("Back(off) Next Cancel"));
    QCOMPARE(pPage->Instructions()->text(), QString("To update devices, complete the following:\n"
                                                    "  1.  Specify the .hex file to progam.\n"
                                                    "  2.  To update boot code, check the box.\n"
                                                    "  3.  Select the COM Port(s) to update.\n"
                                                    "  4.  Select the baud rate for the update."));
    // First start: the defaults, and an empty Flash.ini now exists.
    QVERIFY(flashtest::fileExists(ini));
    QCOMPARE(pPage->SpeedList()->currentText(), QString("115200"));
    QCOMPARE(pPage->DeviceTypeList()->currentIndex(), -1);   // the sample catalogue has no KX-TA1
    QCOMPARE(pPage->PortList()->count(), 36);
    QCOMPARE(selectedPorts(pPage->PortList()), QStringList{"COM1"});
    QCOMPARE(pPage->HexFileEdit()->text(), QString());
    QVERIFY(pPage->CombinedBox()->isHidden());
    QVERIFY(!pPage->BootCodeBox()->isChecked());

    struct Check {
        QStringList ports;
        std::string hexFile;
        std::string message;
    };
    const Check checks[] = {
        {{"COM1"}, "", "ERROR: You must specify a .hex file."},
        {{}, image, "ERROR: You must select at least one communications port."},
        {{"COM2"}, env.dir(), "ERROR: Unable to open " + env.dir() + ".\n\tPlease specify again."},
        {{"COM2"}, env.file("MISSING.HEX"),
         "ERROR: Unable to open " + env.file("MISSING.HEX") + ".\n\tPlease specify again."},
        {{"COM2"}, image, "ERROR: You must select a device type."},
    };
    for (const Check &check : checks) {
        env.boxes.Clear();
        selectPorts(pPage->PortList(), check.ports);
        pPage->HexFileEdit()->setText(QString::fromStdString(check.hexFile));
        click(sheet, QWizard::NextButton);
        QCOMPARE(env.boxes.Texts(), std::vector<std::string>{check.message});
        QCOMPARE(sheet.currentPage(), pPage);
        QCOMPARE(iniValue(ini, "NumPorts"), std::string("<missing>"));
    }

    env.boxes.Clear();
    selectPorts(pPage->PortList(), {"COM2", "COM5"});
    pPage->DeviceTypeList()->setCurrentText("PL1400");
    pPage->HexFileEdit()->setText(QString::fromStdString(image));
    click(sheet, QWizard::NextButton);
    QVERIFY(env.boxes.Texts().empty());
    QCOMPARE(sheet.currentPage(), sheet.ProgressPage());
    // Only the chosen ports stay in the run.
    QCOMPARE(static_cast<int>(env.app().Run().devices.size()), 2);

    QCOMPARE(iniValue(ini, "HexFile"), image);
    QCOMPARE(iniValue(ini, "BootCode"), std::string("0"));
    QCOMPARE(iniValue(ini, "Baud Rate"), std::string("115200"));
    QCOMPARE(iniValue(ini, "Model"), std::string("PL1400"));
    QCOMPARE(iniValue(ini, "NumPorts"), std::string("2"));
    QCOMPARE(iniValue(ini, "Port1"), std::string("COM2"));
    QCOMPARE(iniValue(ini, "Port2"), std::string("COM5"));

    QTRY_VERIFY_WITH_TIMEOUT(!sheet.ProgressPage()->Following(), 60000);
    click(sheet, QWizard::NextButton);
    QCOMPARE(sheet.currentPage(), sheet.StatusPage());
    QCOMPARE(wiztest::rows(sheet.StatusPage()->ResultList()),
             (std::vector<std::string>{"COM2|PL1400|Successful", "COM5|PL1400|Successful"}));
    QCOMPARE(sheet.StatusPage()->SummaryText(), std::string("2 of 2 devices were updated successfully"));
    QVERIFY(env.holdsImage(2, 4));
    QVERIFY(env.holdsImage(5, 4));
    click(sheet, QWizard::FinishButton);
    QCOMPARE(env.end(), 0);

    // Read back by the next start. A stored port that is not listed selects nothing.
    os_WritePPS("Flash", "NumPorts", "3", ini.c_str());
    os_WritePPS("Flash", "Port3", "COM99", ini.c_str());
    os_FreeReadProfile(ini.c_str());
    env.start({"-V", "-C"});
    CWizard &again = env.showWizard();
    CDevelopersPage *pAgain = again.DevelopersPage();
    QCOMPARE(selectedPorts(pAgain->PortList()), (QStringList{"COM2", "COM5"}));
    QCOMPARE(pAgain->DeviceTypeList()->currentText(), QString("PL1400"));
    QCOMPARE(pAgain->SpeedList()->currentText(), QString("115200"));
    QCOMPARE(pAgain->HexFileEdit()->text(), QString::fromStdString(image));
    // The after-flash switch shows the combined-file box, checked; the boot code is never restored.
    QVERIFY(pAgain->CombinedBox()->isVisible());
    QVERIFY(pAgain->CombinedBox()->isChecked());
    QVERIFY(!pAgain->BootCodeBox()->isChecked());
    wiztest::pressEscape(again);
    QVERIFY(!again.isVisible());
    QCOMPARE(env.end(), flsh_kRunCancelled);
    QVERIFY(env.portsReleased());
}

// Flash.ini beside the program is a link to a place that cannot take it: the user is told which
// file and why, and the update goes on, since the settings only preset the page next time.
void DevelopersTest::flashIniThatCannotBeWrittenIsReported()
{
    wiztest::WizardEnv env;
    env.addLoaderDevice(2, "PL1400", "1.05", "GERMANY");
    env.closeUnusedPorts();
    std::string image = env.writeImage("NEWCODE.HEX", 4);
    const std::string unwritable = env.file("gone/Flash.ini");
    QCOMPARE(::symlink(unwritable.c_str(), env.file("Flash.ini").c_str()), 0);

    env.start({"-V", "-S"});
    CWizard &sheet = env.showWizard();
    CDevelopersPage *pPage = sheet.DevelopersPage();
    QCOMPARE(sheet.currentPage(), pPage);
    env.boxes.Clear();
    selectPorts(pPage->PortList(), {"COM2"});
    pPage->DeviceTypeList()->setCurrentText("PL1400");
    pPage->HexFileEdit()->setText(QString::fromStdString(image));
    click(sheet, QWizard::NextButton);
    QCOMPARE(env.boxes.Texts(),
             std::vector<std::string>{"The settings could not be saved in Flash.ini: cannot write " + unwritable +
                                      ": No such file or directory."});
    QCOMPARE(sheet.currentPage(), sheet.ProgressPage());

    QTRY_VERIFY_WITH_TIMEOUT(!sheet.ProgressPage()->Following(), 60000);
    click(sheet, QWizard::NextButton);
    QCOMPARE(wiztest::rows(sheet.StatusPage()->ResultList()), (std::vector<std::string>{"COM2|PL1400|Successful"}));
    click(sheet, QWizard::FinishButton);
    QCOMPARE(env.end(), 0);
    QVERIFY(env.holdsImage(2, 4));
}

// A FLASH.INI copied from another system is the page's file, found as the catalogues are: read on
// activation and written on Next, and no second Flash.ini appears beside it.
void DevelopersTest::flashIniFoundWithoutRegardToCase()
{
    wiztest::WizardEnv env;
    env.closeUnusedPorts();
    std::string image = env.writeImage("NEWCODE.HEX", 4);
    const std::string copied = env.file("FLASH.INI");
    flashtest::writeFile(copied, "[Flash]\r\nBaud Rate=57600\r\nModel=PL1400\r\nNumPorts=1\r\nPort1=COM7\r\n"
                                 "HexFile=" + image + "\r\n");

    env.start({"-V"});
    CWizard &sheet = env.showWizard();
    CDevelopersPage *pPage = sheet.DevelopersPage();
    QCOMPARE(sheet.currentPage(), pPage);
    QCOMPARE(pPage->SpeedList()->currentText(), QString("57600"));
    QCOMPARE(pPage->DeviceTypeList()->currentText(), QString("PL1400"));
    QCOMPARE(selectedPorts(pPage->PortList()), QStringList{"COM7"});
    QCOMPARE(pPage->HexFileEdit()->text(), QString::fromStdString(image));
    QVERIFY(!flashtest::fileExists(env.file("Flash.ini")));

    // COM7 leads nowhere: the update ends at once, the settings are written all the same.
    selectPorts(pPage->PortList(), {"COM7", "COM9"});
    pPage->SpeedList()->setCurrentText("19200");
    click(sheet, QWizard::NextButton);
    QCOMPARE(sheet.currentPage(), sheet.ProgressPage());
    QCOMPARE(iniValue(copied, "Baud Rate"), std::string("19200"));
    QCOMPARE(iniValue(copied, "NumPorts"), std::string("2"));
    QCOMPARE(iniValue(copied, "Port2"), std::string("COM9"));
    QVERIFY(!flashtest::fileExists(env.file("Flash.ini")));
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.ProgressPage()->Following(), 60000);
    click(sheet, QWizard::FinishButton);
    QCOMPARE(env.end(), wiz_kDeviceFailedExit);
}
