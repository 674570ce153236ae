// A country wizard against simulated modems: the sample catalogues in a scratch "executable directory"
// (where modem.ini lands), a bank whose every other port leads nowhere, the worker list, and message
// boxes that record what they would have shown.
#pragma once

#include "country/config/ModemJobList.h"
#include "country/config/catalogue.h"
#include "country/config/executable_dir.h"
#include "country/wizard/CfgSheet.h"
#include "country/wizard/message_boxes.h"
#include "fixtures/sim_bank_fixture.h"

#include <QAbstractButton>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

class CRecordingMessageBoxes : public IMessageBoxes {
public:
    struct Shown {
        Kind kind;
        QString text;
    };

    void Show(QWidget*, Kind kind, const QString& text) override { shown.push_back({kind, text}); }

    int Count(const QString& text) const
    {
        int count = 0;
        for (const Shown& box : shown)
            count += box.text == text ? 1 : 0;
        return count;
    }

    std::vector<Shown> shown;
};

class CWizardRig {
public:
    CWizardRig()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "country-wizard-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            dir = pattern;
        for (const char* name : {"Country.ini", "Models.ini"})
            std::filesystem::copy_file(std::string(SUITE_SOURCE_DIR) + "/data/country/" + name, dir / name);
        SetExecutableDirectoryOverride(dir.string());
        loaded = LoadCountries() && LoadModels();
    }

    ~CWizardRig()
    {
        sheet.reset();
        jobs.DeleteAll();
        FreeModels();
        FreeCountries();
        SetExecutableDirectoryOverride("");
        for (const std::string& link : deadLinks)
            unlink(link.c_str());
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    // A modem from data/sim/country on port, with more device-file lines.
    modemsim::Device& AddModem(const std::string& file, int port, const std::string& extraKeys = "")
    {
        std::ifstream in(std::string(SUITE_SOURCE_DIR) + "/data/sim/country/" + file);
        std::ostringstream text;
        text << in.rdbuf();
        return sim.addDevice(text.str() + "\nport = " + std::to_string(port) + "\n" + extraKeys);
    }

    // The sheet, shown, after every port without a modem was made an entry that leads nowhere (else
    // the search would open this machine's own serial ports).
    CCfgSheet& Open(const WizardTiming& timing = WizardTiming())
    {
        for (int port = CModemJobList::kFirstPort; port <= CModemJobList::kLastPort; ++port) {
            if (sim.bank().find(port) != nullptr)
                continue;
            const std::string link = sim.bank().dir() + "/COM" + std::to_string(port);
            if (symlink((sim.bank().dir() + "/no-device-" + std::to_string(port)).c_str(), link.c_str()) == 0)
                deadLinks.push_back(link);
        }
        sheet = std::make_unique<CCfgSheet>(jobs, false, boxes, timing);
        sheet->show();
        return *sheet;
    }

    std::string Read(const std::string& name) const
    {
        std::ifstream in(dir / name, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static std::string HostBytes(modemsim::Device& device)
    {
        return device.transcript().bytes(modemsim::Transcript::Direction::kFromHost);
    }

    // What the host sent from the first occurrence of from on ("" when it never sent it).
    static std::string HostBytesFrom(modemsim::Device& device, const std::string& from)
    {
        const std::string bytes = HostBytes(device);
        const size_t at = bytes.find(from);
        return at == std::string::npos ? std::string() : bytes.substr(at);
    }

    modemsim_testing::SimBank sim;
    std::filesystem::path dir;
    bool loaded = false;
    CModemJobList jobs;
    CRecordingMessageBoxes boxes;
    std::unique_ptr<CCfgSheet> sheet;
    std::vector<std::string> deadLinks;
};

// The state of the wizard's buttons as the user sees them.
struct ButtonsSeen {
    bool back;
    bool next;
    bool finish;
    bool cancel;
};

inline ButtonsSeen SeenButtons(CCfgSheet& sheet)
{
    auto usable = [&](QWizard::WizardButton which) {
        QAbstractButton* button = sheet.button(which);
        return button->isVisible() && button->isEnabled();
    };
    return {usable(QWizard::BackButton), usable(QWizard::NextButton), usable(QWizard::FinishButton),
            usable(QWizard::CancelButton)};
}
