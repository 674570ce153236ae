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
  stored_ += text.size();
  trimLocked();
}

void Transcript::setLimit(size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  limit_ = bytes;
  trimLocked();
}

void Transcript::trimLocked() {
  while (stored_ > limit_ && entries_.size() > 1) {
    stored_ -= entries_.front().bytes.size();
    entries_.pop_front();
    ++dropped_;
  }
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
      stored_ += bytes.size();
      trimLocked();
      return;
    }
  }
  entries_.push_back({ms, direction, bytes});
  stored_ += bytes.size();
  trimLocked();
}

void Transcript::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
  stored_ = 0;
  dropped_ = 0;
}

std::vector<Transcript::Entry> Transcript::entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::vector<Entry>(entries_.begin(), entries_.end());
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

std::string Transcript::text(size_t max_entry_bytes) const {
  std::vector<Entry> copy;
  size_t dropped = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    copy.assign(entries_.begin(), entries_.end());
    dropped = dropped_;
  }
  std::string out;
  if (dropped > 0) out += "(" + std::to_string(dropped) + " earlier entries dropped)\n";
  char stamp[32];
  for (const auto& e : copy) {
    std::snprintf(stamp, sizeof stamp, "%8lld ms  ", e.ms);
    out += stamp;
    std::string shown;
    if (e.direction == Direction::kNote) {
      shown = e.bytes;
    } else if (max_entry_bytes > 0 && e.bytes.size() > max_entry_bytes) {
      size_t tail = max_entry_bytes / 4;
      size_t head = max_entry_bytes - tail;
      shown = readable(e.bytes.substr(0, head)) + "...(" + std::to_string(e.bytes.size()) + " bytes)..." +
              readable(e.bytes.substr(e.bytes.size() - tail));
    } else {
      shown = readable(e.bytes);
    }
    switch (e.direction) {
      case Direction::kFromHost: out += "host> " + shown; break;
      case Direction::kToHost: out += "dev<  " + shown; break;
      case Direction::kNote: out += "note  " + shown; break;
    }
    out += '\n';
  }
  return out;
}

}  // namespace modemsim
