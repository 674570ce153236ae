// The COM numbers that stay, kept as udev rules: one rule per port that matches the port's socket
// (ID_PATH and port number) or its adapter's serial number and interface, links it as
// /dev/serial/com/COM<n> and keeps the modem manager away from it. A comment above each rule names
// the adapter. Pure text work: reading and writing the file is in disc_rulesfile.h.
#pragma once

#include <string>
#include <vector>

#include "tools/serial-discovery/disc_port.h"

struct DiscRule {
    int com = 0;               // the n of SYMLINK+="serial/com/COM<n>"
    // What the rule matches; an empty key is not part of it.
    std::string idPath;        // ENV{ID_PATH}
    std::string portNumber;    // ATTRS{port_number}
    std::string kernel;        // KERNEL (a port udev gives no ID_PATH, whose kernel name is fixed)
    std::string serial;        // ENV{ID_SERIAL_SHORT}
    std::string usbInterface;  // ENV{ID_USB_INTERFACE_NUM}
    bool bUnderstood = true;   // false: a rule with keys of its own (written by hand); kept as it is, never matched
    std::string text;          // the rule line as read (rules made here are rendered afresh)
    std::vector<std::string> comments;  // the comment lines right above it, as they are
};

struct DiscRules {
    std::vector<std::string> preamble;  // every line that belongs to no rule, in order
    std::vector<DiscRule> rules;        // in the order of their numbers
};

// Reads a rules file's text; every line is kept (a line that is no rule of ours goes to the preamble,
// a rule of keys we do not know is kept with its number).
DiscRules disc_ParseRules(const std::string &text);
// The file's text: preamble (a header of our own when it is empty), then the rules by number.
std::string disc_RenderRules(const DiscRules &rules);
// The rule line of a rule.
std::string disc_RuleLine(const DiscRule &rule);

// True when the rule matches the port.
bool disc_RuleMatches(const DiscRule &rule, const DiscPort &port);
// Sets every port's COM number: its rule's, else the old rule's (/dev/ttyS<n-1> with a UART), else 0.
void disc_NumberPorts(const DiscRules &rules, std::vector<DiscPort> *pPorts);
// True when the number is taken: a rule holds it, or /dev/ttyS<n-1> is one of the ports with a UART.
bool disc_NumberTaken(const DiscRules &rules, const std::vector<DiscPort> &ports, int nCom);
// The lowest number that is not taken.
int disc_NextFreeNumber(const DiscRules &rules, const std::vector<DiscPort> &ports);

// The rule that binds the port to nCom: by its socket, or with bBySerial by its adapter's serial number
// and interface (false in *pbBySerial when it has no serial number: then by its socket). The other
// ports tell whether the socket alone is unambiguous.
DiscRule disc_MakeRule(const DiscPort &port, int nCom, bool bBySerial, const std::vector<DiscPort> &ports,
                       bool *pbBySerial);
// Puts the rule in, in place of every rule that matched the same port or held the same number.
void disc_SetRule(DiscRules *pRules, const DiscPort &port, const DiscRule &rule);
// Takes out every rule that holds nCom; returns how many there were.
int disc_RemoveNumber(DiscRules *pRules, int nCom);
// The ports without a number in the order --assign numbers them: by ID_PATH, then by kernel name.
std::vector<std::size_t> disc_AssignOrder(const std::vector<DiscPort> &ports);
