#ifndef RAVELIN_CATALOGUE_FIRMWAREVERSION_H
#define RAVELIN_CATALOGUE_FIRMWAREVERSION_H

// Firmware versions as devices report them (free text) and as image names carry them (a short coded
// form), read into one record whose major number is the device's or image's firmware lock.

#include "ravelin/catalogue/devicetype.h"

constexpr int fwv_kTextLen = 96; // record text, terminator included
constexpr int fwv_kPartLen = 84; // second and third version parts, terminator included

struct FirmwareVersion {
    int nMajor = 0;
    int nMinor = 0;
    char cSuffix = ' ';               // upper-case letter after the number, or a blank
    char szText[fwv_kTextLen] = "";   // major text "." minor text suffix (a trailing blank when none)
};

// Reads an image name's version text (with the image's two-letter prefix) or a device's version text
// without a "." (pszImagePrefix null). Never refuses a text; returns 1. The device type only lends
// its model's flags (Rockwell models read the major number differently); it may be null.
int ParseFirmwareVersion(FirmwareVersion* pVersion, const char* pszText, const DeviceType* pType,
                         const char* pszImagePrefix);

// Reads a device's version text and version suffix after identification, filling the record and the
// second and third version parts ("ABC" and "-DEF" from the suffix ABC-DEF; empty otherwise).
// Either part buffer may be null. Returns 1.
int ParseDeviceVersion(FirmwareVersion* pVersion, const char* pszVersion, const char* pszSuffix,
                       const DeviceType* pType, char* pszPart2, int nPart2Size, char* pszPart3,
                       int nPart3Size);

// The version as a person reads it, the same way for a device and an image: the record's text without
// the blank it keeps for a missing suffix letter ("1.07", "1.07A"), cut to nCapacity.
void fwv_ShownText(const FirmwareVersion* pVersion, char* pszText, int nCapacity);

#endif
