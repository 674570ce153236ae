// The multi-device update run: every port taking part in an update, every image file that could be
// programmed, and the models found on the ports. The front end (the wizard pages or ravelin-cli) drives
// it in this order: add ports -> scan images -> identify -> choose models and images -> start updates ->
// poll -> results. The run's overall error code becomes the program's exit code.
//
// Threads: one identification thread and later one flash thread per device, never joined. Each writes
// only its own DeviceUpdate. The run's lists are changed only by the thread that drives the run, and
// only while no device thread runs; a device taken out of the run while its thread still runs is freed
// by that thread when it ends, never under its feet.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ravelin/catalogue/devicetype.h"
#include "ravelin/catalogue/firmwareversion.h"
#include "ravelin/flash/flsh.h"
#include "ravelin/ident/countrycode.h"

// ---------------------------------------------------------------------------------------------
// Overall error codes

constexpr int flsh_kRunNoError = 0;
constexpr int flsh_kRunCancelled = 1;
constexpr int flsh_kRunNoHexFiles = 2;
constexpr int flsh_kRunNoDevices = 3;
constexpr int flsh_kRunWrongModel = 4;
constexpr int flsh_kRunWrongBuild = 5;
constexpr int flsh_kRunWrongModelAndBuild = 6;
constexpr int flsh_kRunNoHexForModel = 7;
constexpr int flsh_kRunNoHexForBuild = 8;
constexpr int flsh_kRunIdentifyTimeout = 9;
constexpr int flsh_kRunNoHexSelected = 100;
constexpr int flsh_kRunNoDeviceSelected = 101;

constexpr int flsh_kRunErrorTextLen = 64;

struct RunError {
    std::int32_t nCode = flsh_kRunNoError;
};

// The message of a code ("No Error", "ERROR: Program cancelled by user", ...); any other code is
// written as "ERROR: Unknown error %d" into pszBuffer (nCapacity bytes), which is then returned.
const char *flsh_RunErrorText(int nCode, char *pszBuffer, int nCapacity);

// ---------------------------------------------------------------------------------------------
// Images

constexpr int flsh_kCountryFileCodeLen = 3;   // two letters and the terminator
constexpr int flsh_kNamePartLen = 64;         // further name parts of an image file name

// Scanned extensions.
constexpr const char *flsh_kBootExtension = "HXB";
constexpr const char *flsh_kHexExtension = "HEX";
constexpr const char *flsh_kUsfExtension = "USF";

struct ImageEntry {
    char szFileName[os_kPathLen] = "";        // the name, upper case, as the pages show it
    DeviceType type;                          // model named by the name, lock from its version
    CountryCode country;
    char szCountryCode[flsh_kCountryFileCodeLen] = "";
    FirmwareVersion version;
    char szVersionText[fwv_kTextLen] = "";    // the version text of the name ("105A", "_V1.05")
    char szPart1[flsh_kNamePartLen] = "";
    char szPart2[flsh_kNamePartLen] = "";
    std::int32_t bSelected = 0;
    // The path that opens the file: the scanned directory and the name as the directory holds it
    // (on this file system "pa01a105.hex" is not "PA01A105.HEX").
    char szPath[os_kPathLen] = "";
};

// Reads an image file name by the naming rules for the scanned extension ("HEX", "USF", "HXB").
// Returns 1 and fills the entry's name, model, country, version and name parts when the name is
// accepted (the catalogue must be loaded), else 0. szPath is left to the caller.
int flsh_ReadImageName(const char *pszName, const char *pszExtension, ImageEntry *pEntry);

// ---------------------------------------------------------------------------------------------
// Devices

// Flash or identification thread body: runs on the device's own thread and stores its result.
typedef int (*flsh_DeviceThreadBody)(DeviceUpdate *pUpdate);

struct RunDeviceShared;  // the record shared between the run and its device's thread

struct RunDevice {
    // The DeviceUpdate lives in the shared record so that a thread still running when the device is
    // taken out keeps it alive; pUpdate points at it for the device's life.
    DeviceUpdate *pUpdate = nullptr;
    std::shared_ptr<RunDeviceShared> pShared;

    // Identification results after post-processing (flsh_RunPostProcess).
    DeviceType type;                          // model record with the version's lock
    char szModel[cat_kNameLen] = "";          // the model's name as the catalogue spells it
    FirmwareVersion version;
    char szVersionPart2[fwv_kPartLen] = "";
    char szVersionPart3[fwv_kPartLen] = "";
    CountryCode country;
    std::int32_t bCountryKnown = 0;           // the reported country is in the country table
    OemVariant oem;

    char szImagePath[os_kPathLen] = "";       // the image chosen for this device
    int nImage = -1;                          // its index in the run's images, -1 when none
    std::uint8_t bFixedSpeed = 0;
    std::uint32_t flags = 0;
    std::int32_t bSelected = 0;
    std::int32_t nAfterFlash = 0;
};

// ---------------------------------------------------------------------------------------------
// The run

struct RunSignal;  // wakes a waiting front end when a device thread ends

struct UpdateRun {
    std::vector<std::unique_ptr<RunDevice>> devices;   // in the order the ports were added
    std::vector<ImageEntry> images;                     // in the order found
    std::vector<DeviceType> models;                     // one per distinct model found
    RunError error;
    char szImageDir[os_kPathLen] = "";                  // directory scanned for images; "" = current
    char szErrorText[flsh_kRunErrorTextLen] = "";
    std::shared_ptr<RunSignal> pSignal;
};

// Sets the run up empty. Returns 1, or 0 when it cannot be set up.
int flsh_InitRun(UpdateRun *pRun);
// Takes every device out (devices whose thread still runs are freed when it ends) and empties the lists.
void flsh_FreeRun(UpdateRun *pRun);

// Adds a port ("\\.\COM3", "\\.\/dev/ttyUSB0") at a speed. Returns the new device count, or -1 when
// the path does not fit the update record (a cut path could name another port) or resources run out.
int flsh_RunAddPort(UpdateRun *pRun, const char *pszDevicePath, std::int32_t nSpeed);
// Appends an image given by its path (command line, developers page) as an image of that model,
// selected. Name parts and version are read from the file's name when it follows the naming rules.
// Returns the new image count.
int flsh_RunAddImage(UpdateRun *pRun, const char *pszPath, const DeviceType &model);
// Directory the scan looks in (nullptr or "" = the current directory).
void flsh_RunSetImageDir(UpdateRun *pRun, const char *pszDir);
// Boot flag set: "HXB" files; otherwise "HEX" files, then "USF" files. Returns the number of images.
int flsh_RunScanImages(UpdateRun *pRun, int bBootCode);

// Starts one identification thread (flsh_Identify) per device.
void flsh_RunStartIdentification(UpdateRun *pRun);
// The same with another thread body (tests).
void flsh_RunStartIdentificationWith(UpdateRun *pRun, flsh_DeviceThreadBody pfnBody);
// True when every device's result is not -1; logs "<%s> Status %d" per device and "bDone %d".
bool flsh_RunAllIdentified(UpdateRun *pRun);
// Blocks until every device has a result or nMilliseconds have passed; true when all have.
bool flsh_RunWaitAllDone(UpdateRun *pRun, int nMilliseconds);
// Blocks until every thread the run ever started has ended, also those of devices taken out of the
// run while their thread still ran (identification that outlived the detection page's time-out), or
// nMilliseconds have passed; true when all have. What such a thread reads (the catalogue) may be
// freed only then.
bool flsh_RunWaitThreadsEnded(UpdateRun *pRun, int nMilliseconds);

// The detection page's post-processing of identification, for each device in run order: removes
// the devices not identified (status other than 0, 9, 10) and those still identifying; sets the
// model (BOOTCODE and the card's model text give the fixed-speed models), fixed-speed flag, flags,
// version and lock, country and flash mode of the others. bDetectionFlag is the command line's H.
// Returns the number of devices left.
int flsh_RunPostProcess(UpdateRun *pRun, int bDetectionFlag);
// Removes the device at an index (freed now, or by its thread when that still runs).
void flsh_RunRemoveDevice(UpdateRun *pRun, int nIndex);

// One model record per distinct identified model (equal model and lock), with its device count.
int flsh_RunBuildModelList(UpdateRun *pRun);
// Number of images that fit the model (the catalogue's image-fit test).
int flsh_RunCountImages(const UpdateRun *pRun, const DeviceType &model);
// Removes every model without a fitting image and appends each removed name and a blank to pszText
// (a Rockwell name only up to its first "-"). Returns how many were removed.
int flsh_RunDropModelsWithoutImages(UpdateRun *pRun, char *pszText, int nCapacity);
// The detection page's text for the dropped names: "No .hex files found for A.", "... for A and B.",
// "... for A, B, and C."; empty when the text names none.
void flsh_NoHexFilesMessage(const char *pszDropped, char *pszMessage, int nCapacity);

// Unselects every device, model and image.
void flsh_RunClearChoices(UpdateRun *pRun);
// Selects the devices and images whose model is a picked model (a model record's bHasImage, which
// the detection page sets for each chosen row); unselects all others.
void flsh_RunApplyChoices(UpdateRun *pRun);
// Assigns an image of the run's list to a device (its path and index) and selects the device.
void flsh_RunAssignImage(UpdateRun *pRun, int nDevice, int nImage);

// 0, 1 or 2: the after-flash choice from the model's combined versions, the device's version major
// and the image's.
int flsh_AfterFlashChoice(const std::vector<int> &combined, int nDeviceMajor, int nImageMajor);

// Starts one flash thread (pfnFlash, normally flsh_RunProtocol) per selected device, after the
// after-flash choice and the Lucent/Agere image header check; a device the check refuses gets that
// result and no thread. Returns the number of threads started.
int flsh_RunStartUpdates(UpdateRun *pRun, int bBootCode, int bFullFlash, int bAfterFlashCheck, int bRestoreDefaults,
                         flsh_DeviceThreadBody pfnFlash);

// The slowest running selected device's percentage (100 when none runs) and status text
// (flsh_kStatusTextLen bytes, may be null). True when every selected device has a result.
bool flsh_RunPoll(UpdateRun *pRun, std::int32_t *pnLowest, char *pszStatusText);
// One device's status text (flsh_kStatusTextLen bytes) and last value as its thread last reported
// them, read under the device's lock as the poll reads them.
void flsh_RunDeviceProgress(UpdateRun *pRun, int nDevice, char *pszStatusText, std::int32_t *pnValue);
// Sets the cancel flag.
void flsh_RunCancel(UpdateRun *pRun);
// Sets the cancel flag and blocks until every device has a result.
void flsh_RunCancelAndWait(UpdateRun *pRun);

// Tests only: makes every later thread start of the run fail, as when the system has no thread to give.
void flsh_RunFailThreadStartsForTesting(bool bFail);

// The device's result code and its text.
int flsh_RunResult(const UpdateRun *pRun, int nDevice);
const char *flsh_RunResultText(const UpdateRun *pRun, int nDevice);
// Number of selected devices with result 0.
int flsh_RunCountSuccessful(const UpdateRun *pRun);

int flsh_RunGetError(const UpdateRun *pRun);
void flsh_RunSetError(UpdateRun *pRun, int nCode);
// The code's message; also makes that code the overall error code.
const char *flsh_RunErrorMessage(UpdateRun *pRun, int nCode);

// ---------------------------------------------------------------------------------------------
// The plan of an unattended run: the image each identified device gets

constexpr int flsh_kPlanReasonLen = 128;

// Of the run's images that fit the device's type, those of the device's country, and of those the
// highest version (ties: the first found). Returns the image's index, or -1 with the reason
// ("no image for model X", "no image for country Y") in pszReason.
int flsh_RunPlanImage(const UpdateRun *pRun, int nDevice, char *pszReason, int nCapacity);

// Compares two versions: major, then minor, then suffix letter. <0, 0, >0.
int flsh_CompareVersions(const FirmwareVersion &a, const FirmwareVersion &b);
