#include "wizard_detection_test.h"

#include <QTest>
#include <QTreeWidget>

#include <cstdlib>
#include <string>
#include <vector>

#include "machine_testbed.h"
#include "ravelin/wizard/detection_page.h"
#include "tools/modemsim/modemsim.h"
#include "wizard_test_support.h"

void WizardComLinkTest::detectionPageFindsTheAdapterAsCom5()
{
    wiztest::WizardEnv env;
    // The environment's own bank is not used: COMn takes the rule of a bench machine.
    unsetenv("SERIAL_PORTS_DIR");
    bench_testing::MachineTestbed bed;
    bed.addBenchMachine();
    bed.shadowOtherPorts();
    bed.link("serial/com/COM5", "../../ttyUSB4");
    auto adapter = bed.driver("/dev/serial/com/COM5");
    modemsim::Bank bank;
    modemsim::Device &device = bank.add("port = 5\nspeed = 38400\nautobaud = on\nthrottle = off\nfamily = loader\n"
                                        "loader.version = 2.00\nloader.max_speed = 115200\n"
                                        "ati.0 = PL1400 Version 1.05\nati.9 = GERMANY\n");
    int nMaster = bed.master("/dev/ttyUSB4");
    QVERIFY(nMaster >= 0);
    device.serveMaster(nMaster);
    bank.start();
    env.writeImage("PADE105.HEX", 1);

    env.start({});
    CWizard &sheet = env.showWizard();
    CDetectionPage *pDetection = sheet.DetectionPage();
    QCOMPARE(sheet.currentPage(), pDetection);
    QTRY_VERIFY_WITH_TIMEOUT(!pDetection->Identifying(), 30000);
    QCOMPARE(pDetection->StatusText(), std::string("Devices have been identified."));
    QCOMPARE(wiztest::rows(pDetection->TypeList()), (std::vector<std::string>{"PL1400|1"}));
    QVERIFY(device.state().commands().size() > 0);
    env.end();
    bank.stop();
}
