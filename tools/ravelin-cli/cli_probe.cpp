// ravelin-cli probe: identifies the devices on serial ports, all ports at once, one thread each, as
// the update wizard's detection does, and prints what answered.
#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/flash/flsh.h"
#include "ravelin/ident/devid.h"
#include "ravelin/serial/urs_names.h"
#include "ravelin/serial/urs_portcheck.h"
#include "ravelin/support/log.h"
#include "ravelin/support/oswin32.h"
#include "tools/ravelin-cli/cli_interrupted.h"
#include "tools/ravelin-cli/cli_log_failure.h"
#include "tools/ravelin-cli/cli_interrupt.h"
#include "tools/ravelin-cli/cli_table.h"
#include "tools/ravelin-cli/commands.h"
#include "tools/ravelin-cli/json_text.h"

namespace {

const int kDefaultPortCount = 36;

const char kHelp[] =
    "usage: ravelin-cli probe [PORT ...] [--json] [--log]\n"
    "\n"
    "Identifies the devices on the named serial ports, all ports at once with one thread each: the\n"
    "model (as the catalogue names it), firmware version, country setting and special build, and for\n"
    "Lucent/Agere devices their flash facts. A device that does not answer at 38400 baud is tried again\n"
    "at 115200 baud, so a silent port takes about 18 seconds.\n"
    "\n"
    "  PORT        COMn (any case), the number n alone, or a native device path such as\n"
    "              /dev/ttyUSB0. COM1 to COM36 when no port is named. COMn is the entry COMn of the\n"
    "              directory $SERIAL_PORTS_DIR when that is set, else /dev/ttyS<n-1>.\n"
    "  --json      print one JSON array, one object per port in port order (COM ports by number,\n"
    "              then native paths as named), with the keys \"port\", \"status\", \"model\",\n"
    "              \"version\", \"country\", \"special_build\", \"version_suffix\" and, for statuses\n"
    "              9 and 10, \"lucent\": {\"sector_size\", \"type\", \"flash_version\", \"variant\"};\n"
    "              a port that could not be opened has only \"port\", \"status\" (1) and \"error\"\n"
    "  --log       write the whole dialogue to log.txt beside the executable\n"
    "  --help      show this text\n"
    "\n"
    "Without --json: one aligned row per port: port, status, model, version, country, special build.\n"
    "Why a port could not be opened goes to stderr: no such port, in use (by which process), permission\n"
    "denied (join the device's group), not a serial line. Of COM1 to COM36 probed by default, ports\n"
    "that do not exist are left out; a port that was named is always shown.\n"
    "\n"
    "Status: 0 identified; 1 port not opened; 2 no catalogue model in the ATI, ATI2 or ATI4 answers;\n"
    "3 no version, or no ATI3 answer; 4 aborted; 5 model or version answer missing;\n"
    "6 AT%I not answered; 7 AT%I answered other than 0; 8 Lucent/Agere device did not answer;\n"
    "9 Lucent/Agere facts read; 10 Lucent/Agere flash query not answered; 11 no answer at 38400 nor\n"
    "at 115200 baud.\n"
    "\n"
    "The catalogue, Models.ini and Locks.ini, is read from the executable's directory.\n"
    "\n"
    "Ctrl-C or SIGTERM stops every identification at its next step and releases the ports.\n"
    "\n"
    "A port whose last update was interrupted is named first on stderr, with the command that\n"
    "finishes it (ravelin-cli resume PORT): its device may wait in its flash loader and answer nothing.\n"
    "\n"
    "Exit code: 0 when at least one device was identified (status 0, 9 or 10), 3 when none was,\n"
    "4 when interrupted, 2 for a catalogue that fails to load or a usage error.\n";

struct ProbeSlot {
    unsigned long nNumber = 0;  // n of COMn; 0 for a native path
    std::string display;     // "COM3" or "/dev/ttyUSB0"
    std::string devicePath;  // "\\.\COM3" or "\\.\/dev/ttyUSB0"
    bool bNamed = false;     // named by the user, not one of the default sweep
    DeviceIdentity identity;
    std::string error;       // why the port could not be opened; empty when it was
    int nPortState = urs_kPortUsable;  // what the port check found after a failed open
};

// Completion count of the probe threads. Threads are never joined; the last thing each does is
// report here. Allocated once and never freed, so that a thread still leaving its report while the
// process ends never touches a destroyed lock.
struct Completion {
    std::mutex mutex;
    std::condition_variable cv;
    int nRemaining = 0;
};

Completion &TheCompletion()
{
    static Completion *pCompletion = new Completion;
    return *pCompletion;
}

// Identification goes on until the user interrupts.
int GoOnUnlessCancelled(DeviceUpdate *, int)
{
    return flsh_IsCancelled() ? 0 : 1;
}

void ProbeOne(ProbeSlot *pSlot)
{
    devid_IdentifyPort(&pSlot->identity, pSlot->devicePath.c_str(), GoOnUnlessCancelled, nullptr);
    if (pSlot->identity.nStatus == devid_cOpenFailed) {
        // Looked at right after the failed open, while what stood in its way is still there.
        UrsPortCheck check;
        char szReason[256];
        pSlot->nPortState = urs_CheckPort(pSlot->devicePath.c_str(), false, &check);
        if (pSlot->nPortState == urs_kPortUsable)
            std::snprintf(szReason, sizeof szReason, "the port could not be set up");
        else
            urs_DescribePortCheck(&check, szReason, sizeof szReason);
        pSlot->error = szReason;
    }
}

// A port of the default sweep that does not exist is no news; every other port that could not be
// opened is shown with its reason.
bool Shown(const ProbeSlot &slot)
{
    if (slot.identity.nStatus != devid_cOpenFailed || slot.bNamed)
        return true;
    return slot.nPortState != urs_kPortMissing;
}

std::uint32_t ProbeThread(void *pArg)
{
    ProbeOne(static_cast<ProbeSlot *>(pArg));
    Completion &done = TheCompletion();
    std::lock_guard<std::mutex> lock(done.mutex);
    if (--done.nRemaining == 0) done.cv.notify_all();
    return 0;
}

// A port as the user names it, through the serial layer's one reading of port names; false when
// the text names no port.
bool ParsePort(const std::string &text, ProbeSlot *pSlot)
{
    char szDevicePath[urs_kNameLen + 8];
    int nNumber = urs_ParsePortName(text.c_str(), szDevicePath, sizeof szDevicePath);
    if (nNumber < 0) return false;
    pSlot->nNumber = static_cast<unsigned long>(nNumber);
    pSlot->devicePath = szDevicePath;
    char szName[urs_kNameLen + 1];
    urs_LogNameOf(szDevicePath, szName, sizeof szName);
    pSlot->display = szName;
    return true;
}

std::string Trimmed(const char *pszText)
{
    char szCopy[devid_kTextLen];
    os_CopyTrimmed(szCopy, pszText, sizeof szCopy);
    return szCopy;
}

// For the table: a control byte or a byte above 0x7E would upset the terminal; it shows as '?'.
std::string Printable(const std::string &text)
{
    std::string out = text;
    for (char &ch : out)
        if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) > 0x7E) ch = '?';
    return out;
}

void PrintJson(const std::vector<ProbeSlot> &slots)
{
    std::string out = "[";
    bool bFirst = true;
    for (const ProbeSlot &slot : slots) {
        const DeviceIdentity &id = slot.identity;
        if (!Shown(slot)) continue;
        out += bFirst ? "\n  {" : ",\n  {";
        bFirst = false;
        out += "\"port\": " + cli_JsonString(slot.display);
        out += ", \"status\": " + std::to_string(id.nStatus);
        if (id.nStatus == devid_cOpenFailed) {
            out += ", \"error\": " + cli_JsonString(slot.error) + "}";
            continue;
        }
        out += ", \"model\": " + cli_JsonString(Trimmed(id.szModel));
        out += ", \"version\": " + cli_JsonString(Trimmed(id.szVersion));
        out += ", \"country\": " + cli_JsonString(Trimmed(id.szCountry));
        out += ", \"special_build\": " + cli_JsonString(Trimmed(id.szSpecialBuild));
        out += ", \"version_suffix\": " + cli_JsonString(Trimmed(id.szVersionSuffix));
        if (id.nStatus == devid_cLucentRead || id.nStatus == devid_cLucentNoFlashQuery) {
            out += ", \"lucent\": {\"sector_size\": " + std::to_string(id.lucent.nSectorSize);
            out += ", \"type\": " + std::to_string(id.lucent.nType);
            out += ", \"flash_version\": " + std::to_string(id.lucent.nFlashVersion);
            out += ", \"variant\": " + std::to_string(id.nLucentVariant) + "}";
        }
        out += "}";
    }
    out += bFirst ? "]\n" : "\n]\n";
    std::fputs(out.c_str(), stdout);
}

void PrintTable(const std::vector<ProbeSlot> &slots)
{
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"PORT", "STATUS", "MODEL", "VERSION", "COUNTRY", "SPECIAL BUILD"});
    for (const ProbeSlot &slot : slots) {
        const DeviceIdentity &id = slot.identity;
        if (!Shown(slot)) continue;
        rows.push_back({Printable(slot.display), std::to_string(id.nStatus), Printable(Trimmed(id.szModel)),
                        Printable(Trimmed(id.szVersion)), Printable(Trimmed(id.szCountry)),
                        Printable(Trimmed(id.szSpecialBuild))});
    }
    std::fputs(cli_AlignedTable(rows).c_str(), stdout);
}

// The catalogue's start-up message is written for a message box, with CRs between its parts; on a
// terminal each CR becomes a line end.
void PrintCatalogueError(int nResult)
{
    std::string message = cat_LoadMessage(nResult);
    for (char &ch : message)
        if (ch == '\r') ch = '\n';
    std::fprintf(stderr, "ravelin-cli: %s\n", message.c_str());
}

} // namespace

int cli_Probe(int argc, char **argv)
{
    bool bJson = false;
    bool bLog = false;
    std::vector<ProbeSlot> slots;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--json") {
            bJson = true;
        } else if (arg == "--log") {
            bLog = true;
        } else {
            ProbeSlot slot;
            slot.bNamed = true;
            if (arg.empty() || arg[0] == '-' || !ParsePort(arg, &slot)) {
                std::fprintf(stderr, "ravelin-cli probe: '%s' is neither a port (COM3, 3, /dev/ttyUSB0) nor an option\n",
                             arg.c_str());
                std::fputs(kHelp, stderr);
                return 2;
            }
            slots.push_back(slot);
        }
    }
    if (slots.empty()) {
        for (int n = 1; n <= kDefaultPortCount; ++n) {
            ProbeSlot slot;
            ParsePort("COM" + std::to_string(n), &slot);
            slots.push_back(slot);
        }
    }

    // Port order: COM ports by number, then native paths as named.
    std::stable_sort(slots.begin(), slots.end(), [](const ProbeSlot &a, const ProbeSlot &b) {
        if ((a.nNumber == 0) != (b.nNumber == 0)) return b.nNumber == 0;
        return a.nNumber < b.nNumber;
    });

    // A device waiting in its flash loader after an interrupted update answers nothing: the history
    // says what happened to it before the probe finds it silent.
    std::vector<std::string> names;
    for (const ProbeSlot &slot : slots) names.push_back(slot.display);
    cli_NoteInterrupted(&names, stderr);

    if (bLog) {
        log_SetEnabled(true);
        if (log_Open() == nullptr) cli_ReportLogFailure("ravelin-cli probe");
    }
    int nLoad = cat_Load();
    if (nLoad != cat_kLoaded) {
        PrintCatalogueError(nLoad);
        if (bLog) log_Close();
        return 2;
    }

    // Before the probe threads start, which must inherit the blocked signals.
    cli_CatchInterrupts("ravelin-cli probe");
    Completion &done = TheCompletion();
    {
        std::lock_guard<std::mutex> lock(done.mutex);
        done.nRemaining = static_cast<int>(slots.size());
    }
    for (ProbeSlot &slot : slots) {
        os_Thread hThread = 0;
        if (!os_StartThread(&hThread, ProbeThread, 0, &slot)) {
            // No thread to spare: this port is probed here, after the others have started.
            ProbeThread(&slot);
        }
    }
    {
        std::unique_lock<std::mutex> lock(done.mutex);
        done.cv.wait(lock, [&done] { return done.nRemaining == 0; });
    }

    for (const ProbeSlot &slot : slots)
        if (!slot.error.empty() && Shown(slot))
            std::fprintf(stderr, "ravelin-cli probe: %s: %s\n", slot.display.c_str(), slot.error.c_str());
    if (bJson) PrintJson(slots);
    else PrintTable(slots);
    std::fflush(stdout);

    bool bAnyIdentified = false;
    for (const ProbeSlot &slot : slots)
        if (devid_IsIdentified(slot.identity.nStatus)) bAnyIdentified = true;
    cat_Free();
    if (bLog) log_Close();
    if (cli_Interrupted()) return 4;
    return bAnyIdentified ? 0 : 3;
}
