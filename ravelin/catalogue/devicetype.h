#ifndef RAVELIN_CATALOGUE_DEVICETYPE_H
#define RAVELIN_CATALOGUE_DEVICETYPE_H

// A model paired with a firmware lock: how the pages group devices and images and decide which
// image may be written onto which device. Owned by whoever builds it; filled from the catalogue.

#include <cstdint>
#include <vector>

#include "ravelin/catalogue/catalogue.h"

constexpr int cat_kDisplayLen = 64; // display text, terminator included

struct DeviceType {
    int nModelId = 0;               // 0 = none
    int nCount = 1;                 // devices or images sharing this type
    int nLock = -1;                 // -1 = none
    std::vector<int> upgrades;      // upgrade list of that lock
    std::vector<LockEntry> locks;   // the model's locks
    std::vector<int> combined;      // the model's Combined%d values
    bool bSelected = false;
    bool bHasImage = false;
    char szName[cat_kNameLen] = "";

    // From a model name (any case): id, locks and combined values of the first entry of that name;
    // the upper-cased name is kept. With no such entry the name becomes empty and the result is false.
    bool SetFromModel(const char* pszModel);
    // From an image prefix (any case): id, name and locks of the first entry with that prefix.
    // With none the type is left unchanged and the result is false.
    bool SetFromPrefix(const char* pszPrefix);
    // Lock n with its upgrade list, or -1 and no upgrades when the model has no lock n.
    void SetLock(int nLock);

    // Same model (not 0) and same lock.
    bool operator==(const DeviceType& other) const;
    bool operator!=(const DeviceType& other) const { return !(*this == other); }
    // This model is set, and the models differ and the locks differ.
    bool IsUnrelated(const DeviceType& other) const;
    // n is in the upgrade list of this type's lock.
    bool AcceptsUpgrade(int n) const;
    // cat_FlagsForId of the model id.
    std::uint32_t Flags() const;
    // "NAME - Version 3.xx", the name alone without a lock, a Rockwell name up to its last "-",
    // and "Siemens MC75" for MC75.
    void DisplayText(char* pszText, int nTextSize) const;
};

// An image (its own type from its name, and its version's major number) fits a device type when the
// device has no lock and the models match, when both types are equal, or when the models match and
// the device's upgrade list holds the image's version.
bool cat_ImageFits(const DeviceType& image, int nImageVersion, const DeviceType& device);

// Operations over a list of device types, in list order.
// If an equal type is in the list, add 1 to its count and return true.
bool cat_CountDuplicate(std::vector<DeviceType>& list, const DeviceType& type);
// Set the selected flag of the first equal type; false when there is none.
bool cat_MarkSelected(std::vector<DeviceType>& list, const DeviceType& type);
// Set the has-image flag of every equal type; returns how many were marked.
int cat_MarkImagesPresent(std::vector<DeviceType>& list, const DeviceType& type);
// The first type that has an image and is not selected, or nullptr.
DeviceType* cat_FindNextUnselected(std::vector<DeviceType>& list);

// The OEM variant of a special build: "COMPAQ 1" ... "COMPAQ 5" give 1-5, an empty name gives 0.
struct OemVariant {
    int nValue = 0;
    // Any case. Anything else leaves the value and returns false.
    bool SetFromName(const char* pszName);
};

#endif
