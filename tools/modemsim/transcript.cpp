#include "tools/modemsim/transcript.h"

#include <cstdio>

#include "tools/modemsim/time_scale.h"

namespace modemsim {
namespace {
// Bytes the same way within this many milliseconds join one entry: one answer stays one line.
constexpr long long kJoinMs = 5;
}  // namespace

Transcript::Transcript() : start_ns_(monotonicNs()) {}

void Transcript::fromHost(const std::string& bytes) { append(Direction::kFromHost, bytes); }
void Transcript::toHost(const std::string& bytes) { append(Direction::kToHost, bytes); }

void Transcript::note(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back({(monotonicNs() - start_ns_) / 1000000LL, Direction::kNote, text});
}

void Transcript::append(Direction direction, const std::string& bytes) {
  if (bytes.empty()) return;
  long long ms = (monotonicNs() - start_ns_) / 1000000LL;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!entries_.empty()) {
    Entry& last = entries_.back();
    // The time stamp of a joined entry stays that of its first byte.
    if (last.direction == direction && ms - last.ms <= kJoinMs && last.bytes.size() < 4096) {
      last.bytes += bytes;
      return;
    }
  }
  entries_.push_back({ms, direction, bytes});
}

void Transcript::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

std::vector<Transcript::Entry> Transcript::entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_;
}

std::string Transcript::bytes(Direction direction) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  for (const auto& e : entries_)
    if (e.direction == direction) out += e.bytes;
  return out;
}

std::string Transcript::readable(const std::string& bytes) {
  std::string out;
  char hex[8];
  for (unsigned char c : bytes) {
    switch (c) {
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20 || c >= 0x7f) {
          std::snprintf(hex, sizeof hex, "\\x%02x", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string Transcript::text() const {
  std::vector<Entry> copy = entries();
  std::string out;
  char stamp[32];
  for (const auto& e : copy) {
    std::snprintf(stamp, sizeof stamp, "%8lld ms  ", e.ms);
    out += stamp;
    switch (e.direction) {
      case Direction::kFromHost: out += "host> " + readable(e.bytes); break;
      case Direction::kToHost: out += "dev<  " + readable(e.bytes); break;
      case Direction::kNote: out += "note  " + e.bytes; break;
    }
    out += '\n';
  }
  return out;
}

}  // namespace modemsim
