// The progress page's device list: one row per device being updated, with its port, model, status
// text, percentage and, once it has one, its result; refreshed by the page's poll while the bar
// still follows the slowest device.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QTest>
#include <QTreeWidget>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "ravelin/wizard/developers_page.h"
#include "ravelin/wizard/progress_page.h"
#include "wizard_test_support.h"
#include "wizard_tests.h"

using wiztest::click;

namespace {

// What each device's flash thread reports before it waits, and the result it ends with.
struct DeviceScript {
    const char *pszPort;
    int nStatus;
    std::int32_t nValue;
    int nResult;
};
const DeviceScript kScripts[] = {
    {"COM2", flsh_cProgramming, 40, FR_SUCCESSFUL},
    {"COM5", flsh_cHandshaking, 20, FR_HANDSHAKE_FAILURE},
    {"COM7", flsh_cRestoreDefaults, 0, FR_SUCCESSFUL},
    {"COM9", flsh_cProgramming, 70, FR_TIMEOUT},
};

std::mutex g_mutex;
std::condition_variable g_changed;
bool g_bGateOpen = false;
int g_nReported = 0;

const DeviceScript *scriptFor(const DeviceUpdate *pUpdate)
{
    for (const DeviceScript &script : kScripts)
        if (std::strcmp(flsh_PortDisplayName(pUpdate), script.pszPort) == 0) return &script;
    return nullptr;
}

// Reports the script's status, waits for the gate, ends with the script's result.
int scriptedFlash(DeviceUpdate *pUpdate)
{
    const DeviceScript *pScript = scriptFor(pUpdate);
    if (pScript == nullptr) {
        pUpdate->nResult = FR_PORT_OPEN_FAILED;
        return 0;
    }
    flsh_ProgressCallback(pUpdate, pScript->nStatus, pScript->nValue, 0);
    std::unique_lock<std::mutex> lock(g_mutex);
    ++g_nReported;
    g_changed.notify_all();
    g_changed.wait(lock, [] { return g_bGateOpen; });
    pUpdate->nResult = pScript->nResult;
    return 0;
}

bool allReported()
{
    std::unique_lock<std::mutex> lock(g_mutex);
    return g_changed.wait_for(lock, std::chrono::seconds(20),
                              [] { return g_nReported == static_cast<int>(std::size(kScripts)); });
}

void openGate()
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_bGateOpen = true;
    }
    g_changed.notify_all();
}

// Lets the threads go when the test ends early, before the environment goes.
struct GateOpener {
    ~GateOpener() { openGate(); }
};

} // namespace

void ProgressListTest::everyDeviceHasItsRow()
{
    wiztest::WizardEnv env;
    GateOpener opener;
    env.closeUnusedPorts();
    std::string image = env.writeImage("NEWCODE.HEX", 4);
    g_bGateOpen = false;
    g_nReported = 0;
    env.start({"-V", "-S"});
    CWizard &sheet = env.showWizard();
    CDevelopersPage *pPage = sheet.DevelopersPage();
    pPage->PortList()->clearSelection();
    for (const DeviceScript &script : kScripts)
        pPage->PortList()->findItems(script.pszPort, Qt::MatchExactly).front()->setSelected(true);
    pPage->DeviceTypeList()->setCurrentText("PL1400");
    pPage->HexFileEdit()->setText(QString::fromStdString(image));
    CProgressPage *pProgress = sheet.ProgressPage();
    pProgress->SetFlashBody(scriptedFlash);
    click(sheet, QWizard::NextButton);
    QCOMPARE(sheet.currentPage(), pProgress);
    QCOMPARE(pProgress->DeviceList()->columnCount(), 5);
    QVERIFY(wiztest::pictureOnLeft(pProgress));

    // Every device is at its step: each row shows its own, the bar the slowest.
    QVERIFY(allReported());
    pProgress->Poll();
    QCOMPARE(wiztest::rows(pProgress->DeviceList()),
             (std::vector<std::string>{"COM2|PL1400|Programming|40 %|", "COM5|PL1400|Handshaking|20 %|",
                                       "COM7|PL1400|Restoring Factory Defaults|0 %|",
                                       "COM9|PL1400|Programming|70 %|"}));
    QCOMPARE(pProgress->Bar()->value(), 0);
    QCOMPARE(pProgress->StatusText(), std::string("Restoring Factory Defaults"));

    // Once each has a result the row shows it, where the device stopped, and a success as done.
    openGate();
    QTRY_VERIFY_WITH_TIMEOUT(!pProgress->Following(), 30000);
    QCOMPARE(wiztest::rows(pProgress->DeviceList()),
             (std::vector<std::string>{"COM2|PL1400|Programming|100 %|Successful",
                                       "COM5|PL1400|Handshaking|20 %|Handshake failure",
                                       "COM7|PL1400|Restoring Factory Defaults|100 %|Successful",
                                       "COM9|PL1400|Programming|70 %|Timeout updating device"}));
    QCOMPARE(pProgress->StatusText(), std::string("Programming Complete"));
    QCOMPARE(pProgress->Bar()->value(), 100);
    click(sheet, QWizard::NextButton);
    click(sheet, QWizard::FinishButton);
    QCOMPARE(env.end(), wiz_kDeviceFailedExit);
}

// A real update of two simulated devices: the rows end with the devices' results.
void ProgressListTest::rowsFollowARealUpdate()
{
    wiztest::WizardEnv env;
    env.addLoaderDevice(1, "PL1400", "1.05", "GERMANY");
    env.addLoaderDevice(2, "PL1400", "1.05", "GERMANY");
    env.closeUnusedPorts();
    std::string image = env.writeImage("NEWCODE.HEX", 5);
    env.start({"-V"});
    CWizard &sheet = env.showWizard();
    CDevelopersPage *pPage = sheet.DevelopersPage();
    pPage->PortList()->clearSelection();
    pPage->PortList()->item(0)->setSelected(true);
    pPage->PortList()->item(1)->setSelected(true);
    pPage->PortList()->item(2)->setSelected(true);
    pPage->DeviceTypeList()->setCurrentText("PL1400");
    pPage->HexFileEdit()->setText(QString::fromStdString(image));
    click(sheet, QWizard::NextButton);
    CProgressPage *pProgress = sheet.ProgressPage();
    QCOMPARE(sheet.currentPage(), pProgress);
    std::vector<std::string> ports;
    for (int i = 0; i < pProgress->DeviceList()->topLevelItemCount(); ++i)
        ports.push_back(pProgress->DeviceList()->topLevelItem(i)->text(0).toStdString());
    QCOMPARE(ports, (std::vector<std::string>{"COM1", "COM2", "COM3"}));
    QTRY_VERIFY_WITH_TIMEOUT(!pProgress->Following(), 60000);
    QTreeWidget *pList = pProgress->DeviceList();
    QCOMPARE(pList->topLevelItem(0)->text(3), QString("100 %"));
    QCOMPARE(pList->topLevelItem(0)->text(4), QString("Successful"));
    QCOMPARE(pList->topLevelItem(1)->text(4), QString("Successful"));
    QCOMPARE(pList->topLevelItem(2)->text(4), QString("Unable to open port"));
    QVERIFY(env.holdsImage(1, 5));
    QVERIFY(env.holdsImage(2, 5));
    click(sheet, QWizard::FinishButton);
    QCOMPARE(env.end(), wiz_kDeviceFailedExit);
}
