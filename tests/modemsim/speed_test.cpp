// Speed fidelity and the line-rate throttle.
#include <gtest/gtest.h>

#include "fixtures/sim_bank_fixture.h"
#include "modemsim/host_port.h"

namespace {

using modemsim_test::HostPort;
using modemsim_test::nowMs;

class SpeedTest : public SimBankTest {};

TEST(Garble, NeverGivesTextNorTheByteItself) {
  for (int b = 0; b < 256; ++b) {
    uint8_t g = modemsim::garble(static_cast<uint8_t>(b), 115200, 9600);
    EXPECT_GE(g, 0x80) << b;
    EXPECT_NE(g, b);
    EXPECT_EQ(g, modemsim::garble(static_cast<uint8_t>(b), 115200, 9600));  // deterministic
  }
}

TEST_F(SpeedTest, HostAtTheWrongSpeedHearsGarbageAndIsNotUnderstood) {
  modemsim::Device& dev = addDevice("port = 2\nspeed = 115200\n");
  HostPort host(portPath(2), B38400);
  EXPECT_EQ(dev.hostSpeed(), 38400);
  ASSERT_TRUE(host.write("AT\r"));
  // The device echoes what it heard (garbage) and, hearing no command, answers nothing.
  ASSERT_TRUE(host.readCount(3));
  host.readFor(200);
  EXPECT_EQ(host.received().size(), 3u);
  for (unsigned char c : host.received()) EXPECT_GE(c, 0x80);
  EXPECT_TRUE(dev.state().commands().empty());
  EXPECT_NE(dev.transcript().text().find("speed mismatch: host 38400, device 115200"), std::string::npos);

  // At the right speed the same port works at once.
  host.clear();
  ASSERT_TRUE(host.setSpeed(B115200));
  ASSERT_TRUE(host.write("AT\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  EXPECT_EQ(host.received(), "AT\r\r\nOK\r\n");
}

TEST_F(SpeedTest, AutobaudDeviceFollowsTheHostInCommandModeOnly) {
  modemsim::Device& dev = addDevice("port = 2\nspeed = 38400\nautobaud = on\n");
  HostPort host(portPath(2), B19200);
  ASSERT_TRUE(host.write("AT\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  EXPECT_EQ(host.received(), "AT\r\r\nOK\r\n");
  EXPECT_EQ(dev.speed(), 19200);

  // Without the key the same device stays at its own speed and hears garbage.
  modemsim::Device& fixed = addDevice("port = 3\nspeed = 38400\n");
  HostPort other(portPath(3), B19200);
  ASSERT_TRUE(other.write("AT\r"));
  ASSERT_TRUE(other.readCount(3));
  EXPECT_EQ(fixed.speed(), 38400);
  EXPECT_TRUE(fixed.state().commands().empty());
}

TEST_F(SpeedTest, DeviceReadsTheHostsFlowControl) {
  modemsim::Device& dev = addDevice("port = 1\n");
  HostPort host(portPath(1));
  EXPECT_FALSE(dev.hostFlowControl());
  termios t{};
  ASSERT_EQ(tcgetattr(host.fd(), &t), 0);
  t.c_cflag |= CRTSCTS;
  ASSERT_EQ(tcsetattr(host.fd(), TCSANOW, &t), 0);
  EXPECT_TRUE(dev.hostFlowControl());
}

// 1000 bytes at 9600 baud need at least 1000 * 10 / 9600 s on a real line. Only the lower bound is
// asserted: a loaded machine may take longer, never shorter.
TEST_F(SpeedTest, ThrottlePacesAnswersAtTheLineRate) {
  modemsim::DeviceConfig config = modemsim::DeviceConfig::parse("port = 1\nspeed = 9600\necho = off\n");
  config.set("ati.9", std::string(990, 'x'));  // 1000 bytes with "\r\n" around it and "\r\nOK\r\n"
  addDevice(config);
  HostPort host(portPath(1), B9600);
  long long sent = nowMs();
  ASSERT_TRUE(host.write("ATI9\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  long long took = nowMs() - sent;
  ASSERT_EQ(host.received().size(), 1000u);
  double expected_ms = 1000.0 * 10.0 / 9600.0 * 1000.0 * modemsim::timeScale();
  EXPECT_GE(static_cast<double>(took), 0.9 * expected_ms);
}

TEST_F(SpeedTest, InputThrottleHearsAtTheLineRate) {
  modemsim::Device& dev = addDevice("port = 1\nspeed = 9600\necho = off\nthrottle_input = on\n");
  HostPort host(portPath(1), B9600);
  long long sent = nowMs();
  // 997 bytes of noise before "AT\r": the device hears the command a line time after the write.
  ASSERT_TRUE(host.write(std::string(997, 'x') + "AT\r"));
  ASSERT_TRUE(dev.waitForCommands(1, 30000));
  long long took = nowMs() - sent;
  double expected_ms = 1000.0 * 10.0 / 9600.0 * 1000.0 * modemsim::timeScale();
  EXPECT_GE(static_cast<double>(took), 0.9 * expected_ms);
}

TEST_F(SpeedTest, WithoutThrottleAnswersComeAtOnce) {
  // The same answer unthrottled at 300 baud: a paced line would need 34 s, the test waits 5 at most.
  modemsim::DeviceConfig config =
      modemsim::DeviceConfig::parse("port = 1\nspeed = 300\necho = off\nthrottle = off\n");
  config.set("ati.9", std::string(1000, 'x'));
  addDevice(config);
  HostPort host(portPath(1), B300);
  ASSERT_TRUE(host.write("ATI9\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
}

}  // namespace
