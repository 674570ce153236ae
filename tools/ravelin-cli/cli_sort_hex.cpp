// ravelin-cli sort-hex [--strict] IN OUT: rewrites an Intel HEX image in address order, exactly as
// the flash engine sorts an image before programming it (so a service bench can inspect what a
// device gets).
//
// OUT is never left half-written: the sorted image goes to a new file beside it, which takes its
// place only when the sort succeeded, so a late failure (or sorting a file onto itself) leaves
// both files as they were. "-" names the standard input or output; standard input is first
// copied into a private temporary file, because the sorter needs a file it can measure.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "ravelin/flash/flsh.h"
#include "ravelin/flash/flsh_tempfile.h"
#include "ravelin/flash/hex_image.h"
#include "tools/ravelin-cli/commands.h"

namespace {

const char *const kUsage = "usage: ravelin-cli sort-hex [--strict] IN OUT\n";

const char *const kHelp =
    "usage: ravelin-cli sort-hex [--strict] IN OUT\n"
    "Writes OUT with the data records of IN grouped by address base in ascending order,\n"
    "each base introduced by its extended address record, and one end-of-file record.\n"
    "Lines may end in CR LF or LF; OUT has CR LF. '-' as IN or OUT is standard input or output.\n"
    "OUT is replaced only when the sort succeeds (IN and OUT may be the same file).\n"
    "Lines passed on without being understood are reported as warnings with their line numbers.\n"
    "\n"
    "  --strict    any warning fails the sort; OUT is left unchanged\n"
    "\n"
    "Exit code 0, 2 for a usage error, or 11 when IN cannot be sorted (the reason follows\n"
    "\"Error sorting the .hex file\" on standard error).\n";

struct Options {
    bool bStrict = false;
    const char *pszIn = nullptr;
    const char *pszOut = nullptr;
};

// 0 to go on, else the exit code (help shown or a usage error).
int parseOptions(int argc, char **argv, Options *pOptions)
{
    int nPositional = 0;
    bool bOptionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const char *pszArg = argv[i];
        if (!bOptionsEnd && std::strcmp(pszArg, "--") == 0) {
            bOptionsEnd = true;
        } else if (!bOptionsEnd && (std::strcmp(pszArg, "--help") == 0 || std::strcmp(pszArg, "-h") == 0)) {
            std::fputs(kHelp, stdout);
            return -1;
        } else if (!bOptionsEnd && std::strcmp(pszArg, "--strict") == 0) {
            pOptions->bStrict = true;
        } else if (!bOptionsEnd && pszArg[0] == '-' && pszArg[1] != '\0') {
            std::fprintf(stderr, "ravelin-cli sort-hex: unknown option '%s'\n%s", pszArg, kUsage);
            return 2;
        } else if (nPositional == 0) {
            pOptions->pszIn = pszArg;
            ++nPositional;
        } else if (nPositional == 1) {
            pOptions->pszOut = pszArg;
            ++nPositional;
        } else {
            ++nPositional;
        }
    }
    if (nPositional != 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return 0;
}

bool isStdStream(const char *pszPath)
{
    return std::strcmp(pszPath, "-") == 0;
}

const char *displayName(const char *pszPath, const char *pszStream)
{
    return isStdStream(pszPath) ? pszStream : pszPath;
}

// Copies everything from hFrom to hTo. False on a read or write failure (*pbWriteFailed says which).
bool copyAll(osfl_Handle hFrom, osfl_Handle hTo, bool *pbWriteFailed)
{
    char achChunk[16384];
    for (;;) {
        int nRead = osfl_Read(hFrom, achChunk, sizeof achChunk);
        if (nRead == 0)
            return true;
        if (nRead < 0) {
            *pbWriteFailed = false;
            return false;
        }
        if (osfl_Write(hTo, achChunk, nRead) != nRead) {
            *pbWriteFailed = true;
            return false;
        }
    }
}

// One sort-hex run: the files it made and the names its messages use.
class SortRun {
public:
    explicit SortRun(const Options &options)
        : m_options(options), m_pszInName(displayName(options.pszIn, "standard input")),
          m_pszOutName(displayName(options.pszOut, "standard output"))
    {
        m_replacement.hFile = osfl_kInvalidHandle;
    }
    ~SortRun()
    {
        osfl_AbandonReplace(&m_replacement);
        if (m_szStdinCopy[0] != '\0')
            osfl_Delete(m_szStdinCopy);
        if (m_szStdoutCopy[0] != '\0')
            osfl_Delete(m_szStdoutCopy);
    }
    SortRun(const SortRun &) = delete;
    SortRun &operator=(const SortRun &) = delete;

    int run()
    {
        const char *pszInput = m_options.pszIn;
        if (isStdStream(pszInput)) {
            if (!copyStandardInput())
                return FR_SORT_FAILED;
            pszInput = m_szStdinCopy;
        }
        const char *pszOutput = nullptr;
        if (isStdStream(m_options.pszOut)) {
            if (!flsh_MakeTempFile(m_szStdoutCopy, os_kPathLen)) {
                m_szStdoutCopy[0] = '\0';
                return fail(m_pszOutName, "cannot write: no temporary file");
            }
            pszOutput = m_szStdoutCopy;
        } else {
            if (!osfl_BeginReplace(&m_replacement, m_options.pszOut))
                return failWithError(m_pszOutName, "cannot write", m_replacement.nError);
            // The sorter opens its output by name.
            osfl_Close(m_replacement.hFile);
            m_replacement.hFile = osfl_kInvalidHandle;
            pszOutput = m_replacement.szTemp;
        }

        // The work area holds the record table pointer and a line buffer; keep it off the stack.
        SortWork *pWork = new (std::nothrow) SortWork();
        if (pWork == nullptr)
            return fail(m_pszInName, "out of memory");
        pWork->pOwner = nullptr;
        pWork->pfnWarning = &SortRun::warning;
        pWork->pWarningContext = this;
        int nResult = sortHexFile(pszInput, pszOutput, pWork, nullptr);
        int nExit = nResult == 0 ? 0 : sortFailure(pWork);
        std::uint32_t nWarnings = pWork->nWarnings;
        delete pWork;
        if (nExit != 0)
            return nExit;
        if (m_options.bStrict && nWarnings != 0) {
            char szReason[160];
            std::snprintf(szReason, sizeof szReason, "%u warning%s with --strict: %s left unchanged",
                          static_cast<unsigned>(nWarnings), nWarnings == 1 ? "" : "s", m_pszOutName);
            return fail(m_pszInName, szReason);
        }
        return isStdStream(m_options.pszOut) ? copyToStandardOutput() : commit();
    }

private:
    static void warning(void *pContext, std::uint32_t nLine, int nWarning)
    {
        const SortRun *pRun = static_cast<const SortRun *>(pContext);
        std::fprintf(stderr, "%s:%u: warning: %s\n", pRun->m_pszInName, static_cast<unsigned>(nLine),
                     hex_SortWarningText(nWarning));
    }

    int fail(const char *pszFile, const char *pszWhat)
    {
        std::fprintf(stderr, "%s\n%s: %s\n", flsh_ResultText(FR_SORT_FAILED), pszFile, pszWhat);
        return FR_SORT_FAILED;
    }

    int failWithError(const char *pszFile, const char *pszWhat, int nError)
    {
        if (nError == 0)
            return fail(pszFile, pszWhat);
        std::fprintf(stderr, "%s\n%s: %s: %s\n", flsh_ResultText(FR_SORT_FAILED), pszFile, pszWhat,
                     os_ErrorText(nError));
        return FR_SORT_FAILED;
    }

    int sortFailure(const SortWork *pWork)
    {
        const char *pszFile = pWork->nFailureFile == hex_kSortOutput ? m_pszOutName : m_pszInName;
        const char *pszWhat = hex_SortFailureText(pWork->nFailure);
        if (pWork->nFailureLine != 0) {
            std::fprintf(stderr, "%s\n%s:%u: %s\n", flsh_ResultText(FR_SORT_FAILED), pszFile,
                         static_cast<unsigned>(pWork->nFailureLine), pszWhat);
            return FR_SORT_FAILED;
        }
        return failWithError(pszFile, pszWhat, pWork->nFailureError);
    }

    bool copyStandardInput()
    {
        if (!flsh_MakeTempFile(m_szStdinCopy, os_kPathLen)) {
            m_szStdinCopy[0] = '\0';
            fail(m_pszInName, "cannot read: no temporary file");
            return false;
        }
        osfl_Handle hCopy = osfl_Open(m_szStdinCopy, osfl_kReadWrite);
        if (hCopy == osfl_kInvalidHandle) {
            failWithError(m_pszInName, "cannot read", os_LastError());
            return false;
        }
        bool bWriteFailed = false;
        bool bOk = copyAll(osfl_StdInput(), hCopy, &bWriteFailed);
        int nError = os_LastError();
        osfl_Close(hCopy);
        if (!bOk)
            failWithError(m_pszInName, bWriteFailed ? "cannot keep a copy" : "cannot read", nError);
        return bOk;
    }

    int copyToStandardOutput()
    {
        osfl_Handle hSorted = osfl_Open(m_szStdoutCopy, osfl_kRead);
        if (hSorted == osfl_kInvalidHandle)
            return failWithError(m_pszOutName, "cannot write", os_LastError());
        bool bWriteFailed = false;
        bool bOk = copyAll(hSorted, osfl_StdOutput(), &bWriteFailed);
        int nError = os_LastError();
        osfl_Close(hSorted);
        return bOk ? 0 : failWithError(m_pszOutName, "cannot write", nError);
    }

    int commit()
    {
        if (!osfl_CommitReplace(&m_replacement))
            return failWithError(m_pszOutName, "cannot write", m_replacement.nError);
        return 0;
    }

    const Options &m_options;
    const char *m_pszInName;
    const char *m_pszOutName;
    osfl_Replacement m_replacement{};
    char m_szStdinCopy[os_kPathLen] = "";
    char m_szStdoutCopy[os_kPathLen] = "";
};

} // namespace

int cli_SortHex(int argc, char **argv)
{
    Options options;
    int nExit = parseOptions(argc, argv, &options);
    if (nExit != 0)
        return nExit < 0 ? 0 : nExit;
    SortRun run(options);
    return run.run();
}
