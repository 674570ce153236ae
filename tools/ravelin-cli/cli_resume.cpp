// ravelin-cli resume: finishes the updates that the history says were interrupted. Each device is
// updated again with the same image and model, without identification (a device waiting in its
// loader answers none): the maker's own loader at fixed speed at the speed its loader ran at, the
// dot download after a power cycle, the other protocols from their start; then identified again and
// its version checked, as `run --verify` does. The run itself is `run`'s (cli_RunWith).
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/flash/flsh_lucent_image.h"
#include "ravelin/history/hist_resume.h"
#include "ravelin/history/hist_sha256.h"
#include "ravelin/ident/devid.h"
#include "tools/ravelin-cli/cli_interrupted.h"
#include "tools/ravelin-cli/cli_port_list.h"
#include "tools/ravelin-cli/cli_run.h"
#include "tools/ravelin-cli/commands.h"

namespace {

constexpr int kExitUsage = 64;

const char kHelp[] =
    "usage: ravelin-cli resume [PORT ...] [--yes] [--dry-run] [--json]\n"
    "\n"
    "Finishes the updates that the history (history.db beside the executable, or the file that\n"
    "$RAVELIN_HISTORY names) says were interrupted: the latest update of the port never ended, or\n"
    "ended in a way that can leave the device in its flash loader (handshake failure, abort,\n"
    "time-out, the line lost, no dot, ...). Such a device answers no identification, so each is\n"
    "updated again with the same image and model, without identification:\n"
    "  - the maker's own loader at fixed speed, at the speed its loader ran at (when the update was\n"
    "    cut off before the loader was reached, from the start);\n"
    "  - the dot download at fixed speed, once the device has been switched off and on (asked for);\n"
    "  - the other protocols from their start.\n"
    "Then each device is identified again and its version checked, as `run --verify` does. The new\n"
    "records name the records they finish (resume_of). Factory defaults are not restored again.\n"
    "\n"
    "  PORT        only these ports (COMn, the number n alone, or a native path); default: every\n"
    "              port with an interrupted update\n"
    "  --yes       flash without asking (needed when standard input is no terminal)\n"
    "  --dry-run   show what would be done; no device is touched\n"
    "  --json      one JSON object per line on stdout, as `run --json` prints them\n"
    "  --help      show this text\n"
    "\n"
    "Exit code: as `ravelin-cli run`; 0 also when nothing needs finishing, 3 when a named port\n"
    "has no interrupted update, 64 for a usage error.\n";

struct ResumeContext {
    std::vector<HistRecord> records;
};

std::string baseName(const char *pszPath)
{
    const char *pszSlash = std::strrchr(pszPath, '/');
    return pszSlash != nullptr ? pszSlash + 1 : pszPath;
}

// How the plan reads for a person.
std::string planText(const HistRecord &record)
{
    DeviceType model;
    if (!model.SetFromModel(record.szModel)) return "the model is not in the catalogue";
    HistResumePlan plan;
    hist_PlanResume(&record, model.Flags(), &plan);
    if (plan.bPowerCycle) return "the dot download, after the device is switched off and on";
    if (plan.fixedSpeed) return "at fixed speed " + std::to_string(plan.nSpeed) + " baud (the loader waits)";
    return "from the start";
}

// The same image must go on the device again: a file changed since would leave it half of each.
bool sameImage(const HistRecord &record)
{
    if (record.szImageSha256[0] == '\0') return true;  // recorded without its fingerprint
    char szSha[hist_kShaLen];
    return hist_Sha256File(record.szImagePath, szSha, nullptr) && std::strcmp(szSha, record.szImageSha256) == 0;
}

int addRecords(UpdateRun *pRun, std::vector<PlanRow> *pRows, void *pContext)
{
    ResumeContext *pResume = static_cast<ResumeContext *>(pContext);
    for (const HistRecord &record : pResume->records) {
        PlanRow row;
        row.port = record.szPort;
        row.model = record.szModel;
        row.version = record.szVersionBefore;
        row.country = record.szCountry;
        row.image = record.szImage;
        row.imageVersion = record.szImageVersion;
        row.nResumeOf = record.nId;
        CliPort port;
        struct stat image;
        if (!cli_ParsePortName(record.szPort, &port)) {
            row.reason = "the port name is not understood";
        } else if (::stat(record.szImagePath, &image) != 0 || !S_ISREG(image.st_mode)) {
            row.reason = std::string("the image ") + record.szImagePath + " is not there any more";
        } else if (!sameImage(record)) {
            row.reason = std::string("the image ") + record.szImagePath + " has changed since";
        } else {
            row.nDevice = hist_AddResumeDevice(pRun, &record, port.devicePath.c_str());
            if (row.nDevice < 0) row.reason = "the model " + std::string(record.szModel) + " is not in the catalogue";
        }
        if (row.nDevice >= 0) {
            RunDevice &device = *pRun->devices[static_cast<std::size_t>(row.nDevice)];
            row.nImage = device.nImage;
            row.image = baseName(pRun->images[static_cast<std::size_t>(row.nImage)].szPath);
            if ((device.flags & FLF_LUCENT) && device.pUpdate->flashMode != flsh_kFullFlash) {
                // The Lucent/Agere image check needs the device's flash facts, as the one-port path asks them.
                int nStatus = devid_IdentifyLucentPort(&device.pUpdate->identity, port.devicePath.c_str());
                device.pUpdate->flashMode = flsh_FlashModeForStatus(nStatus);
            }
        }
        pRows->push_back(row);
    }
    return 0;
}

} // namespace

int cli_Resume(int argc, char **argv)
{
    std::vector<std::string> ports;
    std::vector<std::string> runArgs = {"resume", "-E", "--verify"};
    bool bJson = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--yes" || arg == "--dry-run" || arg == "--json") {
            runArgs.push_back(arg);
            bJson = bJson || arg == "--json";
            continue;
        }
        CliPort port;
        if (arg.compare(0, 2, "--") == 0 || !cli_ParsePortName(arg, &port)) {
            std::fprintf(stderr, "ravelin-cli resume: '%s' is neither a port nor an option\n"
                                 "'ravelin-cli resume --help' describes the options.\n",
                         arg.c_str());
            return kExitUsage;
        }
        ports.push_back(port.display);
    }

    ResumeContext context;
    std::string error;
    if (!cli_LoadInterrupted(ports.empty() ? nullptr : &ports, &context.records, &error)) {
        std::fprintf(stderr, "ravelin-cli resume: the history cannot be read: %s\n", error.c_str());
        return flsh_kRunNoDevices;
    }
    // A person reads these on stderr with --json, on stdout otherwise.
    std::FILE *pNotes = bJson ? stderr : stdout;
    for (const std::string &port : ports) {
        bool bFound = false;
        for (const HistRecord &record : context.records) bFound = bFound || port == record.szPort;
        if (!bFound) std::fprintf(pNotes, "%s: no interrupted update to finish.\n", port.c_str());
    }
    if (context.records.empty()) {
        if (ports.empty()) std::fprintf(pNotes, "No interrupted update to finish.\n");
        return ports.empty() ? 0 : flsh_kRunNoDevices;
    }
    if (cat_Load() == cat_kLoaded) {  // for the plan's text; the run loads it again itself
        for (const HistRecord &record : context.records) {
            char szNotice[1024];
            hist_InterruptedNotice(&record, szNotice, sizeof szNotice);
            std::fprintf(pNotes, "%s\n  Finishing it with %s: %s.\n", szNotice, record.szImage, planText(record).c_str());
        }
        cat_Free();
    }
    std::fflush(pNotes);

    CliPresetPorts preset;
    preset.pfnAdd = addRecords;
    preset.pContext = &context;
    preset.pfnFlash = hist_ResumeFlash;
    std::vector<char *> args;
    for (std::string &arg : runArgs) args.push_back(&arg[0]);
    args.push_back(nullptr);
    int nCode = cli_RunWith(static_cast<int>(runArgs.size()), args.data(), &preset);
    // A named port without an interrupted update was asked for and not done.
    if (nCode == 0 && context.records.size() < ports.size()) nCode = flsh_kRunNoDevices;
    return nCode;
}
