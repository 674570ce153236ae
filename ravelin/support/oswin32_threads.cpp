// Recursive mutexes and detached threads.
#include "ravelin/support/oswin32.h"

#include <pthread.h>

#include <new>

struct os_MutexRec {
    pthread_mutex_t mutex;
};

static_assert(sizeof(pthread_t) <= sizeof(os_Thread), "pthread_t must fit os_Thread");

os_Mutex os_CreateMutex(os_Mutex *phMutex) {
    os_MutexRec *pRec = new (std::nothrow) os_MutexRec;
    if (pRec != nullptr) {
        // The owner may lock again, as the callers' nested list and profile calls need.
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
        if (pthread_mutex_init(&pRec->mutex, &attr) != 0) {
            delete pRec;
            pRec = nullptr;
        }
        pthread_mutexattr_destroy(&attr);
    }
    if (phMutex != nullptr) *phMutex = pRec;
    return pRec;
}

int os_LockMutex(os_Mutex hMutex) {
    if (hMutex == nullptr) return 0;
    return pthread_mutex_lock(&hMutex->mutex) == 0 ? 1 : 0;
}

int os_UnlockMutex(os_Mutex hMutex) {
    if (hMutex == nullptr) return 0;
    return pthread_mutex_unlock(&hMutex->mutex) == 0 ? 1 : 0;
}

int os_DestroyMutex(os_Mutex hMutex) {
    if (hMutex == nullptr) return 0;
    pthread_mutex_destroy(&hMutex->mutex);
    delete hMutex;
    return 1;
}

namespace {
struct ThreadStart {
    os_ThreadProc pfnStart;
    void *pArg;
};

void *ThreadMain(void *pv) {
    ThreadStart start = *static_cast<ThreadStart *>(pv);
    delete static_cast<ThreadStart *>(pv);
    start.pfnStart(start.pArg);
    return nullptr;
}
}  // namespace

int os_StartThread(os_Thread *phThread, os_ThreadProc pfnStart, std::uint32_t nStackSize,
                   void *pArg) {
    if (phThread != nullptr) *phThread = 0;
    if (pfnStart == nullptr) return 0;
    ThreadStart *pStart = new (std::nothrow) ThreadStart{pfnStart, pArg};
    if (pStart == nullptr) return 0;

    // A requested stack size was only an initial commit where these callers come from; here it
    // would be a hard limit, so never give less than the minimum.
    size_t nStack = nStackSize > os_kMinThreadStack ? nStackSize : os_kMinThreadStack;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, nStack);
    // Device threads are never joined: they end on their own and release their resources.
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, ThreadMain, pStart);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete pStart;
        return 0;
    }
    if (phThread != nullptr) *phThread = static_cast<os_Thread>(thread);
    return 1;
}

int os_yield(void) { return 0; }

bool os_CheckPointer(const void *pData) { return pData != nullptr; }
