// The detection page's offer to finish interrupted updates: the history names a port whose update
// was cut off, its device waits in its flash loader; Yes finishes it with the one-port page set (the
// record's image, model and speed, no identification), No goes on with the detection as before.
#include <QTest>
#include <QTreeWidget>

#include <string>
#include <vector>

#include "modemsim/host_port.h"
#include "ravelin/history/hist_recorder.h"
#include "ravelin/history/history.h"
#include "ravelin/wizard/detection_page.h"
#include "ravelin/wizard/progress_page.h"
#include "ravelin/wizard/status_page.h"
#include "wizard_test_support.h"
#include "wizard_tests.h"

using modemsim_test::HostPort;
using wiztest::click;

namespace {

// The loader's block on the wire: length, 3-byte address, data, XOR checksum.
std::string loaderBlock(std::uint32_t address, const std::vector<std::uint8_t> &data)
{
    std::string out;
    out += static_cast<char>(data.size() >> 8);
    out += static_cast<char>(data.size() & 0xFF);
    out += static_cast<char>((address >> 16) & 0xFF);
    out += static_cast<char>((address >> 8) & 0xFF);
    out += static_cast<char>(address & 0xFF);
    std::uint8_t sum = 0;
    for (std::uint8_t b : data) {
        out += static_cast<char>(b);
        sum ^= b;
    }
    out += static_cast<char>(sum);
    return out;
}

// What a killed update leaves: the loader entered, its speed agreed at 38400, the image's first
// 16 bytes programmed in a block, and the next block cut off after a few bytes.
bool interruptUpdate(wiztest::WizardEnv &env, int nPort, int nSeed)
{
    HostPort host(env.device(nPort).linkPath(), B19200);
    std::vector<std::uint8_t> first(128, 0xFF);
    std::vector<std::uint8_t> bytes = wiztest::imageBytes(nSeed);
    std::copy(bytes.begin(), bytes.begin() + 16, first.begin());
    auto step = [&host](const std::string &send, const std::string &answer) {
        host.clear();
        return host.write(send) && host.readUntil(answer);
    };
    bool bOk = step("AT*FS\r", "AT*FS\r") && step("M", "U") && step("D", "M") && step("K", "\r\nOK\r\n") &&
               host.setSpeed(B38400) && step("ATFLP\r", "G") &&
               step(loaderBlock(wiztest::kImageAddress, first), "\r\nOK\r\n") && step("ATFLP\r", "G") &&
               host.write(loaderBlock(wiztest::kImageAddress + 0x80, first).substr(0, 9));
    return bOk;
}

// The record the killed update left: started, never ended, how far it got.
std::int64_t recordInterrupted(const std::string &database, const std::string &image)
{
    char szError[256];
    HistDb *pDb = hist_Open(database.c_str(), szError, sizeof szError);
    if (pDb == nullptr) return 0;
    HistRecord record;
    hist_InitRecord(&record);
    std::snprintf(record.szStarted, sizeof record.szStarted, "2026-12-09T10:41:07Z");
    std::snprintf(record.szProgram, sizeof record.szProgram, "ravelin 1.0");
    std::snprintf(record.szPort, sizeof record.szPort, "COM3");
    std::snprintf(record.szModel, sizeof record.szModel, "PL1400");
    std::snprintf(record.szImage, sizeof record.szImage, "PADE107.HEX");
    std::snprintf(record.szImagePath, sizeof record.szImagePath, "%s", image.c_str());
    std::snprintf(record.szProtocol, sizeof record.szProtocol, "generic");
    std::snprintf(record.szLastStatus, sizeof record.szLastStatus, "Programming");
    record.nLastPercent = 33;
    record.nSpeed = 38400;
    std::int64_t nId = hist_Insert(pDb, &record);
    hist_Close(pDb);
    return nId;
}

struct Latest {
    bool bFound = false;
    HistRecord record;
};

Latest latestOf(const std::string &database, const char *pszPort)
{
    Latest latest;
    char szError[256];
    HistDb *pDb = hist_OpenExisting(database.c_str(), szError, sizeof szError);
    if (pDb == nullptr) return latest;
    latest.bFound = hist_LatestForPort(pDb, pszPort, &latest.record) == 1;
    hist_Close(pDb);
    return latest;
}

bool heard(modemsim::Device &dev, const std::string &command)
{
    for (const std::string &line : dev.state().commands())
        if (line == command) return true;
    return false;
}

} // namespace

void ResumeOfferTest::yesFinishesTheInterruptedUpdate()
{
    wiztest::WizardEnv env;
    std::string database = env.file("history.db");
    modemsim_testing::ScopedEnv history("RAVELIN_HISTORY", database);
    env.addLoaderDevice(3, "PL1400", "1.05", "GERMANY");
    env.closeUnusedPorts();
    std::string image = env.writeImage("PADE107.HEX", 7);
    QVERIFY(interruptUpdate(env, 3, 7));
    std::int64_t nFirst = recordInterrupted(database, image);
    QVERIFY(nFirst > 0);

    env.boxes.SetAnswer(true);
    env.start({"/S"});
    CWizard &sheet = env.showWizard();
    QTRY_COMPARE_WITH_TIMEOUT(sheet.currentPage(), static_cast<QWizardPage *>(sheet.ProgressPage()), 10000);
    QCOMPARE(env.boxes.Questions().size(), std::size_t(1));
    const std::string &question = env.boxes.Questions()[0];
    QVERIFY2(question.find("COM3: the update with PADE107.HEX was interrupted on 2026-12-09 at ") != std::string::npos,
             question.c_str());
    QVERIFY2(question.find(" (Programming, 33 %); its device may be waiting in its flash loader.") != std::string::npos,
             question.c_str());
    QVERIFY2(question.find("Finish this update first, with the same image?") != std::string::npos, question.c_str());

    QTRY_VERIFY_WITH_TIMEOUT(!sheet.ProgressPage()->Following(), 60000);
    click(sheet, QWizard::NextButton);
    QCOMPARE(wiztest::rows(sheet.StatusPage()->ResultList()), std::vector<std::string>{"COM3|PL1400|Successful"});
    QVERIFY(env.holdsImage(3, 7));
    // Fixed speed at the loader's speed: no identification, no second handshake.
    QVERIFY(!heard(env.device(3), "ATI"));
    QCOMPARE(env.device(3).state().value("loader.entries"), std::string("1"));
    QCOMPARE(env.device(3).state().value("loader.dropped"), std::string("1"));
    click(sheet, QWizard::FinishButton);
    QCOMPARE(env.end(), 0);
    QVERIFY(env.portsReleased());

    Latest latest = latestOf(database, "COM3");
    QVERIFY(latest.bFound);
    QCOMPARE(latest.record.nResult, static_cast<std::int32_t>(FR_SUCCESSFUL));
    QCOMPARE(latest.record.nResumeOf, nFirst);
}

void ResumeOfferTest::noGoesOnWithTheDetection()
{
    wiztest::WizardEnv env;
    std::string database = env.file("history.db");
    modemsim_testing::ScopedEnv history("RAVELIN_HISTORY", database);
    env.addLoaderDevice(1, "PL1400", "1.05", "GERMANY");
    env.addLoaderDevice(3, "PL1400", "1.05", "GERMANY");
    env.closeUnusedPorts();
    std::string image = env.writeImage("PADE107.HEX", 7);
    QVERIFY(interruptUpdate(env, 3, 7));
    QVERIFY(recordInterrupted(database, image) > 0);

    env.boxes.SetAnswer(false);
    env.start({});
    CWizard &sheet = env.showWizard();
    QCOMPARE(env.boxes.Questions().size(), std::size_t(1));
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.DetectionPage()->Identifying(), 60000);
    QCOMPARE(sheet.currentPage(), static_cast<QWizardPage *>(sheet.DetectionPage()));
    QVERIFY(!sheet.DetectionPage()->Resuming());
    // The device in its loader answers no identification; the other one is found as before.
    QCOMPARE(wiztest::rows(sheet.DetectionPage()->TypeList()), std::vector<std::string>{"PL1400|1"});
    QCOMPARE(env.device(3).state().value("loader.entries"), std::string("1"));
    env.end();
}

void ResumeOfferTest::noOfferWithoutInterruptedUpdates()
{
    wiztest::WizardEnv env;
    std::string database = env.file("history.db");
    modemsim_testing::ScopedEnv history("RAVELIN_HISTORY", database);
    env.addLoaderDevice(1, "PL1400", "1.05", "GERMANY");
    env.closeUnusedPorts();
    env.writeImage("PADE107.HEX", 7);
    env.boxes.SetAnswer(true);
    env.start({});
    CWizard &sheet = env.showWizard();
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.DetectionPage()->Identifying(), 60000);
    QVERIFY(env.boxes.Questions().empty());
    QCOMPARE(wiztest::rows(sheet.DetectionPage()->TypeList()), std::vector<std::string>{"PL1400|1"});
    env.end();
}
