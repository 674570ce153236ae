// The Lucent/Agere image header and its comparison with a device's flash facts, made before anything is
// programmed: an image built for another flash part must never reach the device, and an image of another
// loader version needs the full flash.
#pragma once

#include <cstdint>

#include "ravelin/flash/flsh.h"
#include "ravelin/ident/devid.h"

// Sector size, type and version of an image, read from fixed characters of its first data record.
struct LucentImageHeader {
    int nSectorSize = 0;
    int nType = 5;
    std::uint16_t nVersion = 0;
};

// Number of characters of the image file the header is read from.
constexpr int flsh_kLucentHeaderLen = 75;

// Reads the header from the first 75 characters of a text. Returns 1, or 0 when the text is shorter.
int flsh_ParseLucentImageHeader(const char *pText, int nLength, LucentImageHeader *pHeader);

// Reads the header of an image file. Returns 0 on success, FR_HEX_OPEN_FAILED when the file cannot be
// opened, FR_BAD_HEX when it holds fewer than 75 characters.
int flsh_ReadLucentImageHeader(const char *pszImagePath, LucentImageHeader *pHeader);

// Flash mode (flsh_kNormalFlash, flsh_kGoFlash, flsh_kFullFlash) the identification status gives a Lucent/Agere device: 1 after status 9, 2 after 10, else 0.
int flsh_FlashModeForStatus(int nIdentifyStatus);

// Compares an image's header with the device's facts and adjusts the flash mode. Returns 0 (go on),
// FR_PORT_OPEN_FAILED (the device's facts were never read), FR_SECTOR_SIZES or FR_TYPES.
int flsh_CompareLucentImage(const LucentImageHeader *pImage, const LucentFlashInfo *pDevice, int *pnFlashMode);

// Both steps for an image file: 0 to go on, or the update result that ends the device's update before its
// port is touched (an unreadable or short image ends with FR_HEX_OPEN_FAILED or FR_BAD_HEX rather than
// being compared with stale or made-up header values).
int flsh_CheckLucentImage(const char *pszImagePath, const LucentFlashInfo *pDevice, int *pnFlashMode);
