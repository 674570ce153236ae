// ravelin-cli ports: what each COM port maps to on this machine and whether this user can use it,
// for a service engineer setting up a bench: the path, its group and mode, who holds it, and whether
// a modem manager service is about that opens every new serial port.
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ravelin/serial/urs_names.h"
#include "ravelin/serial/urs_portcheck.h"
#include "ravelin/serial/urswin32.h"
#include "tools/ravelin-cli/cli_table.h"
#include "tools/ravelin-cli/commands.h"
#include "tools/ravelin-cli/json_text.h"

namespace {

const int kDefaultPortCount = 36;

const char kUdevRule[] = "SUBSYSTEM==\"tty\", KERNEL==\"ttyS*|ttyUSB*|ttyACM*\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"";

const char kHelp[] =
    "usage: ravelin-cli ports [PORT ...] [--json]\n"
    "\n"
    "One line per port (COM1 to COM36 when none is named): the device path it maps to, whether that\n"
    "exists, its group and mode, whether this user can open it (or why not), and which process holds it.\n"
    "Last, whether a modem manager service runs: it opens every new serial port to look for modems\n"
    "and must be kept away from ports being updated (a udev rule setting ID_MM_DEVICE_IGNORE does).\n"
    "\n"
    "  PORT     COMn (any case), the number n alone, or a native device path such as /dev/ttyUSB0.\n"
    "           COMn is the entry COMn of $SERIAL_PORTS_DIR when that is set, else /dev/ttyS<n-1>.\n"
    "  --json   one JSON object: \"ports\", a list of {\"port\", \"path\", \"target\", \"exists\", \"group\",\n"
    "           \"mode\", \"can_open\", \"problem\", \"holder_pid\", \"holder\"}, and \"modem_manager\":\n"
    "           {\"running\", \"pid\", \"name\", \"udev_rule\"}\n"
    "\n"
    "Checking opens each port for a moment (and lets go at once); a port that another program\n"
    "holds is left alone.\n"
    "\n"
    "Exit code: 0; 1 when a port that was named cannot be opened; 2 for a usage error.\n";

struct PortRow {
    std::string name;        // "COM3" or "/dev/ttyUSB0"
    std::string target;      // where the path finally leads, when that differs from it
    bool bNamed = false;
    UrsPortCheck check;
    std::string problem;     // empty when usable
};

std::string ModeText(unsigned nMode)
{
    char szMode[8];
    std::snprintf(szMode, sizeof szMode, "%04o", nMode);
    return szMode;
}

std::string ShortState(const PortRow &row)
{
    switch (row.check.nState) {
    case urs_kPortUsable: return "yes";
    case urs_kPortMissing: return "no: no such port";
    case urs_kPortInUse: return "no: in use";
    case urs_kPortDenied: return "no: permission denied";
    case urs_kPortNotSerial: return "no: not a serial line";
    default: return "no: " + row.problem;
    }
}

std::string HolderText(const PortRow &row)
{
    if (row.check.nHolderPid == 0) return "-";
    return std::to_string(row.check.nHolderPid) + " (" + row.check.szHolderName + ")";
}

void PrintTable(const std::vector<PortRow> &rows)
{
    std::vector<std::vector<std::string>> cells;
    cells.push_back({"PORT", "PATH", "EXISTS", "GROUP", "MODE", "CAN OPEN", "HELD BY"});
    for (const PortRow &row : rows) {
        std::string path = row.check.szPath;
        if (!row.target.empty()) path += " -> " + row.target;
        cells.push_back({row.name, path, row.check.bExists ? "yes" : "no", row.check.bExists ? row.check.szGroup : "-",
                         row.check.bExists ? ModeText(row.check.nMode) : "-", ShortState(row), HolderText(row)});
    }
    std::fputs(cli_AlignedTable(cells).c_str(), stdout);
}

void PrintJson(const std::vector<PortRow> &rows, long nManagerPid, const std::string &managerName)
{
    std::string out = "{\"ports\": [";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const PortRow &row = rows[i];
        out += i == 0 ? "\n  {" : ",\n  {";
        out += "\"port\": " + cli_JsonString(row.name);
        out += ", \"path\": " + cli_JsonString(row.check.szPath);
        out += ", \"target\": " + cli_JsonString(row.target);
        out += std::string(", \"exists\": ") + (row.check.bExists ? "true" : "false");
        out += ", \"group\": " + cli_JsonString(row.check.bExists ? row.check.szGroup : "");
        out += ", \"mode\": " + cli_JsonString(row.check.bExists ? ModeText(row.check.nMode) : "");
        out += std::string(", \"can_open\": ") + (row.check.nState == urs_kPortUsable ? "true" : "false");
        out += ", \"problem\": " + cli_JsonString(row.problem);
        out += ", \"holder_pid\": " + std::to_string(row.check.nHolderPid);
        out += ", \"holder\": " + cli_JsonString(row.check.nHolderPid != 0 ? row.check.szHolderName : "") + "}";
    }
    out += rows.empty() ? "]" : "\n]";
    out += ",\n \"modem_manager\": {\"running\": ";
    out += nManagerPid != 0 ? "true" : "false";
    out += ", \"pid\": " + std::to_string(nManagerPid);
    out += ", \"name\": " + cli_JsonString(managerName);
    out += ", \"udev_rule\": " + cli_JsonString(kUdevRule) + "}}\n";
    std::fputs(out.c_str(), stdout);
}

bool AddPort(const std::string &text, bool bNamed, std::vector<PortRow> *pRows)
{
    char szDevicePath[urs_kNameLen + 8];
    if (urs_ParsePortName(text.c_str(), szDevicePath, sizeof szDevicePath) < 0) return false;
    PortRow row;
    row.bNamed = bNamed;
    char szName[urs_kNameLen + 1];
    urs_LogNameOf(szDevicePath, szName, sizeof szName);
    row.name = szName;
    urs_CheckPort(szDevicePath, true, &row.check);
    if (row.check.nState != urs_kPortUsable) {
        char szProblem[512];
        urs_DescribePortCheck(&row.check, szProblem, sizeof szProblem);
        row.problem = szProblem;
    }
    char szReal[PATH_MAX];
    if (row.check.bExists && realpath(row.check.szPath, szReal) != nullptr && row.check.szPath != std::string(szReal))
        row.target = szReal;
    pRows->push_back(row);
    return true;
}

} // namespace

int cli_Ports(int argc, char **argv)
{
    bool bJson = false;
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--json") {
            bJson = true;
            continue;
        }
        char szDevicePath[urs_kNameLen + 8];
        if (arg.empty() || arg[0] == '-' || urs_ParsePortName(arg.c_str(), szDevicePath, sizeof szDevicePath) < 0) {
            std::fprintf(stderr, "ravelin-cli ports: '%s' is neither a port (COM3, 3, /dev/ttyUSB0) nor an option\n",
                         arg.c_str());
            std::fputs("usage: ravelin-cli ports [PORT ...] [--json]\n", stderr);
            return 2;
        }
        names.push_back(arg);
    }

    std::vector<PortRow> rows;
    bool bNamed = !names.empty();
    if (!bNamed)
        for (int n = 1; n <= kDefaultPortCount; ++n) names.push_back("COM" + std::to_string(n));
    for (const std::string &name : names) AddPort(name, bNamed, &rows);

    char szManager[64] = "";
    long nManagerPid = urs_FindModemManager(szManager, sizeof szManager);
    if (bJson) {
        PrintJson(rows, nManagerPid, szManager);
    } else {
        PrintTable(rows);
        if (nManagerPid != 0)
            std::printf("\nA modem manager service runs (process %ld, %s): it opens every new serial port to look "
                        "for modems and can disturb an update. Keep it away from the ports with a udev rule, e.g. in "
                        "/etc/udev/rules.d/99-serial-no-modem-manager.rules:\n  %s\n",
                        nManagerPid, szManager, kUdevRule);
        else
            std::printf("\nNo modem manager service runs.\n");
    }
    std::fflush(stdout);

    for (const PortRow &row : rows)
        if (row.bNamed && row.check.nState != urs_kPortUsable) return 1;
    return 0;
}
