// The diagnostic log: log.txt beside the executable, written only with the logging switch.
#include "ravelin/support/log.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "ravelin/support/osclock.h"
#include "ravelin/support/oswin32.h"

namespace {

// Guards the stream: one entry is one locked write, so entries of different threads never mix
// and a close cannot pull the stream from under a writer.
std::mutex g_logMutex;
FILE *g_pLogStream = nullptr;
// Whether g_pLogStream is open, readable without the lock: a flush with no log open (the usual
// run) then costs no lock, which every port's transfers would otherwise take in turn.
std::atomic<bool> g_bStreamOpen{false};
std::atomic<bool> g_bEnabled{false};
std::atomic<bool> g_bAssertsLogged{false};
std::atomic<long> g_nAsserts{0};
// Why the last open failed, under g_logMutex: the path tried and the error, 0 when it did not fail.
char g_szOpenPath[4096] = "";
int g_nOpenError = 0;

}  // namespace

FILE *log_Open(void) {
    if (!g_bEnabled.load()) return nullptr;
    char szDir[4096];
    std::string path;
    if (os_GetExeDir(szDir, sizeof szDir) > 0) path = std::string(szDir) + "log.txt";
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (g_pLogStream != nullptr) {
        std::fclose(g_pLogStream);
        g_pLogStream = nullptr;
    }
    errno = 0;
    if (!path.empty()) g_pLogStream = std::fopen(path.c_str(), "w");
    g_nOpenError = g_pLogStream != nullptr ? 0 : (errno != 0 ? errno : ENOENT);
    os_CopyBounded(g_szOpenPath, path.empty() ? "log.txt" : path.c_str(), sizeof g_szOpenPath);
    g_bStreamOpen.store(g_pLogStream != nullptr);
    return g_pLogStream;
}

int log_OpenFailure(char *pszText, int nCapacity) {
    if (pszText == nullptr || nCapacity <= 0) return 0;
    pszText[0] = '\0';
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (g_nOpenError == 0) return 0;
    return osfl_DescribeWriteFailure(g_szOpenPath, g_nOpenError, pszText, nCapacity);
}

void log_VWrite(int nLine, const char *pszModule, const char *pszFormat, va_list args) {
    // Most runs log nothing, and protocols write several entries per image line on every port:
    // without the switch an entry must cost no clock or time-zone look-up.
    if (!g_bEnabled.load(std::memory_order_relaxed)) return;
    os_WallTime now;
    os_LocalTime(&now);

    // The caller's format is expanded with the caller's arguments on its own, so a conversion
    // in the time or module text can never consume them, and a long format is never cut.
    char szMessage[512];
    std::string overflow;
    const char *pszMessage = szMessage;
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(szMessage, sizeof szMessage, pszFormat ? pszFormat : "", copy);
    va_end(copy);
    if (n < 0) {
        szMessage[0] = '\0';
    } else if (static_cast<size_t>(n) >= sizeof szMessage) {
        overflow.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&overflow[0], overflow.size(), pszFormat, args);
        overflow.resize(static_cast<size_t>(n));
        pszMessage = overflow.c_str();
    }

    char szTime[16];
    std::snprintf(szTime, sizeof szTime, "%02d:%02d:%02d", now.nHour, now.nMinute, now.nSecond);

    std::lock_guard<std::mutex> lock(g_logMutex);
    if (g_pLogStream == nullptr) return;
    std::fprintf(g_pLogStream, "[%s][%s (%d)]: %s\n", szTime, pszModule ? pszModule : "", nLine,
                 pszMessage);
}

void log_Write(int nLine, const char *pszModule, const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    log_VWrite(nLine, pszModule, pszFormat, args);
    va_end(args);
}

void log_Flush(void) {
    if (!g_bStreamOpen.load(std::memory_order_relaxed)) return;
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (g_pLogStream != nullptr) std::fflush(g_pLogStream);
}

void log_Close(void) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (g_pLogStream != nullptr) {
        std::fclose(g_pLogStream);
        g_pLogStream = nullptr;
    }
    g_bStreamOpen.store(false);
}

void log_SetEnabled(bool bEnabled) { g_bEnabled.store(bEnabled); }

bool log_IsEnabled(void) { return g_bEnabled.load(); }

void dbg_Assert(const char *pszExpression, const char *pszModule, int nLine) {
    g_nAsserts.fetch_add(1);
    if (g_bAssertsLogged.load())
        log_Write(nLine, pszModule, "Assertion failed: %s", pszExpression ? pszExpression : "");
}

void log_SetAssertsLogged(bool bLogged) { g_bAssertsLogged.store(bLogged); }

long dbg_AssertCount(void) { return g_nAsserts.load(); }
