// Cancel on each page: the run's error becomes 1, threads stop, ports are released; once Cancel is
// hidden, neither the button, Escape nor closing the window cancels.
#include <QTest>
#include <QTreeWidget>

#include "ravelin/wizard/detection_page.h"
#include "ravelin/wizard/developers_page.h"
#include "ravelin/wizard/model_page.h"
#include "ravelin/wizard/progress_page.h"
#include "wizard_test_support.h"
#include "wizard_tests.h"

using wiztest::click;
using wiztest::shownButtons;

namespace {

void startOrdinary(wiztest::WizardEnv &env)
{
    env.addLoaderDevice(1, "PL1400", "1.05", "GERMANY");
    env.addLoaderDevice(2, "PL3360", "2.31", "GERMANY");
    env.closeUnusedPorts();
    env.writeImage("PADE105.HEX", 1);
    env.start({});
}

} // namespace

void CancelTest::cancelWhileIdentifying()
{
    wiztest::WizardEnv env;
    startOrdinary(env);
    wiztest::IdentifyGate::close();
    CWizard &sheet = env.createWizard();
    sheet.DetectionPage()->SetIdentifyBody(wiztest::IdentifyGate::body);
    sheet.show();
    QVERIFY(sheet.DetectionPage()->Identifying());
    QCOMPARE(shownButtons(sheet), std::string("Back(off) Finish(off) Cancel"));

    wiztest::pressEscape(sheet);
    QVERIFY(!sheet.isVisible());
    QCOMPARE(flsh_RunGetError(&env.app().Run()), flsh_kRunCancelled);
    QVERIFY(flsh_IsCancelled());
    QVERIFY(!sheet.DetectionPage()->Identifying());

    // Identification does not stop on the flag: its threads go on to their own end, and the program
    // waits for them before it ends, so that every port is released.
    wiztest::IdentifyGate::open();
    QCOMPARE(env.end(), flsh_kRunCancelled);
    for (int n = 0; n < 36; ++n) QVERIFY(env.app().Run().devices[n]->pUpdate->nResult != FR_NONE);
    QVERIFY(env.device(1).state().commands().size() > 0);
    QVERIFY(env.portsReleased());
}

void CancelTest::cancelOnIdentifiedDetectionPage()
{
    wiztest::WizardEnv env;
    startOrdinary(env);
    CWizard &sheet = env.showWizard();
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.DetectionPage()->Identifying(), 30000);
    QCOMPARE(shownButtons(sheet), std::string("Back(off) Next Cancel"));
    click(sheet, QWizard::CancelButton);
    QVERIFY(!sheet.isVisible());
    QCOMPARE(flsh_RunGetError(&env.app().Run()), flsh_kRunCancelled);
    QVERIFY(flsh_IsCancelled());
    QCOMPARE(env.end(), flsh_kRunCancelled);
    QVERIFY(env.portsReleased());
}

void CancelTest::cancelOnModelPage()
{
    wiztest::WizardEnv env;
    startOrdinary(env);
    CWizard &sheet = env.showWizard();
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.DetectionPage()->Identifying(), 30000);
    wiztest::selectRows(sheet.DetectionPage()->TypeList(), {0});
    click(sheet, QWizard::NextButton);
    QCOMPARE(sheet.currentPage(), sheet.ModelPage());
    wiztest::pressEscape(sheet);
    QVERIFY(!sheet.isVisible());
    QCOMPARE(env.end(), flsh_kRunCancelled);
    QCOMPARE(env.device(1).state().flash.extent(), 0u);
    QVERIFY(env.portsReleased());
}

void CancelTest::cancelOnDevelopersPage()
{
    wiztest::WizardEnv env;
    env.closeUnusedPorts();
    env.start({"-V"});
    CWizard &sheet = env.showWizard();
    QCOMPARE(sheet.currentPage(), sheet.DevelopersPage());
    click(sheet, QWizard::CancelButton);
    QVERIFY(!sheet.isVisible());
    QCOMPARE(env.end(), flsh_kRunCancelled);
}

void CancelTest::noCancelOnceTheUpdateRuns()
{
    wiztest::WizardEnv env;
    modemsim::Device &device = env.addLoaderDevice(3, "PL1400", "1.05", "GERMANY");
    std::string image = env.writeImage("PADE105.HEX", 6);
    env.start({"-P", "COM3", "-F", image, "-M", "PL1400"});
    CWizard &sheet = env.showWizard();
    QVERIFY(sheet.CancelHidden());
    // Escape, the hidden button's command and closing the window are all swallowed, flashing or not.
    wiztest::pressEscape(sheet);
    sheet.reject();
    sheet.close();
    QVERIFY(sheet.isVisible());
    QCOMPARE(flsh_RunGetError(&env.app().Run()), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.ProgressPage()->Following(), 60000);
    wiztest::pressEscape(sheet);
    QVERIFY(sheet.isVisible());
    QVERIFY(!flsh_IsCancelled());
    QVERIFY(env.holdsImage(3, 6));
    click(sheet, QWizard::FinishButton);
    QCOMPARE(env.end(), 0);
    QVERIFY(device.waitForHostOpens(0, 10000));
}
