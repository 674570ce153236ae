// The simulated device bank: everything a test, benchmark or family dialogue needs.
// See tools/modemsim/README.md for the device file format.
#pragma once

#include "tools/modemsim/bank.h"
#include "tools/modemsim/device.h"
#include "tools/modemsim/device_config.h"
#include "tools/modemsim/device_state.h"
#include "tools/modemsim/dialogue.h"
#include "tools/modemsim/time_scale.h"
#include "tools/modemsim/transcript.h"
