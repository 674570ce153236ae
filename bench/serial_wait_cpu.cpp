// Processor cost of the serial layer's waits and of its read path.
//
//   1. 36 threads each wait 5 s under a deadline for an answer that never comes, on 36 silent
//      pseudo-terminals: once with urs_GetChar (the protocols' wait) and once polling
//      urs_CharsWaiting / urs_TimerExpired (the identification's wait). Goal: the whole process uses
//      less than 1% of one core (process CPU time from getrusage over wall time).
//   2. The read path with logging off: CPU time of the reading thread per byte received through
//      urs_GetChar, with a writer thread feeding the device side.
//
// Run by hand: build/bin/serial_wait_cpu [seconds-per-wait]
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ravelin/serial/urswin32.h"
#include "ravelin/support/log.h"

namespace {

const int kPorts = 36;

struct Pty {
    int hMaster = -1;
    std::string devicePath;  // "\\.\/dev/pts/N"
};

bool OpenPty(Pty *pPty)
{
    pPty->hMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pPty->hMaster < 0 || grantpt(pPty->hMaster) != 0 || unlockpt(pPty->hMaster) != 0)
        return false;
    char szName[128];
    if (ptsname_r(pPty->hMaster, szName, sizeof szName) != 0)
        return false;
    struct termios tio;
    if (tcgetattr(pPty->hMaster, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(pPty->hMaster, TCSANOW, &tio);
    }
    pPty->devicePath = std::string("\\\\.\\") + szName;
    return true;
}

double ProcessCpuSeconds()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

double ThreadCpuSeconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double WallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The protocols' answer wait: read until the deadline passes.
void WaitWithGetChar(UrsPort *pPort, int nSeconds)
{
    urs_StartTimer(pPort, nSeconds);
    while (urs_GetChar(pPort) != URS_TIMEOUT) {
    }
    urs_StopTimer(pPort);
}

// The identification's answer wait: look at the input queue until the deadline passes.
void WaitWithCharsWaiting(UrsPort *pPort, int nSeconds)
{
    urs_StartTimer(pPort, nSeconds);
    while (!urs_TimerExpired(pPort)) {
        if (urs_CharsWaiting(pPort))
            urs_GetChar(pPort);
    }
    urs_StopTimer(pPort);
}

void MeasureWait(const char *pszName, void (*pWait)(UrsPort *, int), std::vector<UrsPort> &ports, int nSeconds)
{
    double dCpu0 = ProcessCpuSeconds(), dWall0 = WallSeconds();
    std::vector<std::thread> threads;
    for (UrsPort &port : ports)
        threads.emplace_back(pWait, &port, nSeconds);
    for (std::thread &t : threads)
        t.join();
    double dCpu = ProcessCpuSeconds() - dCpu0, dWall = WallSeconds() - dWall0;
    double dPercent = 100.0 * dCpu / dWall;
    std::printf("%-34s %2d threads x %d s: wall %.2f s, process CPU %.4f s = %.3f%% of one core  [%s, goal < 1%%]\n",
                pszName, static_cast<int>(ports.size()), nSeconds, dWall, dCpu, dPercent,
                dPercent < 1.0 ? "ok" : "OVER");
}

void MeasureReadPath(const Pty &pty, UrsPort *pPort, long nBytes)
{
    std::atomic<bool> bStop{false};
    std::thread writer([&] {
        std::string chunk(4096, '\x55');
        long nLeft = nBytes;
        while (nLeft > 0 && !bStop) {
            struct pollfd pfd = {pty.hMaster, POLLOUT, 0};
            if (poll(&pfd, 1, 1000) <= 0)
                continue;
            ssize_t n = write(pty.hMaster, chunk.data(), nLeft < 4096 ? static_cast<size_t>(nLeft) : 4096);
            if (n > 0)
                nLeft -= n;
        }
    });

    double dCpu0 = ThreadCpuSeconds(), dWall0 = WallSeconds();
    long nRead = 0;
    urs_StartTimer(pPort, 120);
    while (nRead < nBytes) {
        int nResult = urs_GetChar(pPort);
        if (nResult < 0)
            break;
        ++nRead;
    }
    urs_StopTimer(pPort);
    double dCpu = ThreadCpuSeconds() - dCpu0, dWall = WallSeconds() - dWall0;
    bStop = true;
    writer.join();
    std::printf("read path, logging off: %ld bytes in %.2f s wall; reader CPU %.3f s = %.2f us per byte (%.0f bytes/s)\n",
                nRead, dWall, dCpu, nRead > 0 ? 1e6 * dCpu / nRead : 0.0, nRead / dWall);
}

}  // namespace

int main(int argc, char **argv)
{
    int nSeconds = argc > 1 ? std::atoi(argv[1]) : 5;
    if (nSeconds <= 0)
        nSeconds = 5;
    log_SetEnabled(false);

    std::vector<Pty> ptys(kPorts);
    std::vector<UrsPort> ports(kPorts);
    for (int i = 0; i < kPorts; ++i) {
        if (!OpenPty(&ptys[i]) || urs_OpenPort(&ports[i], ptys[i].devicePath.c_str()) != URS_OK) {
            std::fprintf(stderr, "serial_wait_cpu: cannot set up pseudo-terminal %d\n", i);
            return 1;
        }
    }

    std::printf("serial_wait_cpu: %d silent pseudo-terminals, %d s deadline\n", kPorts, nSeconds);
    MeasureWait("wait in urs_GetChar", WaitWithGetChar, ports, nSeconds);
    MeasureWait("wait polling urs_CharsWaiting", WaitWithCharsWaiting, ports, nSeconds);
    MeasureReadPath(ptys[0], &ports[0], 1L << 20);

    for (int i = 0; i < kPorts; ++i) {
        urs_ClosePort(&ports[i]);
        close(ptys[i].hMaster);
    }
    return 0;
}
