#include "tools/serial-discovery/disc_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace {

const char kLinkPrefix[] = "serial/com/COM";

const char kHeader[] =
    "# COM numbers of this machine's serial ports, kept by 'ravelin-cli ports --assign'.\n"
    "# Each rule links one port as /dev/serial/com/COM<n> and keeps the modem manager away from it.\n"
    "# Change it with 'ravelin-cli ports --assign DEVICE=COMn' and '--unassign COMn'.";

std::string Trim(const std::string &text)
{
    std::size_t nBegin = 0, nEnd = text.size();
    while (nBegin < nEnd && std::isspace(static_cast<unsigned char>(text[nBegin]))) ++nBegin;
    while (nEnd > nBegin && std::isspace(static_cast<unsigned char>(text[nEnd - 1]))) --nEnd;
    return text.substr(nBegin, nEnd - nBegin);
}

struct Term {
    std::string key, op, value;
};

// Splits a rule line into its terms KEY OP "VALUE" (commas inside quotes are part of the value).
bool SplitTerms(const std::string &line, std::vector<Term> *pTerms)
{
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ',' || std::isspace(static_cast<unsigned char>(line[i])))) ++i;
        if (i >= line.size()) break;
        Term term;
        while (i < line.size() && line[i] != '=' && line[i] != '+' && line[i] != '!' && line[i] != ':' &&
               line[i] != '-')
            term.key += line[i++];
        while (i < line.size() && line[i] != '"') term.op += line[i++];
        if (i >= line.size()) return false;
        std::size_t nClose = line.find('"', i + 1);
        if (nClose == std::string::npos) return false;
        term.value = line.substr(i + 1, nClose - i - 1);
        i = nClose + 1;
        term.key = Trim(term.key);
        term.op = Trim(term.op);
        pTerms->push_back(term);
    }
    return !pTerms->empty();
}

// A COM link's number, 0 when the value is no COM link of ours.
int ComOfLink(const std::string &value)
{
    std::istringstream in(value);
    for (std::string link; in >> link;) {
        if (link.rfind(kLinkPrefix, 0) != 0) continue;
        std::string digits = link.substr(sizeof kLinkPrefix - 1);
        if (digits.empty() || digits.size() > 3 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            continue;
        int n = std::atoi(digits.c_str());
        if (n > 0) return n;
    }
    return 0;
}

// Reads a rule line: true when it makes a COM link of ours (*pRule filled).
bool ParseRule(const std::string &line, DiscRule *pRule)
{
    std::vector<Term> terms;
    if (!SplitTerms(line, &terms)) return false;
    DiscRule rule;
    rule.text = line;
    for (const Term &term : terms) {
        if (term.key == "SYMLINK" && term.op == "+=") {
            int n = ComOfLink(term.value);
            if (n != 0 && rule.com == 0) {
                rule.com = n;
                continue;
            }
        }
        if (term.key == "SUBSYSTEM" && term.op == "==" && term.value == "tty") continue;
        if (term.key == "ENV{ID_MM_DEVICE_IGNORE}" && term.op == "=") continue;
        std::string *pField = nullptr;
        if (term.op == "==") {
            if (term.key == "ENV{ID_PATH}") pField = &rule.idPath;
            else if (term.key == "ATTRS{port_number}") pField = &rule.portNumber;
            else if (term.key == "KERNEL") pField = &rule.kernel;
            else if (term.key == "ENV{ID_SERIAL_SHORT}") pField = &rule.serial;
            else if (term.key == "ENV{ID_USB_INTERFACE_NUM}") pField = &rule.usbInterface;
        }
        if (pField == nullptr || !pField->empty() || term.value.find_first_of("*?[|") != std::string::npos)
            rule.bUnderstood = false;
        else
            *pField = term.value;
    }
    if (rule.com == 0) return false;
    if (rule.idPath.empty() && rule.kernel.empty() && rule.serial.empty()) rule.bUnderstood = false;
    *pRule = rule;
    return true;
}

std::string Quoted(const std::string &key, const std::string &op, const std::string &value)
{
    return key + op + "\"" + value + "\"";
}

bool SortedByNumber(const DiscRule &a, const DiscRule &b) { return a.com < b.com; }

// The comment above a rule made here: the adapter, as a technician finds it on the bench.
std::string CommentFor(const DiscPort &port, int nCom, bool bBySerial)
{
    std::string text = "# COM" + std::to_string(nCom) + ": " + port.description;
    if (!port.usbVendor.empty()) text += ", USB " + port.usbVendor + ":" + port.usbProduct;
    if (!port.portNumber.empty()) text += ", port " + port.portNumber;
    if (bBySerial) text += ", serial number " + port.serial + ", interface " + port.usbInterface;
    else if (!port.idPath.empty()) text += ", in socket " + port.idPath;
    text += "; " + port.kernel + " when numbered";
    return text;
}

} // namespace

DiscRules disc_ParseRules(const std::string &text)
{
    DiscRules rules;
    std::vector<std::string> pending;  // comment lines right above the next line
    bool bSeenRule = false;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string trimmed = Trim(line);
        if (!trimmed.empty() && trimmed[0] == '#') {
            pending.push_back(line);
            continue;
        }
        DiscRule rule;
        if (!trimmed.empty() && ParseRule(trimmed, &rule)) {
            rule.comments = pending;
            pending.clear();
            rules.rules.push_back(rule);
            bSeenRule = true;
            continue;
        }
        rules.preamble.insert(rules.preamble.end(), pending.begin(), pending.end());
        pending.clear();
        // The blank lines between rules are the file's own layout, written afresh each time: kept,
        // they would pile up in the preamble with every rewrite.
        if (trimmed.empty() && (bSeenRule || (!rules.preamble.empty() && Trim(rules.preamble.back()).empty()))) continue;
        rules.preamble.push_back(line);
    }
    rules.preamble.insert(rules.preamble.end(), pending.begin(), pending.end());
    while (!rules.preamble.empty() && Trim(rules.preamble.back()).empty()) rules.preamble.pop_back();
    std::stable_sort(rules.rules.begin(), rules.rules.end(), SortedByNumber);
    return rules;
}

std::string disc_RuleLine(const DiscRule &rule)
{
    if (!rule.bUnderstood) return rule.text;
    std::string line = Quoted("SUBSYSTEM", "==", "tty");
    if (!rule.kernel.empty()) line += ", " + Quoted("KERNEL", "==", rule.kernel);
    if (!rule.idPath.empty()) line += ", " + Quoted("ENV{ID_PATH}", "==", rule.idPath);
    if (!rule.serial.empty()) line += ", " + Quoted("ENV{ID_SERIAL_SHORT}", "==", rule.serial);
    if (!rule.usbInterface.empty()) line += ", " + Quoted("ENV{ID_USB_INTERFACE_NUM}", "==", rule.usbInterface);
    if (!rule.portNumber.empty()) line += ", " + Quoted("ATTRS{port_number}", "==", rule.portNumber);
    line += ", " + Quoted("SYMLINK", "+=", kLinkPrefix + std::to_string(rule.com));
    line += ", " + Quoted("ENV{ID_MM_DEVICE_IGNORE}", "=", "1");
    return line;
}

std::string disc_RenderRules(const DiscRules &rules)
{
    std::string text;
    if (rules.preamble.empty()) text += std::string(kHeader) + "\n";
    for (const std::string &line : rules.preamble) text += line + "\n";
    std::vector<DiscRule> sorted = rules.rules;
    std::stable_sort(sorted.begin(), sorted.end(), SortedByNumber);
    for (const DiscRule &rule : sorted) {
        text += "\n";
        for (const std::string &comment : rule.comments) text += comment + "\n";
        text += disc_RuleLine(rule) + "\n";
    }
    return text;
}

bool disc_RuleMatches(const DiscRule &rule, const DiscPort &port)
{
    if (!rule.bUnderstood) return false;
    return (rule.idPath.empty() || rule.idPath == port.idPath) &&
           (rule.portNumber.empty() || rule.portNumber == port.portNumber) &&
           (rule.kernel.empty() || rule.kernel == port.kernel) &&
           (rule.serial.empty() || rule.serial == port.serial) &&
           (rule.usbInterface.empty() || rule.usbInterface == port.usbInterface);
}

void disc_NumberPorts(const DiscRules &rules, std::vector<DiscPort> *pPorts)
{
    for (DiscPort &port : *pPorts) {
        port.com = 0;
        port.comFromRule = false;
        for (const DiscRule &rule : rules.rules)
            if (disc_RuleMatches(rule, port)) {
                port.com = rule.com;
                port.comFromRule = true;
                break;
            }
        if (port.com == 0) port.com = disc_BuiltInComNumber(port);
    }
}

bool disc_NumberTaken(const DiscRules &rules, const std::vector<DiscPort> &ports, int nCom)
{
    for (const DiscRule &rule : rules.rules)
        if (rule.com == nCom) return true;
    for (const DiscPort &port : ports)
        if (disc_BuiltInComNumber(port) == nCom) return true;
    return false;
}

int disc_NextFreeNumber(const DiscRules &rules, const std::vector<DiscPort> &ports)
{
    int n = 1;
    while (disc_NumberTaken(rules, ports, n)) ++n;
    return n;
}

DiscRule disc_MakeRule(const DiscPort &port, int nCom, bool bBySerial, const std::vector<DiscPort> &ports,
                       bool *pbBySerial)
{
    DiscRule rule;
    rule.com = nCom;
    bool bSerial = bBySerial && !port.serial.empty();
    if (pbBySerial != nullptr) *pbBySerial = bSerial;
    if (bSerial) {
        rule.serial = port.serial;
        rule.usbInterface = port.usbInterface;
        rule.portNumber = port.portNumber;
    } else if (!port.idPath.empty()) {
        rule.idPath = port.idPath;
        rule.portNumber = port.portNumber;
        // Two lines in one socket without port numbers (ports of one card function): the kernel name
        // tells them apart, as it is fixed by the card.
        for (const DiscPort &other : ports)
            if (other.kernel != port.kernel && other.idPath == port.idPath && other.portNumber == port.portNumber)
                rule.kernel = port.kernel;
    } else {
        rule.kernel = port.kernel;
    }
    rule.comments.push_back(CommentFor(port, nCom, bSerial));
    rule.text = disc_RuleLine(rule);
    return rule;
}

void disc_SetRule(DiscRules *pRules, const DiscPort &port, const DiscRule &rule)
{
    std::vector<DiscRule> &list = pRules->rules;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const DiscRule &old) { return old.com == rule.com || disc_RuleMatches(old, port); }),
               list.end());
    list.push_back(rule);
    std::stable_sort(list.begin(), list.end(), SortedByNumber);
}

int disc_RemoveNumber(DiscRules *pRules, int nCom)
{
    std::vector<DiscRule> &list = pRules->rules;
    std::size_t nBefore = list.size();
    list.erase(std::remove_if(list.begin(), list.end(), [&](const DiscRule &old) { return old.com == nCom; }),
               list.end());
    return static_cast<int>(nBefore - list.size());
}

std::vector<std::size_t> disc_AssignOrder(const std::vector<DiscPort> &ports)
{
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < ports.size(); ++i)
        if (ports[i].com == 0) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (ports[a].idPath != ports[b].idPath) return ports[a].idPath < ports[b].idPath;
        return disc_KernelNameLess(ports[a].kernel, ports[b].kernel);
    });
    return order;
}
