// COM numbers that stay. Every change reads the rules file afresh, changes it, replaces it at once and
// asks udev to apply it; a number once in the file stays there until --unassign takes it out.
#include "tools/ravelin-cli/cli_ports_assign.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "ravelin/support/oswin32.h"
#include "tools/serial-discovery/disc_rules.h"
#include "tools/serial-discovery/disc_rulesfile.h"
#include "tools/serial-discovery/disc_udev.h"

namespace {

const char kCommand[] = "ravelin-cli ports";

void Warn(const std::string &text) { std::fprintf(stderr, "%s: %s\n", kCommand, text.c_str()); }

// The machine's ports numbered by the rules file; false after saying why.
bool Load(std::vector<DiscPort> *pPorts, DiscRules *pRules, const std::string &path)
{
    std::string error;
    if (!disc_ListPorts(pPorts, &error) || !disc_ReadRules(path, pRules, &error)) {
        Warn(error);
        return false;
    }
    disc_NumberPorts(*pRules, pPorts);
    return true;
}

// Writes the rules and asks udev to apply them; false (the reason said) when the file was not written.
bool Save(const std::string &path, const DiscRules &rules)
{
    std::string error;
    if (!disc_WriteRules(path, rules, &error)) {
        Warn(error);
        return false;
    }
    std::string hint;
    if (!disc_ApplyRules(&hint)) Warn(path + " is written, but " + hint);
    return true;
}

void PrintNumbered(const DiscPort &port)
{
    std::printf("COM%d = %s (%s)\n", port.com, port.node.c_str(), port.description.c_str());
    std::fflush(stdout);
}

// Gives the port nCom (the caller has made sure nobody else holds it).
void Give(DiscPort *pPort, int nCom, bool bBySerial, std::vector<DiscPort> *pPorts, DiscRules *pRules)
{
    bool bSerial = false;
    DiscRule rule = disc_MakeRule(*pPort, nCom, bBySerial, *pPorts, &bSerial);
    if (bBySerial && !bSerial) Warn(pPort->node + " has no serial number: COM" + std::to_string(nCom) + " is bound to its socket");
    disc_SetRule(pRules, *pPort, rule);
    pPort->com = nCom;
    pPort->comFromRule = true;
}

// The port a DEVICE of --assign names: its node, kernel name or one of its links.
DiscPort *FindPort(std::vector<DiscPort> *pPorts, const std::string &device)
{
    for (DiscPort &port : *pPorts)
        if (device == port.node || device == port.kernel || (!port.byPath.empty() && device == port.byPath) ||
            (!port.byId.empty() && device == port.byId))
            return &port;
    return nullptr;
}

// Who else holds nCom: "" when nobody but the port itself.
std::string HolderOf(const DiscRules &rules, const std::vector<DiscPort> &ports, const DiscPort &port, int nCom)
{
    for (const DiscPort &other : ports)
        if (other.com == nCom && other.sysPath != port.sysPath) return other.node;
    for (const DiscRule &rule : rules.rules)
        if (rule.com == nCom && !disc_RuleMatches(rule, port)) return "a rule for a port that is not plugged in";
    return "";
}

std::atomic<DiscMonitor *> g_pMonitor{nullptr};
std::atomic<bool> g_bStop{false};

void OnInterrupt(int)
{
    g_bStop.store(true);
    disc_WakeMonitor(g_pMonitor.load());
}

// Numbers the ports that have none, in the order --assign takes them; the ports it numbered.
std::vector<std::size_t> NumberTheRest(std::vector<DiscPort> *pPorts, DiscRules *pRules, bool bBySerial)
{
    std::vector<std::size_t> order = disc_AssignOrder(*pPorts);
    for (std::size_t i : order) Give(&(*pPorts)[i], disc_NextFreeNumber(*pRules, *pPorts), bBySerial, pPorts, pRules);
    return order;
}

} // namespace

int cli_AssignPorts(const CliAssignRequest &request)
{
    std::string path = disc_RulesPath();
    std::vector<DiscPort> ports;
    DiscRules rules;
    if (!Load(&ports, &rules, path)) return 1;
    std::vector<const DiscPort *> numbered;
    for (const auto &choice : request.chosen) {
        DiscPort *pPort = FindPort(&ports, choice.first);
        if (pPort == nullptr) {
            Warn(choice.first + " is no serial port of this machine ('ravelin-cli ports' lists them)");
            return 1;
        }
        std::string holder = HolderOf(rules, ports, *pPort, choice.second);
        if (!holder.empty()) {
            Warn("COM" + std::to_string(choice.second) + " belongs to " + holder + ": free it first with --unassign COM" +
                 std::to_string(choice.second));
            return 1;
        }
        if (pPort->com == choice.second && pPort->comFromRule && !request.bBySerial) continue;
        Give(pPort, choice.second, request.bBySerial, &ports, &rules);
        numbered.push_back(pPort);
    }
    if (request.chosen.empty())
        for (std::size_t i : NumberTheRest(&ports, &rules, request.bBySerial)) numbered.push_back(&ports[i]);
    if (numbered.empty()) {
        Warn("every serial port has its COM number already; " + path + " is unchanged");
        return 0;
    }
    if (!Save(path, rules)) return 1;
    for (const DiscPort *pPort : numbered) PrintNumbered(*pPort);
    return 0;
}

int cli_UnassignPorts(const std::vector<int> &numbers)
{
    std::string path = disc_RulesPath();
    DiscRules rules;
    std::string error;
    if (!disc_ReadRules(path, &rules, &error)) {
        Warn(error);
        return 1;
    }
    for (int nCom : numbers)
        if (disc_RemoveNumber(&rules, nCom) == 0) {
            Warn("no rule of " + path + " gives COM" + std::to_string(nCom) + "; nothing was changed");
            return 1;
        }
    if (!Save(path, rules)) return 1;
    for (int nCom : numbers) std::printf("COM%d is free\n", nCom);
    return 0;
}

int cli_WatchPorts(bool bAssign, bool bBySerial)
{
    std::string path = disc_RulesPath();
    std::string error;
    // The watch first, then the list: a port that comes in between is seen twice, never missed.
    DiscMonitor *pMonitor = disc_OpenMonitor(&error);
    if (pMonitor == nullptr) {
        Warn(error);
        return 1;
    }
    g_pMonitor.store(pMonitor);
    if (os_CatchInterrupts(OnInterrupt) != 1) Warn("Ctrl-C cannot be caught; it ends the watch at once");

    std::vector<DiscPort> ports;
    DiscRules rules;
    int nExit = 0;
    if (!Load(&ports, &rules, path)) nExit = 1;
    if (nExit == 0 && bAssign) {
        std::vector<std::size_t> numbered = NumberTheRest(&ports, &rules, bBySerial);
        if (!numbered.empty() && !Save(path, rules)) nExit = 1;
        if (nExit == 0)
            for (std::size_t i : numbered) PrintNumbered(ports[i]);
    }
    if (nExit == 0) {
        std::fprintf(stderr, "%s: watching for serial ports that come and go%s; Ctrl-C ends\n", kCommand,
                     bAssign ? ", numbering each new one" : "");
        std::fflush(stderr);
    }
    DiscEvent event;
    while (nExit == 0 && !g_bStop.load() && disc_WaitEvent(pMonitor, &event)) {
        auto known = std::find_if(ports.begin(), ports.end(), [&](const DiscPort &port) {
            return port.sysPath == event.port.sysPath || port.node == event.port.node;
        });
        if (!event.bAdded) {
            if (known == ports.end()) continue;
            std::printf("- %s", known->node.c_str());
            if (known->com != 0) std::printf(" (COM%d)", known->com);
            std::printf(" went\n");
            std::fflush(stdout);
            ports.erase(known);
            continue;
        }
        // udev's trigger after a rules change announces every port again: only new ones count.
        if (known != ports.end()) continue;
        // The file may have been changed meanwhile (another run, a hand edit): its numbers count.
        if (!disc_ReadRules(path, &rules, &error)) {
            Warn(error);
            nExit = 1;
            break;
        }
        ports.push_back(event.port);
        disc_NumberPorts(rules, &ports);
        DiscPort &port = ports.back();
        std::printf("+ %s (%s): %s\n", port.node.c_str(), port.description.c_str(),
                    port.com != 0 ? ("COM" + std::to_string(port.com)).c_str() : "no COM number");
        std::fflush(stdout);
        if (bAssign && port.com == 0) {
            Give(&port, disc_NextFreeNumber(rules, ports), bBySerial, &ports, &rules);
            if (!Save(path, rules)) {
                nExit = 1;
                break;
            }
            PrintNumbered(port);
        }
    }
    g_pMonitor.store(nullptr);
    disc_CloseMonitor(pMonitor);
    return nExit;
}
