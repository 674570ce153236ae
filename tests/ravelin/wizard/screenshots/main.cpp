// Renders every page of the update wizard's three page sets, in their states, into PNG files:
//   ravelin_wizard_screenshots OUTPUT_DIR
// Offscreen platform, QWidget::grab(), against the simulated bank; message boxes are recorded, not
// shown. The files are for looking at: every page readable, nothing cut off, the picture on the left.
#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>
#include <QListWidget>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ravelin/history/history.h"
#include "ravelin/wizard/detection_page.h"
#include "ravelin/wizard/message_boxes.h"
#include "ravelin/wizard/developers_page.h"
#include "ravelin/wizard/model_page.h"
#include "ravelin/wizard/progress_page.h"
#include "ravelin/wizard/status_page.h"
#include "wizard_test_support.h"

namespace {

QString g_outputDir;
int g_nFailures = 0;

void shoot(CWizard &sheet, const char *pszName)
{
    QApplication::processEvents();
    QString path = g_outputDir + "/" + pszName + ".png";
    if (!sheet.grab().save(path)) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", path.toLocal8Bit().constData());
        ++g_nFailures;
        return;
    }
    std::printf("%s\n", path.toLocal8Bit().constData());
}

// Waits (with the event loop running) until the condition holds; false after the time.
template <typename Condition>
bool waitFor(Condition condition, int nMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > nMs) return false;
        QTest::qWait(20);
    }
    return true;
}

void fail(const char *pszWhat)
{
    std::fprintf(stderr, "screenshots: %s\n", pszWhat);
    ++g_nFailures;
}

// An image of 32 KiB: large enough that the progress page is seen half-way.
std::string writeLargeImage(wiztest::WizardEnv &env, const std::string &name)
{
    std::vector<std::string> lines;
    for (std::uint32_t at = 0; at < 0x8000; at += 16) {
        std::vector<std::uint8_t> record(16);
        for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(at + i * 7);
        lines.push_back(flashtest::hexRecord(0, at, record));
    }
    lines.push_back(":00000001FF");
    std::string path = env.file(name);
    flashtest::writeFile(path, flashtest::crlfLines(lines));
    return path;
}

void shootProgressAndStatus(CWizard &sheet, const char *pszSet)
{
    CProgressPage *pProgress = sheet.ProgressPage();
    if (waitFor([&] { return pProgress->Bar()->value() > 0 || !pProgress->Following(); }, 60000))
        shoot(sheet, (std::string(pszSet) + "-progress-running").c_str());
    if (!waitFor([&] { return !pProgress->Following(); }, 120000)) return fail("the update did not end");
    shoot(sheet, (std::string(pszSet) + "-progress-complete").c_str());
    wiztest::click(sheet, QWizard::NextButton);
    shoot(sheet, (std::string(pszSet) + "-status").c_str());
}

void ordinarySet()
{
    wiztest::WizardEnv env;
    env.addLoaderDevice(1, "PL1400", "1.05", "GERMANY");
    env.addLoaderDevice(2, "PL1400", "1.05", "GERMANY");
    env.addLoaderDevice(3, "PL3360", "2.31 ABC-DEF", "UNITED KINGDOM");
    env.closeUnusedPorts();
    writeLargeImage(env, "PADE105.HEX");
    writeLargeImage(env, "PBGB231-BETA-2.HEX");
    writeLargeImage(env, "PBGB230.HEX");
    env.start({"-S"});
    CWizard &sheet = env.showWizard();
    shoot(sheet, "ordinary-1-detection-identifying");
    if (!waitFor([&] { return !sheet.DetectionPage()->Identifying(); }, 60000)) return fail("identification hung");
    shoot(sheet, "ordinary-2-detection-identified");
    wiztest::selectRows(sheet.DetectionPage()->TypeList(), {0, 1});
    wiztest::click(sheet, QWizard::NextButton);
    wiztest::selectRows(sheet.ModelPage()->PortList(), {0, 1});
    shoot(sheet, "ordinary-3-model-first");
    wiztest::click(sheet, QWizard::NextButton);
    wiztest::selectRows(sheet.ModelPage()->PortList(), {0});
    shoot(sheet, "ordinary-4-model-second");
    wiztest::click(sheet, QWizard::NextButton);
    shootProgressAndStatus(sheet, "ordinary-5");
    env.end();
}

// A full bank: 36 devices updated at once, some slower than the others (their answers come late),
// one whose answers come too late and one whose line drops half-way, so that the progress page's
// list shows every kind of row.
void bankOf36()
{
    wiztest::WizardEnv env;
    for (int n = 1; n <= 36; ++n) {
        std::string extra;
        // Late answers: slower updates, and at COM36 too late for the handshake.
        if (n % 6 == 0) extra += "fault.delay_ms = " + std::to_string(n == 36 ? 250 : 20 * (n / 6)) + "\n";
        if (n == 7) extra += "fault.disconnect_after = 20000\n";
        env.addLoaderDevice(n, "PL1400", "1.05", "GERMANY", extra);
    }
    writeLargeImage(env, "PADE105.HEX");
    env.start({"-S"});
    CWizard &sheet = env.showWizard();
    if (!waitFor([&] { return !sheet.DetectionPage()->Identifying(); }, 120000)) return fail("identification hung");
    wiztest::selectRows(sheet.DetectionPage()->TypeList(), {0});
    wiztest::click(sheet, QWizard::NextButton);
    std::vector<int> all;
    for (int i = 0; i < sheet.ModelPage()->PortList()->topLevelItemCount(); ++i) all.push_back(i);
    if (all.size() != 36) return fail("the bank of 36 was not identified whole");
    wiztest::selectRows(sheet.ModelPage()->PortList(), all);
    wiztest::click(sheet, QWizard::NextButton);
    CProgressPage *pProgress = sheet.ProgressPage();
    // Half-way for most: the list shows devices at different steps, and the one that failed.
    QTreeWidget *pList = pProgress->DeviceList();
    auto someAtHalf = [&] {
        int nHalf = 0;
        for (int i = 0; i < pList->topLevelItemCount(); ++i) {
            QTreeWidgetItem *pItem = pList->topLevelItem(i);
            if (pItem->text(2) == "Programming" && pItem->text(3).split(' ').front().toInt() >= 50) ++nHalf;
        }
        return nHalf >= 3 || !pProgress->Following();
    };
    if (waitFor(someAtHalf, 120000)) shoot(sheet, "bank36-1-progress-running");
    // The list scrolled to its end: the last ports, still readable.
    pList->scrollToBottom();
    shoot(sheet, "bank36-2-progress-running-end");
    pList->scrollToTop();
    if (!waitFor([&] { return !pProgress->Following(); }, 300000)) return fail("the update of 36 did not end");
    shoot(sheet, "bank36-3-progress-complete");
    // A long result text runs past the list's width: scrolled sideways, it is there whole.
    pList->horizontalScrollBar()->setValue(pList->horizontalScrollBar()->maximum());
    shoot(sheet, "bank36-3-progress-complete-scrolled");
    pList->horizontalScrollBar()->setValue(0);
    wiztest::click(sheet, QWizard::NextButton);
    shoot(sheet, "bank36-4-status");
    env.end();
}

void detectionErrors()
{
    {
        wiztest::WizardEnv env;
        env.closeUnusedPorts();
        env.start({});
        CWizard &sheet = env.showWizard();
        shoot(sheet, "ordinary-error-no-images");
        env.end();
    }
    {
        wiztest::WizardEnv env;
        env.closeUnusedPorts();
        env.writeImage("PADE105.HEX", 1);
        env.start({});
        CWizard &sheet = env.showWizard();
        if (!waitFor([&] { return !sheet.DetectionPage()->Identifying(); }, 60000)) return fail("identification hung");
        shoot(sheet, "ordinary-error-no-devices");
        env.end();
    }
    {
        wiztest::WizardEnv env;
        env.addLoaderDevice(1, "PL1400", "1.05", "GERMANY");
        env.closeUnusedPorts();
        env.writeImage("PADE105.HEX", 1);
        env.start({});
        wiztest::IdentifyGate::close();
        CWizard &sheet = env.createWizard();
        sheet.DetectionPage()->SetIdentifyBody(wiztest::IdentifyGate::body);
        sheet.show();
        if (!waitFor([&] { return !sheet.DetectionPage()->Identifying(); }, 60000)) return fail("no time-out");
        shoot(sheet, "ordinary-error-timeout");
        wiztest::IdentifyGate::open();
        env.end();
    }
}

void developersSet()
{
    wiztest::WizardEnv env;
    env.addLoaderDevice(2, "PL1400", "1.05", "GERMANY");
    env.addLoaderDevice(5, "PL1400", "1.05", "GERMANY");
    env.closeUnusedPorts();
    std::string image = writeLargeImage(env, "PADE105.HEX");
    env.start({"-V", "-S", "-C"});
    CWizard &sheet = env.showWizard();
    CDevelopersPage *pPage = sheet.DevelopersPage();
    shoot(sheet, "developers-1-first-start");
    pPage->PortList()->clearSelection();
    pPage->PortList()->item(1)->setSelected(true);
    pPage->PortList()->item(4)->setSelected(true);
    pPage->DeviceTypeList()->setCurrentText("PL1400");
    pPage->HexFileEdit()->setText(QString::fromStdString(image));
    shoot(sheet, "developers-2-filled");
    wiztest::click(sheet, QWizard::NextButton);
    shootProgressAndStatus(sheet, "developers-3");
    env.end();
}

void onePortSet()
{
    wiztest::WizardEnv env;
    env.addLoaderDevice(3, "PL1400", "1.05", "GERMANY");
    std::string image = writeLargeImage(env, "PADE105.HEX");
    env.start({"-P", "COM3", "-F", image, "-M", "PL1400", "-S"});
    CWizard &sheet = env.showWizard();
    shootProgressAndStatus(sheet, "one-port-1");
    env.end();
}

// The detection page's offer to finish two interrupted updates, as its question box shows it.
void resumeOffer()
{
    wiztest::WizardEnv env;
    std::string database = env.file("history.db");
    modemsim_testing::ScopedEnv history("RAVELIN_HISTORY", database);
    env.addLoaderDevice(1, "PL1400", "1.05", "GERMANY");
    env.closeUnusedPorts();
    std::string image = env.writeImage("PADE107.HEX", 1);
    char szError[256];
    HistDb *pDb = hist_Open(database.c_str(), szError, sizeof szError);
    if (pDb == nullptr) return fail("no history database for the resume offer");
    const struct {
        const char *pszPort, *pszStatus;
        int nPercent;
    } interrupted[] = {{"COM5", "Programming", 43}, {"COM7", "Handshaking", 50}};
    for (const auto &item : interrupted) {
        HistRecord record;
        hist_InitRecord(&record);
        std::snprintf(record.szPort, sizeof record.szPort, "%s", item.pszPort);
        std::snprintf(record.szModel, sizeof record.szModel, "PL1400");
        std::snprintf(record.szImage, sizeof record.szImage, "PADE107.HEX");
        std::snprintf(record.szImagePath, sizeof record.szImagePath, "%s", image.c_str());
        std::snprintf(record.szLastStatus, sizeof record.szLastStatus, "%s", item.pszStatus);
        record.nLastPercent = item.nPercent;
        record.nSpeed = 38400;
        hist_Insert(pDb, &record);
    }
    hist_Close(pDb);
    env.boxes.SetAnswer(false);
    env.start({});
    CWizard &sheet = env.showWizard();
    if (env.boxes.Questions().empty()) return fail("the detection page offered nothing");
    QMessageBox *pBox = wiz_NewQuestionBox(&sheet, env.boxes.Questions().front().c_str());
    pBox->show();
    QApplication::processEvents();
    QString path = g_outputDir + "/ordinary-resume-offer.png";
    if (!pBox->grab().save(path)) {
        fail("cannot write the resume offer");
    } else {
        std::printf("%s\n", path.toLocal8Bit().constData());
    }
    delete pBox;
    env.end();
}

// The status page when the update history could not be written: its line under the results.
void historyWarning()
{
    wiztest::WizardEnv env;
    setenv("RAVELIN_HISTORY", env.file("missing/history.db").c_str(), 1);
    env.addLoaderDevice(3, "PL1400", "1.05", "GERMANY");
    std::string image = env.writeImage("PADE105.HEX", 1);
    env.start({"-P", "COM3", "-F", image, "-M", "PL1400", "-S"});
    CWizard &sheet = env.showWizard();
    if (!waitFor([&] { return !sheet.ProgressPage()->Following(); }, 120000)) return fail("the update did not end");
    wiztest::click(sheet, QWizard::NextButton);
    shoot(sheet, "one-port-2-status-history-warning");
    env.end();
}

} // namespace

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SUITE_TIME_SCALE", "0.2", 0);
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: ravelin_wizard_screenshots OUTPUT_DIR\n");
        return 2;
    }
    g_outputDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_outputDir);
    ordinarySet();
    bankOf36();
    detectionErrors();
    developersSet();
    onePortSet();
    resumeOffer();
    historyWarning();
    return g_nFailures == 0 ? 0 : 1;
}
