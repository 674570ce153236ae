// What `ravelin-cli run` shows: the plan, the progress while flashing, and the results, either as
// text for a person or as one JSON object per line.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "tools/ravelin-cli/cli_table.h"
#include <vector>

#include "ravelin/flash/flashinfo.h"

// One device's line of the plan and of the results.
struct PlanRow {
    int nDevice = -1;            // index in the run's devices
    std::string port, model, version, country;
    int nImage = -1;             // index in the run's images; -1 when skipped
    std::string image;           // the image's file name without its directory
    std::string imageVersion;    // the version text of the image's name ("107")
    std::string imageVersionShown;  // the image's version as the device's is shown ("1.07")
    std::string reason;          // why the device is skipped
    std::string verifyFailure;   // "updated, but reports version V" after --verify
    std::int64_t nResumeOf = 0;  // ravelin-cli resume: the history record this update finishes
};

class RunView {
public:
    RunView(bool bJson, bool bTerminal) : m_bJson(bJson), m_bTerminal(bTerminal) {}

    // A text meant for a person: stderr in JSON mode, stdout otherwise.
    void note(const std::string &text) const;
    // A line about the work going on (identifying, cancelling): always stderr, never in JSON.
    void status(const std::string &text) const;

    void identified(const UpdateRun &run, int nDevice) const;
    void plan(const std::vector<PlanRow> &rows) const;
    // Called about once a second while flashing: live lines on a terminal, changed lines otherwise.
    void progress(UpdateRun &run, const std::vector<PlanRow> &rows, std::int32_t nLowest, const char *pszLowestText);
    // Ends the live lines.
    void progressDone();
    void result(const UpdateRun &run, const PlanRow &row) const;
    void verified(const PlanRow &row, bool bOk, const std::string &version) const;
    // The results table, the count line and the retry line; in JSON mode only the result events
    // have been written, and the summary follows.
    void results(const UpdateRun &run, const std::vector<PlanRow> &rows, int nUpdated, int nTotal,
                 const std::string &failedList) const;
    void summary(int nError, const std::string &errorText, int nUpdated, int nTotal, int nSkipped,
                 const std::vector<std::string> &failedPorts) const;

private:
    void event(const std::string &body) const;

    bool m_bJson;
    bool m_bTerminal;
    int m_nLiveLines = 0;
    std::map<int, std::string> m_lastShown;  // device -> last progress shown
};

