#include <gtest/gtest.h>

#include "tools/modemsim/device_state.h"
#include "tools/modemsim/transcript.h"

namespace modemsim {
namespace {

TEST(FlashMemory, ReadsErasedUntilWrittenAndWritesOnlyClearBits) {
  FlashMemory flash;
  EXPECT_EQ(flash.byte(0x12345), 0xFF);
  EXPECT_EQ(flash.extent(), 0u);
  ASSERT_TRUE(flash.write(0x1000, {0x0F, 0xF0}));
  EXPECT_EQ(flash.read(0x0FFF, 4), (std::vector<uint8_t>{0xFF, 0x0F, 0xF0, 0xFF}));
  // Like NOR flash, a second write cannot set a cleared bit again.
  ASSERT_TRUE(flash.write(0x1000, {0xF3}));
  EXPECT_EQ(flash.byte(0x1000), 0x03);
  EXPECT_EQ(flash.extent(), 0x1002u);
  ASSERT_TRUE(flash.program(0x1000, {0xAA}));  // a plain overwrite, for preloading
  EXPECT_EQ(flash.byte(0x1000), 0xAA);
}

TEST(FlashMemory, WritesAcrossPagesAndErasesRanges) {
  FlashMemory flash;
  std::vector<uint8_t> data(10000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(flash.program(4090, data));
  EXPECT_EQ(flash.read(4090, 10000), data);
  flash.erase(5000, 100);
  EXPECT_EQ(flash.byte(4999), data[4999 - 4090]);
  EXPECT_EQ(flash.byte(5000), 0xFF);
  EXPECT_EQ(flash.byte(5099), 0xFF);
  EXPECT_EQ(flash.byte(5100), data[5100 - 4090]);
  flash.eraseAll();
  EXPECT_EQ(flash.extent(), 0u);
}

TEST(FlashMemory, RefusesWritesBeyondItsSize) {
  FlashMemory flash(0x100);
  EXPECT_TRUE(flash.write(0xFE, {1, 2}));
  EXPECT_FALSE(flash.write(0xFF, {1, 2}));
  EXPECT_FALSE(flash.program(0x100, {1}));
  EXPECT_EQ(flash.byte(0xFF), 0x02);  // the refused write left everything as it was
}

TEST(FlashMemory, DumpShowsHexAndTextAndFoldsErasedRuns) {
  FlashMemory flash;
  flash.program(0, {'A', 'T', 0x0D});
  flash.program(0x100, {0x00});
  std::string dump = flash.dump();
  EXPECT_EQ(dump.substr(0, 59), "00000000: 41 54 0d ff ff ff ff ff ff ff ff ff ff ff ff ff  ");
  EXPECT_NE(dump.find("|AT..............|"), std::string::npos);
  EXPECT_NE(dump.find("\n*\n"), std::string::npos);
  EXPECT_NE(dump.find("00000100: 00"), std::string::npos);
  EXPECT_EQ(dump.find("00000080"), std::string::npos);  // folded into the star
}

TEST(DeviceState, KeepsCountryValuesAndCommands) {
  DeviceState state;
  state.setCountry("FRANCE");
  state.setValue("loader.block", "3");
  state.addCommand("AT");
  state.addCommand("ATI3");
  EXPECT_EQ(state.country(), "FRANCE");
  EXPECT_EQ(state.value("loader.block"), "3");
  EXPECT_EQ(state.value("unset"), "");
  EXPECT_EQ(state.commands(), (std::vector<std::string>{"AT", "ATI3"}));
  state.clearCommands();
  EXPECT_TRUE(state.commands().empty());
}

TEST(Transcript, RendersControlBytesReadably) {
  EXPECT_EQ(Transcript::readable(std::string("AT\r\n\t\\\x01\x7f\xff", 9)), "AT\\r\\n\\t\\\\\\x01\\x7f\\xff");
}

TEST(Transcript, JoinsBytesOfOneDirectionAndKeepsTheOrder) {
  Transcript t;
  t.fromHost("A");
  t.fromHost("T\r");
  t.toHost("AT\r");
  t.note("something happened");
  t.toHost("\r\nOK\r\n");
  std::vector<Transcript::Entry> entries = t.entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].bytes, "AT\r");
  EXPECT_EQ(t.bytes(Transcript::Direction::kToHost), "AT\r\r\nOK\r\n");
  std::string text = t.text();
  EXPECT_NE(text.find("host> AT\\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("dev<  AT\\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("note  something happened\n"), std::string::npos) << text;
  EXPECT_LT(text.find("host>"), text.find("note"));
  EXPECT_NE(text.find(" ms  "), std::string::npos);
}

TEST(Transcript, ShortensLongEntriesInTheText) {
  Transcript t;
  t.fromHost(std::string(200, 'a') + std::string(100, 'z'));
  std::string text = t.text(100);
  EXPECT_NE(text.find("host> " + std::string(75, 'a') + "...(300 bytes)..." + std::string(25, 'z') + "\n"),
            std::string::npos)
      << text;
  EXPECT_NE(t.text(0).find(std::string(100, 'z')), std::string::npos);
  EXPECT_EQ(t.bytes(Transcript::Direction::kFromHost).size(), 300u);  // the bytes themselves stay whole
}

TEST(Transcript, DropsTheOldestEntriesBeyondItsLimit) {
  Transcript t;
  t.setLimit(10);
  t.fromHost("12345");
  t.note("n");  // a note between keeps the entries apart
  t.toHost("abcdef");
  std::vector<Transcript::Entry> entries = t.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].bytes, "n");
  EXPECT_NE(t.text().find("(1 earlier entries dropped)"), std::string::npos);
}

}  // namespace
}  // namespace modemsim
