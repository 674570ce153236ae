// ravelin-cli ports: what each COM port maps to on this machine and whether this user can use it,
// for a service engineer setting up a bench: the path, its group and mode, who holds it, and whether
// a modem manager service is about that opens every new serial port. Then every serial line of the
// machine as udev knows it, with its COM number, and the options that give COM numbers that stay.
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
#include "tools/ravelin-cli/cli_ports_assign.h"
#include "tools/ravelin-cli/json_text.h"
#include "tools/serial-discovery/disc_lines.h"
#include "tools/serial-discovery/disc_rules.h"
#include "tools/serial-discovery/disc_rulesfile.h"
#include "tools/serial-discovery/disc_udev.h"

namespace {

const int kDefaultPortCount = 36;

const char kUdevRule[] = "SUBSYSTEM==\"tty\", KERNEL==\"ttyS*|ttyUSB*|ttyACM*\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"";

const char kUsage[] =
    "usage: ravelin-cli ports [PORT ...] [--json]\n"
    "       ravelin-cli ports --assign [DEVICE=COMn ...] [--by-serial]\n"
    "       ravelin-cli ports --unassign COMn ...\n"
    "       ravelin-cli ports --watch [--assign [--by-serial]]\n";

const char kHelp[] =
    "usage: ravelin-cli ports [PORT ...] [--json]\n"
    "       ravelin-cli ports --assign [DEVICE=COMn ...] [--by-serial]\n"
    "       ravelin-cli ports --unassign COMn ...\n"
    "       ravelin-cli ports --watch [--assign [--by-serial]]\n"
    "\n"
    "One line per port (COM1 to COM36 when none is named): the device path it maps to, whether that\n"
    "exists, its group and mode, whether this user can open it (or why not), and which process holds it.\n"
    "Then every serial line of this machine (USB adapters, built-in and card ports with a UART): its\n"
    "COM number, driver, whether low latency is on and the adapter's latency timer; the lines without a\n"
    "COM number yet; a warning for a line whose CTS is low. Last, whether a modem manager service runs:\n"
    "it opens every new serial port to look for modems and must be kept away from ports being updated\n"
    "(a udev rule setting ID_MM_DEVICE_IGNORE does; every rule of --assign sets it).\n"
    "\n"
    "  PORT     COMn (any case), the number n alone, or a native device path such as /dev/ttyUSB0.\n"
    "           COMn is, in both programs: $SERIAL_PORTS_DIR/COMn when that variable is set; else\n"
    "           /dev/serial/com/COMn when that link exists (a number given by --assign); else\n"
    "           /dev/ttyS<n-1>.\n"
    "  --json   one JSON object: \"ports\", a list of {\"port\", \"path\", \"target\", \"exists\", \"group\",\n"
    "           \"mode\", \"can_open\", \"problem\", \"holder_pid\", \"holder\"}, \"serial_ports\", a list of\n"
    "           {\"device\", \"driver\", \"id_path\", \"by_path\", \"by_id\", \"serial\", \"usb_vendor\",\n"
    "           \"usb_product\", \"com\", \"low_latency\"} (null where unknown), and \"modem_manager\":\n"
    "           {\"running\", \"pid\", \"name\", \"udev_rule\"}\n"
    "\n"
    "COM numbers that stay, kept as udev rules in /etc/udev/rules.d/61-ravelin-com.rules\n"
    "($RAVELIN_COM_RULES names another file); udev links each numbered port as /dev/serial/com/COMn\n"
    "and keeps the modem manager away from it. Changing them needs root (sudo):\n"
    "  --assign             give every serial line without a COM number the lowest free number, in the\n"
    "                       order of their sockets (ID_PATH); numbers of built-in ports with a UART\n"
    "                       (COMn for /dev/ttyS<n-1>) and numbers already given are never reused\n"
    "  --assign DEVICE=COMn give one port (/dev/ttyUSB4, ttyUSB4 or a /dev/serial/by-... link) that number\n"
    "  --by-serial          with --assign: bind the port to its adapter's serial number and interface, so\n"
    "                       the number follows the adapter to any socket (else it stays with the socket)\n"
    "  --unassign COMn      free a number\n"
    "  --watch              print each serial line that appears or goes, until Ctrl-C; with --assign\n"
    "                       each new one gets the next number at once: plug a bench's adapters in one by\n"
    "                       one and they become COM1, COM2, ... in that order\n"
    "--assign prints 'COMn = DEVICE (DESCRIPTION)' for each port it numbered, then asks udev to apply the\n"
    "rules (udevadm control --reload; udevadm trigger --action=add --subsystem-match=tty); when that\n"
    "cannot be done, stderr says what to run.\n"
    "\n"
    "Checking opens each port for a moment (and lets go at once); a port that another program\n"
    "holds is left alone. With $SERIAL_PORTS_DIR set, the machine's own serial lines are listed but not\n"
    "opened.\n"
    "\n"
    "Exit code: 0; 1 when a port that was named cannot be opened, or a rules file could not be read or\n"
    "written, or a number asked for cannot be given; 2 for a usage error.\n";

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

void PrintJson(const std::vector<PortRow> &rows, const std::string &serialPorts, long nManagerPid,
               const std::string &managerName)
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
    out += ",\n " + serialPorts;
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
    if (row.check.bExists && urs_FollowLinks(row.check.szPath, szReal, sizeof szReal) &&
        row.check.szPath != std::string(szReal))
        row.target = szReal;
    pRows->push_back(row);
    return true;
}

// A serial line of the machine and what its line says now.
struct SerialRow {
    DiscPort port;
    DiscLineState line;
};

// Every serial line with its COM number and line state; false (with the reason) when udev cannot be
// asked. With SERIAL_PORTS_DIR set (a simulated bank, a test) the machine's own lines are not opened.
bool CollectSerialPorts(std::vector<SerialRow> *pRows, std::string *pError)
{
    std::vector<DiscPort> ports;
    if (!disc_ListPorts(&ports, pError)) return false;
    DiscRules rules;
    std::string error;
    if (!disc_ReadRules(disc_RulesPath(), &rules, &error))
        std::fprintf(stderr, "ravelin-cli ports: %s (COM numbers of the rules are not shown)\n", error.c_str());
    disc_NumberPorts(rules, &ports);
    const char *pszDir = std::getenv("SERIAL_PORTS_DIR");
    bool bOpen = pszDir == nullptr || *pszDir == '\0';
    for (const DiscPort &port : ports) {
        SerialRow row;
        row.port = port;
        if (bOpen) row.line = disc_ReadLineState(port.node, disc_SystemLineIo());
        pRows->push_back(row);
    }
    return true;
}

std::string ComText(const DiscPort &port) { return port.com != 0 ? "COM" + std::to_string(port.com) : ""; }

std::string LowLatencyText(const SerialRow &row)
{
    if (row.line.nLowLatency == disc_kYes) return "yes";
    if (row.line.nLowLatency == disc_kNo) return "no";
    return row.line.bOpened || row.line.problem.empty() ? "-" : "? (" + row.line.problem + ")";
}

void PrintSerialTable(const std::vector<SerialRow> &rows)
{
    std::printf("\nSerial lines of this machine:\n");
    if (rows.empty()) {
        std::printf("  none\n");
        return;
    }
    std::vector<std::vector<std::string>> cells;
    cells.push_back({"COM", "DEVICE", "DRIVER", "DESCRIPTION", "ID_PATH", "LOW LATENCY", "LATENCY TIMER"});
    for (const SerialRow &row : rows) {
        const DiscPort &port = row.port;
        std::string com = ComText(port);
        cells.push_back({com.empty() ? "-" : com, port.node, port.driver.empty() ? "-" : port.driver, port.description,
                         port.idPath.empty() ? "-" : port.idPath + (port.portNumber.empty() ? "" : " port " + port.portNumber),
                         LowLatencyText(row), port.latencyTimer >= 0 ? std::to_string(port.latencyTimer) + " ms" : "-"});
    }
    std::fputs(cli_AlignedTable(cells).c_str(), stdout);
    const char *pszDir = std::getenv("SERIAL_PORTS_DIR");
    if (pszDir != nullptr && *pszDir != '\0')
        std::printf("(SERIAL_PORTS_DIR is set: COMn above names its entries, these lines were not opened, and their "
                    "COM numbers hold without it.)\n");
    std::string unnumbered;
    for (const SerialRow &row : rows)
        if (row.port.com == 0) unnumbered += (unnumbered.empty() ? "" : ", ") + row.port.node;
    if (!unnumbered.empty())
        std::printf("\nWithout a COM number yet: %s.\nGive them numbers that stay: sudo ravelin-cli ports --assign "
                    "(or plug them in one by one under sudo ravelin-cli ports --watch --assign).\n",
                    unnumbered.c_str());
    for (const SerialRow &row : rows)
        if (row.port.latencyTimer > 1 && row.line.nLowLatency != disc_kYes) {
            std::printf("\nAn adapter holds each answer of a device up to its latency timer; the updates open the "
                        "ports with low latency, which lowers it.\n");
            break;
        }
}

// The downloads that wait for CTS stall on a line whose CTS stays low: say so before an update does.
void WarnLowCts(const std::vector<SerialRow> &rows)
{
    for (const SerialRow &row : rows) {
        if (row.line.nCts != disc_kNo) continue;
        std::string com = ComText(row.port);
        std::fprintf(stderr,
                     "ravelin-cli ports: warning: %s%s: CTS is low; the Rockwell, Siemens and dot downloads wait for "
                     "CTS and will stall: check that the device is on and the cable carries RTS and CTS\n",
                     row.port.node.c_str(), com.empty() ? "" : (" (" + com + ")").c_str());
    }
}

std::string JsonOrNull(const std::string &text) { return text.empty() ? "null" : cli_JsonString(text); }

std::string SerialPortsJson(const std::vector<SerialRow> &rows)
{
    std::string out = "\"serial_ports\": [";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const DiscPort &port = rows[i].port;
        out += i == 0 ? "\n  {" : ",\n  {";
        out += "\"device\": " + cli_JsonString(port.node);
        out += ", \"driver\": " + JsonOrNull(port.driver);
        out += ", \"id_path\": " + JsonOrNull(port.idPath);
        out += ", \"by_path\": " + JsonOrNull(port.byPath);
        out += ", \"by_id\": " + JsonOrNull(port.byId);
        out += ", \"serial\": " + JsonOrNull(port.serial);
        out += ", \"usb_vendor\": " + JsonOrNull(port.usbVendor);
        out += ", \"usb_product\": " + JsonOrNull(port.usbProduct);
        out += ", \"com\": " + JsonOrNull(ComText(port));
        int nLow = rows[i].line.nLowLatency;
        out += std::string(", \"low_latency\": ") + (nLow == disc_kYes ? "true" : nLow == disc_kNo ? "false" : "null") + "}";
    }
    out += rows.empty() ? "]" : "\n ]";
    return out;
}

} // namespace

namespace {

int UsageError(const std::string &message)
{
    std::fprintf(stderr, "ravelin-cli ports: %s\n", message.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

// "COM5" (any case) or "5": n; 0 when the text is no COM number. One reading of port names for all.
int ComNumberOf(const std::string &text)
{
    char szDevicePath[urs_kNameLen + 8];
    int n = urs_ParsePortName(text.c_str(), szDevicePath, sizeof szDevicePath);
    return n > 0 ? n : 0;
}

int ListPorts(const std::vector<std::string> &givenNames, bool bJson)
{
    std::vector<PortRow> rows;
    std::vector<std::string> names = givenNames;
    bool bNamed = !names.empty();
    if (!bNamed)
        for (int n = 1; n <= kDefaultPortCount; ++n) names.push_back("COM" + std::to_string(n));
    for (const std::string &name : names) AddPort(name, bNamed, &rows);

    std::vector<SerialRow> serial;
    std::string discoveryError;
    bool bDiscovered = CollectSerialPorts(&serial, &discoveryError);
    if (!bDiscovered)
        std::fprintf(stderr, "ravelin-cli ports: the machine's serial lines cannot be listed: %s\n",
                     discoveryError.c_str());

    char szManager[64] = "";
    long nManagerPid = urs_FindModemManager(szManager, sizeof szManager);
    if (bJson) {
        PrintJson(rows, SerialPortsJson(serial), nManagerPid, szManager);
    } else {
        PrintTable(rows);
        if (bDiscovered) PrintSerialTable(serial);
        if (nManagerPid != 0)
            std::printf("\nA modem manager service runs (process %ld, %s): it opens every new serial port to look "
                        "for modems and can disturb an update. The ports numbered by 'ravelin-cli ports --assign' "
                        "are kept away from it; for the others use a udev rule, e.g. in "
                        "/etc/udev/rules.d/99-serial-no-modem-manager.rules:\n  %s\n",
                        nManagerPid, szManager, kUdevRule);
        else
            std::printf("\nNo modem manager service runs.\n");
    }
    std::fflush(stdout);
    WarnLowCts(serial);

    for (const PortRow &row : rows)
        if (row.bNamed && row.check.nState != urs_kPortUsable) return 1;
    return 0;
}

} // namespace

int cli_Ports(int argc, char **argv)
{
    bool bJson = false, bAssign = false, bWatch = false, bUnassign = false;
    CliAssignRequest request;
    std::vector<int> freed;
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--json") {
            bJson = true;
        } else if (arg == "--assign") {
            bAssign = true;
        } else if (arg == "--watch") {
            bWatch = true;
        } else if (arg == "--by-serial") {
            request.bBySerial = true;
        } else if (arg == "--unassign") {
            bUnassign = true;
            if (i + 1 >= argc || ComNumberOf(argv[i + 1]) == 0)
                return UsageError("--unassign needs a COM number (COM5)");
            freed.push_back(ComNumberOf(argv[++i]));
        } else if (bAssign && arg.find('=') != std::string::npos && arg[0] != '-') {
            std::string device = arg.substr(0, arg.find('=')), number = arg.substr(arg.find('=') + 1);
            if (device.empty() || ComNumberOf(number) == 0)
                return UsageError("'" + arg + "' is not DEVICE=COMn (/dev/ttyUSB4=COM5)");
            request.chosen.emplace_back(device, ComNumberOf(number));
        } else if (bUnassign && ComNumberOf(arg) != 0) {
            freed.push_back(ComNumberOf(arg));
        } else {
            char szDevicePath[urs_kNameLen + 8];
            if (arg.empty() || arg[0] == '-' || urs_ParsePortName(arg.c_str(), szDevicePath, sizeof szDevicePath) < 0)
                return UsageError("'" + arg + "' is neither a port (COM3, 3, /dev/ttyUSB0) nor an option");
            names.push_back(arg);
        }
    }
    bool bChanges = bAssign || bWatch || bUnassign;
    if (bChanges && (bJson || !names.empty()))
        return UsageError("--assign, --unassign and --watch take no PORT and no --json");
    if (bUnassign && (bAssign || bWatch)) return UsageError("--unassign goes alone");
    if (request.bBySerial && !bAssign) return UsageError("--by-serial goes with --assign");
    if (bWatch && !request.chosen.empty()) return UsageError("--watch --assign numbers each new port; it takes no DEVICE=COMn");
    if (bWatch) return cli_WatchPorts(bAssign, request.bBySerial);
    if (bAssign) return cli_AssignPorts(request);
    if (bUnassign) return cli_UnassignPorts(freed);
    return ListPorts(names, bJson);
}
