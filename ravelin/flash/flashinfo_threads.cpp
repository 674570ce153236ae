// The run's devices and their threads: adding ports, identification and flash threads, waiting,
// polling, cancelling, and taking devices out of the run.
#include <chrono>
#include <cstring>

#include "ravelin/flash/flashinfo_internal.h"
#include "ravelin/support/log.h"

namespace {

const char kModule[] = "flashinfo";

// Stack sizes the threads ask for; the platform layer gives every thread at least its minimum.
constexpr std::uint32_t kIdentifyStack = 12000;
constexpr std::uint32_t kFlashStack = 18000;

std::atomic<bool> g_bFailThreadStarts{false};

// The thread's own reference to its device's record, handed over at the start.
struct ThreadStart {
    std::shared_ptr<RunDeviceShared> pShared;
};

std::uint32_t deviceThread(void *pArg)
{
    ThreadStart *pStart = static_cast<ThreadStart *>(pArg);
    std::shared_ptr<RunDeviceShared> pShared = std::move(pStart->pShared);
    delete pStart;
    pShared->pfnBody(&pShared->update);
    std::shared_ptr<RunSignal> pSignal = pShared->pSignal;
    {
        std::lock_guard<std::mutex> lock(pSignal->mutex);
        pShared->bThreadRunning.store(false);
        --pSignal->nThreadsRunning;
    }
    pSignal->cv.notify_all();
    // Dropping the last reference here frees a device the run has already let go of.
    pShared.reset();
    return 0;
}

// A device is done when its result is in and its thread has ended. The body stores the result a
// moment before its thread ends; a device taken as done in that moment would be taken for one still
// identifying (and left out of the run), or get its next thread while the last one still runs.
bool finished(const RunDevice &device)
{
    if (flsh_LoadResult(device.pUpdate) == FR_NONE) return false;
    return !device.pShared || !device.pShared->bThreadRunning.load();
}

bool allDone(const UpdateRun *pRun, bool bSelectedOnly)
{
    for (const auto &pDevice : pRun->devices) {
        if (bSelectedOnly && !pDevice->bSelected) continue;
        if (!finished(*pDevice)) return false;
    }
    return true;
}

} // namespace

int flsh_InitRun(UpdateRun *pRun)
{
    pRun->devices.clear();
    pRun->images.clear();
    pRun->models.clear();
    pRun->error.nCode = flsh_kRunNoError;
    pRun->szImageDir[0] = '\0';
    pRun->szErrorText[0] = '\0';
    pRun->pSignal = std::make_shared<RunSignal>();
    return 1;
}

void flsh_FreeRun(UpdateRun *pRun)
{
    while (!pRun->devices.empty()) flsh_RunRemoveDevice(pRun, static_cast<int>(pRun->devices.size()) - 1);
    pRun->images.clear();
    pRun->models.clear();
}

int flsh_RunAddPort(UpdateRun *pRun, const char *pszDevicePath, std::int32_t nSpeed)
{
    if (pszDevicePath == nullptr || std::strlen(pszDevicePath) >= static_cast<std::size_t>(flsh_kPortPathLen)) {
        log_Write(__LINE__, kModule, "port %s not added: the path is longer than %d characters",
                  pszDevicePath != nullptr ? pszDevicePath : "(none)", flsh_kPortPathLen - 1);
        return -1;
    }
    if (!pRun->pSignal) pRun->pSignal = std::make_shared<RunSignal>();
    auto pShared = std::make_shared<RunDeviceShared>();
    if (!flsh_InitDeviceUpdate(&pShared->update, pszDevicePath)) {
        log_Write(__LINE__, kModule, "port %s not added: its lock cannot be made", pszDevicePath);
        return -1;
    }
    pShared->update.nSpeed = nSpeed;
    pShared->pSignal = pRun->pSignal;
    auto pDevice = std::make_unique<RunDevice>();
    pDevice->pUpdate = &pShared->update;
    pDevice->pShared = std::move(pShared);
    pRun->devices.push_back(std::move(pDevice));
    return static_cast<int>(pRun->devices.size());
}

int flsh_RunStartDeviceThread(UpdateRun *pRun, RunDevice *pDevice, flsh_DeviceThreadBody pfnBody,
                              std::uint32_t nStackSize, int nFailResult, const char *pszWhat)
{
    RunDeviceShared *pShared = pDevice->pShared.get();
    pShared->pfnBody = pfnBody;
    pShared->pSignal = pRun->pSignal;
    pShared->bThreadRunning.store(true);
    {
        std::lock_guard<std::mutex> lock(pRun->pSignal->mutex);
        ++pRun->pSignal->nThreadsRunning;
    }
    ThreadStart *pStart = new ThreadStart{pDevice->pShared};
    if (!g_bFailThreadStarts.load() && os_StartThread(&pShared->update.hThread, deviceThread, nStackSize, pStart))
        return 1;
    delete pStart;
    pShared->bThreadRunning.store(false);
    {
        std::lock_guard<std::mutex> lock(pRun->pSignal->mutex);
        --pRun->pSignal->nThreadsRunning;
    }
    pShared->update.nResult = nFailResult;
    log_Write(__LINE__, kModule, "<%s> the %s thread could not be started: result %d",
              flsh_PortDisplayName(pDevice->pUpdate), pszWhat, nFailResult);
    return 0;
}

void flsh_RunStartIdentificationWith(UpdateRun *pRun, flsh_DeviceThreadBody pfnBody)
{
    for (auto &pDevice : pRun->devices) {
        DeviceUpdate *pUpdate = pDevice->pUpdate;
        flsh_ResetProgress(pUpdate);
        os_LockMutex(pUpdate->hLock);
        os_CopyBounded(pUpdate->szShortCode, "     ", flsh_kShortCodeLen);
        os_UnlockMutex(pUpdate->hLock);
        pUpdate->nResult = FR_NONE;
        // No thread: the device counts as not identified and post-processing takes it out.
        flsh_RunStartDeviceThread(pRun, pDevice.get(), pfnBody, kIdentifyStack, devid_cAborted, "identification");
    }
}

void flsh_RunStartIdentification(UpdateRun *pRun) { flsh_RunStartIdentificationWith(pRun, flsh_Identify); }

bool flsh_RunAllIdentified(UpdateRun *pRun)
{
    bool bDone = true;
    for (auto &pDevice : pRun->devices) {
        int nResult = flsh_LoadResult(pDevice->pUpdate);
        log_Write(__LINE__, kModule, "<%s> Status %d", flsh_PortDisplayName(pDevice->pUpdate), nResult);
        if (!finished(*pDevice)) bDone = false;
    }
    log_Write(__LINE__, kModule, "bDone %d\n", bDone ? 1 : 0);
    return bDone;
}

bool flsh_RunWaitAllDone(UpdateRun *pRun, int nMilliseconds)
{
    if (!pRun->pSignal) return allDone(pRun, false);
    std::unique_lock<std::mutex> lock(pRun->pSignal->mutex);
    return pRun->pSignal->cv.wait_for(lock, std::chrono::milliseconds(nMilliseconds),
                                      [pRun] { return allDone(pRun, false); });
}

bool flsh_RunWaitThreadsEnded(UpdateRun *pRun, int nMilliseconds)
{
    if (!pRun->pSignal) return true;
    std::unique_lock<std::mutex> lock(pRun->pSignal->mutex);
    RunSignal *pSignal = pRun->pSignal.get();
    return pSignal->cv.wait_for(lock, std::chrono::milliseconds(nMilliseconds),
                                [pSignal] { return pSignal->nThreadsRunning == 0; });
}

void flsh_RunRemoveDevice(UpdateRun *pRun, int nIndex)
{
    if (nIndex < 0 || nIndex >= static_cast<int>(pRun->devices.size())) return;
    RunDevice *pDevice = pRun->devices[static_cast<std::size_t>(nIndex)].get();
    if (pDevice->pShared && pDevice->pShared->bThreadRunning.load())
        log_Write(__LINE__, kModule, "<%s> taken out of the run while its thread still runs; freed when it ends",
                  flsh_PortDisplayName(pDevice->pUpdate));
    // The run's reference goes; a running thread holds its own until it ends.
    pRun->devices.erase(pRun->devices.begin() + nIndex);
}

bool flsh_RunPoll(UpdateRun *pRun, std::int32_t *pnLowest, char *pszStatusText)
{
    std::int32_t nLowest = 100;
    if (pszStatusText != nullptr) pszStatusText[0] = '\0';
    bool bDone = true;
    for (auto &pDevice : pRun->devices) {
        if (!pDevice->bSelected) continue;
        if (flsh_LoadResult(pDevice->pUpdate) != FR_NONE) {
            if (!finished(*pDevice)) bDone = false;
            continue;
        }
        bDone = false;
        char szCode[flsh_kShortCodeLen], szText[flsh_kStatusTextLen];
        std::int32_t nValue = 0;
        flsh_ReadProgress(pDevice->pUpdate, szCode, szText, &nValue);
        if (nValue <= nLowest) {
            nLowest = nValue;
            if (pszStatusText != nullptr) os_CopyBounded(pszStatusText, szText, flsh_kStatusTextLen);
        }
    }
    if (pnLowest != nullptr) *pnLowest = nLowest;
    return bDone;
}

void flsh_RunDeviceProgress(UpdateRun *pRun, int nDevice, char *pszStatusText, std::int32_t *pnValue)
{
    if (pszStatusText != nullptr) pszStatusText[0] = '\0';
    if (pnValue != nullptr) *pnValue = 0;
    if (nDevice < 0 || nDevice >= static_cast<int>(pRun->devices.size())) return;
    flsh_ReadProgress(pRun->devices[static_cast<std::size_t>(nDevice)]->pUpdate, nullptr, pszStatusText, pnValue);
}

void flsh_RunFailThreadStartsForTesting(bool bFail) { g_bFailThreadStarts.store(bFail); }

void flsh_RunCancel(UpdateRun * /*pRun*/) { flsh_SetCancel(); }

void flsh_RunCancelAndWait(UpdateRun *pRun)
{
    flsh_SetCancel();
    // Every protocol answers the cancel flag at its next progress call; the threads signal as they end.
    while (!flsh_RunWaitAllDone(pRun, 100)) {
    }
}

int flsh_RunResult(const UpdateRun *pRun, int nDevice)
{
    if (nDevice < 0 || nDevice >= static_cast<int>(pRun->devices.size())) return FR_NONE;
    return flsh_LoadResult(pRun->devices[static_cast<std::size_t>(nDevice)]->pUpdate);
}

const char *flsh_RunResultText(const UpdateRun *pRun, int nDevice) { return flsh_ResultText(flsh_RunResult(pRun, nDevice)); }

int flsh_RunCountSuccessful(const UpdateRun *pRun)
{
    int nCount = 0;
    for (const auto &pDevice : pRun->devices)
        if (pDevice->bSelected && flsh_LoadResult(pDevice->pUpdate) == FR_SUCCESSFUL) ++nCount;
    return nCount;
}
