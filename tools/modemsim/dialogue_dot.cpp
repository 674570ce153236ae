// The boot code of the "CF" device families as the dot/upload download meets it.
//
// "AT**" enters download mode: the boot code says "UPLOAD FILE\r\n" and then a dot when it is ready.
// Devices that enter download mode only at power-on say the dot by themselves instead, a while after
// the host has opened the port (the user switched the device off and on). Blocks then come as "W",
// the block's data bytes and, on some families, the byte 0x17; each is acknowledged with a dot. "E"
// ends the image; what follows it is taken without answer, and once a block's worth has come the new
// firmware starts: the device is an AT modem again, at its own speed.
//
// Device file keys:
//   family = dot
//   dot.block = 64                   block size (64 or 128)
//   dot.trailer = off                every block ends with 0x17 (a block without it gets "ERROR")
//   dot.power_cycle_ms = -1          0 or more: no "AT**"; the dot comes once the host has held the
//                                    port open at the device's own speed (the file's `speed`) this
//                                    long without sending a byte: a host that asked the user to
//                                    switch the device off and on and waits. A host that talks (the
//                                    identification's commands) or closes the port starts the count
//                                    again; after the power cycle the device runs at its own speed.
//                                    A download cut off half-way (the host closed the port or the
//                                    line was lost before "E") leaves the boot code waiting; the
//                                    user switches the device off and on, which is modelled the
//                                    same way (this long, 10 s when not set), and the boot code
//                                    says its dot and takes the image afresh from its start.
//   fault.dot.no_banner = on         nothing after "AT**"
//   fault.dot.no_ready = on          no dot after the banner (or after the power cycle)
//   fault.dot.ready_error = on       "ERROR" instead of that dot
//   fault.dot.block.N = E,E,.        answers to the tries of block N (1-based): "." a dot, "E" "ERROR",
//                                    "-" nothing; once used up, a dot
//
// Kept in the device state: dot.data (data bytes of every acknowledged block, also programmed into
// flash memory from address 0 on), dot.end (every byte after "E"), dot.blocks (blocks heard, tries
// included), dot.flow ("on" when the host had CTS flow control set on entry), dot.speed, dot.entries,
// dot.restarts (downloads begun afresh after a cut-off one), dot.firmware_starts.
#include <cstdint>
#include <map>
#include <memory>
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

constexpr long kOpenPollMs = 20;
// The power cycle after a cut-off download: long enough that an identification's pauses (a probe
// that finds the port silent) are not taken for it.
constexpr long kRestartAfterCutMs = 10000;

class DotBootCode : public modemsim::Dialogue {
 public:
  explicit DotBootCode(const modemsim::DeviceConfig& config)
      : config_(config),
        block_size_(static_cast<size_t>(config.getInt("dot.block", 64))),
        trailer_(config.getBool("dot.trailer")),
        power_cycle_ms_(config.getInt("dot.power_cycle_ms", -1)),
        no_banner_(config.getBool("fault.dot.no_banner")),
        no_ready_(config.getBool("fault.dot.no_ready")),
        ready_error_(config.getBool("fault.dot.ready_error")) {}

  void onStart(modemsim::Device& dev) override {
    if (power_cycle_ms_ < 0) return;
    waiting_for_host_ = true;
    dev.setTimer(this, kOpenPollMs);
  }

  void onTimer(modemsim::Device& dev) override {
    bool waiting_host = dev.hostOpens() == 0 || dev.hostSpeed() != config_.speed;
    if (waiting_for_host_ || waiting_host || heard_) {
      // The count starts afresh from a silent host on an open port at the boot code's speed.
      waiting_for_host_ = waiting_host;
      heard_ = false;
      dev.setTimer(this, waiting_host ? kOpenPollMs : cycleMs());
      return;
    }
    // Switched off and on: the boot code runs at the device's own speed, whatever the host's last
    // command left it at, and a download starts again from the image's first byte.
    if (cut_off_) {
      cut_off_ = false;
      address_ = 0;
      block_number_ = 1;
      cursors_.clear();
      bump(dev.state(), "dot.restarts");
    }
    dev.setSpeed(config_.speed);
    enter(dev);
    ready(dev);
  }

  void onHostGone(modemsim::Device& dev) override {
    if (dev.streamOwner() != this || stage_ == Stage::kEnd || cut_off_) return;
    dev.transcript().note("dot: download cut off after " + std::to_string(address_) + " bytes");
    cut_off_ = true;
    waiting_for_host_ = true;
    heard_ = false;
    dev.setTimer(this, kOpenPollMs);
  }

  bool onCommand(modemsim::Device& dev, const std::string& line) override {
    if (power_cycle_ms_ >= 0 || upper(line) != "AT**") return false;
    enter(dev);
    if (no_banner_) return true;
    dev.send("UPLOAD FILE\r\n");
    ready(dev);
    return true;
  }

  bool onByte(modemsim::Device& dev, uint8_t byte) override {
    if (dev.streamOwner() != this) {
      heard_ = true;
      return false;
    }
    if (cut_off_) {  // the boot code of a cut-off download waits for the power cycle
      heard_ = true;
      return true;
    }
    switch (stage_) {
      case Stage::kIdle:
        if (byte == 'W') {
          stage_ = Stage::kBlock;
          block_.clear();
        } else if (byte == 'E') {
          stage_ = Stage::kEnd;
          dev.state().setValue("dot.end", "");
        } else {
          bump(dev.state(), "dot.stray");
        }
        break;
      case Stage::kBlock:
        block_ += static_cast<char>(byte);
        if (block_.size() == block_size_ + (trailer_ ? 1 : 0)) {
          stage_ = Stage::kIdle;
          answerBlock(dev);
        }
        break;
      case Stage::kEnd:
        append(dev.state(), "dot.end", std::string(1, static_cast<char>(byte)));
        // The end and a block's worth after it: the new firmware starts, a modem again at its speed.
        if (dev.state().value("dot.end").size() == block_size_) {
          stage_ = Stage::kIdle;
          dev.releaseStream();
          dev.setSpeed(config_.speed);
          bump(dev.state(), "dot.firmware_starts");
        }
        break;
    }
    return true;
  }

 private:
  enum class Stage { kIdle, kBlock, kEnd };

  long cycleMs() const { return power_cycle_ms_ >= 0 ? power_cycle_ms_ : kRestartAfterCutMs; }

  void enter(modemsim::Device& dev) {
    modemsim::chipsim::noteLine(dev, "dot");
    stage_ = Stage::kIdle;
    dev.takeStream(this);
  }

  void ready(modemsim::Device& dev) {
    if (ready_error_) {
      dev.send("ERROR");
    } else if (!no_ready_) {
      dev.send(".");
    }
  }

  void answerBlock(modemsim::Device& dev) {
    bump(dev.state(), "dot.blocks");
    std::vector<std::string> script = items(config_, "fault.dot.block." + std::to_string(block_number_));
    size_t& cursor = cursors_[block_number_];
    std::string answer = cursor < script.size() ? script[cursor++] : ".";
    if (trailer_ && static_cast<uint8_t>(block_.back()) != 0x17) answer = "E";
    if (answer == "E") {
      dev.send("ERROR");
      return;
    }
    if (answer != ".") return;
    std::string data = block_.substr(0, block_size_);
    dev.state().flash.program(address_, std::vector<uint8_t>(data.begin(), data.end()));
    address_ += static_cast<uint32_t>(data.size());
    append(dev.state(), "dot.data", data);
    ++block_number_;
    dev.send(".");
  }

  const modemsim::DeviceConfig config_;
  const size_t block_size_;
  const bool trailer_;
  const long power_cycle_ms_;
  const bool no_banner_, no_ready_, ready_error_;
  bool waiting_for_host_ = false;
  bool heard_ = false;   // the host sent a byte during the power-cycle count
  bool cut_off_ = false; // the host went away half-way through a download
  Stage stage_ = Stage::kIdle;
  std::string block_;
  long block_number_ = 1;
  uint32_t address_ = 0;
  std::map<long, size_t> cursors_;
};

const modemsim::DialogueRegistrar kRegistrar("dot", [](const modemsim::DeviceConfig& config) {
  return std::make_unique<DotBootCode>(config);
});

}  // namespace
