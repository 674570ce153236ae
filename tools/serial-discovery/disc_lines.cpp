#include "tools/serial-discovery/disc_lines.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

class SystemLineIo : public DiscLineIo {
public:
    int Open(const std::string &path) override { return open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }
    int Lock(int hPort) override { return flock(hPort, LOCK_EX | LOCK_NB); }
    int SerialFlags(int hPort, int *pnFlags) override
    {
        serial_struct info;
        std::memset(&info, 0, sizeof info);
        if (ioctl(hPort, TIOCGSERIAL, &info) != 0) return -1;
        *pnFlags = info.flags;
        return 0;
    }
    int ModemLines(int hPort, int *pnLines) override { return ioctl(hPort, TIOCMGET, pnLines); }
    void Close(int hPort) override
    {
        flock(hPort, LOCK_UN);
        close(hPort);
    }
};

} // namespace

DiscLineIo &disc_SystemLineIo()
{
    static SystemLineIo io;
    return io;
}

DiscLineState disc_ReadLineState(const std::string &path, DiscLineIo &io)
{
    DiscLineState state;
    int hPort = io.Open(path);
    if (hPort < 0) {
        state.problem = std::strerror(errno);
        return state;
    }
    if (io.Lock(hPort) != 0) {
        state.problem = errno == EWOULDBLOCK ? "in use" : std::strerror(errno);
        io.Close(hPort);
        return state;
    }
    state.bOpened = true;
    int nFlags = 0;
    if (io.SerialFlags(hPort, &nFlags) == 0) state.nLowLatency = (nFlags & ASYNC_LOW_LATENCY) != 0 ? disc_kYes : disc_kNo;
    int nLines = 0;
    if (io.ModemLines(hPort, &nLines) == 0) state.nCts = (nLines & TIOCM_CTS) != 0 ? disc_kYes : disc_kNo;
    io.Close(hPort);
    return state;
}
