// infowatch: keeps the driver's infodriver in view, once per poll tick.
//
// Lost means gone: the infodriver counts as lost when its window no longer
// exists, or when it has stopped answering -- nothing sent to it since the
// previous tick was answered, and at least INFODRIV_LOST_MISSES exchanges in
// a row went unanswered. A loss is shown once (debug line, one error, the
// Network TX field turns red); the driver then hooks again quietly on every
// tick, and once one answers it writes everything it owns to it, resuming
// where a write fails, never from slot 1 again.
//
// A single exchange without a reply from a window that is still there is
// only a failed exchange: each is one error, and each tick reports them as
// one count ("3 slot exchanges unanswered, retrying 3 slots") and has the
// publisher write every slot still unconfirmed again. Main window thread only.
#pragma once
#include <windows.h>

#define INFODRIV_LOST_MISSES 5

// Set from the loss until an infodriver hooked again has answered.
// Written and read on the main window thread only.
extern int fInfodrivLost;

// The poll tick: notices a lost infodriver (a vanished window costs no
// exchange, so a quiet link notices too), hooks again while lost, reports
// failed exchanges and retries what is unconfirmed.
void fnInfodrivWatchTick(void);
// Back to the state of a newly hooked infodriver (counts as seen).
void fnInfodrivWatchReset(void);
