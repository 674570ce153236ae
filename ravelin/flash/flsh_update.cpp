// The generic flash loader protocol as a whole (flsh_Update) and the identification thread body of a
// device update. The flash thread body, which chooses among all protocols, sits with the chip
// protocols (ravelin/protocols/flsh_choice.h).
#include <new>

#include "ravelin/flash/flsh.h"
#include "ravelin/flash/flsh_tempfile.h"
#include "ravelin/support/log.h"

namespace {

const char *const kModule = "flsh";

// Everything flsh_Update must undo on its way out once the port is open.
struct UpdateSession {
    UrsPort port{};
    FlshWork *pWork = nullptr;
    char szTempPath[os_kPathLen] = "";
    osfl_Handle hSorted = osfl_kInvalidHandle;

    DeviceUpdate *pUpdate = nullptr;

    int finish(int nResult)
    {
        flsh_NoteLineLost(pUpdate, &port);
        if (hSorted != osfl_kInvalidHandle)
            osfl_Close(hSorted);
        if (szTempPath[0] != '\0')
            osfl_Delete(szTempPath);
        delete pWork;
        urs_ClosePort(&port);
        return nResult;
    }
};

// Lines of the image that the sort passed on without understanding them, for the service
// engineer: the image check that follows decides whether the image can still be programmed.
void logSortWarning(void *pContext, std::uint32_t nLine, int nWarning)
{
    const DeviceUpdate *pUpdate = static_cast<const DeviceUpdate *>(pContext);
    log_Write(__LINE__, kModule, "<%s> %s line %u: %s", flsh_PortDisplayName(pUpdate), pUpdate->szImagePath,
              static_cast<unsigned>(nLine), hex_SortWarningText(nWarning));
}

// Sorts the image into a private temporary file, opens it, and reads it through once with the
// record parser before anything goes to the device: a damaged image must not leave a device
// half-written. Returns 0 or the update result.
int prepareImage(UpdateSession *pSession, DeviceUpdate *pUpdate, ProgressCallback pfnProgress)
{
    if (!flsh_MakeTempFile(pSession->szTempPath, os_kPathLen)) {
        pSession->szTempPath[0] = '\0';
        log_Write(__LINE__, kModule, "<%s> No temporary file for the sorted image", flsh_PortDisplayName(pUpdate));
        return FR_SORT_FAILED;
    }
    SortWork *pSort = &pSession->pWork->sortWork;
    pSort->pOwner = pUpdate;
    pSort->pfnWarning = logSortWarning;
    pSort->pWarningContext = pUpdate;
    if (sortHexFile(pUpdate->szImagePath, pSession->szTempPath, pSort, pfnProgress) != 0) {
        log_Write(__LINE__, kModule, "<%s> Sorting %s failed: line %u: %s %s", flsh_PortDisplayName(pUpdate),
                  pUpdate->szImagePath, static_cast<unsigned>(pSort->nFailureLine),
                  hex_SortFailureText(pSort->nFailure),
                  pSort->nFailureError != 0 ? os_ErrorText(pSort->nFailureError) : "");
        return FR_SORT_FAILED;
    }
    pSession->hSorted = osfl_Open(pSession->szTempPath, osfl_kRead);
    if (pSession->hSorted == osfl_kInvalidHandle)
        return FR_SORT_FAILED;
    if (!flsh_CheckImage(pSession->hSorted)) {
        log_Write(__LINE__, kModule, "<%s> Bad record in %s", flsh_PortDisplayName(pUpdate), pUpdate->szImagePath);
        return FR_BAD_HEX;
    }
    osfl_Seek(pSession->hSorted, 0, osfl_kSeekStart);
    return 0;
}

} // namespace

int flsh_Update(ProgressCallback pfnProgress, DeviceUpdate *pUpdate)
{
    UpdateSession session;
    session.pUpdate = pUpdate;
    if (urs_OpenPort(&session.port, pUpdate->szPortPath) != URS_OK) {
        flsh_NoteOpenFailure(pUpdate);
        return FR_PORT_OPEN_FAILED;
    }
    session.pWork = new (std::nothrow) FlshWork();
    if (session.pWork == nullptr)
        return session.finish(FR_SORT_FAILED);
    session.pWork->pOwner = pUpdate;

    if (!pUpdate->noProgramming) {
        osfl_Handle hImage = osfl_Open(pUpdate->szImagePath, osfl_kRead);
        if (hImage == osfl_kInvalidHandle)
            return session.finish(FR_HEX_OPEN_FAILED);
        osfl_Close(hImage);
        int nResult = prepareImage(&session, pUpdate, pfnProgress);
        if (nResult != 0)
            return session.finish(nResult);
    }

    if (pUpdate->restoreDefaults) {
        if (!pfnProgress(pUpdate, flsh_cRestoreDefaults, 0, 0))
            return session.finish(FR_ABORTED);
        urs_PutString(&session.port, "AT&F&W&W1Z\r");
        flsh_WaitOkOrError(&session.port);  // a device that says nothing here may still flash
        urs_Sleep(1);
    }

    int nBlockSize = flsh_kBlockSize;
    if (pUpdate->fixedSpeed) {
        urs_SetUart(&session.port, static_cast<std::uint32_t>(pUpdate->nSpeed), 8, 0, 0, 0);
    } else {
        if (flsh_Handshake(&session.port, pUpdate, pfnProgress) != 0)
            return session.finish(FR_HANDSHAKE_FAILURE);
        int nOutcome = flsh_GetLoaderVersion(&session.port, pUpdate, pfnProgress, &nBlockSize);
        if (nOutcome != 0)
            return session.finish(nOutcome);
    }

    int nResult = flsh_PrepareDevice(&session.port, pUpdate->flags, pUpdate->keepBootSector, pUpdate->afterFlash);
    if (nResult != 0)
        return session.finish(nResult);

    if (!pUpdate->noProgramming) {
        if (!pfnProgress(pUpdate, flsh_cProgramStart, pUpdate->nSpeed,
                         reinterpret_cast<std::intptr_t>(pUpdate->szImagePath)))
            return session.finish(FR_ABORTED);
        nResult = flsh_ProgramImage(&session.port, session.pWork, session.hSorted, nBlockSize, pfnProgress);
        // The check after the flash only confirms a device that was programmed: it must not turn a
        // failed programming into a success.
        if (nResult == FR_SUCCESSFUL && pUpdate->afterFlash == 1)
            nResult = flsh_CheckAfterFlash(&session.port, pUpdate, pfnProgress);
    }
    return session.finish(nResult);
}

int flsh_Identify(DeviceUpdate *pUpdate)
{
    int nStatus = devid_IdentifyPort(&pUpdate->identity, pUpdate->szPortPath, flsh_IdentifyCallback, pUpdate);
    pUpdate->nResult = nStatus;
    return 0;
}
