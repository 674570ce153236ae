#include "tools/modemsim/device_config.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace modemsim {
namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

bool parseLong(const std::string& text, long* out) {
  std::string t = trim(text);
  if (t.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(t.c_str(), &end, 0);
  if (errno != 0 || *end != '\0') return false;
  *out = value;
  return true;
}

bool parseBool(const std::string& text, bool* out) {
  std::string t = lower(trim(text));
  if (t == "1" || t == "on" || t == "yes" || t == "true") {
    *out = true;
    return true;
  }
  if (t == "0" || t == "off" || t == "no" || t == "false") {
    *out = false;
    return true;
  }
  return false;
}

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  std::string item;
  std::istringstream in(text);
  while (std::getline(in, item, ',')) {
    item = lower(trim(item));
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

[[noreturn]] void fail(int line, const std::string& what) {
  throw ConfigError("device file line " + std::to_string(line) + ": " + what);
}

// Re-derives the typed field that `key` sets from its stored text. `line` only names errors.
void applyKey(DeviceConfig& c, const std::string& key, const std::string& value, int line) {
  auto needLong = [&](long* field) {
    if (!parseLong(value, field)) fail(line, "'" + key + "' needs a number, not '" + value + "'");
  };
  auto needBool = [&](bool* field) {
    if (!parseBool(value, field)) fail(line, "'" + key + "' needs on/off, not '" + value + "'");
  };
  if (key == "port") {
    long port = 0;
    needLong(&port);
    if (port < 1 || port > 999) fail(line, "port out of range: " + value);
    c.port = static_cast<int>(port);
  } else if (key == "name") {
    c.name = value;
  } else if (key == "speed") {
    needLong(&c.speed);
    if (c.speed <= 0) fail(line, "speed must be above 0");
  } else if (key == "echo") {
    needBool(&c.echo);
  } else if (key == "verbose") {
    needBool(&c.verbose);
  } else if (key == "quiet") {
    needBool(&c.quiet);
  } else if (key == "throttle") {
    needBool(&c.throttle);
  } else if (key == "throttle_input") {
    needBool(&c.throttle_input);
  } else if (key == "adapter.latency_ms") {
    needLong(&c.adapter_latency_ms);
    if (c.adapter_latency_ms < 0) fail(line, "adapter.latency_ms must not be below 0");
  } else if (key.compare(0, 8, "adapter.") == 0) {
    // As with faults: a misspelt adapter key would silently leave the line direct.
    fail(line, "unknown adapter key '" + key + "'");
  } else if (key.compare(0, 4, "ati.") == 0) {
    long n = 0;
    if (!parseLong(key.substr(4), &n) || n < 0 || n > 255) fail(line, "bad ATI number in '" + key + "'");
    c.ati[static_cast<int>(n)] = value;
  } else if (key == "model") {
    c.model = value;
  } else if (key == "version") {
    c.version = value;
  } else if (key == "country") {
    c.country = value;
  } else if (key == "special_build") {
    c.special_build = value;
  } else if (key == "family" || key == "dialogues") {
    // Both keys feed one ordered list; the other key's entries stay.
    std::vector<std::string> merged;
    auto add = [&](const std::string& list) {
      for (const auto& item : splitList(list)) {
        bool seen = false;
        for (const auto& m : merged) seen = seen || m == item;
        if (!seen) merged.push_back(item);
      }
    };
    auto family = c.keys.find("family");
    auto dialogues = c.keys.find("dialogues");
    if (family != c.keys.end()) add(family->second);
    if (dialogues != c.keys.end()) add(dialogues->second);
    c.dialogues = merged;
  } else if (key == "fault.silent") {
    needBool(&c.faults.silent);
  } else if (key == "fault.garbage") {
    needBool(&c.faults.garbage);
  } else if (key == "fault.delay_ms") {
    needLong(&c.faults.delay_ms);
  } else if (key == "fault.disconnect_after" || key == "fault.disconnect_after_rx") {
    needLong(&c.faults.disconnect_after_rx);
  } else if (key == "fault.disconnect_after_tx") {
    needLong(&c.faults.disconnect_after_tx);
  } else if (key == "fault.reconnect_ms") {
    needLong(&c.faults.reconnect_ms);
  } else if (key == "fault.drop_every") {
    needLong(&c.faults.drop_every);
  } else if (key == "fault.corrupt_every") {
    needLong(&c.faults.corrupt_every);
  } else if (key == "fault.direction") {
    std::string d = lower(value);
    if (d == "to_host" || d == "tx") {
      c.faults.direction = FaultDirection::kToHost;
    } else if (d == "from_host" || d == "rx") {
      c.faults.direction = FaultDirection::kFromHost;
    } else if (d == "both") {
      c.faults.direction = FaultDirection::kBoth;
    } else {
      fail(line, "fault.direction is to_host, from_host or both, not '" + value + "'");
    }
  } else if (key == "fault.ignore" || key == "fault.error") {
    // Command lines compare without regard to case, as a modem reads them.
    std::vector<std::string> lines;
    std::string item;
    std::istringstream in(value);
    while (std::getline(in, item, ',')) {
      item = trim(item);
      for (char& ch : item) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      if (!item.empty()) lines.push_back(item);
    }
    (key == "fault.ignore" ? c.faults.ignore : c.faults.error) = lines;
  } else if (key.compare(0, 6, "fault.") == 0 && key.find('.', 6) == std::string::npos) {
    // A misspelt fault would silently test nothing; family faults use "fault.<family>.<name>".
    fail(line, "unknown fault '" + key + "'");
  }
  // Any other key belongs to a family dialogue and is only kept in `keys`.
}

// Parses key lines into `c`, starting at `first_line`; stops at a section header and returns its index.
void parseLines(const std::vector<std::string>& lines, size_t& index, DeviceConfig& c) {
  for (; index < lines.size(); ++index) {
    int line_no = static_cast<int>(index) + 1;
    std::string line = trim(lines[index]);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') return;
    size_t eq = line.find('=');
    if (eq == std::string::npos) fail(line_no, "expected 'key = value', got '" + line + "'");
    bool append = eq > 0 && line[eq - 1] == '+';
    std::string key = lower(trim(line.substr(0, append ? eq - 1 : eq)));
    if (key.empty()) fail(line_no, "missing key");
    std::string value = unescape(trim(line.substr(eq + 1)));
    auto existing = c.keys.find(key);
    if (append && existing != c.keys.end()) value = existing->second + "\n" + value;
    c.keys[key] = value;
    applyKey(c, key, value, line_no);
  }
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // files edited on the other platform
    lines.push_back(line);
  }
  return lines;
}

// "[device COM3]", "[COM3]" or "[device 3]" -> 3.
int sectionPort(const std::string& header, int line_no) {
  std::string inner = lower(trim(header.substr(1, header.size() - 2)));
  if (inner.compare(0, 6, "device") == 0) inner = trim(inner.substr(6));
  if (inner.compare(0, 3, "com") == 0) inner = inner.substr(3);
  long port = 0;
  if (!parseLong(inner, &port) || port < 1 || port > 999)
    fail(line_no, "section must be [device COMn], got '" + header + "'");
  return static_cast<int>(port);
}

std::string readFile(const std::string& path) {
  // A directory opens like a file here and reads as nothing, which would make a device of defaults.
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored))
    throw ConfigError("device file " + path + " is a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ConfigError("cannot read device file " + path);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw ConfigError("cannot read device file " + path);
  return text.str();
}

}  // namespace

std::string unescape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\\' || i + 1 >= text.size()) {
      out += c;
      continue;
    }
    char e = text[++i];
    switch (e) {
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case '\\': out += '\\'; break;
      case 'x': {
        int value = 0;
        int digits = 0;
        while (digits < 2 && i + 1 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
          char h = text[++i];
          value = value * 16 + (std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : (std::tolower(h) - 'a' + 10));
          ++digits;
        }
        if (digits == 0) {
          out += "\\x";
        } else {
          out += static_cast<char>(value);
        }
        break;
      }
      default:  // unknown escapes stay as written
        out += '\\';
        out += e;
    }
  }
  return out;
}

bool DeviceConfig::has(const std::string& key) const { return keys.count(lower(key)) != 0; }

std::string DeviceConfig::get(const std::string& key, const std::string& fallback) const {
  auto it = keys.find(lower(key));
  return it == keys.end() ? fallback : it->second;
}

long DeviceConfig::getInt(const std::string& key, long fallback) const {
  long value = 0;
  auto it = keys.find(lower(key));
  return (it != keys.end() && parseLong(it->second, &value)) ? value : fallback;
}

bool DeviceConfig::getBool(const std::string& key, bool fallback) const {
  bool value = false;
  auto it = keys.find(lower(key));
  return (it != keys.end() && parseBool(it->second, &value)) ? value : fallback;
}

void DeviceConfig::set(const std::string& key, const std::string& value) {
  std::string k = lower(trim(key));
  keys[k] = value;
  applyKey(*this, k, value, 0);
}

DeviceConfig DeviceConfig::parse(const std::string& text) {
  std::vector<std::string> lines = splitLines(text);
  DeviceConfig config;
  size_t index = 0;
  parseLines(lines, index, config);
  if (index < lines.size()) {
    // A single-device text may still carry one section header naming its port.
    std::string header = trim(lines[index]);
    if (header.back() != ']') fail(static_cast<int>(index) + 1, "unclosed section header");
    config.port = sectionPort(header, static_cast<int>(index) + 1);
    ++index;
    parseLines(lines, index, config);
    if (index < lines.size()) fail(static_cast<int>(index) + 1, "more than one device: use a bank file");
  }
  return config;
}

DeviceConfig DeviceConfig::load(const std::string& path) { return parse(readFile(path)); }

std::vector<DeviceConfig> parseBank(const std::string& text) {
  std::vector<std::string> lines = splitLines(text);
  DeviceConfig defaults;
  size_t index = 0;
  parseLines(lines, index, defaults);
  if (index >= lines.size()) return {defaults};
  std::vector<DeviceConfig> devices;
  while (index < lines.size()) {
    std::string header = trim(lines[index]);
    int line_no = static_cast<int>(index) + 1;
    if (header.back() != ']') fail(line_no, "unclosed section header");
    DeviceConfig device = defaults;
    device.port = sectionPort(header, line_no);
    for (const auto& other : devices)
      if (other.port == device.port) fail(line_no, "COM" + std::to_string(device.port) + " appears twice");
    ++index;
    parseLines(lines, index, device);
    if (device.keys.count("port") && device.port != sectionPort(header, line_no))
      fail(line_no, "'port' contradicts the section header");
    devices.push_back(device);
  }
  return devices;
}

std::vector<DeviceConfig> loadBank(const std::string& path) { return parseBank(readFile(path)); }

}  // namespace modemsim
