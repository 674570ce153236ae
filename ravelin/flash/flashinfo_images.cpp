// The run's image list: reading image file names (model, country, version and further name parts)
// and scanning a directory for them.
#include <cctype>
#include <cstring>
#include <string>

#include "ravelin/flash/flashinfo.h"
#include "ravelin/support/log.h"

namespace {

const char kModule[] = "flashinfo";

std::string upperCase(const char *pszText)
{
    std::string text = pszText;
    for (char &ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return text;
}

// The version text of a base name; false when the name is refused.
bool versionTextOf(const std::string &base, const std::string &extension, std::string *pText)
{
    if (base.size() < 9 || extension != flsh_kHexExtension) {
        *pText = base.substr(4);
        return true;
    }
    std::string::size_type nDash = base.find('-');
    if (nDash != std::string::npos) {
        *pText = nDash > 4 ? base.substr(4, nDash - 4) : std::string();
        return true;
    }
    if (base[4] != '_') return false;
    *pText = "_" + base.substr(5);
    return true;
}

std::string joinPath(const char *pszDir, const char *pszName)
{
    std::string path = pszDir != nullptr ? pszDir : "";
    if (!path.empty() && path.back() != '/') path += '/';
    return path + pszName;
}

} // namespace

int flsh_ReadImageName(const char *pszName, const char *pszExtension, ImageEntry *pEntry)
{
    if (pszName == nullptr || pszExtension == nullptr) return 0;
    std::string name = upperCase(pszName);
    std::string extension = upperCase(pszExtension);
    std::string::size_type nDot = name.find('.');
    if (nDot == std::string::npos || name.substr(nDot) != "." + extension) return 0;
    std::string base = name.substr(0, nDot);
    if (base.size() < 5 || !std::isalpha(static_cast<unsigned char>(base[3]))) return 0;

    std::string text;
    if (!versionTextOf(base, extension, &text)) return 0;

    ImageEntry entry;
    std::string modelCode = base.substr(0, 2), countryCode = base.substr(2, 2);
    if (!entry.country.SetFromFileCode(countryCode.c_str())) return 0;
    if (!entry.type.SetFromPrefix(modelCode.c_str())) return 0;

    std::string::size_type nDash = base.find('-');
    if (nDash != std::string::npos) {
        std::string rest = base.substr(nDash + 1);
        std::string::size_type nSecond = rest.find('-');
        if (nSecond == std::string::npos) return 0;
        os_CopyBounded(entry.szPart1, rest.substr(0, nSecond).c_str(), flsh_kNamePartLen);
        os_CopyBounded(entry.szPart2, rest.substr(nSecond + 1).c_str(), flsh_kNamePartLen);
    }

    ParseFirmwareVersion(&entry.version, text.c_str(), &entry.type, modelCode.c_str());
    entry.type.SetLock(entry.version.nMajor);
    os_CopyBounded(entry.szVersionText, text.c_str(), fwv_kTextLen);
    os_CopyBounded(entry.szCountryCode, countryCode.c_str(), flsh_kCountryFileCodeLen);
    os_CopyBounded(entry.szFileName, name.c_str(), os_kPathLen);
    entry.bSelected = pEntry->bSelected;
    os_CopyBounded(entry.szPath, pEntry->szPath, os_kPathLen);
    *pEntry = entry;
    return 1;
}

void flsh_RunSetImageDir(UpdateRun *pRun, const char *pszDir)
{
    os_CopyBounded(pRun->szImageDir, pszDir != nullptr ? pszDir : "", os_kPathLen);
}

int flsh_RunAddImage(UpdateRun *pRun, const char *pszPath, const DeviceType &model)
{
    ImageEntry entry;
    const char *pszPathText = pszPath != nullptr ? pszPath : "";
    const char *pszSlash = std::strrchr(pszPathText, '/');
    const char *pszName = pszSlash != nullptr ? pszSlash + 1 : pszPathText;
    const char *pszDot = std::strchr(pszName, '.');
    // The name parts and version when the name follows the rules; the model is the one given.
    if (pszDot != nullptr) flsh_ReadImageName(pszName, pszDot + 1, &entry);
    if (entry.szFileName[0] == '\0') os_CopyBounded(entry.szFileName, upperCase(pszName).c_str(), os_kPathLen);
    int nLock = entry.version.nMajor;
    entry.type = model;
    if (nLock != 0) entry.type.SetLock(nLock);
    os_CopyBounded(entry.szPath, pszPathText, os_kPathLen);
    entry.bSelected = 1;
    pRun->images.push_back(entry);
    return static_cast<int>(pRun->images.size());
}

namespace {

void scanExtension(UpdateRun *pRun, const char *pszExtension)
{
    std::string pattern = std::string("*.") + pszExtension;
    osfl_FindState state{};
    // The search's directory "" is the current directory.
    if (!osfl_FindFirst(pRun->szImageDir, pattern.c_str(), &state)) return;
    do {
        if (osfl_FoundAttributes(&state) & osfl_kAttrDirectory) continue;
        char szName[os_kPathLen];
        osfl_FoundName(&state, szName, os_kPathLen);
        std::string path = joinPath(pRun->szImageDir, szName);
        if (path.size() >= static_cast<std::size_t>(os_kPathLen)) {
            log_Write(__LINE__, kModule, "image %s left out: its path is too long", szName);
            continue;
        }
        ImageEntry entry;
        if (!flsh_ReadImageName(szName, pszExtension, &entry)) continue;
        os_CopyBounded(entry.szPath, path.c_str(), os_kPathLen);
        entry.bSelected = 0;
        pRun->images.push_back(entry);
    } while (osfl_FindNext(&state));
    osfl_FindClose(&state);
}

} // namespace

int flsh_RunScanImages(UpdateRun *pRun, int bBootCode)
{
    if (bBootCode) {
        scanExtension(pRun, flsh_kBootExtension);
    } else {
        scanExtension(pRun, flsh_kHexExtension);
        scanExtension(pRun, flsh_kUsfExtension);
    }
    return static_cast<int>(pRun->images.size());
}
