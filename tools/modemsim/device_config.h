// Description of one simulated device, read from a small text file of ours.
//
// Format (one device per file, or a bank file with one section per device):
//
//   # comment (also ';' at the start of a line)
//   key = value            value runs to the end of the line, blanks around it are trimmed
//   key += more            appends "\n" and the value (multi-line answers, one line per entry)
//   [device COM3]          starts the section of the device on COM3 in a bank file ("[COM3]" works too)
//
// Values understand the escapes \r \n \t \\ \xHH, so binary or multi-line text fits on one line.
// In a bank file the keys before the first section are defaults for every device.
// Every key is kept in `keys` (lower-case name), so family dialogues read their own keys
// ("ident.family = rockwell", "loader.version = 2.00") without this file knowing them.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace modemsim {

// A malformed device file: the message names the line.
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Which way a byte-level fault acts: on what the device sends, on what it hears, or both.
enum class FaultDirection { kToHost, kFromHost, kBoth };

struct Faults {
  bool silent = false;             // fault.silent: hears everything, never sends a byte
  bool garbage = false;            // fault.garbage: every byte it sends is replaced by garbage
  long delay_ms = 0;               // fault.delay_ms: each answer leaves this much later
  long disconnect_after_rx = 0;    // fault.disconnect_after (_rx): line drops after n bytes heard (0 = never)
  long disconnect_after_tx = 0;    // fault.disconnect_after_tx: line drops after n bytes sent (0 = never)
  long reconnect_ms = -1;          // fault.reconnect_ms: after a drop, a fresh line after n ms (-1 = never)
  long drop_every = 0;             // fault.drop_every: every n-th byte is lost (0 = never)
  long corrupt_every = 0;          // fault.corrupt_every: every n-th byte arrives bit-flipped (0 = never)
  FaultDirection direction = FaultDirection::kToHost;  // fault.direction = to_host | from_host | both
  std::vector<std::string> ignore;  // fault.ignore: command lines heard but never answered ("ATI5")
  std::vector<std::string> error;   // fault.error: command lines answered with ERROR whatever they are
};

struct DeviceConfig {
  int port = 0;                      // port: COM number (0 = next free number in the bank)
  std::string name;                  // name: free text for transcripts
  long speed = 115200;               // speed: the line speed the device runs at
  bool echo = true;                  // echo: E1 after power-on or ATZ
  bool verbose = true;               // verbose: V1 (words) or V0 (digits) after power-on or ATZ
  bool quiet = false;                // quiet: Q1 after power-on or ATZ
  bool throttle = true;              // throttle: pace what it sends at the line rate
  bool throttle_input = false;       // throttle_input: hear no faster than the line rate either
  long adapter_latency_ms = 0;       // adapter.latency_ms: a USB adapter holds what the device sends (0 = none)
  std::map<int, std::string> ati;    // ati.N: the answer to ATIn, lines separated by "\n"
  std::string model;                 // model, version, country, special_build: facts for dialogues
  std::string version;
  std::string country;               // also the initial country setting of the device state
  std::string special_build;
  std::vector<std::string> dialogues;  // family / dialogues: registered dialogue names, comma list, in order
  Faults faults;
  std::map<std::string, std::string> keys;  // every key of the file, names in lower case

  // Generic access for dialogues; the names are compared in lower case.
  bool has(const std::string& key) const;
  std::string get(const std::string& key, const std::string& fallback = std::string()) const;
  long getInt(const std::string& key, long fallback = 0) const;      // decimal or 0x hex
  bool getBool(const std::string& key, bool fallback = false) const;  // on/off, yes/no, true/false, 1/0
  // Sets a key and re-derives the typed fields from it (for tests that build a device in code).
  void set(const std::string& key, const std::string& value);

  // One device from text (throws ConfigError).
  static DeviceConfig parse(const std::string& text);
  // One device from a file (throws ConfigError, also when the file cannot be read).
  static DeviceConfig load(const std::string& path);
};

// A bank file: one DeviceConfig per [device COMn] section; a text without sections is one device.
std::vector<DeviceConfig> parseBank(const std::string& text);
std::vector<DeviceConfig> loadBank(const std::string& path);

// Turns the escapes \r \n \t \\ \xHH into bytes.
std::string unescape(const std::string& text);

}  // namespace modemsim
