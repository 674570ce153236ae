// ravelin-cli flash: one device update on one port, exactly as the update run's flash thread performs
// it, with a progress bar on stderr and the result at the end.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/flash/flashinfo.h"
#include "ravelin/flash/flsh.h"
#include "ravelin/protocols/flsh_choice.h"
#include "ravelin/serial/urs_names.h"
#include "ravelin/support/log.h"
#include "ravelin/support/oswin32.h"
#include "tools/ravelin-cli/cli_interrupted.h"
#include "tools/ravelin-cli/cli_log_failure.h"
#include "tools/ravelin-cli/cli_port_list.h"
#include "tools/ravelin-cli/cli_flash_lucent.h"
#include "tools/ravelin-cli/cli_history.h"
#include "tools/ravelin-cli/cli_interrupt.h"
#include "tools/ravelin-cli/cli_progress.h"
#include "tools/ravelin-cli/commands.h"
#include "tools/ravelin-cli/json_text.h"

namespace {

const char kHelp[] =
    "usage: ravelin-cli flash --port PORT --image FILE --model NAME [options]\n"
    "\n"
    "Writes the Intel HEX image FILE into the device on PORT with the download protocol of the model's\n"
    "controller family (from the catalogue, Models.ini and Locks.ini beside the executable).\n"
    "\n"
    "  --port PORT            COMn (any case), the number n alone, or a native device path such as\n"
    "                         /dev/ttyUSB0 (COMn is the entry COMn of $SERIAL_PORTS_DIR when that is set,\n"
    "                         else /dev/ttyS<n-1>)\n"
    "  --image FILE           the image to write\n"
    "  --model NAME           the device's model as the catalogue names it\n"
    "  --speed BAUD           the speed to program at, lowered to the device's own (default 38400)\n"
    "  --boot-code            update the boot code too\n"
    "  --full-flash           full flash (Lucent/Agere devices): send a new flash loader first\n"
    "  --after-flash          handshake again after programming and confirm with \"ATC\"\n"
    "  --no-restore-defaults  do not restore the factory defaults first\n"
    "  --fixed-speed          skip the speed handshake: program at --speed in 4096-byte blocks\n"
    "  --log                  write the whole dialogue to log.txt beside the executable\n"
    "  --json                 print one JSON object: port, model, result, result_text, detail,\n"
    "                         loader_version, speed (the speed the download ran at),\n"
    "                         highest_block_address, rejected_blocks\n"
    "\n"
    "Progress goes to stderr: a bar on a terminal, one line per change otherwise. Why a port could not\n"
    "be opened, or that the line was lost, goes to stderr too (and to \"detail\" with --json).\n"
    "Ctrl-C or SIGTERM stops the update at its next step (result 2) and releases the port.\n"
    "The update is recorded in the update history ('ravelin-cli history'): history.db beside the\n"
    "executable, or $RAVELIN_HISTORY; a history that cannot be written is a warning, not an error.\n"
    "Exit code: the update result 0-16 (0 Successful, 2 Aborted by user, 3 Bad .HEX file, 7 Unable to\n"
    "open port, 16 Unable to start the update thread), 16 also for any other result, 2 also for a usage\n"
    "or catalogue error.\n";

struct Options {
    std::string port, image, model;
    long speed = 38400;
    bool bootCode = false, fullFlash = false, afterFlash = false, noRestore = false, fixedSpeed = false;
    bool log = false, json = false;
};

int usage(const char *pszProblem)
{
    std::fprintf(stderr, "ravelin-cli flash: %s\n", pszProblem);
    std::fputs("usage: ravelin-cli flash --port PORT --image FILE --model NAME [options]\n"
               "'ravelin-cli flash --help' describes the options.\n",
               stderr);
    return 2;
}

// Returns 0 when parsed, 1 for --help, 2 for a usage error (already reported).
int parseOptions(int argc, char **argv, Options *pOptions)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string *pOut) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') return false;
            *pOut = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") return 1;
        if (arg == "--port") {
            if (!value(&pOptions->port)) return usage("--port needs a port"), 2;
        } else if (arg == "--image") {
            if (!value(&pOptions->image)) return usage("--image needs a file"), 2;
        } else if (arg == "--model") {
            if (!value(&pOptions->model)) return usage("--model needs a model name"), 2;
        } else if (arg == "--speed") {
            std::string text;
            char *pEnd = nullptr;
            if (!value(&text)) return usage("--speed needs a baud rate"), 2;
            pOptions->speed = std::strtol(text.c_str(), &pEnd, 10);
            if (*pEnd != '\0' || pOptions->speed <= 0 || pOptions->speed > 115200)
                return usage("--speed takes a baud rate up to 115200"), 2;
        } else if (arg == "--boot-code") {
            pOptions->bootCode = true;
        } else if (arg == "--full-flash") {
            pOptions->fullFlash = true;
        } else if (arg == "--after-flash") {
            pOptions->afterFlash = true;
        } else if (arg == "--no-restore-defaults") {
            pOptions->noRestore = true;
        } else if (arg == "--fixed-speed") {
            pOptions->fixedSpeed = true;
        } else if (arg == "--log") {
            pOptions->log = true;
        } else if (arg == "--json") {
            pOptions->json = true;
        } else {
            std::string problem = "unknown option '" + arg + "'";
            return usage(problem.c_str()), 2;
        }
    }
    if (pOptions->port.empty()) return usage("--port is required"), 2;
    if (pOptions->image.empty()) return usage("--image is required"), 2;
    if (pOptions->model.empty()) return usage("--model is required"), 2;
    return 0;
}

struct FlashJob {
    DeviceUpdate update;
    std::atomic<bool> bDone{false};
};

// The version an image's name gives ("PADE107.HEX" -> "107"), "" when the name follows no naming rule.
std::string imageVersion(const std::string &path)
{
    std::size_t nSlash = path.rfind('/');
    std::string name = nSlash == std::string::npos ? path : path.substr(nSlash + 1);
    std::size_t nDot = name.rfind('.');
    if (nDot == std::string::npos) return "";
    std::string extension = name.substr(nDot + 1);
    for (char &ch : extension) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    ImageEntry entry;
    return flsh_ReadImageName(name.c_str(), extension.c_str(), &entry) ? entry.szVersionText : "";
}

std::uint32_t flashThread(void *pArg)
{
    FlashJob *pJob = static_cast<FlashJob *>(pArg);
    // The Lucent/Agere facts and image header rules may end the update before the device is touched.
    int nPrepared = cli_PrepareLucentUpdate(&pJob->update);
    if (nPrepared != 0)
        pJob->update.nResult = nPrepared;
    else
        flsh_RunProtocol(&pJob->update);
    pJob->bDone.store(true);
    return 0;
}

} // namespace

int cli_Flash(int argc, char **argv)
{
    Options options;
    int nParsed = parseOptions(argc, argv, &options);
    if (nParsed == 1) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (nParsed != 0)
        return 2;
    char szDevicePath[flsh_kPortPathLen];
    if (urs_ParsePortName(options.port.c_str(), szDevicePath, sizeof szDevicePath) < 0)
        return usage(("'" + options.port + "' is no port (COM1 ... COM" + std::to_string(urs_kMaxComNumber) +
                      ", the number alone, or a device path of at most " + std::to_string(flsh_kPortPathLen - 5) +
                      " characters)").c_str());
    std::string devicePath = szDevicePath;
    // An interrupted update on this port is named before a new one starts over it.
    CliPort named;
    if (cli_ParsePortName(options.port, &named)) {
        std::vector<std::string> ports = {named.display};
        cli_NoteInterrupted(&ports, stderr);
    }

    if (options.image.size() >= static_cast<std::size_t>(os_kPathLen))
        return usage("the image path is too long");

    int nLoad = cat_Load();
    if (nLoad != cat_kLoaded) {
        std::fprintf(stderr, "ravelin-cli flash: the catalogue could not be loaded: %s\n", cat_LoadMessage(nLoad));
        return 2;
    }
    int nModelId = 0;
    if (!cat_FindModelId(options.model.c_str(), &nModelId)) {
        std::fprintf(stderr, "ravelin-cli flash: model '%s' is not in the catalogue\n", options.model.c_str());
        cat_Free();
        return 2;
    }

    // Before the flash thread starts, which must inherit the blocked signals.
    cli_CatchInterrupts("ravelin-cli flash");
    if (options.log) {
        log_SetEnabled(true);
        if (log_Open() == nullptr) cli_ReportLogFailure("ravelin-cli flash");
    }

    // Threads are not joined: the flash thread's last act is to set bDone, after which the job is
    // no longer touched and can be freed.
    FlashJob *pJob = new FlashJob;
    DeviceUpdate *pUpdate = &pJob->update;
    if (!flsh_InitDeviceUpdate(pUpdate, devicePath.c_str())) {
        std::fputs("ravelin-cli flash: out of resources\n", stderr);
        delete pJob;
        return 16;
    }
    os_CopyBounded(pUpdate->szImagePath, options.image.c_str(), os_kPathLen);
    pUpdate->flags = cat_FlagsForId(nModelId);
    // Not identified: the model named here is the device's, for every look-up by model (the
    // Rockwell loader) as after identification.
    const ModelEntry *pEntry = cat_FindEntryByName(options.model.c_str());
    flsh_SetAssumedModel(pUpdate, pEntry != nullptr ? pEntry->szName : options.model.c_str());
    pUpdate->nSpeed = static_cast<std::int32_t>(options.speed);
    pUpdate->keepBootSector = options.bootCode ? 0 : 1;
    pUpdate->restoreDefaults = options.noRestore ? 0 : 1;
    pUpdate->afterFlash = options.afterFlash ? 1 : 0;
    pUpdate->fixedSpeed = options.fixedSpeed ? 1 : 0;
    pUpdate->flashMode = options.fullFlash ? flsh_kFullFlash : flsh_kNormalFlash;
    pUpdate->noProgramming = 0;

    // The record exists before the device is touched: a process killed from here on leaves it unfinished.
    HistRecorder *pHistory = cli_OpenHistory("ravelin-cli flash");
    HistRecord record;
    hist_InitRecord(&record);
    // The model as the catalogue spells it, whatever case the user typed.
    os_CopyBounded(record.szModel, pEntry != nullptr ? pEntry->szName : options.model.c_str(), hist_kTextLen);
    os_CopyBounded(record.szImageVersion, imageVersion(options.image).c_str(), hist_kTextLen);
    hist_BeginDevice(pHistory, &record, pUpdate);

    if (!os_StartThread(&pUpdate->hThread, flashThread, 0, pJob)) {
        // Reported, recorded and ended as every other result is: the device was not touched, and no
        // abort is implied (an abort would send the user to power-cycle a device left in its loader).
        pUpdate->nResult = FR_THREAD_FAILED;
        log_Write(__LINE__, "cli", "<%s> %s", flsh_PortDisplayName(pUpdate), flsh_ResultText(FR_THREAD_FAILED));
        pJob->bDone.store(true);
    }
    // The progress display polls the record as the progress page does, a few times a second.
    CliProgress progress;
    cli_InitProgress(&progress, os_StderrIsTerminal());
    bool bPowerCycleShown = false;
    while (!pJob->bDone.load()) {
        cli_ShowProgress(&progress, pUpdate);
        cli_ShowPowerCycleRequest(pUpdate, &bPowerCycleShown);
        hist_ProgressDevice(pHistory, &record, pUpdate);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    cli_ShowProgress(&progress, pUpdate);
    cli_EndProgress(&progress);
    hist_EndDevice(pHistory, &record, pUpdate);
    hist_CloseRecorder(pHistory);

    int nResult = pUpdate->nResult;
    const char *pszText = flsh_ResultText(nResult);
    if (pUpdate->szResultDetail[0] != '\0')
        std::fprintf(stderr, "ravelin-cli flash: %s: %s\n", flsh_PortDisplayName(pUpdate), pUpdate->szResultDetail);
    if (nResult == FR_ABORTED || nResult == FR_HANDSHAKE_FAILURE)
        cli_PrintLoaderHint("ravelin-cli flash");
    if (options.json) {
        std::printf("{\"port\": %s, \"model\": %s, \"result\": %d, \"result_text\": %s, \"detail\": %s, "
                    "\"loader_version\": %s, \"speed\": %d, \"highest_block_address\": %lu, \"rejected_blocks\": %d}\n",
                    cli_JsonString(flsh_PortDisplayName(pUpdate)).c_str(), cli_JsonString(options.model).c_str(), nResult,
                    cli_JsonString(pszText).c_str(), cli_JsonString(pUpdate->szResultDetail).c_str(),
                    cli_JsonString(pUpdate->szLoaderVersion).c_str(),
                    static_cast<int>(pUpdate->nSpeed), static_cast<unsigned long>(pUpdate->nHighestBlockAddress),
                    static_cast<int>(pUpdate->nRejectedBlocks));
    } else {
        std::printf("%s: %s\n", flsh_PortDisplayName(pUpdate), pszText);
    }
    std::fflush(stdout);
    if (options.log)
        log_Close();
    flsh_FreeDeviceUpdate(pUpdate);
    delete pJob;
    cat_Free();
    // 16 is also "Unable to start the update thread"; any result beyond the table reads as 16 too.
    return nResult >= FR_SUCCESSFUL && nResult <= FR_THREAD_FAILED ? nResult : 16;
}
