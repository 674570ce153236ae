// The simulated bank's description files under hostile input: the bytes are a bank file, read as
// modemsim reads one, and also a single device file. The devices a bank describes are then built, as
// the bank builds them before it starts (family dialogues take their own keys then), but never started:
// no pseudo-terminal is opened.
#include "fuzz/fresh_scratch.h"
#include "tools/modemsim/bank.h"
#include "tools/modemsim/device_config.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

// Each device holds a pipe and an inotify instance; inotify instances are few per user, and other
// processes of the user need theirs.
constexpr size_t kDevicesBuilt = 8;

void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "bank_description: %s: %s\n", what, detail.c_str());
  std::abort();
}

// What holds for every device a file was accepted for.
void checkDevice(const modemsim::DeviceConfig& config) {
  if (config.port < 0 || config.port > 999) fail("port out of range", std::to_string(config.port));
  if (config.speed <= 0) fail("speed not above 0", std::to_string(config.speed));
  for (const auto& key : config.keys) {
    if (key.first.empty()) fail("empty key kept", key.second);
    for (char c : key.first)
      if (std::isupper(static_cast<unsigned char>(c))) fail("key not in lower case", key.first);
    if (config.get(key.first) != key.second) fail("key does not read back", key.first);
  }
  std::set<std::string> seen;
  for (const auto& name : config.dialogues)
    if (name.empty() || !seen.insert(name).second) fail("dialogue list empty or repeated", name);
  for (const auto& number : config.ati)
    if (number.first < 0 || number.first > 255) fail("ATI number out of range", std::to_string(number.first));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    checkDevice(modemsim::DeviceConfig::parse(text));
  } catch (const modemsim::ConfigError&) {
    // A refused file says why; that is all a malformed file may do.
  }

  std::vector<modemsim::DeviceConfig> configs;
  try {
    configs = modemsim::loadBank(fuzz::WriteFreshScratch("bank.ini", data, size));
  } catch (const modemsim::ConfigError&) {
    return 0;
  }
  if (configs.empty()) fail("a bank of no devices", "");
  std::set<int> ports;
  for (const auto& config : configs) {
    checkDevice(config);
    if (config.port != 0 && !ports.insert(config.port).second)
      fail("two devices on one port", std::to_string(config.port));
  }
  if (configs.size() > kDevicesBuilt) configs.resize(kDevicesBuilt);
  // The scratch directory exists already, so the bank leaves it in place.
  modemsim::Bank bank(fuzz::ScratchDir());
  try {
    bank.addAll(configs);
  } catch (const modemsim::ConfigError&) {
    // An unknown dialogue name; the devices built before it are still the bank's.
  }
  for (modemsim::Device* device : bank.devices()) {
    if (device->port() < 1) fail("device without a port", std::to_string(device->port()));
    if (device->connected()) fail("a device that was never started is connected", device->linkPath());
  }
  return 0;
}
