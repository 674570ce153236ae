// lucflsh_Flash: one Lucent/Agere device update, from opening the port to closing it.
#include "ravelin/protocols/lucflsh.h"

#include <cstring>

#include "ravelin/support/log.h"

const char lucflsh_kAgereLoader[] = "OcmFldr.hex";
const char lucflsh_kLucentLoader[] = "NewFlashLdr.hex";

namespace {

const char kModule[] = "lucflsh";

const char kRestoreDefaults[] = "AT&F&W&W1Z\r";
constexpr int kRestoreTimeout = 10;    // seconds for the "OK" of the factory-defaults restore
constexpr int kGoVersionTimeout = 5;   // seconds for the resident loader's version after GO
constexpr int kSettleSeconds = 10;     // before the loader is started
constexpr int kCloseDelaySeconds = 3;  // before the port is closed: the last answers drain

void logFlushed(int nLine, const char *pszText)
{
    log_Write(nLine, kModule, "%s", pszText);
    log_Flush();
}

// Reads a file once before anything of it is sent: a line the reader cannot hand out whole would
// leave the device with half a loader or half an image.
int checkFile(proto_LineFile *pFile, const char *pszName)
{
    long nBadLine = 0;
    if (proto_CheckLineFile(pFile, lucflsh_kLineCapacity, &nBadLine))
        return 0;
    if (nBadLine > 0)
        log_Write(__LINE__, kModule, "Error: line %ld of %s is longer than %d characters or unreadable", nBadLine,
                  pszName, lucflsh_kLineCapacity - 2);
    else
        log_Write(__LINE__, kModule, "Error: %s holds no line", pszName);
    return FR_BAD_HEX;
}

// Starts the resident loader with the variant's GO command and reads its version.
int startResidentLoader(UrsPort *pPort, DeviceUpdate *pUpdate, int nVariant)
{
    static const char *const kGoLogs[] = {"Send AT&&FGO\n", "Send AT&&WGO\n", "Send AT&&ZGO\n"};
    log_Write(__LINE__, kModule, "%s", kGoLogs[nVariant >= 0 && nVariant <= 2 ? nVariant : 0]);
    int nWrite = urs_PutString(pPort, lucflsh_GoCommand(nVariant));
    if (nWrite != URS_OK)
        return nWrite;
    log_Write(__LINE__, kModule, "Get the OK\n");
    if (lucflsh_GetVersion(pPort, kGoVersionTimeout, pUpdate->szLoaderVersion) != 0) {
        log_Write(__LINE__, kModule, "Error: no loader version after the GO command");
        return FR_LOADER_VERSION_FAILED;
    }
    return 0;
}

// Sends a new flash loader from beside the executable.
int sendNewLoader(UrsPort *pPort, DeviceUpdate *pUpdate, ProgressCallback pfnProgress, int nVariant)
{
    const char *pszName = (pUpdate->flags & FLF_AGERE_LOADER) ? lucflsh_kAgereLoader : lucflsh_kLucentLoader;
    log_Write(__LINE__, kModule, "Download %s\n", pszName);
    char szPath[os_kPathLen];
    proto_LineFile loader;
    if (!os_FindBesideExe(pszName, szPath, sizeof szPath) || !proto_OpenLineFile(&loader, szPath)) {
        log_Write(__LINE__, kModule, "Error: the loader file %s cannot be opened", szPath);
        return FR_HEX_OPEN_FAILED;
    }
    log_Write(__LINE__, kModule, "<%s> File opened on handle %d\n", szPath, loader.hFile);
    int nResult = checkFile(&loader, pszName);
    if (nResult == 0)
        nResult = lucflsh_SendFile(pUpdate, pPort, &loader, lucflsh_kLoaderFile, pUpdate->szLoaderVersion,
                                   pfnProgress, nVariant);
    proto_CloseLineFile(&loader);
    return nResult;
}

} // namespace

const char *lucflsh_GoCommand(int nVariant)
{
    switch (nVariant) {
    case 1: return "AT&&WGO\r";
    case 2: return "AT&&ZGO\n";  // this generation takes its GO with a line feed
    default: return "AT&&FGO\r";
    }
}

int lucflsh_LoaderFitsType(const char *pszVersion, int nTypeCode)
{
    bool b44 = std::strstr(pszVersion, "4.4") != nullptr;
    bool bKnown = b44 || std::strstr(pszVersion, "1.3") != nullptr || std::strstr(pszVersion, "4.3") != nullptr;
    if (!bKnown)
        return 0;
    return nTypeCode != 3 || b44;
}

int lucflsh_Flash(ProgressCallback pfnProgress, DeviceUpdate *pUpdate)
{
    // Only what this update's loader reports may let the image through, never an earlier pass's.
    pUpdate->szLoaderVersion[0] = '\0';
    UrsPort port;
    if (urs_OpenPort(&port, pUpdate->szPortPath) != URS_OK)
        return FR_PORT_OPEN_FAILED;
    log_Write(__LINE__, kModule, "<%s>  Opened\n", port.szName);

    // Families that download at 115200 baud do so whatever speed was asked for; the record then
    // tells the speed the update really ran at.
    if (pUpdate->flags & FLF_DOWNLOAD_115200)
        pUpdate->nSpeed = 115200;
    urs_SetUart(&port, static_cast<std::uint32_t>(pUpdate->nSpeed), 8, 0, 0, 0);

    if (pUpdate->restoreDefaults) {
        if (!pfnProgress(pUpdate, flsh_cRestoreDefaults, 0, 0)) {
            urs_ClosePort(&port);
            return FR_ABORTED;
        }
        urs_PutString(&port, kRestoreDefaults);
        lucflsh_WaitOK(&port, kRestoreTimeout);
        urs_Sleep(1);
    }
    urs_Sleep(kSettleSeconds);

    const int nVariant = pUpdate->identity.nLucentVariant;
    proto_LineFile image;
    image.hFile = osfl_kInvalidHandle;
    int nResult = 0;
    if (!pUpdate->noProgramming) {
        if (!proto_OpenLineFile(&image, pUpdate->szImagePath)) {
            log_Write(__LINE__, kModule, "Error: the image %s cannot be opened", pUpdate->szImagePath);
            urs_ClosePort(&port);
            return FR_HEX_OPEN_FAILED;
        }
        log_Write(__LINE__, kModule, "<%s> File opened on handle %d\n", pUpdate->szImagePath, image.hFile);
        nResult = checkFile(&image, pUpdate->szImagePath);
    }

    if (nResult == 0 && !pfnProgress(pUpdate, flsh_cProgramStart, pUpdate->nSpeed,
                                     reinterpret_cast<std::intptr_t>(pUpdate->szImagePath))) {
        proto_CloseLineFile(&image);
        urs_ClosePort(&port);
        return FR_ABORTED;
    }
    if (nResult == 0) {
        if (pUpdate->flags & FLF_FULL_FLASH) {
            log_Write(__LINE__, kModule, "flsh_kFullFlash");
            pUpdate->flashMode = flsh_kFullFlash;
        }
        if (pUpdate->flashMode == flsh_kFullFlash)
            nResult = sendNewLoader(&port, pUpdate, pfnProgress, nVariant);
        else
            nResult = startResidentLoader(&port, pUpdate, nVariant);
    }
    if (nResult == 0 && !pUpdate->noProgramming) {
        if (!lucflsh_LoaderFitsType(pUpdate->szLoaderVersion, pUpdate->identity.lucent.nType)) {
            log_Write(__LINE__, kModule, "Error: loader version \"%s\" does not fit type code %d",
                      pUpdate->szLoaderVersion, pUpdate->identity.lucent.nType);
            nResult = FR_WRONG_VERSION;
        } else {
            log_Write(__LINE__, kModule, "Start the download of the file\n");
            nResult = lucflsh_SendFile(pUpdate, &port, &image, lucflsh_kImageFile, pUpdate->szLoaderVersion,
                                       pfnProgress, nVariant);
        }
    }

    proto_CloseLineFile(&image);
    logFlushed(__LINE__, "File is closed");
    logFlushed(__LINE__, "Close the port");
    urs_Sleep(kCloseDelaySeconds);
    logFlushed(__LINE__, "after Sleep, before ClosePort");
    urs_ClosePort(&port);
    logFlushed(__LINE__, "Port is closed");
    log_Write(__LINE__, kModule, "nFlashReturn %d\n", nResult);
    log_Flush();
    return nResult;
}
