#include "tools/modemsim/device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "tools/modemsim/basic_modem.h"
#include "tools/modemsim/time_scale.h"

namespace modemsim {
namespace {

struct SpeedEntry {
  speed_t code;
  long baud;
};

const SpeedEntry kSpeeds[] = {
    {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
};

long baudOf(speed_t code) {
  for (const auto& e : kSpeeds)
    if (e.code == code) return e.baud;
  return 0;
}

bool codeOf(long baud, speed_t* code) {
  for (const auto& e : kSpeeds)
    if (e.baud == baud) {
      *code = e.code;
      return true;
    }
  return false;
}

std::string sysError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

const char* resultWord(Result result) {
  switch (result) {
    case Result::kOk: return "OK";
    case Result::kConnect: return "CONNECT";
    case Result::kRing: return "RING";
    case Result::kNoCarrier: return "NO CARRIER";
    case Result::kError: return "ERROR";
    case Result::kNoDialtone: return "NO DIALTONE";
    case Result::kBusy: return "BUSY";
    case Result::kNoAnswer: return "NO ANSWER";
  }
  return "ERROR";
}

uint8_t garble(uint8_t byte, long sent_at, long heard_at) {
  uint32_t h = byte * 2654435761u;
  h ^= static_cast<uint32_t>(sent_at) * 40503u;
  h ^= static_cast<uint32_t>(heard_at) * 2246822519u;
  h ^= h >> 13;
  h *= 3266489917u;
  h ^= h >> 16;
  uint8_t g = static_cast<uint8_t>(0x80 | (h & 0x7F));
  if (g == byte) g ^= 0x55;  // stays above 0x7F and differs from the byte
  return g;
}

Device::Device(const DeviceConfig& config, int port) : config_(config), port_(port), speed_(config.speed) {
  echo_ = config.echo;
  verbose_ = config.verbose;
  quiet_ = config.quiet;
  state_.setCountry(config.country);
  long flash_size = config.getInt("flash.size", 0);
  if (flash_size > 0) state_.flash.setSize(static_cast<uint32_t>(flash_size));
  for (const auto& name : config.dialogues) {
    if (!isDialogueRegistered(name)) {
      std::string known;
      for (const auto& n : registeredDialogues()) known += (known.empty() ? "" : ", ") + n;
      throw ConfigError("COM" + std::to_string(port) + ": no dialogue named '" + name +
                        "' (registered: " + (known.empty() ? "none" : known) + ")");
    }
    if (auto dialogue = createDialogue(name, config)) dialogues_.push_back(std::move(dialogue));
  }
  basic_ = std::make_unique<BasicModem>();
  if (pipe2(wake_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error(sysError("pipe2"));
  inotify_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);  // without it the device still works
}

Device::~Device() {
  stop();
  for (int fd : wake_pipe_)
    if (fd >= 0) close(fd);
  if (inotify_ >= 0) close(inotify_);
}

std::string Device::linkPath() const { return dir_ + "/COM" + std::to_string(port_); }

std::string Device::slavePath() const {
  std::lock_guard<std::mutex> lock(line_mutex_);
  return slave_path_;
}

bool Device::connected() const {
  std::lock_guard<std::mutex> lock(line_mutex_);
  return master_ >= 0;
}

int Device::lineGeneration() const { return generation_.load(); }

void Device::start(const std::string& dir) {
  if (running_) return;
  dir_ = dir;
  stop_requested_ = false;
  if (!openLine()) throw std::runtime_error("COM" + std::to_string(port_) + ": cannot open a pseudo-terminal");
  running_ = true;
  // Power-on runs before the thread exists, so a test sees its effects as soon as start() returns.
  for (auto& d : dialogues_) d->onStart(*this);
  publishLine();
  thread_ = std::thread(&Device::run, this);
}

void Device::stop() {
  if (!running_) return;
  {
    std::lock_guard<std::mutex> lock(wait_mutex_);
    stop_requested_ = true;
  }
  wait_cv_.notify_all();
  wake();
  if (thread_.joinable()) thread_.join();
  closeLine(nullptr);
  running_ = false;
}

bool Device::openLine() {
  int master = served_master_ >= 0 ? fcntl(served_master_, F_DUPFD_CLOEXEC, 0)
                                   : posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master >= 0 && served_master_ >= 0) fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  if (master < 0) {
    transcript_.note(sysError("posix_openpt"));
    return false;
  }
  char name[128];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    transcript_.note(sysError("pseudo-terminal set-up"));
    close(master);
    return false;
  }
  // Holding the slave open ourselves keeps the master from seeing a hang-up whenever the host closes
  // its side, and keeps the host's settings between its opens, as a real port does.
  int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (slave < 0) {
    transcript_.note(sysError("open slave"));
    close(master);
    return false;
  }
  // Raw on both sides: the line discipline must not eat flow-control bytes, turn CR into LF or echo.
  termios t{};
  if (tcgetattr(slave, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    speed_t code;
    // A fresh port starts at the device's speed; the host under test sets its own anyway.
    if (codeOf(speed_.load(), &code)) cfsetspeed(&t, code);
    tcsetattr(slave, TCSANOW, &t);
  }
  termios m{};
  if (tcgetattr(master, &m) == 0) {
    cfmakeraw(&m);
    tcsetattr(master, TCSANOW, &m);
    // Setting the master's termios acts on the slave: put the slave's settings back.
    tcsetattr(slave, TCSANOW, &t);
  }
  if (!dir_.empty()) {
    std::string link = linkPath();
    std::string temporary = dir_ + "/.COM" + std::to_string(port_) + ".new";
    unlink(temporary.c_str());
    // Re-pointing through a rename keeps COM<n> valid at every moment for a program that opens it.
    if (symlink(name, temporary.c_str()) != 0 || rename(temporary.c_str(), link.c_str()) != 0) {
      transcript_.note(sysError("link COM port"));
      unlink(temporary.c_str());
      close(slave);
      close(master);
      return false;
    }
  }
  {
    std::lock_guard<std::mutex> lock(line_mutex_);
    master_ = master;
    slave_keep_ = slave;
    slave_path_ = name;
  }
  host_opens_ = 0;
  host_events_.clear();
  if (inotify_ >= 0) watch_ = inotify_add_watch(inotify_, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
  rx_count_ = tx_count_ = 0;
  next_tx_ns_ = next_rx_ns_ = 0;
  adapter_held_.clear();
  adapter_due_ns_ = -1;
  transcript_.note("line up on " + std::string(name) + " (generation " + std::to_string(generation_ + 1) + ")");
  return true;
}

void Device::publishLine() {
  // Only after the dialogues' power-on: a test waiting for the line then sees their start-up done.
  ++generation_;
  notifyWaiters();
}

void Device::closeLine(const char* why) {
  int master, slave;
  {
    std::lock_guard<std::mutex> lock(line_mutex_);
    master = master_;
    slave = slave_keep_;
    master_ = slave_keep_ = -1;
    slave_path_.clear();
  }
  if (master < 0) return;
  if (watch_ >= 0) {
    inotify_rm_watch(inotify_, watch_);
    watch_ = -1;
  }
  // Noted before the host can see the hang-up, so a test that saw it finds the note.
  if (why != nullptr) transcript_.note(std::string("line dropped: ") + why);
  // What the adapter held goes with the line, as when a USB adapter is pulled.
  adapter_held_.clear();
  adapter_due_ns_ = -1;
  // The link goes with the line: a dangling COM<n> could later name another device's reused /dev/pts/N.
  if (!dir_.empty()) unlink(linkPath().c_str());
  close(master);
  if (slave >= 0) close(slave);
  notifyWaiters();
}

void Device::wake() {
  char byte = 1;
  ssize_t ignored = write(wake_pipe_[1], &byte, 1);
  (void)ignored;
}

void Device::notifyWaiters() {
  { std::lock_guard<std::mutex> lock(wait_mutex_); }
  wait_cv_.notify_all();
}

void Device::disconnect() {
  {
    std::lock_guard<std::mutex> lock(request_mutex_);
    disconnect_requested_ = true;
    reconnect_at_ns_ = -1;
  }
  wake();
}

void Device::reboot(long after_ms) {
  {
    std::lock_guard<std::mutex> lock(request_mutex_);
    disconnect_requested_ = true;
    reconnect_at_ns_ = monotonicNs() + scaledMs(after_ms) * 1000000LL;
    power_cycle_ = true;
  }
  wake();
}

void Device::loseLine(long back_after_ms) {
  {
    std::lock_guard<std::mutex> lock(request_mutex_);
    disconnect_requested_ = true;
    reconnect_at_ns_ = back_after_ms < 0 ? -1 : monotonicNs() + scaledMs(back_after_ms) * 1000000LL;
    power_cycle_ = false;
  }
  wake();
}

void Device::post(std::function<void(Device&)> task) {
  {
    std::lock_guard<std::mutex> lock(request_mutex_);
    posted_.push_back(std::move(task));
  }
  wake();
}

void Device::requestReboot(long after_ms) {
  pending_drop_ = true;
  pending_reconnect_ms_ = after_ms;
  std::lock_guard<std::mutex> lock(request_mutex_);
  power_cycle_ = true;
}

void Device::requestDisconnect() {
  pending_drop_ = true;
  pending_reconnect_ms_ = -1;
}

bool Device::waitForCommands(size_t count, long timeout_ms) {
  std::unique_lock<std::mutex> lock(wait_mutex_);
  return wait_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return state_.commands().size() >= count; });
}

bool Device::waitForLine(int generation, long timeout_ms) {
  std::unique_lock<std::mutex> lock(wait_mutex_);
  return wait_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return generation_.load() >= generation && connected(); });
}

bool Device::waitForHostOpens(int count, long timeout_ms) {
  std::unique_lock<std::mutex> lock(wait_mutex_);
  return wait_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return host_opens_.load() == count; });
}

void Device::sleepMs(long ms) {
  long scaled = scaledMs(ms);
  if (scaled <= 0) return;
  const long long end = monotonicNs() + scaled * 1000000LL;
  std::unique_lock<std::mutex> lock(wait_mutex_);
  // A dialogue that pauses does not stop the adapter: what it holds still goes when due.
  for (;;) {
    long long now = monotonicNs();
    if (stop_requested_ || now >= end) return;
    long long until = adapter_due_ns_ >= 0 && adapter_due_ns_ < end ? adapter_due_ns_ : end;
    wait_cv_.wait_for(lock, std::chrono::nanoseconds(until - now), [&] { return stop_requested_.load(); });
    if (adapter_due_ns_ >= 0) {
      lock.unlock();
      flushAdapterIfDue();
      lock.lock();
    }
  }
}

void Device::setSpeed(long baud) {
  if (baud <= 0) return;
  if (baud != speed_.load())
    transcript_.note("device speed " + std::to_string(speed_.load()) + " -> " + std::to_string(baud));
  speed_ = baud;
}

long Device::hostSpeed() const {
  std::lock_guard<std::mutex> lock(line_mutex_);
  if (master_ < 0) return 0;
  termios t{};
  if (tcgetattr(master_, &t) != 0) return 0;
  return baudOf(cfgetospeed(&t));
}

bool Device::hostFlowControl() const {
  std::lock_guard<std::mutex> lock(line_mutex_);
  if (master_ < 0) return false;
  termios t{};
  if (tcgetattr(master_, &t) != 0) return false;
  return (t.c_cflag & CRTSCTS) != 0;
}

void Device::resetSettings() {
  echo_ = config_.echo;
  verbose_ = config_.verbose;
  quiet_ = config_.quiet;
}

void Device::setTimer(Dialogue* owner, long ms) { timers_[owner] = monotonicNs() + scaledMs(ms) * 1000000LL; }

void Device::cancelTimer(Dialogue* owner) { timers_.erase(owner); }

long long Device::nextWakeNs() const {
  long long next = adapter_due_ns_;
  for (const auto& t : timers_)
    if (next < 0 || t.second < next) next = t.second;
  return next;
}

void Device::fireTimers() {
  long long now = monotonicNs();
  std::vector<Dialogue*> due;
  for (const auto& t : timers_)
    if (t.second <= now) due.push_back(t.first);
  for (Dialogue* owner : due) {
    timers_.erase(owner);
    if (master_ >= 0) owner->onTimer(*this);
  }
}

void Device::drainToHost(long limit_ms) {
  // Our own slave descriptor shows what the host has not read yet. Closing the master would throw
  // that away, but on a real line an answer sent before a reboot has reached the host.
  // Delivery to the slave is asynchronous, so a queue that looks empty right after the write may not
  // be: wait a few milliseconds first, then until it has stayed empty for two looks in a row.
  // The adapter's latency would have passed by then: what it holds is on its way to the host too.
  flushAdapter();
  long long start = monotonicNs();
  long long deadline = start + limit_ms * 1000000LL;
  int empty_looks = 0;
  while (slave_keep_ >= 0 && !stop_requested_ && monotonicNs() < deadline) {
    {
      std::unique_lock<std::mutex> lock(wait_mutex_);
      wait_cv_.wait_for(lock, std::chrono::milliseconds(2), [&] { return stop_requested_.load(); });
    }
    int waiting = 0;
    if (ioctl(slave_keep_, FIONREAD, &waiting) != 0) return;
    empty_looks = waiting > 0 ? 0 : empty_looks + 1;
    if (empty_looks >= 2 && monotonicNs() - start >= 10000000LL) return;
  }
}

void Device::readHostOpenClose() {
  alignas(inotify_event) char buffer[4096];
  ssize_t n;
  while ((n = read(inotify_, buffer, sizeof buffer)) > 0) {
    for (char* at = buffer; at < buffer + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      at += sizeof(inotify_event) + event->len;
      if (event->wd != watch_ || watch_ < 0) continue;  // a line that is gone already
      if (event->mask & IN_OPEN) host_events_.push_back(true);
      if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) host_events_.push_back(false);
    }
  }
}

void Device::handleHostOpenClose(bool up_to_first_close) {
  while (!host_events_.empty()) {
    bool opened = host_events_.front();
    if (!opened && up_to_first_close) return;
    host_events_.pop_front();
    if (opened) {
      ++host_opens_;
      transcript_.note("host opened the port");
      notifyWaiters();
      continue;
    }
    transcript_.note("host closed the port");
    // The last close of a real port ends its exclusive mode; ours never is the last. (inotify may
    // merge two opens in a row, so this errs towards letting an open through; flock still guards.)
    if (host_opens_ <= 1 && slave_keep_ >= 0) ioctl(slave_keep_, TIOCNXCL);
    if (host_opens_ > 0) --host_opens_;
    if (host_opens_ == 0)
      for (auto& d : dialogues_) d->onHostGone(*this);
    notifyWaiters();  // last: a test that waited for the close sees everything it brought
  }
}

void Device::run() {
  uint8_t buffer[4096];
  while (!stop_requested_) {
    // Requests from other threads first: a drop, a reboot.
    long long reconnect_at = -1;
    {
      std::lock_guard<std::mutex> lock(request_mutex_);
      if (disconnect_requested_) {
        disconnect_requested_ = false;
        closeLine("disconnected by request");
      }
      reconnect_at = reconnect_at_ns_;
    }
    if (master_ < 0 && reconnect_at >= 0 && monotonicNs() >= reconnect_at) {
      bool power_cycle;
      {
        std::lock_guard<std::mutex> lock(request_mutex_);
        reconnect_at_ns_ = -1;
        power_cycle = power_cycle_;
      }
      reconnect_at = -1;
      if (power_cycle) {
        stream_owner_ = nullptr;
        timers_.clear();
        basic_->reset();
        resetSettings();
        speed_ = config_.speed;
      }
      // A lost line leaves the device as it was: its dialogues, timers, settings and speed.
      if (openLine()) {
        if (power_cycle) {
          for (auto& d : dialogues_) d->onStart(*this);
        } else {
          for (auto& d : dialogues_) d->onHostGone(*this);
        }
        publishLine();
      }
    }

    long long wake_at = master_ >= 0 ? nextWakeNs() : -1;
    if (master_ < 0 && reconnect_at >= 0) wake_at = reconnect_at;
    int timeout = -1;
    if (wake_at >= 0) {
      long long left_ms = (wake_at - monotonicNs() + 999999) / 1000000LL;
      timeout = left_ms < 0 ? 0 : static_cast<int>(left_ms > INT_MAX ? INT_MAX : left_ms);
    }
    pollfd fds[3] = {{wake_pipe_[0], POLLIN, 0}, {inotify_, POLLIN, 0}, {master_, POLLIN, 0}};
    int count = poll(fds, master_ >= 0 ? 3 : 2, timeout);
    if (count < 0 && errno != EINTR) break;
    // Opens are noted before the bytes that came with them, closes after.
    if (count > 0 && (fds[1].revents & POLLIN)) readHostOpenClose();
    handleHostOpenClose(true);
    if (count > 0 && (fds[0].revents & POLLIN)) {
      char drain[64];
      while (read(wake_pipe_[0], drain, sizeof drain) > 0) {
      }
    }
    if (count > 0 && master_ >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) {
        handleInput(buffer, static_cast<size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // Cannot happen while we hold the slave; never spin on a dead descriptor.
        closeLine("read from the line failed");
      }
    }
    handleHostOpenClose(false);
    std::vector<std::function<void(Device&)>> tasks;
    {
      std::lock_guard<std::mutex> lock(request_mutex_);
      tasks.swap(posted_);
    }
    for (auto& task : tasks) task(*this);
    if (master_ >= 0) fireTimers();
    if (master_ >= 0) flushAdapterIfDue();
    if (pending_drop_) {
      pending_drop_ = false;
      drainToHost(kDrainLimitMs);
      closeLine("dropped by the dialogue");
      if (pending_reconnect_ms_ >= 0) {
        std::lock_guard<std::mutex> lock(request_mutex_);
        reconnect_at_ns_ = monotonicNs() + scaledMs(pending_reconnect_ms_) * 1000000LL;
      }
    }
  }
}

bool Device::applyRxFault(uint8_t& byte) {
  const Faults& f = config_.faults;
  if (f.direction == FaultDirection::kToHost) return true;
  ++rx_fault_count_;
  if (f.drop_every > 0 && rx_fault_count_ % f.drop_every == 0) {
    transcript_.note("fault: dropped a byte from the host");
    return false;
  }
  if (f.corrupt_every > 0 && rx_fault_count_ % f.corrupt_every == 0) {
    byte ^= 0x5A;
    transcript_.note("fault: corrupted a byte from the host");
  }
  return true;
}

void Device::paceInput() {
  // The pseudo-terminal hands over a whole write at once; a real line takes 10 bit times a byte.
  // The host's writes back up behind the device as they would behind a slow line.
  long baud = speed_.load();
  if (baud <= 0) return;
  long long per_byte_ns = static_cast<long long>(10.0e9 / static_cast<double>(baud) * timeScale());
  long long now = monotonicNs();
  if (next_rx_ns_ < now) next_rx_ns_ = now;
  next_rx_ns_ += per_byte_ns;
  // Sleeps in slices of at least 2 ms: shorter ones cost more in wake-ups than they buy in accuracy.
  if (next_rx_ns_ - now >= 2000000LL) sleepUntilServingAdapter(next_rx_ns_);
}

void Device::handleInput(const uint8_t* data, size_t length) {
  long host = hostSpeed();
  bool noted_mismatch = false;
  // autobaud: a modem that takes its rate from each command it hears, so the host may identify it at
  // one speed and enter its loader at another. A dialogue that owns the byte stream keeps its speed.
  const bool autobaud = config_.getBool("autobaud", false);
  for (size_t i = 0; i < length && master_ >= 0 && !pending_drop_ && !stop_requested_; ++i) {
    uint8_t byte = data[i];
    if (config_.throttle_input) paceInput();
    transcript_.fromHost(std::string(1, static_cast<char>(byte)));
    ++rx_count_;
    answer_delayed_ = false;
    long own = speed_.load();
    if (host != own && autobaud && stream_owner_ == nullptr && host > 0) {
      setSpeed(host);
      own = host;
    }
    if (host != own) {
      byte = garble(byte, host, own);
      if (!noted_mismatch) {
        transcript_.note("speed mismatch: host " + std::to_string(host) + ", device " + std::to_string(own) +
                         ": the device hears garbage");
        noted_mismatch = true;
      }
    }
    if (applyRxFault(byte)) deliver(byte);
    const Faults& f = config_.faults;
    if (f.disconnect_after_rx > 0 && rx_count_ >= f.disconnect_after_rx && master_ >= 0) {
      closeLine(("fault: disconnect after " + std::to_string(rx_count_) + " bytes heard").c_str());
      if (f.reconnect_ms >= 0) {
        std::lock_guard<std::mutex> lock(request_mutex_);
        reconnect_at_ns_ = monotonicNs() + scaledMs(f.reconnect_ms) * 1000000LL;
        power_cycle_ = false;  // the line is lost, the device runs on
      }
    }
  }
}

void Device::deliver(uint8_t byte) {
  if (stream_owner_ != nullptr) {
    stream_owner_->onByte(*this, byte);
    return;
  }
  for (auto& d : dialogues_)
    if (d->onByte(*this, byte)) return;
  std::string line;
  if (basic_->feed(*this, byte, &line)) dispatch(line);
}

void Device::dispatch(const std::string& line) {
  if (line.empty()) {  // an overlong line: refused whole
    error();
    return;
  }
  state_.addCommand(line);
  notifyWaiters();
  std::string upper = line;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  for (const auto& ignored : config_.faults.ignore)
    if (upper == ignored) {
      transcript_.note("fault: " + line + " goes unanswered");
      return;
    }
  for (const auto& refused : config_.faults.error)
    if (upper == refused) {
      transcript_.note("fault: " + line + " answered with ERROR");
      error();
      return;
    }
  for (auto& d : dialogues_)
    if (d->onCommand(*this, line)) return;
  basic_->execute(*this, line);
}

void Device::runBasicCommand(const std::string& line) { basic_->execute(*this, line); }

void Device::sendEcho(uint8_t byte) { emit(std::string(1, static_cast<char>(byte))); }

void Device::send(const std::string& bytes) {
  if (bytes.empty() || master_ < 0) return;
  if (config_.faults.delay_ms > 0 && !answer_delayed_ && !config_.faults.silent) {
    answer_delayed_ = true;  // once per answer: the bytes of one answer follow each other
    sleepMs(config_.faults.delay_ms);
  }
  emit(bytes);
}

void Device::sendInfo(const std::string& text) {
  std::string out = verbose_ ? "\r\n" : "";
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    out += text.substr(begin, end - begin) + "\r\n";
    begin = end + 1;
  }
  send(out);
}

void Device::sendResult(Result result) {
  if (quiet_) return;
  if (verbose_) {
    send(std::string("\r\n") + resultWord(result) + "\r\n");
  } else {
    send(std::to_string(static_cast<int>(result)) + "\r");
  }
}

void Device::emit(const std::string& bytes) {
  if (master_ < 0 || bytes.empty()) return;
  const Faults& f = config_.faults;
  if (f.silent) {
    transcript_.note("fault: silent, withheld " + Transcript::readable(bytes));
    return;
  }
  long host = hostSpeed();
  long own = speed_.load();
  bool tx_faults = f.direction != FaultDirection::kFromHost;
  std::string out;
  out.reserve(bytes.size());
  bool drop_line = false;
  for (unsigned char c : bytes) {
    uint8_t byte = c;
    if (f.garbage) {
      garbage_seed_ = garbage_seed_ * 1103515245u + 12345u;
      byte = static_cast<uint8_t>(0x80 | ((garbage_seed_ >> 16) & 0x7F));
    }
    if (host != own) byte = garble(byte, own, host);
    if (tx_faults) {
      ++tx_fault_count_;
      if (f.drop_every > 0 && tx_fault_count_ % f.drop_every == 0) {
        transcript_.note("fault: dropped a byte to the host");
        continue;
      }
      if (f.corrupt_every > 0 && tx_fault_count_ % f.corrupt_every == 0) {
        byte ^= 0x5A;
        transcript_.note("fault: corrupted a byte to the host");
      }
    }
    out += static_cast<char>(byte);
    ++tx_count_;
    if (f.disconnect_after_tx > 0 && tx_count_ >= f.disconnect_after_tx) {
      drop_line = true;
      break;
    }
  }
  if (f.garbage) transcript_.note("fault: garbage instead of " + Transcript::readable(bytes));
  if (host != own)
    transcript_.note("speed mismatch: device " + std::to_string(own) + ", host " + std::to_string(host) +
                     ": the host hears garbage");
  writeRaw(out);
  if (drop_line) {
    drainToHost(kDrainLimitMs);
    closeLine(("fault: disconnect after " + std::to_string(tx_count_) + " bytes sent").c_str());
    if (f.reconnect_ms >= 0) {
      std::lock_guard<std::mutex> lock(request_mutex_);
      reconnect_at_ns_ = monotonicNs() + scaledMs(f.reconnect_ms) * 1000000LL;
      power_cycle_ = false;  // the line is lost, the device runs on
    }
  }
}

bool Device::waitWritable() {
  pollfd fds[2] = {{master_, POLLOUT, 0}, {wake_pipe_[0], POLLIN, 0}};
  while (!stop_requested_) {
    int n = poll(fds, 2, 1000);
    if (n < 0 && errno != EINTR) return false;
    if (n > 0 && (fds[0].revents & (POLLERR | POLLNVAL))) return false;
    if (n > 0 && (fds[0].revents & POLLOUT)) return true;
    // A wake-up while writing (a request from another thread) is taken up by the main loop later;
    // keep the pipe readable for it but do not spin on it.
    if (n > 0 && (fds[1].revents & POLLIN)) fds[1].events = 0;
  }
  return false;
}

void Device::writeRaw(const std::string& bytes) {
  if (bytes.empty()) return;
  long baud = speed_.load();
  size_t chunk = bytes.size();
  long long per_byte_ns = 0;
  if (config_.throttle && baud > 0) {
    // 10 bits a byte (start, 8 data, stop); whole chunks of about 2 ms keep the sleeps reasonable.
    per_byte_ns = static_cast<long long>(10.0e9 / static_cast<double>(baud) * timeScale());
    chunk = static_cast<size_t>(baud / 10 / 500);
    if (chunk < 1) chunk = 1;
  }
  size_t offset = 0;
  while (offset < bytes.size() && master_ >= 0 && !stop_requested_) {
    size_t length = std::min(chunk, bytes.size() - offset);
    if (per_byte_ns > 0) {
      // A chunk goes out once the line has carried the one before; it keeps the line busy for its
      // own line time. Sustained output is paced at the line rate, and a lone byte (an echo) is not
      // held back by a sleep shorter than the scheduler can keep on a loaded machine.
      long long now = monotonicNs();
      if (next_tx_ns_ > now) {
        sleepUntilServingAdapter(next_tx_ns_);
        now = next_tx_ns_;
      }
      next_tx_ns_ = now + per_byte_ns * static_cast<long long>(length);
    }
    // Recorded before the write: a test that has read the bytes finds them in the transcript.
    transcript_.toHost(bytes.substr(offset, length));
    if (config_.adapter_latency_ms > 0) {
      toAdapter(bytes.data() + offset, length);
    } else if (!writeToHost(bytes.data() + offset, length)) {
      return;
    }
    offset += length;
  }
}

bool Device::writeToHost(const char* data, size_t length) {
  size_t done = 0;
  while (done < length && master_ >= 0) {
    ssize_t n = write(master_, data + done, length - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      if (!waitWritable()) return false;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      transcript_.note(sysError("write to the line") + " (the bytes above did not all go out)");
      return false;
    }
  }
  return done == length;
}

// A USB adapter hands what its UART received to the host in packets: a full one (62 bytes of data)
// at once, a part-filled one when its latency timer runs out, counted from the first byte waiting.
void Device::toAdapter(const char* data, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (adapter_held_.empty())
      adapter_due_ns_ = monotonicNs() + scaledMs(config_.adapter_latency_ms) * 1000000LL;
    adapter_held_ += data[i];
    if (adapter_held_.size() >= kAdapterPacket) flushAdapter();
  }
  flushAdapterIfDue();  // a latency that the time scale made 0
}

void Device::flushAdapter() {
  std::string packet;
  packet.swap(adapter_held_);
  adapter_due_ns_ = -1;
  if (!packet.empty()) writeToHost(packet.data(), packet.size());
}

void Device::flushAdapterIfDue() {
  if (adapter_due_ns_ >= 0 && monotonicNs() >= adapter_due_ns_) flushAdapter();
}

void Device::sleepUntilServingAdapter(long long deadline_ns) {
  while (adapter_due_ns_ >= 0 && adapter_due_ns_ <= deadline_ns) {
    sleepUntilNs(adapter_due_ns_);
    flushAdapter();
  }
  sleepUntilNs(deadline_ns);
}

}  // namespace modemsim
