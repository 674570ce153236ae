// The detection page's fatal ends: each shows its message on the page, hides Cancel, leaves only
// Finish, and the message's code is the program's exit code.
#include <QTest>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <thread>

#include "ravelin/catalogue/catalogue.h"

#include "ravelin/wizard/detection_page.h"
#include "wizard_test_support.h"
#include "wizard_tests.h"

using wiztest::shownButtons;

namespace {

// The page ended in a fatal state with this message; Cancel and Escape no longer end the wizard.
void checkFatalEnd(wiztest::WizardEnv &env, CWizard &sheet, const char *pszMessage, int nCode)
{
    QCOMPARE(sheet.DetectionPage()->StatusText(), std::string(pszMessage));
    QCOMPARE(shownButtons(sheet), std::string("Back(off) Finish"));
    QVERIFY(sheet.CancelHidden());
    QCOMPARE(sheet.DetectionPage()->TypeList()->topLevelItemCount(), 0);
    wiztest::pressEscape(sheet);
    QVERIFY(sheet.isVisible());
    QCOMPARE(flsh_RunGetError(&env.app().Run()), nCode);
    wiztest::click(sheet, QWizard::FinishButton);
    QVERIFY(!sheet.isVisible());
    QCOMPARE(env.end(), nCode);
}

// An identification held at the gate, which reads the catalogue once it is let go, as
// identification does for the model names, and notes what it found.
std::atomic<bool> g_bHeldIdentificationEnded{false};
std::atomic<bool> g_bCatalogueThere{false};

int heldIdentifyReadingCatalogue(DeviceUpdate *pUpdate)
{
    int nResult = wiztest::IdentifyGate::body(pUpdate);
    g_bCatalogueThere.store(cat_Count() > 0);
    g_bHeldIdentificationEnded.store(true);
    return nResult;
}

} // namespace

void DetectionErrorTest::noImages()
{
    wiztest::WizardEnv env;
    env.addLoaderDevice(1, "PL1400", "1.05", "GERMANY");
    env.closeUnusedPorts();
    env.start({});
    CWizard &sheet = env.showWizard();
    // Nothing to identify for: no device is touched.
    QVERIFY(!sheet.DetectionPage()->Identifying());
    checkFatalEnd(env, sheet, "ERROR: No Hex Files Available for Update", flsh_kRunNoHexFiles);
    QVERIFY(env.device(1).state().commands().empty());
}

void DetectionErrorTest::noDevices()
{
    wiztest::WizardEnv env;
    env.closeUnusedPorts();
    env.writeImage("PADE105.HEX", 1);
    env.start({});
    CWizard &sheet = env.showWizard();
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.DetectionPage()->Identifying(), 30000);
    QVERIFY(env.boxes.Texts().empty());
    checkFatalEnd(env, sheet, "ERROR: No valid devices detected", flsh_kRunNoDevices);
}

void DetectionErrorTest::identificationTimeOut()
{
    wiztest::WizardEnv env;
    env.addLoaderDevice(1, "PL1400", "1.05", "GERMANY");
    env.closeUnusedPorts();
    env.writeImage("PADE105.HEX", 1);
    env.start({});
    // Every identification is held until the page has stopped waiting.
    wiztest::IdentifyGate::close();
    CWizard &sheet = env.createWizard();
    sheet.DetectionPage()->SetIdentifyBody(wiztest::IdentifyGate::body);
    sheet.show();
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.DetectionPage()->Identifying(), 30000);
    // The devices still identifying were taken out of the run; their threads still hold them.
    QVERIFY(env.app().Run().devices.empty());
    wiztest::IdentifyGate::open();
    checkFatalEnd(env, sheet, "ERROR: Timeout attempting to identify devices!!", flsh_kRunIdentifyTimeout);
    // The thread that outlived its place in the run still identifies with its record, then lets go.
    QVERIFY(env.device(1).waitForCommands(1, 10000));
    QVERIFY(env.device(1).waitForHostOpens(0, 10000));
}

// The time-out drops the devices still identifying from the run, but their threads go on reading
// the catalogue: the program's end waits for them before it frees it.
void DetectionErrorTest::endWaitsForIdentificationTheTimeOutDropped()
{
    wiztest::WizardEnv env;
    env.addLoaderDevice(1, "PL1400", "1.05", "GERMANY");
    env.closeUnusedPorts();
    env.writeImage("PADE105.HEX", 1);
    env.start({});
    wiztest::IdentifyGate::close();
    g_bHeldIdentificationEnded.store(false);
    g_bCatalogueThere.store(false);
    CWizard &sheet = env.createWizard();
    sheet.DetectionPage()->SetIdentifyBody(heldIdentifyReadingCatalogue);
    sheet.show();
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.DetectionPage()->Identifying(), 30000);
    QVERIFY(env.app().Run().devices.empty());
    QCOMPARE(sheet.DetectionPage()->StatusText(), std::string("ERROR: Timeout attempting to identify devices!!"));
    wiztest::click(sheet, QWizard::FinishButton);
    QVERIFY(!sheet.isVisible());

    // The gate opens only once the end is under way; without the wait the catalogue would be gone
    // (or the end over) before the threads read it.
    std::thread opener([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        wiztest::IdentifyGate::open();
    });
    int nExit = env.end();
    bool bEndedBeforeEnd = g_bHeldIdentificationEnded.load();
    opener.join();
    QCOMPARE(nExit, flsh_kRunIdentifyTimeout);
    QVERIFY2(bEndedBeforeEnd, "the end did not wait for the dropped identification threads");
    QVERIFY(g_bCatalogueThere.load());
    QVERIFY(env.portsReleased());
}
