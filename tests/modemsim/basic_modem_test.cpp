// The basic AT modem over a real pseudo-terminal: what a host sees for the standard commands.
#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include "fixtures/sim_bank_fixture.h"
#include "modemsim/host_port.h"

namespace {

using modemsim_test::HostPort;

class BasicModemTest : public SimBankTest {
 protected:
  void SetUp() override {
    SimBankTest::SetUp();
    addDevice(
        "port = 1\n"
        "speed = 38400\n"
        "ati.0 = 56000\n"
        "ati.3 = Generic Data/Fax Modem\n"
        "ati.3 += Version 1.20\n");
  }
};

TEST_F(BasicModemTest, EchoesAndAnswersVerbose) {
  HostPort host(portPath(1), B38400);
  ASSERT_TRUE(host.isOpen());
  ASSERT_TRUE(host.write("AT\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  EXPECT_EQ(host.received(), "AT\r\r\nOK\r\n");
  EXPECT_EQ(device(1).state().commands(), std::vector<std::string>{"AT"});
}

TEST_F(BasicModemTest, AnswersAtiWithEveryLine) {
  HostPort host(portPath(1), B38400);
  ASSERT_TRUE(host.write("ATI3\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  EXPECT_EQ(host.received(), "ATI3\r\r\nGeneric Data/Fax Modem\r\nVersion 1.20\r\n\r\nOK\r\n");
  host.clear();
  // Several commands on one line: each information text, then one result.
  ASSERT_TRUE(host.write("ati0i3\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  EXPECT_EQ(host.received(), "ati0i3\r\r\n56000\r\n\r\nGeneric Data/Fax Modem\r\nVersion 1.20\r\n\r\nOK\r\n");
}

TEST_F(BasicModemTest, UnknownCommandsAndUnsetAtiSayError) {
  HostPort host(portPath(1), B38400);
  for (const char* command : {"AT+WOPEN=1\r", "ATI7\r", "AT#MMODEL\r", "ATE5\r", "AT&Q\r"}) {
    host.clear();
    ASSERT_TRUE(host.write(command));
    ASSERT_TRUE(host.readUntil("\r\n", HostPort::kWaitMs)) << command;
    ASSERT_TRUE(host.readUntil("ERROR\r\n")) << command << ": " << host.received();
    EXPECT_EQ(host.received().find("OK"), std::string::npos) << command;
  }
}

TEST_F(BasicModemTest, EchoOffAndNumericResults) {
  HostPort host(portPath(1), B38400);
  ASSERT_TRUE(host.write("ATE0V0\r"));
  // The echo of this line still happens (E0 acts after it); the result is already numeric.
  ASSERT_TRUE(host.readUntil("ATE0V0\r0\r"));
  host.clear();
  ASSERT_TRUE(host.write("ATI0\r"));
  ASSERT_TRUE(host.readUntil("\n0\r"));
  EXPECT_EQ(host.received(), "56000\r\n0\r");
  host.clear();
  ASSERT_TRUE(host.write("AT%Q\r"));
  ASSERT_TRUE(host.readUntil("4\r"));
  EXPECT_EQ(host.received(), "4\r");
  host.clear();
  // ATZ brings back the settings of the device file.
  ASSERT_TRUE(host.write("ATZ\r"));
  ASSERT_TRUE(host.readUntil("\r\nOK\r\n"));
  EXPECT_EQ(host.received(), "\r\nOK\r\n");
  host.clear();
  ASSERT_TRUE(host.write("AT\r"));
  ASSERT_TRUE(host.readUntil("AT\r\r\nOK\r\n"));
}

TEST_F(BasicModemTest, QuietSilencesResultsButNotInformation) {
  HostPort host(portPath(1), B38400);
  ASSERT_TRUE(host.write("ATE0Q1\r"));
  host.readFor(200);
  EXPECT_EQ(host.received(), "ATE0Q1\r");
  host.clear();
  ASSERT_TRUE(host.write("ATI0\r"));
  ASSERT_TRUE(host.readUntil("56000\r\n"));
  host.readFor(200);
  EXPECT_EQ(host.received(), "\r\n56000\r\n");
}

TEST_F(BasicModemTest, LineEditingRepeatAndRegisters) {
  HostPort host(portPath(1), B38400);
  ASSERT_TRUE(host.write("ATE0\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  host.clear();
  // Noise before the attention prefix is ignored; backspace edits the line.
  ASSERT_TRUE(host.write("xyzATI9\b0\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  EXPECT_EQ(host.received(), "\r\n56000\r\n\r\nOK\r\n");
  host.clear();
  ASSERT_TRUE(host.write("A/"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  EXPECT_EQ(host.received(), "\r\n56000\r\n\r\nOK\r\n");
  host.clear();
  ASSERT_TRUE(host.write("ATS7=45S7?\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  EXPECT_EQ(host.received(), "\r\n045\r\n\r\nOK\r\n");
  EXPECT_EQ(device(1).state().commands(),
            (std::vector<std::string>{"ATE0", "ATI0", "ATI0", "ATS7=45S7?"}));
}

TEST_F(BasicModemTest, RefusesAnOverlongLine) {
  HostPort host(portPath(1), B38400);
  ASSERT_TRUE(host.write("ATE0\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  host.clear();
  ASSERT_TRUE(host.write("AT" + std::string(300, 'S') + "\r"));
  ASSERT_TRUE(host.readUntil("ERROR\r\n"));
  host.clear();
  ASSERT_TRUE(host.write("AT\r"));  // the editor is ready again
  ASSERT_TRUE(host.readUntil("OK\r\n"));
}

TEST_F(BasicModemTest, SettingsOutliveTheHostClosingThePort) {
  {
    HostPort host(portPath(1), B38400);
    ASSERT_TRUE(device(1).waitForHostOpens(1, HostPort::kWaitMs));
    ASSERT_TRUE(host.write("ATE0\r"));
    ASSERT_TRUE(host.readUntil("OK\r\n"));
  }
  ASSERT_TRUE(device(1).waitForHostOpens(0, HostPort::kWaitMs));
  HostPort again(portPath(1), B38400);
  ASSERT_TRUE(again.isOpen());
  ASSERT_TRUE(again.write("AT\r"));
  ASSERT_TRUE(again.readUntil("OK\r\n"));
  EXPECT_EQ(again.received(), "\r\nOK\r\n");
}

// The host's exclusive mode ends with its close, as on a real port, although the simulator keeps the
// terminal open. (Root ignores the flag, so the flag itself is what this looks at.)
TEST_F(BasicModemTest, ExclusiveModeEndsWhenTheHostCloses) {
  {
    HostPort host(portPath(1), B38400);
    ASSERT_TRUE(device(1).waitForHostOpens(1, HostPort::kWaitMs));
    ASSERT_EQ(ioctl(host.fd(), TIOCEXCL), 0);
    int exclusive = 0;
    ASSERT_EQ(ioctl(host.fd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
  }
  ASSERT_TRUE(device(1).waitForHostOpens(0, HostPort::kWaitMs));
  modemsim::Transcript& transcript = device(1).transcript();
  ASSERT_NE(transcript.text().find("host opened the port"), std::string::npos) << transcript.text();
  ASSERT_NE(transcript.text().find("host closed the port"), std::string::npos) << transcript.text();
  HostPort again(portPath(1), B38400);
  ASSERT_TRUE(again.isOpen());
  int exclusive = 1;
  ASSERT_EQ(ioctl(again.fd(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
}

}  // namespace
