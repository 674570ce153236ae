// The multi-device run: image names and the scan, post-processing of identification, the model list
// and the plan, the after-flash choice, the Lucent/Agere image rules at the start of the updates,
// polling, cancelling, and devices whose thread outlives their place in the run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "flash_test_util.h"
#include "ravelin/catalogue/catalogue.h"
#include "ravelin/flash/flashinfo.h"
#include "ravelin/support/log.h"
#include "ravelin/support/oswin32.h"

namespace {

// The sample catalogue of the data folder, loaded for every test of these suites.
class RunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        os_SetExeDirForTesting((std::string(SUITE_SOURCE_DIR) + "/data/ravelin/").c_str());
        ASSERT_EQ(cat_kLoaded, cat_Load());
        ASSERT_EQ(1, flsh_InitRun(&run));
    }
    void TearDown() override
    {
        flsh_FreeRun(&run);
        cat_Free();
        os_SetExeDirForTesting(nullptr);
        flsh_ClearCancelForTesting();
    }

    // A port whose identification has already ended with these answers (no thread runs).
    RunDevice &identifiedDevice(int nPort, const char *pszModel, const char *pszVersion, const char *pszCountry,
                                int nStatus = 0)
    {
        std::string path = "\\\\.\\COM" + std::to_string(nPort);
        EXPECT_GT(flsh_RunAddPort(&run, path.c_str(), 38400), 0);
        RunDevice &device = *run.devices.back();
        DeviceIdentity &id = device.pUpdate->identity;
        std::snprintf(id.szModel, sizeof id.szModel, "%s", pszModel);
        std::snprintf(id.szVersion, sizeof id.szVersion, "%s", pszVersion);
        std::snprintf(id.szCountry, sizeof id.szCountry, "%s", pszCountry);
        id.nStatus = nStatus;
        device.pUpdate->nResult = nStatus;
        return device;
    }

    int addImage(const char *pszName)
    {
        ImageEntry entry;
        const char *pszDot = std::strchr(pszName, '.');
        EXPECT_EQ(1, flsh_ReadImageName(pszName, pszDot + 1, &entry)) << pszName;
        std::snprintf(entry.szPath, sizeof entry.szPath, "%s", pszName);
        run.images.push_back(entry);
        return static_cast<int>(run.images.size()) - 1;
    }

    UpdateRun run;
};

// ---------------------------------------------------------------------------------------------
// Image names

struct NameCase {
    const char *pszName;
    const char *pszExtension;
    bool bAccepted;
    const char *pszModel;      // catalogue name of the model the prefix names
    const char *pszVersionText;
    const char *pszPart1;
    const char *pszPart2;
};

TEST_F(RunTest, ImageNamesFollowTheNamingRules)
{
    const NameCase cases[] = {
        {"PADE105.HEX", "HEX", true, "PL1400", "105", "", ""},
        {"pade105.hex", "HEX", true, "PL1400", "105", "", ""},          // any case
        {"PADE.HEX", "HEX", false, "", "", "", ""},                     // base of four characters
        {"PAD1105.HEX", "HEX", false, "", "", "", ""},                  // fourth character a digit
        {"PAXY105.HEX", "HEX", false, "", "", "", ""},                  // no such country
        {"ZZDE105.HEX", "HEX", false, "", "", "", ""},                  // no such model prefix
        {"PADE105.USF", "HEX", false, "", "", "", ""},                  // another extension
        {"PADE105.HEX.BAK", "HEX", false, "", "", "", ""},              // split at the first "."
        {"PADE105", "HEX", false, "", "", "", ""},                      // no extension at all
        {"PADE_1_05.HEX", "HEX", true, "PL1400", "_1_05", "", ""},      // long name with "_" versions
        {"PADEX1050.HEX", "HEX", false, "", "", "", ""},                // long name, neither "-" nor "_"
        {"PADE105-BETA.HEX", "HEX", false, "", "", "", ""},             // one "-" only
        {"PADE105-OEM-2.HEX", "HEX", true, "PL1400", "105", "OEM", "2"},
        {"PADE105-OEM-2.USF", "USF", true, "PL1400", "105-OEM-2", "OEM", "2"},  // not HEX: the whole rest
        {"OACH203.HXB", "HXB", true, "OctaA", "203", "", ""},
    };
    for (const NameCase &c : cases) {
        ImageEntry entry;
        int nAccepted = flsh_ReadImageName(c.pszName, c.pszExtension, &entry);
        ASSERT_EQ(c.bAccepted ? 1 : 0, nAccepted) << c.pszName;
        if (!c.bAccepted) continue;
        std::string upper = c.pszName;
        for (char &ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_EQ(upper, entry.szFileName) << c.pszName;
        const ModelEntry *pModel = cat_FindEntryByName(c.pszModel);
        ASSERT_NE(nullptr, pModel);
        EXPECT_EQ(pModel->nModelId, entry.type.nModelId) << c.pszName;
        EXPECT_EQ(std::string(c.pszVersionText), entry.szVersionText) << c.pszName;
        EXPECT_EQ(std::string(c.pszPart1), entry.szPart1) << c.pszName;
        EXPECT_EQ(std::string(c.pszPart2), entry.szPart2) << c.pszName;
    }
}

TEST_F(RunTest, AnImageGetsTheLockOfItsVersionAndItsCountry)
{
    ImageEntry entry;
    ASSERT_EQ(1, flsh_ReadImageName("PBGB234.HEX", "HEX", &entry));
    EXPECT_EQ(2, entry.version.nMajor);
    EXPECT_EQ(34, entry.version.nMinor);
    EXPECT_EQ(2, entry.type.nLock);                       // PL3360 has a lock 2 ...
    EXPECT_EQ(std::vector<int>{2}, entry.type.upgrades);  // ... that accepts only its own images
    EXPECT_STREQ("United Kingdom", entry.country.DisplayName());
    EXPECT_STREQ("GB", entry.szCountryCode);
}

TEST_F(RunTest, ScanListsHexBeforeUsfOrOnlyBootImagesAndKeepsTheNameAsStored)
{
    flashtest::TempDir dir;
    for (const char *pszName : {"pade105.hex", "PADE106.USF", "PADE107.HXB", "PADE.HEX", "notes.txt"})
        flashtest::writeFile(dir.file(pszName), ":00000001FF\r\n");
    std::filesystem::create_directory(dir.file("PADE108.HEX"));  // a directory is never an image

    flsh_RunSetImageDir(&run, dir.path().c_str());
    ASSERT_EQ(2, flsh_RunScanImages(&run, 0));
    EXPECT_STREQ("PADE105.HEX", run.images[0].szFileName);
    EXPECT_EQ(dir.file("pade105.hex"), run.images[0].szPath);  // the path that opens it here
    EXPECT_STREQ("PADE106.USF", run.images[1].szFileName);

    UpdateRun boot;
    flsh_InitRun(&boot);
    flsh_RunSetImageDir(&boot, dir.path().c_str());
    ASSERT_EQ(1, flsh_RunScanImages(&boot, 1));
    EXPECT_STREQ("PADE107.HXB", boot.images[0].szFileName);
}

// ---------------------------------------------------------------------------------------------
// Post-processing and the plan

TEST_F(RunTest, PostProcessingKeepsIdentifiedDevicesAndSetsTheirModelFacts)
{
    identifiedDevice(1, "PL1400", "1.05", "PTT GERMAN");
    identifiedDevice(2, "PL3360", "2.31", "", devid_cNoModel);        // not identified: taken out
    identifiedDevice(3, "bootcode", "1.00", "PTT SWITZ");             // a device in its boot loader
    identifiedDevice(4, "100 000 000 000 000 000 000 000", "1.12", "PTT AUSTRIA");
    identifiedDevice(5, "LX56", "5.10", "PTT FRANCE", devid_cLucentRead);
    identifiedDevice(6, "AX56", "6.01", "PTT FRANCE", devid_cLucentNoFlashQuery);
    identifiedDevice(7, "OctaN", "3.20", "MARS");                     // a country the table lacks

    ASSERT_EQ(6, flsh_RunPostProcess(&run, 0));
    struct Expect {
        const char *pszPort, *pszModel;
        int bFixed, nFlashMode;
        const char *pszCountry;
        int nLock;
    };
    const Expect expected[] = {
        {"COM1", "PL1400", 0, 0, "Germany", 1},
        {"COM3", "OctaA", 1, 0, "Switzerland", 1},
        {"COM4", "KX-A1", 1, 0, "Austria", 1},
        {"COM5", "LX56", 0, flsh_kGoFlash, "France", 5},
        {"COM6", "AX56", 0, flsh_kFullFlash, "France", 6},
        {"COM7", "OctaN", 0, 0, "MARS", 3},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const RunDevice &device = *run.devices[i];
        const Expect &e = expected[i];
        EXPECT_STREQ(e.pszPort, flsh_PortDisplayName(device.pUpdate));
        EXPECT_STREQ(e.pszModel, device.szModel) << e.pszPort;
        EXPECT_EQ(e.bFixed, device.bFixedSpeed) << e.pszPort;
        EXPECT_EQ(e.nFlashMode, device.pUpdate->flashMode) << e.pszPort;
        EXPECT_STREQ(e.pszCountry, device.pUpdate->identity.szCountry) << e.pszPort;
        EXPECT_EQ(e.nLock, device.type.nLock) << e.pszPort;
        EXPECT_EQ(cat_FindEntryByName(e.pszModel)->flags, device.flags) << e.pszPort;
    }
    // An unknown country stays unknown rather than taking the table's default.
    EXPECT_EQ(0, run.devices[5]->bCountryKnown);
    EXPECT_STREQ("Unknown", run.devices[5]->country.DisplayName());

    // The command line's detection flag gives every other device the fixed speed too.
    UpdateRun detection;
    flsh_InitRun(&detection);
    flsh_RunAddPort(&detection, "\\\\.\\COM9", 38400);
    std::snprintf(detection.devices[0]->pUpdate->identity.szModel, devid_kTextLen, "PL1400");
    detection.devices[0]->pUpdate->nResult = 0;
    ASSERT_EQ(1, flsh_RunPostProcess(&detection, 1));
    EXPECT_EQ(1, detection.devices[0]->bFixedSpeed);
}

TEST_F(RunTest, PlanTakesTheHighestVersionOfTheDevicesCountryAmongFittingImages)
{
    identifiedDevice(1, "PL1400", "1.05", "PTT GERMAN");
    identifiedDevice(2, "PL1400", "1.05", "PTT AUSTRIA");
    identifiedDevice(3, "KX-A1", "1.12", "PTT AUSTRIA");
    identifiedDevice(4, "PL3360", "1.20", "PTT BABT");   // lock 1 accepts images of 1 and 2
    identifiedDevice(5, "PL3360", "2.31", "PTT BABT");   // lock 2 accepts only 2
    identifiedDevice(6, "PL1400", "1.05", "MARS");
    ASSERT_EQ(6, flsh_RunPostProcess(&run, 0));

    addImage("PADE105.HEX");
    int nBest = addImage("PADE107.HEX");
    addImage("PADE107.USF");   // same version, found later: the first stays
    addImage("PADE106.HEX");
    addImage("PAFR109.HEX");   // higher, but of another country
    addImage("PBGB120.HEX");
    int nUpgrade = addImage("PBGB201.HEX");
    addImage("PBGB305.HEX");   // lock 3 is no upgrade of either PL3360 lock

    char szReason[flsh_kPlanReasonLen];
    EXPECT_EQ(nBest, flsh_RunPlanImage(&run, 0, szReason, sizeof szReason));
    EXPECT_STREQ("", szReason);
    EXPECT_EQ(-1, flsh_RunPlanImage(&run, 1, szReason, sizeof szReason));
    EXPECT_STREQ("no image for country Austria", szReason);
    EXPECT_EQ(-1, flsh_RunPlanImage(&run, 2, szReason, sizeof szReason));
    EXPECT_STREQ("no image for model KX-A1", szReason);
    EXPECT_EQ(nUpgrade, flsh_RunPlanImage(&run, 3, szReason, sizeof szReason));
    EXPECT_EQ(nUpgrade, flsh_RunPlanImage(&run, 4, szReason, sizeof szReason));
    EXPECT_EQ(-1, flsh_RunPlanImage(&run, 5, szReason, sizeof szReason));
    EXPECT_STREQ("no image for country MARS", szReason);
}

TEST_F(RunTest, ADeviceThatTellsNoCountryTakesTheImagesForEveryCountry)
{
    // The Siemens module reports model and version but no country setting.
    identifiedDevice(1, "MC75", "2.10 C", "");
    identifiedDevice(2, "MC75", "2.10 C", "  ");
    identifiedDevice(3, "MC75", "2.10 C", "PTT GERMAN");
    ASSERT_EQ(3, flsh_RunPostProcess(&run, 0));
    for (int i : {0, 1}) {
        EXPECT_EQ(1, run.devices[i]->bCountryKnown) << i;
        EXPECT_STREQ("Universal", run.devices[i]->pUpdate->identity.szCountry) << i;
    }

    addImage("MCDE215.USF");
    int nUniversal = addImage("MCQU211.USF");
    char szReason[flsh_kPlanReasonLen];
    EXPECT_EQ(nUniversal, flsh_RunPlanImage(&run, 0, szReason, sizeof szReason)) << szReason;
    EXPECT_EQ(nUniversal, flsh_RunPlanImage(&run, 1, szReason, sizeof szReason)) << szReason;
    // A device that names its country still gets only that country's images.
    EXPECT_EQ(0, flsh_RunPlanImage(&run, 2, szReason, sizeof szReason)) << szReason;
}

TEST_F(RunTest, ModelsWithoutImagesAreDroppedAndNamed)
{
    identifiedDevice(1, "PL1400", "1.05", "PTT GERMAN");
    identifiedDevice(2, "KX-A1", "1.12", "PTT AUSTRIA");
    identifiedDevice(3, "PL1400", "1.07", "PTT GERMAN");   // the same model and lock: counted once
    identifiedDevice(4, "RW336-A", "1.10", "PTT GERMAN");
    ASSERT_EQ(4, flsh_RunPostProcess(&run, 0));
    addImage("PADE105.HEX");

    ASSERT_EQ(3, flsh_RunBuildModelList(&run));
    EXPECT_EQ(2, run.models[0].nCount);
    EXPECT_EQ(1, flsh_RunCountImages(&run, run.models[0]));
    char szDropped[128] = "";
    EXPECT_EQ(2, flsh_RunDropModelsWithoutImages(&run, szDropped, sizeof szDropped));
    EXPECT_STREQ("KX-A1 RW336 ", szDropped);  // a Rockwell name up to its first "-"
    ASSERT_EQ(1u, run.models.size());

    struct MessageCase {
        const char *pszDropped, *pszMessage;
    };
    const MessageCase messages[] = {
        {"", ""},
        {"KX-A1 ", "No .hex files found for KX-A1."},
        {"KX-A1 RW336 ", "No .hex files found for KX-A1 and RW336."},
        {"KX-A1 RW336 MC75 ", "No .hex files found for KX-A1, RW336, and MC75."},
        {"A B C D ", "No .hex files found for A, B, C, and D."},
    };
    for (const MessageCase &m : messages) {
        char szMessage[128];
        flsh_NoHexFilesMessage(m.pszDropped, szMessage, sizeof szMessage);
        EXPECT_STREQ(m.pszMessage, szMessage) << m.pszDropped;
    }
}

TEST_F(RunTest, ChoicesSelectTheDevicesAndImagesOfPickedModels)
{
    identifiedDevice(1, "PL1400", "1.05", "PTT GERMAN");
    identifiedDevice(2, "OctaA", "1.02", "PTT SWITZ");
    ASSERT_EQ(2, flsh_RunPostProcess(&run, 0));
    addImage("PADE105.HEX");
    addImage("OACH105.HEX");
    ASSERT_EQ(2, flsh_RunBuildModelList(&run));
    run.models[1].bHasImage = true;  // OctaA picked
    flsh_RunApplyChoices(&run);
    EXPECT_EQ(0, run.devices[0]->bSelected);
    EXPECT_EQ(1, run.devices[1]->bSelected);
    EXPECT_EQ(0, run.images[0].bSelected);
    EXPECT_EQ(1, run.images[1].bSelected);

    flsh_RunClearChoices(&run);
    EXPECT_EQ(0, run.devices[1]->bSelected);
    EXPECT_EQ(0, run.images[1].bSelected);
    EXPECT_FALSE(run.models[1].bHasImage);
}

TEST(AfterFlashChoice, FollowsTheCombinedVersionsOfTheModel)
{
    struct Case {
        std::vector<int> combined;
        int nDevice, nImage, nChoice;
    };
    const Case cases[] = {
        {{}, 3, 4, 0},      // no combined versions
        {{3, 4}, 2, 3, 1},  // device outside, image inside
        {{3, 4}, 2, 5, 0},  // both outside
        {{3, 4}, 3, 3, 0},  // both inside, equal
        {{3, 4}, 3, 4, 2},  // both inside, different
        {{3, 4}, 4, 5, 0},  // device inside, image outside
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.nChoice, flsh_AfterFlashChoice(c.combined, c.nDevice, c.nImage)) << c.nDevice << " " << c.nImage;
}

TEST(RunErrorText, EveryCodeHasItsMessage)
{
    char szBuffer[flsh_kRunErrorTextLen];
    EXPECT_STREQ("No Error", flsh_RunErrorText(0, szBuffer, sizeof szBuffer));
    EXPECT_STREQ("ERROR: Program cancelled by user", flsh_RunErrorText(1, szBuffer, sizeof szBuffer));
    EXPECT_STREQ("ERROR: Timeout attempting to identify devices!!", flsh_RunErrorText(9, szBuffer, sizeof szBuffer));
    EXPECT_STREQ("INTERNAL ERROR: No devices selected.", flsh_RunErrorText(101, szBuffer, sizeof szBuffer));
    EXPECT_STREQ("ERROR: Unknown error 42", flsh_RunErrorText(42, szBuffer, sizeof szBuffer));
    UpdateRun run;
    flsh_InitRun(&run);
    EXPECT_STREQ("ERROR: No Hex Files Available for Update", flsh_RunErrorMessage(&run, 2));
    EXPECT_EQ(2, flsh_RunGetError(&run));
}

// ---------------------------------------------------------------------------------------------
// Starting the updates: what each flash thread is handed

struct Handed {
    int nFlashMode = -1, nAfterFlash = -1, nKeepBoot = -1, nRestore = -1, nFixed = -1;
    std::string image;
};
std::mutex g_handedMutex;
std::map<std::string, Handed> g_handed;

int recordingFlash(DeviceUpdate *pUpdate)
{
    {
        std::lock_guard<std::mutex> lock(g_handedMutex);
        Handed &h = g_handed[flsh_PortDisplayName(pUpdate)];
        h.nFlashMode = pUpdate->flashMode;
        h.nAfterFlash = pUpdate->afterFlash;
        h.nKeepBoot = pUpdate->keepBootSector;
        h.nRestore = pUpdate->restoreDefaults;
        h.nFixed = pUpdate->fixedSpeed;
        h.image = pUpdate->szImagePath;
    }
    pUpdate->nResult = FR_SUCCESSFUL;
    return 0;
}

// An image file whose characters 65-72 carry the Lucent/Agere header.
std::string lucentImage(const flashtest::TempDir &dir, const std::string &name, const char *psz65to72)
{
    std::string text(80, '0');
    text.replace(65, 8, psz65to72);
    flashtest::writeFile(dir.file(name), text + "\r\n:00000001FF\r\n");
    return dir.file(name);
}

TEST_F(RunTest, LucentImagesAreComparedWithTheDeviceBeforeAnyThreadStarts)
{
    flashtest::TempDir dir;
    struct Case {
        const char *pszPort;
        int nSector, nType;         // the device's facts; -1 when identification did not read them
        std::uint16_t nVersion;
        int nFlashMode;             // as identification left it
        const char *pszHeader;      // image characters 65-72: version, type, sector code
        int nResult;                // FR_NONE: a thread runs
        int nHandedMode;
    };
    const Case cases[] = {
        {"COM1", -1, -1, 0, 0, "0000" "5540", FR_PORT_OPEN_FAILED, -1},
        {"COM2", -1, -1, 0, flsh_kGoFlash, "0000" "F000", FR_NONE, flsh_kFullFlash},
        {"COM3", 64, 3, 0x10, 0, "1000" "5510", FR_SECTOR_SIZES, -1},
        {"COM4", 64, 3, 0x10, 0, "1000" "5340", FR_TYPES, -1},
        {"COM5", 64, 3, 0x10, 0, "2000" "5540", FR_NONE, flsh_kFullFlash},   // another loader version
        {"COM6", 64, 3, 0x10, flsh_kGoFlash, "1000" "5540", FR_NONE, flsh_kGoFlash},
        {"COM7", 0, 3, 0, flsh_kGoFlash, "1000" "5540", FR_NONE, flsh_kFullFlash},  // a sector size 0
        {"COM8", 64, 3, 0x10, 0, "1000" "5540", FR_NONE, 0},
    };
    for (const Case &c : cases) {
        RunDevice &device = identifiedDevice(std::atoi(c.pszPort + 3), "LX56", "5.10", "PTT FRANCE");
        device.flags = FLF_LUCENT;
        device.pUpdate->identity.lucent.nSectorSize = c.nSector;
        device.pUpdate->identity.lucent.nType = c.nType;
        device.pUpdate->identity.lucent.nFlashVersion = c.nVersion;
        device.pUpdate->flashMode = c.nFlashMode;
        std::snprintf(device.szImagePath, os_kPathLen, "%s",
                      lucentImage(dir, std::string(c.pszPort) + ".HEX", c.pszHeader).c_str());
        device.bSelected = 1;
    }
    g_handed.clear();
    flsh_RunStartUpdates(&run, 0, 0, 0, 1, recordingFlash);
    ASSERT_TRUE(flsh_RunWaitAllDone(&run, 10000));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        std::lock_guard<std::mutex> lock(g_handedMutex);
        if (c.nResult != FR_NONE) {
            EXPECT_EQ(c.nResult, flsh_RunResult(&run, static_cast<int>(i))) << c.pszPort;
            EXPECT_EQ(0u, g_handed.count(c.pszPort)) << c.pszPort << ": no thread for a refused image";
        } else {
            EXPECT_EQ(FR_SUCCESSFUL, flsh_RunResult(&run, static_cast<int>(i))) << c.pszPort;
            EXPECT_EQ(c.nHandedMode, g_handed[c.pszPort].nFlashMode) << c.pszPort;
        }
    }

    // Full flash skips the comparison for every family: even facts never read do not stop it.
    g_handed.clear();
    for (auto &pDevice : run.devices) pDevice->pUpdate->nResult = FR_NONE;
    flsh_RunStartUpdates(&run, 1, 1, 1, 0, recordingFlash);
    ASSERT_TRUE(flsh_RunWaitAllDone(&run, 10000));
    std::lock_guard<std::mutex> lock(g_handedMutex);
    ASSERT_EQ(std::size(cases), g_handed.size());
    const Handed &h = g_handed["COM1"];
    EXPECT_EQ(flsh_kFullFlash, h.nFlashMode);
    EXPECT_EQ(1, h.nAfterFlash);   // the command line's after-flash check
    EXPECT_EQ(0, h.nKeepBoot);     // the boot code is updated
    EXPECT_EQ(0, h.nRestore);
    EXPECT_EQ(dir.file("COM1.HEX"), h.image);
}

TEST_F(RunTest, OnlySelectedDevicesAreUpdatedWithTheirChoiceAndSpeedMode)
{
    identifiedDevice(1, "PL3360", "2.31", "PTT BABT");
    identifiedDevice(2, "PL3360", "1.20", "PTT BABT");
    identifiedDevice(3, "PL1400", "1.05", "PTT GERMAN");
    ASSERT_EQ(3, flsh_RunPostProcess(&run, 0));
    int nImage = addImage("PBGB234.HEX");
    flsh_RunAssignImage(&run, 0, nImage);
    flsh_RunAssignImage(&run, 1, nImage);
    run.devices[1]->bFixedSpeed = 1;
    g_handed.clear();
    EXPECT_EQ(2, flsh_RunStartUpdates(&run, 0, 0, 0, 1, recordingFlash));
    ASSERT_TRUE(flsh_RunWaitAllDone(&run, 10000));
    std::lock_guard<std::mutex> lock(g_handedMutex);
    ASSERT_EQ(2u, g_handed.size());
    // PL3360 combines version 2: a device of 2 getting 2 needs nothing, a device of 1 getting 2 needs the check.
    EXPECT_EQ(0, g_handed["COM1"].nAfterFlash);
    EXPECT_EQ(1, g_handed["COM2"].nAfterFlash);
    EXPECT_EQ(0, g_handed["COM1"].nFixed);
    EXPECT_EQ(1, g_handed["COM2"].nFixed);
    EXPECT_EQ(1, g_handed["COM1"].nKeepBoot);
    EXPECT_EQ(1, g_handed["COM1"].nRestore);
    EXPECT_EQ("PBGB234.HEX", g_handed["COM1"].image);
}

// ---------------------------------------------------------------------------------------------
// Polling, cancelling, and threads that outlive their device's place in the run

TEST_F(RunTest, PollReportsTheSlowestRunningSelectedDevice)
{
    const struct {
        int nValue;
        const char *pszText;
        int nResult;
    } devices[] = {{40, "first", FR_NONE}, {75, "second", FR_SUCCESSFUL}, {60, "third", FR_NONE}};
    for (int i = 0; i < 3; ++i) {
        std::string path = "\\\\.\\COM" + std::to_string(i + 1);
        flsh_RunAddPort(&run, path.c_str(), 38400);
        DeviceUpdate *pUpdate = run.devices.back()->pUpdate;
        pUpdate->nLastValue = devices[i].nValue;
        std::snprintf(pUpdate->szStatusText, flsh_kStatusTextLen, "%s", devices[i].pszText);
        pUpdate->nResult = devices[i].nResult;
    }
    std::int32_t nLowest = -1;
    char szText[flsh_kStatusTextLen];
    EXPECT_TRUE(flsh_RunPoll(&run, &nLowest, szText));  // nothing selected: done at once
    EXPECT_EQ(100, nLowest);

    for (auto &pDevice : run.devices) pDevice->bSelected = 1;
    EXPECT_FALSE(flsh_RunPoll(&run, &nLowest, szText));
    EXPECT_EQ(40, nLowest);
    EXPECT_STREQ("first", szText);

    run.devices[0]->pUpdate->nResult = FR_SUCCESSFUL;
    EXPECT_FALSE(flsh_RunPoll(&run, &nLowest, szText));
    EXPECT_EQ(60, nLowest);  // the finished device at 75 % is not the slowest running one
    EXPECT_STREQ("third", szText);

    run.devices[2]->pUpdate->nResult = FR_TIMEOUT;
    EXPECT_TRUE(flsh_RunPoll(&run, &nLowest, szText));
    EXPECT_EQ(2, flsh_RunCountSuccessful(&run));
}

// Works until the cancel flag stops it, as a protocol does.
int flashUntilCancelled(DeviceUpdate *pUpdate)
{
    std::int32_t nPercent = 0;
    while (flsh_ProgressCallback(pUpdate, flsh_cProgramming, nPercent % 100, 0)) {
        ++nPercent;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pUpdate->nResult = FR_ABORTED;
    return 0;
}

TEST_F(RunTest, CancelAndWaitReturnsOnceEveryDeviceHasStopped)
{
    for (int i = 1; i <= 4; ++i) {
        std::string path = "\\\\.\\COM" + std::to_string(i);
        flsh_RunAddPort(&run, path.c_str(), 38400);
        run.devices.back()->bSelected = 1;
    }
    EXPECT_EQ(4, flsh_RunStartUpdates(&run, 0, 0, 0, 1, flashUntilCancelled));
    EXPECT_FALSE(flsh_RunWaitAllDone(&run, 50));
    flsh_RunCancelAndWait(&run);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(FR_ABORTED, flsh_RunResult(&run, i));
    std::int32_t nLowest = 0;
    EXPECT_TRUE(flsh_RunPoll(&run, &nLowest, nullptr));
}

// An identification that ends only when the test lets it.
std::mutex g_gateMutex;
std::condition_variable g_gateCv;
bool g_bGateOpen = false;

int gatedIdentify(DeviceUpdate *pUpdate)
{
    if (std::strcmp(flsh_PortDisplayName(pUpdate), "COM2") == 0) {
        std::unique_lock<std::mutex> lock(g_gateMutex);
        g_gateCv.wait(lock, [] { return g_bGateOpen; });
    }
    // Writes into its record after the run has let go of it: the record must still be there.
    std::snprintf(pUpdate->identity.szModel, devid_kTextLen, "PL1400");
    std::snprintf(pUpdate->identity.szCountry, devid_kTextLen, "PTT GERMAN");
    pUpdate->nResult = devid_cIdentified;
    return 0;
}

TEST_F(RunTest, ADeviceStillIdentifyingIsTakenOutAndFreedWhenItsThreadEnds)
{
    flsh_RunAddPort(&run, "\\\\.\\COM1", 38400);
    flsh_RunAddPort(&run, "\\\\.\\COM2", 38400);
    g_bGateOpen = false;
    flsh_RunStartIdentificationWith(&run, gatedIdentify);
    EXPECT_FALSE(flsh_RunWaitAllDone(&run, 200));
    std::weak_ptr<RunDeviceShared> slow = run.devices[1]->pShared;

    ASSERT_EQ(1, flsh_RunPostProcess(&run, 0));
    EXPECT_STREQ("COM1", flsh_PortDisplayName(run.devices[0]->pUpdate));
    EXPECT_FALSE(slow.expired()) << "freed while its thread may still write to it";
    // The devices left in the run are done; the thread of the one taken out still runs.
    EXPECT_TRUE(flsh_RunWaitAllDone(&run, 0));
    EXPECT_FALSE(flsh_RunWaitThreadsEnded(&run, 50)) << "a thread the run started still runs";

    {
        std::lock_guard<std::mutex> lock(g_gateMutex);
        g_bGateOpen = true;
    }
    g_gateCv.notify_all();
    EXPECT_TRUE(flsh_RunWaitThreadsEnded(&run, 10000));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!slow.expired() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(slow.expired()) << "the thread's end frees the device it outlived";
}

// Bodies that store their result first and end only when the test lets them: the moment between
// the two is where a result must not yet count.
void waitForGate()
{
    std::unique_lock<std::mutex> lock(g_gateMutex);
    g_gateCv.wait(lock, [] { return g_bGateOpen; });
}

int identifiedThenGate(DeviceUpdate *pUpdate)
{
    std::snprintf(pUpdate->identity.szModel, devid_kTextLen, "PL1400");
    std::snprintf(pUpdate->identity.szCountry, devid_kTextLen, "PTT GERMAN");
    pUpdate->nResult = devid_cIdentified;
    waitForGate();
    return 0;
}

int updatedThenGate(DeviceUpdate *pUpdate)
{
    pUpdate->nResult = FR_SUCCESSFUL;
    waitForGate();
    return 0;
}

void openGate()
{
    {
        std::lock_guard<std::mutex> lock(g_gateMutex);
        g_bGateOpen = true;
    }
    g_gateCv.notify_all();
}

bool resultArrives(UpdateRun *pRun)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (flsh_RunResult(pRun, 0) == FR_NONE && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return flsh_RunResult(pRun, 0) != FR_NONE;
}

TEST_F(RunTest, AResultCountsOnlyOnceItsThreadHasEnded)
{
    flsh_RunAddPort(&run, "\\\\.\\COM1", 38400);
    g_bGateOpen = false;
    flsh_RunStartIdentificationWith(&run, identifiedThenGate);
    ASSERT_TRUE(resultArrives(&run));
    EXPECT_FALSE(flsh_RunAllIdentified(&run)) << "its thread still runs";
    EXPECT_FALSE(flsh_RunWaitAllDone(&run, 50));
    openGate();
    ASSERT_TRUE(flsh_RunWaitAllDone(&run, 10000));
    EXPECT_TRUE(flsh_RunAllIdentified(&run));
    ASSERT_EQ(1, flsh_RunPostProcess(&run, 0)) << "an identified device is kept, not taken for one still identifying";

    // The update's thread the same way: the run is not over while the thread that stored the result
    // still runs (what comes next opens the port again, or starts the device's next thread).
    run.devices[0]->bSelected = 1;
    run.devices[0]->pUpdate->nResult = FR_NONE;
    g_bGateOpen = false;
    ASSERT_EQ(1, flsh_RunStartUpdates(&run, 0, 0, 0, 1, updatedThenGate));
    ASSERT_TRUE(resultArrives(&run));
    std::int32_t nLowest = 0;
    EXPECT_FALSE(flsh_RunPoll(&run, &nLowest, nullptr));
    EXPECT_FALSE(flsh_RunWaitAllDone(&run, 50));
    openGate();
    ASSERT_TRUE(flsh_RunWaitAllDone(&run, 10000));
    EXPECT_TRUE(flsh_RunPoll(&run, &nLowest, nullptr));
    EXPECT_EQ(FR_SUCCESSFUL, flsh_RunResult(&run, 0));
}

TEST_F(RunTest, AThreadThatCannotStartGivesItsDeviceAFailureInsteadOfAnEndlessWait)
{
    flsh_RunAddPort(&run, "\\\\.\\COM1", 38400);
    flsh_RunFailThreadStartsForTesting(true);
    flsh_RunStartIdentificationWith(&run, gatedIdentify);
    flsh_RunFailThreadStartsForTesting(false);
    EXPECT_TRUE(flsh_RunWaitAllDone(&run, 0)) << "nothing left to wait for";
    EXPECT_TRUE(flsh_RunWaitThreadsEnded(&run, 0)) << "a thread never started is not waited for";
    EXPECT_EQ(devid_cAborted, flsh_RunResult(&run, 0));
    EXPECT_EQ(0, flsh_RunPostProcess(&run, 0)) << "a device never identified is left out";

    identifiedDevice(2, "PL1400", "1.05", "PTT GERMAN");
    identifiedDevice(3, "PL1400", "1.05", "PTT GERMAN");
    ASSERT_EQ(2, flsh_RunPostProcess(&run, 0));
    for (auto &pDevice : run.devices) pDevice->bSelected = 1;
    flashtest::TempDir logDir;  // log.txt lies beside the executable
    os_SetExeDirForTesting(logDir.path().c_str());
    log_SetEnabled(true);
    ASSERT_NE(nullptr, log_Open());
    flsh_RunFailThreadStartsForTesting(true);
    EXPECT_EQ(0, flsh_RunStartUpdates(&run, 0, 0, 0, 1, recordingFlash));
    flsh_RunFailThreadStartsForTesting(false);
    log_Close();
    log_SetEnabled(false);
    std::string log = flashtest::readFile(logDir.file("log.txt"));
    EXPECT_NE(std::string::npos, log.find("<COM3> not updated: Unable to start the update thread")) << log;
    std::int32_t nLowest = 0;
    EXPECT_TRUE(flsh_RunPoll(&run, &nLowest, nullptr));
    // An update that never started is no user's abort: the table, JSON and log say what happened.
    for (int nDevice : {0, 1}) {
        EXPECT_EQ(FR_THREAD_FAILED, flsh_RunResult(&run, nDevice));
        EXPECT_STREQ("Unable to start the update thread", flsh_RunResultText(&run, nDevice));
    }
}

TEST_F(RunTest, APortPathThatDoesNotFitIsRefusedRatherThanCut)
{
    std::string longPath = "\\\\.\\/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
    EXPECT_EQ(-1, flsh_RunAddPort(&run, longPath.c_str(), 38400));
    EXPECT_TRUE(run.devices.empty());
    EXPECT_EQ(1, flsh_RunAddPort(&run, "\\\\.\\COM36", 115200));
    EXPECT_EQ(115200, run.devices[0]->pUpdate->nSpeed);
}

} // namespace
