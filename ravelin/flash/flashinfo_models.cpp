// The run's models and choices: post-processing of identification, the model list, models without
// images, selections, the after-flash choice, the plan of an unattended run, and starting the updates.
#include <cctype>
#include <cstring>
#include <string>

#include "ravelin/flash/flashinfo_internal.h"
#include "ravelin/flash/flsh_lucent_image.h"
#include "ravelin/support/log.h"

namespace {

const char kModule[] = "flashinfo";

constexpr std::uint32_t kFlashStack = 18000;

// Model texts that name no model: a device in its boot loader, and a multi-port card that answers
// with its port map. Both are programmed at a fixed speed as the model given here.
struct FixedSpeedModel {
    const char *pszAnswer;
    const char *pszModel;
};
const FixedSpeedModel kFixedSpeedModels[] = {
    {"BOOTCODE", "OctaA"},
    {"100 000 000 000 000 000 000 000", "KX-A1"},
};

// The identification name of the country that images for every country carry.
const char kNoCountrySetting[] = "UNIVERSAL";

std::string trimmed(const char *pszText)
{
    char szCopy[devid_kTextLen];
    os_CopyTrimmed(szCopy, pszText, devid_kTextLen);
    return szCopy;
}

// The catalogue's spelling of a type's model ("OctaA", where the type holds "OCTAA").
const char *catalogueName(const DeviceType &type)
{
    const ModelEntry *pEntry = cat_FindEntryByName(type.szName);
    return pEntry != nullptr ? pEntry->szName : type.szName;
}

void postProcessDevice(RunDevice *pDevice, int nStatus, int bDetectionFlag)
{
    DeviceIdentity &identity = pDevice->pUpdate->identity;

    std::string country = trimmed(identity.szCountry);
    // A device without a country setting (the Siemens module tells none) takes the images built
    // for every country; otherwise no image could ever be planned for it.
    if (country.empty()) country = kNoCountrySetting;
    CountryCode code;
    if (code.SetFromName(country.c_str())) {
        pDevice->country = code;
        pDevice->bCountryKnown = 1;
        os_CopyBounded(identity.szCountry, code.DisplayName(), devid_kTextLen);
    } else {
        // An unknown answer stays unknown: the default code would pass the device off as Finnish.
        pDevice->country = CountryCode(-1);
        pDevice->bCountryKnown = 0;
    }
    pDevice->oem.SetFromName(trimmed(identity.szSpecialBuild).c_str());

    std::string model = trimmed(identity.szModel);
    pDevice->bFixedSpeed = bDetectionFlag ? 1 : 0;
    for (const FixedSpeedModel &fixed : kFixedSpeedModels) {
        if (os_CompareNoCase(model.c_str(), fixed.pszAnswer) == 0) {
            model = fixed.pszModel;
            pDevice->bFixedSpeed = 1;
        }
    }
    pDevice->type.SetFromModel(model.c_str());
    os_CopyBounded(pDevice->szModel, pDevice->type.szName[0] != '\0' ? catalogueName(pDevice->type) : model.c_str(),
                   cat_kNameLen);
    pDevice->flags = pDevice->type.Flags();
    ParseDeviceVersion(&pDevice->version, identity.szVersion, identity.szVersionSuffix, &pDevice->type,
                       pDevice->szVersionPart2, fwv_kPartLen, pDevice->szVersionPart3, fwv_kPartLen);
    pDevice->type.SetLock(pDevice->version.nMajor);
    pDevice->pUpdate->flashMode = flsh_FlashModeForStatus(nStatus);
}

bool imageFits(const ImageEntry &image, const DeviceType &type)
{
    return type.nModelId != 0 && cat_ImageFits(image.type, image.version.nMajor, type);
}

void appendText(char *pszText, int nCapacity, const std::string &text)
{
    if (pszText == nullptr || nCapacity <= 0) return;
    std::size_t nUsed = std::strlen(pszText);
    if (nUsed + 1 >= static_cast<std::size_t>(nCapacity)) return;
    os_CopyBounded(pszText + nUsed, text.c_str(), nCapacity - static_cast<int>(nUsed));
}

} // namespace

int flsh_RunPostProcess(UpdateRun *pRun, int bDetectionFlag)
{
    for (std::size_t i = 0; i < pRun->devices.size();) {
        RunDevice *pDevice = pRun->devices[i].get();
        int nStatus = flsh_LoadResult(pDevice->pUpdate);
        bool bRunning = pDevice->pShared->bThreadRunning.load();
        if (bRunning || !devid_IsIdentified(nStatus)) {
            log_Write(__LINE__, kModule, "<%s> left out: %s %d", flsh_PortDisplayName(pDevice->pUpdate),
                      bRunning ? "still identifying, status" : "identification status", nStatus);
            flsh_RunRemoveDevice(pRun, static_cast<int>(i));
            continue;
        }
        postProcessDevice(pDevice, nStatus, bDetectionFlag);
        ++i;
    }
    return static_cast<int>(pRun->devices.size());
}

int flsh_RunBuildModelList(UpdateRun *pRun)
{
    pRun->models.clear();
    for (const auto &pDevice : pRun->devices) {
        if (pDevice->type.nModelId == 0) continue;
        if (cat_CountDuplicate(pRun->models, pDevice->type)) continue;
        DeviceType model = pDevice->type;
        model.nCount = 1;
        model.bSelected = false;
        model.bHasImage = false;
        pRun->models.push_back(model);
    }
    return static_cast<int>(pRun->models.size());
}

int flsh_RunCountImages(const UpdateRun *pRun, const DeviceType &model)
{
    int nCount = 0;
    for (const ImageEntry &image : pRun->images)
        if (imageFits(image, model)) ++nCount;
    return nCount;
}

int flsh_RunDropModelsWithoutImages(UpdateRun *pRun, char *pszText, int nCapacity)
{
    int nDropped = 0;
    for (std::size_t i = 0; i < pRun->models.size();) {
        const DeviceType &model = pRun->models[i];
        if (flsh_RunCountImages(pRun, model) > 0) {
            ++i;
            continue;
        }
        std::string name = catalogueName(model);
        if (model.Flags() & FLF_ROCKWELL) name = name.substr(0, name.find('-'));
        appendText(pszText, nCapacity, name + " ");
        pRun->models.erase(pRun->models.begin() + static_cast<std::ptrdiff_t>(i));
        ++nDropped;
    }
    return nDropped;
}

void flsh_NoHexFilesMessage(const char *pszDropped, char *pszMessage, int nCapacity)
{
    std::vector<std::string> names;
    std::string text = pszDropped != nullptr ? pszDropped : "";
    std::string::size_type nStart = 0;
    while (nStart < text.size()) {
        std::string::size_type nBlank = text.find(' ', nStart);
        if (nBlank == std::string::npos) nBlank = text.size();
        if (nBlank > nStart) names.push_back(text.substr(nStart, nBlank - nStart));
        nStart = nBlank + 1;
    }
    std::string message;
    if (names.size() == 1) {
        message = "No .hex files found for " + names[0] + ".";
    } else if (names.size() == 2) {
        message = "No .hex files found for " + names[0] + " and " + names[1] + ".";
    } else if (names.size() > 2) {
        message = "No .hex files found for " + names[0];
        for (std::size_t i = 1; i + 1 < names.size(); ++i) message += ", " + names[i];
        message += ", and " + names.back() + ".";
    }
    os_CopyBounded(pszMessage, message.c_str(), nCapacity);
}

void flsh_RunClearChoices(UpdateRun *pRun)
{
    for (auto &pDevice : pRun->devices) pDevice->bSelected = 0;
    for (DeviceType &model : pRun->models) {
        model.bSelected = false;
        model.bHasImage = false;
    }
    for (ImageEntry &image : pRun->images) image.bSelected = 0;
}

void flsh_RunApplyChoices(UpdateRun *pRun)
{
    for (auto &pDevice : pRun->devices) {
        pDevice->bSelected = 0;
        for (const DeviceType &model : pRun->models)
            if (model.bHasImage && model == pDevice->type) pDevice->bSelected = 1;
    }
    for (ImageEntry &image : pRun->images) {
        image.bSelected = 0;
        for (const DeviceType &model : pRun->models)
            if (model.bHasImage && imageFits(image, model)) image.bSelected = 1;
    }
}

void flsh_RunAssignImage(UpdateRun *pRun, int nDevice, int nImage)
{
    if (nDevice < 0 || nDevice >= static_cast<int>(pRun->devices.size())) return;
    if (nImage < 0 || nImage >= static_cast<int>(pRun->images.size())) return;
    RunDevice *pDevice = pRun->devices[static_cast<std::size_t>(nDevice)].get();
    ImageEntry &image = pRun->images[static_cast<std::size_t>(nImage)];
    os_CopyBounded(pDevice->szImagePath, image.szPath, os_kPathLen);
    pDevice->nImage = nImage;
    pDevice->bSelected = 1;
    image.bSelected = 1;
}

int flsh_AfterFlashChoice(const std::vector<int> &combined, int nDeviceMajor, int nImageMajor)
{
    if (combined.empty()) return 0;
    auto inCombined = [&combined](int n) {
        for (int c : combined)
            if (c == n) return true;
        return false;
    };
    bool bDevice = inCombined(nDeviceMajor), bImage = inCombined(nImageMajor);
    if (!bDevice) return bImage ? 1 : 0;
    if (!bImage) return 0;
    return nDeviceMajor == nImageMajor ? 0 : 2;
}

int flsh_RunStartUpdates(UpdateRun *pRun, int bBootCode, int bFullFlash, int bAfterFlashCheck, int bRestoreDefaults,
                         flsh_DeviceThreadBody pfnFlash)
{
    int nStarted = 0;
    for (auto &pDevicePtr : pRun->devices) {
        RunDevice *pDevice = pDevicePtr.get();
        if (!pDevice->bSelected) continue;
        DeviceUpdate *pUpdate = pDevice->pUpdate;
        const ImageEntry *pImage = pDevice->nImage >= 0 && pDevice->nImage < static_cast<int>(pRun->images.size())
                                       ? &pRun->images[static_cast<std::size_t>(pDevice->nImage)]
                                       : nullptr;
        if (bAfterFlashCheck)
            pDevice->nAfterFlash = 1;
        else
            pDevice->nAfterFlash = flsh_AfterFlashChoice(pDevice->type.combined, pDevice->version.nMajor,
                                                         pImage != nullptr ? pImage->version.nMajor : 0);

        int nFlashMode = pUpdate->flashMode;
        int nRefused = 0;
        if (bFullFlash)
            nFlashMode = flsh_kFullFlash;
        else if (pDevice->flags & FLF_LUCENT)
            nRefused = flsh_CheckLucentImage(pDevice->szImagePath, &pUpdate->identity.lucent, &nFlashMode);
        if (nRefused != 0) {
            log_Write(__LINE__, kModule, "<%s> not updated: the image does not suit the device (%d)",
                      flsh_PortDisplayName(pUpdate), nRefused);
            pUpdate->nResult = nRefused;
            continue;
        }

        flsh_ResetProgress(pUpdate);
        os_LockMutex(pUpdate->hLock);
        pUpdate->nLastStatus = 0;
        pUpdate->nLastValue = 0;
        os_CopyBounded(pUpdate->szShortCode, "     ", flsh_kShortCodeLen);
        os_CopyBounded(pUpdate->szStatusText, "     ", flsh_kStatusTextLen);
        os_UnlockMutex(pUpdate->hLock);
        os_CopyBounded(pUpdate->szImagePath, pDevice->szImagePath, os_kPathLen);
        pUpdate->flags = pDevice->flags;
        pUpdate->noProgramming = 0;
        pUpdate->keepBootSector = bBootCode ? 0 : 1;
        pUpdate->fixedSpeed = pDevice->bFixedSpeed;
        pUpdate->flashMode = nFlashMode;
        pUpdate->afterFlash = pDevice->nAfterFlash;
        pUpdate->restoreDefaults = bRestoreDefaults ? 1 : 0;
        pUpdate->nResult = FR_NONE;
        if (flsh_RunStartDeviceThread(pRun, pDevice, pfnFlash, kFlashStack, FR_THREAD_FAILED, "flash"))
            ++nStarted;
        else
            log_Write(__LINE__, kModule, "<%s> not updated: %s", flsh_PortDisplayName(pUpdate),
                      flsh_ResultText(FR_THREAD_FAILED));
    }
    return nStarted;
}

int flsh_CompareVersions(const FirmwareVersion &a, const FirmwareVersion &b)
{
    if (a.nMajor != b.nMajor) return a.nMajor < b.nMajor ? -1 : 1;
    if (a.nMinor != b.nMinor) return a.nMinor < b.nMinor ? -1 : 1;
    if (a.cSuffix != b.cSuffix) return a.cSuffix < b.cSuffix ? -1 : 1;
    return 0;
}

int flsh_RunPlanImage(const UpdateRun *pRun, int nDevice, char *pszReason, int nCapacity)
{
    if (pszReason != nullptr && nCapacity > 0) pszReason[0] = '\0';
    if (nDevice < 0 || nDevice >= static_cast<int>(pRun->devices.size())) return -1;
    const RunDevice &device = *pRun->devices[static_cast<std::size_t>(nDevice)];
    int nBest = -1;
    bool bAnyFit = false;
    for (std::size_t i = 0; i < pRun->images.size(); ++i) {
        const ImageEntry &image = pRun->images[i];
        if (!imageFits(image, device.type)) continue;
        bAnyFit = true;
        if (!device.bCountryKnown || image.country != device.country) continue;
        if (nBest < 0 || flsh_CompareVersions(image.version, pRun->images[static_cast<std::size_t>(nBest)].version) > 0)
            nBest = static_cast<int>(i);
    }
    if (nBest >= 0) return nBest;
    std::string reason;
    if (!bAnyFit)
        reason = std::string("no image for model ") + device.szModel;
    else
        reason = std::string("no image for country ") + trimmed(device.pUpdate->identity.szCountry);
    if (pszReason != nullptr) os_CopyBounded(pszReason, reason.c_str(), nCapacity);
    return -1;
}
