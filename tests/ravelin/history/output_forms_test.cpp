// ravelin-cli history's output forms: JSON lines and CSV rows that hold any text, and --since.
#include <gtest/gtest.h>

#include <string>

#include "ravelin/history/hist_fields.h"
#include "ravelin/history/history_test_util.h"
#include "tools/ravelin-cli/cli_history_format.h"

namespace {

TEST(HistoryForms, SinceAcceptsDatesAndTimesInTheRecordsOwnForm) {
    struct Case {
        const char *pszText;
        bool bOk;
        const char *pszSince;
    } cases[] = {
        {"2026-12-09", true, "2026-12-09"},
        {"2026-12-09T10:41", true, "2026-12-09T10:41"},
        {"2026-12-09 10:41:07", true, "2026-12-09T10:41:07"},
        {"2026-12-09T10:41:07Z", true, "2026-12-09T10:41:07"},
        {"2026-12-09Z", true, "2026-12-09"},
        {"2026-13-09", false, ""},
        {"2026-12-32", false, ""},
        {"2026-12-09T24:00", false, ""},
        {"2026-12-09T10", false, ""},
        {"09.12.2026", false, ""},
        {"", false, ""},
        {"2026-12-09T10:41:07+01:00", false, ""},
    };
    for (const Case &c : cases) {
        std::string since;
        EXPECT_EQ(cli_HistorySince(c.pszText, &since), c.bOk) << c.pszText;
        if (c.bOk) {
            EXPECT_EQ(since, c.pszSince) << c.pszText;
        }
    }
    // The prefix compares with the stored times as the time it names.
    std::string since;
    ASSERT_TRUE(cli_HistorySince("2026-12-09T10:41Z", &since));
    EXPECT_LE(since, std::string("2026-12-09T10:41:00Z"));
    EXPECT_GT(since, std::string("2026-12-09T10:40:59Z"));
}

TEST(HistoryForms, TextsWithQuotesCommasAndLineBreaksStayOneFieldEach) {
    HistRecord r = history_test::SampleRecord("COM5");
    r.nId = 7;
    os_CopyBounded(r.szDetail, "said \"ERROR\",\r\nthen nothing", sizeof r.szDetail);
    os_CopyBounded(r.szStarted, "2026-12-09T10:41:07Z", sizeof r.szStarted);
    std::string json = cli_HistoryJson(r);
    EXPECT_EQ(json.find('\n'), std::string::npos);
    EXPECT_NE(json.find("\"detail\": \"said \\\"ERROR\\\",\\r\\nthen nothing\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"ended\": null, "), std::string::npos) << json;
    EXPECT_NE(json.find("\"result\": null, "), std::string::npos) << json;
    EXPECT_NE(json.find("\"resume_of\": null}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"last_percent\": null, "), std::string::npos) << json;
    EXPECT_NE(json.find("\"fixed_speed\": false, "), std::string::npos) << json;
    EXPECT_EQ(json.find("{\"id\": 7, \"started\": \"2026-12-09T10:41:07Z\", "), 0u) << json;

    std::string csv = cli_HistoryCsv(r);
    EXPECT_NE(csv.find(",\"said \"\"ERROR\"\",\r\nthen nothing\","), std::string::npos) << csv;
    struct Case {
        const char *pszIn, *pszOut;
    } cases[] = {{"plain", "plain"}, {"a,b", "\"a,b\""}, {"say \"x\"", "\"say \"\"x\"\"\""}, {"", ""},
                 {"two\nlines", "\"two\nlines\""}};
    for (const Case &c : cases) EXPECT_EQ(hist_CsvField(c.pszIn), c.pszOut) << c.pszIn;

    // A resumed update names its first; a finished one has its numbers.
    r.nResumeOf = 3;
    r.nResult = 0;
    r.nLastPercent = 100;
    os_CopyBounded(r.szEnded, "2026-12-09T10:45:00Z", sizeof r.szEnded);
    json = cli_HistoryJson(r);
    EXPECT_NE(json.find("\"resume_of\": 3}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"result\": 0, "), std::string::npos) << json;
    EXPECT_NE(json.find("\"ended\": \"2026-12-09T10:45:00Z\", "), std::string::npos) << json;
    EXPECT_EQ(cli_HistoryCsvHeader().find("id,started,ended,host,user,"), 0u);
}

}  // namespace
