#include "ravelin/protocols/rockflsh.h"

#include <cstring>

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/protocols/proto_answers.h"
#include "ravelin/protocols/proto_linefile.h"
#include "ravelin/protocols/proto_port.h"
#include "ravelin/support/log.h"

namespace {

const char *const kModule = "rockflsh";
const char kRestoreDefaults[] = "AT&F&W&W1Z\r";
const char kEnterDownload[] = "AT**\r";

// Everything rockflsh_Flash must undo once the port is open.
struct RockSession {
    UrsPort port{};
    DeviceUpdate *pUpdate = nullptr;
    osfl_Handle hLoader = osfl_kInvalidHandle;
    osfl_Handle hImage = osfl_kInvalidHandle;

    int finish(int nResult)
    {
        if (hImage != osfl_kInvalidHandle)
            osfl_Close(hImage);
        if (hLoader != osfl_kInvalidHandle)
            osfl_Close(hLoader);
        if (pUpdate != nullptr)
            flsh_NoteLineLost(pUpdate, &port);
        urs_ClosePort(&port);
        return nResult;
    }
};

// The chip takes the loader as it is read, so a line the reader cannot take half-way through would
// leave the device in download mode with half a loader: such a file is refused before anything is
// sent. An empty file has no such line. (The loader is no Intel HEX file: only its lines are checked.)
bool fileLinesFit(osfl_Handle hFile)
{
    long nLines = 0;
    long nBadLine = 0;
    return proto_LinesFit(hFile, rockflsh_kLineLen, &nLines, &nBadLine) == 1;
}

// The factory-defaults restore around a download; its answer is not needed. 0, or FR_ABORTED.
int restoreDefaults(UrsPort *pPort, DeviceUpdate *pUpdate, ProgressCallback pfnProgress)
{
    if (!pUpdate->restoreDefaults || (pUpdate->flags & FLF_NO_DEFAULTS) != 0)
        return 0;
    if (!pfnProgress(pUpdate, flsh_cRestoreDefaults, 0, 0))
        return FR_ABORTED;
    urs_PutString(pPort, kRestoreDefaults);
    rockflsh_WaitInitiated(pPort);
    urs_Sleep(3);
    return 0;
}

int waitFor(UrsPort *pPort, int nSeconds, const char *pszFirst, const char *pszSecond, int nTimeoutResult)
{
    const char *const apszAnswers[] = {"OK", pszFirst, pszSecond};
    return proto_WaitForAnswer(pPort, nSeconds, apszAnswers, 3) >= 0 ? 0 : nTimeoutResult;
}

} // namespace

int rockflsh_WaitInitiated(UrsPort *pPort)
{
    return waitFor(pPort, rockflsh_kInitiatedSeconds, "Download initiated ..\r\n", "Download Initiated ..\r\n",
                   FR_HANDSHAKE_FAILURE);
}

int rockflsh_WaitFlashCode(UrsPort *pPort)
{
    return waitFor(pPort, rockflsh_kFlashCodeSeconds, "Download flash code ..\r\n", "Upload NV_Ram Data ..\r\n",
                   FR_HANDSHAKE_FAILURE);
}

int rockflsh_WaitProgrammed(UrsPort *pPort)
{
    return waitFor(pPort, rockflsh_kProgrammedSeconds, "Device successfully programmed\r\n",
                   "Upload successfully completed\r\n", FR_VERIFY_FAILED);
}

int rockflsh_LoaderPath(const char *pszImagePath, const char *pszModel, char *pszPath, int nCapacity)
{
    char szLoader[cat_kLoaderLen];
    cat_LoaderForImage(pszImagePath, szLoader, sizeof szLoader);
    if (szLoader[0] == '\0')
        cat_LoaderForModel(pszModel, szLoader, sizeof szLoader);
    // A catalogue line may name no loader: no file of an empty name can be opened, the default can.
    if (szLoader[0] == '\0')
        os_CopyBounded(szLoader, cat_kDefaultLoader, sizeof szLoader);
    return os_FindBesideExe(szLoader, pszPath, nCapacity);
}

int rockflsh_SendFile(RockWork *pWork, UrsPort *pPort, osfl_Handle hFile, ProgressCallback pfnProgress)
{
    DeviceUpdate *pOwner = pWork->pOwner;
    const std::uint32_t nSize = static_cast<std::uint32_t>(osfl_Size(hFile));
    pWork->lineBuffer.nRemaining = 0;
    pWork->lineBuffer.nPosition = 0;
    std::uint32_t nPercent = 0;
    for (long nLines = 0;; ++nLines) {
        if (nLines % 1000 == 0)
            os_yield();
        // Room for the line and the CR LF put back after it.
        char szLine[rockflsh_kLineLen + 2];
        std::memset(szLine, 0, sizeof szLine);
        int nRead = os_ReadNextLine(hFile, szLine, rockflsh_kLineLen, &pWork->lineBuffer);
        if (nRead < 0)
            return FR_BAD_HEX;
        if (nRead == 0)
            return pfnProgress(pOwner, flsh_cProgramDone, 100, 0) ? FR_SUCCESSFUL : FR_ABORTED;
        if (char *pFeed = std::strchr(szLine, '\n'))
            *pFeed = '\0';
        std::strcat(szLine, "\r\n");
        if (urs_PutBlock(pPort, szLine, static_cast<long>(std::strlen(szLine))) != URS_OK) {
            log_Write(__LINE__, kModule, "Error:  PutBlock <%s>", szLine);
            log_Flush();
            return pfnProgress(pOwner, flsh_cBlockRejected, static_cast<std::int32_t>(nPercent), 0) ? FR_VERIFY_FAILED
                                                                                                  : FR_ABORTED;
        }
        log_Flush();
        long nPosition = osfl_Tell(hFile);
        if (nSize > 0 && nPosition >= 0)
            nPercent = (static_cast<std::uint32_t>(nPosition) * 100u) / nSize;
        if (!pfnProgress(pOwner, flsh_cProgramming, static_cast<std::int32_t>(nPercent), 0))
            return FR_ABORTED;
    }
}

int rockflsh_Flash(ProgressCallback pfnProgress, DeviceUpdate *pUpdate)
{
    const char *pszPort = flsh_PortDisplayName(pUpdate);
    char szLoaderPath[os_kPathLen];
    rockflsh_LoaderPath(pUpdate->szImagePath, pUpdate->identity.szModel, szLoaderPath, sizeof szLoaderPath);

    RockSession session;
    session.pUpdate = pUpdate;
    if (proto_OpenPort(&session.port, pUpdate, kModule) != 0)
        return FR_PORT_OPEN_FAILED;

    if (!pUpdate->noProgramming) {
        session.hLoader = osfl_Open(szLoaderPath, osfl_kRead);
        if (session.hLoader == osfl_kInvalidHandle) {
            log_Write(__LINE__, kModule, "<%s>  Unable to open LoaderFiled %s", pszPort, szLoaderPath);
            return session.finish(FR_HEX_OPEN_FAILED);
        }
        log_Write(__LINE__, kModule, "<%s> File opened", szLoaderPath);
        session.hImage = osfl_Open(pUpdate->szImagePath, osfl_kRead);
        if (session.hImage == osfl_kInvalidHandle) {
            log_Write(__LINE__, kModule, "<%s>  Unable to open Hex File %s", pszPort, pUpdate->szImagePath);
            return session.finish(FR_HEX_OPEN_FAILED);
        }
        log_Write(__LINE__, kModule, "<%s> File opened", pUpdate->szImagePath);
        log_Flush();
        if (!fileLinesFit(session.hLoader)) {
            log_Write(__LINE__, kModule, "<%s> A line of the loader %s is unreadable or longer than %d characters",
                      pszPort, szLoaderPath, rockflsh_kLineLen - 2);
            return session.finish(FR_BAD_HEX);
        }
        // The loader takes each image line as it comes: a damaged record found by the loader half-way
        // leaves the device half-written, so every record is checked here first.
        long nBadLine = 0;
        int nProblem = hex_CheckImageLines(session.hImage, rockflsh_kLineLen, &nBadLine);
        if (nProblem != hex_kImageSound) {
            log_Write(__LINE__, kModule, "<%s> %s line %ld: %s (at most %d characters a line)", pszPort,
                      pUpdate->szImagePath, nBadLine, hex_ImageProblemText(nProblem), rockflsh_kLineLen - 2);
            return session.finish(FR_BAD_HEX);
        }
    }

    // Families that download at 115200 baud do so whatever speed was asked for; the record then
    // tells the speed the download really ran at.
    if ((pUpdate->flags & FLF_DOWNLOAD_115200) != 0)
        pUpdate->nSpeed = 115200;
    urs_SetUart(&session.port, static_cast<std::uint32_t>(pUpdate->nSpeed), 8, 0, 0, 1);

    if (restoreDefaults(&session.port, pUpdate, pfnProgress) != 0)
        return session.finish(FR_ABORTED);
    // Without programming there is nothing to download: like the generic protocol, the device is
    // left alone but for the defaults.
    if (pUpdate->noProgramming)
        return session.finish(FR_SUCCESSFUL);

    if (!pfnProgress(pUpdate, flsh_cProgramStart, 0, 0))
        return session.finish(FR_ABORTED);
    int nResult = urs_PutString(&session.port, kEnterDownload);
    if (nResult != URS_OK)
        return session.finish(nResult);
    if (rockflsh_WaitInitiated(&session.port) != 0)
        return session.finish(FR_HANDSHAKE_FAILURE);

    RockWork work;
    work.pOwner = pUpdate;
    nResult = rockflsh_SendFile(&work, &session.port, session.hLoader, pfnProgress);
    if (nResult != 0)
        return session.finish(nResult);
    if (rockflsh_WaitFlashCode(&session.port) != 0)
        return session.finish(FR_HANDSHAKE_FAILURE);
    nResult = rockflsh_SendFile(&work, &session.port, session.hImage, pfnProgress);
    if (nResult != 0)
        return session.finish(nResult);

    nResult = rockflsh_WaitProgrammed(&session.port);
    urs_Sleep(4);
    if (restoreDefaults(&session.port, pUpdate, pfnProgress) != 0)
        return session.finish(FR_ABORTED);
    return session.finish(nResult);
}
