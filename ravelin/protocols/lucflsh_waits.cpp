// The answer waits of the Lucent/Agere protocol.
//
// "OK" is also the tail of every rejection "NOK1" ... "NOK4", and the watcher for "OK" sees each byte
// first: an "OK" whose "O" follows an "N" is therefore never taken for an acknowledgement. The
// watcher is started afresh and the byte goes on to the rejection watchers.
#include <cstring>

#include "ravelin/protocols/lucflsh.h"
#include "ravelin/protocols/proto_answers.h"
#include "ravelin/support/oswin32.h"

namespace {

enum AnswerKind { kAck, kNok, kVersion, kEnd };

struct Answer {
    const char *pszText;
    AnswerKind kind;
    int nResult;                // kAck and kNok: the wait's result
    const char *pszVersion;     // kVersion: what the record's loader version becomes
};

// In the order the watchers are fed.
const Answer kOkOrNok[] = {
    {"OK", kAck, lucflsh_cAcknowledged, nullptr},     {"OK ", kAck, lucflsh_cAcknowledged, nullptr},
    {"NOK1", kNok, lucflsh_cNok1, nullptr},           {"NOK2", kNok, lucflsh_cNok2, nullptr},
    {"NOK3", kNok, lucflsh_cNok3, nullptr},           {"NOK4", kNok, lucflsh_cNok4, nullptr},
    {"Ver:4.3", kVersion, 0, "4.3"},                  {"Ver:4.4", kVersion, 0, "4.4"},
    {"OCM Ver:1.3", kVersion, 0, "1.3"},
};
const Answer kVersionAnswers[] = {
    {"OK", kEnd, 0, nullptr},          {"OK ", kEnd, 0, nullptr},
    {"Ver:4.3", kVersion, 0, "4.3"},   {"Ver:4.4", kVersion, 0, "4.4"},
};
const Answer kOkOnly[] = {
    {"OK", kAck, 0, nullptr},
    {"OK ", kAck, 0, nullptr},
};

constexpr int kHistory = 16;

struct WaitState {
    const Answer *pAnswers;
    proto_AnswerSet set;
    unsigned char achRecent[kHistory];  // the last bytes received, the newest at nReceived - 1
    long nReceived;
    char *pszVersion;                   // may be null
    bool bVersionSeen;
};

// The byte received nBack bytes before the newest one (0: the newest); 0 when there is none.
int recentByte(const WaitState *pState, int nBack)
{
    if (nBack >= kHistory || nBack >= pState->nReceived)
        return 0;
    return pState->achRecent[(pState->nReceived - 1 - nBack) % kHistory];
}

// True when the acknowledgement that has just completed is the tail of "NOKn".
bool tailOfRejection(const WaitState *pState, const char *pszAnswer)
{
    return recentByte(pState, static_cast<int>(std::strlen(pszAnswer))) == 'N';
}

int onByte(void *pContext, int nByte)
{
    WaitState *pState = static_cast<WaitState *>(pContext);
    pState->achRecent[pState->nReceived % kHistory] = static_cast<unsigned char>(nByte);
    ++pState->nReceived;
    int nIndex = proto_FeedAnswers(&pState->set, nByte, 0);
    while (nIndex >= 0) {
        const Answer &answer = pState->pAnswers[nIndex];
        bool bAnotherWatcher = false;
        switch (answer.kind) {
        case kAck:
        case kEnd:
            if (!tailOfRejection(pState, answer.pszText)) {
                if (answer.kind == kAck)
                    return answer.nResult;
                return pState->bVersionSeen ? 0 : lucflsh_cNoVersion;
            }
            bAnotherWatcher = true;
            break;
        case kNok:
            return answer.nResult;
        case kVersion:
            if (pState->pszVersion != nullptr)
                os_CopyBounded(pState->pszVersion, answer.pszVersion, flsh_kLoaderVersionLen);
            pState->bVersionSeen = true;
            break;
        }
        // An answer that does not end the wait: its watcher starts afresh so that it can report
        // again, and the watchers after it still see this byte.
        proto_RearmAnswer(&pState->set, nIndex);
        nIndex = bAnotherWatcher || answer.kind == kVersion ? proto_FeedAnswers(&pState->set, nByte, nIndex + 1) : -1;
    }
    return -1;
}

int wait(UrsPort *pPort, int nSeconds, const Answer *pAnswers, int nAnswers, char *pszVersion, int nTimeoutResult)
{
    WaitState state;
    state.pAnswers = pAnswers;
    const char *apszTexts[proto_kMaxAnswers];
    for (int i = 0; i < nAnswers && i < proto_kMaxAnswers; ++i)
        apszTexts[i] = pAnswers[i].pszText;
    proto_ResetAnswers(&state.set, apszTexts, nAnswers);
    state.nReceived = 0;
    state.pszVersion = pszVersion;
    state.bVersionSeen = false;
    int nResult = proto_WaitAnswer(pPort, nSeconds, onByte, &state);
    return nResult < 0 ? nTimeoutResult : nResult;
}

template <std::size_t N>
constexpr int count(const Answer (&)[N])
{
    return static_cast<int>(N);
}

} // namespace

int GetOKorNOKx(UrsPort *pPort, int nSeconds, char *pszVersion)
{
    return wait(pPort, nSeconds, kOkOrNok, count(kOkOrNok), pszVersion, lucflsh_cNoAnswer);
}

int lucflsh_GetVersion(UrsPort *pPort, int nSeconds, char *pszVersion)
{
    return wait(pPort, nSeconds, kVersionAnswers, count(kVersionAnswers), pszVersion, lucflsh_cNoAnswer);
}

int lucflsh_WaitOK(UrsPort *pPort, int nSeconds)
{
    return wait(pPort, nSeconds, kOkOnly, count(kOkOnly), nullptr, 1);
}
