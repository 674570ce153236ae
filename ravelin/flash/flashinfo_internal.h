// What the run shares with its device threads (flashinfo.h). Only the run's own sources include this.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "ravelin/flash/flashinfo.h"

// Wakes whoever waits for device threads. Shared by the run and every thread it started, so that a
// thread ending after the run is gone still has something to signal.
struct RunSignal {
    std::mutex mutex;
    std::condition_variable cv;
    // Threads the run started that have not ended yet, also those of devices taken out of the run
    // since; guarded by the mutex.
    int nThreadsRunning = 0;
};

// A device's update record and its thread's state. The run holds one reference and a running thread
// another: whichever lets go last frees the record, so a device taken out of the run while its
// thread still writes to it lives until that thread ends.
struct RunDeviceShared {
    DeviceUpdate update{};
    std::atomic<bool> bThreadRunning{false};
    std::shared_ptr<RunSignal> pSignal;
    flsh_DeviceThreadBody pfnBody = nullptr;

    ~RunDeviceShared() { flsh_FreeDeviceUpdate(&update); }
};

// The result a thread stored, read while the thread may still run.
inline int flsh_LoadResult(const DeviceUpdate *pUpdate) { return __atomic_load_n(&pUpdate->nResult, __ATOMIC_ACQUIRE); }

// Starts pfnBody on the device's own thread. When no thread can be made the device gets nFailResult
// at once (a device left at -1 would be waited for forever) and the log says why. Returns 1 when a
// thread was started.
int flsh_RunStartDeviceThread(UpdateRun *pRun, RunDevice *pDevice, flsh_DeviceThreadBody pfnBody,
                              std::uint32_t nStackSize, int nFailResult, const char *pszWhat);
