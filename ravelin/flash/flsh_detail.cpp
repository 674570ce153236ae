// The result's detail: what a front end and the log add to a result's text when that text alone
// would send the user the wrong way (a time-out that was really an unplugged device, a port that
// "could not be opened" for a reason the user can fix).
#include "ravelin/flash/flsh.h"
#include "ravelin/serial/urs_portcheck.h"
#include "ravelin/support/log.h"

namespace {

const char *const kModule = "flsh";
const char *const kLineLost = "the line was lost";

} // namespace

void flsh_SetResultDetail(DeviceUpdate *pUpdate, const char *pszDetail)
{
    if (pUpdate == nullptr || pszDetail == nullptr)
        return;
    os_CopyBounded(pUpdate->szResultDetail, pszDetail, flsh_kResultDetailLen);
    log_Write(__LINE__, kModule, "<%s> %s", flsh_PortDisplayName(pUpdate), pUpdate->szResultDetail);
    log_Flush();
}

int flsh_NoteLineLost(DeviceUpdate *pUpdate, const UrsPort *pPort)
{
    if (!urs_LineLost(pPort))
        return 0;
    flsh_SetResultDetail(pUpdate, kLineLost);
    return 1;
}

void flsh_NoteOpenFailure(DeviceUpdate *pUpdate)
{
    if (pUpdate == nullptr)
        return;
    UrsPortCheck check;
    char szReason[flsh_kResultDetailLen];
    // Looked at right after the failed open: what stood in its way is almost always still there.
    if (urs_CheckPort(pUpdate->szPortPath, false, &check) == urs_kPortUsable)
        os_CopyBounded(szReason, "the port could not be set up", sizeof szReason);
    else
        urs_DescribePortCheck(&check, szReason, sizeof szReason);
    flsh_SetResultDetail(pUpdate, szReason);
}
