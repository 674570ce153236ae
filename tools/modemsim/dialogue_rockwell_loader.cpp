// The Rockwell/Conexant boot code and flash loader as the Rockwell download meets them.
//
// "AT**" enters download mode: the boot code says "Download initiated ..\r\n" and takes the loader
// program as text lines up to its end record (a line starting S7, S8 or S9); the loader then says
// "Download flash code ..\r\n" and takes the Intel HEX image as text lines up to the end-of-file
// record, programs the data records into flash and says "Device successfully programmed\r\n". The
// device is then back in command mode. Lines are never acknowledged one by one. The loader checks
// every image record: a line that is no well-formed record with a checksum that adds up is not
// programmed, and the loader then never says the final line, since the device does not hold the
// image.
//
// Device file keys:
//   family = rockwell-loader
//   rockwell.banner_capital = on     the banner reads "Download Initiated ..\r\n"
//   rockwell.final_upload = on       the final line reads "Upload successfully completed\r\n"
//   fault.rockwell.no_banner = on    nothing after "AT**" (the loader is still taken)
//   fault.rockwell.ok_banner = on    "\r\nOK\r\n" instead of the banner
//   fault.rockwell.nvram = on        "Upload NV_Ram Data ..\r\n" instead of "Download flash code ..\r\n"
//   fault.rockwell.no_flash_code = on  nothing after the loader
//   fault.rockwell.no_final = on     nothing after the image
//   fault.rockwell.late_final = MS   the final line leaves MS milliseconds late (scaled)
//
// Kept in the device state: rockwell.loader and rockwell.image (every byte of the two stages as
// heard, line ends included), rockwell.flow ("on" when the host had CTS flow control set at "AT**"),
// rockwell.speed (the host's speed then), rockwell.entries, rockwell.defaults (factory-defaults
// restores), rockwell.bad_lines (image lines refused), and the image's data records in flash memory.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/modemsim/chip_dialogue_util.h"
#include "tools/modemsim/device.h"
#include "tools/modemsim/dialogue.h"

namespace {

using modemsim::chipsim::append;
using modemsim::chipsim::bump;
using modemsim::chipsim::upper;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes of a record line ":LLAAAATT...CC"; empty when it is no well-formed record.
std::vector<uint8_t> recordBytes(const std::string& line) {
  std::vector<uint8_t> bytes;
  if (line.size() < 11 || line[0] != ':' || (line.size() - 1) % 2 != 0) return {};
  for (size_t i = 1; i + 1 < line.size(); i += 2) {
    int high = hexValue(line[i]), low = hexValue(line[i + 1]);
    if (high < 0 || low < 0) return {};
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  if (sum != 0 || bytes.size() != static_cast<size_t>(bytes[0]) + 5) return {};
  return bytes;
}

class RockwellLoader : public modemsim::Dialogue {
 public:
  explicit RockwellLoader(const modemsim::DeviceConfig& config)
      : banner_(config.getBool("rockwell.banner_capital") ? "Download Initiated ..\r\n" : "Download initiated ..\r\n"),
        final_(config.getBool("rockwell.final_upload") ? "Upload successfully completed\r\n"
                                                       : "Device successfully programmed\r\n"),
        no_banner_(config.getBool("fault.rockwell.no_banner")),
        ok_banner_(config.getBool("fault.rockwell.ok_banner")),
        nvram_(config.getBool("fault.rockwell.nvram")),
        no_flash_code_(config.getBool("fault.rockwell.no_flash_code")),
        no_final_(config.getBool("fault.rockwell.no_final")),
        late_final_ms_(config.getInt("fault.rockwell.late_final", 0)) {}

  void onTimer(modemsim::Device& dev) override { dev.send(final_); }

  bool onCommand(modemsim::Device& dev, const std::string& line) override {
    const std::string command = upper(line);
    if (command == "AT&F&W&W1Z") {
      bump(dev.state(), "rockwell.defaults");
      dev.resetSettings();
      dev.ok();
      return true;
    }
    if (command != "AT**") return false;
    modemsim::chipsim::noteLine(dev, "rockwell");
    stage_ = Stage::kLoader;
    line_.clear();
    base_ = 0;
    bad_line_ = false;
    dev.takeStream(this);
    if (ok_banner_) {
      dev.ok();
    } else if (!no_banner_) {
      dev.send(banner_);
    }
    return true;
  }

  bool onByte(modemsim::Device& dev, uint8_t byte) override {
    if (dev.streamOwner() != this) return false;
    append(dev.state(), stage_ == Stage::kLoader ? "rockwell.loader" : "rockwell.image",
           std::string(1, static_cast<char>(byte)));
    line_ += static_cast<char>(byte);
    if (line_.size() < 2 || line_.compare(line_.size() - 2, 2, "\r\n") != 0) return true;
    std::string text = line_.substr(0, line_.size() - 2);
    line_.clear();
    if (stage_ == Stage::kLoader) {
      if (text.size() >= 2 && (text[0] == 'S' || text[0] == 's') && text[1] >= '7' && text[1] <= '9') {
        stage_ = Stage::kImage;
        if (!no_flash_code_) dev.send(nvram_ ? "Upload NV_Ram Data ..\r\n" : "Download flash code ..\r\n");
      }
      return true;
    }
    imageLine(dev, text);
    return true;
  }

 private:
  enum class Stage { kLoader, kImage };

  void imageLine(modemsim::Device& dev, const std::string& text) {
    std::vector<uint8_t> record = recordBytes(text);
    if (record.empty()) {
      bump(dev.state(), "rockwell.bad_lines");
      bad_line_ = true;
      return;
    }
    const uint32_t offset = (static_cast<uint32_t>(record[1]) << 8) | record[2];
    const uint8_t type = record[3];
    std::vector<uint8_t> data(record.begin() + 4, record.end() - 1);
    if (type == 0) {
      dev.state().flash.program(base_ + offset, data);
    } else if (type == 2 && data.size() == 2) {
      base_ = ((static_cast<uint32_t>(data[0]) << 8) | data[1]) << 4;
    } else if (type == 4 && data.size() == 2) {
      base_ = ((static_cast<uint32_t>(data[0]) << 8) | data[1]) << 16;
    } else if (type == 1) {
      dev.releaseStream();
      if (no_final_ || bad_line_) return;
      if (late_final_ms_ > 0)
        dev.setTimer(this, late_final_ms_);
      else
        dev.send(final_);
    }
  }

  const std::string banner_;
  const std::string final_;
  const bool no_banner_, ok_banner_, nvram_, no_flash_code_, no_final_;
  const long late_final_ms_;
  Stage stage_ = Stage::kLoader;
  std::string line_;
  uint32_t base_ = 0;
  bool bad_line_ = false;  // an image line of this download was refused
};

const modemsim::DialogueRegistrar kRegistrar("rockwell-loader", [](const modemsim::DeviceConfig& config) {
  return std::make_unique<RockwellLoader>(config);
});

}  // namespace
