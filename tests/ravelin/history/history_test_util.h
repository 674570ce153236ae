// A private directory per test and a database in it.
#pragma once

#include <string>

#include "ravelin/history/history.h"
#include "ravelin/support/support_test_util.h"

namespace history_test {

using support_test::TempDir;

// A record as a front end fills it before the start.
inline HistRecord SampleRecord(const char *pszPort, const char *pszImage = "PADE107.HEX") {
    HistRecord r;
    hist_InitRecord(&r);
    os_CopyBounded(r.szProgram, "ravelin-cli 1.0.0", sizeof r.szProgram);
    os_CopyBounded(r.szPort, pszPort, sizeof r.szPort);
    os_CopyBounded(r.szPath, (std::string("/dev/pts/") + pszPort).c_str(), sizeof r.szPath);
    os_CopyBounded(r.szModel, "MODEL-A", sizeof r.szModel);
    os_CopyBounded(r.szImage, pszImage, sizeof r.szImage);
    os_CopyBounded(r.szProtocol, "generic", sizeof r.szProtocol);
    r.nSpeed = 115200;
    return r;
}

}  // namespace history_test
