#pragma once
// The description of one COM port: number, line parameters and the names derived from the number.

#include <cstdint>
#include <string>

class CPort;

class CPortSettings {
public:
    // Flow-control values.
    enum { kFlowNone = 0, kFlowHardware = 1, kFlowXonXoff = 2 };
    // Stop-bit and parity codes as the line set-up stores them (converted from the caller's codes).
    enum { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };
    enum { kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3, kSpaceParity = 4 };

    // stopBitCode: 1 one stop bit, 2 two. parityCode: 0 none, 1 even, 2 odd, 3 mark, 4 space.
    // flowControl: kFlowNone, kFlowHardware or kFlowXonXoff.
    CPortSettings(uint8_t portNumber, int32_t baudRate, uint8_t dataBits, uint8_t stopBitCode, uint8_t parityCode,
                  int32_t flowControl);
    virtual ~CPortSettings() = default;
    CPortSettings(const CPortSettings&) = default;
    CPortSettings& operator=(const CPortSettings&) = default;

    // "COM%3.3d", e.g. COM003.
    virtual std::string PortName() const;
    virtual std::string PortName2() const;
    // "LOG-Com%d--%2.2d-%2.2d--%2.2d-%2.2d-%2.2d.TXT" of port, month, day, hour, minute, second (local time now).
    virtual std::string LogFileName() const;
    // "RX%2.2d-%2.2d--%2.2d-%2.2d-%2.2d.fax" with the time, "RX%2.2d-%2.2d.fax" without.
    virtual std::string ReceivedFaxFileName(int sequence, bool withTime) const;
    // A new port object, not yet open; the caller owns it.
    virtual CPort* CreatePort() const;
    // "Com %d".
    virtual std::string DisplayName() const;

    uint8_t m_portNumber;
    int32_t m_baudRate;
    uint8_t m_dataBits;
    uint8_t m_stopBits;   // kOneStopBit / kOne5StopBits / kTwoStopBits
    uint8_t m_parity;     // kNoParity ... kSpaceParity
    int32_t m_flowControl;
    int32_t m_reserved = 0;

    static uint8_t StopBitsFromCode(uint8_t stopBitCode);
    static uint8_t ParityFromCode(uint8_t parityCode);
};
