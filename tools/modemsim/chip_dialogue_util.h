// Small helpers the chip download dialogues share: command case, counters and per-block answer
// scripts kept in the device state.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/modemsim/device.h"
#include "tools/modemsim/device_config.h"

namespace modemsim {
namespace chipsim {

inline std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Adds one to the named counter of the device state.
inline void bump(DeviceState& state, const std::string& name) {
  std::string value = state.value(name);
  state.setValue(name, std::to_string((value.empty() ? 0 : std::stol(value)) + 1));
}

inline void append(DeviceState& state, const std::string& name, const std::string& bytes) {
  state.setValue(name, state.value(name) + bytes);
}

// The comma list of a device file key, each item trimmed ("04, 04,01" -> {"04", "04", "01"}).
inline std::vector<std::string> items(const DeviceConfig& config, const std::string& key) {
  std::vector<std::string> out;
  std::string text = config.get(key);
  size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    size_t first = item.find_first_not_of(" \t"), last = item.find_last_not_of(" \t");
    if (first != std::string::npos) out.push_back(item.substr(first, last - first + 1));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

// What the device saw of the host's line when it entered download mode.
inline void noteLine(Device& dev, const std::string& family) {
  dev.state().setValue(family + ".flow", dev.hostFlowControl() ? "on" : "off");
  dev.state().setValue(family + ".speed", std::to_string(dev.hostSpeed()));
  bump(dev.state(), family + ".entries");
}

}  // namespace chipsim
}  // namespace modemsim
