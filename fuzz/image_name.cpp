// Fuzz target: the image file name rules (model, country, version and name parts read from a name,
// and the test whether the image fits a device), and the Lucent/Agere image header rules over
// arbitrary header bytes, compared with arbitrary device flash facts.
//
// Input: one byte choosing the extension (HEX, USF, HXB) and the device, then the file name up to
// the first NUL; what follows the NUL is the image file's first bytes.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_catalogue.h"
#include "fuzz/fuzz_scratch.h"
#include "ravelin/flash/flashinfo.h"
#include "ravelin/flash/flsh_lucent_image.h"

namespace {

void fail(const char *pszWhat)
{
    std::fprintf(stderr, "image_name: %s\n", pszWhat);
    std::abort();
}

void requireTerminated(const char *pszText, std::size_t nSize, const char *pszWhat)
{
    if (std::memchr(pszText, '\0', nSize) == nullptr)
        fail(pszWhat);
}

void checkName(const std::string &name, const char *pszExtension, std::uint8_t nChoice)
{
    ImageEntry entry;
    int nAccepted = flsh_ReadImageName(name.c_str(), pszExtension, &entry);
    if (nAccepted != 0 && nAccepted != 1)
        fail("flsh_ReadImageName returned neither 0 nor 1");
    requireTerminated(entry.szFileName, sizeof entry.szFileName, "file name not terminated");
    requireTerminated(entry.szVersionText, sizeof entry.szVersionText, "version text not terminated");
    requireTerminated(entry.szPart1, sizeof entry.szPart1, "name part 1 not terminated");
    requireTerminated(entry.szPart2, sizeof entry.szPart2, "name part 2 not terminated");
    requireTerminated(entry.szCountryCode, sizeof entry.szCountryCode, "country code not terminated");
    if (nAccepted == 1) {
        if (entry.type.nModelId == 0)
            fail("an accepted name names no model");
        if (std::strlen(entry.szCountryCode) != 2)
            fail("an accepted name without a two-letter country");
        // The pages show the name upper-cased; a cut name must be the start of it.
        std::string upper = name.substr(0, os_kPathLen - 1);
        for (char &ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (upper != entry.szFileName)
            fail("the shown name is not the upper-cased file name");

        // The fit test against a device of each kind the catalogue holds, with and without a lock.
        static const char *const apszModels[] = {"PL1400", "TL128", "LX56", "RW336-A", "MC75"};
        for (const char *pszModel : apszModels) {
            DeviceType device;
            device.SetFromModel(pszModel);
            (void)cat_ImageFits(entry.type, entry.version.nMajor, device);
            device.SetLock(nChoice & 3);
            bool bFits = cat_ImageFits(entry.type, entry.version.nMajor, device);
            if (bFits && device.nModelId != entry.type.nModelId)
                fail("an image fits a device of another model");
        }
    }

    // An image given by its path takes the model it is given.
    UpdateRun run;
    DeviceType model;
    model.SetFromModel("PL1400");
    std::string path = "/images/" + name;
    if (flsh_RunAddImage(&run, path.c_str(), model) != 1)
        fail("flsh_RunAddImage did not add exactly one image");
    const ImageEntry &added = run.images.front();
    requireTerminated(added.szPath, sizeof added.szPath, "added image path not terminated");
    if (added.type.nModelId != model.nModelId)
        fail("an added image lost the model it was given");
}

void checkHeader(const std::uint8_t *pData, std::size_t nSize, std::uint8_t nChoice)
{
    LucentImageHeader header;
    int nRead = flsh_ParseLucentImageHeader(reinterpret_cast<const char *>(pData), static_cast<int>(nSize), &header);
    if (nRead != (nSize >= static_cast<std::size_t>(flsh_kLucentHeaderLen) ? 1 : 0))
        fail("header read from too few characters, or refused from enough");
    if (header.nType < 0 || header.nType > 5)
        fail("header type outside 0..5");

    // The same bytes as an image file.
    const std::string path = fuzz::WriteScratch("image.hex", pData, nSize);
    LucentImageHeader fromFile;
    int nFile = flsh_ReadLucentImageHeader(path.c_str(), &fromFile);
    if (nFile != (nRead ? 0 : FR_BAD_HEX))
        fail("the file's header reads differently from its bytes");
    if (nRead && (fromFile.nType != header.nType || fromFile.nSectorSize != header.nSectorSize ||
                  fromFile.nVersion != header.nVersion))
        fail("the file's header differs from the header of its bytes");

    // Device facts as identification leaves them, including "never read".
    static const int anSectors[] = {-1, 0, 16, 64};
    LucentFlashInfo device;
    device.nSectorSize = anSectors[(nChoice >> 2) & 3];
    device.nType = device.nSectorSize == -1 ? -1 : (nChoice >> 4) % 6;
    device.nFlashVersion = nSize >= 2 ? static_cast<std::uint16_t>(pData[0] << 8 | pData[1]) : 0;
    for (int nStatus : {0, 9, 10}) {
        int nMode = flsh_FlashModeForStatus(nStatus);
        int nResult = flsh_CheckLucentImage(path.c_str(), &device, &nMode);
        if (nMode < flsh_kNormalFlash || nMode > flsh_kFullFlash)
            fail("flash mode outside 0..2");
        if (nResult == 0 && !nRead)
            fail("a short image passed the header check");
        if (nResult == 0 && device.nType != -1 && device.nType != header.nType)
            fail("an image of another type passed the header check");
        if (nResult == 0 && device.nSectorSize > 0 && header.nSectorSize != 0 &&
            device.nSectorSize != header.nSectorSize)
            fail("an image of another sector size passed the header check");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    fuzz::InstallCatalogue();
    if (nSize == 0)
        return 0;
    static const char *const apszExtensions[] = {flsh_kHexExtension, flsh_kUsfExtension, flsh_kBootExtension,
                                                 flsh_kHexExtension};
    const std::uint8_t nChoice = pData[0];
    const char *pszBytes = reinterpret_cast<const char *>(pData + 1);
    const std::size_t nRest = nSize - 1;
    const char *pszNul = static_cast<const char *>(std::memchr(pszBytes, '\0', nRest));
    const std::size_t nName = pszNul != nullptr ? static_cast<std::size_t>(pszNul - pszBytes) : nRest;
    checkName(std::string(pszBytes, nName), apszExtensions[nChoice >> 6], nChoice);
    if (pszNul != nullptr)
        checkHeader(pData + 1 + nName + 1, nRest - nName - 1, nChoice);
    return 0;
}
