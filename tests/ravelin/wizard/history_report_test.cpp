// The wizard and the update history: every update of a run on record, the status page's report file,
// and a history that cannot be written, which costs a line on the status page and nothing else.
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "ravelin/history/history.h"
#include "ravelin/wizard/detection_page.h"
#include "ravelin/wizard/model_page.h"
#include "ravelin/wizard/progress_page.h"
#include "ravelin/wizard/report_file.h"
#include "ravelin/wizard/status_page.h"
#include "suite_version.h"
#include "wizard_test_support.h"
#include "wizard_tests.h"

using wiztest::click;

namespace {

std::string sha256sum(const std::string &path)
{
    std::FILE *pPipe = ::popen(("sha256sum '" + path + "'").c_str(), "r");
    char szLine[256] = "";
    if (pPipe != nullptr) {
        if (std::fgets(szLine, sizeof szLine, pPipe) == nullptr) szLine[0] = '\0';
        ::pclose(pPipe);
    }
    return std::string(szLine).substr(0, 64);
}

std::vector<std::string> crlfSplit(const std::string &text)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<HistRecord> records(const std::string &path)
{
    std::vector<HistRecord> out;
    HistDb *pDb = hist_OpenExisting(path.c_str(), nullptr, 0);
    if (pDb == nullptr) return out;
    HistFilter filter;
    hist_InitFilter(&filter);
    hist_Query(pDb, &filter, [](const HistRecord *p, void *pUser) {
        static_cast<std::vector<HistRecord> *>(pUser)->push_back(*p);
        return 1;
    }, &out);
    hist_Close(pDb);
    return out;
}

// The ordinary page set over two PL1400 and one PL3360: to the status page.
CStatusPage *walkToStatus(wiztest::WizardEnv &env, CWizard **ppSheet)
{
    env.addLoaderDevice(1, "PL1400", "1.05", "GERMANY");
    env.addLoaderDevice(2, "PL1400", "1.05", "GERMANY");
    env.addLoaderDevice(3, "PL3360", "2.31", "UNITED KINGDOM");
    env.closeUnusedPorts();
    env.writeImage("PADE105.HEX", 1);
    env.writeImage("PBGB231.HEX", 2);
    env.start({"-S"});
    CWizard &sheet = env.showWizard();
    *ppSheet = &sheet;
    if (!QTest::qWaitFor([&] { return !sheet.DetectionPage()->Identifying(); }, 30000)) return nullptr;
    wiztest::selectRows(sheet.DetectionPage()->TypeList(), {0, 1});
    click(sheet, QWizard::NextButton);
    wiztest::selectRows(sheet.ModelPage()->PortList(), {0, 1});
    click(sheet, QWizard::NextButton);
    wiztest::selectRows(sheet.ModelPage()->PortList(), {0});
    click(sheet, QWizard::NextButton);
    if (!QTest::qWaitFor([&] { return !sheet.ProgressPage()->Following(); }, 60000)) return nullptr;
    click(sheet, QWizard::NextButton);
    return sheet.currentPage() == sheet.StatusPage() ? sheet.StatusPage() : nullptr;
}

} // namespace

void HistoryReportTest::updatesAreRecordedAndTheReportSaved()
{
    wiztest::WizardEnv env;
    CWizard *pSheet = nullptr;
    CStatusPage *pStatus = walkToStatus(env, &pSheet);
    QVERIFY(pStatus != nullptr);
    QCOMPARE(pStatus->HistoryText(), std::string());
    QVERIFY(!pStatus->findChild<QLabel *>(QStringLiteral("history"))->isVisible());
    QVERIFY(pStatus->SaveReportButton()->isVisible());

    // Three records, each finished, with the wizard's name and the image's fingerprint.
    std::vector<HistRecord> stored = records(env.file("history.db"));
    QCOMPARE(stored.size(), std::size_t(3));
    std::map<std::string, HistRecord> byPort;
    for (const HistRecord &r : stored) byPort[r.szPort] = r;
    for (const char *pszPort : {"COM1", "COM2", "COM3"}) {
        QVERIFY2(byPort.count(pszPort) == 1, pszPort);
        const HistRecord &r = byPort[pszPort];
        QCOMPARE(std::string(r.szProgram), std::string("ravelin " SUITE_VERSION));
        QCOMPARE(r.nResult, static_cast<int>(FR_SUCCESSFUL));
        QVERIFY(r.szEnded[0] != '\0');
        QCOMPARE(std::string(r.szProtocol), std::string("generic"));
    }
    QCOMPARE(std::string(byPort["COM1"].szModel), std::string("PL1400"));
    QCOMPARE(std::string(byPort["COM1"].szImage), std::string("PADE105.HEX"));
    QCOMPARE(std::string(byPort["COM1"].szImageVersion), std::string("105"));
    QCOMPARE(std::string(byPort["COM3"].szImageSha256), sha256sum(env.file("PBGB231.HEX")));

    // Save report...: the question, then the file.
    std::string report = env.file("report.csv");
    env.boxes.SetSaveAnswer(report);
    QTest::mouseClick(pStatus->SaveReportButton(), Qt::LeftButton);
    QCOMPARE(env.boxes.SaveQuestions().size(), std::size_t(1));
    QCOMPARE(env.boxes.SaveQuestions()[0].first, std::string("Save report"));
    QVERIFY(env.boxes.SaveQuestions()[0].second.rfind("ravelin-report-", 0) == 0);
    QVERIFY(env.boxes.Texts().empty());
    std::vector<std::string> lines = crlfSplit(flashtest::readFile(report));
    std::string sum1 = sha256sum(env.file("PADE105.HEX")), sum2 = sha256sum(env.file("PBGB231.HEX"));
    QCOMPARE(lines, (std::vector<std::string>{
                        wiz_kReportHeader,
                        "COM1,PL1400,1.05,105,,PADE105.HEX," + sum1 + ",0,Successful,",
                        "COM2,PL1400,1.05,105,,PADE105.HEX," + sum1 + ",0,Successful,",
                        "COM3,PL3360,2.31,231,,PBGB231.HEX," + sum2 + ",0,Successful,",
                    }));

    // Cancel in the file dialogue writes nothing.
    std::filesystem::remove(report);
    env.boxes.SetSaveAnswer("");
    QTest::mouseClick(pStatus->SaveReportButton(), Qt::LeftButton);
    QVERIFY(!std::filesystem::exists(report));
    click(*pSheet, QWizard::FinishButton);
    QCOMPARE(env.end(), 0);
}

void HistoryReportTest::aReportThatCannotBeWrittenIsSaid()
{
    wiztest::WizardEnv env;
    CWizard *pSheet = nullptr;
    CStatusPage *pStatus = walkToStatus(env, &pSheet);
    QVERIFY(pStatus != nullptr);
    std::string report = env.file("no-such-dir/report.csv");
    env.boxes.SetSaveAnswer(report);
    env.boxes.Clear();
    pStatus->SaveReport();
    QCOMPARE(env.boxes.Texts().size(), std::size_t(1));
    QVERIFY2(env.boxes.Texts()[0].rfind("The report cannot be written to " + report + ": ", 0) == 0,
             env.boxes.Texts()[0].c_str());
    QCOMPARE(env.end(), 0);
}

void HistoryReportTest::aHistoryThatCannotBeWrittenIsALineOnTheStatusPage()
{
    wiztest::WizardEnv env;
    setenv("RAVELIN_HISTORY", env.file("missing/history.db").c_str(), 1);
    CWizard *pSheet = nullptr;
    CStatusPage *pStatus = walkToStatus(env, &pSheet);
    QVERIFY(pStatus != nullptr);
    // The updates went on.
    QCOMPARE(pStatus->SummaryText(), std::string("3 of 3 devices were updated successfully"));
    QVERIFY(env.holdsImage(1, 1));
    QVERIFY(env.holdsImage(3, 2));
    QVERIFY2(pStatus->HistoryText().rfind("The update history cannot be written (", 0) == 0,
             pStatus->HistoryText().c_str());
    QVERIFY(pStatus->findChild<QLabel *>(QStringLiteral("history"))->isVisible());
    // The report still has every fingerprint: the records are kept in memory.
    std::string report = env.file("report.csv");
    env.boxes.SetSaveAnswer(report);
    pStatus->SaveReport();
    std::vector<std::string> lines = crlfSplit(flashtest::readFile(report));
    QCOMPARE(lines.size(), std::size_t(4));
    QVERIFY2(lines[1].find(sha256sum(env.file("PADE105.HEX"))) != std::string::npos, lines[1].c_str());
    QCOMPARE(env.end(), 0);
}
