#include "ravelin/wizard/flash_ini.h"

#include <cstdio>

#include "ravelin/support/ospfl.h"
#include "ravelin/support/oswin32.h"
#include "ravelin/support/pfl.h"

std::string wiz_FlashIniPath()
{
    // Found as the catalogues are, without regard to case (a FLASH.INI copied from another system);
    // when there is none, the path names the file by its own name, where it is made.
    char szPath[os_kPathLen] = "";
    os_FindBesideExe("Flash.ini", szPath, sizeof szPath);
    return szPath;
}

FlashIniSettings wiz_ReadFlashIni(const std::string &path)
{
    const char *pszPath = path.c_str();
    FlashIniSettings settings;
    char szValue[pfl_kValueLen] = "";
    os_GetPPS(wiz_kFlashIniSection, "Baud Rate", "115200", szValue, sizeof szValue, pszPath);
    settings.speed = szValue;
    os_GetPPS(wiz_kFlashIniSection, "Model", "KX-TA1", szValue, sizeof szValue, pszPath);
    settings.model = szValue;
    int nPorts = os_GetPPint(wiz_kFlashIniSection, "NumPorts", 1, pszPath);
    for (int n = 1; n <= nPorts; ++n) {
        char szEntry[pfl_kEntryLen];
        std::snprintf(szEntry, sizeof szEntry, "Port%d", n);
        os_GetPPS(wiz_kFlashIniSection, szEntry, "COM1", szValue, sizeof szValue, pszPath);
        settings.ports.emplace_back(szValue);
    }
    os_GetPPS(wiz_kFlashIniSection, "HexFile", "", szValue, sizeof szValue, pszPath);
    settings.hexFile = szValue;
    os_FreeReadProfile(pszPath);
    return settings;
}

bool wiz_WriteFlashIni(const std::string &path, bool bBootCode, int nSpeed, const std::string &model,
                       const std::string &hexFile, const std::vector<std::string> &ports, std::string *pError)
{
    const char *pszPath = path.c_str();
    bool bWritten = true;
    auto write = [&](const char *pszEntry, const char *pszValue) {
        if (os_WritePPS(wiz_kFlashIniSection, pszEntry, pszValue, pszPath) < 0) bWritten = false;
    };
    char szNumber[16];
    write("BootCode", bBootCode ? "1" : "0");
    std::snprintf(szNumber, sizeof szNumber, "%d", nSpeed);
    write("Baud Rate", szNumber);
    write("Model", model.c_str());
    write("HexFile", hexFile.c_str());
    std::snprintf(szNumber, sizeof szNumber, "%d", static_cast<int>(ports.size()));
    write("NumPorts", szNumber);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        char szEntry[pfl_kEntryLen];
        std::snprintf(szEntry, sizeof szEntry, "Port%d", static_cast<int>(i + 1));
        write(szEntry, ports[i].c_str());
    }
    os_FreeReadProfile(pszPath);
    if (!bWritten && pError != nullptr) {
        char szText[os_kPathLen * 2 + 200];
        osfl_DescribeWriteFailure(pszPath, 0, szText, sizeof szText);
        *pError = szText;
    }
    return bWritten;
}
