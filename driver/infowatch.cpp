// infowatch: loss and return of the driver's infodriver; see infowatch.h.
//
// While lost the device's entry in the client is forgotten, so slot writes
// are refused at once instead of going to a dead (or re-used) window
// handle, and none of them counts in uNetTX. The decoder and the publisher
// go on keeping the map, so the new infodriver gets the map as it stands
// when it answers.
#include <windows.h>
#include <stdio.h>
#include "driver/infowatch.h"
#include "driver/mixtally.h"
#include "driver/publish.h"
#include "infodriver/exinfdrv.h"
#include "common/common32.h"

int fInfodrivLost = 0;

// The client's counts as the last tick left them: a change is news.
// Main window thread only.
static DWORD uNoReplySeen;
static DWORD uAnsweredSeen;

static void fnMarkLost(void)
{
    fInfodrivLost = 1;
    fnForgetExtInfodriv(iDeviceNo);
    uErrors++;
    fnDebugList(hDlg, IDC_DEBUGLIST, "Infodriver lost");
    // The count stays as the caption; the colour says the writes go nowhere.
    SetDlgItemTextA(hDlg, IDC_NETTX, "/__9F__");
    // Whatever the next one is, it holds nothing of ours.
    fnPublishAllOwed();
}

static BOOL fnInfodrivGone(void)
{
    if (!IsWindow(fnGetHWND(iDeviceNo)))
        return TRUE;
    return uExtInfodrivAnswered == uAnsweredSeen && uExtInfodrivMissRun >= INFODRIV_LOST_MISSES;
}

// While lost: a quiet hook, and everything owed to the one that answers.
static void fnTryBack(void)
{
    if (fnRehookExtInfodriv(iDeviceNo) != 0)
        return;
    DWORD uAnswered = uExtInfodrivAnswered;
    UINT uOwed = fnPublishOwed();
    fnPublishRetry();
    if (uOwed != 0 && uExtInfodrivAnswered == uAnswered) {
        // Hooked but not answering: stay lost, quietly, and try again next tick.
        fnForgetExtInfodriv(iDeviceNo);
        return;
    }
    fInfodrivLost = 0;
    SetDlgItemTextA(hDlg, IDC_NETTX, "/__2F__");
    fnDebugList(hDlg, IDC_DEBUGLIST, "Infodriver back");
}

// Failed exchanges since the last tick: one count in the debug list, one
// error each, and the slots they left unconfirmed written again.
static void fnRetryFailed(void)
{
    DWORD uFailed = uExtInfodrivNoReply - uNoReplySeen;
    UINT uOwed = fnPublishOwed();
    if (uFailed != 0) {
        char acLine[96];
        int n = _snprintf(acLine, sizeof acLine, "%lu slot exchange%s unanswered", (unsigned long)uFailed,
                          uFailed == 1 ? "" : "s");
        if (uOwed != 0 && n > 0 && n < (int)sizeof acLine)
            _snprintf(acLine + n, sizeof acLine - n, ", retrying %u slot%s", uOwed, uOwed == 1 ? "" : "s");
        acLine[sizeof acLine - 1] = 0;
        fnDebugList(hDlg, IDC_DEBUGLIST, acLine);
        uErrors += uFailed;
    }
    // A retry that fails again is news of the next tick.
    uNoReplySeen = uExtInfodrivNoReply;
    if (uOwed != 0)
        fnPublishRetry();
}

void fnInfodrivWatchTick(void)
{
    if (!fInfodrivLost && fnInfodrivGone())
        fnMarkLost();
    if (fInfodrivLost) {
        fnTryBack();
        uNoReplySeen = uExtInfodrivNoReply;     // part of the loss, counted once
    } else {
        fnRetryFailed();
    }
    uAnsweredSeen = uExtInfodrivAnswered;
}

void fnInfodrivWatchReset(void)
{
    fInfodrivLost = 0;
    uNoReplySeen = uExtInfodrivNoReply;
    uAnsweredSeen = uExtInfodrivAnswered;
}
