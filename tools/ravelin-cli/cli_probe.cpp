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
#include "ravelin/ident/devid.h"
#include "ravelin/support/log.h"
#include "ravelin/support/oswin32.h"
#include "tools/ravelin-cli/commands.h"
#include "tools/ravelin-cli/json_text.h"

namespace {

const char kDevicePrefix[] = "\\\\.\\";   // the device namespace: \\.\COM3
const int kDefaultPortCount = 36;

const char kHelp[] =
    "usage: ravelin-cli probe [PORT ...] [--json] [--log]\n"
    "\n"
    "Identifies the devices on the named serial ports, all ports at once with one thread each: the\n"
    "model (as the catalogue names it), firmware version, country setting and special build, and for\n"
    "Lucent/Agere devices their flash facts. A device that does not answer at 38400 baud is tried again\n"
    "at 115200 baud, so a silent port takes about 18 seconds.\n"
    "\n"
    "  PORT        COM1 ... COMn, or a native device path such as /dev/ttyUSB0.\n"
    "              COM1 to COM36 when no port is named. COMn is the entry COMn of the directory\n"
    "              $SERIAL_PORTS_DIR when that is set and holds it, else /dev/ttyS<n-1>.\n"
    "  --json      print one JSON array: one object per port that could be opened, in port order\n"
    "              (COM ports by number, then native paths as named),\n"
    "              with the keys \"port\", \"status\", \"model\", \"version\", \"country\",\n"
    "              \"special_build\", \"version_suffix\" and, for statuses 9 and 10, \"lucent\":\n"
    "              {\"sector_size\", \"type\", \"flash_version\", \"variant\"}\n"
    "  --log       write the whole dialogue to log.txt beside the executable\n"
    "  --help      show this text\n"
    "\n"
    "Without --json: one aligned row per port that could be opened: port, status, model, version,\n"
    "country, special build. Ports that cannot be opened (status 1) are left out.\n"
    "\n"
    "Status: 0 identified; 1 port not opened; 2 no catalogue model in the ATI, ATI2 or ATI4 answers;\n"
    "3 no version, or no ATI3 answer; 4 aborted; 5 model or version answer missing;\n"
    "6 AT%I not answered; 7 AT%I answered other than 0; 8 Lucent/Agere device did not answer;\n"
    "9 Lucent/Agere facts read; 10 Lucent/Agere flash query not answered; 11 no answer at 38400 nor\n"
    "at 115200 baud.\n"
    "\n"
    "The catalogue, Models.ini and Locks.ini, is read from the executable's directory.\n"
    "\n"
    "Exit code: 0 when at least one device was identified (status 0, 9 or 10), 3 when none was,\n"
    "2 for a catalogue that fails to load or a usage error.\n";

struct ProbeSlot {
    unsigned long nNumber = 0;  // n of COMn; 0 for a native path
    std::string display;     // "COM3" or "/dev/ttyUSB0"
    std::string devicePath;  // "\\.\COM3" or "\\.\/dev/ttyUSB0"
    DeviceIdentity identity;
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

void ProbeOne(ProbeSlot *pSlot)
{
    devid_IdentifyPort(&pSlot->identity, pSlot->devicePath.c_str(), nullptr, nullptr);
}

std::uint32_t ProbeThread(void *pArg)
{
    ProbeOne(static_cast<ProbeSlot *>(pArg));
    Completion &done = TheCompletion();
    std::lock_guard<std::mutex> lock(done.mutex);
    if (--done.nRemaining == 0) done.cv.notify_all();
    return 0;
}

bool EqualsNoCase(const char *pszA, const char *pszB)
{
    return os_CompareNoCase(pszA, pszB) == 0;
}

// "COM3" (any case), "\\.\COM3" or a native path; false when the text names no port.
bool ParsePort(const std::string &text, ProbeSlot *pSlot)
{
    std::string name = text;
    if (name.compare(0, sizeof kDevicePrefix - 1, kDevicePrefix) == 0) name = name.substr(sizeof kDevicePrefix - 1);
    if (!name.empty() && name[0] == '/') {
        pSlot->display = name;
        pSlot->devicePath = kDevicePrefix + name;
        return true;
    }
    if (name.size() < 4 || !EqualsNoCase(name.substr(0, 3).c_str(), "COM")) return false;
    unsigned long nNumber = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || nNumber > 99999) return false;
        nNumber = nNumber * 10 + static_cast<unsigned long>(name[i] - '0');
    }
    if (nNumber == 0) return false;
    pSlot->nNumber = nNumber;
    pSlot->display = "COM" + std::to_string(nNumber);
    pSlot->devicePath = kDevicePrefix + pSlot->display;
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
        if (id.nStatus == devid_cOpenFailed) continue;
        out += bFirst ? "\n  {" : ",\n  {";
        bFirst = false;
        out += "\"port\": " + cli_JsonString(slot.display);
        out += ", \"status\": " + std::to_string(id.nStatus);
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
        if (id.nStatus == devid_cOpenFailed) continue;
        rows.push_back({Printable(slot.display), std::to_string(id.nStatus), Printable(Trimmed(id.szModel)),
                        Printable(Trimmed(id.szVersion)), Printable(Trimmed(id.szCountry)),
                        Printable(Trimmed(id.szSpecialBuild))});
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto &row : rows)
        for (std::size_t i = 0; i < row.size(); ++i)
            if (row[i].size() > widths[i]) widths[i] = row[i].size();
    for (const auto &row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::printf("%s\n", line.c_str());
    }
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
            if (arg.empty() || arg[0] == '-' || !ParsePort(arg, &slot)) {
                std::fprintf(stderr, "ravelin-cli probe: '%s' is neither a port (COM3, /dev/ttyUSB0) nor an option\n",
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

    if (bLog) {
        log_SetEnabled(true);
        log_Open();
    }
    int nLoad = cat_Load();
    if (nLoad != cat_kLoaded) {
        PrintCatalogueError(nLoad);
        if (bLog) log_Close();
        return 2;
    }

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

    if (bJson) PrintJson(slots);
    else PrintTable(slots);
    std::fflush(stdout);

    bool bAnyIdentified = false;
    for (const ProbeSlot &slot : slots)
        if (devid_IsIdentified(slot.identity.nStatus)) bAnyIdentified = true;
    cat_Free();
    if (bLog) log_Close();
    return bAnyIdentified ? 0 : 3;
}
