// The flash loader of Lucent/Agere devices, as the Lucent/Agere download protocol meets it.
//
// The resident loader is started with the GO command of the device's command variant: "AT&&FGO\r"
// (variant 0), "AT&&WGO\r" (1) or "AT&&ZGO\n" (2, with a line feed where the others have a CR; the
// same text with a CR is refused with ERROR). It answers "\r\nVer:<v>\r\nOK\r\n" and takes the byte
// stream. Instead of GO a host may send a new loader in command mode, each line prefixed with the
// variant's command ("at&&f:10000000..."); each line is acknowledged with "\r\nOK\r\n", the loader's
// end record also with the new loader's banner first, and then the new loader takes the stream.
//
// The running loader takes image lines (Intel HEX, CR LF), one at a time: "\r\nOK\r\n" when the line
// was programmed, "\r\nNOKn\r\n" when it was not (a line whose checksum is wrong gets NOK3, "send it
// again"). The first image line erases the flash; the end record ends the loader.
//
// Device file keys (with ident-lucent before it: "dialogues = ident-lucent, lucent-loader"):
//   lucent.variant = 0              the command variant (shared with the identification dialogue)
//   lucent.go_version = 4.4         the resident loader's version after GO
//   lucent.new_loader = Ver:4.4     what the new loader announces after its end record
//                                   ("OCM Ver:1.3" for the Agere loader; empty: nothing)
//   fault.lucent.no_version = on    GO is answered with "OK" alone
//   fault.lucent.go_silent = on     GO is heard but never answered (the loader does not start)
//   fault.lucent.nok = L:C[:T],...  image line L is answered "NOKC" for its first T writes (all when
//                                   T is absent); after NOK2/NOK3 the loader wants the line again,
//                                   after NOK1/NOK4 it expects the next line and programs nothing
//   fault.lucent.silent_line = L    image line L is never answered
//   fault.lucent.late_line = L:MS   image line L is answered MS milliseconds late (scaled)
//   fault.lucent.silent_loader = L:T  loader line L is not answered for its first T writes
//
// What the device ends up holding: its flash memory (programmed from the image's data records), and
// the named values lucent.loader_lines and lucent.image_lines (the loader lines as heard, prefix
// included, and the image lines it acknowledged, each without its CR LF, '\n'-separated),
// lucent.answers ("line:answer" of every image line not plainly acknowledged, ';'-separated),
// lucent.go (GO commands that started the loader), lucent.defaults (factory-defaults restores),
// lucent.flow_control ("on" or "off": the host's hardware flow control when the loader started),
// lucent.host_speed and lucent.state ("loader", "flashed").
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tools/modemsim/device.h"
#include "tools/modemsim/device_config.h"
#include "tools/modemsim/dialogue.h"

namespace {

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

void bump(modemsim::DeviceState& state, const std::string& name) {
  std::string value = state.value(name);
  state.setValue(name, std::to_string((value.empty() ? 0 : std::stol(value)) + 1));
}

void append(modemsim::DeviceState& state, const std::string& name, const std::string& item, char separator) {
  std::string value = state.value(name);
  state.setValue(name, value.empty() ? item : value + separator + item);
}

// "L:C[:T],..." -> {L: {C, T}}; T = -1 for every write.
struct Nok {
  int code = 0;
  long tries = -1;
};
std::map<long, Nok> parseNoks(const std::string& text) {
  std::map<long, Nok> noks;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    long line = 0, tries = -1;
    int code = 0;
    if (std::sscanf(item.c_str(), " %ld:%d:%ld", &line, &code, &tries) >= 2 && line > 0) noks[line] = {code, tries};
  }
  return noks;
}

// "A:B" -> {A, B}; {0, 0} when absent.
std::pair<long, long> parsePair(const std::string& text) {
  long a = 0, b = 0;
  if (std::sscanf(text.c_str(), " %ld:%ld", &a, &b) < 1) return {0, 0};
  return {a, b};
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One Intel HEX record: type, offset, data. False when malformed or its checksum is wrong.
struct Record {
  int type = 0;
  uint32_t offset = 0;
  std::vector<uint8_t> data;
};
bool parseRecord(const std::string& line, Record* record) {
  if (line.size() < 11 || line[0] != ':' || (line.size() - 1) % 2 != 0) return false;
  std::vector<uint8_t> bytes;
  for (size_t i = 1; i + 1 < line.size(); i += 2) {
    int hi = hexValue(line[i]), lo = hexValue(line[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  if (bytes.size() != static_cast<size_t>(bytes[0]) + 5) return false;
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  if (sum != 0) return false;
  record->offset = (static_cast<uint32_t>(bytes[1]) << 8) | bytes[2];
  record->type = bytes[3];
  record->data.assign(bytes.begin() + 4, bytes.end() - 1);
  return true;
}

class LucentLoader : public modemsim::Dialogue {
 public:
  explicit LucentLoader(const modemsim::DeviceConfig& config)
      : variant_(config.getInt("lucent.variant", 0)),
        go_version_(config.get("lucent.go_version", "4.4")),
        new_loader_(config.get("lucent.new_loader", "Ver:4.4")),
        no_version_(config.getBool("fault.lucent.no_version", false)),
        go_silent_(config.getBool("fault.lucent.go_silent", false)),
        noks_(parseNoks(config.get("fault.lucent.nok"))),
        silent_line_(config.getInt("fault.lucent.silent_line", 0)),
        late_line_(parsePair(config.get("fault.lucent.late_line"))),
        silent_loader_(parsePair(config.get("fault.lucent.silent_loader"))) {}

  bool onCommand(modemsim::Device& dev, const std::string& line) override {
    const std::string command = upper(line);
    if (command == "AT&F&W&W1Z") {
      bump(dev.state(), "lucent.defaults");
      dev.resetSettings();
      dev.ok();
      return true;
    }
    if (variant_ != 2 && command == std::string("AT&&") + letter() + "GO") {
      startLoader(dev, true);
      return true;
    }
    const std::string prefix = std::string("AT&&") + letter();
    if (command.size() > prefix.size() && command.compare(0, prefix.size(), prefix) == 0 &&
        command[prefix.size()] == ':') {
      onLoaderLine(dev, line);
      return true;
    }
    return false;
  }

  bool onByte(modemsim::Device& dev, uint8_t byte) override {
    if (dev.streamOwner() != this) return watchLineFeedGo(dev, byte);
    if (byte == '\n') {
      std::string line = line_;
      line_.clear();
      // The host ends every line with CR LF; a lone LF is the tail of the command line that started
      // this loader, not an empty image line.
      if (line.empty()) return true;
      if (line.back() == '\r') line.pop_back();
      onImageLine(dev, line);
    } else if (line_.size() < 600) {
      line_ += static_cast<char>(byte);
    }
    return true;
  }

  void onTimer(modemsim::Device& dev) override {
    dev.send(pending_answer_);
    pending_answer_.clear();
  }

 private:
  char letter() const { return (variant_ >= 0 && variant_ <= 2) ? "FWZ"[variant_] : '?'; }

  // Variant 2 ends its GO with a line feed, which the AT line editor ignores: watch for it here.
  bool watchLineFeedGo(modemsim::Device& dev, uint8_t byte) {
    if (variant_ != 2) return false;
    if (byte == '\r') {
      typed_.clear();
      return false;
    }
    if (byte != '\n') {
      if (typed_.size() < 32) typed_ += static_cast<char>(byte);
      return false;
    }
    bool go = upper(typed_) == "AT&&ZGO";
    typed_.clear();
    if (!go) return false;
    startLoader(dev, true);
    return true;
  }

  void noteHost(modemsim::Device& dev) {
    dev.state().setValue("lucent.flow_control", dev.hostFlowControl() ? "on" : "off");
    dev.state().setValue("lucent.host_speed", std::to_string(dev.hostSpeed()));
  }

  void startLoader(modemsim::Device& dev, bool resident) {
    noteHost(dev);
    if (resident) {
      if (go_silent_) return;
      bump(dev.state(), "lucent.go");
      std::string version = no_version_ ? "" : "\r\nVer:" + go_version_;
      dev.send(version + "\r\nOK\r\n");
    }
    dev.state().setValue("lucent.state", "loader");
    line_.clear();
    image_line_ = 1;
    tries_ = 0;
    erased_ = false;
    base_ = 0;
    loader_tries_.clear();
    dev.takeStream(this);
  }

  void onLoaderLine(modemsim::Device& dev, const std::string& line) {
    if (loader_line_ == 0) noteHost(dev);
    if (line != last_loader_line_) ++loader_line_;  // a resend is the same line again
    last_loader_line_ = line;
    append(dev.state(), "lucent.loader_lines", line, '\n');
    long tries = ++loader_tries_[loader_line_];
    if (loader_line_ == silent_loader_.first && tries <= silent_loader_.second) return;
    Record record;
    const std::string text = line.substr(5);
    if (!parseRecord(text, &record)) {
      dev.send("\r\nNOK3\r\n");
      return;
    }
    if (record.type == 1) {
      std::string banner = new_loader_.empty() ? "" : "\r\n" + new_loader_;
      dev.send(banner + "\r\nOK\r\n");
      startLoader(dev, false);
      return;
    }
    dev.ok();
  }

  void answerImageLine(modemsim::Device& dev, const std::string& answer) {
    if (image_line_ == late_line_.first && late_line_.second > 0) {
      pending_answer_ = answer;
      dev.setTimer(this, late_line_.second);
      return;
    }
    dev.send(answer);
  }

  void onImageLine(modemsim::Device& dev, const std::string& line) {
    const long number = image_line_;
    const long tries = ++tries_;
    if (number == silent_line_) return;
    auto nok = noks_.find(number);
    if (nok != noks_.end() && (nok->second.tries < 0 || tries <= nok->second.tries)) {
      reject(dev, number, nok->second.code);
      return;
    }
    Record record;
    if (!line.empty() && !parseRecord(line, &record)) {
      reject(dev, number, 3);
      return;
    }
    if (!erased_) {
      dev.state().flash.eraseAll();
      erased_ = true;
    }
    if (!line.empty()) program(dev, record);
    append(dev.state(), "lucent.image_lines", line, '\n');
    ++image_line_;
    tries_ = 0;
    answerImageLine(dev, "\r\nOK\r\n");
    if (!line.empty() && record.type == 1) {
      dev.state().setValue("lucent.state", "flashed");
      dev.releaseStream();
    }
  }

  void reject(modemsim::Device& dev, long number, int code) {
    append(dev.state(), "lucent.answers", std::to_string(number) + ":NOK" + std::to_string(code), ';');
    if (code == 1 || code == 4) {
      ++image_line_;  // the loader gives this line up and expects the next one
      tries_ = 0;
    }
    answerImageLine(dev, "\r\nNOK" + std::to_string(code) + "\r\n");
  }

  void program(modemsim::Device& dev, const Record& record) {
    switch (record.type) {
      case 0:
        dev.state().flash.write(base_ + record.offset, record.data);
        break;
      case 2:
        if (record.data.size() == 2) base_ = ((static_cast<uint32_t>(record.data[0]) << 8) | record.data[1]) << 4;
        break;
      case 4:
        if (record.data.size() == 2) base_ = ((static_cast<uint32_t>(record.data[0]) << 8) | record.data[1]) << 16;
        break;
      default:
        break;
    }
  }

  const long variant_;
  const std::string go_version_;
  const std::string new_loader_;
  const bool no_version_;
  const bool go_silent_;
  const std::map<long, Nok> noks_;
  const long silent_line_;
  const std::pair<long, long> late_line_;
  const std::pair<long, long> silent_loader_;

  std::string typed_;             // command-mode bytes since the last CR or LF (variant 2's GO)
  std::string line_;              // the image line being received
  long image_line_ = 1;           // number of the image line expected next
  long tries_ = 0;                // writes of that line so far
  bool erased_ = false;
  uint32_t base_ = 0;             // extended address of the image's data records
  long loader_line_ = 0;          // number of the last loader line heard
  std::string last_loader_line_;
  std::map<long, long> loader_tries_;
  std::string pending_answer_;    // a late answer waiting for the timer
};

const modemsim::DialogueRegistrar kRegistrar("lucent-loader", [](const modemsim::DeviceConfig& config) {
  return std::make_unique<LucentLoader>(config);
});

}  // namespace
