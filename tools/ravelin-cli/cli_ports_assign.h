// ravelin-cli ports --assign, --unassign and --watch: COM numbers that stay, kept as udev rules.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct CliAssignRequest {
    std::vector<std::pair<std::string, int>> chosen;  // DEVICE=COMn, in the order given
    bool bBySerial = false;                            // bind by serial number and interface
};

// --assign: numbers every port that has none (or the chosen ones). Exit code: 0 when the rules file holds
// every number asked for, 1 when it could not be written or a chosen number cannot be given.
int cli_AssignPorts(const CliAssignRequest &request);
// --unassign COMn ...: takes the rules of those numbers out. 0, or 1 (no such rule, file not written).
int cli_UnassignPorts(const std::vector<int> &numbers);
// --watch [--assign]: prints each serial port that appears or goes until Ctrl-C (exit 0); with
// bAssign each new port without a number gets the next one at once. 1 when udev cannot be watched.
int cli_WatchPorts(bool bAssign, bool bBySerial);
