#include "tools/modemsim/device_state.h"

#include <algorithm>
#include <cstdio>

namespace modemsim {

uint32_t FlashMemory::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return size_;
}

void FlashMemory::setSize(uint32_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  size_ = size;
}

bool FlashMemory::inRange(uint32_t address, size_t length) const {
  if (size_ == 0) return static_cast<uint64_t>(address) + length <= 0x100000000ULL;
  return static_cast<uint64_t>(address) + length <= size_;
}

std::vector<uint8_t>& FlashMemory::page(uint32_t number) {
  auto it = pages_.find(number);
  if (it == pages_.end()) it = pages_.emplace(number, std::vector<uint8_t>(kPageSize, kErased)).first;
  return it->second;
}

bool FlashMemory::write(uint32_t address, const uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!inRange(address, length)) return false;
  for (size_t i = 0; i < length; ++i) {
    uint32_t a = address + static_cast<uint32_t>(i);
    page(a / kPageSize)[a % kPageSize] &= data[i];
  }
  return true;
}

bool FlashMemory::program(uint32_t address, const std::vector<uint8_t>& data) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!inRange(address, data.size())) return false;
  for (size_t i = 0; i < data.size(); ++i) {
    uint32_t a = address + static_cast<uint32_t>(i);
    page(a / kPageSize)[a % kPageSize] = data[i];
  }
  return true;
}

void FlashMemory::erase(uint32_t address, uint32_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (uint64_t a = address; a < static_cast<uint64_t>(address) + length; ++a) {
    auto it = pages_.find(static_cast<uint32_t>(a / kPageSize));
    if (it == pages_.end()) {
      a = (a / kPageSize + 1) * kPageSize - 1;  // a whole erased page: skip it
      continue;
    }
    it->second[a % kPageSize] = kErased;
  }
}

void FlashMemory::eraseAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  pages_.clear();
}

uint8_t FlashMemory::byte(uint32_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = pages_.find(address / kPageSize);
  return it == pages_.end() ? kErased : it->second[address % kPageSize];
}

std::vector<uint8_t> FlashMemory::read(uint32_t address, uint32_t length) const {
  std::vector<uint8_t> out(length, kErased);
  std::lock_guard<std::mutex> lock(mutex_);
  for (uint32_t i = 0; i < length; ++i) {
    uint32_t a = address + i;
    auto it = pages_.find(a / kPageSize);
    if (it != pages_.end()) out[i] = it->second[a % kPageSize];
  }
  return out;
}

uint32_t FlashMemory::extent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = pages_.rbegin(); it != pages_.rend(); ++it) {
    const auto& bytes = it->second;
    for (uint32_t i = kPageSize; i > 0; --i)
      if (bytes[i - 1] != kErased) return it->first * kPageSize + i;
  }
  return 0;
}

std::string FlashMemory::dump(uint32_t address, uint32_t length) const {
  std::vector<uint8_t> bytes = read(address, length);
  std::string out;
  bool folding = false;
  char line[128];
  for (uint32_t offset = 0; offset < length; offset += 16) {
    uint32_t count = std::min<uint32_t>(16, length - offset);
    bool erased = std::all_of(bytes.begin() + offset, bytes.begin() + offset + count,
                              [](uint8_t b) { return b == kErased; });
    if (erased && offset > 0 && offset + 16 < length) {
      if (!folding) out += "*\n";  // a run of erased lines shows as one star, as hexdump does
      folding = true;
      continue;
    }
    folding = false;
    int n = std::snprintf(line, sizeof line, "%08x:", address + offset);
    out.append(line, static_cast<size_t>(n));
    std::string ascii;
    for (uint32_t i = 0; i < 16; ++i) {
      if (i < count) {
        n = std::snprintf(line, sizeof line, " %02x", bytes[offset + i]);
        out.append(line, static_cast<size_t>(n));
        uint8_t b = bytes[offset + i];
        ascii += (b >= 0x20 && b < 0x7f) ? static_cast<char>(b) : '.';
      } else {
        out += "   ";
      }
    }
    out += "  |" + ascii + "|\n";
  }
  return out;
}

std::string DeviceState::country() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return country_;
}

void DeviceState::setCountry(const std::string& country) {
  std::lock_guard<std::mutex> lock(mutex_);
  country_ = country;
}

std::string DeviceState::value(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = values_.find(name);
  return it == values_.end() ? std::string() : it->second;
}

void DeviceState::setValue(const std::string& name, const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_[name] = value;
}

std::map<std::string, std::string> DeviceState::values() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return values_;
}

std::vector<std::string> DeviceState::commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

void DeviceState::addCommand(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  commands_.push_back(line);
}

void DeviceState::clearCommands() {
  std::lock_guard<std::mutex> lock(mutex_);
  commands_.clear();
}

}  // namespace modemsim
