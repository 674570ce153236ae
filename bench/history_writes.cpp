// What the update history costs an update: an insert and a completion (each its own transaction,
// synced to disk in WAL mode), a progress write, one poll of a 36-device run, reading the whole
// history back, and the SHA-256 of an image.
//
// Run by hand: build/bin/history_writes [RECORDS]   (in a temporary directory under $TMPDIR)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ravelin/flash/flsh.h"
#include "ravelin/history/hist_sha256.h"
#include "ravelin/history/history.h"
#include "ravelin/support/oswin32.h"

namespace {

double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

HistRecord Sample(int nPort)
{
    HistRecord r;
    hist_InitRecord(&r);
    os_CopyBounded(r.szProgram, "history_writes", sizeof r.szProgram);
    os_CopyBounded(r.szPort, ("COM" + std::to_string(nPort)).c_str(), sizeof r.szPort);
    os_CopyBounded(r.szModel, "PL1400", sizeof r.szModel);
    os_CopyBounded(r.szImage, "PADE107.HEX", sizeof r.szImage);
    os_CopyBounded(r.szImageSha256, std::string(64, 'a').c_str(), sizeof r.szImageSha256);
    r.nSpeed = 115200;
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    int nRecords = argc > 1 ? std::atoi(argv[1]) : 300;
    if (nRecords < 36) nRecords = 36;
    const char *pszTmp = std::getenv("TMPDIR");
    std::string templ = std::string(pszTmp && *pszTmp ? pszTmp : "/tmp") + "/history-bench-XXXXXX";
    if (mkdtemp(&templ[0]) == nullptr) return 1;
    std::string db = templ + "/history.db";
    char szError[512];
    HistDb *pDb = hist_Open(db.c_str(), szError, sizeof szError);
    if (pDb == nullptr) {
        std::fprintf(stderr, "history_writes: %s\n", szError);
        return 1;
    }

    // Insert and complete, one update after another.
    std::vector<double> insertMs, completeMs, progressMs;
    for (int i = 0; i < nRecords; ++i) {
        HistRecord r = Sample(i % 36 + 1);
        auto t0 = std::chrono::steady_clock::now();
        hist_Insert(pDb, &r);
        auto t1 = std::chrono::steady_clock::now();
        hist_Progress(pDb, &r, "Programming", 50, 1000 + i);
        auto t2 = std::chrono::steady_clock::now();
        r.nResult = FR_SUCCESSFUL;
        hist_Complete(pDb, &r);
        auto t3 = std::chrono::steady_clock::now();
        insertMs.push_back(Ms(t1 - t0));
        progressMs.push_back(Ms(t2 - t1));
        completeMs.push_back(Ms(t3 - t2));
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("insert     median %.2f ms\n", median(insertMs));
    std::printf("progress   median %.2f ms\n", median(progressMs));
    std::printf("complete   median %.2f ms\n", median(completeMs));

    // One poll of a 36-device run: every device's progress written (the once-a-second case).
    std::vector<HistRecord> run;
    for (int i = 0; i < 36; ++i) {
        run.push_back(Sample(i + 1));
        hist_Insert(pDb, &run.back());
    }
    std::vector<double> pollMs;
    for (int nPoll = 1; nPoll <= 10; ++nPoll) {
        auto t0 = std::chrono::steady_clock::now();
        for (HistRecord &r : run) hist_Progress(pDb, &r, "Programming", nPoll * 9, nPoll * 1000);
        pollMs.push_back(Ms(std::chrono::steady_clock::now() - t0));
    }
    std::printf("36-device poll median %.1f ms (%.1f %% of the one-second poll)\n", median(pollMs),
                median(pollMs) / 10.0);

    // Reading everything back, newest first.
    HistFilter filter;
    hist_InitFilter(&filter);
    auto t0 = std::chrono::steady_clock::now();
    int nRead = hist_Query(pDb, &filter, [](const HistRecord *, void *) { return 1; }, nullptr);
    std::printf("query of %d records %.1f ms\n", nRead, Ms(std::chrono::steady_clock::now() - t0));
    hist_Close(pDb);

    // The image's fingerprint: 4 MiB.
    std::vector<std::uint8_t> data(4 << 20);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131);
    t0 = std::chrono::steady_clock::now();
    HistSha256 hash;
    hist_Sha256Init(&hash);
    hist_Sha256Update(&hash, data.data(), data.size());
    std::uint8_t abDigest[32];
    hist_Sha256Final(&hash, abDigest);
    double dMs = Ms(std::chrono::steady_clock::now() - t0);
    std::printf("SHA-256 of 4 MiB %.1f ms (%.0f MiB/s)\n", dMs, 4.0 / (dMs / 1000.0));
    std::filesystem::remove_all(templ);
    return 0;
}
