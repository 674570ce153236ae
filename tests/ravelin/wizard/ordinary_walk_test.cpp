// The ordinary page set from detection to the status page against the simulated bank: two device
// types picked, each device's memory equal to its image afterwards.
#include <QComboBox>
#include <QGroupBox>
#include <QProgressBar>
#include <QTest>
#include <QTreeWidget>

#include "ravelin/wizard/detection_page.h"
#include "ravelin/wizard/model_page.h"
#include "ravelin/wizard/progress_page.h"
#include "ravelin/wizard/status_page.h"
#include "wizard_test_support.h"
#include "wizard_tests.h"

using wiztest::click;
using wiztest::rows;
using wiztest::selectRows;
using wiztest::shownButtons;

void OrdinaryWalkTest::twoModelsFromDetectionToStatus()
{
    wiztest::WizardEnv env;
    env.addLoaderDevice(1, "PL1400", "1.05", "GERMANY");
    env.addLoaderDevice(2, "PL1400", "1.05", "GERMANY");
    env.addLoaderDevice(3, "PL3360", "2.31", "UNITED KINGDOM");
    // Three models without images.
    env.addLoaderDevice(4, "KX-A1", "1.02", "GERMANY");
    env.addLoaderDevice(5, "OctaA", "1.02", "GERMANY");
    env.addLoaderDevice(6, "OctaN", "1.02", "GERMANY");
    env.closeUnusedPorts();
    env.writeImage("PADE105.HEX", 1);
    env.writeImage("PBGB231.HEX", 2);
    env.writeImage("README.HEX", 3);   // not an image name: never listed

    env.start({"-S"});
    CWizard &sheet = env.showWizard();
    CDetectionPage *pDetection = sheet.DetectionPage();
    QCOMPARE(sheet.currentPage(), pDetection);
    QCOMPARE(pDetection->StatusText(), std::string("Identifying Devices\r\nThis may take up to 20 seconds"));
    QCOMPARE(shownButtons(sheet), std::string("Back(off) Finish(off) Cancel"));
    QVERIFY(wiztest::pictureOnLeft(pDetection));

    QTRY_VERIFY_WITH_TIMEOUT(!pDetection->Identifying(), 30000);
    QCOMPARE(env.boxes.Texts(), std::vector<std::string>{"No .hex files found for KX-A1, OctaA, and OctaN."});
    QCOMPARE(pDetection->StatusText(), std::string("Devices have been identified."));
    QCOMPARE(rows(pDetection->TypeList()), (std::vector<std::string>{"PL1400|2", "PL3360|1"}));
    QCOMPARE(shownButtons(sheet), std::string("Back(off) Next Cancel"));

    // Next without a pick keeps the page.
    env.boxes.Clear();
    click(sheet, QWizard::NextButton);
    QCOMPARE(env.boxes.Texts(),
             std::vector<std::string>{"ERROR: You must select atleast one type of device to update."});
    QCOMPARE(sheet.currentPage(), pDetection);

    selectRows(pDetection->TypeList(), {0, 1});
    click(sheet, QWizard::NextButton);
    CModelPage *pModel = sheet.ModelPage();
    QCOMPARE(sheet.currentPage(), pModel);
    QVERIFY(wiztest::pictureOnLeft(pModel));
    QCOMPARE(pModel->ModelGroup()->title(), QString("PL1400"));
    QCOMPARE(rows(pModel->PortList()), (std::vector<std::string>{"COM1|1.05|Germany", "COM2|1.05|Germany"}));
    QCOMPARE(pModel->ImageList()->count(), 1);
    QCOMPARE(pModel->ImageList()->itemText(0), QString("Germany   1.05"));
    QCOMPARE(shownButtons(sheet), std::string("Back Next Cancel"));

    env.boxes.Clear();
    click(sheet, QWizard::NextButton);
    QCOMPARE(env.boxes.Texts(), std::vector<std::string>{"ERROR: You must select at least one communications port."});
    QCOMPARE(sheet.currentPage(), pModel);

    // Back: the choices start again, the devices are not identified again.
    std::size_t nCommands = env.device(1).state().commands().size();
    click(sheet, QWizard::BackButton);
    QCOMPARE(sheet.currentPage(), pDetection);
    QVERIFY(!pDetection->Identifying());
    QCOMPARE(rows(pDetection->TypeList()), (std::vector<std::string>{"PL1400|2", "PL3360|1"}));
    QCOMPARE(shownButtons(sheet), std::string("Back(off) Next Cancel"));
    for (const auto &pDevice : env.app().Run().devices) QCOMPARE(pDevice->bSelected, 0);

    selectRows(pDetection->TypeList(), {0, 1});
    click(sheet, QWizard::NextButton);
    QCOMPARE(pModel->ModelGroup()->title(), QString("PL1400"));
    selectRows(pModel->PortList(), {0, 1});
    click(sheet, QWizard::NextButton);
    // The same page again for the second type.
    QCOMPARE(sheet.currentPage(), pModel);
    QCOMPARE(pModel->ModelGroup()->title(), QString("PL3360"));
    QCOMPARE(rows(pModel->PortList()), (std::vector<std::string>{"COM3|2.31|United Kingdom"}));
    QCOMPARE(pModel->ImageList()->itemText(0), QString("United Kingdom   2.31"));
    QCOMPARE(env.device(1).state().commands().size(), nCommands);
    selectRows(pModel->PortList(), {0});
    click(sheet, QWizard::NextButton);

    QVERIFY(!flsh_IsCancelled());
    CProgressPage *pProgress = sheet.ProgressPage();
    QCOMPARE(sheet.currentPage(), pProgress);
    QVERIFY(wiztest::pictureOnLeft(pProgress));
    QCOMPARE(shownButtons(sheet), std::string("Back(off) Finish(off)"));
    QTRY_VERIFY_WITH_TIMEOUT(!pProgress->Following(), 60000);
    QCOMPARE(pProgress->StatusText(), std::string("Programming Complete"));
    QCOMPARE(pProgress->Bar()->value(), 100);
    // The status page flag: Next leads on.
    QCOMPARE(shownButtons(sheet), std::string("Back(off) Next"));

    click(sheet, QWizard::NextButton);
    CStatusPage *pStatus = sheet.StatusPage();
    QCOMPARE(sheet.currentPage(), pStatus);
    QVERIFY(wiztest::pictureOnLeft(pStatus));
    QCOMPARE(rows(pStatus->ResultList()), (std::vector<std::string>{"COM1|PL1400|Successful", "COM2|PL1400|Successful",
                                                                     "COM3|PL3360|Successful"}));
    QCOMPARE(pStatus->SummaryText(), std::string("3 of 3 devices were updated successfully"));
    QCOMPARE(shownButtons(sheet), std::string("Back(off) Finish"));

    QVERIFY(env.holdsImage(1, 1));
    QVERIFY(env.holdsImage(2, 1));
    QVERIFY(env.holdsImage(3, 2));
    for (int n = 4; n <= 6; ++n) QCOMPARE(env.device(n).state().flash.extent(), 0u);

    click(sheet, QWizard::FinishButton);
    QVERIFY(!sheet.isVisible());
    QCOMPARE(sheet.result(), static_cast<int>(QDialog::Accepted));
    QCOMPARE(env.end(), 0);
    QVERIFY(env.portsReleased());
}
