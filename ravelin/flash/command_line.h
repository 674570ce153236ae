// The update program's command line: single-letter switches introduced by "-" or "/", in any case,
// some followed by a value. Read once at start-up into CommandLineSettings, which the start-up code,
// the pages, the run and ravelin-cli read from there.
#pragma once

#include <cstdint>

#include "ravelin/catalogue/devicetype.h"
#include "ravelin/flash/flsh.h"
#include "ravelin/support/oswin32.h"

// What the next parameter will be taken as.
constexpr int flsh_kPendingNone = 0;
constexpr int flsh_kPendingModel = 1;
constexpr int flsh_kPendingPort = 2;
constexpr int flsh_kPendingHexFile = 3;
constexpr int flsh_kPendingSpeed = 4;

constexpr int flsh_kCmdPortLen = os_kPathLen;    // "COM3" or a native path
constexpr const char *flsh_kDefaultCmdModel = "OctaA";
constexpr const char *flsh_kDefaultCmdHexFile = "SORTED.HEX";
constexpr std::int32_t flsh_kDefaultCmdSpeed = 38400;

struct CommandLineSettings {
    std::uint8_t bLogging = 0;           // D: write the diagnostic log
    std::uint8_t bModelPage = 0;         // W: the model page chooses devices by its second list
    std::uint8_t bStatusPage = 0;        // S: the status page follows the progress page
    std::int32_t nBootCode = 0;          // B: update the boot code ("HXB" images)
    std::uint8_t bDetection = 0;         // H: program at the set speed without the speed handshake
    std::uint8_t bPageSet = 0;           // V (toggles): the developers page instead of detection
    std::uint8_t bFullFlash = 0;         // L: flash mode 2 for every device
    std::int32_t nAfterFlashCheck = 0;   // C: after-flash 1 for every device
    std::uint8_t bRestoreDefaults = 1;   // E turns it off
    DeviceType model;                    // M value: the model of the one port of P
    char szPort[flsh_kCmdPortLen] = "";  // P value: single-port mode
    char szHexFile[os_kPathLen] = "";    // F value: the image for the port of P
    std::int32_t nSpeed = flsh_kDefaultCmdSpeed;  // R value, baud
    std::int32_t nPending = flsh_kPendingNone;
};

// The defaults: the model "OctaA" (looked up in the catalogue, which must be loaded), "SORTED.HEX",
// 38400 baud, factory defaults restored, everything else off.
void flsh_InitCommandLine(CommandLineSettings *pSettings);

// Handles one parameter as the splitter hands it over: its text (without the leading "-" or "/" of a
// switch), whether it is a switch, whether it is the last one. A pending value takes the text first;
// then a switch letter applies its effect. Anything else changes nothing.
void flsh_ParseCommandParameter(CommandLineSettings *pSettings, const char *pszText, bool bSwitch, bool bLast);

// Splits the parameters (argv[1] ... argv[argc-1]) and parses each. A parameter that begins with "-"
// or "/" is a switch, except when a value is pending: a value is taken exactly as written, so that
// "-F /home/me/A.HEX" names that file and "-P /dev/ttyUSB0" that port (it still acts as the switch it
// spells, as "/M /B" sets B).
void flsh_ParseCommandLine(CommandLineSettings *pSettings, int argc, const char *const *argv);
// The same for one parameter as written (for front ends that mix these switches with their own).
void flsh_ParseCommandArgument(CommandLineSettings *pSettings, const char *pszParam, bool bLast);
