// The simulated USB adapter (adapter.latency_ms): what the device sends waits until a full packet of
// 62 bytes is there or the latency has passed since the first byte waiting.
//
// Nothing here bounds a wait from above: a held packet is shown held by a latency far longer than the
// test (it cannot fall due meanwhile, however loaded the machine), and a latency that does pass is
// checked from below only (the first byte never comes sooner).
#include <gtest/gtest.h>

#include "fixtures/sim_bank_fixture.h"
#include "modemsim/host_port.h"
#include "tools/modemsim/time_scale.h"

namespace {

using modemsim_test::HostPort;
using modemsim_test::nowMs;

class AdapterTest : public SimBankTest {};

// Ten minutes: never reached in a test.
const char kForever[] = "adapter.latency_ms = 600000\n";

TEST_F(AdapterTest, APartPacketComesWholeOnceTheLatencyHasPassed) {
  const long latency_ms = 300;
  addDevice("port = 1\nthrottle = off\nadapter.latency_ms = " + std::to_string(latency_ms) + "\n");
  HostPort host(portPath(1));
  long long sent = nowMs();
  ASSERT_TRUE(host.write("AT\r"));
  ASSERT_TRUE(host.readCount(1));
  long long first = nowMs();
  // The echo waited in the adapter with the answer behind it; then all of it came.
  EXPECT_GE(first - sent, modemsim::scaledMs(latency_ms));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  EXPECT_EQ(host.received(), "AT\r\r\nOK\r\n");
}

TEST_F(AdapterTest, FullPacketsGoAtOnceAndTheRestWaitsForTheNext) {
  modemsim::DeviceConfig config = modemsim::DeviceConfig::parse(std::string("port = 1\necho = off\n") + kForever);
  config.set("ati.9", std::string(120, 'x'));
  addDevice(config);
  const std::string answer = "\r\n" + std::string(120, 'x') + "\r\n\r\nOK\r\n";  // 130 bytes
  HostPort host(portPath(1));

  ASSERT_TRUE(host.write("ATI9\r"));
  ASSERT_TRUE(host.readCount(124));
  host.readFor(300);
  EXPECT_EQ(host.received(), answer.substr(0, 124)) << "two full packets, the last 6 bytes held";

  // The next answer fills the held packet: 260 bytes sent, 4 packets out, 12 bytes held, in order.
  ASSERT_TRUE(host.write("ATI9\r"));
  ASSERT_TRUE(host.readCount(248));
  host.readFor(300);
  EXPECT_EQ(host.received(), (answer + answer).substr(0, 248));
}

// A dialogue that pauses (here an answer delay longer than the test) does not stop the adapter.
TEST_F(AdapterTest, HeldBytesGoWhileTheDeviceSleeps) {
  addDevice("port = 1\nthrottle = off\nadapter.latency_ms = 20\nfault.delay_ms = 600000\n");
  HostPort host(portPath(1));
  ASSERT_TRUE(host.write("AT\r"));
  ASSERT_TRUE(host.readCount(3));
  EXPECT_EQ(host.received(), "AT\r");
}

TEST_F(AdapterTest, PacedOutputStillArrivesWholeAndInOrder) {
  // At 115200 baud the device's UART fills packets in about 5 ms each; a 16 ms latency sends some
  // full and the tail part-filled.
  modemsim::DeviceConfig config =
      modemsim::DeviceConfig::parse("port = 1\necho = off\nthrottle = on\nadapter.latency_ms = 16\n");
  std::string text;
  for (int i = 0; i < 1000; ++i) text += static_cast<char>('a' + i % 26);
  config.set("ati.9", text);
  addDevice(config);
  HostPort host(portPath(1));
  ASSERT_TRUE(host.write("ATI9\r"));
  ASSERT_TRUE(host.readUntil("OK\r\n"));
  EXPECT_EQ(host.received(), "\r\n" + text + "\r\n\r\nOK\r\n");
}

TEST(AdapterConfig, RefusesANegativeLatencyAndMisspeltKeys) {
  EXPECT_EQ(modemsim::DeviceConfig::parse("adapter.latency_ms = 16\n").adapter_latency_ms, 16);
  EXPECT_EQ(modemsim::DeviceConfig::parse("port = 1\n").adapter_latency_ms, 0);
  for (const char* text : {"adapter.latency_ms = -1\n", "adapter.latency_ms = soon\n", "adapter.latency = 16\n"})
    EXPECT_THROW(modemsim::DeviceConfig::parse(text), modemsim::ConfigError) << text;
}

}  // namespace
