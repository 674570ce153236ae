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

// Reads a file once before anything goes to the device: every line must be a sound record that the
// line reader hands out whole. The device programs lines as they come, and a loader takes each line
// on trust once its answer is OK, so a damaged record found half-way would leave the device with
// half a loader or half an image.
int checkFile(proto_LineFile *pFile, const char *pszName)
{
    if (pFile->nSize <= 0) {
        log_Write(__LINE__, kModule, "Error: %s holds no line", pszName);
        return FR_BAD_HEX;
    }
    long nBadLine = 0;
    int nProblem = hex_CheckImageLines(pFile->hFile, lucflsh_kLineCapacity, &nBadLine);
    if (nProblem != hex_kImageSound || !proto_RewindLineFile(pFile)) {
        log_Write(__LINE__, kModule, "Error: line %ld of %s: %s (at most %d characters a line)", nBadLine, pszName,
                  hex_ImageProblemText(nProblem), lucflsh_kLineCapacity - 2);
        return FR_BAD_HEX;
    }
    return 0;
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

// Opens and checks the new flash loader beside the executable. 0, FR_HEX_OPEN_FAILED or FR_BAD_HEX;
// on 0 the loader is open (the caller closes it).
int openNewLoader(proto_LineFile *pLoader, const DeviceUpdate *pUpdate)
{
    const char *pszName = (pUpdate->flags & FLF_AGERE_LOADER) ? lucflsh_kAgereLoader : lucflsh_kLucentLoader;
    char szPath[os_kPathLen];
    if (!os_FindBesideExe(pszName, szPath, sizeof szPath) || !proto_OpenLineFile(pLoader, szPath)) {
        log_Write(__LINE__, kModule, "Error: the loader file %s cannot be opened", szPath);
        return FR_HEX_OPEN_FAILED;
    }
    log_Write(__LINE__, kModule, "<%s> File opened on handle %d\n", szPath, pLoader->hFile);
    int nResult = checkFile(pLoader, pszName);
    if (nResult != 0) proto_CloseLineFile(pLoader);
    return nResult;
}

// Sends the new flash loader, opened and checked before.
int sendNewLoader(UrsPort *pPort, DeviceUpdate *pUpdate, proto_LineFile *pLoader, ProgressCallback pfnProgress,
                  int nVariant)
{
    const char *pszName = (pUpdate->flags & FLF_AGERE_LOADER) ? lucflsh_kAgereLoader : lucflsh_kLucentLoader;
    log_Write(__LINE__, kModule, "Download %s\n", pszName);
    int nResult = lucflsh_SendFile(pUpdate, pPort, pLoader, lucflsh_kLoaderFile, pUpdate->szLoaderVersion,
                                   pfnProgress, nVariant);
    proto_CloseLineFile(pLoader);
    return nResult;
}

// Everything lucflsh_Flash must close on its way out once the port is open.
struct LucentSession {
    UrsPort port{};
    proto_LineFile image{};
    proto_LineFile loader{};

    LucentSession()
    {
        image.hFile = osfl_kInvalidHandle;
        loader.hFile = osfl_kInvalidHandle;
    }
    // A way out before any transfer: files and port closed at once (the pause before closing the
    // port is for the last answers of a transfer).
    int refuse(int nResult)
    {
        proto_CloseLineFile(&image);
        proto_CloseLineFile(&loader);
        urs_ClosePort(&port);
        return nResult;
    }
};

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

int lucflsh_CheckFiles(const DeviceUpdate *pUpdate)
{
    int nResult = 0;
    if (!pUpdate->noProgramming) {
        proto_LineFile image;
        if (!proto_OpenLineFile(&image, pUpdate->szImagePath)) {
            log_Write(__LINE__, kModule, "Error: the image %s cannot be opened", pUpdate->szImagePath);
            return FR_HEX_OPEN_FAILED;
        }
        nResult = checkFile(&image, pUpdate->szImagePath);
        proto_CloseLineFile(&image);
    }
    if (nResult == 0 && ((pUpdate->flags & FLF_FULL_FLASH) != 0 || pUpdate->flashMode == flsh_kFullFlash)) {
        proto_LineFile loader;
        nResult = openNewLoader(&loader, pUpdate);
        if (nResult == 0) proto_CloseLineFile(&loader);
    }
    return nResult;
}

int lucflsh_Flash(ProgressCallback pfnProgress, DeviceUpdate *pUpdate)
{
    // Only what this update's loader reports may let the image through, never an earlier pass's.
    pUpdate->szLoaderVersion[0] = '\0';
    LucentSession session;
    UrsPort &port = session.port;
    if (urs_OpenPort(&port, pUpdate->szPortPath) != URS_OK)
        return FR_PORT_OPEN_FAILED;
    log_Write(__LINE__, kModule, "<%s>  Opened\n", port.szName);

    // Both files are read through before the device hears anything, the factory-defaults restore
    // included: a bad file ends the update with the device as it was.
    const bool bFullFlash = (pUpdate->flags & FLF_FULL_FLASH) != 0 || pUpdate->flashMode == flsh_kFullFlash;
    if (!pUpdate->noProgramming) {
        if (!proto_OpenLineFile(&session.image, pUpdate->szImagePath)) {
            log_Write(__LINE__, kModule, "Error: the image %s cannot be opened", pUpdate->szImagePath);
            return session.refuse(FR_HEX_OPEN_FAILED);
        }
        log_Write(__LINE__, kModule, "<%s> File opened on handle %d\n", pUpdate->szImagePath, session.image.hFile);
        int nChecked = checkFile(&session.image, pUpdate->szImagePath);
        if (nChecked != 0)
            return session.refuse(nChecked);
    }
    if (bFullFlash) {
        int nChecked = openNewLoader(&session.loader, pUpdate);
        if (nChecked != 0)
            return session.refuse(nChecked);
    }

    // Families that download at 115200 baud do so whatever speed was asked for; the record then
    // tells the speed the update really ran at.
    if (pUpdate->flags & FLF_DOWNLOAD_115200)
        pUpdate->nSpeed = 115200;
    urs_SetUart(&port, static_cast<std::uint32_t>(pUpdate->nSpeed), 8, 0, 0, 0);

    if (pUpdate->restoreDefaults) {
        if (!pfnProgress(pUpdate, flsh_cRestoreDefaults, 0, 0))
            return session.refuse(FR_ABORTED);
        urs_PutString(&port, kRestoreDefaults);
        lucflsh_WaitOK(&port, kRestoreTimeout);
        urs_Sleep(1);
    }
    urs_Sleep(kSettleSeconds);

    const int nVariant = pUpdate->identity.nLucentVariant;
    int nResult = 0;
    // The value is 0 as with every chip protocol: the progress page reads it as the percentage.
    if (!pfnProgress(pUpdate, flsh_cProgramStart, 0, reinterpret_cast<std::intptr_t>(pUpdate->szImagePath)))
        return session.refuse(FR_ABORTED);
    if (pUpdate->flags & FLF_FULL_FLASH) {
        log_Write(__LINE__, kModule, "flsh_kFullFlash");
        pUpdate->flashMode = flsh_kFullFlash;
    }
    if (bFullFlash)
        nResult = sendNewLoader(&port, pUpdate, &session.loader, pfnProgress, nVariant);
    else
        nResult = startResidentLoader(&port, pUpdate, nVariant);
    if (nResult == 0 && !pUpdate->noProgramming) {
        if (!lucflsh_LoaderFitsType(pUpdate->szLoaderVersion, pUpdate->identity.lucent.nType)) {
            log_Write(__LINE__, kModule, "Error: loader version \"%s\" does not fit type code %d",
                      pUpdate->szLoaderVersion, pUpdate->identity.lucent.nType);
            nResult = FR_WRONG_VERSION;
        } else {
            log_Write(__LINE__, kModule, "Start the download of the file\n");
            nResult = lucflsh_SendFile(pUpdate, &port, &session.image, lucflsh_kImageFile, pUpdate->szLoaderVersion,
                                       pfnProgress, nVariant);
        }
    }

    proto_CloseLineFile(&session.image);
    proto_CloseLineFile(&session.loader);
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
