#include "country/PortWriter/SerialPort.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "country/PortWriter/PortNames.h"

namespace {

// How often the line counters are sampled on lines that keep them (real serial ports only;
// pseudo-terminals have no modem lines and are never sampled).
constexpr int kLineSampleMs = 100;

speed_t SpeedFor(int32_t baudRate) {
    switch (baudRate) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
    }
}

tcflag_t SizeFor(uint8_t dataBits) {
    switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

bool ReadCounters(int fd, LineCounters& counters) {
    serial_icounter_struct icount{};
    if (::ioctl(fd, TIOCGICOUNT, &icount) != 0)
        return false;
    counters.cts = icount.cts;
    counters.dsr = icount.dsr;
    counters.ring = icount.rng;
    counters.dcd = icount.dcd;
    counters.breaks = icount.brk;
    counters.framing = icount.frame;
    counters.overrun = icount.overrun;
    counters.parity = icount.parity;
    counters.bufferOverrun = icount.buf_overrun;
    return true;
}

}  // namespace

bool LineHungUp(ssize_t readResult, int readError, short pollEvents) {
    if (pollEvents & POLLHUP)
        return readResult <= 0;
    if (readResult > 0)
        return false;
    if (readResult == 0)
        return false;  // nothing queued; a line that hung up also reports POLLHUP
    // EAGAIN: the queue was emptied between poll and read. Any other error (EIO after a hang-up) would
    // be reported again by every later read.
    return readError != EAGAIN && readError != EWOULDBLOCK && readError != EINTR;
}

CSerialPort::CSerialPort() : m_driver(CSerialFlags::System()) {}

CSerialPort::CSerialPort(CSerialFlags& driver) : m_driver(driver) {}

CSerialPort::~CSerialPort() {
    if (m_open)
        Close();
}

CPort::Handle CSerialPort::Open(const CPortSettings& settings, CPortListener* listener, int traceFlag) {
    if (m_open)
        return kNoHandle;
    m_openNote.clear();
    m_listener = listener;
    const std::string name = ComDeviceName(settings.m_portNumber);
    const std::string path = ResolvePortDevicePath(name);
    if (path.empty()) {
        m_lastError = name + ": not a port name";
        m_lastFailure = kNoSuchPort;
        return kNoHandle;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // EBUSY: another program holds the port with TIOCEXCL. ENXIO and ENODEV: a device node whose
        // hardware is not there, as good as no port at all.
        const int error = errno;
        const std::string reason = std::strerror(error);
        m_lastError = path + (error == EBUSY ? ": in use by another program (" + reason + ")" : ": " + reason);
        m_lastFailure = error == EBUSY                                         ? kInUse
                        : error == ENOENT || error == ENXIO || error == ENODEV ? kNoSuchPort
                                                                               : kCannotOpen;
        return kNoHandle;
    }
    // Exclusive, as serial ports are expected to be: flock keeps out other programs (even root),
    // TIOCEXCL keeps out plain opens.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_lastError = path + ": in use by another program (" + std::strerror(errno) + ")";
        m_lastFailure = kInUse;
        ::close(fd);
        return kNoHandle;
    }
    termios saved{};
    if (::tcgetattr(fd, &saved) != 0) {
        m_lastError = path + ": not a serial line (" + std::strerror(errno) + ")";
        m_lastFailure = kCannotOpen;
        ::close(fd);
        return kNoHandle;
    }
    m_lastError.clear();
    m_lastFailure = kOpened;
    ::ioctl(fd, TIOCEXCL);
    // Nothing below fails the open, so Close is the one place that gives the flags back.
    m_openNote = path + ": " + m_lowLatency.Request(m_driver, fd);
    m_handle = fd;
    m_devicePath = path;
    m_traceFlag = traceFlag;
    m_savedLine.reset(new termios(saved));
    m_hungUp = false;
    Configure(settings);
    // Driver queue sizes have no equivalent here; line events are decided by the read thread.
    (void)(listener != nullptr && listener->WantsLineEvents(this));
    m_stopEvent.Reset();
    m_readThread.Start();  // without a read thread nothing is received and waits time out
    SetDTR();
    m_open = true;
    return m_handle;
}

void CSerialPort::Close() {
    if (m_handle == kNoHandle) {
        m_open = false;
        return;
    }
    m_stopEvent.Set();
    m_readThread.Wait(-1);
    {
        CMutexLock hold(m_writeLock);
        DropPendingWrites();
    }
    if (m_savedLine)
        ::tcsetattr(m_handle, TCSANOW, m_savedLine.get());
    m_lowLatency.Restore(m_driver, m_handle);
    ::ioctl(m_handle, TIOCNXCL);
    ::close(m_handle);  // also releases the flock
    m_handle = kNoHandle;
    m_open = false;
}

void CSerialPort::Write(const char* bytes, int length, CEvent* completion) {
    if (length <= 0 || bytes == nullptr)
        return;
    if (m_handle == kNoHandle)
        return;  // nothing can complete; a timed write expires, an untimed one must not hang
    if (completion == nullptr) {
        CEvent done;
        Write(bytes, length, &done);
        done.Wait(-1);
        return;
    }
    CMutexLock hold(m_writeLock);
    PendingWrite pending;
    pending.bytes.assign(bytes, bytes + length);
    pending.completion = completion;
    const bool wasIdle = m_pendingWrites.empty();
    m_pendingWrites.push_back(std::move(pending));
    if (wasIdle)
        PushPendingWrites();
    if (!m_pendingWrites.empty())
        m_writeWake.Set();  // the read thread finishes it when the line takes more
}

void CSerialPort::PushPendingWrites() {
    while (!m_pendingWrites.empty()) {
        PendingWrite& front = m_pendingWrites.front();
        const ssize_t n = ::write(m_handle, front.bytes.data() + front.written, front.bytes.size() - front.written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            // The line is gone (EIO after the other side closed): the write completes, unwritten.
        } else {
            front.written += static_cast<size_t>(n);
            if (front.written < front.bytes.size())
                continue;
        }
        if (front.completion != nullptr)
            front.completion->Set();
        m_pendingWrites.pop_front();
    }
}

void CSerialPort::DropPendingWrites() { m_pendingWrites.clear(); }

void CSerialPort::ForgetCompletion(CEvent* completion) {
    CMutexLock hold(m_writeLock);
    for (PendingWrite& pending : m_pendingWrites) {
        if (pending.completion == completion)
            pending.completion = nullptr;
    }
}

int CSerialPort::GetModemStatus() {
    int bits = 0;
    if (m_handle == kNoHandle || ::ioctl(m_handle, TIOCMGET, &bits) != 0)
        return 0;  // ENOTTY on pseudo-terminals: no modem lines to report
    return ModemStatusFromModemBits(bits);
}

void CSerialPort::Reconfigure(const CPortSettings& settings) {
    if (m_open)
        Configure(settings);
}

void CSerialPort::Configure(const CPortSettings& settings) {
    if (m_handle == kNoHandle)
        return;
    termios line{};
    if (::tcgetattr(m_handle, &line) != 0)
        return;
    // Raw bytes both ways: no echo, no signals, no CR/LF translation, no software flow unless asked for.
    line.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    line.c_oflag &= ~OPOST;
    line.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    line.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    line.c_cflag |= CLOCAL | CREAD | SizeFor(settings.m_dataBits);
    switch (settings.m_parity) {
    case CPortSettings::kOddParity: line.c_cflag |= PARENB | PARODD; break;
    case CPortSettings::kEvenParity: line.c_cflag |= PARENB; break;
    case CPortSettings::kMarkParity: line.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case CPortSettings::kSpaceParity: line.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (settings.m_stopBits == CPortSettings::kTwoStopBits)
        line.c_cflag |= CSTOPB;
    line.c_iflag |= INPCK;  // parity is always checked (it has no effect without a parity bit)
    line.c_cc[VSTART] = 0x11;
    line.c_cc[VSTOP] = 0x13;
    if (settings.m_flowControl == CPortSettings::kFlowHardware)
        line.c_cflag |= CRTSCTS;
    else if (settings.m_flowControl == CPortSettings::kFlowXonXoff)
        line.c_iflag |= IXON | IXOFF;
    // The read thread waits in poll() and reads without blocking. VMIN 1 makes a read that finds the
    // queue empty (a flush took what poll saw) fail with EAGAIN; with VMIN 0 it would return 0, which
    // cannot be told from the end of file of a line that hung up.
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    const speed_t speed = SpeedFor(settings.m_baudRate);
    if (speed != B0) {
        cfsetispeed(&line, speed);
        cfsetospeed(&line, speed);
    }
    ::tcsetattr(m_handle, TCSANOW, &line);
    m_current.reset(new CPortSettings(settings));
    ++m_configureCount;
}

void CSerialPort::Reset() {
    if (m_handle == kNoHandle)
        return;
    if (m_current && m_current->m_flowControl != CPortSettings::kFlowNone) {
        const CPortSettings unchanged = *m_current;
        CPortSettings withoutFlow = unchanged;
        withoutFlow.m_flowControl = CPortSettings::kFlowNone;
        Configure(withoutFlow);
        Configure(unchanged);
    }
    CMutexLock hold(m_writeLock);
    DropPendingWrites();
    ::tcflush(m_handle, TCIOFLUSH);
}

void CSerialPort::SetModemLine(int tiocmBit, bool high, const char* what) {
    if (m_handle == kNoHandle)
        return;
    // Pseudo-terminals refuse this with ENOTTY; the port works on without modem lines.
    ::ioctl(m_handle, high ? TIOCMBIS : TIOCMBIC, &tiocmBit);
}

void CSerialPort::ClearDTR() { SetModemLine(TIOCM_DTR, false, "DTR"); }
void CSerialPort::SetDTR() { SetModemLine(TIOCM_DTR, m_dtrEnabled, "DTR"); }
void CSerialPort::ClearRTS() { SetModemLine(TIOCM_RTS, false, "RTS"); }
void CSerialPort::SetRTS() { SetModemLine(TIOCM_RTS, m_rtsEnabled, "RTS"); }

void CSerialPort::ReadThread::Run() { m_port.RunReadLoop(); }

void CSerialPort::RunReadLoop() {
    const bool wantsLineEvents = m_listener != nullptr && m_listener->WantsLineEvents(this);
    LineCounters counters;
    const bool lineEvents = wantsLineEvents && ReadCounters(m_handle, counters);
    char* buffer = nullptr;

    for (;;) {
        bool writing;
        {
            CMutexLock hold(m_writeLock);
            writing = !m_pendingWrites.empty();
        }
        pollfd fds[3];
        fds[0] = pollfd{m_handle, static_cast<short>((m_hungUp ? 0 : POLLIN) | (writing ? POLLOUT : 0)), 0};
        if (fds[0].events == 0)
            fds[0].fd = -1;
        fds[1] = pollfd{m_stopEvent.PollHandle(), POLLIN, 0};
        fds[2] = pollfd{m_writeWake.PollHandle(), POLLIN, 0};
        const int rc = ::poll(fds, 3, lineEvents ? kLineSampleMs : -1);
        if (rc < 0 && errno != EINTR)
            break;
        if (rc < 0)
            continue;
        if (fds[1].revents & POLLIN)
            break;
        if (fds[2].revents & POLLIN)
            m_writeWake.TryAcquire();

        const short got = fds[0].revents;
        if (got & POLLNVAL) {
            m_hungUp = true;
        } else if (got & (POLLIN | POLLHUP | POLLERR)) {
            if (buffer == nullptr)
                buffer = new char[kReadSize];
            const ssize_t n = ::read(m_handle, buffer, kReadSize);
            if (n > 0) {
                // The listener owns the buffer from here on.
                if (m_listener != nullptr) {
                    m_listener->OnData(this, buffer, static_cast<int>(n));
                    buffer = nullptr;
                }
            } else if (LineHungUp(n, n < 0 ? errno : 0, got)) {
                // The other side went away: stop reading (poll would report it for ever), keep the buffer.
                m_hungUp = true;
            }
            // Otherwise the read found nothing (a Reset flushed what poll had seen): back to poll.
        }
        if ((got & (POLLOUT | POLLHUP | POLLERR)) && writing) {
            CMutexLock hold(m_writeLock);
            PushPendingWrites();
        }
        if (lineEvents) {
            LineCounters now;
            if (ReadCounters(m_handle, now)) {
                const int bits = LineEventFromCounters(counters, now);
                counters = now;
                if (bits != 0)
                    m_listener->OnLineEvent(this, bits);
            }
        }
    }
    m_stopEvent.Reset();
    delete[] buffer;
}
