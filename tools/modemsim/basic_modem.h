// The basic AT modem every simulated device is: the command line editor (echo, "A/" repeats) and the
// fallback that answers the standard commands (E, V, Q, I, Z, &F, S-registers...) and says "ERROR" to
// anything it does not know, as a real modem does.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace modemsim {

class Device;

class BasicModem {
 public:
  BasicModem();
  // Feeds one byte heard in command mode; echoes it when echo is on. Returns true with `line` set
  // when a command line is complete ("AT..." without its CR; "A/" gives the previous line again).
  bool feed(Device& dev, uint8_t byte, std::string* line);
  // Answers a command line with the standard commands.
  void execute(Device& dev, const std::string& line);
  void reset();  // after a reboot: an empty line editor and default S-registers

  static constexpr size_t kMaxLine = 255;

 private:
  enum class State { kIdle, kGotA, kLine };
  State state_ = State::kIdle;
  char prefix_ = 'A';
  std::string buffer_;
  std::string last_line_;
  bool overflow_ = false;
  std::map<int, int> registers_;
};

}  // namespace modemsim
