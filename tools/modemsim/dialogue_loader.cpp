// The maker's own flash loader, as the generic flash protocol meets it.
//
// "AT*FS\r" (heard at the device's own speed, the family's start speed) enters the loader, which
// then works at 19200 baud and owns the raw byte stream:
//   "M" polls            -> "U" (from the (k+1)-th poll with loader.sync_after = k; never with -1)
//   "D"                  -> the speed letter of the device's maximum speed
//   a speed letter       -> "\r\nOK\r\n", then the loader runs at that speed
//                           (I 9600, J 19200, K 38400, L 57600, M 115200)
//   command lines        -> echoed (bytes above 0x7F, never part of one, are dropped); "ATI1"
//                           answers the loader version, "ATDPOFF", "ATN", "ATC",
//                           "AT&F&W&W1Z" answer OK, anything else ERROR
//   "ATFLP"              -> "G", then a block: length (2 bytes), address (3 bytes, 4 with
//                           loader.addr32), data, XOR checksum; "\r\nOK\r\n" when the checksum is
//                           right and the block was programmed, else "\r\nERROR\r\n"
//   "ATFLEND"            -> leaves the loader; the device is back at its own speed
//
// A loader does not know its host. When the host goes away (closes the port, is killed, the line is
// lost), the loader stays in the loader at the speed agreed, with the blocks it has programmed; a
// block cut off half-way is dropped after a second of silence (scaled), and the next "ATFLP" is
// taken, so a host that comes back at that speed without the handshake finishes the image.
//
// Device file keys:
//   family = loader
//   loader.version = 2.00          what "ATI1" answers in the loader
//   loader.max_speed = 115200      the speed "D" answers (19200, 38400, 57600 or 115200)
//   loader.speed_letter = X        answer "D" with this letter instead (a wrong letter)
//   loader.sync_after = 0          polls left unanswered before the first "U"; -1: never
//   loader.addr32 = off            block headers carry a 4-byte address
//   loader.error_block = 0         answer ERROR to the k-th block (1-based, counted in blocks the
//   loader.error_count = 1         device accepted before it) this many times
//   loader.no_prompt_block = 0     from the k-th block on, "ATFLP" gets no "G"
//   loader.silent_block = 0        say nothing after the k-th block
//   loader.late_prompt = K:MS      the "G" for the K-th block leaves MS milliseconds late (scaled)
//   loader.late_block = K:MS       the answer to the K-th block leaves MS milliseconds late (scaled)
//   loader.pace_input = <throttle> bytes from the host take the line time at the loader's speed
//                                  before the loader answers (for throughput measurements)
//
// What the loader did is kept in the device state: the command lines it heard (commands()), its
// flash memory (each block erases what it covers and programs it), and the named values
// loader.blocks ("address:length" of each programmed block, hexadecimal, ';'-separated),
// loader.speed (the speed agreed), loader.entries (times the loader was entered),
// loader.defaults (times factory defaults were restored) and loader.dropped (blocks cut off and
// dropped after the silence).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tools/modemsim/device.h"
#include "tools/modemsim/device_config.h"
#include "tools/modemsim/dialogue.h"
#include "tools/modemsim/time_scale.h"

namespace {

constexpr long kSyncSpeed = 19200;
constexpr size_t kMaxBlock = 4096;
constexpr long kBlockSilenceMs = 1000;  // a block that stops this long is given up (scaled)

long speedOfLetter(uint8_t letter) {
  switch (letter) {
    case 'I': return 9600;
    case 'J': return 19200;
    case 'K': return 38400;
    case 'L': return 57600;
    case 'M': return 115200;
    default: return 0;
  }
}

char letterOfSpeed(long speed) {
  switch (speed) {
    case 9600: return 'I';
    case 19200: return 'J';
    case 38400: return 'K';
    case 57600: return 'L';
    default: return 'M';
  }
}

std::string upper(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

void bump(modemsim::DeviceState& state, const std::string& name) {
  std::string value = state.value(name);
  state.setValue(name, std::to_string((value.empty() ? 0 : std::stol(value)) + 1));
}

// "K:MS" -> {K, MS}; {0, 0} when absent or unreadable.
std::pair<long, long> lateAnswer(const std::string& text) {
  long block = 0, ms = 0;
  if (std::sscanf(text.c_str(), " %ld:%ld", &block, &ms) != 2) return {0, 0};
  return {block, ms};
}

class FlashLoader : public modemsim::Dialogue {
 public:
  explicit FlashLoader(const modemsim::DeviceConfig& config)
      : version_(config.get("loader.version", "2.00")),
        max_speed_(config.getInt("loader.max_speed", 115200)),
        speed_letter_(config.get("loader.speed_letter")),
        sync_after_(config.getInt("loader.sync_after", 0)),
        addr32_(config.getBool("loader.addr32", false)),
        error_block_(config.getInt("loader.error_block", 0)),
        error_count_(config.getInt("loader.error_count", 1)),
        no_prompt_block_(config.getInt("loader.no_prompt_block", 0)),
        silent_block_(config.getInt("loader.silent_block", 0)),
        late_prompt_(lateAnswer(config.get("loader.late_prompt"))),
        late_block_(lateAnswer(config.get("loader.late_block"))),
        pace_input_(config.getBool("loader.pace_input", config.throttle)) {}

  bool onCommand(modemsim::Device& dev, const std::string& line) override {
    std::string command = upper(line);
    if (command == "AT&F&W&W1Z") {
      bump(dev.state(), "loader.defaults");
      dev.resetSettings();
      dev.ok();
      return true;
    }
    if (command != "AT*FS") return false;
    enter(dev);
    return true;
  }

  void onTimer(modemsim::Device& dev) override {
    if (!late_answer_.empty()) {
      std::string late;
      late.swap(late_answer_);
      answer(dev, late);
      if (inBlock()) watchSilence(dev);  // a late "G": the block's bytes may come now
      return;
    }
    if (!inBlock()) return;
    long long silent_ns = modemsim::monotonicNs() - last_block_byte_ns_;
    long long limit_ns = modemsim::scaledMs(kBlockSilenceMs) * 1000000LL;
    if (silent_ns < limit_ns) {
      // Bytes came since the timer was set: wait out the rest of the second from the last one.
      dev.setTimer(this, static_cast<long>((limit_ns - silent_ns) / 1000000LL / std::max(modemsim::timeScale(), 1e-6)) + 1);
      return;
    }
    dev.transcript().note("loader: block cut off after " + std::to_string(header_.size() + data_.size()) +
                          " bytes, dropped");
    bump(dev.state(), "loader.dropped");
    state_ = State::kCommand;
    line_.clear();
  }

  bool onByte(modemsim::Device& dev, uint8_t byte) override {
    if (dev.streamOwner() != this) return false;
    paceByte(dev);
    if (inBlock()) last_block_byte_ns_ = modemsim::monotonicNs();
    switch (state_) {
      case State::kSync: onSyncByte(dev, byte); break;
      case State::kCommand: onCommandByte(dev, byte); break;
      case State::kHeader:
        header_.push_back(byte);
        if (header_.size() == (addr32_ ? 6u : 5u)) startData(dev);
        break;
      case State::kData:
        data_.push_back(byte);
        if (data_.size() == length_) state_ = State::kChecksum;
        break;
      case State::kChecksum: finishBlock(dev, byte); break;
    }
    return true;
  }

 private:
  enum class State { kSync, kCommand, kHeader, kData, kChecksum };

  void enter(modemsim::Device& dev) {
    bump(dev.state(), "loader.entries");
    polls_ = 0;
    rejected_ = 0;
    line_.clear();
    state_ = State::kSync;
    rx_free_ns_ = 0;
    dev.takeStream(this);
    dev.setSpeed(kSyncSpeed);
  }

  void leave(modemsim::Device& dev) {
    state_ = State::kSync;
    dev.releaseStream();
    dev.setSpeed(dev.config().speed);
  }

  // A real line delivers a byte every 10 bit times: with pacing on, an answer leaves only once
  // everything the host sent before it could have arrived.
  void paceByte(modemsim::Device& dev) {
    if (!pace_input_) return;
    long long per_byte = static_cast<long long>(10.0e9 / static_cast<double>(dev.speed()) * modemsim::timeScale());
    long long now = modemsim::monotonicNs();
    if (rx_free_ns_ < now) rx_free_ns_ = now;
    rx_free_ns_ += per_byte;
  }

  void answer(modemsim::Device& dev, const std::string& bytes) {
    if (pace_input_ && rx_free_ns_ > modemsim::monotonicNs()) modemsim::sleepUntilNs(rx_free_ns_);
    dev.send(bytes);
  }

  void onSyncByte(modemsim::Device& dev, uint8_t byte) {
    if (byte == 'M' && !awaiting_speed_) {
      ++polls_;
      if (sync_after_ >= 0 && polls_ > sync_after_) answer(dev, "U");
      return;
    }
    if (byte == 'D') {
      awaiting_speed_ = true;
      std::string letter = speed_letter_.empty() ? std::string(1, letterOfSpeed(max_speed_)) : speed_letter_;
      answer(dev, letter);
      return;
    }
    long speed = awaiting_speed_ ? speedOfLetter(byte) : 0;
    if (speed == 0) return;  // stray bytes (the echo of "AT*FS" crossing, noise) are ignored
    awaiting_speed_ = false;
    answer(dev, "\r\nOK\r\n");
    dev.state().setValue("loader.speed", std::to_string(speed));
    dev.setSpeed(speed);
    state_ = State::kCommand;
  }

  void onCommandByte(modemsim::Device& dev, uint8_t byte) {
    // A byte that is no character of a command (a host at the wrong speed, line noise) is dropped: it
    // must not spoil the next command line.
    if (byte >= 0x80) return;
    answer(dev, std::string(1, static_cast<char>(byte)));  // the loader echoes its command lines
    if (byte != '\r') {
      if (byte != '\n' && line_.size() < 255) line_ += static_cast<char>(byte);
      return;
    }
    std::string command = upper(line_);
    line_.clear();
    if (command.empty()) return;
    dev.state().addCommand(command);
    if (command == "ATI1") {
      answer(dev, "\r\n" + version_ + "\r\n\r\nOK\r\n");
    } else if (command == "ATDPOFF" || command == "ATN" || command == "ATC") {
      answer(dev, "\r\nOK\r\n");
    } else if (command == "AT&F&W&W1Z") {
      bump(dev.state(), "loader.defaults");
      answer(dev, "\r\nOK\r\n");
    } else if (command == "ATFLP") {
      if (no_prompt_block_ > 0 && blockNumber() >= no_prompt_block_) return;
      header_.clear();
      data_.clear();
      state_ = State::kHeader;
      last_block_byte_ns_ = modemsim::monotonicNs();
      answerBlock(dev, late_prompt_, blockNumber(), "G");
      if (late_answer_.empty()) watchSilence(dev);
    } else if (command == "ATFLEND") {
      leave(dev);
    } else {
      answer(dev, "\r\nERROR\r\n");
    }
  }

  long blockNumber() const { return accepted_ + 1; }

  bool inBlock() const { return state_ == State::kHeader || state_ == State::kData || state_ == State::kChecksum; }
  void watchSilence(modemsim::Device& dev) { dev.setTimer(this, kBlockSilenceMs); }

  void startData(modemsim::Device& dev) {
    length_ = (static_cast<size_t>(header_[0]) << 8) | header_[1];
    address_ = 0;
    for (size_t i = 2; i < header_.size(); ++i) address_ = (address_ << 8) | header_[i];
    if (length_ == 0 || length_ > kMaxBlock) {
      // No block the loader can take: refuse it at once (the host's data then reads as commands
      // that are refused too, as on the real loader).
      state_ = State::kCommand;
      answer(dev, "\r\nERROR\r\n");
      return;
    }
    state_ = State::kData;
  }

  void finishBlock(modemsim::Device& dev, uint8_t checksum) {
    state_ = State::kCommand;
    long number = blockNumber();
    if (silent_block_ > 0 && number == silent_block_) return;
    uint8_t sum = 0;
    for (uint8_t b : data_) sum ^= b;
    bool inject = error_block_ > 0 && number == error_block_ && rejected_ < error_count_;
    if (sum != checksum || inject) {
      ++rejected_;
      answerBlock(dev, late_block_, number, "\r\nERROR\r\n");
      return;
    }
    // The loader erases what the block covers and programs it.
    if (!dev.state().flash.program(address_, data_)) {
      answerBlock(dev, late_block_, number, "\r\nERROR\r\n");
      return;
    }
    ++accepted_;
    rejected_ = 0;
    char entry[32];
    std::snprintf(entry, sizeof entry, "%X:%zX;", static_cast<unsigned>(address_), data_.size());
    dev.state().setValue("loader.blocks", dev.state().value("loader.blocks") + entry);
    answerBlock(dev, late_block_, number, "\r\nOK\r\n");
  }

  // An answer about block `number`, at once or, when `late` names that block, after its delay.
  void answerBlock(modemsim::Device& dev, const std::pair<long, long>& late, long number, const std::string& bytes) {
    if (late.first > 0 && late.first == number) {
      late_answer_ = bytes;
      dev.setTimer(this, late.second);
      return;
    }
    answer(dev, bytes);
  }

  const std::string version_;
  const long max_speed_;
  const std::string speed_letter_;
  const long sync_after_;
  const bool addr32_;
  const long error_block_;
  const long error_count_;
  const long no_prompt_block_;
  const long silent_block_;
  const std::pair<long, long> late_prompt_;
  const std::pair<long, long> late_block_;
  const bool pace_input_;

  State state_ = State::kSync;
  bool awaiting_speed_ = false;
  long polls_ = 0;
  long accepted_ = 0;
  long rejected_ = 0;
  std::string line_;
  std::vector<uint8_t> header_;
  std::vector<uint8_t> data_;
  size_t length_ = 0;
  uint32_t address_ = 0;
  long long rx_free_ns_ = 0;
  long long last_block_byte_ns_ = 0;
  std::string late_answer_;  // what the timer sends
};

const modemsim::DialogueRegistrar kRegistrar("loader", [](const modemsim::DeviceConfig& config) {
  return std::make_unique<FlashLoader>(config);
});

}  // namespace
