// Ctrl-C and SIGTERM as ordinary events: both signals are blocked in every thread and taken by
// one watcher thread with sigwait(), which calls the front end's handler. A handler run in signal
// context could do almost nothing safely (no locks, no stdio), and one that ends the process would
// leave a device half-programmed, a temporary file behind and the port to whoever comes next.
#include "ravelin/support/oswin32.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>

namespace {

std::atomic<os_InterruptHandler> g_pfnHandler{nullptr};

sigset_t InterruptSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

std::uint32_t WatchInterrupts(void *)
{
    sigset_t set = InterruptSignals();
    int nCount = 0;
    for (;;) {
        int nSignal = 0;
        if (sigwait(&set, &nSignal) != 0)
            continue;
        os_InterruptHandler pfnHandler = g_pfnHandler.load();
        if (pfnHandler != nullptr)
            pfnHandler(++nCount);
    }
    return 0;
}

} // namespace

int os_CatchInterrupts(os_InterruptHandler pfnHandler)
{
    if (pfnHandler == nullptr)
        return 0;
    if (g_pfnHandler.exchange(pfnHandler) != nullptr)
        return 1;  // the watcher runs already; it now calls the new handler
    sigset_t set = InterruptSignals();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        g_pfnHandler.store(nullptr);
        return 0;
    }
    os_Thread hThread = 0;
    if (!os_StartThread(&hThread, WatchInterrupts, 0, nullptr)) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        g_pfnHandler.store(nullptr);
        return 0;
    }
    return 1;
}
