// What a simulated device keeps across commands and reboots: its flash memory, its country setting,
// named values that dialogues keep for themselves, and the list of command lines it received.
// Every member is safe to use from the device's thread and a test's thread at once.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace modemsim {

// Sparse flash memory: unwritten bytes read as the erased value 0xFF. Writes AND into the cells, as
// real NOR flash can only clear bits; `program` overwrites (for preloading a device in a test).
class FlashMemory {
 public:
  static constexpr uint8_t kErased = 0xFF;

  // size 0 = unbounded; otherwise writes beyond the size are refused (return false).
  explicit FlashMemory(uint32_t size = 0) : size_(size) {}

  uint32_t size() const;
  void setSize(uint32_t size);

  bool write(uint32_t address, const uint8_t* data, size_t length);  // NOR semantics: cell &= byte
  bool write(uint32_t address, const std::vector<uint8_t>& data) {
    return write(address, data.data(), data.size());
  }
  bool program(uint32_t address, const std::vector<uint8_t>& data);  // plain overwrite
  void erase(uint32_t address, uint32_t length);                     // back to 0xFF
  void eraseAll();

  uint8_t byte(uint32_t address) const;
  std::vector<uint8_t> read(uint32_t address, uint32_t length) const;
  // Highest written address + 1 (0 when nothing was ever written): how much to dump.
  uint32_t extent() const;
  // Hex dump, 16 bytes a line: "00001230: 41 54 ...  |AT..|"; runs of erased lines are folded.
  std::string dump(uint32_t address, uint32_t length) const;
  std::string dump() const { return dump(0, extent()); }

 private:
  static constexpr uint32_t kPageSize = 4096;
  mutable std::mutex mutex_;
  uint32_t size_;
  std::map<uint32_t, std::vector<uint8_t>> pages_;  // page number -> kPageSize bytes
  std::vector<uint8_t>& page(uint32_t number);
  bool inRange(uint32_t address, size_t length) const;
};

class DeviceState {
 public:
  FlashMemory flash;

  std::string country() const;
  void setCountry(const std::string& country);

  // Named values of the dialogues ("loader.state", "country.code"...); empty when unset.
  std::string value(const std::string& name) const;
  void setValue(const std::string& name, const std::string& value);
  std::map<std::string, std::string> values() const;

  // Every complete command line the device heard ("ATI3", without the CR), oldest first.
  std::vector<std::string> commands() const;
  void addCommand(const std::string& line);
  void clearCommands();

 private:
  mutable std::mutex mutex_;
  std::string country_;
  std::map<std::string, std::string> values_;
  std::vector<std::string> commands_;
};

}  // namespace modemsim
