// The console facts and the interrupt watch (see osconsole.h).
#include "ravelin/support/osconsole.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "ravelin/support/log.h"

namespace {

std::atomic<int> g_nInterrupts{0};
// Written once per interrupt, so that a console read can wait for input and interrupts at once.
int g_anWake[2] = {-1, -1};

void *watchSignals(void *pArg)
{
    sigset_t *pSet = static_cast<sigset_t *>(pArg);
    for (;;) {
        int nSignal = 0;
        if (sigwait(pSet, &nSignal) != 0) continue;
        g_nInterrupts.fetch_add(1);
        if (g_anWake[1] >= 0) {
            char chWake = 1;
            ssize_t nWritten = write(g_anWake[1], &chWake, 1);
            (void)nWritten;  // a full pipe already wakes every reader
        }
        log_Write(__LINE__, "osconsole", "signal %d: cancel requested", nSignal);
    }
    return nullptr;
}

} // namespace

bool os_StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

int os_StartInterruptWatch()
{
    static sigset_t set;
    static std::atomic<bool> bStarted{false};
    if (bStarted.load()) return 1;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    if (g_anWake[0] < 0 && pipe2(g_anWake, O_CLOEXEC | O_NONBLOCK) != 0) g_anWake[0] = g_anWake[1] = -1;
    sigset_t old;
    if (pthread_sigmask(SIG_BLOCK, &set, &old) != 0) return 0;
    pthread_t thread;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    int nError = pthread_create(&thread, &attr, watchSignals, &set);
    pthread_attr_destroy(&attr);
    if (nError != 0) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        log_Write(__LINE__, "osconsole", "the signal watcher cannot be started (error %d)", nError);
        return 0;
    }
    bStarted.store(true);
    return 1;
}

bool os_InterruptRequested() { return g_nInterrupts.load() > 0; }

int os_InterruptCount() { return g_nInterrupts.load(); }

int os_ReadConsoleLine(char *pszLine, int nCapacity)
{
    if (pszLine == nullptr || nCapacity <= 0) return -1;
    int nLength = 0;
    pszLine[0] = '\0';
    for (;;) {
        if (os_InterruptRequested()) return -2;
        pollfd afd[2] = {{STDIN_FILENO, POLLIN, 0}, {g_anWake[0], POLLIN, 0}};
        int nReady = poll(afd, g_anWake[0] >= 0 ? 2 : 1, -1);
        if (nReady < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (afd[1].revents != 0 && os_InterruptRequested()) return -2;
        if (afd[0].revents == 0) continue;
        char ch = 0;
        ssize_t nRead = read(STDIN_FILENO, &ch, 1);
        if (nRead < 0 && errno == EINTR) continue;
        if (nRead <= 0) return nLength > 0 ? nLength : -1;
        if (ch == '\n') return nLength;
        if (nLength < nCapacity - 1) {
            pszLine[nLength++] = ch;
            pszLine[nLength] = '\0';
        }
    }
}
