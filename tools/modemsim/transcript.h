// Every byte each way between host and device, with monotonic time stamps, for test failure messages.
#pragma once

#include <cstdint>
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
  std::string text() const;

  // "AT\r\n\x01" -> "AT\\r\\n\\x01": control and high bytes in escape form, backslash doubled.
  static std::string readable(const std::string& bytes);

 private:
  void append(Direction direction, const std::string& bytes);
  mutable std::mutex mutex_;
  long long start_ns_;
  std::vector<Entry> entries_;
};

}  // namespace modemsim
