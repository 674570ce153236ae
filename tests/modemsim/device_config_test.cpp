#include <gtest/gtest.h>

#include "tools/modemsim/device_config.h"

namespace modemsim {
namespace {

TEST(DeviceConfig, ReadsTypedKeysAndKeepsEveryKey) {
  DeviceConfig c = DeviceConfig::parse(
      "# a comment\n"
      "; another\n"
      "  Port = 4\n"
      "speed = 9600\r\n"  // a file saved with CR LF
      "echo = off\n"
      "verbose = no\n"
      "quiet = 1\n"
      "throttle = false\n"
      "model = XM-56\n"
      "country = GERMANY\n"
      "ati.3 = first\n"
      "ati.3 += second\n"
      "family = Rockwell, loader\n"
      "ident.family = rockwell\n"
      "loader.version = 2.00\n"
      "flash.size = 0x80000\n");
  EXPECT_EQ(c.port, 4);
  EXPECT_EQ(c.speed, 9600);
  EXPECT_FALSE(c.echo);
  EXPECT_FALSE(c.verbose);
  EXPECT_TRUE(c.quiet);
  EXPECT_FALSE(c.throttle);
  EXPECT_EQ(c.model, "XM-56");
  EXPECT_EQ(c.country, "GERMANY");
  EXPECT_EQ(c.ati.at(3), "first\nsecond");
  EXPECT_EQ(c.dialogues, (std::vector<std::string>{"rockwell", "loader"}));
  EXPECT_EQ(c.get("IDENT.FAMILY"), "rockwell");
  EXPECT_EQ(c.get("loader.version"), "2.00");
  EXPECT_EQ(c.getInt("flash.size"), 0x80000);
  EXPECT_EQ(c.get("missing", "fallback"), "fallback");
  EXPECT_EQ(c.getInt("model", -1), -1);  // not a number: the fallback
  EXPECT_TRUE(c.getBool("absent", true));
}

TEST(DeviceConfig, UnescapesValues) {
  EXPECT_EQ(unescape("a\\r\\n\\t\\\\b"), "a\r\n\t\\b");
  EXPECT_EQ(unescape("\\x41\\x0d\\xff"), std::string("A\r\xff"));
  EXPECT_EQ(unescape("\\q\\x"), "\\q\\x");  // unknown escapes stay as written
  DeviceConfig c = DeviceConfig::parse("ati.0 = one\\ntwo\n");
  EXPECT_EQ(c.ati.at(0), "one\ntwo");
}

TEST(DeviceConfig, ReadsFaults) {
  DeviceConfig c = DeviceConfig::parse(
      "fault.silent = on\nfault.garbage = yes\nfault.delay_ms = 250\nfault.disconnect_after = 12\n"
      "fault.disconnect_after_tx = 7\nfault.reconnect_ms = 100\nfault.drop_every = 5\n"
      "fault.corrupt_every = 0x10\nfault.direction = both\nfault.loader.nak_block = 3\n"
      "fault.ignore = ati5, AT%I\nfault.error = AT&&F\n");
  EXPECT_TRUE(c.faults.silent);
  EXPECT_TRUE(c.faults.garbage);
  EXPECT_EQ(c.faults.delay_ms, 250);
  EXPECT_EQ(c.faults.disconnect_after_rx, 12);
  EXPECT_EQ(c.faults.disconnect_after_tx, 7);
  EXPECT_EQ(c.faults.reconnect_ms, 100);
  EXPECT_EQ(c.faults.drop_every, 5);
  EXPECT_EQ(c.faults.corrupt_every, 16);
  EXPECT_EQ(c.faults.direction, FaultDirection::kBoth);
  EXPECT_EQ(c.faults.ignore, (std::vector<std::string>{"ATI5", "AT%I"}));
  EXPECT_EQ(c.faults.error, std::vector<std::string>{"AT&&F"});
  EXPECT_EQ(c.getInt("fault.loader.nak_block"), 3);  // a family's fault: kept for its dialogue
}

TEST(DeviceConfig, RefusesMalformedLinesNamingTheLine) {
  struct Case {
    const char* text;
    const char* fragment;
  };
  const Case cases[] = {
      {"speed = fast\n", "line 1"},
      {"echo = on\nspeed\n", "line 2"},
      {"fault.dealy_ms = 5\n", "unknown fault"},
      {"fault.direction = sideways\n", "fault.direction"},
      {"port = 0\n", "port"},
      {"ati.x = 1\n", "ATI"},
      {"echo = perhaps\n", "on/off"},
      {"[device COM2]\nspeed = 1\n[device COM3]\n", "bank file"},
      {"[printer 2]\n", "section"},
  };
  for (const auto& c : cases) {
    try {
      DeviceConfig::parse(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const ConfigError& e) {
      EXPECT_NE(std::string(e.what()).find(c.fragment), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(DeviceConfig::load("/nonexistent/device.txt"), ConfigError);
  // A directory opens and reads as nothing: it must not pass for a device of defaults.
  EXPECT_THROW(DeviceConfig::load(SUITE_SOURCE_DIR), ConfigError);
  EXPECT_THROW(loadBank(SUITE_SOURCE_DIR), ConfigError);
}

TEST(DeviceConfig, SetInCodeUpdatesTypedFields) {
  DeviceConfig c;
  c.set("speed", "57600");
  c.set("fault.drop_every", "3");
  c.set("Ident.Family", "lucent");
  EXPECT_EQ(c.speed, 57600);
  EXPECT_EQ(c.faults.drop_every, 3);
  EXPECT_EQ(c.get("ident.family"), "lucent");
  EXPECT_THROW(c.set("speed", "-1"), ConfigError);
}

TEST(BankFile, SectionsInheritTheDefaults) {
  std::vector<DeviceConfig> bank = parseBank(
      "speed = 38400\n"
      "ati.0 = 56000\n"
      "[device COM2]\n"
      "name = first\n"
      "[COM5]\n"
      "speed = 9600\n"
      "ati.0 += more\n");
  ASSERT_EQ(bank.size(), 2u);
  EXPECT_EQ(bank[0].port, 2);
  EXPECT_EQ(bank[0].name, "first");
  EXPECT_EQ(bank[0].speed, 38400);
  EXPECT_EQ(bank[1].port, 5);
  EXPECT_EQ(bank[1].speed, 9600);
  EXPECT_EQ(bank[1].ati.at(0), "56000\nmore");
  EXPECT_TRUE(bank[1].name.empty());
}

TEST(BankFile, TextWithoutSectionsIsOneDevice) {
  std::vector<DeviceConfig> bank = parseBank("port = 7\nspeed = 19200\n");
  ASSERT_EQ(bank.size(), 1u);
  EXPECT_EQ(bank[0].port, 7);
}

TEST(BankFile, RefusesTwiceThePortAndContradictions) {
  EXPECT_THROW(parseBank("[device COM1]\n[device COM1]\n"), ConfigError);
  EXPECT_THROW(parseBank("[device COM1]\nport = 2\n"), ConfigError);
  EXPECT_THROW(parseBank("[device COM1\n"), ConfigError);
}

TEST(BankFile, ShippedExamplesParse) {
  std::vector<DeviceConfig> bank = loadBank(std::string(SUITE_SOURCE_DIR) + "/data/sim/bank_example.txt");
  ASSERT_EQ(bank.size(), 3u);
  EXPECT_EQ(bank[1].faults.delay_ms, 200);
  DeviceConfig basic = DeviceConfig::load(std::string(SUITE_SOURCE_DIR) + "/data/sim/basic_modem.txt");
  EXPECT_EQ(basic.speed, 38400);
  EXPECT_EQ(basic.ati.at(3), "Generic V.90 Data/Fax Modem\nVersion 1.20");
}

}  // namespace
}  // namespace modemsim
