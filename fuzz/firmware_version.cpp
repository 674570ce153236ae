// Fuzz target: the firmware version readers: the version found in a device's answer text, a
// device's version and suffix read into a version record, and an image name's version text.
//
// Input: one byte of choices (bit 0: a Rockwell model's type, bit 1: an image prefix from the next
// two bytes), then the text; a NUL in the text separates the version from its suffix.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_catalogue.h"
#include "ravelin/catalogue/devicetype.h"
#include "ravelin/catalogue/firmwareversion.h"
#include "ravelin/ident/devid.h"

namespace {

void fail(const char *pszWhat)
{
    std::fprintf(stderr, "firmware_version: %s\n", pszWhat);
    std::abort();
}

void requireTerminated(const char *pszText, std::size_t nSize, const char *pszWhat)
{
    if (std::memchr(pszText, '\0', nSize) == nullptr)
        fail(pszWhat);
}

void checkRecord(const FirmwareVersion &version)
{
    requireTerminated(version.szText, sizeof version.szText, "version text not terminated within its capacity");
    if (version.cSuffix >= 'a' && version.cSuffix <= 'z')
        fail("a lower-case version suffix: suffixes compare upper-cased");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    fuzz::InstallCatalogue();
    if (nSize == 0)
        return 0;
    const std::uint8_t nChoice = pData[0];
    std::string rest(reinterpret_cast<const char *>(pData + 1), nSize - 1);

    DeviceType type;
    const DeviceType *pType = nullptr;
    if (nChoice & 1) {
        type.SetFromModel((nChoice & 4) ? "RW56-C-2" : "RW336-A");
        pType = &type;
    } else if (nChoice & 4) {
        type.SetFromModel("PL1400");
        pType = &type;
    }
    std::string prefix;
    if ((nChoice & 2) && rest.size() >= 2) {
        prefix = rest.substr(0, 2);
        rest.erase(0, 2);
    }
    const std::size_t nNul = rest.find('\0');
    const std::string text = rest.substr(0, nNul);
    const std::string suffix = nNul == std::string::npos ? std::string() : rest.substr(nNul + 1);

    // The answer is read from a buffer of devid_kAnswerLen bytes: never longer.
    const std::string answer = rest.substr(0, devid_kAnswerLen - 1);
    char szVersion[devid_kTextLen] = "";
    char szSuffix[devid_kTextLen] = "";
    int nFound = devid_GetVersion(szVersion, answer.c_str(), szSuffix);
    if (nFound != 0 && nFound != 1)
        fail("devid_GetVersion returned neither 0 nor 1");
    requireTerminated(szVersion, sizeof szVersion, "version not terminated within devid_kTextLen");
    requireTerminated(szSuffix, sizeof szSuffix, "suffix not terminated within devid_kTextLen");

    FirmwareVersion image;
    ParseFirmwareVersion(&image, text.c_str(), pType, prefix.empty() ? nullptr : prefix.c_str());
    checkRecord(image);

    FirmwareVersion device;
    char szPart2[fwv_kPartLen] = "x", szPart3[fwv_kPartLen] = "x";
    ParseDeviceVersion(&device, text.c_str(), suffix.c_str(), pType, szPart2, sizeof szPart2, szPart3,
                       sizeof szPart3);
    checkRecord(device);
    requireTerminated(szPart2, sizeof szPart2, "second version part not terminated");
    requireTerminated(szPart3, sizeof szPart3, "third version part not terminated");

    // What identification found, read as identification reads it.
    FirmwareVersion found;
    ParseDeviceVersion(&found, szVersion, szSuffix, pType, szPart2, sizeof szPart2, nullptr, 0);
    checkRecord(found);
    return 0;
}
