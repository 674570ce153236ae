// The run of `ravelin-cli run`, also for the commands that hand it their own ports (resume).
#pragma once

#include <vector>

#include "ravelin/flash/flashinfo.h"
#include "tools/ravelin-cli/cli_run_view.h"

// Ports that a command adds to the run itself, instead of -P or the identification of a bank: the
// run then plans, asks, flashes, verifies, reports and ends exactly as `run` does.
struct CliPresetPorts {
    // Adds the devices with their images and one plan row each; returns 0, or the exit code of a
    // usage error it has reported.
    int (*pfnAdd)(UpdateRun *pRun, std::vector<PlanRow> *pRows, void *pContext) = nullptr;
    void *pContext = nullptr;
    flsh_DeviceThreadBody pfnFlash = nullptr;  // the flash thread body; flsh_RunProtocol when null
};

// `ravelin-cli run` with its arguments (argv[0] the command's name); pPreset null for run itself.
int cli_RunWith(int argc, char **argv, const CliPresetPorts *pPreset);
