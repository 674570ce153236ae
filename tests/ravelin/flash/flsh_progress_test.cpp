// What the progress and identification callbacks write into the update record, and the result texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ravelin/flash/flsh.h"

namespace {

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(1, flsh_InitDeviceUpdate(&update, "\\\\.\\COM3")); }
    void TearDown() override
    {
        flsh_FreeDeviceUpdate(&update);
        flsh_ClearCancelForTesting();
    }
    std::string shortCode() const { return update.szShortCode; }
    std::string text() const { return update.szStatusText; }
    DeviceUpdate update;
};

TEST_F(ProgressTest, FreshRecord)
{
    EXPECT_EQ(-1, update.nLastStatus);
    EXPECT_EQ(FR_NONE, update.nResult);
    EXPECT_EQ("     ", shortCode());
    EXPECT_EQ("     ", text());
    EXPECT_STREQ("     ", update.identity.szModel);
    EXPECT_STREQ("COM3", flsh_PortDisplayName(&update));
}

TEST_F(ProgressTest, StatusesWriteTheirCodesAndTexts)
{
    struct Case {
        int status;
        int value;
        const char *code;
        const char *text;
    } cases[] = {
        {flsh_cHandshakeStart, 0, "I    ", "Handshaking"},
        {flsh_cResetting, 0, "R    ", " "},
        {flsh_cHandshaking, 0, "H  00", "Handshaking"},
        {flsh_cHandshaking, 50, "H  50", "Handshaking"},
        {flsh_cHandshakeDone, 0, "H 100", "Handshaking Done"},
        {flsh_cProgramStart, 38400, "P  00", "Programming"},
        {flsh_cProgramming, 7, "P  07", "Programming"},
        {flsh_cProgramming, 100, "P 100", "Programming"},
        {flsh_cProgramTimeout, 42, "T  42", "Programming Timeout"},
        {flsh_cProgramDone, 100, "P 100", "Programming Done"},
        {flsh_cProgramLoader, 5, "PL  05", "Programming Loader file"},
        {flsh_cProgramLoader, 100, "PL 100", "Programming Loader file"},
        {flsh_cSorting, 33, "Sort", "Sorting File"},
        {flsh_cRestoreDefaults, 0, "ResDef", "Restoring Factory Defaults"},
        {flsh_cReboot, 0, "Reboot", "Cycle Power to the Device"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(1, flsh_ProgressCallback(&update, c.status, c.value, 0));
        EXPECT_EQ(c.code, shortCode()) << c.status << "/" << c.value;
        EXPECT_EQ(c.text, text()) << c.status << "/" << c.value;
        EXPECT_EQ(c.status, update.nLastStatus);
        EXPECT_EQ(c.value, update.nLastValue);
    }
}

TEST_F(ProgressTest, CountingStatusesLeaveTheTexts)
{
    flsh_ProgressCallback(&update, flsh_cProgramming, 40, 0x1000);
    for (int status : {flsh_cBlockRejected, flsh_cNoPrompt, flsh_cHeaderSendError, flsh_cDataSendError}) {
        flsh_ProgressCallback(&update, status, 40, 0x1000);
        flsh_ProgressCallback(&update, flsh_cProgramming, 40, 0x1000);
    }
    // Rejections of one block repeat the same call, and each one counts.
    flsh_ProgressCallback(&update, flsh_cBlockRejected, 40, 0x2000);
    flsh_ProgressCallback(&update, flsh_cBlockRejected, 40, 0x2000);
    EXPECT_EQ(3, update.nRejectedBlocks);
    EXPECT_EQ(1, update.nMissingPrompts);
    EXPECT_EQ(1, update.nHeaderSendErrors);
    EXPECT_EQ(1, update.nDataSendErrors);
    EXPECT_EQ("P  40", shortCode());
    EXPECT_EQ(0x2000, update.nLastDetail);
    // Any other repeat changes nothing.
    flsh_ProgressCallback(&update, flsh_cProgramming, 40, 0x1000);
    ::snprintf(update.szShortCode, sizeof update.szShortCode, "mark");
    flsh_ProgressCallback(&update, flsh_cProgramming, 40, 0x1000);
    EXPECT_EQ("mark", shortCode());
    flsh_ProgressCallback(&update, flsh_cProgramming, 40, 0x1001);
    EXPECT_EQ("P  40", shortCode());
    // Unknown statuses change only the last call.
    flsh_ProgressCallback(&update, 99, 1, 0);
    EXPECT_EQ(99, update.nLastStatus);
    EXPECT_EQ("P  40", shortCode());
}

TEST_F(ProgressTest, CancelMakesEveryLaterCallAnswerStop)
{
    EXPECT_EQ(1, flsh_ProgressCallback(&update, flsh_cProgramming, 10, 0));
    flsh_SetCancel();
    EXPECT_EQ(0, flsh_ProgressCallback(&update, flsh_cProgramming, 10, 0));  // unchanged call too
    EXPECT_EQ(0, flsh_ProgressCallback(&update, flsh_cProgramming, 20, 0));
    EXPECT_EQ("P  20", shortCode());
    EXPECT_EQ(1, flsh_IdentifyCallback(&update, 2));
}

TEST_F(ProgressTest, IdentificationCodes)
{
    const char *codes[] = {"M    ", "M  50", "M 100", "I    ", "I  50", "I 100"};
    for (int status = 0; status < 6; ++status) {
        EXPECT_EQ(1, flsh_IdentifyCallback(&update, status));
        EXPECT_EQ(codes[status], shortCode());
    }
    EXPECT_EQ(1, flsh_IdentifyCallback(&update, 9));
    EXPECT_EQ(9, update.nLastStatus);
    EXPECT_EQ("I 100", shortCode());
}

TEST(ResultText, EveryCodeAndTheRest)
{
    EXPECT_STREQ("Successful", flsh_ResultText(FR_SUCCESSFUL));
    EXPECT_STREQ("Handshake failure", flsh_ResultText(FR_HANDSHAKE_FAILURE));
    EXPECT_STREQ("Bad .HEX file", flsh_ResultText(FR_BAD_HEX));
    EXPECT_STREQ("Unable to open port", flsh_ResultText(FR_PORT_OPEN_FAILED));
    EXPECT_STREQ("Error sorting the .hex file", flsh_ResultText(FR_SORT_FAILED));
    EXPECT_STREQ("No dot during flash", flsh_ResultText(FR_NO_DOT));
    // A thread the system would not give: its own text, no "Aborted by user".
    EXPECT_STREQ("Unable to start the update thread", flsh_ResultText(FR_THREAD_FAILED));
    EXPECT_EQ(16, FR_THREAD_FAILED) << "the next free code: 0-15 keep their meaning";
    EXPECT_STREQ("Unknown update error", flsh_ResultText(17));
    EXPECT_STREQ("Unknown update error", flsh_ResultText(-4));
}

} // namespace
