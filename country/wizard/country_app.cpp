#include "country/wizard/country_app.h"

#include "country/PortWriter/CountryClock.h"
#include "country/config/catalogue.h"
#include "country/config/executable_dir.h"
#include "country/wizard/usage_text.h"
#include "country/wizard/wizard_mode.h"

#include <filesystem>

const char* const kCountryIniMissing = "Unable to find \"Country.ini\".\r\r\"Country.ini\" is required by Meridia.";
const char* const kModelsIniMissing = "Unable to find \"Models.ini\".\r\r\"Models.ini\" is required by Meridia.";
const char* const kMustSupplyCountryCode = "Must supply a 2 character country/region code from country.ini\n";
const char* const kNoValidDevice = "Unable to detect valid device.\n";
const char* const kNoViewerForText = "Unable to find program associated with .txt files\n";

namespace {

const char* const kSiblingProgram = "Meridia";
const char* const kSiblingArgument = "-t";
const char* const kHelpFile = "Help.txt";
// As long as the wizard gives a configuration before it calls it failed.
const long kConfigureLimitMs = 20000;

enum ExitCode { kExitDone = 0, kExitFailed = 1 };

// Frees both catalogues on every way out of the run.
struct CatalogueHold {
    ~CatalogueHold()
    {
        FreeModels();
        FreeCountries();
    }
};

}  // namespace

std::string TerminalText(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c == '\r')
            c = '\n';
    if (out.empty() || out.back() != '\n')
        out += '\n';
    return out;
}

CCountryApp::CCountryApp(IProcessServices& services, std::ostream& errors, std::ostream& output)
    : m_services(services), m_errors(errors), m_output(output)
{
}

CCountryApp::~CCountryApp()
{
    m_selected = nullptr;
    m_jobs.DeleteAll();
    m_log.Close();
}

int CCountryApp::Start(const std::vector<std::string>& parameters)
{
    m_options = ParseCommandLine(parameters);
    // Asking how to use the program never starts anything.
    if (m_options.usage)
        return ShowUsage();
    if (m_options.startSibling)
        return StartSibling();
    if (m_options.help)
        return ShowHelp();
    if (m_options.commandLineMode)
        return CommandLineMode();
    return WizardMode();
}

int CCountryApp::ShowUsage()
{
    m_output << kUsageText << std::flush;
    return kExitDone;
}

int CCountryApp::StartSibling()
{
    const std::string program = FileBesideExecutable(kSiblingProgram);
    if (!m_services.StartProgram(program, kSiblingArgument)) {
        m_errors << "Unable to start \"" << program << "\".\n";
        return kExitFailed;
    }
    return kExitDone;
}

int CCountryApp::ShowHelp()
{
    const std::string help = FileBesideExecutable(kHelpFile);
    std::error_code error;
    if (!std::filesystem::exists(help, error)) {
        m_errors << "Unable to find \"" << help << "\".\n";
        return kExitFailed;
    }
    // The message log is never open on this path, so the missing viewer is told on the error stream.
    if (!m_services.OpenWithViewer(help)) {
        m_errors << kNoViewerForText;
        return kExitFailed;
    }
    return kExitDone;
}

void CCountryApp::Message(const std::string& text)
{
    // The log keeps the program's own line breaks; whoever ran it sees every message as well, log or not.
    m_log.Write(text);
    m_errors << TerminalText(text) << std::flush;
}

std::string CCountryApp::NotIdentifiedMessage(const CModemJob& job) const
{
    const std::string port = job.PortName();
    const std::string why = job.PortOpenError();
    switch (job.PortOpenProblem()) {
    case CModemJob::kPortOutOfRange:
        return port + " is out of range: the port number must be " + std::to_string(CModemJob::kLowestPort) +
               " to " + std::to_string(CModemJob::kHighestPort) + ".\n";
    case CModemJob::kPortMissing:
        return port + " does not exist (" + why + ").\n";
    case CModemJob::kPortInUse:
        return port + " is in use by another program (" + why + ").\n";
    case CModemJob::kPortUnusable:
        return "Unable to open " + port + (why.empty() ? std::string() : " (" + why + ")") + ".\n";
    case CModemJob::kPortOpened:
        break;
    }
    return kNoValidDevice;
}

int CCountryApp::CommandLineMode()
{
    if (m_options.log && !m_log.Open(kMessageLogName))
        m_errors << "Unable to create \"" << kMessageLogName << "\".\n";
    CatalogueHold catalogues;
    if (!LoadCountries()) {
        Message(kCountryIniMissing);
        return kExitFailed;
    }
    if (!LoadModels()) {
        Message(kModelsIniMissing);
        return kExitFailed;
    }
    int result = CommandLineRun();
    if (m_options.shutDownAfterwards && !m_services.ForcePowerOff())
        m_errors << "Unable to shut the computer down.\n";
    return result;
}

int CCountryApp::CommandLineRun()
{
    if (m_options.countryCode.empty()) {
        Message(kMustSupplyCountryCode);
        return kExitFailed;
    }
    // Country.ini names carry the code in round brackets ("United States (US)"); the whole name is what
    // the worker looks up.
    const std::string text = "(" + m_options.countryCode + ")";
    const CountryRecord* country = FindCountryByText(text);
    if (country == nullptr) {
        Message("Country/region code \"" + m_options.countryCode + "\" is not in country.ini\n");
        return kExitFailed;
    }

    m_selected = m_jobs.StartJob(m_options.portNumber, false);
    if (m_selected == nullptr) {
        Message(kNoValidDevice);
        return kExitFailed;
    }
    // Identification ends by itself: every exchange has its own time-out.
    m_selected->WaitUntilDone(-1);
    if (m_selected->Identified() != 1) {
        Message(NotIdentifiedMessage(*m_selected));
        return kExitFailed;
    }
    m_selected->SetCountry(country->name);
    m_selected->Go();
    // The program must not end (and stop the worker) before the modem was configured.
    const bool done = m_selected->WaitUntilDone(static_cast<long>(CClock::ToRealMs(kConfigureLimitMs)));
    const std::string port = m_selected->PortName();
    if (!done) {
        Message("The modem on " + port + " did not finish its configuration in time.\n");
        m_jobs.DeleteAll();
        m_selected = nullptr;
        return kExitFailed;
    }
    if (m_selected->Identified() != 1) {
        const std::string iniError = m_selected->ModemIniError();
        if (!iniError.empty())
            Message("The modem on " + port + " was set to \"" + country->name +
                    "\", but modem.ini could not be written: " + iniError + ".\n");
        else
            Message("Unable to configure the modem on " + port + ".\n");
        return kExitFailed;
    }
    Message(port + ": " + m_selected->ModelName() + " set to \"" + country->name + "\" (country code " +
            m_selected->CountryCodeHex() + ", command set " + CommandSetName(m_selected->CommandSet()) +
            "); modem.ini written.\n");
    return kExitDone;
}

int CCountryApp::WizardMode()
{
    return RunCountryWizard(m_jobs, m_options.log, m_messageBoxes);
}
