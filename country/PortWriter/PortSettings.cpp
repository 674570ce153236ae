#include "country/PortWriter/PortSettings.h"

#include <cstdio>
#include <ctime>

#include "country/PortWriter/SerialPort.h"

namespace {

tm LocalNow() {
    time_t now = std::time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace

uint8_t CPortSettings::StopBitsFromCode(uint8_t stopBitCode) {
    return stopBitCode == 2 ? kTwoStopBits : kOneStopBit;
}

uint8_t CPortSettings::ParityFromCode(uint8_t parityCode) {
    switch (parityCode) {
    case 1: return kEvenParity;
    case 2: return kOddParity;
    case 3: return kMarkParity;
    case 4: return kSpaceParity;
    default: return kNoParity;
    }
}

CPortSettings::CPortSettings(uint8_t portNumber, int32_t baudRate, uint8_t dataBits, uint8_t stopBitCode,
                             uint8_t parityCode, int32_t flowControl)
    : m_portNumber(portNumber),
      m_baudRate(baudRate),
      m_dataBits(dataBits),
      m_stopBits(StopBitsFromCode(stopBitCode)),
      m_parity(ParityFromCode(parityCode)),
      m_flowControl(flowControl) {}

std::string CPortSettings::PortName() const {
    char text[16];
    std::snprintf(text, sizeof text, "COM%3.3d", m_portNumber);
    return text;
}

std::string CPortSettings::PortName2() const { return PortName(); }

std::string CPortSettings::LogFileName() const {
    const tm local = LocalNow();
    char text[64];
    std::snprintf(text, sizeof text, "LOG-Com%d--%2.2d-%2.2d--%2.2d-%2.2d-%2.2d.TXT", m_portNumber, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string CPortSettings::ReceivedFaxFileName(int sequence, bool withTime) const {
    char text[64];
    if (withTime) {
        const tm local = LocalNow();
        std::snprintf(text, sizeof text, "RX%2.2d-%2.2d--%2.2d-%2.2d-%2.2d.fax", m_portNumber, sequence, local.tm_hour,
                      local.tm_min, local.tm_sec);
    } else {
        std::snprintf(text, sizeof text, "RX%2.2d-%2.2d.fax", m_portNumber, sequence);
    }
    return text;
}

CPort* CPortSettings::CreatePort() const { return new CSerialPort(); }

std::string CPortSettings::DisplayName() const {
    char text[16];
    std::snprintf(text, sizeof text, "Com %d", m_portNumber);
    return text;
}
