// The campaign's report: one row per protocol and fault kind, a totals line, the integrity check
// each protocol carries, and every failed run with the command that replays it alone.
#include <cstdio>
#include <map>
#include <string>

#include "bench/fault_campaign/campaign.h"

namespace campaign {

namespace {

struct Row {
    long runs = 0;
    long correct = 0;
    long failed = 0;
    std::map<int, long> codes;
    long wrongDetectable = 0;
    long wrongUndetectable = 0;
    long hangs = 0;
    long portsHeld = 0;
    long leaks = 0;

    void add(const RunOutcome &outcome)
    {
        ++runs;
        if (outcome.result == 0) {
            if (outcome.memoryExact)
                ++correct;
            else if (outcome.undetectable)
                ++wrongUndetectable;
            else
                ++wrongDetectable;
        } else {
            ++failed;
            ++codes[outcome.result];
        }
        hangs += !outcome.ended;
        portsHeld += outcome.reopenChecked && !outcome.reopened;
        leaks += outcome.leak;
    }
    std::string codeList() const
    {
        std::string text;
        for (const auto &code : codes)
            text += (text.empty() ? "" : " ") + std::to_string(code.first) + "x" + std::to_string(code.second);
        return text.empty() ? "-" : text;
    }
};

void printRow(const char *protocol, const char *kind, const Row &row)
{
    std::printf("%-9s %-18s %5ld %5ld %5ld  %-34s %6ld %7ld %5ld %5ld %5ld\n", protocol, kind, row.runs, row.correct,
                row.failed, row.codeList().c_str(), row.wrongDetectable, row.wrongUndetectable, row.hangs,
                row.portsHeld, row.leaks);
}

} // namespace

bool runFailed(const RunOutcome &outcome)
{
    return !outcome.problems.empty();
}

void printReport(const Options &options, const std::vector<RunPlan> &plans, const std::vector<RunOutcome> &outcomes,
                 double wallSeconds)
{
    std::map<std::pair<int, int>, Row> rows;
    Row total;
    for (size_t i = 0; i < plans.size(); ++i) {
        rows[{static_cast<int>(plans[i].protocol), static_cast<int>(plans[i].kind)}].add(outcomes[i]);
        total.add(outcomes[i]);
    }
    std::printf("\n%-9s %-18s %5s %5s %5s  %-34s %6s %7s %5s %5s %5s\n", "protocol", "fault kind", "runs", "ok",
                "fail", "codes (code x runs)", "wrong", "undet.", "hang", "port", "leak");
    int lastProtocol = -1;
    for (const auto &entry : rows) {
        const int protocol = entry.first.first;
        printRow(protocol == lastProtocol ? "" : protocolName(static_cast<Protocol>(protocol)),
                 faultKindName(static_cast<FaultKind>(entry.first.second)), entry.second);
        lastProtocol = protocol;
    }
    printRow("total", "", total);
    std::printf("ok: result 0 and the device holds exactly the image. wrong: result 0 with other memory where the "
                "protocol checks what was hit (a failure). undet.: result 0 with other memory where the protocol "
                "carries no check for what was hit. port: not free right after. leak: runs of a group after which "
                "descriptors, threads or temporary files were left.\n");
    std::printf("\nIntegrity checks on the wire:\n");
    for (const auto &line : integrityTable())
        std::printf("  %-9s %s\n", line.first.c_str(), line.second.c_str());

    // The undetectable ones by protocol, so that any of them can be replayed and looked at.
    std::map<int, std::string> undetectable;
    for (size_t i = 0; i < plans.size(); ++i) {
        std::string &list = undetectable[static_cast<int>(plans[i].protocol)];
        if (outcomes[i].undetectable && list.size() < 60)
            list += (list.empty() ? "" : " ") + std::to_string(plans[i].index);
    }
    for (const auto &entry : undetectable)
        if (!entry.second.empty())
            std::printf("undetectable, %s: runs %s%s\n", protocolName(static_cast<Protocol>(entry.first)),
                        entry.second.c_str(), entry.second.size() >= 60 ? " ..." : "");

    long failedRuns = 0;
    for (size_t i = 0; i < plans.size(); ++i) {
        if (!runFailed(outcomes[i]))
            continue;
        if (++failedRuns > 40)
            continue;
        std::printf("\nFAILED run %ld (run seed 0x%016llx): %s\n", plans[i].index,
                    static_cast<unsigned long long>(plans[i].seed), describe(plans[i]).c_str());
        for (const std::string &problem : outcomes[i].problems)
            std::printf("  %s\n", problem.c_str());
        std::printf("  replay: fault_campaign --seed %llu --only %ld\n", static_cast<unsigned long long>(options.seed),
                    plans[i].index);
    }
    if (failedRuns > 40)
        std::printf("\n... and %ld more failed runs\n", failedRuns - 40);
    std::printf("\n%ld runs in %.0f s, %ld failed a check\n", static_cast<long>(plans.size()), wallSeconds, failedRuns);
}

} // namespace campaign
