// One simulated device: serves the master side of a pseudo-terminal on its own thread, blocked in
// poll() while nothing happens. The slave side is linked as COM<n> in the bank's directory.
//
// Speed fidelity: the device reads the speed the host set on the slave (termios on the master acts on
// the slave). While the host's speed differs from the device's own, every byte it hears and every byte
// it sends is garbled, as on a real UART at the wrong speed.
//
// The methods under "for dialogues" belong to the device's thread (dialogue callbacks, post()); the
// others are safe from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/modemsim/device_config.h"
#include "tools/modemsim/device_state.h"
#include "tools/modemsim/dialogue.h"
#include "tools/modemsim/transcript.h"

namespace modemsim {

class BasicModem;

// Result codes with their numeric (V0) forms.
enum class Result { kOk = 0, kConnect = 1, kRing = 2, kNoCarrier = 3, kError = 4, kNoDialtone = 6,
                    kBusy = 7, kNoAnswer = 8 };
const char* resultWord(Result result);  // "OK", "CONNECT", ... "NO ANSWER"

// The byte a UART makes of `byte` sent at one speed and sampled at another: a fixed function, never an
// ASCII character (so garbage never forms a command or a CR) and never the byte itself.
uint8_t garble(uint8_t byte, long sent_at, long heard_at);

class Device {
 public:
  // Throws ConfigError for a dialogue name that nobody registered.
  Device(const DeviceConfig& config, int port);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Opens the pseudo-terminal, links `dir`/COM<port> to its slave and starts the thread.
  // Throws std::runtime_error when the system refuses.
  void start(const std::string& dir);
  // Stops the thread, closes the line and removes the link.
  void stop();
  // Before start(): serve the master side of a pseudo-terminal made elsewhere (a device test bed's
  // emulated /dev node) instead of a fresh one. Each line up uses a duplicate; `master` stays the
  // caller's. The slave is still linked as COM<n> in the bank's directory.
  void serveMaster(int master) { served_master_ = master; }

  // ---- for tests and tools (any thread)
  int port() const { return port_; }
  const DeviceConfig& config() const { return config_; }
  std::string linkPath() const;   // <dir>/COM<n>
  std::string slavePath() const;  // /dev/pts/N of the current line ("" while down)
  DeviceState& state() { return state_; }
  Transcript& transcript() { return transcript_; }
  bool connected() const;
  int lineGeneration() const;     // 1 after start, +1 after each reboot
  // Drops the line now: the host reads end of file, then I/O errors. The device stays down until
  // reboot() (or fault.reconnect_ms).
  void disconnect();
  // Drops the line and brings up a fresh one after `after_ms` (scaled), re-pointing COM<n>. State persists.
  void reboot(long after_ms = 0);
  // The line is lost (a cable pulled, an adapter gone) while the device runs on: the host reads end of
  // file; after `back_after_ms` (scaled) a fresh line comes up under the same COM<n>, and the device
  // is where it was (a loader still in its loader, at its speed). -1 stays down.
  void loseLine(long back_after_ms);
  // Waits until the device has heard `count` command lines in all (state().commands()); false on time-out.
  bool waitForCommands(size_t count, long timeout_ms);
  // Waits until the line is up in generation `generation` or later (after reboot(): current + 1).
  bool waitForLine(int generation, long timeout_ms);
  // How many descriptors of the port the host holds now (its opens less its closes), and a wait until
  // that number is `count` (0: the program under test has closed the port).
  int hostOpens() const { return host_opens_.load(); }
  bool waitForHostOpens(int count, long timeout_ms);
  // Runs `task` on the device's thread, between bytes (for a test that makes the device say something
  // unasked, "RING" say, or changes what a dialogue keeps). Tasks run in the order posted.
  void post(std::function<void(Device&)> task);

  // ---- for dialogues (device thread)
  // Sends bytes to the host, through the faults, the speed check and the throttle.
  void send(const std::string& bytes);
  // An information text (lines separated by "\n"): verbose "\r\nline1\r\nline2\r\n", numeric
  // "line1\r\nline2\r\n". Quiet mode (Q1) silences result codes only, not information texts.
  void sendInfo(const std::string& text);
  // A result code: "\r\nOK\r\n" when verbose, "0\r" when numeric, nothing when quiet.
  void sendResult(Result result);
  void ok() { sendResult(Result::kOk); }
  void error() { sendResult(Result::kError); }
  // Runs the line with the basic AT modem (for a dialogue that only adds to a standard command).
  void runBasicCommand(const std::string& line);

  bool echo() const { return echo_; }
  void setEcho(bool on) { echo_ = on; }
  bool verbose() const { return verbose_; }
  void setVerbose(bool on) { verbose_ = on; }
  bool quiet() const { return quiet_; }
  void setQuiet(bool on) { quiet_ = on; }
  void resetSettings();  // echo, verbose, quiet back to the device file's defaults (ATZ, AT&F)

  long speed() const { return speed_.load(); }
  // From the next byte on, the device hears and talks at this speed (call after sending the answer
  // that still goes at the old speed).
  void setSpeed(long baud);
  long hostSpeed() const;          // the speed the host set on its side (0 when the line is down)
  bool hostFlowControl() const;    // CRTSCTS on the host side
  bool speedsMatch() const { return hostSpeed() == speed(); }

  // A binary protocol takes the raw byte stream: all bytes go to `owner`->onByte until releaseStream().
  void takeStream(Dialogue* owner) { stream_owner_ = owner; }
  void releaseStream() { stream_owner_ = nullptr; }
  Dialogue* streamOwner() const { return stream_owner_; }

  // `owner`->onTimer(dev) after `ms` (scaled); one timer per dialogue, setting it again restarts it.
  void setTimer(Dialogue* owner, long ms);
  void cancelTimer(Dialogue* owner);
  // Sleeps `ms` (scaled); returns early when the device stops.
  void sleepMs(long ms);
  // From a dialogue: drop the line once the current byte is handled and the host has read what was
  // sent (at most 2 s), and come back after `after_ms` (scaled) when it is 0 or more.
  void requestReboot(long after_ms);
  void requestDisconnect();

  // The dialogues of this device, in order (a dialogue may look for a sibling of a known type).
  const std::vector<std::unique_ptr<Dialogue>>& dialogues() const { return dialogues_; }
  template <class T>
  T* findDialogue() const {
    for (const auto& d : dialogues_)
      if (auto* t = dynamic_cast<T*>(d.get())) return t;
    return nullptr;
  }

 private:
  void run();
  bool openLine();                // new pseudo-terminal + link; false on failure
  void closeLine(const char* why);
  void handleInput(const uint8_t* data, size_t length);
  void deliver(uint8_t byte);
  void fireTimers();
  long long nextWakeNs() const;
  void wake();
  bool applyRxFault(uint8_t& byte);
  void writeRaw(const std::string& bytes);
  bool writeToHost(const char* data, size_t length);  // false when the line refused the bytes
  bool waitWritable();
  // The USB adapter (adapter.latency_ms): what the device sends waits in adapter_held_ until
  // kAdapterPacket bytes are there or the latency has passed since the first of them came.
  static constexpr size_t kAdapterPacket = 62;
  std::string adapter_held_;
  long long adapter_due_ns_ = -1;  // when adapter_held_ goes to the host (-1: nothing held)
  void toAdapter(const char* data, size_t length);
  void flushAdapter();
  void flushAdapterIfDue();
  // Sleeps until `deadline_ns`, handing the adapter's bytes on whenever they fall due meanwhile.
  void sleepUntilServingAdapter(long long deadline_ns);

  const DeviceConfig config_;
  const int port_;
  DeviceState state_;
  Transcript transcript_;
  std::vector<std::unique_ptr<Dialogue>> dialogues_;
  std::unique_ptr<BasicModem> basic_;

  std::string dir_;
  mutable std::mutex line_mutex_;  // guards the descriptors and slave path against readers
  int served_master_ = -1;         // serveMaster(): the caller's master, else -1
  int master_ = -1;
  int slave_keep_ = -1;            // our own slave descriptor: the master never sees a hang-up
  std::string slave_path_;
  int wake_pipe_[2] = {-1, -1};
  // Opens and closes of the slave by the host, seen through inotify: our own slave descriptor keeps
  // the terminal open, so an exclusive flag (TIOCEXCL) the host left set would otherwise outlive its
  // close and lock every later (non-root) open out.
  int inotify_ = -1;
  int watch_ = -1;
  std::atomic<int> host_opens_{0};
  std::deque<bool> host_events_;   // true: an open, false: a close, oldest first
  void readHostOpenClose();
  void handleHostOpenClose(bool up_to_first_close);
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_requested_{false};
  std::atomic<int> generation_{0};

  // Requests from other threads, taken up by the device thread.
  std::mutex request_mutex_;
  bool disconnect_requested_ = false;
  std::vector<std::function<void(Device&)>> posted_;
  long long reconnect_at_ns_ = -1;  // when a dropped line comes back (-1: stays down)
  bool power_cycle_ = true;         // the line comes back from a reboot (else: the line was lost)

  // Device-thread state.
  std::atomic<long> speed_;
  bool echo_ = true, verbose_ = true, quiet_ = false;
  Dialogue* stream_owner_ = nullptr;
  std::map<Dialogue*, long long> timers_;  // owner -> deadline (monotonic ns)
  bool pending_drop_ = false;
  long long pending_reconnect_ms_ = -1;
  long long rx_count_ = 0, tx_count_ = 0;
  long long rx_fault_count_ = 0, tx_fault_count_ = 0;
  long long next_tx_ns_ = 0;       // throttle: when the line is free again
  long long next_rx_ns_ = 0;       // throttle_input: when the next byte heard has fully arrived
  void paceInput();
  bool answer_delayed_ = false;    // fault.delay_ms acts once per answer, not per send()
  uint32_t garbage_seed_ = 0x2545F491u;
  friend class BasicModem;
  void sendEcho(uint8_t byte);     // echo: never delayed
  void emit(const std::string& bytes);
  void dispatch(const std::string& line);
  void notifyWaiters();
  void publishLine();              // the line is up: count the generation, wake waiters
  // Waits (at most `limit_ms`) until the host has read what the device sent.
  void drainToHost(long limit_ms);
  static constexpr long kDrainLimitMs = 2000;
  std::mutex wait_mutex_;          // with wait_cv_: command and line waits, sleeps, stop
  std::condition_variable wait_cv_;
};

}  // namespace modemsim
