// The console facts and the interrupt watch (see osconsole.h).
#include "ravelin/support/osconsole.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "ravelin/support/log.h"

namespace {

std::atomic<int> g_nInterrupts{0};

void *watchSignals(void *pArg)
{
    sigset_t *pSet = static_cast<sigset_t *>(pArg);
    for (;;) {
        int nSignal = 0;
        if (sigwait(pSet, &nSignal) != 0) continue;
        g_nInterrupts.fetch_add(1);
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
