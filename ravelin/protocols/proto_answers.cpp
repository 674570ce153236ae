// Answer waits shared by the chip download protocols (see proto_answers.h).
#include "ravelin/protocols/proto_answers.h"

#include "ravelin/support/log.h"

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
        int nByte = urs_GetChar(pPort);
        if (nByte == URS_TIMEOUT)
            break;
        // A read error: the device may still answer before the deadline. The serial layer has
        // already waited out the read's allowance, so reading on cannot spin.
        if (nByte < 0)
            continue;
        nResult = pfnByte(pContext, nByte);
        if (nResult >= 0)
            break;
    }
    urs_StopTimer(pPort);
    return nResult;
}

namespace {

int firstAnswerSeen(void *pContext, int nByte)
{
    return proto_FeedAnswers(static_cast<proto_AnswerSet *>(pContext), nByte, 0);
}

}  // namespace

int proto_WaitForAnswer(UrsPort *pPort, int nSeconds, const char *const *apszAnswers, int nCount)
{
    proto_AnswerSet set;
    proto_ResetAnswers(&set, apszAnswers, nCount);
    return proto_WaitAnswer(pPort, nSeconds, firstAnswerSeen, &set);
}
