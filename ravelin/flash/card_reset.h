// Resetting one port of a multi-port serial card through the card's management driver.
//
// The driver is reached by opening one device and sending three device-control requests: list the
// cards, list a card's ports, reset a port. The driver itself lies outside this program, so it sits
// behind this small interface; the shipped backend has no such device and fails to open it (the
// reset then only logs that, and the handshake goes on). Tests install a fake.
#pragma once

#include <cstdint>

struct DeviceUpdate;

// Device-control codes of the management driver.
constexpr std::uint32_t flsh_kCardListCards = 0x8EE86004;  // no input; 17 bytes out
constexpr std::uint32_t flsh_kCardListPorts = 0x8EE86008;  // 1 byte in (card number); 192 bytes out
constexpr std::uint32_t flsh_kCardResetPort = 0x8EE86014;  // 4 bytes in: card * 16 + port index

constexpr int flsh_kCardListLen = 17;        // count byte + 4 entries of 4 bytes
constexpr int flsh_kCardEntryLen = 4;        // byte 0 card number, byte 2 ports on the card
constexpr int flsh_kPortListLen = 192;       // 16 entries of 12 bytes
constexpr int flsh_kPortEntryLen = 12;       // byte 0 the port's COM number

// The management device's name.
constexpr const char *flsh_kCardDevice = "\\\\.\\OctaMgmt";

struct flsh_CardDriver {
    void *pContext;
    // Opens the device for reading and writing, not shared, existing only. 1 on success; 0 with
    // the system error in *pnError.
    int (*pfnOpen)(void *pContext, const char *pszDevice, std::uint32_t *pnError);
    // One request. 1 on success; 0 with the system error in *pnError.
    int (*pfnControl)(void *pContext, std::uint32_t nCode, const void *pInput, std::uint32_t nInputLen,
                      void *pOutput, std::uint32_t nOutputLen, std::uint32_t *pnError);
    void (*pfnClose)(void *pContext);
};

// Installs the driver used by flsh_ResetCardPort; nullptr puts the shipped backend back.
// The structure must outlive its use.
void flsh_SetCardDriver(const flsh_CardDriver *pDriver);

// Finds the update's port on the cards and resets it; every step is logged, nothing is returned.
void flsh_ResetCardPort(DeviceUpdate *pUpdate);

// The COM number of a port path ("\\.\COM12" gives 12; a native path gives 0).
std::uint32_t flsh_PortNumber(const char *pszPortPath);
