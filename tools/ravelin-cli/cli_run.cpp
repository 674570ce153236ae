// ravelin-cli run: the whole update of a bank without a window: identify the devices on many ports
// at once, choose the right image for each, flash them all at once, and report every result. Also
// the engine's command-line switches, so that a bench script can preset what the wizard would.
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/flash/command_line.h"
#include "ravelin/flash/flashinfo.h"
#include "ravelin/flash/flsh_lucent_image.h"
#include "ravelin/protocols/flsh_choice.h"
#include "ravelin/support/log.h"
#include "ravelin/support/osconsole.h"
#include "ravelin/history/hist_resume.h"
#include "ravelin/history/hist_run.h"
#include "tools/ravelin-cli/cli_history.h"
#include "tools/ravelin-cli/cli_interrupted.h"
#include "tools/ravelin-cli/cli_log_failure.h"
#include "tools/ravelin-cli/cli_port_list.h"
#include "tools/ravelin-cli/cli_run.h"
#include "tools/ravelin-cli/cli_run_view.h"
#include "tools/ravelin-cli/commands.h"

namespace {

// Exit codes of our own, beside the run's error codes 0-9, 100 and 101.
constexpr int kExitDevicesFailed = 10;
constexpr int kExitUsage = 64;
constexpr int kExitCatalogue = 65;

constexpr int kDefaultPortCount = 36;
constexpr int kIdentifyPolls = 25;          // one-second polls, as the detection page waits
constexpr int kPollMs = 1000;
// How long the end waits for device threads still running: the identification of a port dropped at
// the time-out ends on its own answer time-outs; this only bounds a device that never lets go.
constexpr int kThreadEndWaitMs = 60000;

const char kHelp[] =
    "usage: ravelin-cli run [SWITCHES] [--images DIR] [--ports LIST] [--yes] [--dry-run] [--verify] [--json]\n"
    "\n"
    "Updates a bank of devices at once. Identifies the devices on the candidate ports (all at once,\n"
    "waiting at most 25 seconds), picks for each the image that fits its model, of its country, with\n"
    "the highest version, prints the plan, and after confirmation flashes every planned device at\n"
    "the same time, one thread per port. At the end a table of results, the line \"N of M devices were\n"
    "updated successfully\" and, when some failed, the --ports list that retries only those.\n"
    "\n"
    "  --images DIR  where the image files are (default: the current directory): *.HEX then *.USF,\n"
    "                or *.HXB with the switch B. A name reads MMCCVVV.HEX: model prefix, country,\n"
    "                version (e.g. PADE105.HEX)\n"
    "  --ports LIST  the candidate ports, e.g. COM3,COM5-COM8 or /dev/ttyUSB0 (default COM1 to COM36).\n"
    "                COMn is the entry COMn of $SERIAL_PORTS_DIR when that is set and holds it, else\n"
    "                /dev/ttyS<n-1>\n"
    "  --yes         flash without asking (needed when standard input is no terminal)\n"
    "  --dry-run     stop after the plan; no device is touched after identification\n"
    "  --verify      after a device reports success, identify it again and check that it reports\n"
    "                the image's version; one that does not counts as failed\n"
    "  --json        one JSON object per line on stdout, each with \"event\": identified, planned,\n"
    "                progress, result, verified, and last summary; texts for a person go to stderr\n"
    "  --help        show this text\n"
    "\n"
    "SWITCHES are the update program's own, with \"-\" or \"/\", in any case; a switch's value is the\n"
    "next parameter, taken exactly as written:\n"
    "  -B            update the boot code (scans *.HXB images)\n"
    "  -C            handshake again and confirm with \"ATC\" after programming (every device)\n"
    "  -D            write the whole dialogue to log.txt beside the executable\n"
    "  -E            do not restore the factory defaults first\n"
    "  -F FILE       the image for the port of -P (default SORTED.HEX)\n"
    "  -H            program at the set speed without the speed handshake\n"
    "  -L            full flash (Lucent/Agere devices)\n"
    "  -M MODEL      the model of the port of -P (default OctaA)\n"
    "  -P PORT       update only this port with -F and -M, without identifying it\n"
    "  -R BAUD       the port speed (default 38400)\n"
    "  -S, -V, -W    wizard page switches; accepted and without effect here\n"
    "\n"
    "The catalogue, Models.ini and Locks.ini, is read from the executable's directory.\n"
    "A candidate port whose last update was interrupted (its device may wait in its flash loader and\n"
    "answer nothing) is named first, with the command that finishes it: ravelin-cli resume PORT.\n"
    "Ctrl-C cancels: every device stops at its next step and every port is released.\n"
    "Every update is recorded in the update history ('ravelin-cli history'): history.db beside the\n"
    "executable, or $RAVELIN_HISTORY; a history that cannot be written is a warning, not an error.\n"
    "\n"
    "Exit code:\n"
    "  0    every planned device was updated\n"
    "  1    cancelled (Ctrl-C, or the question not answered with y)\n"
    "  2    no image files found\n"
    "  3    no device identified (or none of a model that has images)\n"
    "  7    no image for the model or country of any identified device\n"
    "  9    identification took longer than 25 seconds and no device was identified\n"
    "  4-6, 8, 100, 101  the update program's other run errors\n"
    "  10   the run went through, but at least one device failed\n"
    "  64   usage error\n"
    "  65   the catalogue could not be loaded\n";

struct RunOptions {
    CommandLineSettings settings;
    std::string imagesDir;
    std::string portList;
    bool bYes = false, bDryRun = false, bVerify = false, bJson = false;
};

int usage(const std::string &problem)
{
    std::fprintf(stderr, "ravelin-cli run: %s\n'ravelin-cli run --help' describes the options.\n", problem.c_str());
    return kExitUsage;
}

bool isKnownSwitch(const char *pszParam)
{
    return (pszParam[0] == '-' || pszParam[0] == '/') && pszParam[1] != '\0' && pszParam[2] == '\0' &&
           std::strchr("BCDEFHLMPRSVWbcdefhlmprsvw", pszParam[1]) != nullptr;
}

// Returns 0 when parsed, or the exit code of a usage error (already reported).
int parseArguments(int argc, char **argv, RunOptions *pOptions)
{
    flsh_InitCommandLine(&pOptions->settings);
    for (int i = 1; i < argc; ++i) {
        const char *pszArg = argv[i];
        std::string arg = pszArg;
        bool bLast = i == argc - 1;
        // A value that a switch waits for is taken as written, even when it looks like an option.
        if (pOptions->settings.nPending != flsh_kPendingNone) {
            flsh_ParseCommandArgument(&pOptions->settings, pszArg, bLast);
            continue;
        }
        auto value = [&](std::string *pOut) {
            if (i + 1 >= argc) return false;
            *pOut = argv[++i];
            return true;
        };
        if (arg == "--images") {
            if (!value(&pOptions->imagesDir) || pOptions->imagesDir.empty()) return usage("--images needs a directory");
        } else if (arg == "--ports") {
            if (!value(&pOptions->portList) || pOptions->portList.empty()) return usage("--ports needs a list of ports");
        } else if (arg == "--yes") {
            pOptions->bYes = true;
        } else if (arg == "--dry-run") {
            pOptions->bDryRun = true;
        } else if (arg == "--verify") {
            pOptions->bVerify = true;
        } else if (arg == "--json") {
            pOptions->bJson = true;
        } else if (arg.compare(0, 2, "--") == 0) {
            return usage("unknown option '" + arg + "'");
        } else if (isKnownSwitch(pszArg)) {
            flsh_ParseCommandArgument(&pOptions->settings, pszArg, bLast);
        } else {
            return usage("'" + arg + "' is neither a switch (B C D E F H L M P R S V W) nor an option");
        }
    }
    if (pOptions->settings.nPending != flsh_kPendingNone) return usage("the last switch needs a value");
    if (pOptions->settings.nSpeed <= 0 || pOptions->settings.nSpeed > 115200)
        return usage("-R takes a speed in baud up to 115200");
    return 0;
}

std::string trimmed(const char *pszText)
{
    char szCopy[os_kPathLen];
    os_CopyTrimmed(szCopy, pszText, os_kPathLen);
    return szCopy;
}

std::string baseName(const char *pszPath)
{
    const char *pszSlash = std::strrchr(pszPath, '/');
    return pszSlash != nullptr ? pszSlash + 1 : pszPath;
}

// The image's version as the device's is shown ("1.07" for PADE107.HEX); nothing for a name that
// carries no version.
std::string shownVersion(const ImageEntry &image)
{
    if (image.szVersionText[0] == '\0') return "";
    char szShown[fwv_kTextLen];
    fwv_ShownText(&image.version, szShown, sizeof szShown);
    return szShown;
}

// Ends the command: the JSON summary, the log closed, the catalogue freed.
struct Finish {
    const RunView &view;
    bool bLog;
    UpdateRun *pRun;
    int operator()(int nCode, int nRunError, int nUpdated, int nTotal, int nSkipped,
                   const std::vector<std::string> &failed) const
    {
        char szBuffer[flsh_kRunErrorTextLen];
        view.summary(nRunError, flsh_RunErrorText(nRunError, szBuffer, sizeof szBuffer), nUpdated, nTotal, nSkipped, failed);
        release();
        return nCode;
    }
    // A usage error: nothing ran, so there is no summary to give.
    int usage(int nCode) const
    {
        release();
        return nCode;
    }
    // The identification threads of ports dropped at the time-out still run and read the catalogue:
    // it goes once every thread the run started has ended (a thread that never does keeps it).
    void release() const
    {
        bool bEnded = flsh_RunWaitThreadsEnded(pRun, kThreadEndWaitMs);
        if (bLog) log_Close();
        if (bEnded) cat_Free();
    }
    int error(UpdateRun *pRun, int nRunError) const
    {
        std::string text = flsh_RunErrorMessage(pRun, nRunError);
        view.note(text);
        int nCode = (*this)(nRunError, nRunError, 0, 0, 0, {});
        return nCode;
    }
};

// ---------------------------------------------------------------------------------------------
// Verification: each updated device identified again, all at once.

struct VerifySlot {
    std::string devicePath;
    DeviceIdentity identity;
};

struct VerifyDone {
    std::mutex mutex;
    std::condition_variable cv;
    int nRemaining = 0;
};

// Never freed: a verify thread's last act is to report here, even while the process ends.
VerifyDone &theVerifyDone()
{
    static VerifyDone *pDone = new VerifyDone;
    return *pDone;
}

std::uint32_t verifyThread(void *pArg)
{
    VerifySlot *pSlot = static_cast<VerifySlot *>(pArg);
    devid_IdentifyPort(&pSlot->identity, pSlot->devicePath.c_str(), nullptr, nullptr);
    VerifyDone &done = theVerifyDone();
    std::lock_guard<std::mutex> lock(done.mutex);
    if (--done.nRemaining == 0) done.cv.notify_all();
    return 0;
}

// Identifies the devices again and marks each whose version is not its image's as failed.
void verifyDevices(UpdateRun *pRun, std::vector<PlanRow> *pRows, const RunView &view, HistRecorder *pHistory,
                   HistRunRecords *pRecords)
{
    std::vector<PlanRow *> targets;
    for (PlanRow &row : *pRows)
        if (row.nImage >= 0 && flsh_RunResult(pRun, row.nDevice) == FR_SUCCESSFUL) targets.push_back(&row);
    if (targets.empty()) return;
    view.status("Verifying " + std::to_string(targets.size()) + " updated device(s)...");
    // Slots live until every thread has reported; they are few and freed with the vector.
    std::vector<VerifySlot> slots(targets.size());
    VerifyDone &done = theVerifyDone();
    {
        std::lock_guard<std::mutex> lock(done.mutex);
        done.nRemaining = static_cast<int>(slots.size());
    }
    for (std::size_t i = 0; i < targets.size(); ++i) {
        slots[i].devicePath = pRun->devices[static_cast<std::size_t>(targets[i]->nDevice)]->pUpdate->szPortPath;
        os_Thread hThread = 0;
        if (!os_StartThread(&hThread, verifyThread, 0, &slots[i])) verifyThread(&slots[i]);
    }
    {
        std::unique_lock<std::mutex> lock(done.mutex);
        done.cv.wait(lock, [&done] { return done.nRemaining == 0; });
    }
    for (std::size_t i = 0; i < targets.size(); ++i) {
        PlanRow &row = *targets[i];
        const RunDevice &device = *pRun->devices[static_cast<std::size_t>(row.nDevice)];
        const ImageEntry &image = pRun->images[static_cast<std::size_t>(row.nImage)];
        const DeviceIdentity &identity = slots[i].identity;
        std::string reported = trimmed(identity.szVersion);
        bool bOk = false;
        if (devid_IsIdentified(identity.nStatus)) {
            FirmwareVersion version;
            ParseDeviceVersion(&version, identity.szVersion, identity.szVersionSuffix, &device.type, nullptr, 0, nullptr, 0);
            bOk = flsh_CompareVersions(version, image.version) == 0;
        }
        if (!bOk)
            row.verifyFailure = reported.empty() ? "updated, but reports no version (identification status " +
                                                       std::to_string(identity.nStatus) + ")"
                                                 : "updated, but reports version " + reported;
        if (HistRunRecord *pRow = hist_RunRecordOf(pRecords, row.nDevice))
            hist_VerifiedDevice(pHistory, &pRow->record, reported.c_str(), row.verifyFailure.c_str());
        view.verified(row, bOk, reported);
    }
}

// ---------------------------------------------------------------------------------------------

// Asks on the terminal; true for "y" or "yes". Ctrl-C or the end of input answer no.
bool confirmed(int nDevices)
{
    std::fprintf(stderr, "Update %d device(s)? [y/N] ", nDevices);
    std::fflush(stderr);
    char szAnswer[64];
    int nRead = os_ReadConsoleLine(szAnswer, sizeof szAnswer);
    if (nRead < 0) {
        std::fputc('\n', stderr);
        return false;
    }
    std::string word = trimmed(szAnswer);
    return os_CompareNoCase(word.c_str(), "y") == 0 || os_CompareNoCase(word.c_str(), "yes") == 0;
}

// Identifies every port of the run, at most kIdentifyPolls one-second polls. False when the user
// cancelled (the threads have then ended). *pbTimedOut when the polls ran out.
bool identifyAll(UpdateRun *pRun, const RunView &view, bool *pbTimedOut)
{
    view.status("Identifying " + std::to_string(pRun->devices.size()) + " port(s); this may take up to 25 seconds...");
    flsh_RunStartIdentification(pRun);
    *pbTimedOut = true;
    for (int nPoll = 0; nPoll < kIdentifyPolls; ++nPoll) {
        flsh_RunWaitAllDone(pRun, kPollMs);
        // Each poll logs every port's status, as the detection page's does.
        if (flsh_RunAllIdentified(pRun)) {
            *pbTimedOut = false;
            break;
        }
        if (os_InterruptRequested()) {
            // Identification does not read the cancel flag: its threads end on their own time-outs,
            // and the ports are released when they have.
            view.status("Cancelling: waiting for the identification of every port to end...");
            flsh_RunCancelAndWait(pRun);
            return false;
        }
    }
    return true;
}

// The single-port mode of -P: the port, the image of -F and the model of -M, no identification.
int addSinglePort(UpdateRun *pRun, const CommandLineSettings &settings, std::vector<PlanRow> *pRows)
{
    CliPort port;
    if (!cli_ParsePortName(settings.szPort, &port)) return usage(std::string("'") + settings.szPort + "' is no port");
    if (settings.model.szName[0] == '\0') return usage("the model of -M is not in the catalogue");
    if (flsh_RunAddPort(pRun, port.devicePath.c_str(), settings.nSpeed) < 0)
        return usage("the port name '" + port.display + "' is too long");
    flsh_RunAddImage(pRun, settings.szHexFile, settings.model);
    RunDevice &device = *pRun->devices[0];
    device.type = settings.model;
    const ModelEntry *pEntry = cat_FindEntryByName(settings.model.szName);
    os_CopyBounded(device.szModel, pEntry != nullptr ? pEntry->szName : settings.model.szName, cat_kNameLen);
    flsh_SetAssumedModel(device.pUpdate, device.szModel);
    device.flags = settings.model.Flags();
    device.bFixedSpeed = settings.bDetection;
    device.country = CountryCode(-1);
    if ((device.flags & FLF_LUCENT) && !settings.bFullFlash) {
        // The Lucent/Agere image check needs the device's flash facts, as the developers page asks them.
        int nStatus = devid_IdentifyLucentPort(&device.pUpdate->identity, port.devicePath.c_str());
        device.pUpdate->flashMode = flsh_FlashModeForStatus(nStatus);
    }
    flsh_RunAssignImage(pRun, 0, 0);
    PlanRow row;
    row.nDevice = 0;
    row.port = port.display;
    row.model = device.szModel;
    row.nImage = 0;
    row.image = baseName(pRun->images[0].szPath);
    row.imageVersion = pRun->images[0].szVersionText;
    row.imageVersionShown = shownVersion(pRun->images[0]);
    pRows->push_back(row);
    return 0;
}

// Names the interrupted updates among the candidate ports before anything else happens to them:
// a device waiting in its loader answers no identification and would otherwise just be missing.
void noteInterrupted(const RunView &view, const std::vector<std::string> &ports)
{
    for (const std::string &notice : cli_InterruptedNotices(&ports)) view.note(notice);
}

} // namespace

int cli_Run(int argc, char **argv)
{
    return cli_RunWith(argc, argv, nullptr);
}

int cli_RunWith(int argc, char **argv, const CliPresetPorts *pPreset)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
    }
    // Before any thread starts, so that every thread inherits the blocked signals.
    os_StartInterruptWatch();

    int nLoad = cat_Load();
    if (nLoad != cat_kLoaded) {
        std::string message = cat_LoadMessage(nLoad);
        for (char &ch : message)
            if (ch == '\r') ch = '\n';
        std::fprintf(stderr, "ravelin-cli run: %s\n", message.c_str());
        return kExitCatalogue;
    }
    RunOptions options;
    int nParsed = parseArguments(argc, argv, &options);
    if (nParsed != 0) {
        cat_Free();
        return nParsed;
    }
    const CommandLineSettings &settings = options.settings;
    bool bLog = settings.bLogging != 0;
    if (bLog) {
        log_SetEnabled(true);
        if (log_Open() == nullptr) cli_ReportLogFailure("ravelin-cli run");
    }
    RunView view(options.bJson, os_StderrIsTerminal());
    UpdateRun run;
    flsh_InitRun(&run);
    Finish finish{view, bLog, &run};
    std::vector<PlanRow> rows;

    if (pPreset != nullptr) {
        int nCode = pPreset->pfnAdd(&run, &rows, pPreset->pContext);
        if (nCode != 0) return finish.usage(nCode);
    } else if (settings.szPort[0] != '\0') {
        int nCode = addSinglePort(&run, settings, &rows);
        if (nCode != 0) return finish.usage(nCode);
        noteInterrupted(view, {rows[0].port});
    } else {
        std::vector<CliPort> ports;
        if (!options.portList.empty()) {
            std::string bad;
            if (!cli_ParsePortList(options.portList, &ports, &bad))
                return finish.usage(usage("'" + bad + "' in --ports is no port or range (COM3, COM5-COM8, /dev/ttyUSB0)"));
        } else {
            for (int n = 1; n <= kDefaultPortCount; ++n) {
                CliPort port;
                cli_ParsePortName("COM" + std::to_string(n), &port);
                ports.push_back(port);
            }
        }
        for (const CliPort &port : ports)
            if (flsh_RunAddPort(&run, port.devicePath.c_str(), settings.nSpeed) < 0)
                return finish.usage(usage("the port name '" + port.display + "' is too long"));
        std::vector<std::string> names;
        for (const CliPort &port : ports) names.push_back(port.display);
        noteInterrupted(view, names);

        flsh_RunSetImageDir(&run, options.imagesDir.c_str());
        if (flsh_RunScanImages(&run, settings.nBootCode) == 0) return finish.error(&run, flsh_kRunNoHexFiles);

        bool bTimedOut = false;
        if (!identifyAll(&run, view, &bTimedOut)) return finish.error(&run, flsh_kRunCancelled);
        if (flsh_RunPostProcess(&run, settings.bDetection) == 0)
            return finish.error(&run, bTimedOut ? flsh_kRunIdentifyTimeout : flsh_kRunNoDevices);
        for (int i = 0; i < static_cast<int>(run.devices.size()); ++i) view.identified(run, i);

        flsh_RunBuildModelList(&run);
        char szDropped[512] = "";
        if (flsh_RunDropModelsWithoutImages(&run, szDropped, sizeof szDropped) > 0) {
            char szMessage[600];
            flsh_NoHexFilesMessage(szDropped, szMessage, sizeof szMessage);
            view.note(szMessage);
        }
        if (run.models.empty()) return finish.error(&run, flsh_kRunNoDevices);

        for (int i = 0; i < static_cast<int>(run.devices.size()); ++i) {
            RunDevice &device = *run.devices[static_cast<std::size_t>(i)];
            PlanRow row;
            row.nDevice = i;
            row.port = flsh_PortDisplayName(device.pUpdate);
            row.model = device.szModel;
            row.version = trimmed(device.pUpdate->identity.szVersion);
            row.country = trimmed(device.pUpdate->identity.szCountry);
            char szReason[flsh_kPlanReasonLen];
            row.nImage = flsh_RunPlanImage(&run, i, szReason, sizeof szReason);
            if (row.nImage >= 0) {
                flsh_RunAssignImage(&run, i, row.nImage);
                row.image = baseName(run.images[static_cast<std::size_t>(row.nImage)].szPath);
                row.imageVersion = run.images[static_cast<std::size_t>(row.nImage)].szVersionText;
                row.imageVersionShown = shownVersion(run.images[static_cast<std::size_t>(row.nImage)]);
            } else {
                row.reason = szReason;
            }
            rows.push_back(row);
        }
    }

    int nPlanned = 0, nSkipped = 0;
    for (const PlanRow &row : rows) (row.nImage >= 0 ? nPlanned : nSkipped)++;
    view.plan(rows);
    if (nPlanned == 0) {
        int nCode = finish.error(&run, flsh_kRunNoHexForModel);
        return nCode;
    }
    if (options.bDryRun) return finish(0, 0, 0, nPlanned, nSkipped, {});
    if (!options.bYes) {
        if (!os_StdinIsTerminal()) {
            view.note("Nothing was updated: --yes is needed to flash when no terminal can confirm.");
            return finish(flsh_kRunCancelled, flsh_kRunCancelled, 0, nPlanned, nSkipped, {});
        }
        if (!confirmed(nPlanned)) return finish.error(&run, flsh_kRunCancelled);
    }

    HistRecorder *pHistory = cli_OpenHistory("ravelin-cli run");
    HistRunRecords records;
    hist_RunBegin(pHistory, &records, &run);
    // A resumed update's record names the record it finishes.
    for (const PlanRow &row : rows)
        if (HistRunRecord *pRecord = hist_RunRecordOf(&records, row.nDevice))
            hist_NoteResumeOf(pHistory, &pRecord->record, row.nResumeOf);
    flsh_RunStartUpdates(&run, settings.nBootCode, settings.bFullFlash, settings.nAfterFlashCheck,
                         settings.bRestoreDefaults,
                         pPreset != nullptr && pPreset->pfnFlash != nullptr ? pPreset->pfnFlash : flsh_RunProtocol);
    bool bCancelled = false;
    for (;;) {
        std::int32_t nLowest = 100;
        char szText[flsh_kStatusTextLen];
        bool bDone = flsh_RunPoll(&run, &nLowest, szText);
        hist_RunPoll(pHistory, &records, &run);
        view.progress(run, rows, nLowest, szText);
        if (bDone) break;
        if (os_InterruptRequested()) {
            bCancelled = true;
            view.status("Cancelling: every device stops at its next step...");
            flsh_RunCancelAndWait(&run);
            hist_RunPoll(pHistory, &records, &run);
            view.progress(run, rows, nLowest, szText);
            break;
        }
        flsh_RunWaitAllDone(&run, kPollMs);
    }
    view.progressDone();
    for (const PlanRow &row : rows)
        if (row.nImage >= 0) view.result(run, row);
    if (options.bVerify && !bCancelled) verifyDevices(&run, &rows, view, pHistory, &records);
    hist_CloseRecorder(pHistory);

    int nUpdated = 0;
    std::vector<CliPort> failedPorts;
    std::vector<std::string> failedNames;
    for (const PlanRow &row : rows) {
        if (row.nImage < 0) continue;
        if (flsh_RunResult(&run, row.nDevice) == FR_SUCCESSFUL && row.verifyFailure.empty()) {
            ++nUpdated;
            continue;
        }
        CliPort port;
        if (cli_ParsePortName(row.port, &port)) failedPorts.push_back(port);
        failedNames.push_back(row.port);
    }
    std::string failedList = cli_FormatPortList(failedPorts);
    view.results(run, rows, nUpdated, nPlanned, failedList);
    if (bCancelled) flsh_RunSetError(&run, flsh_kRunCancelled);
    int nError = flsh_RunGetError(&run);
    int nCode = nError != flsh_kRunNoError ? nError : (failedNames.empty() ? 0 : kExitDevicesFailed);
    nCode = finish(nCode, nError, nUpdated, nPlanned, nSkipped, failedNames);
    flsh_FreeRun(&run);
    return nCode;
}
