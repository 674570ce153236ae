// The notice that names an interrupted update, and the plan that finishes it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "fixtures/sim_bank_fixture.h"
#include "ravelin/catalogue/familyflags.h"
#include "ravelin/history/hist_resume.h"

namespace {

// The local time zone for one test: POSIX forms need no time zone database.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char *pszZone) : m_env("TZ", pszZone) { tzset(); }
    ~ScopedTimeZone() { tzset(); }

private:
    modemsim_testing::ScopedEnv m_env;
};

HistRecord record(const char *pszStarted, const char *pszEnded, const char *pszStatus, int nPercent)
{
    HistRecord r;
    hist_InitRecord(&r);
    std::snprintf(r.szStarted, sizeof r.szStarted, "%s", pszStarted);
    std::snprintf(r.szEnded, sizeof r.szEnded, "%s", pszEnded);
    std::snprintf(r.szPort, sizeof r.szPort, "COM5");
    std::snprintf(r.szImage, sizeof r.szImage, "PADE107.HEX");
    std::snprintf(r.szLastStatus, sizeof r.szLastStatus, "%s", pszStatus);
    r.nLastPercent = nPercent;
    return r;
}

TEST(InterruptedNotice, NamesPortImageLocalTimeAndHowFarItGot)
{
    struct Case {
        const char *pszZone, *pszStarted, *pszEnded, *pszStatus;
        int nPercent;
        const char *pszWhenAndHow;
    };
    const Case cases[] = {
        {"UTC0", "2026-12-09T10:41:07Z", "", "Programming", 43, "on 2026-12-09 at 10:41 (Programming, 43 %)"},
        // Local time as the bench's clock shows it, across midnight too.
        {"CET-1", "2026-12-09T10:41:07Z", "", "Programming", 43, "on 2026-12-09 at 11:41 (Programming, 43 %)"},
        {"EST5", "2026-12-09T02:05:00Z", "", "Handshaking", 50, "on 2026-12-08 at 21:05 (Handshaking, 50 %)"},
        // An update that ended is dated by its end.
        {"UTC0", "2026-12-09T10:41:07Z", "2026-12-09T10:52:30Z", "Programming", 80,
         "on 2026-12-09 at 10:52 (Programming, 80 %)"},
        {"UTC0", "2026-12-09T10:41:07Z", "", "Sorting File", -1, "on 2026-12-09 at 10:41 (Sorting File)"},
        {"UTC0", "2026-12-09T10:41:07Z", "", "     ", -1, "on 2026-12-09 at 10:41 (Starting)"},
        {"UTC0", "yesterday", "", "Programming", 5, "on (unknown date) at (unknown) (Programming, 5 %)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.pszZone) + " " + c.pszStarted);
        ScopedTimeZone zone(c.pszZone);
        HistRecord r = record(c.pszStarted, c.pszEnded, c.pszStatus, c.nPercent);
        char szText[512];
        int nLength = hist_InterruptedNotice(&r, szText, sizeof szText);
        std::string expected = std::string("COM5: the update with PADE107.HEX was interrupted ") + c.pszWhenAndHow +
                               "; its device may be waiting in its flash loader. To finish it: ravelin-cli resume COM5";
        EXPECT_EQ(expected, szText);
        EXPECT_EQ(static_cast<int>(expected.size()), nLength);
    }
}

TEST(InterruptedNotice, IsCutToItsBuffer)
{
    ScopedTimeZone zone("UTC0");
    HistRecord r = record("2026-12-09T10:41:07Z", "", "Programming", 43);
    char szText[21];
    EXPECT_EQ(20, hist_InterruptedNotice(&r, szText, sizeof szText));
    EXPECT_EQ(std::string("COM5: the update wit"), szText);
}

TEST(ResumePlan, EachProtocolAndHowFarTheUpdateGot)
{
    const std::uint32_t kGeneric = 0x5, kDot = FLF_DOT | 0x80, kLucent = FLF_LUCENT, kRockwell = FLF_ROCKWELL;
    struct Case {
        std::uint32_t flags;
        const char *pszStatus;
        int nSpeed;
        int fixedSpeed, nPlanSpeed, bPowerCycle;
    };
    const Case cases[] = {
        // The maker's loader waits at the speed agreed once it was entered and until it was left.
        {kGeneric, "Programming", 57600, 1, 57600, 0},
        {kGeneric, "Handshaking Done", 38400, 1, 38400, 0},
        {kGeneric, "Handshaking", 38400, 0, 38400, 0},
        {kGeneric, "Sorting File", 38400, 0, 38400, 0},
        {kGeneric, "Restoring Factory Defaults", 38400, 0, 38400, 0},
        {kGeneric, "Programming Done", 38400, 0, 38400, 0},
        {kGeneric, "", 38400, 0, 38400, 0},
        {kGeneric, "Programming", 0, 0, 0, 0},  // no speed on record: only the handshake finds it
        // The dot boot code waits for its power cycle, whatever the status said.
        {kDot, "Programming", 115200, 1, 115200, 1},
        {kDot, "Cycle Power to the Device", 115200, 1, 115200, 1},
        // The other protocols find the device where it is from their own start.
        {kLucent, "Programming", 115200, 0, 115200, 0},
        {kRockwell, "Programming Loader file", 38400, 0, 38400, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.pszStatus) + " flags " + std::to_string(c.flags));
        HistRecord r = record("2026-12-09T10:41:07Z", "", c.pszStatus, 10);
        r.nSpeed = c.nSpeed;
        r.flashMode = 2;
        HistResumePlan plan;
        hist_PlanResume(&r, c.flags, &plan);
        EXPECT_EQ(c.fixedSpeed, plan.fixedSpeed);
        EXPECT_EQ(c.nPlanSpeed, plan.nSpeed);
        EXPECT_EQ(c.bPowerCycle, plan.bPowerCycle);
        EXPECT_EQ(2, plan.flashMode);
    }
}

} // namespace
