// Answer waits shared by the chip download protocols (see proto_answers.h).
#include "ravelin/protocols/proto_answers.h"

#include "ravelin/support/log.h"
#include "ravelin/support/oswin32.h"

void proto_ResetAnswers(proto_AnswerSet *pSet, const char *const *apszAnswers, int nCount)
{
    DBG_ASSERT(nCount >= 0 && nCount <= proto_kMaxAnswers, "protocols");
    if (nCount < 0)
        nCount = 0;
    if (nCount > proto_kMaxAnswers)
        nCount = proto_kMaxAnswers;
    pSet->nCount = nCount;
    for (int i = 0; i < nCount; ++i)
        urs_ResetWatcher(&pSet->aWatchers[i], apszAnswers[i]);
}

int proto_FeedAnswers(proto_AnswerSet *pSet, int nByte, int nFrom)
{
    for (int i = nFrom < 0 ? 0 : nFrom; i < pSet->nCount; ++i)
        if (urs_FeedWatcher(&pSet->aWatchers[i], nByte))
            return i;
    return -1;
}

void proto_RearmAnswer(proto_AnswerSet *pSet, int nIndex)
{
    if (nIndex >= 0 && nIndex < pSet->nCount)
        pSet->aWatchers[nIndex].nPosition = 0;
}

int proto_WaitAnswer(UrsPort *pPort, int nSeconds, proto_ByteHandler pfnByte, void *pContext)
{
    urs_StartTimer(pPort, nSeconds);
    int nResult = -1;
    for (;;) {
        os_yield();
        int nByte = urs_GetChar(pPort);
        if (nByte == URS_TIMEOUT)
            break;
        if (nByte < 0) {
            // A read error: the device may still answer before the deadline. A dead line fails
            // every read at once, so pause briefly rather than spin.
            urs_SleepMs(10);
            continue;
        }
        nResult = pfnByte(pContext, nByte);
        if (nResult >= 0)
            break;
    }
    urs_StopTimer(pPort);
    return nResult;
}
