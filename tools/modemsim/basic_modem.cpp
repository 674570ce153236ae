#include "tools/modemsim/basic_modem.h"

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/modemsim/device.h"

namespace modemsim {
namespace {

constexpr uint8_t kCr = '\r';
constexpr uint8_t kBackspace = 0x08;

int upper(char c) { return std::toupper(static_cast<unsigned char>(c)); }

// Reads the decimal number at `i` (none = 0, as a modem reads "ATE" as "ATE0").
int number(const std::string& text, size_t& i) {
  int value = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && value < 100000)
    value = value * 10 + (text[i++] - '0');
  return value;
}

}  // namespace

BasicModem::BasicModem() { reset(); }

void BasicModem::reset() {
  state_ = State::kIdle;
  buffer_.clear();
  overflow_ = false;
  registers_.clear();
  registers_[3] = kCr;
  registers_[4] = '\n';
  registers_[5] = kBackspace;
}

bool BasicModem::feed(Device& dev, uint8_t byte, std::string* line) {
  if (dev.echo()) dev.sendEcho(byte);
  switch (state_) {
    case State::kIdle:
      // Anything before an "A" is line noise: a modem waits for the attention prefix.
      if (upper(static_cast<char>(byte)) == 'A') {
        state_ = State::kGotA;
        prefix_ = static_cast<char>(byte);  // the line keeps the case it was typed in
      }
      return false;
    case State::kGotA: {
      int c = upper(static_cast<char>(byte));
      if (c == 'T') {
        buffer_ = std::string(1, prefix_);
        buffer_ += static_cast<char>(byte);
        overflow_ = false;
        state_ = State::kLine;
      } else if (c == '/') {
        state_ = State::kIdle;
        if (last_line_.empty()) return false;
        *line = last_line_;
        return true;
      } else if (c == 'A') {
        prefix_ = static_cast<char>(byte);
      } else {
        state_ = State::kIdle;
      }
      return false;
    }
    case State::kLine:
      if (byte == kCr) {
        state_ = State::kIdle;
        if (overflow_) {
          // Too long for the command buffer: the modem refuses the whole line.
          *line = std::string();
          return true;
        }
        *line = buffer_;
        last_line_ = buffer_;
        return true;
      }
      if (byte == kBackspace) {
        if (buffer_.size() > 2) buffer_.pop_back();
        return false;
      }
      if (byte == '\n') return false;
      if (buffer_.size() >= kMaxLine) {
        overflow_ = true;
      } else {
        buffer_ += static_cast<char>(byte);
      }
      return false;
  }
  return false;
}

void BasicModem::execute(Device& dev, const std::string& line) {
  if (line.size() < 2 || upper(line[0]) != 'A' || upper(line[1]) != 'T') {
    dev.error();
    return;
  }
  const DeviceConfig& config = dev.config();
  std::vector<std::string> infos;  // information texts go out before the final result code
  bool failed = false;
  size_t i = 2;
  while (i < line.size() && !failed) {
    int c = upper(line[i++]);
    switch (c) {
      case ' ':
        break;
      case 'E': {
        int n = number(line, i);
        if (n > 1) failed = true; else dev.setEcho(n == 1);
        break;
      }
      case 'V': {
        int n = number(line, i);
        if (n > 1) failed = true; else dev.setVerbose(n == 1);
        break;
      }
      case 'Q': {
        int n = number(line, i);
        if (n > 1) failed = true; else dev.setQuiet(n == 1);
        break;
      }
      case 'I': {
        auto it = config.ati.find(number(line, i));
        if (it == config.ati.end()) failed = true; else infos.push_back(it->second);
        break;
      }
      case 'Z':
        number(line, i);
        dev.resetSettings();
        break;
      case 'H': case 'L': case 'M': case 'X': case 'B': case 'P': case 'T':
        number(line, i);  // line and speaker settings: nothing to simulate
        break;
      case 'S': {
        int reg = number(line, i);
        if (reg > 255) {
          failed = true;
        } else if (i < line.size() && line[i] == '=') {
          ++i;
          int value = number(line, i);
          if (value > 255) failed = true; else registers_[reg] = value;
        } else if (i < line.size() && line[i] == '?') {
          ++i;
          char text[8];
          std::snprintf(text, sizeof text, "%03d", registers_.count(reg) ? registers_[reg] : 0);
          infos.push_back(text);
        } else {
          failed = true;
        }
        break;
      }
      case '&': {
        int sub = i < line.size() ? upper(line[i++]) : 0;
        if (sub == 'F') {
          number(line, i);
          dev.resetSettings();
        } else if (sub == 'W' || sub == 'C' || sub == 'D' || sub == 'K' || sub == 'Y') {
          number(line, i);
        } else {
          failed = true;
        }
        break;
      }
      default:
        failed = true;  // extended and vendor commands belong to the family dialogues
    }
  }
  if (failed) {
    dev.error();
    return;
  }
  for (const auto& info : infos) dev.sendInfo(info);
  dev.ok();
}

}  // namespace modemsim
