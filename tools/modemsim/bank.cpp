#include "tools/modemsim/bank.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace modemsim {

Bank::Bank(const std::string& dir) : dir_(dir) {
  if (!dir_.empty()) {
    // A directory made here is removed again at the end; one that was there already is left as found.
    if (mkdir(dir_.c_str(), 0700) == 0) {
      own_dir_ = true;
      return;
    }
    if (errno != EEXIST) throw std::runtime_error("cannot create " + dir_ + ": " + std::strerror(errno));
    struct stat st {};
    if (stat(dir_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      throw std::runtime_error(dir_ + " exists and is not a directory");
    return;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/modemsim.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr)
    throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
  dir_ = name.data();
  own_dir_ = true;
}

Bank::~Bank() {
  stop();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.clear();
  }
  if (own_dir_) rmdir(dir_.c_str());  // only empties it made itself; foreign files keep it alive
}

Device& Bank::add(const DeviceConfig& config) {
  std::lock_guard<std::mutex> lock(mutex_);
  int port = config.port;
  auto taken = [&](int p) {
    for (const auto& d : devices_)
      if (d->port() == p) return true;
    return false;
  };
  if (port == 0) {
    port = 1;
    while (taken(port)) ++port;
  } else if (taken(port)) {
    throw ConfigError("COM" + std::to_string(port) + " is already in the bank");
  }
  auto device = std::make_unique<Device>(config, port);
  if (running_) device->start(dir_);
  devices_.push_back(std::move(device));
  return *devices_.back();
}

void Bank::addAll(const std::vector<DeviceConfig>& configs) {
  for (const auto& config : configs) add(config);
}

void Bank::start() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& d : devices_) d->start(dir_);
  running_ = true;
}

void Bank::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& d : devices_) d->stop();
  running_ = false;
}

std::string Bank::path(int port) const { return dir_ + "/COM" + std::to_string(port); }

std::string Bank::portName(int port) { return "\\\\.\\COM" + std::to_string(port); }

Device* Bank::find(int port) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& d : devices_)
    if (d->port() == port) return d.get();
  return nullptr;
}

Device& Bank::device(int port) {
  Device* d = find(port);
  if (d == nullptr) throw std::out_of_range("no simulated device on COM" + std::to_string(port));
  return *d;
}

std::vector<Device*> Bank::devices() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Device*> out;
  for (auto& d : devices_) out.push_back(d.get());
  return out;
}

std::string Bank::transcripts() {
  std::string out;
  for (Device* d : devices()) {
    out += "---- COM" + std::to_string(d->port());
    if (!d->config().name.empty()) out += " (" + d->config().name + ")";
    out += " ----\n" + d->transcript().text();
  }
  return out;
}

}  // namespace modemsim
