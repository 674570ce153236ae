// Renders every page of the country wizard, and the search page in its three states (searching,
// modems found, none found), into PNG files: the real pages, driven through their buttons against
// simulated modems, with the message boxes kept out of the way.
//
//   country-screenshots OUTPUT_DIR      (run with QT_QPA_PLATFORM=offscreen where there is no display)
#include "country/config/ModemJobList.h"
#include "country/config/catalogue.h"
#include "country/config/executable_dir.h"
#include "country/wizard/CfgSheet.h"
#include "country/wizard/IDing.h"
#include "country/wizard/CountryPage.h"
#include "country/wizard/message_boxes.h"
#include "country/wizard/wizard_art.h"
#include "tools/modemsim/modemsim.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFont>
#include <QPixmap>
#include <QTimer>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The screenshots need the pages, not real-time dialogues: everything runs twenty times faster.
const char* const kTimeScale = "0.05";
const int kWaitLimitMs = 30000;

class CSilentMessageBoxes : public IMessageBoxes {
public:
    void Show(QWidget*, Kind, const QString& text) override { std::cout << "  (message box) " << text.left(60).toStdString() << "...\n"; }
};

// Runs the event loop until done() or the limit; false when the limit came first.
bool WaitFor(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > kWaitLimitMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Lets posted layout and paint requests run, so that a grab shows the page as laid out.
void Settle()
{
    QEventLoop loop;
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One wizard run against a bank of simulated modems (device files of data/sim/country by port).
class CShoot {
public:
    CShoot(const fs::path& output, const std::vector<std::pair<int, std::string>>& modems) : m_output(output)
    {
        setenv("SERIAL_PORTS_DIR", m_bank.dir().c_str(), 1);
        for (const auto& modem : modems)
            m_bank.add(ReadFile(fs::path(SUITE_SOURCE_DIR) / "data/sim/country" / modem.second) +
                       "\nport = " + std::to_string(modem.first) + "\n");
        m_bank.start();
        // Ports without a modem lead nowhere, rather than to this machine's own serial ports.
        for (int port = CModemJobList::kFirstPort; port <= CModemJobList::kLastPort; ++port) {
            if (m_bank.find(port) != nullptr)
                continue;
            const std::string link = m_bank.dir() + "/COM" + std::to_string(port);
            if (symlink((m_bank.dir() + "/no-device").c_str(), link.c_str()) == 0)
                m_links.push_back(link);
        }
        m_sheet = std::make_unique<CCfgSheet>(m_jobs, false, m_boxes);
        m_sheet->show();
        Settle();
    }

    ~CShoot()
    {
        m_sheet.reset();
        m_jobs.DeleteAll();
        m_bank.stop();
        for (const std::string& link : m_links)
            unlink(link.c_str());
    }

    CCfgSheet& Sheet() { return *m_sheet; }

    void Next() { m_sheet->button(QWizard::NextButton)->click(); }

    bool Grab(const std::string& name)
    {
        Settle();
        const fs::path file = m_output / (name + ".png");
        if (!m_sheet->grab().save(QString::fromStdString(file.string()))) {
            std::cerr << "country-screenshots: cannot write " << file << "\n";
            return false;
        }
        std::cout << file.string() << "\n";
        return true;
    }

    bool WaitForPage(int id)
    {
        if (WaitFor([&] { return m_sheet->currentId() == id; }))
            return true;
        std::cerr << "country-screenshots: page " << id << " did not come\n";
        return false;
    }

    bool WaitForSearch()
    {
        if (WaitFor([&] { return !m_sheet->SearchPage()->Searching(); }))
            return true;
        std::cerr << "country-screenshots: the search did not end\n";
        return false;
    }

private:
    fs::path m_output;
    modemsim::Bank m_bank;
    std::vector<std::string> m_links;
    CModemJobList m_jobs;
    CSilentMessageBoxes m_boxes;
    std::unique_ptr<CCfgSheet> m_sheet;
};

bool ShootSuccessfulRun(const fs::path& output)
{
    CShoot shoot(output, {{3, "agere_ab12.txt"}, {5, "conexant2_cx2400.txt"}});
    bool ok = shoot.Grab("1-welcome");
    shoot.Next();
    ok = shoot.Grab("2-search-searching") && ok;
    ok = shoot.WaitForSearch() && shoot.Grab("2-search-found") && ok;
    shoot.Next();
    ok = shoot.WaitForPage(CCfgSheet::kCountryPage) && shoot.Grab("3-country") && ok;
    QComboBox* countries = shoot.Sheet().CountryPage()->CountryList();
    countries->setCurrentIndex(countries->findText(QStringLiteral("United States (US)")));
    shoot.Next();
    ok = shoot.WaitForPage(CCfgSheet::kReadyPage) && shoot.Grab("4-ready") && ok;
    shoot.Next();
    ok = shoot.WaitForPage(CCfgSheet::kConfiguringPage) && shoot.Grab("5-configuring") && ok;
    ok = shoot.WaitForPage(CCfgSheet::kSuccessPage) && shoot.Grab("7-success") && ok;
    return ok;
}

bool ShootFailedRun(const fs::path& output)
{
    CShoot shoot(output, {{2, "agere_hangs.txt"}});
    shoot.Next();
    bool ok = shoot.WaitForSearch();
    shoot.Next();
    shoot.Next();
    shoot.Next();
    return shoot.WaitForPage(CCfgSheet::kErrorPage) && shoot.Grab("6-error") && ok;
}

bool ShootEmptyBank(const fs::path& output, const std::string& suffix)
{
    CShoot shoot(output, {});
    bool ok = suffix.empty() || shoot.Grab("1-welcome" + suffix);
    shoot.Next();
    return shoot.WaitForSearch() && shoot.Grab("2-search-none" + suffix) && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: country-screenshots OUTPUT_DIR\n";
        return 2;
    }
    setenv("SUITE_TIME_SCALE", kTimeScale, 1);
    QApplication application(argc, argv);
    const fs::path output = argv[1];
    std::error_code error;
    fs::create_directories(output, error);

    // The catalogues and modem.ini live in a scratch directory, not beside this tool.
    std::string scratch = (fs::temp_directory_path() / "country-screenshots-XXXXXX").string();
    if (mkdtemp(scratch.data()) == nullptr) {
        std::cerr << "country-screenshots: no scratch directory\n";
        return 1;
    }
    for (const char* name : {"Country.ini", "Models.ini"})
        fs::copy_file(fs::path(SUITE_SOURCE_DIR) / "data/country" / name, fs::path(scratch) / name, error);
    SetExecutableDirectoryOverride(scratch);
    bool ok = LoadCountries() && LoadModels();
    if (ok) {
        ok = ShootSuccessfulRun(output) && ok;
        ok = ShootFailedRun(output) && ok;
        ok = ShootEmptyBank(output, "") && ok;
        // The pages grow with the font instead of cutting their text.
        QFont large = QApplication::font();
        large.setPointSizeF(large.pointSizeF() * 1.6);
        QApplication::setFont(large);
        ok = ShootEmptyBank(output, "-large-font") && ok;
        const QIcon icon = CountryWindowIcon();
        ok = icon.pixmap(64, 64).save(QString::fromStdString((output / "icon-64.png").string())) && ok;
    }
    FreeModels();
    FreeCountries();
    fs::remove_all(scratch, error);
    return ok ? 0 : 1;
}
