// Every byte each way between host and device, with monotonic time stamps, for test failure messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace modemsim {

class Transcript {
 public:
  enum class Direction { kFromHost, kToHost, kNote };

  struct Entry {
    long long ms;        // milliseconds on the monotonic clock since the transcript began
    Direction direction;
    std::string bytes;   // raw bytes (kNote: a readable remark such as a fault that acted)
  };

  Transcript();

  // Consecutive bytes the same way within a few milliseconds join one entry.
  void fromHost(const std::string& bytes);
  void toHost(const std::string& bytes);
  void note(const std::string& text);
  void clear();

  std::vector<Entry> entries() const;
  // All bytes one way, joined (for assertions on what the device sent or heard).
  std::string bytes(Direction direction) const;
  // One line per entry: "    12 ms  host> AT\r" / "    13 ms  dev<  AT\r\r\nOK\r\n" / "    14 ms  note  ...".
  // An entry longer than `max_entry_bytes` (a flash block) shows its first and last bytes around
  // "...(N bytes)..."; 0 shows everything.
  std::string text(size_t max_entry_bytes = kDefaultEntryBytes) const;
  static constexpr size_t kDefaultEntryBytes = 256;

  // At most this many bytes are kept in all; the oldest entries go first (a long-running bank must
  // not grow without end). Default 8 MiB.
  void setLimit(size_t bytes);
  static constexpr size_t kDefaultLimit = 8u << 20;

  // "AT\r\n\x01" -> "AT\\r\\n\\x01": control and high bytes in escape form, backslash doubled.
  static std::string readable(const std::string& bytes);

 private:
  void append(Direction direction, const std::string& bytes);
  mutable std::mutex mutex_;
  void trimLocked();
  long long start_ns_;
  std::deque<Entry> entries_;
  size_t stored_ = 0;              // bytes held in entries_
  size_t limit_ = kDefaultLimit;
  size_t dropped_ = 0;             // entries dropped to keep within the limit
};

}  // namespace modemsim
