// Identification against simulated devices: every branch of the dialogue and every status, checked
// on the commands each device heard and on the identity that came out.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "ident_test_catalogue.h"
#include "ravelin/ident/devid.h"
#include "ravelin/support/log.h"

using ident_testing::DeviceFile;
using Commands = std::vector<std::string>;

namespace {

// The commands every full identification starts with: the line check, the answer settings, and the
// question for the embedded platform.
const Commands kOpening = {"AT", "ATE1V1Q0", "AT+WOPEN=1"};

Commands Join(Commands head, const Commands &tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class IdentifyTest : public SimBankTest {
protected:
    void SetUp() override
    {
        ident_testing::UseShortTimeScale();
        SimBankTest::SetUp();
        catalogue_ = std::make_unique<ident_testing::TestCatalogue>();
        ASSERT_EQ(catalogue_->LoadResult(), 0);
    }
    void TearDown() override
    {
        log_Close();
        log_SetEnabled(false);
        catalogue_.reset();
        SimBankTest::TearDown();
    }

    // Starts the device of a file under data/sim/ident and returns its port.
    int AddFile(const std::string &name) { return addDevice(DeviceFile(name)).port(); }

    DeviceIdentity Identify(int nPort)
    {
        DeviceIdentity identity;
        devid_IdentifyPort(&identity, portName(nPort).c_str(), nullptr, nullptr);
        return identity;
    }

    Commands Heard(int nPort) { return device(nPort).state().commands(); }

    std::string LogText()
    {
        log_Flush();
        std::ifstream in(catalogue_->Dir() + "/log.txt");
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::unique_ptr<ident_testing::TestCatalogue> catalogue_;
};

TEST_F(IdentifyTest, PlainModemVersionLineOfAti)
{
    int nPort = AddFile("plain_version.dev");
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cIdentified);
    EXPECT_STREQ(id.szModel, "MX-3320");
    EXPECT_STREQ(id.szVersion, "4.10a");
    EXPECT_STREQ(id.szVersionSuffix, "RT");
    EXPECT_STREQ(id.szCountry, "PTT GERMAN");
    EXPECT_STREQ(id.szSpecialBuild, "");
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI", "ATI9"}));
}

TEST_F(IdentifyTest, BareModelNameReadsVersionCountryAndBuildFromAti1)
{
    int nPort = AddFile("plain_ati1.dev");
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cIdentified);
    EXPECT_STREQ(id.szModel, "MX-3310");
    EXPECT_STREQ(id.szVersion, "3.05");
    EXPECT_STREQ(id.szSpecialBuild, "SB-17");
    // ATI9's row number 5 replaces the country name ATI1 gave.
    EXPECT_STREQ(id.szCountry, "PTT FRANCE");
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI", "ATI1", "ATI9"}));
}

TEST_F(IdentifyTest, ModelFoundOnlyByAti2)
{
    int nPort = AddFile("ati2_model.dev");
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cIdentified);
    EXPECT_STREQ(id.szModel, "NX-5600");
    EXPECT_STREQ(id.szVersion, "2.40");
    EXPECT_STREQ(id.szCountry, "PTT AUSTRIA");
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI", "ATI2", "ATI9"}));
}

TEST_F(IdentifyTest, RockwellAti4PageGivesModelVersionAndCountryLines)
{
    int nPort = AddFile("rockwell_ati4.dev");
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cIdentified);
    EXPECT_STREQ(id.szModel, "RK-2814");
    EXPECT_STREQ(id.szVersion, "V2.07");
    EXPECT_STREQ(id.szCountry, "GERMANY");
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI", "ATI2", "ATI4", "ATI4", "ATI4"}));
}

TEST_F(IdentifyTest, RockwellDecimalCountryAndAti3BuildTag)
{
    int nPort = AddFile("rockwell_decimal.dev");
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cIdentified);
    EXPECT_STREQ(id.szModel, "RK-1440");
    EXPECT_STREQ(id.szVersion, "1.20-EU07");
    EXPECT_STREQ(id.szCountry, "JAPAN");  // 43: the first row wins over the Philippines
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI", "ATI3", "ATI5"}));
}

TEST_F(IdentifyTest, RockwellHexCountryModelReadsAti5AsHexadecimal)
{
    int nPort = AddFile("rockwell_hex.dev");
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cIdentified);
    EXPECT_STREQ(id.szModel, "RK-3360");
    EXPECT_STREQ(id.szVersion, "3.02-NZ1");
    EXPECT_STREQ(id.szVersionSuffix, "K");
    EXPECT_STREQ(id.szCountry, "PTT NEW ZEALAND");
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI", "ATI3", "ATI5"}));
}

TEST_F(IdentifyTest, RockwellWithoutAti3AnswerIsStatus3)
{
    int nPort = addDevice("port = 5\nspeed = 38400\nati.0 = RK-1440\\nVersion 1.20\nati.5 = 6\n").port();
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cNoVersion);
    EXPECT_STREQ(id.szVersion, "1.20");
    EXPECT_STREQ(id.szCountry, "PTT GERMAN");  // ATI5 is still asked
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI", "ATI3", "ATI5"}));
}

TEST_F(IdentifyTest, EmbeddedPlatformNamesModelAndVersionThroughItsOwnCommands)
{
    int nPort = AddFile("wopen.dev");
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cIdentified);
    EXPECT_STREQ(id.szModel, "WX-2401");
    EXPECT_STREQ(id.szVersion, "7.43B");
    EXPECT_STREQ(id.szVersionSuffix, "B");
    EXPECT_STREQ(id.szCountry, "");
    EXPECT_STREQ(id.szSpecialBuild, "");
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"AT#MMODEL", "AT#VVERSION"}));
}

TEST_F(IdentifyTest, EmbeddedPlatformWithUnknownModelIsStatus5)
{
    int nPort = addDevice("port = 7\nspeed = 38400\nfamily = ident-wopen\nmodel = ZZ-9\nversion = 1.00\n").port();
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cNoAnswer);
    EXPECT_STREQ(id.szModel, "");
    EXPECT_STREQ(id.szVersion, "1.00");
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"AT#MMODEL", "AT#VVERSION"}));
}

TEST_F(IdentifyTest, TerminalAdapterKeepsUniversalCountry)
{
    int nPort = AddFile("ta.dev");
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cIdentified);
    EXPECT_STREQ(id.szModel, "TA-128");
    EXPECT_STREQ(id.szVersion, "2.05");
    EXPECT_STREQ(id.szCountry, "Universal");
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI"}));
}

TEST_F(IdentifyTest, MultiPortAdapterLineStateDecidesStatus)
{
    int nReady = AddFile("octa_ta2.dev");
    int nBusy = AddFile("octa_ta1_busy.dev");
    int nMute = AddFile("octa_ta2_mute.dev");

    DeviceIdentity ready = Identify(nReady);
    EXPECT_EQ(ready.nStatus, devid_cIdentified);
    EXPECT_STREQ(ready.szModel, "Octa-TA2");
    EXPECT_STREQ(ready.szCountry, "Universal");
    EXPECT_EQ(Heard(nReady), Join(kOpening, {"ATI", "AT%I"}));

    DeviceIdentity busy = Identify(nBusy);
    EXPECT_EQ(busy.nStatus, devid_cTaNotZero);
    EXPECT_STREQ(busy.szModel, "Octa-TA1");
    EXPECT_EQ(Heard(nBusy), Join(kOpening, {"ATI", "AT%I"}));

    DeviceIdentity mute = Identify(nMute);
    EXPECT_EQ(mute.nStatus, devid_cTaNoAnswer);
    EXPECT_STREQ(mute.szVersion, "1.09");
    EXPECT_EQ(Heard(nMute), Join(kOpening, {"ATI", "AT%I"}));
}

TEST_F(IdentifyTest, LucentFlashFactsFromRrflPage)
{
    int nPort = AddFile("lucent_f_rrfl.dev");
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cLucentRead);
    EXPECT_STREQ(id.szModel, "LU-56K");
    EXPECT_STREQ(id.szVersion, "5.10");
    EXPECT_STREQ(id.szCountry, "PTT GERMAN");
    EXPECT_EQ(id.nLucentVariant, 0);
    EXPECT_EQ(id.lucent.nType, 3);
    EXPECT_EQ(id.lucent.nSectorSize, 64);
    EXPECT_EQ(id.lucent.nFlashVersion, 0x10AF);
    // "AAAAT" reaches the device's line editor as "AT".
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI", "AT", "AT", "AT&&F", "ATE1", "ATI5", "ATI9"}));
}

TEST_F(IdentifyTest, LucentSecondSpellingAndFlashQuery)
{
    int nPort = AddFile("lucent_w_flashquery.dev");
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cLucentRead);
    EXPECT_EQ(id.nLucentVariant, 1);
    EXPECT_EQ(id.lucent.nType, 0);
    EXPECT_EQ(id.lucent.nSectorSize, 16);
    EXPECT_EQ(id.lucent.nFlashVersion, 0x1F02);
    EXPECT_STREQ(id.szCountry, "PTT GERMAN");
    EXPECT_EQ(Heard(nPort),
              Join(kOpening, {"ATI", "AT", "AT", "AT&&F", "AT&&W", "ATE1", "ATI5", "AT&&WFL", "ATI9"}));
}

TEST_F(IdentifyTest, AgereThirdSpellingWithoutFlashQueryIsStatus10)
{
    int nPort = AddFile("agere_z_noquery.dev");
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cLucentNoFlashQuery);
    EXPECT_EQ(id.nLucentVariant, 2);
    EXPECT_EQ(id.lucent.nType, 2);
    EXPECT_EQ(id.lucent.nSectorSize, 0);
    EXPECT_EQ(id.lucent.nFlashVersion, 0);
    EXPECT_STREQ(id.szCountry, "PTT SWEDEN");
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI", "AT", "AT", "AT&&F", "AT&&W", "AT&&Z", "ATE1", "ATI5",
                                            "AT&&ZFL", "ATI9"}));
}

TEST_F(IdentifyTest, LucentRrflWithoutSectorMarkerIsStatus9WithSizeZero)
{
    int nPort = addDevice("port = 12\nspeed = 38400\nfamily = ident-lucent\nati.0 = LU-56K Version 5.10\n"
                          "ati.5 = P5610 RRFL\nati.9 = 6\n")
                    .port();
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cLucentRead);
    EXPECT_EQ(id.lucent.nSectorSize, 0);
    EXPECT_EQ(id.lucent.nType, 4);
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI", "AT", "AT", "AT&&F", "ATE1", "ATI5", "ATI9"}));
}

TEST_F(IdentifyTest, LucentAcceptingNoSpellingIsStatus8)
{
    int nPort = addDevice("port = 12\nspeed = 38400\nfamily = ident-lucent\nlucent.variant = -1\n"
                          "ati.0 = LU-56K Version 5.10\nati.9 = 6\n")
                    .port();
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cLucentNoAnswer);
    EXPECT_STREQ(id.szModel, "LU-56K");
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI", "AT", "AT", "AT&&F", "AT&&W", "AT&&Z", "ATI9"}));
}

TEST_F(IdentifyTest, DeviceAt115200IsFoundAfterTheSpeedChange)
{
    log_SetEnabled(true);
    log_Open();
    int nPort = AddFile("fast_only.dev");
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cIdentified);
    EXPECT_STREQ(id.szModel, "MX-3320");
    EXPECT_STREQ(id.szVersion, "4.12");
    EXPECT_STREQ(id.szCountry, "PTT NORWAY");
    // At 38400 the device hears only garbage: its first command is the one sent at 115200.
    EXPECT_EQ(Heard(nPort), Commands({"ATE1V1Q0", "ATE1V1Q0", "AT+WOPEN=1", "ATI", "ATI9"}));
    std::string log = LogText();
    EXPECT_NE(log.find("Changing to 115200, we got nothing from 38400."), std::string::npos) << log;
    EXPECT_NE(log.find("<COM15>  Model MX-3320 Version 4.12  Country PTT NORWAY, SpecialBuild "), std::string::npos)
        << log;
}

TEST_F(IdentifyTest, DeviceSilentAtBothSpeedsIsStatus11)
{
    log_SetEnabled(true);
    log_Open();
    int nPort = AddFile("silent.dev");
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cSilent);
    EXPECT_STREQ(id.szModel, "");
    EXPECT_EQ(Heard(nPort), Commands({"AT"}));  // 115200 reaches a 38400 device as garbage
    std::string log = LogText();
    EXPECT_NE(log.find("Changing to 115200, we got nothing from 38400."), std::string::npos) << log;
    EXPECT_NE(log.find("Error: <COM16>  Model  Version   Country , SpecialBuild "), std::string::npos) << log;
}

TEST_F(IdentifyTest, PortThatCannotBeOpenedIsStatus1)
{
    DeviceIdentity id;
    std::string path = "\\\\.\\" + bank().dir() + "/COM99";
    EXPECT_EQ(devid_IdentifyPort(&id, path.c_str(), nullptr, nullptr), devid_cOpenFailed);
    EXPECT_EQ(id.nStatus, devid_cOpenFailed);
}

TEST_F(IdentifyTest, UnknownModelIsStatus2)
{
    // No catalogue name in ATI or ATI2; ATI4 names a model that is not of the Rockwell family.
    int nPort = addDevice("port = 20\nspeed = 38400\nati.0 = Generic 56K\nati.2 = 0000\n"
                          "ati.4 = Page\\nMX-3320\\n1.00\\nGERMANY\n")
                    .port();
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cNoModel);
    EXPECT_STREQ(id.szModel, "");
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI", "ATI2", "ATI4"}));

    // A device that does not know ATI2 ends there.
    int nOther = addDevice("port = 21\nspeed = 38400\nati.0 = Generic 56K\n").port();
    EXPECT_EQ(Identify(nOther).nStatus, devid_cNoModel);
    EXPECT_EQ(Heard(nOther), Join(kOpening, {"ATI", "ATI2"}));
}

TEST_F(IdentifyTest, FloodedAnswersAreCutAndOverflowNothing)
{
    // Every answer far longer than the answer buffer and the identity texts.
    std::string version(300, 'V'), suffix(300, 'S'), noise(3000, 'n');
    int nPort = addDevice("port = 23\nspeed = 38400\nthrottle = off\nati.0 = MX-3320 Version " + version + " " +
                          suffix + "\\n" + noise + "\nati.9 = " + noise + "\n")
                    .port();
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cIdentified);
    EXPECT_STREQ(id.szModel, "MX-3320");
    EXPECT_EQ(std::string(id.szVersion), std::string(devid_kTextLen - 1, 'V'));
    EXPECT_EQ(std::string(id.szVersionSuffix), std::string(devid_kTextLen - 1, 'S'));
    EXPECT_STREQ(id.szCountry, "");
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI", "ATI9"}));
}

TEST_F(IdentifyTest, NoVersionAnywhereIsStatus3)
{
    int nPort = addDevice("port = 22\nspeed = 38400\nati.0 = MX-3310\nati.9 = 6\n").port();
    DeviceIdentity id = Identify(nPort);
    EXPECT_EQ(id.nStatus, devid_cNoVersion);
    EXPECT_STREQ(id.szModel, "MX-3310");
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI", "ATI1"}));
}

// Records the stages it is called with and answers 0 from a chosen stage on.
struct StageRecorder {
    std::vector<int> stages;
    int nStopAt = -1;
};

int RecordStage(DeviceUpdate *pOwner, int nStage)
{
    StageRecorder *pRecorder = reinterpret_cast<StageRecorder *>(pOwner);
    if (pRecorder->stages.empty() || pRecorder->stages.back() != nStage) pRecorder->stages.push_back(nStage);
    return nStage == pRecorder->nStopAt ? 0 : 1;
}

TEST_F(IdentifyTest, CallbackSeesEveryStageInOrder)
{
    int nPort = AddFile("plain_ati1.dev");
    StageRecorder recorder;
    DeviceIdentity id;
    devid_IdentifyPort(&id, portName(nPort).c_str(), RecordStage, reinterpret_cast<DeviceUpdate *>(&recorder));
    EXPECT_EQ(id.nStatus, devid_cIdentified);
    // Start, the waits up to ATI, model known (twice), the ATI1 wait, version known, the ATI9 wait.
    EXPECT_EQ(recorder.stages, std::vector<int>({0, 1, 2, 3, 4, 5, 1}));
}

TEST_F(IdentifyTest, CallbackAbortIsStatus4)
{
    int nPort = AddFile("plain_version.dev");
    StageRecorder recorder;
    recorder.nStopAt = devid_kStageVersion;
    DeviceIdentity id;
    devid_IdentifyPort(&id, portName(nPort).c_str(), RecordStage, reinterpret_cast<DeviceUpdate *>(&recorder));
    EXPECT_EQ(id.nStatus, devid_cAborted);
    EXPECT_STREQ(id.szModel, "MX-3320");
    EXPECT_EQ(Heard(nPort), Join(kOpening, {"ATI"}));

    // Aborting at the start sends nothing at all.
    StageRecorder atStart;
    atStart.nStopAt = devid_kStageStart;
    device(nPort).state().clearCommands();
    devid_IdentifyPort(&id, portName(nPort).c_str(), RecordStage, reinterpret_cast<DeviceUpdate *>(&atStart));
    EXPECT_EQ(id.nStatus, devid_cAborted);
    EXPECT_TRUE(Heard(nPort).empty());
}

TEST_F(IdentifyTest, LucentPortQueryRunsOnlyTheFlashDialogueAt115200)
{
    std::string text = DeviceFile("lucent_w_flashquery.dev");
    text += "\nspeed = 115200\n";
    int nPort = addDevice(text).port();
    DeviceIdentity id;
    EXPECT_EQ(devid_IdentifyLucentPort(&id, portName(nPort).c_str()), devid_cLucentRead);
    EXPECT_EQ(id.nStatus, devid_cLucentRead);
    EXPECT_EQ(id.nLucentVariant, 1);
    EXPECT_EQ(id.lucent.nFlashVersion, 0x1F02);
    EXPECT_EQ(Heard(nPort), Commands({"AT", "AT", "AT&&F", "AT&&W", "ATE1", "ATI5", "AT&&WFL"}));
}

} // namespace
