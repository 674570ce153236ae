// A device whose host goes away half-way through an update stays where it was: the maker's loader
// in its loader at the speed agreed with the blocks it programmed (a block cut off half-way is
// dropped after a second of silence), the dot boot code waiting to be switched off and on. A lost
// line that comes back is no power cycle; a reboot still is.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "modemsim/host_port.h"

namespace {

using modemsim_test::HostPort;

// The loader's block on the wire: length, 3-byte address, data, XOR checksum.
std::string block(uint32_t address, const std::string& data) {
  std::string out;
  out += static_cast<char>(data.size() >> 8);
  out += static_cast<char>(data.size() & 0xFF);
  out += static_cast<char>((address >> 16) & 0xFF);
  out += static_cast<char>((address >> 8) & 0xFF);
  out += static_cast<char>(address & 0xFF);
  out += data;
  uint8_t sum = 0;
  for (char c : data) sum ^= static_cast<uint8_t>(c);
  out += static_cast<char>(sum);
  return out;
}

std::string memory(modemsim::Device& dev, uint32_t address, size_t length) {
  std::vector<uint8_t> bytes = dev.state().flash.read(address, static_cast<uint32_t>(length));
  return std::string(bytes.begin(), bytes.end());
}

class HostGoneTest : public SimBankTest {
 protected:
  // Scaled: the loader's second of silence takes 50 ms here.
  modemsim_testing::ScopedEnv scale_{"SUITE_TIME_SCALE", "0.05"};

  modemsim::Device& loader() {
    return addDevice("port = 1\nspeed = 19200\nfamily = loader\nloader.max_speed = 57600\n");
  }

  // "AT*FS", sync, speed query and "L" (57600): the host ends at the loader's speed.
  void enterLoader(HostPort& host) {
    ASSERT_TRUE(host.setSpeed(B19200));
    ASSERT_TRUE(host.write("AT*FS\r"));
    ASSERT_TRUE(host.readUntil("AT*FS\r"));
    ASSERT_TRUE(host.write("M"));
    ASSERT_TRUE(host.readUntil("U"));
    ASSERT_TRUE(host.write("D"));
    ASSERT_TRUE(host.readUntil("L"));
    ASSERT_TRUE(host.write("L"));
    ASSERT_TRUE(host.readUntil("\r\nOK\r\n"));
    ASSERT_TRUE(host.setSpeed(B57600));
    host.clear();
  }

  void sendBlock(HostPort& host, uint32_t address, const std::string& data) {
    host.clear();
    ASSERT_TRUE(host.write("ATFLP\r"));
    ASSERT_TRUE(host.readUntil("G"));
    ASSERT_TRUE(host.write(block(address, data)));
    ASSERT_TRUE(host.readUntil("\r\nOK\r\n"));
  }
};

TEST_F(HostGoneTest, LoaderKeepsItsBlocksAndSpeedAndDropsTheBlockCutOff) {
  modemsim::Device& dev = loader();
  const std::string first(128, 'A'), second(128, 'B');
  {
    HostPort host(portPath(1));
    enterLoader(host);
    sendBlock(host, 0x0000, first);
    ASSERT_TRUE(host.write("ATFLP\r"));
    ASSERT_TRUE(host.readUntil("G"));
    ASSERT_TRUE(host.write(block(0x0080, second).substr(0, 60)));  // killed half-way
  }
  ASSERT_TRUE(dev.waitForHostOpens(0, HostPort::kWaitMs));
  HostPort again(portPath(1), B57600);  // at the speed agreed, without the handshake
  again.readFor(200);                   // the silence: 200 ms against 50 ms scaled
  EXPECT_EQ(dev.state().value("loader.dropped"), "1");
  sendBlock(again, 0x0080, second);
  again.clear();
  ASSERT_TRUE(again.write("ATFLEND\r"));
  ASSERT_TRUE(again.readUntil("ATFLEND\r"));
  EXPECT_EQ(memory(dev, 0, 256), first + second);
  EXPECT_EQ(dev.state().value("loader.blocks"), "0:80;80:80;");
  EXPECT_EQ(dev.state().value("loader.entries"), "1");
  // ATFLEND: back at its own speed (just after the echo, on the device's thread).
  for (int i = 0; i < 100 && dev.speed() != 19200; ++i) usleep(10000);
  EXPECT_EQ(dev.speed(), 19200);
}

TEST_F(HostGoneTest, LoaderTakesABlockThatPausesLessThanTheSilence) {
  modemsim::Device& dev = loader();
  HostPort host(portPath(1));
  enterLoader(host);
  const std::string data(128, 'C');
  std::string wire = block(0x0100, data);
  ASSERT_TRUE(host.write("ATFLP\r"));
  ASSERT_TRUE(host.readUntil("G"));
  // Three pauses of 30 ms each (under the 50 ms scaled silence), 90 ms in all: the timer started
  // at the prompt must count from the last byte, not from the prompt.
  for (size_t at = 0; at < wire.size(); at += 50) {
    ASSERT_TRUE(host.write(wire.substr(at, 50)));
    if (at + 50 < wire.size()) usleep(30000);
  }
  ASSERT_TRUE(host.readUntil("\r\nOK\r\n"));
  EXPECT_EQ(dev.state().value("loader.dropped"), "");
  EXPECT_EQ(memory(dev, 0x100, 128), data);
}

TEST_F(HostGoneTest, LostLineLeavesTheLoaderWhereItWasButARebootDoesNot) {
  modemsim::Device& dev = loader();
  const std::string data(128, 'D');
  int generation = dev.lineGeneration();
  {
    HostPort host(portPath(1));
    enterLoader(host);
    sendBlock(host, 0x0000, data);
    host.clear();  // the "G" to wait for is the next prompt's, not the last one's
    ASSERT_TRUE(host.write("ATFLP\r"));
    ASSERT_TRUE(host.readUntil("G"));
    auto heard = [&dev] { return dev.transcript().bytes(modemsim::Transcript::Direction::kFromHost).size(); };
    const size_t before = heard();
    ASSERT_TRUE(host.write(block(0x0080, data).substr(0, 20)));
    // A line that drops loses what the device has not read yet: drop it only once the part-block
    // has reached the loader.
    for (int i = 0; i < 500 && heard() < before + 20; ++i) usleep(2000);
    dev.loseLine(100);
    ASSERT_TRUE(host.waitHangUp());
  }
  ASSERT_TRUE(dev.waitForLine(generation + 1, HostPort::kWaitMs));
  {
    HostPort again(portPath(1), B57600);
    again.readFor(200);
    sendBlock(again, 0x0080, data);
  }
  EXPECT_EQ(memory(dev, 0, 256), data + data);
  EXPECT_EQ(dev.state().value("loader.dropped"), "1");

  // Switched off and on, the device is a modem again, at its own speed.
  dev.reboot(50);
  ASSERT_TRUE(dev.waitForLine(generation + 2, HostPort::kWaitMs));
  HostPort after(portPath(1), B19200);
  ASSERT_TRUE(after.write("AT\r"));
  ASSERT_TRUE(after.readUntil("OK\r\n"));
  EXPECT_EQ(memory(dev, 0, 256), data + data);
}

TEST_F(HostGoneTest, LoaderCommandsSurviveAProbeAtTheWrongSpeed) {
  modemsim::Device& dev = loader();
  {
    HostPort host(portPath(1));
    enterLoader(host);
  }
  {
    HostPort probe(portPath(1), B115200);  // an identification that tries another speed
    ASSERT_TRUE(probe.write("ATI0\r"));
    probe.readFor(100);
  }
  HostPort again(portPath(1), B57600);
  sendBlock(again, 0x0000, std::string(128, 'E'));
  EXPECT_EQ(memory(dev, 0, 128), std::string(128, 'E'));
}

class DotHostGoneTest : public SimBankTest {
 protected:
  modemsim_testing::ScopedEnv scale_{"SUITE_TIME_SCALE", "0.05"};

  void sendDotBlock(HostPort& host, char fill) {
    host.clear();
    ASSERT_TRUE(host.write("W" + std::string(64, fill)));
    ASSERT_TRUE(host.readUntil("."));
  }
};

TEST_F(DotHostGoneTest, CutOffDownloadStartsAfreshAfterThePowerCycle) {
  modemsim::Device& dev = addDevice("port = 2\nspeed = 115200\nfamily = dot\n");
  {
    HostPort host(portPath(2));
    ASSERT_TRUE(host.write("AT**\r"));
    ASSERT_TRUE(host.readUntil("UPLOAD FILE\r\n."));
    sendDotBlock(host, 'x');
    sendDotBlock(host, 'y');
    ASSERT_TRUE(host.write("W" + std::string(10, 'z')));  // killed half-way through the third
  }
  ASSERT_TRUE(dev.waitForHostOpens(0, HostPort::kWaitMs));
  HostPort again(portPath(2));
  // A host that talks during the wait is still talking to a boot code that waits: no dot yet.
  ASSERT_TRUE(again.write("AT**\r"));
  // Silent at the boot code's speed for the power cycle (10 s, 500 ms scaled): the dot comes by itself.
  ASSERT_TRUE(again.readUntil("."));
  EXPECT_EQ(again.received(), ".");
  sendDotBlock(again, 'a');
  sendDotBlock(again, 'b');
  ASSERT_TRUE(again.write("E" + std::string(64, 'b')));
  again.readFor(100);
  EXPECT_EQ(memory(dev, 0, 128), std::string(64, 'a') + std::string(64, 'b'));
  EXPECT_EQ(dev.state().value("dot.restarts"), "1");
  EXPECT_EQ(dev.state().value("dot.blocks"), "4");
}

TEST_F(DotHostGoneTest, FinishedDownloadIsNoCutOff) {
  modemsim::Device& dev = addDevice("port = 2\nspeed = 115200\nfamily = dot\n");
  {
    HostPort host(portPath(2));
    ASSERT_TRUE(host.write("AT**\r"));
    ASSERT_TRUE(host.readUntil("UPLOAD FILE\r\n."));
    sendDotBlock(host, 'x');
    ASSERT_TRUE(host.write("E" + std::string(64, 'x')));
  }
  ASSERT_TRUE(dev.waitForHostOpens(0, HostPort::kWaitMs));
  HostPort again(portPath(2));
  again.readFor(1200);  // more than two power-cycle times: no dot
  EXPECT_EQ(again.received(), "");
  EXPECT_EQ(dev.state().value("dot.restarts"), "");
  // The new firmware runs: a modem again.
  ASSERT_TRUE(again.write("AT\r"));
  EXPECT_TRUE(again.readUntil("OK\r\n"));
  EXPECT_EQ(dev.state().value("dot.firmware_starts"), "1");
}

}  // namespace
