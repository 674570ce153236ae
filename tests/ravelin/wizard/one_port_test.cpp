// The one-port page set: the port, image and model from the command line, no identification.
#include <QTest>
#include <QTreeWidget>

#include "ravelin/wizard/progress_page.h"
#include "ravelin/wizard/status_page.h"
#include "wizard_test_support.h"
#include "wizard_tests.h"

using wiztest::click;
using wiztest::shownButtons;

void OnePortTest::portFromCommandLineUpdatedWithoutIdentification()
{
    wiztest::WizardEnv env;
    env.addLoaderDevice(3, "PL1400", "1.05", "GERMANY");
    std::string image = env.writeImage("PADE106.HEX", 5);
    env.start({"/P", "COM3", "/F", image, "/M", "pl1400", "/S"});
    CWizard &sheet = env.showWizard();
    QCOMPARE(sheet.currentPage(), sheet.ProgressPage());
    QCOMPARE(shownButtons(sheet), std::string("Back(off) Finish(off)"));
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.ProgressPage()->Following(), 60000);
    QCOMPARE(sheet.ProgressPage()->StatusText(), std::string("Programming Complete"));
    click(sheet, QWizard::NextButton);
    QCOMPARE(wiztest::rows(sheet.StatusPage()->ResultList()), std::vector<std::string>{"COM3|PL1400|Successful"});
    QCOMPARE(sheet.StatusPage()->SummaryText(), std::string("1 of 1 devices were updated successfully"));
    QVERIFY(env.holdsImage(3, 5));
    // Identification's opening commands never came.
    for (const std::string &command : env.device(3).state().commands())
        QVERIFY2(command != "ATI" && command != "ATE1V1Q0" && command != "AT+WOPEN=1", command.c_str());
    click(sheet, QWizard::FinishButton);
    QCOMPARE(env.end(), 0);
    QVERIFY(env.portsReleased());
}

void OnePortTest::failedDeviceIsNoSuccess()
{
    wiztest::WizardEnv env;
    env.addLoaderDevice(3, "PL1400", "1.05", "GERMANY");
    // Without the status page switch the wizard ends on the progress page.
    env.start({"/P", "COM3", "/F", env.file("ABSENT.HEX"), "/M", "PL1400"});
    CWizard &sheet = env.showWizard();
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.ProgressPage()->Following(), 60000);
    QCOMPARE(shownButtons(sheet), std::string("Back(off) Finish"));
    QCOMPARE(flsh_RunResult(&env.app().Run(), 0), static_cast<int>(FR_HEX_OPEN_FAILED));
    click(sheet, QWizard::FinishButton);
    QCOMPARE(env.end(), wiz_kDeviceFailedExit);
}
