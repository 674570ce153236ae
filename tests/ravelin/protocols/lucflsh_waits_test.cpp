// The answer waits of the Lucent/Agere protocol, fed byte streams from a raw pseudo-terminal.
#include <gtest/gtest.h>

#include <string>

#include "ravelin/protocols/lucflsh.h"
#include "ravelin/serial/pty_pair.h"
#include "ravelin/support/osclock.h"

namespace {

enum class Wait { kOkOrNok, kVersion, kOk };

struct WaitCase {
    Wait wait;
    const char *pszStream;
    int nExpected;
    const char *pszVersion;  // the version text afterwards ("-" untouched)
};

const WaitCase kCases[] = {
    {Wait::kOkOrNok, "\r\nOK\r\n", lucflsh_cAcknowledged, "-"},
    {Wait::kOkOrNok, "OK ", lucflsh_cAcknowledged, "-"},
    {Wait::kOkOrNok, "\r\nNOK1\r\n", lucflsh_cNok1, "-"},
    {Wait::kOkOrNok, "\r\nNOK2\r\n", lucflsh_cNok2, "-"},
    {Wait::kOkOrNok, "\r\nNOK3\r\n", lucflsh_cNok3, "-"},
    {Wait::kOkOrNok, "\r\nNOK4\r\n", lucflsh_cNok4, "-"},
    // The first answer decides, and a "NOK" without its digit acknowledges nothing.
    {Wait::kOkOrNok, "NOK2\r\nOK\r\n", lucflsh_cNok2, "-"},
    {Wait::kOkOrNok, "\r\nNOK\r\n", lucflsh_cNoAnswer, "-"},
    {Wait::kOkOrNok, "NNOK3", lucflsh_cNok3, "-"},
    {Wait::kOkOrNok, "Ver:4.3\r\nOK\r\n", lucflsh_cAcknowledged, "4.3"},
    {Wait::kOkOrNok, "\r\nOCM Ver:1.3\r\nOK\r\n", lucflsh_cAcknowledged, "1.3"},
    {Wait::kOkOrNok, "Ver:4.3 Ver:4.4 OK", lucflsh_cAcknowledged, "4.4"},
    {Wait::kOkOrNok, "Ver:4.4\r\nNOK4", lucflsh_cNok4, "4.4"},
    {Wait::kOkOrNok, "", lucflsh_cNoAnswer, "-"},
    {Wait::kVersion, "\r\nVer:4.4\r\nOK\r\n", 0, "4.4"},
    {Wait::kVersion, "Ver:4.3\r\nOK", 0, "4.3"},
    {Wait::kVersion, "\r\nOK\r\n", lucflsh_cNoVersion, "-"},
    {Wait::kVersion, "OCM Ver:1.3\r\nOK\r\n", lucflsh_cNoVersion, "-"},
    {Wait::kVersion, "Ver:4.4\r\nNOK1\r\n", lucflsh_cNoAnswer, "4.4"},
    {Wait::kVersion, "", lucflsh_cNoAnswer, "-"},
    {Wait::kOk, "\r\nOK\r\n", 0, "-"},
    {Wait::kOk, "\r\nNOK2\r\n", 1, "-"},
    {Wait::kOk, "NOK3\r\nOK\r\n", 0, "-"},
    {Wait::kOk, "ERROR\r\n", 1, "-"},
};

TEST(LucentWaits, AnswersInTheirOrderAndRejectionsNeverReadAsAcknowledgements)
{
    os_SetTimeScaleForTesting(0.1);
    for (const WaitCase &c : kCases) {
        SCOPED_TRACE(c.pszStream);
        PtyPair pty;
        ASSERT_TRUE(pty.Ok());
        UrsPort port;
        ASSERT_EQ(URS_OK, urs_OpenPort(&port, pty.DevicePath().c_str()));
        ASSERT_TRUE(pty.Send(c.pszStream) || c.pszStream[0] == '\0');
        char szVersion[flsh_kLoaderVersionLen] = "-";
        int nResult = -1;
        switch (c.wait) {
        case Wait::kOkOrNok: nResult = GetOKorNOKx(&port, 1, szVersion); break;
        case Wait::kVersion: nResult = lucflsh_GetVersion(&port, 1, szVersion); break;
        case Wait::kOk: nResult = lucflsh_WaitOK(&port, 1); break;
        }
        EXPECT_EQ(c.nExpected, nResult);
        EXPECT_STREQ(c.pszVersion, szVersion);
        EXPECT_EQ(0, port.tsDeadlineStart.nSeconds) << "the deadline is stopped";
        urs_ClosePort(&port);
    }
    os_SetTimeScaleForTesting(1.0);
}

TEST(LucentWaits, LoaderVersionsThatFitTheDevicesType)
{
    struct Case {
        const char *pszVersion;
        int nType;
        int nFits;
    } const kCases[] = {
        {"4.4", 0, 1}, {"4.3", 0, 1}, {"1.3", 4, 1}, {"4.4", 3, 1},
        {"4.3", 3, 0}, {"1.3", 3, 0}, {"", 0, 0},    {"5.0", 1, 0},
    };
    for (const Case &c : kCases)
        EXPECT_EQ(c.nFits, lucflsh_LoaderFitsType(c.pszVersion, c.nType)) << c.pszVersion << " type " << c.nType;
}

} // namespace
