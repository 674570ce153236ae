// The family dialogue interface, proven with a small loader-like dialogue of the test's own.
#include <gtest/gtest.h>

#include "fixtures/sim_bank_fixture.h"
#include "modemsim/host_port.h"

namespace {

using modemsim_test::HostPort;

// "ATFLPB" answers OK at the old speed, then runs at 57600 and takes the raw stream: a length byte,
// that many bytes into flash at the address "probe.base", an ACK (0x06), and back to AT commands.
// "AT#TICK" answers "TICK" from a timer; "AT#REBOOT" reboots; "AT&W" adds to the basic command.
class ProbeDialogue : public modemsim::Dialogue {
 public:
  explicit ProbeDialogue(const modemsim::DeviceConfig& config)
      : base_(static_cast<uint32_t>(config.getInt("probe.base", 0))) {}

  void onStart(modemsim::Device& dev) override {
    long starts = std::strtol(("0" + dev.state().value("probe.starts")).c_str(), nullptr, 10);
    dev.state().setValue("probe.starts", std::to_string(starts + 1));
  }

  bool onCommand(modemsim::Device& dev, const std::string& line) override {
    if (line == "ATFLPB") {
      dev.ok();
      dev.setSpeed(57600);
      dev.takeStream(this);
      expected_ = -1;
      block_.clear();
      return true;
    }
    if (line == "AT#TICK") {
      dev.ok();
      dev.setTimer(this, 50);
      return true;
    }
    if (line == "AT#REBOOT") {
      dev.ok();
      dev.requestReboot(50);
      return true;
    }
    if (line == "AT&W") {
      dev.state().setValue("probe.saved", "yes");
      dev.runBasicCommand(line);
      return true;
    }
    return false;
  }

  bool onByte(modemsim::Device& dev, uint8_t byte) override {
    if (dev.streamOwner() != this) return false;
    if (expected_ < 0) {
      expected_ = byte;
    } else {
      block_.push_back(byte);
    }
    if (expected_ >= 0 && static_cast<long>(block_.size()) == expected_) {
      dev.state().flash.write(base_, block_);
      dev.send("\x06");
      dev.releaseStream();
    }
    return true;
  }

  void onTimer(modemsim::Device& dev) override { dev.sendInfo("TICK"); }

 private:
  uint32_t base_;
  long expected_ = -1;
  std::vector<uint8_t> block_;
};

// Consumes every "!" before the line editor sees it: dialogues are asked before the basic modem.
class BangEater : public modemsim::Dialogue {
 public:
  bool onByte(modemsim::Device& dev, uint8_t byte) override { return byte == '!'; }
};

const modemsim::DialogueRegistrar kProbe("probe", [](const modemsim::DeviceConfig& config) {
  return std::make_unique<ProbeDialogue>(config);
});
const modemsim::DialogueRegistrar kBang("BangEater", [](const modemsim::DeviceConfig&) {
  return std::make_unique<BangEater>();
});

class DialogueTest : public SimBankTest {};

TEST_F(DialogueTest, RegistryKnowsDialoguesByNameInAnyCase) {
  EXPECT_TRUE(modemsim::isDialogueRegistered("PROBE"));
  EXPECT_TRUE(modemsim::isDialogueRegistered("bangeater"));
  EXPECT_FALSE(modemsim::isDialogueRegistered("nonesuch"));
  EXPECT_EQ(modemsim::createDialogue("nonesuch", modemsim::DeviceConfig()), nullptr);
  try {
    addDevice("port = 1\nfamily = probe, nonesuch\n");
    ADD_FAILURE() << "a device with an unknown dialogue was accepted";
  } catch (const modemsim::ConfigError& e) {
    EXPECT_NE(std::string(e.what()).find("nonesuch"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("probe"), std::string::npos);  // the names it does know
  }
}

TEST_F(DialogueTest, TakesTheStreamAndSwitchesSpeedAfterItsAnswer) {
  modemsim::Device& dev = addDevice("port = 1\necho = off\nfamily = probe\nprobe.base = 0x100\n");
  HostPort host(portPath(1));
  ASSERT_TRUE(host.write("ATFLPB\r"));
  ASSERT_TRUE(host.readUntil("\r\nOK\r\n"));  // still at 115200
  host.clear();
  ASSERT_TRUE(host.setSpeed(B57600));
  // Binary bytes, a CR among them: the stream belongs to the dialogue, nothing is echoed or parsed.
  ASSERT_TRUE(host.write(std::string("\x04" "AT\r\xff", 5)));
  ASSERT_TRUE(host.readCount(1));
  EXPECT_EQ(host.received(), "\x06");
  EXPECT_EQ(dev.state().flash.read(0x100, 4), (std::vector<uint8_t>{'A', 'T', '\r', 0xFF}));
  EXPECT_EQ(dev.speed(), 57600);
  // Back to AT commands, at the new speed.
  host.clear();
  ASSERT_TRUE(host.write("AT\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  EXPECT_EQ(dev.state().commands(), (std::vector<std::string>{"ATFLPB", "AT"}));
}

TEST_F(DialogueTest, AHostThatMissesTheSpeedSwitchIsNotUnderstood) {
  modemsim::Device& dev = addDevice("port = 1\necho = off\nfamily = probe\n");
  HostPort host(portPath(1));
  ASSERT_TRUE(host.write("ATFLPB\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  // Still at 115200: the length byte and data arrive garbled; the device never completes the block.
  ASSERT_TRUE(host.write(std::string("\x02\x11\x22", 3)));
  host.readFor(200);
  EXPECT_EQ(host.received(), "\r\nOK\r\n");
  EXPECT_EQ(dev.state().flash.extent(), 0u);
}

TEST_F(DialogueTest, UnhandledCommandsFallThroughToTheBasicModem) {
  modemsim::Device& dev = addDevice("port = 1\necho = off\nfamily = bangeater, probe\nati.0 = 56000\n");
  HostPort host(portPath(1));
  ASSERT_TRUE(host.write("AT!I!0\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  EXPECT_EQ(host.received(), "\r\n56000\r\n\r\nOK\r\n");
  host.clear();
  ASSERT_TRUE(host.write("AT&W\r"));  // the dialogue adds to it, the basic modem answers
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  EXPECT_EQ(dev.state().value("probe.saved"), "yes");
  host.clear();
  ASSERT_TRUE(host.write("AT#NOTHING\r"));
  ASSERT_TRUE(host.readUntil("ERROR\r\n"));
}

TEST_F(DialogueTest, TimerAnswersLater) {
  addDevice("port = 1\necho = off\nfamily = probe\n");
  HostPort host(portPath(1));
  ASSERT_TRUE(host.write("AT#TICK\r"));
  ASSERT_TRUE(host.readUntil("\r\nOK\r\n\r\nTICK\r\n"));
}

TEST_F(DialogueTest, RebootKeepsThePortNameAndTheState) {
  modemsim::Device& dev = addDevice("port = 1\necho = off\nfamily = probe\n");
  int generation = dev.lineGeneration();
  std::string first_line = dev.slavePath();
  EXPECT_EQ(dev.state().value("probe.starts"), "1");
  dev.state().flash.program(0, {1, 2, 3});
  {
    HostPort host(portPath(1));
    ASSERT_TRUE(host.write("AT#REBOOT\r"));
    ASSERT_TRUE(host.readUntil("OK\r\n"));
    ASSERT_TRUE(host.waitHangUp());
  }
  ASSERT_TRUE(dev.waitForLine(generation + 1, HostPort::kWaitMs));
  EXPECT_EQ(dev.state().value("probe.starts"), "2");
  EXPECT_EQ(dev.state().flash.read(0, 3), (std::vector<uint8_t>{1, 2, 3}));
  HostPort again(portPath(1));
  ASSERT_TRUE(again.isOpen());
  ASSERT_TRUE(again.write("AT\r"));
  ASSERT_TRUE(again.readUntil("OK\r\n"));
  (void)first_line;
}

TEST_F(DialogueTest, PostedTasksRunOnTheDeviceThreadInOrder) {
  modemsim::Device& dev = addDevice("port = 1\n");
  HostPort host(portPath(1));
  dev.post([](modemsim::Device& d) { d.sendResult(modemsim::Result::kRing); });
  dev.post([](modemsim::Device& d) {
    d.setVerbose(false);
    d.sendResult(modemsim::Result::kRing);
  });
  ASSERT_TRUE(host.readUntil("\r\nRING\r\n2\r"));
  EXPECT_EQ(host.received(), "\r\nRING\r\n2\r");
}

TEST_F(DialogueTest, RebootFromATestAndAPlainDisconnect) {
  modemsim::Device& dev = addDevice("port = 1\n");
  HostPort host(portPath(1));
  int generation = dev.lineGeneration();
  dev.reboot(0);
  ASSERT_TRUE(host.waitHangUp());
  ASSERT_TRUE(dev.waitForLine(generation + 1, HostPort::kWaitMs));
  HostPort again(portPath(1));
  ASSERT_TRUE(again.isOpen());
  dev.disconnect();
  ASSERT_TRUE(again.waitHangUp());
  EXPECT_FALSE(dev.waitForLine(generation + 2, 200));  // a disconnect stays down
  EXPECT_FALSE(dev.connected());
  EXPECT_EQ(dev.slavePath(), "");
}

}  // namespace
