// Runs one test class of the wizard tests, named as the first argument, or all of them.
#include <QApplication>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "wizard_tests.h"

int main(int argc, char **argv)
{
    // Every device dialogue and page timer five times faster, alike (the one clock module scales both).
    setenv("SUITE_TIME_SCALE", "0.2", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);

    struct Entry {
        const char *pszName;
        std::function<std::unique_ptr<QObject>()> make;
    };
    const std::vector<Entry> classes = {
        {"StartupTest", [] { return std::unique_ptr<QObject>(new StartupTest); }},
        {"PageTextTest", [] { return std::unique_ptr<QObject>(new PageTextTest); }},
        {"OrdinaryWalkTest", [] { return std::unique_ptr<QObject>(new OrdinaryWalkTest); }},
        {"DevelopersTest", [] { return std::unique_ptr<QObject>(new DevelopersTest); }},
        {"OnePortTest", [] { return std::unique_ptr<QObject>(new OnePortTest); }},
        {"CancelTest", [] { return std::unique_ptr<QObject>(new CancelTest); }},
        {"DetectionErrorTest", [] { return std::unique_ptr<QObject>(new DetectionErrorTest); }},
        {"ProgressListTest", [] { return std::unique_ptr<QObject>(new ProgressListTest); }},
        {"ResumeOfferTest", [] { return std::unique_ptr<QObject>(new ResumeOfferTest); }},
        {"HistoryReportTest", [] { return std::unique_ptr<QObject>(new HistoryReportTest); }},
    };
    const char *pszOnly = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
    std::vector<char *> qtArgs{argv[0]};
    for (int i = pszOnly != nullptr ? 2 : 1; i < argc; ++i) qtArgs.push_back(argv[i]);

    int nFailed = 0;
    bool bFound = false;
    for (const Entry &entry : classes) {
        if (pszOnly != nullptr && std::strcmp(pszOnly, entry.pszName) != 0) continue;
        bFound = true;
        std::unique_ptr<QObject> test = entry.make();
        nFailed += QTest::qExec(test.get(), static_cast<int>(qtArgs.size()), qtArgs.data());
    }
    return bFound ? (nFailed != 0 ? 1 : 0) : 2;
}
