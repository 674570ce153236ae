// The Lucent/Agere image header and its comparison with the device's flash facts.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ravelin/flash/flsh_lucent_image.h"

namespace {

// 75 characters of image text with characters 65-72 given (the rest does not matter to the header).
std::string headerText(const char *psz65to72)
{
    std::string text(75, '0');
    text.replace(65, 8, psz65to72);
    return text;
}

struct HeaderCase {
    const char *psz65to72;
    int nType;
    int nSectorSize;
    unsigned nVersion;
};

TEST(LucentImageHeader, TypeSectorSizeAndVersionFromFixedCharacters)
{
    const HeaderCase cases[] = {
        {"3412" "F000", 5, 0, 0},        // "F" at 69: no header at all
        {"3412" "4340", 0, 64, 0x1234},  // "C", sector code 40: version from 67,68,65,66
        {"cdab" "4910", 1, 16, 0xABCD},  // lower-case version digits read as their upper-case twins
        {"3412" "5300", 2, 0, 0},        // sector size 0: no version
        {"0000" "5540", 3, 64, 0},
        {"0100" "5040", 4, 64, 0x0001},
        {"0100" "9940", 5, 64, 0x0001},  // an unknown type letter
    };
    for (const HeaderCase &c : cases) {
        std::string text = headerText(c.psz65to72);
        LucentImageHeader header;
        ASSERT_EQ(1, flsh_ParseLucentImageHeader(text.data(), static_cast<int>(text.size()), &header));
        EXPECT_EQ(c.nType, header.nType) << c.psz65to72;
        EXPECT_EQ(c.nSectorSize, header.nSectorSize) << c.psz65to72;
        EXPECT_EQ(c.nVersion, header.nVersion) << c.psz65to72;
    }
    LucentImageHeader header;
    EXPECT_EQ(0, flsh_ParseLucentImageHeader("short", 5, &header));
}

struct CompareCase {
    int nImageSector, nImageType;
    unsigned nImageVersion;
    int nDeviceSector, nDeviceType;
    unsigned nDeviceVersion;
    int nModeBefore;
    int nResult;
    int nModeAfter;
};

TEST(LucentImageHeader, ComparisonWithTheDeviceInItsOrder)
{
    const CompareCase cases[] = {
        // Device facts never read: refused, unless a headerless image meets a running loader.
        {64, 0, 1, -1, -1, 0, 0, FR_PORT_OPEN_FAILED, 0},
        {0, 5, 0, -1, -1, 0, 1, 0, 2},
        {0, 5, 0, -1, -1, 0, 0, FR_PORT_OPEN_FAILED, 0},
        // Sector sizes before types.
        {64, 1, 1, 16, 0, 1, 0, FR_SECTOR_SIZES, 0},
        {64, 1, 1, 64, 0, 1, 0, FR_TYPES, 0},
        {0, 1, 0, 64, 0, 1, 0, FR_TYPES, 0},
        // Same part: another version needs the full flash; the same version keeps the mode.
        {64, 2, 7, 64, 2, 8, 0, 0, 2},
        {64, 2, 7, 64, 2, 7, 0, 0, 0},
        {64, 2, 7, 64, 2, 7, 1, 0, 1},
        // A sector size of 0 on either side turns a running loader's mode into the full flash.
        {0, 2, 0, 64, 2, 7, 1, 0, 2},
        {64, 2, 7, 0, 2, 7, 1, 0, 2},
        {0, 2, 0, 64, 2, 7, 0, 0, 0},
    };
    for (const CompareCase &c : cases) {
        LucentImageHeader image;
        image.nSectorSize = c.nImageSector;
        image.nType = c.nImageType;
        image.nVersion = static_cast<std::uint16_t>(c.nImageVersion);
        LucentFlashInfo device;
        device.nSectorSize = c.nDeviceSector;
        device.nType = c.nDeviceType;
        device.nFlashVersion = static_cast<std::uint16_t>(c.nDeviceVersion);
        int nMode = c.nModeBefore;
        SCOPED_TRACE(testing::Message() << "image " << c.nImageSector << "/" << c.nImageType << " device "
                                        << c.nDeviceSector << "/" << c.nDeviceType << " mode " << c.nModeBefore);
        EXPECT_EQ(c.nResult, flsh_CompareLucentImage(&image, &device, &nMode));
        EXPECT_EQ(c.nModeAfter, nMode);
    }
}

TEST(LucentImageHeader, FlashModeFromIdentificationStatus)
{
    EXPECT_EQ(flsh_kGoFlash, flsh_FlashModeForStatus(9));
    EXPECT_EQ(flsh_kFullFlash, flsh_FlashModeForStatus(10));
    for (int nStatus : {0, 1, 8, 11, -1})
        EXPECT_EQ(flsh_kNormalFlash, flsh_FlashModeForStatus(nStatus));
}

TEST(LucentImageHeader, AnUnreadableOrShortImageIsRefusedNotCompared)
{
    LucentFlashInfo device;
    device.nSectorSize = 64;
    device.nType = 0;
    int nMode = 0;
    EXPECT_EQ(FR_HEX_OPEN_FAILED, flsh_CheckLucentImage("/nonexistent/LA_US_100.HEX", &device, &nMode));

    std::string path = testing::TempDir() + "lucent_short.hex";
    std::FILE *pFile = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, pFile);
    std::fputs(":0400000043400000F9\r\n", pFile);
    std::fclose(pFile);
    EXPECT_EQ(FR_BAD_HEX, flsh_CheckLucentImage(path.c_str(), &device, &nMode));

    pFile = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, pFile);
    std::string text = headerText("3412" "4340");
    std::fwrite(text.data(), 1, text.size(), pFile);
    std::fclose(pFile);
    device.nFlashVersion = 0x1234;
    EXPECT_EQ(0, flsh_CheckLucentImage(path.c_str(), &device, &nMode));
    EXPECT_EQ(flsh_kNormalFlash, nMode);
    std::remove(path.c_str());
}

} // namespace
