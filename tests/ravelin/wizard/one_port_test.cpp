// The one-port page set: the port, image and model from the command line, no identification.
#include <QTest>
#include <QTreeWidget>

#include <filesystem>

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

void OnePortTest::modelOfTheCommandLineChoosesTheRockwellLoader()
{
    // The device is not identified: the Rockwell loader look-up by model must read the model of /M.
    // The image's prefix RN names a catalogue entry without a loader, so the model's loader is the one.
    const std::string chips = std::string(SUITE_SOURCE_DIR) + "/data/sim/chips/";
    for (bool bLoaderThere : {true, false}) {
        wiztest::WizardEnv env;
        std::string models = flashtest::readFile(env.file("Models.ini"));
        std::size_t at = models.find("NumModels=20");
        QVERIFY(at != std::string::npos);
        models.replace(at, 12, "NumModels=21");
        flashtest::writeFile(env.file("Models.ini"), models + "MODEL_21=74,{RW-NL},{RN},{ROCKWELL3},{x},{;}\n");
        flashtest::writeFile(env.file("F35Aload.s37"), "S0030000FC\r\nS9030000FC\r\n");  // the default
        if (bLoaderThere) std::filesystem::copy_file(chips + "RWload3.s37", env.file("RWload3.s37"));
        std::filesystem::copy_file(chips + "RCDEMO.HEX", env.file("RN0100.HEX"));
        modemsim::Device &dev = env.addDevice("port = 3\nspeed = 115200\nthrottle = off\nfamily = rockwell-loader\n");

        env.start({"/P", "COM3", "/F", env.file("RN0100.HEX"), "/M", "RW56-C-2", "/E"});
        CWizard &sheet = env.showWizard();
        QTRY_VERIFY_WITH_TIMEOUT(!sheet.ProgressPage()->Following(), 60000);
        if (bLoaderThere) {
            QCOMPARE(flsh_RunResult(&env.app().Run(), 0), static_cast<int>(FR_SUCCESSFUL));
            QCOMPARE(dev.state().value("rockwell.loader"), flashtest::readFile(chips + "RWload3.s37"));
            QCOMPARE(dev.state().value("rockwell.image"), flashtest::readFile(chips + "RCDEMO.HEX"));
        } else {
            // Not the default loader in its place: the update ends and the device hears nothing.
            QCOMPARE(flsh_RunResult(&env.app().Run(), 0), static_cast<int>(FR_HEX_OPEN_FAILED));
            QCOMPARE(dev.transcript().bytes(modemsim::Transcript::Direction::kFromHost), std::string());
        }
        click(sheet, QWizard::FinishButton);
        QCOMPARE(env.end(), bLoaderThere ? 0 : wiz_kDeviceFailedExit);
    }
}
