// Device types: a model paired with a firmware lock, and the rules that match images to devices.

#include "ravelin/catalogue/devicetype.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "ravelin/catalogue/cattext.h"

bool DeviceType::SetFromModel(const char* pszModel)
{
    const ModelEntry* pEntry = cat_FindEntryByName(pszModel);
    if (!pEntry) {
        szName[0] = '\0';
        return false;
    }
    nModelId = pEntry->nModelId;
    locks = pEntry->locks;
    combined = pEntry->combined;
    cattext::CopyBounded(szName, cattext::ToUpper(pszModel), cat_kNameLen);
    return true;
}

bool DeviceType::SetFromPrefix(const char* pszPrefix)
{
    const ModelEntry* pEntry = cat_FindEntryByPrefix(pszPrefix);
    if (!pEntry)
        return false;
    nModelId = pEntry->nModelId;
    cattext::CopyBounded(szName, pEntry->szName, cat_kNameLen);
    locks = pEntry->locks;
    return true;
}

void DeviceType::SetLock(int n)
{
    for (const LockEntry& lock : locks) {
        if (lock.nLock == n) {
            nLock = n;
            upgrades = lock.upgrades;
            return;
        }
    }
    nLock = -1;
    upgrades.clear();
}

bool DeviceType::operator==(const DeviceType& other) const
{
    return nModelId != 0 && nModelId == other.nModelId && nLock == other.nLock;
}

bool DeviceType::IsUnrelated(const DeviceType& other) const
{
    return nModelId != 0 && nModelId != other.nModelId && nLock != other.nLock;
}

bool DeviceType::AcceptsUpgrade(int n) const
{
    return std::find(upgrades.begin(), upgrades.end(), n) != upgrades.end();
}

std::uint32_t DeviceType::Flags() const { return cat_FlagsForId(nModelId); }

void DeviceType::DisplayText(char* pszText, int nTextSize) const
{
    std::string text;
    if (Flags() & FLF_ROCKWELL) {
        // Rockwell model names end in a build part after their last dash that the user need not see.
        text = szName;
        const std::string::size_type dash = text.rfind('-');
        if (dash != std::string::npos)
            text.erase(dash);
    } else if (nLock == -1) {
        text = szName;
    } else {
        char szBuffer[cat_kNameLen + 32];
        std::snprintf(szBuffer, sizeof szBuffer, "%s - Version %d.xx", szName, nLock);
        text = szBuffer;
    }
    if (text == "MC75")
        text = "Siemens MC75";
    cattext::CopyBounded(pszText, text, nTextSize);
}

bool cat_ImageFits(const DeviceType& image, int nImageVersion, const DeviceType& device)
{
    if (device.nLock == -1 && image.nModelId == device.nModelId)
        return true;
    if (image == device)
        return true;
    return image.nModelId == device.nModelId && device.AcceptsUpgrade(nImageVersion);
}

bool cat_CountDuplicate(std::vector<DeviceType>& list, const DeviceType& type)
{
    for (DeviceType& t : list) {
        if (t == type) {
            ++t.nCount;
            return true;
        }
    }
    return false;
}

bool cat_MarkSelected(std::vector<DeviceType>& list, const DeviceType& type)
{
    for (DeviceType& t : list) {
        if (t == type) {
            t.bSelected = true;
            return true;
        }
    }
    return false;
}

int cat_MarkImagesPresent(std::vector<DeviceType>& list, const DeviceType& type)
{
    int nMarked = 0;
    for (DeviceType& t : list) {
        if (t == type) {
            t.bHasImage = true;
            ++nMarked;
        }
    }
    return nMarked;
}

DeviceType* cat_FindNextUnselected(std::vector<DeviceType>& list)
{
    for (DeviceType& t : list)
        if (t.bHasImage && !t.bSelected)
            return &t;
    return nullptr;
}

bool OemVariant::SetFromName(const char* pszName)
{
    const std::string upper = cattext::ToUpper(pszName);
    if (upper.empty()) {
        nValue = 0;
        return true;
    }
    static const char* const kNames[] = {"COMPAQ 1", "COMPAQ 2", "COMPAQ 3", "COMPAQ 4", "COMPAQ 5"};
    for (int i = 0; i < 5; ++i) {
        if (upper == kNames[i]) {
            nValue = i + 1;
            return true;
        }
    }
    return false;
}
