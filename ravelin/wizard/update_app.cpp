#include "ravelin/wizard/update_app.h"

#include <cstdio>
#include <cctype>
#include <cstring>

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/support/log.h"
#include "ravelin/support/osclock.h"
#include "ravelin/support/ospfl.h"
#include "ravelin/wizard/message_boxes.h"
#include "suite_version.h"

namespace {

constexpr int kCandidatePorts = 36;
// How long the end waits for identification threads that outlived the wizard. Identification ends
// on its own within its answer time-outs; this only bounds a device that never lets go.
constexpr int kThreadEndWaitMs = 60000;

// "com3" names COM3 as "COM3" does; the serial layer reads only the upper-case prefix as a COM
// port, and would take "com3" for a file name.
void normalisePortText(char *pszPort)
{
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(pszPort[i])) != "COM"[i]) return;
    if (pszPort[3] == '\0') return;
    for (const char *p = pszPort + 3; *p != '\0'; ++p)
        if (*p < '0' || *p > '9') return;
    pszPort[0] = 'C';
    pszPort[1] = 'O';
    pszPort[2] = 'M';
}

// A history that cannot be written is said once on stderr; the status page shows it too.
void warnOnStderr(const char *pszWarning, void *)
{
    std::fprintf(stderr, "ravelin: warning: %s\n", pszWarning);
    std::fflush(stderr);
}

} // namespace

CUpdateApp::CUpdateApp(CMessageBoxes *pBoxes)
{
    m_context.pRun = &m_run;
    m_context.pSettings = &m_settings;
    m_context.pBoxes = pBoxes;
    m_pHistory = hist_OpenRecorder("ravelin " SUITE_VERSION, nullptr, warnOnStderr, nullptr);
    m_context.pHistory = m_pHistory;
    m_context.pRunRecords = &m_runRecords;
}

CUpdateApp::~CUpdateApp()
{
    hist_CloseRecorder(m_pHistory);
    if (m_bRunReady) flsh_FreeRun(&m_run);
    // A thread that never let go may still read the catalogue: the process's end takes it.
    if (m_bCatalogueLoaded && !m_bThreadsOutlived) cat_Free();
}

int CUpdateApp::Start(int argc, const char *const *argv)
{
    os_CreateProfileCache();
    // The picture is drawn by the pages themselves; there is nothing to load that could fail.
    if (!flsh_InitRun(&m_run)) return flsh_kRunNoDevices;
    m_bRunReady = true;
    flsh_RunSetError(&m_run, flsh_kRunNoError);

    int nCatalogue = cat_Load();
    if (nCatalogue >= cat_kNoModels && nCatalogue <= cat_kLocksVersion) {
        m_context.pBoxes->Show(nullptr, cat_LoadMessage(nCatalogue));
        return wiz_kCatalogueFailureExit;
    }
    m_bCatalogueLoaded = true;
    // The defaults name the model "OctaA" of the catalogue, so they come once it is loaded.
    flsh_InitCommandLine(&m_settings);
    flsh_ParseCommandLine(&m_settings, argc, argv);

    if (m_settings.bLogging) {
        log_SetEnabled(true);
        if (log_Open() == nullptr) {
            char szWhy[1024];
            log_OpenFailure(szWhy, sizeof szWhy);
            std::string text = std::string("The log cannot be kept: ") + szWhy + ".";
            m_context.pBoxes->Show(nullptr, text.c_str());
        }
    }
    if (!AddPorts()) {
        // An unattended one-port run that updates nothing must not end as a success.
        m_context.pBoxes->Show(nullptr, flsh_RunErrorMessage(&m_run, flsh_kRunNoDeviceSelected));
        return End();
    }
    return -1;
}

bool CUpdateApp::AddPorts()
{
    // Room for any port text: a path too long for the update record is refused by the run, never cut.
    char szPath[flsh_kCmdPortLen + 8];
    if (m_settings.szPort[0] != '\0') {
        // One port, not identified: the command line names its model and image.
        normalisePortText(m_settings.szPort);
        std::snprintf(szPath, sizeof szPath, "\\\\.\\%s", m_settings.szPort);
        if (flsh_RunAddPort(&m_run, szPath, m_settings.nSpeed) < 1) {
            LOG_WRITE("wizard", "port %s cannot be used", m_settings.szPort);
            return false;
        }
        int nImage = flsh_RunAddImage(&m_run, m_settings.szHexFile, m_settings.model) - 1;
        RunDevice &device = *m_run.devices.back();
        device.type = m_settings.model;
        device.flags = m_settings.model.Flags();
        device.bFixedSpeed = m_settings.bDetection;
        if (nImage >= 0) {
            device.version = m_run.images[nImage].version;
            flsh_RunAssignImage(&m_run, 0, nImage);
        }
        flsh_SetAssumedModel(device.pUpdate, m_settings.model.szName);
        return true;
    }
    for (int n = 1; n <= kCandidatePorts; ++n) {
        std::snprintf(szPath, sizeof szPath, "\\\\.\\COM%d", n);
        flsh_RunAddPort(&m_run, szPath, m_settings.nSpeed);
    }
    return true;
}

WizardPageSet CUpdateApp::PageSet() const
{
    if (m_settings.bPageSet) return WizardPageSet::Developers;
    if (m_settings.szPort[0] != '\0') return WizardPageSet::OnePort;
    return WizardPageSet::Ordinary;
}

std::unique_ptr<CWizard> CUpdateApp::CreateWizard()
{
    return std::make_unique<CWizard>(&m_context, PageSet());
}

int CUpdateApp::End()
{
    // Every thread the run started, also the identification threads of devices the detection page
    // took out at its time-out: they read the catalogue until they end.
    if (!flsh_RunWaitThreadsEnded(&m_run, static_cast<int>(os_ScaleMs(kThreadEndWaitMs)))) {
        LOG_WRITE("wizard", "a device thread was still running when the program ended; the catalogue is left to it");
        m_bThreadsOutlived = true;
    }
    // Every update that ended by now is on record, whichever page the wizard closed on.
    if (m_context.bUpdatesStarted) hist_RunPoll(m_pHistory, &m_runRecords, &m_run);
    if (m_bCatalogueLoaded && !m_bThreadsOutlived) {
        cat_Free();
        m_bCatalogueLoaded = false;
    }
    if (m_settings.bLogging) log_Close();
    int nError = flsh_RunGetError(&m_run);
    if (nError != flsh_kRunNoError || !m_context.bUpdatesStarted) return nError;
    // The run itself went well, but a device that was not updated must not read as success to the
    // script that started the program.
    for (std::size_t i = 0; i < m_run.devices.size(); ++i) {
        if (m_run.devices[i]->bSelected && flsh_RunResult(&m_run, static_cast<int>(i)) != FR_SUCCESSFUL)
            return wiz_kDeviceFailedExit;
    }
    return flsh_kRunNoError;
}
