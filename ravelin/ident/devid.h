#ifndef RAVELIN_IDENT_DEVID_H
#define RAVELIN_IDENT_DEVID_H

// Device identification: the AT dialogue that finds out which catalogue model answers on a port,
// its firmware version, country setting and special build, and for Lucent/Agere devices the flash
// facts their download protocol needs. The chip family (and so the commands that follow) is known
// from the catalogue as soon as the model is found.
//
// Every routine returns a status or 1/0; nothing throws. Text outputs hold devid_kTextLen bytes
// and are cut silently; device answers are read into buffers of devid_kAnswerLen bytes, so no
// device can make an answer overflow, however much it sends.

#include <cstdint>

struct UrsPort;
struct DeviceUpdate;

// Progress reporting into the owner's update record: (owner, stage) -> nonzero to go on, 0 to
// abort. Spelled exactly as the flash engine spells it, so that its callback passes straight in.
typedef int (*IdentifyCallback)(DeviceUpdate *pOwner, int nStatus);

// Callback stages.
constexpr int devid_kStageStart = 0;        // identification begins
constexpr int devid_kStageWaiting = 1;      // every pass of an answer wait
constexpr int devid_kStageModel1 = 2;       // the model is known (first report)
constexpr int devid_kStageModel2 = 3;       // the model is known (second report)
constexpr int devid_kStageAti1 = 4;         // every pass of the "ATI1\r" wait
constexpr int devid_kStageVersion = 5;      // the version is known

constexpr int devid_kTextLen = 81;          // identity texts: 80 characters and the terminator
constexpr int devid_kAnswerLen = 1024;      // one device answer: 1023 bytes, longer ones are cut

// Answer time-outs in seconds: the update run's detection, and the developers page's Lucent query.
constexpr int devid_kAnswerTimeout = 5;
constexpr int devid_kLucentPortTimeout = 10;

// Identification results.
constexpr int devid_cIdentified = 0;
constexpr int devid_cOpenFailed = 1;
constexpr int devid_cNoModel = 2;
constexpr int devid_cNoVersion = 3;
constexpr int devid_cAborted = 4;
constexpr int devid_cNoAnswer = 5;
constexpr int devid_cTaNoAnswer = 6;
constexpr int devid_cTaNotZero = 7;
constexpr int devid_cLucentNoAnswer = 8;
constexpr int devid_cLucentRead = 9;
constexpr int devid_cLucentNoFlashQuery = 10;
constexpr int devid_cSilent = 11;

// True for the statuses that mean a device was identified (0, 9 and 10).
bool devid_IsIdentified(int nStatus);

// Flash facts of a Lucent/Agere device.
struct LucentFlashInfo {
    int nSectorSize = -1;            // 64 (",40,"), 16 (",10,") or 0; -1 until identified
    int nType = -1;                  // 0-5 from the first character of the "ATI5\r" answer; -1 until identified
    std::uint16_t nFlashVersion = 0; // four characters read as hexadecimal digits
};

// What one identification learned about a device.
struct DeviceIdentity {
    int nStatus = -1;
    char szModel[devid_kTextLen] = "";
    char szVersion[devid_kTextLen] = "";
    char szCountry[devid_kTextLen] = "";
    char szSpecialBuild[devid_kTextLen] = "";
    char szVersionSuffix[devid_kTextLen] = "";
    LucentFlashInfo lucent;
    int nLucentVariant = 0;          // 0, 1, 2: the device accepted "AT&&F\r", "AT&&W\r", "AT&&Z\r"
};

// Opens the port (device path such as "\\\\.\\COM3"), identifies the device at 38400 baud (115200
// when it is silent there) with 5-second answer waits, logs the outcome and closes the port.
// Returns the status and stores it in pIdentity->nStatus.
int devid_IdentifyPort(DeviceIdentity *pIdentity, const char *pszPortPath, IdentifyCallback pfnCallback,
                       DeviceUpdate *pUser);

// Reads only the Lucent/Agere flash facts: opens the port at 115200 baud and runs
// devid_IdentifyLucent with 10-second answer waits. Returns status 1, 8, 9 or 10 and stores it.
int devid_IdentifyLucentPort(DeviceIdentity *pIdentity, const char *pszPortPath);

// The identification dialogue on an open port. Each text output holds devid_kTextLen bytes.
int devid_Identify(UrsPort *pPort, char *pszModel, char *pszVersion, char *pszCountry, char *pszSpecialBuild,
                   char *pszVersionSuffix, LucentFlashInfo *pLucent, int nTimeout, IdentifyCallback pfnCallback,
                   DeviceUpdate *pUser, int *pnLucentVariant);

// Sends one command and waits up to nTimeout seconds for "OK\r\n", capturing the answer after the
// command's echo line into pszAnswer (nAnswerSize bytes; longer answers are cut): only its first
// line when bFirstLineOnly, else everything up to the "OK", trimmed. Returns 1 when "OK\r\n" came
// (or, for a full answer, when the time ran out), else 0. pfnCallback may be null.
int devid_SendCommand(UrsPort *pPort, char *pszAnswer, int nAnswerSize, int nTimeout, IdentifyCallback pfnCallback,
                      DeviceUpdate *pUser, const char *pszCommand, int bFirstLineOnly);

// Sends "ATI1\r": the first answer line becomes the version, the third the country and the fourth
// the special build. Returns 1 when "OK\r\n" came, 0 on abort or time-out.
int devid_ReadATI1(UrsPort *pPort, char *pszVersion, char *pszCountry, char *pszSpecialBuild, int nTimeout,
                   IdentifyCallback pfnCallback, DeviceUpdate *pUser);

// Finds a version (and the word after it, the suffix) in an answer text. Returns 1 when found.
// The suffix is left unchanged when the version word is the last of its line.
int devid_GetVersion(char *pszVersion, const char *pszAnswer, char *pszVersionSuffix);

// Lucent/Agere flash facts on an open port. Returns 8, 9 or 10.
int devid_IdentifyLucent(UrsPort *pPort, LucentFlashInfo *pLucent, int nTimeout, IdentifyCallback pfnCallback,
                         DeviceUpdate *pUser, int *pnVariant);

// The type code of a Lucent/Agere "ATI5\r" answer's first character: C 0, I 1, S 2, U 3, P 4, else 5.
int devid_LucentTypeCode(char chFirst);
// Four characters as one 16-bit value, most significant first: 0-9 and A-F/a-f are hexadecimal
// digits, any other character counts as its own byte value (so a NUL counts as 0).
std::uint16_t devid_ParseFlashVersion(const char achFour[4]);

#endif
