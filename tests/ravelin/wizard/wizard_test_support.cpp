#include "wizard_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QTreeWidget>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "ravelin/flash/flsh.h"
#include "ravelin/support/oswin32.h"
#include "ravelin/support/ospfl.h"
#include "ravelin/wizard/wizard_picture.h"

namespace wiztest {

std::vector<std::uint8_t> imageBytes(int nSeed)
{
    std::vector<std::uint8_t> bytes(48);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(nSeed * 37 + i * 11);
    return bytes;
}

WizardEnv::WizardEnv()
{
    std::string data = std::string(SUITE_SOURCE_DIR) + "/data/ravelin/";
    std::filesystem::copy_file(data + "Models.ini", m_dir.file("Models.ini"));
    std::filesystem::copy_file(data + "Locks.ini", m_dir.file("Locks.ini"));
    os_SetExeDirForTesting(m_dir.path().c_str());
    // The updates' records go to the test's directory (a test may point it elsewhere before start()).
    setenv("RAVELIN_HISTORY", m_dir.file("history.db").c_str(), 1);
    setenv("RAVELIN_JOURNAL", "off", 1);   // nothing into the machine's own journal
    // The flag is process-wide and never cleared in the program; each test starts without it.
    flsh_ClearCancelForTesting();
}

WizardEnv::~WizardEnv()
{
    m_wizard.reset();
    m_app.reset();
    IdentifyGate::open();
    m_bank.bank().stop();
    // The links closeUnusedPorts() put into the bank's directory are ours to take away: the bank
    // removes only a directory it left empty.
    for (int n = 1; n <= 36; ++n) {
        std::error_code ec;
        std::string path = m_bank.path(n);
        if (std::filesystem::read_symlink(path, ec) == m_dir.file("no-device-here")) std::filesystem::remove(path, ec);
    }
    os_DestroyProfileCache();
    os_SetExeDirForTesting(nullptr);
    unsetenv("RAVELIN_HISTORY");
    unsetenv("RAVELIN_JOURNAL");
}

modemsim::Device &WizardEnv::addLoaderDevice(int nPort, const std::string &model, const std::string &version,
                                             const std::string &country, const std::string &extra)
{
    return m_bank.addDevice("port = " + std::to_string(nPort) +
                            "\nspeed = 38400\nautobaud = on\nthrottle = off\nfamily = loader\nloader.version = 2.00\n"
                            "loader.max_speed = 115200\nati.0 = " + model + " Version " + version +
                            "\nati.9 = " + country + "\n" + extra);
}

void WizardEnv::closeUnusedPorts()
{
    for (int n = 1; n <= 36; ++n) {
        std::string path = m_bank.path(n);
        std::error_code ec;
        if (std::filesystem::is_symlink(path, ec) || std::filesystem::exists(path, ec)) continue;
        std::filesystem::create_symlink(m_dir.file("no-device-here"), path, ec);
    }
}

bool WizardEnv::portsReleased()
{
    for (int n = 1; n <= 36; ++n) {
        modemsim::Device *pDevice = nullptr;
        try {
            pDevice = &m_bank.device(n);
        } catch (...) {
            continue;
        }
        if (!pDevice->waitForHostOpens(0, 10000)) return false;
    }
    return true;
}

std::string WizardEnv::writeImage(const std::string &name, int nSeed)
{
    // Records of 16 bytes, as image files carry them.
    std::string path = m_dir.file(name);
    std::vector<std::uint8_t> bytes = imageBytes(nSeed);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
        std::vector<std::uint8_t> record(bytes.begin() + at, bytes.begin() + std::min(at + 16, bytes.size()));
        lines.push_back(flashtest::hexRecord(0, kImageAddress + static_cast<std::uint32_t>(at), record));
    }
    lines.push_back(":00000001FF");
    flashtest::writeFile(path, flashtest::crlfLines(lines));
    return path;
}

bool WizardEnv::holdsImage(int nPort, int nSeed)
{
    std::vector<std::uint8_t> expected = imageBytes(nSeed);
    modemsim::Device &dev = m_bank.device(nPort);
    if (dev.state().flash.extent() != kImageAddress + expected.size()) return false;
    return dev.state().flash.read(kImageAddress, static_cast<std::uint32_t>(expected.size())) == expected;
}

CUpdateApp &WizardEnv::start(const std::vector<std::string> &args)
{
    std::vector<const char *> argv{"ravelin"};
    for (const std::string &arg : args) argv.push_back(arg.c_str());
    m_app = std::make_unique<CUpdateApp>(&boxes);
    m_nStart = m_app->Start(static_cast<int>(argv.size()), argv.data());
    flsh_RunSetImageDir(&m_app->Run(), m_dir.path().c_str());
    return *m_app;
}

CWizard &WizardEnv::createWizard()
{
    m_wizard = m_app->CreateWizard();
    return *m_wizard;
}

CWizard &WizardEnv::showWizard()
{
    createWizard().show();
    return *m_wizard;
}

int WizardEnv::end()
{
    if (m_wizard && m_wizard->isVisible()) m_wizard->close();
    m_wizard.reset();
    return m_app->End();
}

std::string shownButtons(CWizard &sheet)
{
    struct Shown {
        QWizard::WizardButton which;
        const char *pszName;
    };
    const Shown buttons[] = {{QWizard::BackButton, "Back"},
                             {QWizard::NextButton, "Next"},
                             {QWizard::FinishButton, "Finish"},
                             {QWizard::CancelButton, "Cancel"}};
    std::string text;
    for (const Shown &b : buttons) {
        QAbstractButton *pButton = sheet.button(b.which);
        if (!pButton->isVisible()) continue;
        if (!text.empty()) text += ' ';
        text += b.pszName;
        if (!pButton->isEnabled()) text += "(off)";
    }
    return text;
}

void click(CWizard &sheet, QWizard::WizardButton which)
{
    QTest::mouseClick(sheet.button(which), Qt::LeftButton);
}

void pressEscape(CWizard &sheet)
{
    QTest::keyClick(&sheet, Qt::Key_Escape);
}

std::vector<std::string> rows(QTreeWidget *pList)
{
    std::vector<std::string> result;
    for (int i = 0; i < pList->topLevelItemCount(); ++i) {
        QTreeWidgetItem *pItem = pList->topLevelItem(i);
        QStringList columns;
        for (int c = 0; c < pList->columnCount(); ++c) columns << pItem->text(c);
        result.push_back(columns.join('|').toStdString());
    }
    return result;
}

void selectRows(QTreeWidget *pList, const std::vector<int> &positions)
{
    pList->clearSelection();
    for (int n : positions) pList->topLevelItem(n)->setSelected(true);
}

bool pictureOnLeft(QWidget *pPage)
{
    auto *pPicture = pPage->findChild<CWizardPicture *>();
    if (pPicture == nullptr || !pPicture->isVisible() || pPicture->width() < 50 || pPicture->height() < 50)
        return false;
    for (QWidget *pChild : pPage->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (pChild == pPicture || !pChild->isVisible()) continue;
        if (pChild->geometry().left() < pPicture->geometry().right()) return false;
    }
    return true;
}

namespace {
std::mutex g_gateMutex;
std::condition_variable g_gateChanged;
bool g_bGateOpen = true;
} // namespace

void IdentifyGate::close()
{
    std::lock_guard<std::mutex> lock(g_gateMutex);
    g_bGateOpen = false;
}

void IdentifyGate::open()
{
    {
        std::lock_guard<std::mutex> lock(g_gateMutex);
        g_bGateOpen = true;
    }
    g_gateChanged.notify_all();
}

int IdentifyGate::body(DeviceUpdate *pUpdate)
{
    {
        std::unique_lock<std::mutex> lock(g_gateMutex);
        g_gateChanged.wait(lock, [] { return g_bGateOpen; });
    }
    return flsh_Identify(pUpdate);
}

} // namespace wiztest
