// What the wizard tests share: a private directory beside a pretend executable holding the sample
// catalogue, a simulated bank whose unused COM ports lead nowhere, images, the application started
// with a command line, and readable views of the sheet's buttons.
#pragma once

#include <QObject>
#include <QTest>
#include <QWizard>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "flash_test_util.h"
#include "ravelin/wizard/message_boxes.h"
#include "ravelin/wizard/update_app.h"

class QTreeWidget;

namespace wiztest {

// The bytes every test image holds, and where.
constexpr std::uint32_t kImageAddress = 0x0200;
std::vector<std::uint8_t> imageBytes(int nSeed);

class WizardEnv {
public:
    WizardEnv();
    ~WizardEnv();

    std::string dir() const { return m_dir.path(); }
    std::string file(const std::string &name) const { return m_dir.file(name); }

    // A simulated device that identifies as the model (ati.0) and takes an update with the maker's
    // own loader dialogue; extra holds further lines of its description (faults).
    modemsim::Device &addLoaderDevice(int nPort, const std::string &model, const std::string &version,
                                      const std::string &country, const std::string &extra = "");
    // Any simulated device, described as a device file describes it.
    modemsim::Device &addDevice(const std::string &description) { return m_bank.addDevice(description); }
    modemsim::Device &device(int nPort) { return m_bank.device(nPort); }
    // Every COM1-COM36 without a device becomes an entry that fails to open, so that no test reaches
    // the machine's own serial ports.
    void closeUnusedPorts();
    // Every device of the bank has let go of its port.
    bool portsReleased();

    // An image file in the test directory holding imageBytes(nSeed); returns its path.
    std::string writeImage(const std::string &name, int nSeed);
    // The device's memory holds exactly imageBytes(nSeed), and nothing else was written.
    bool holdsImage(int nPort, int nSeed);

    // Starts the application with these parameters (after the program name). The run scans the
    // test directory for images.
    CUpdateApp &start(const std::vector<std::string> &args);
    int startResult() const { return m_nStart; }
    CUpdateApp &app() { return *m_app; }
    // The sheet, not yet shown (showing it activates the first page), and created and shown.
    CWizard &createWizard();
    CWizard &showWizard();
    CWizard &wizard() { return *m_wizard; }
    // Closes the wizard (if still open) and ends the application; returns the exit code.
    int end();

    CRecordingMessageBoxes boxes;

private:
    flashtest::TempDir m_dir;
    modemsim_testing::SimBank m_bank;
    std::unique_ptr<CUpdateApp> m_app;
    std::unique_ptr<CWizard> m_wizard;
    int m_nStart = -1;
};

// The buttons the sheet shows: "Back(off) Next Cancel" lists the visible ones, "(off)" when disabled.
std::string shownButtons(CWizard &sheet);
void click(CWizard &sheet, QWizard::WizardButton which);
void pressEscape(CWizard &sheet);

// Rows of a report list, each as its column texts joined with "|".
std::vector<std::string> rows(QTreeWidget *pList);
// Selects the rows (by position) and nothing else.
void selectRows(QTreeWidget *pList, const std::vector<int> &positions);

// The picture area is on the left of the page and the page's controls to its right.
bool pictureOnLeft(QWidget *pPage);

// An identification thread body that waits until the gate opens, then identifies for real.
class IdentifyGate {
public:
    static void close();
    static void open();
    static int body(DeviceUpdate *pUpdate);
};

} // namespace wiztest

// Failure messages that show the texts compared.
namespace QTest {
template <>
inline char *toString(const std::vector<std::string> &texts)
{
    std::string joined = "{";
    for (const std::string &text : texts) joined += (joined.size() > 1 ? ", \"" : "\"") + text + "\"";
    return qstrdup((joined + "}").c_str());
}
template <>
inline char *toString(const std::string &text)
{
    return qstrdup(("\"" + text + "\"").c_str());
}
} // namespace QTest
