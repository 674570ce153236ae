// Port settings: the line codes, the names derived from the port number, and where a COM name leads.
#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "country/PortWriter/PortNames.h"
#include "country/PortWriter/PortSettings.h"
#include "country/PortWriter/SerialPort.h"
#include "portwriter_test_util.h"

namespace {

TEST(CPortSettingsTest, ConvertsCallerCodesToLineCodes) {
    CPortSettings standard(3, 38400, 8, 1, 0, 0);
    EXPECT_EQ(standard.m_portNumber, 3);
    EXPECT_EQ(standard.m_baudRate, 38400);
    EXPECT_EQ(standard.m_dataBits, 8);
    EXPECT_EQ(standard.m_stopBits, CPortSettings::kOneStopBit);
    EXPECT_EQ(standard.m_parity, CPortSettings::kNoParity);
    EXPECT_EQ(standard.m_flowControl, CPortSettings::kFlowNone);
    EXPECT_EQ(standard.m_reserved, 0);

    EXPECT_EQ(CPortSettings(1, 9600, 7, 2, 1, 1).m_stopBits, CPortSettings::kTwoStopBits);
    // The caller's parity codes (none, even, odd, mark, space) are not the line's (none, odd, even, ...).
    EXPECT_EQ(CPortSettings(1, 9600, 7, 1, 1, 0).m_parity, CPortSettings::kEvenParity);
    EXPECT_EQ(CPortSettings(1, 9600, 7, 1, 2, 0).m_parity, CPortSettings::kOddParity);
    EXPECT_EQ(CPortSettings(1, 9600, 7, 1, 3, 0).m_parity, CPortSettings::kMarkParity);
    EXPECT_EQ(CPortSettings(1, 9600, 7, 1, 4, 0).m_parity, CPortSettings::kSpaceParity);
    EXPECT_EQ(CPortSettings::kOddParity, 1);
    EXPECT_EQ(CPortSettings::kEvenParity, 2);
}

TEST(CPortSettingsTest, NamesFollowTheirFormats) {
    CPortSettings settings(3, 38400, 8, 1, 0, 0);
    EXPECT_EQ(settings.PortName(), "COM003");
    EXPECT_EQ(settings.PortName2(), "COM003");
    EXPECT_EQ(CPortSettings(123, 38400, 8, 1, 0, 0).PortName(), "COM123");
    EXPECT_EQ(settings.DisplayName(), "Com 3");
    EXPECT_EQ(settings.ReceivedFaxFileName(7, false), "RX03-07.fax");
    EXPECT_TRUE(std::regex_match(settings.ReceivedFaxFileName(7, true),
                                 std::regex("RX03-07--[0-2][0-9]-[0-5][0-9]-[0-6][0-9]\\.fax")));
    const std::string log = settings.LogFileName();
    EXPECT_TRUE(std::regex_match(
        log, std::regex("LOG-Com3--(0[1-9]|1[0-2])-[0-3][0-9]--[0-2][0-9]-[0-5][0-9]-[0-6][0-9]\\.TXT")))
        << log;
}

TEST(CPortSettingsTest, CreatesAClosedSerialPortOwnedByTheCaller) {
    CPortSettings settings(3, 38400, 8, 1, 0, 0);
    std::unique_ptr<CPort> port(settings.CreatePort());
    ASSERT_NE(dynamic_cast<CSerialPort*>(port.get()), nullptr);
    EXPECT_FALSE(port->IsOpen());
}

TEST(PortNamesTest, ComNameFindsTheEntryInTheSerialPortsDirectory) {
    pw_testing::ScratchDir dir;
    ASSERT_EQ(::symlink("/dev/null", dir.file("COM4").c_str()), 0);
    modemsim_testing::ScopedEnv env("SERIAL_PORTS_DIR", dir.path());
    EXPECT_EQ(ComDeviceName(4), "\\\\.\\COM4");
    EXPECT_EQ(ResolvePortDevicePath("\\\\.\\COM4"), dir.file("COM4"));
    EXPECT_EQ(ResolvePortDevicePath("COM4"), dir.file("COM4"));
    // No entry there: a port that does not exist, never the machine's own /dev/ttyS4.
    EXPECT_EQ(ResolvePortDevicePath("\\\\.\\COM5"), dir.file("COM5"));
}

TEST(PortNamesTest, WithoutTheDirectoryComNIsTtySNMinusOne) {
    modemsim_testing::ScopedEnv env("SERIAL_PORTS_DIR", "");
    EXPECT_EQ(ResolvePortDevicePath("\\\\.\\COM1"), "/dev/ttyS0");
    EXPECT_EQ(ResolvePortDevicePath("COM36"), "/dev/ttyS35");
}

TEST(PortNamesTest, NativePathsPassAndOtherNamesAreRefused) {
    EXPECT_EQ(ResolvePortDevicePath("\\\\.\\/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolvePortDevicePath("LPT1"), "");
    EXPECT_EQ(ResolvePortDevicePath("COM"), "");
    EXPECT_EQ(ResolvePortDevicePath("COM0"), "");
    EXPECT_EQ(ResolvePortDevicePath("COMx"), "");
}

}  // namespace
