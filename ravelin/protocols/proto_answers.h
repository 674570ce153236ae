// Waiting for one of several answers of a device under the port's deadline, shared by the chip
// download protocols. A protocol lists its acceptable answers in the order they are to be tested;
// each received byte goes to the watchers in that order, and the first that completes decides.
#pragma once

#include "ravelin/serial/urswin32.h"

// Most answers one wait watches for.
constexpr int proto_kMaxAnswers = 12;

struct proto_AnswerSet {
    int nCount;
    ResponseWatcher aWatchers[proto_kMaxAnswers];
};

// Binds the set to nCount answers (at most proto_kMaxAnswers; the texts must outlive the set).
void proto_ResetAnswers(proto_AnswerSet *pSet, const char *const *apszAnswers, int nCount);
// Feeds one byte to the watchers from index nFrom on, in order, and stops at the first that has now
// seen its answer: returns that index, or -1. Watchers after it do not see the byte.
int proto_FeedAnswers(proto_AnswerSet *pSet, int nByte, int nFrom);
// Starts one watcher afresh (an answer that only informs and lets the wait go on, or one refused).
void proto_RearmAnswer(proto_AnswerSet *pSet, int nIndex);

// Called with each received byte; a result of 0 or more ends the wait with that result.
typedef int (*proto_ByteHandler)(void *pContext, int nByte);

// Starts the port's deadline at nSeconds and hands every received byte to the handler until it
// returns 0 or more (that is the result) or the deadline passes (-1). Read errors do not end the
// wait. The deadline is stopped on every way out.
int proto_WaitAnswer(UrsPort *pPort, int nSeconds, proto_ByteHandler pfnByte, void *pContext);

// The plain wait: up to nSeconds for the first of the texts (at most proto_kMaxAnswers, fed in the
// order given) to appear in the received bytes. Returns the index of the text seen, or -1 when the
// deadline passed first.
int proto_WaitForAnswer(UrsPort *pPort, int nSeconds, const char *const *apszAnswers, int nCount);
