#include "ravelin/protocols/chip_wait.h"

int chip_WaitForAnswer(UrsPort *pPort, int nSeconds, const char *const *ppszAnswers, int nCount)
{
    if (nCount > chip_kMaxAnswers)
        nCount = chip_kMaxAnswers;
    ResponseWatcher watchers[chip_kMaxAnswers];
    for (int i = 0; i < nCount; ++i)
        urs_ResetWatcher(&watchers[i], ppszAnswers[i]);
    urs_StartTimer(pPort, nSeconds);
    int nSeen = -1;
    while (nSeen < 0) {
        int nByte = urs_GetChar(pPort);
        if (nByte == URS_TIMEOUT)
            break;
        if (nByte < 0)
            continue;  // an I/O error waits out its allowance in the serial layer; the deadline ends us
        for (int i = 0; i < nCount && nSeen < 0; ++i)
            if (urs_FeedWatcher(&watchers[i], nByte))
                nSeen = i;
    }
    urs_StopTimer(pPort);
    return nSeen;
}
