// The Siemens module's firmware download as the Siemens protocol meets it.
//
// "AT^SFDL" enters download mode: the module says "\r\nOK\r\n", then the byte 0x01 once it is ready,
// and takes blocks of one length byte and that many data bytes, answering each with one control byte:
// 0x01 accepted, 0x02 send it again, 0x03 failed, 0x04 wait more. The module finds the speed of the
// host's "AT" by itself (autobauding) among the speeds it knows.
//
// Device file keys:
//   family = siemens
//   siemens.speeds = 115200, 57600     the speeds it finds by itself ("AT" at another speed is garbage)
//   siemens.ready_ms = 0               pause before the ready byte
//   fault.siemens.at_115200 = busy     answer to "AT^SFDL" heard at that speed: ok (default), retry,
//   fault.siemens.at_57600 = fatal     fatal, busy or silent (nothing)
//   fault.siemens.no_ready = on        never says the ready byte
//   fault.siemens.block.N = 04,04,01   the answers to block N (1-based), taken in turn: each time the
//                                      block arrives the module says them up to the first of 01, 02,
//                                      03 or "--" (nothing at all); once used up, blocks get 01
//   fault.siemens.late_block = N:MS    the last answer to block N leaves MS milliseconds late (scaled)
//
// Kept in the device state: siemens.file (length byte and data of every accepted block, which is the
// download file when everything was accepted), siemens.blocks (blocks heard, resends included),
// siemens.flow ("on" when the host had CTS flow control set at "AT^SFDL"), siemens.speed, siemens.entries.
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/modemsim/chip_dialogue_util.h"
#include "tools/modemsim/device.h"
#include "tools/modemsim/dialogue.h"

namespace {

using modemsim::chipsim::append;
using modemsim::chipsim::bump;
using modemsim::chipsim::items;
using modemsim::chipsim::upper;

class SiemensModule : public modemsim::Dialogue {
 public:
  explicit SiemensModule(const modemsim::DeviceConfig& config)
      : config_(config),
        ready_ms_(config.getInt("siemens.ready_ms", 0)),
        no_ready_(config.getBool("fault.siemens.no_ready")) {
    long block = 0, ms = 0;
    if (std::sscanf(config.get("fault.siemens.late_block").c_str(), " %ld:%ld", &block, &ms) == 2)
      late_block_ = {block, ms};
    for (const std::string& speed : items(config, "siemens.speeds")) {
      // A device file error, like any other: the conversion's own exception says only "stol".
      try {
        speeds_.push_back(std::stol(speed));
      } catch (const std::logic_error&) {
        throw modemsim::ConfigError("'siemens.speeds' needs speeds in bits per second, not '" + speed + "'");
      }
    }
    if (speeds_.empty()) speeds_ = {115200, 57600};
  }

  bool onCommand(modemsim::Device& dev, const std::string& line) override {
    if (upper(line) != "AT^SFDL") return false;
    enter(dev);
    return true;
  }

  bool onByte(modemsim::Device& dev, uint8_t byte) override {
    if (dev.streamOwner() == this) {
      downloadByte(dev, byte);
      return true;
    }
    // Autobauding: the first byte at a speed the module knows sets its speed. That byte is lost, so
    // the module reads the rest of the line itself ("T^SFDL").
    if (!dev.speedsMatch() && knows(dev.hostSpeed())) {
      dev.setSpeed(dev.hostSpeed());
      found_speed_ = true;
      heard_.clear();
      return true;
    }
    if (!found_speed_) return false;
    if (byte != '\r') {
      heard_ += static_cast<char>(byte);
      return true;
    }
    found_speed_ = false;
    if (upper(heard_) == "T^SFDL") enter(dev);
    return true;
  }

  // The ready byte, or a late block answer.
  void onTimer(modemsim::Device& dev) override {
    std::string bytes = late_answer_.empty() ? std::string(1, '\x01') : late_answer_;
    late_answer_.clear();
    dev.send(bytes);
  }

 private:
  enum class Stage { kLength, kData };

  bool knows(long speed) const {
    for (long s : speeds_)
      if (s == speed) return true;
    return false;
  }

  void enter(modemsim::Device& dev) {
    modemsim::chipsim::noteLine(dev, "siemens");
    std::string answer = upper(config_.get("fault.siemens.at_" + std::to_string(dev.hostSpeed()), "ok"));
    if (answer == "SILENT") return;
    if (answer != "OK") {
      dev.send("\r\n" + answer + "\r\n");
      return;
    }
    dev.send("\r\nOK\r\n");
    dev.takeStream(this);
    stage_ = Stage::kLength;
    if (!no_ready_) dev.setTimer(this, ready_ms_);
  }

  void downloadByte(modemsim::Device& dev, uint8_t byte) {
    if (stage_ == Stage::kLength) {
      block_.assign(1, static_cast<char>(byte));
      length_ = byte;
      stage_ = Stage::kData;
    } else {
      block_ += static_cast<char>(byte);
    }
    if (block_.size() < length_ + 1u) return;
    stage_ = Stage::kLength;
    bump(dev.state(), "siemens.blocks");
    answerBlock(dev);
  }

  void answerBlock(modemsim::Device& dev) {
    std::vector<std::string> script = items(config_, "fault.siemens.block." + std::to_string(block_number_));
    size_t& cursor = cursors_[block_number_];
    std::string terminal = "01";
    while (cursor < script.size()) {
      const std::string answer = script[cursor++];
      if (answer == "04") {
        dev.send(std::string(1, '\x04'));
        continue;
      }
      terminal = answer;
      break;
    }
    if (terminal == "01") append(dev.state(), "siemens.file", block_);
    if (terminal == "01" || terminal == "02" || terminal == "03") {
      const std::string bytes(1, static_cast<char>(std::stoi(terminal)));
      if (late_block_.first == block_number_) {
        late_answer_ = bytes;
        dev.setTimer(this, late_block_.second);
      } else {
        dev.send(bytes);
      }
    }
    if (terminal != "02") ++block_number_;
  }

  const modemsim::DeviceConfig config_;
  const long ready_ms_;
  const bool no_ready_;
  std::vector<long> speeds_;
  bool found_speed_ = false;
  std::string heard_;
  Stage stage_ = Stage::kLength;
  std::string block_;
  size_t length_ = 0;
  long block_number_ = 1;
  std::map<long, size_t> cursors_;
  std::pair<long, long> late_block_{0, 0};
  std::string late_answer_;  // what the timer sends instead of the ready byte
};

const modemsim::DialogueRegistrar kRegistrar("siemens", [](const modemsim::DeviceConfig& config) {
  return std::make_unique<SiemensModule>(config);
});

}  // namespace
