// Each injected fault, as the host sees it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "fixtures/sim_bank_fixture.h"
#include "modemsim/host_port.h"

namespace {

using modemsim_test::HostPort;
using modemsim_test::nowMs;

class FaultTest : public SimBankTest {
 protected:
  // A device on COM1 at 115200 with echo off, so that answers are the only bytes the host gets.
  modemsim::Device& addFaulty(const std::string& faults) {
    return addDevice("port = 1\necho = off\nati.0 = 56000\n" + faults);
  }
  static bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
  }
};

TEST_F(FaultTest, SilentDeviceHearsButNeverAnswers) {
  modemsim::Device& dev = addFaulty("fault.silent = on\n");
  HostPort host(portPath(1));
  ASSERT_TRUE(host.write("AT\r"));
  ASSERT_TRUE(dev.waitForCommands(1, HostPort::kWaitMs));
  host.readFor(300);
  EXPECT_EQ(host.received(), "");
  EXPECT_EQ(dev.state().commands(), std::vector<std::string>{"AT"});
  EXPECT_NE(dev.transcript().text().find("fault: silent"), std::string::npos);
}

TEST_F(FaultTest, GarbageDeviceAnswersWithBytesThatFormNoText) {
  addFaulty("fault.garbage = on\n");
  HostPort host(portPath(1));
  ASSERT_TRUE(host.write("AT\r"));
  ASSERT_TRUE(host.readCount(6));  // as many bytes as "\r\nOK\r\n"
  host.readFor(100);
  EXPECT_EQ(host.received().size(), 6u);
  for (unsigned char c : host.received()) EXPECT_GE(c, 0x80);
}

TEST_F(FaultTest, DelayedAnswerComesNoSoonerThanTheDelay) {
  ::modemsim_testing::ScopedEnv scale("SUITE_TIME_SCALE", "1");
  addFaulty("fault.delay_ms = 300\n");
  HostPort host(portPath(1));
  long long sent = nowMs();
  ASSERT_TRUE(host.write("ATI0\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  EXPECT_GE(nowMs() - sent, 290);
  // Delayed once per answer: the information text and the result code still come together.
  EXPECT_EQ(host.received(), "\r\n56000\r\n\r\nOK\r\n");
}

TEST_F(FaultTest, TimeScaleShortensTheDelay) {
  ::modemsim_testing::ScopedEnv scale("SUITE_TIME_SCALE", "0.001");
  addFaulty("fault.delay_ms = 100000\n");  // 100 s unscaled: the test would time out without the scale
  HostPort host(portPath(1));
  ASSERT_TRUE(host.write("AT\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
}

TEST_F(FaultTest, DisconnectAfterBytesHeardHangsUpTheHost) {
  modemsim::Device& dev = addFaulty("fault.disconnect_after = 7\n");
  HostPort host(portPath(1));
  ASSERT_TRUE(host.write("AT\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  ASSERT_TRUE(host.write("ATI0\r"));  // bytes 4..8: the line drops at the 7th
  ASSERT_TRUE(host.waitHangUp());
  EXPECT_FALSE(dev.connected());
  // Once hung up the line stays dead: writes fail too (the hang-up follows the end of file closely).
  bool write_failed = false;
  for (int i = 0; i < 200 && !write_failed; ++i) {
    write_failed = !host.write("AT\r");
    if (!write_failed) usleep(10000);
  }
  EXPECT_TRUE(write_failed);
  // The port disappears with its line, as an unplugged adapter's does.
  EXPECT_FALSE(exists(portPath(1)));
  EXPECT_NE(dev.transcript().text().find("fault: disconnect after 7 bytes heard"), std::string::npos);
}

TEST_F(FaultTest, DisconnectAfterBytesSentCutsTheAnswer) {
  addFaulty("fault.disconnect_after_tx = 8\n");
  HostPort host(portPath(1));
  ASSERT_TRUE(host.write("ATI0\r"));
  ASSERT_TRUE(host.waitHangUp());
  // The bytes sent before the drop reach the host; nothing after them.
  EXPECT_EQ(host.received(), "\r\n56000\r");
}

TEST_F(FaultTest, ReconnectBringsTheSamePortBack) {
  modemsim::Device& dev = addFaulty("fault.disconnect_after = 3\nfault.reconnect_ms = 100\n");
  int generation = dev.lineGeneration();
  {
    HostPort host(portPath(1));
    ASSERT_TRUE(host.write("AT\r"));
    ASSERT_TRUE(host.waitHangUp());
  }
  ASSERT_TRUE(dev.waitForLine(generation + 1, HostPort::kWaitMs));
  HostPort again(portPath(1));
  ASSERT_TRUE(again.isOpen());
  ASSERT_TRUE(again.write("ATI0\r"));  // counting starts again on the new line: 3 bytes, then down
  ASSERT_TRUE(again.waitHangUp());
  EXPECT_EQ(dev.state().commands(), std::vector<std::string>{"AT"});  // the state outlived the drop
}

TEST_F(FaultTest, DropsEveryNthByteToTheHost) {
  addFaulty("fault.drop_every = 3\n");
  HostPort host(portPath(1));
  ASSERT_TRUE(host.write("ATI0\r"));
  // "\r\n56000\r\n\r\nOK\r\n" without its 3rd, 6th, 9th... byte.
  const std::string full = "\r\n56000\r\n\r\nOK\r\n";
  std::string expected;
  for (size_t i = 0; i < full.size(); ++i)
    if ((i + 1) % 3 != 0) expected += full[i];
  ASSERT_TRUE(host.readCount(expected.size()));
  host.readFor(100);
  EXPECT_EQ(host.received(), expected);
}

TEST_F(FaultTest, CorruptsEveryNthByteToTheHost) {
  addFaulty("fault.corrupt_every = 4\n");
  HostPort host(portPath(1));
  ASSERT_TRUE(host.write("ATI0\r"));
  std::string expected = "\r\n56000\r\n\r\nOK\r\n";
  for (size_t i = 3; i < expected.size(); i += 4) expected[i] = static_cast<char>(expected[i] ^ 0x5A);
  ASSERT_TRUE(host.readCount(expected.size()));
  host.readFor(100);
  EXPECT_EQ(host.received(), expected);
}

TEST_F(FaultTest, FaultsFromTheHostSpoilWhatTheDeviceHears) {
  modemsim::Device& dev = addFaulty("fault.corrupt_every = 2\nfault.direction = from_host\n");
  HostPort host(portPath(1));
  // The 2nd byte, "T", arrives bit-flipped: "A" and a wrong byte are no attention prefix.
  ASSERT_TRUE(host.write("ATI0\r"));
  host.readFor(300);
  EXPECT_EQ(host.received(), "");
  EXPECT_TRUE(dev.state().commands().empty());
  EXPECT_NE(dev.transcript().text().find("fault: corrupted a byte from the host"), std::string::npos);
}

TEST_F(FaultTest, ChosenCommandsGoUnansweredOrFail) {
  modemsim::Device& dev = addFaulty("fault.ignore = ATI5, at%i\nfault.error = ATI0\nati.5 = C\n");
  HostPort host(portPath(1));
  ASSERT_TRUE(host.write("ati5\r"));  // the list and the line compare without regard to case
  ASSERT_TRUE(host.write("AT%I\r"));
  ASSERT_TRUE(dev.waitForCommands(2, HostPort::kWaitMs));
  host.readFor(200);
  EXPECT_EQ(host.received(), "");
  ASSERT_TRUE(host.write("ATI0\r"));  // answered with ERROR although the device knows it
  ASSERT_TRUE(host.readUntil("ERROR\r\n"));
  host.clear();
  ASSERT_TRUE(host.write("AT\r"));  // anything else as usual
  ASSERT_TRUE(host.readUntil("\r\nOK\r\n"));
  EXPECT_EQ(host.received(), "\r\nOK\r\n");
  EXPECT_NE(dev.transcript().text().find("fault: ati5 goes unanswered"), std::string::npos);
}

TEST_F(FaultTest, DropsBytesFromTheHost) {
  modemsim::Device& dev = addFaulty("fault.drop_every = 3\nfault.direction = both\n");
  HostPort host(portPath(1));
  // Heard: bytes 1,2 of "ATTI0\r" and 4,5 (3 and 6 lost): "AT" + "I0"; the CR is lost too.
  ASSERT_TRUE(host.write("ATTI0\r"));
  ASSERT_TRUE(host.write("xx\r"));  // 7 x, 8 x, 9 \r lost... so one more CR
  ASSERT_TRUE(host.write("\r"));    // 10: heard
  ASSERT_TRUE(dev.waitForCommands(1, HostPort::kWaitMs));
  EXPECT_EQ(dev.state().commands(), std::vector<std::string>{"ATI0xx"});
}

}  // namespace
