// A bank of simulated devices, each behind its own pseudo-terminal linked as COM<n> in one directory.
// Point a program at the bank with SERIAL_PORTS_DIR=<dir()>; "\\.\COM3" then reaches device 3.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/modemsim/device.h"
#include "tools/modemsim/device_config.h"

namespace modemsim {

class Bank {
 public:
  // `dir` empty: a fresh directory from mkdtemp under $TMPDIR (or /tmp). Either way a directory the bank
  // made itself is removed again by the destructor; a `dir` that existed already stays.
  explicit Bank(const std::string& dir = std::string());
  ~Bank();
  Bank(const Bank&) = delete;
  Bank& operator=(const Bank&) = delete;

  // Adds a device (on config.port, or on the next free COM number when that is 0). A device added to
  // a running bank starts at once. Throws ConfigError (port taken, unknown dialogue) or
  // std::runtime_error (no pseudo-terminal).
  Device& add(const DeviceConfig& config);
  Device& add(const std::string& device_text) { return add(DeviceConfig::parse(device_text)); }
  void addAll(const std::vector<DeviceConfig>& configs);

  void start();  // starts every device not yet running
  void stop();   // stops every device and removes the links (the directory stays until destruction)
  bool running() const { return running_; }

  const std::string& dir() const { return dir_; }
  std::string path(int port) const;         // <dir>/COM<port>
  static std::string portName(int port);    // "\\.\COM<port>", the name the programs take

  Device& device(int port);                 // throws std::out_of_range
  Device* find(int port);                   // nullptr when there is none
  std::vector<Device*> devices();
  // Transcripts of every device, each under a "---- COMn (name) ----" heading.
  std::string transcripts();

 private:
  std::string dir_;
  bool own_dir_ = false;
  bool running_ = false;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Device>> devices_;
};

}  // namespace modemsim
