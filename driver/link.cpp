// link: supervision of the serial conversation with the vision mixer -- the
// one-second poll and its 500 ms acknowledge, the framing of what the mixer
// sends into counted frames, the 200 ms frame time-out, line restarts, the
// error count and the link state on the panel and in slot 4094 (through the
// publisher); and the line restart after the serial device came back.
// Main window thread only: driven by WM_TIMER and WM_COMMNOTIFY.
#include <windows.h>
#include <string.h>
#include "driver/mixtally.h"
#include "driver/infowatch.h"
#include "driver/portwatch.h"
#include "driver/publish.h"
#include "comms/comms.h"
#include "comms/portset.h"
#include "common/common32.h"

BYTE InBuf[INBUF_SIZE];
DWORD uRxCount = 0;
DWORD uExpectedCount = 0;
int iCommsFail = LINK_UNKNOWN;
DWORD uErrors = 0;

#define MIXER_ACK       0x84
#define MIXER_NAK       0x85
#define MIXER_RESTART   0x30

#define PERIOD_INCOMING 200
#define PERIOD_TRANSMIT 500
#define PERIOD_POLL     1000
// GetTickCount moves in steps of up to 16 ms: a timer counts as overdue only
// when the tick count says so even after the longest step.
#define TICK_STEP       16
// A drain that meets a stream it cannot finish still publishes, polls and
// shows its lines this often.
#define DRAIN_SLICE     100

static const BYTE abPoll[3] = { 0x02, 0xFF, 0x80 };
const BYTE abStartupCommand[4] = { 0x03, 0x24, 0x11, 0xFF };

// ---------------------------------------------------------------- timers

DWORD (WINAPI *pfnLinkTicks)(void) = GetTickCount;
UINT_PTR (WINAPI *pfnLinkSetTimer)(HWND, UINT_PTR, UINT, TIMERPROC) = SetTimer;

// When the link armed each window timer, and whether it is armed. The
// platform makes a WM_TIMER only while the queue holds nothing else, so a
// flood of notifications keeps every timer from firing; the link then runs
// a timer that is due from the notification itself. Main thread only.
static DWORD adwArmedAt[ID_TIMER_POLL + 1];
static BYTE afArmed[ID_TIMER_POLL + 1];
static const UINT auPeriod[ID_TIMER_POLL + 1] = { 0, PERIOD_INCOMING, PERIOD_TRANSMIT, PERIOD_POLL };

static void fnArm(HWND hWnd, UINT id)
{
    pfnLinkSetTimer(hWnd, id, auPeriod[id], NULL);
    adwArmedAt[id] = pfnLinkTicks();
    afArmed[id] = 1;
}

static void fnDisarm(HWND hWnd, UINT id)
{
    KillTimer(hWnd, id);
    afArmed[id] = 0;
}

// ---------------------------------------------------------------- nesting

// A modal loop run from inside a slot exchange (a window message another
// program sends arrives while the exchange waits) would dispatch
// notifications and timers in the middle of a frame or a publication. Such
// calls are noted and run when the outer one has ended. Main thread only.
static int iBusy;
static int fRxDeferred;
static BYTE afTimerDeferred[ID_TIMER_POLL + 1];

static void fnRxBody(HWND hWnd);
static void fnRunTimer(HWND hWnd, UINT id);

void fnLinkEnter(void)
{
    iBusy++;
}

void fnLinkLeave(HWND hWnd)
{
    while (iBusy == 1) {
        UINT id = ID_TIMER_INCOMING;
        while (id <= ID_TIMER_POLL && !afTimerDeferred[id])
            id++;
        if (fRxDeferred) {
            fRxDeferred = 0;
            fnRxBody(hWnd);
        } else if (id <= ID_TIMER_POLL) {
            afTimerDeferred[id] = 0;
            // An acknowledge or a completed frame since may have disarmed it.
            if (afArmed[id])
                fnRunTimer(hWnd, id);
        } else {
            break;
        }
    }
    iBusy--;
}

BOOL fnLinkBusy(void)
{
    return iBusy > 0;
}

// ---------------------------------------------------------------- link state

static void fnLog(LPCSTR lpszText)
{
    fnDebugList(hDlg, IDC_DEBUGLIST, lpszText);
}

// Ends the frame in progress, whatever the way: the decoder relies on zeros
// after the last byte of a frame.
static void fnClearFrame(void)
{
    memset(InBuf, 0, sizeof InBuf);
    uRxCount = 0;
    uExpectedCount = 0;
}

// The link state on the panel and in slot 4094, changed only when it changes.
static void fnEnterState(LINKSTATE state, LPCSTR lpszCaption, LPCSTR lpszColour)
{
    if (iCommsFail == state)
        return;
    iCommsFail = state;
    // Caption first: a status button takes "/__nF__" as a colour code only.
    SetDlgItemTextA(hDlg, IDC_COMMS, lpszCaption);
    SetDlgItemTextA(hDlg, IDC_COMMS, lpszColour);
    fnPublishLink(state);
}

static void fnEnterFailed(void)
{
    fnEnterState(LINK_FAILED, "Fail", "/__9F__");
}

// ---------------------------------------------------------------- restarts

// A dead device, noticed once: one error, the link failed at once, and
// what was waiting on the old device ends with it -- the half frame and the
// acknowledge of its last poll, whose time-outs would count the same loss
// again.
static BOOL fnNoticeLoss(HWND hWnd)
{
    if (!fnPortNoticeLoss())
        return FALSE;
    uErrors++;
    fnDisarm(hWnd, ID_TIMER_INCOMING);
    fnDisarm(hWnd, ID_TIMER_TRANSMIT);
    fnClearFrame();
    fnEnterFailed();
    return TRUE;
}

// The restart proper; after a reopen the start-up command follows, as at
// start-up, so that the mixer sends its state again. With no port open
// there is no line to restart.
static void fnRestartLine(HWND hWnd, BOOL fReopened)
{
    static const BYTE abRestart[1] = { MIXER_RESTART };
    if (hCommPort == -1)
        return;
    FlushComm(hCommPort, PURGE_RXCLEAR);
    FlushComm(hCommPort, PURGE_TXCLEAR);
    fnCommBreak(hWnd, hCommPort, 38400, 2);
    WriteComm(hCommPort, abRestart, 1);
    fnLog("Restarting comms");
    if (fReopened)
        WriteComm(hCommPort, abStartupCommand, sizeof abStartupCommand);
}

// Closes a dead port and tries to open it again; a frame the old device
// left half-sent must not take the new one's bytes.
static BOOL fnReopen(HWND hWnd)
{
    if (!fnPortReopen(hWnd))
        return FALSE;
    fnDisarm(hWnd, ID_TIMER_INCOMING);
    fnClearFrame();
    return TRUE;
}

// fnResetComms; TRUE when it noticed a loss (and counted its error).
static BOOL fnRestart(HWND hWnd)
{
    // Only a dead device is reopened; a silent mixer only gets the restart.
    BOOL fNoticed = fnNoticeLoss(hWnd);
    BOOL fReopened = fnPortLost() && fnReopen(hWnd);
    fnRestartLine(hWnd, fReopened);
    return fNoticed;
}

void fnResetComms(HWND hWnd)
{
    fnRestart(hWnd);
}

// ---------------------------------------------------------------- receiving

// How many bytes of the frame in progress one ReadComm may take: up to its
// last byte, or, for a count byte of 0 (a frame that never completes), up to
// the end of InBuf.
static WORD fnFrameBytesWanted(void)
{
    if (uExpectedCount >= uRxCount)
        return (WORD)(uExpectedCount - uRxCount + 1);
    return (WORD)(INBUF_SIZE - uRxCount);
}

static BOOL fnOverdue(UINT id)
{
    return afArmed[id] && pfnLinkTicks() - adwArmedAt[id] >= auPeriod[id] + TICK_STEP;
}

// Runs every timer that is due but has not fired: under a flood of
// notifications no WM_TIMER is made.
static void fnRunOverdue(HWND hWnd)
{
    for (UINT id = ID_TIMER_INCOMING; id <= ID_TIMER_POLL; id++) {
        if (fnOverdue(id))
            fnRunTimer(hWnd, id);
    }
}

static void fnDrain(HWND hWnd)
{
    DWORD dwSlice = pfnLinkTicks();
    // A byte that starts a message is taken on its own: an acknowledge, a
    // negative acknowledge (which may restart the line and reopen the port)
    // or a count byte. The rest of a frame is plain data, taken in one call up
    // to the frame's last byte, which is handled the moment it is read: every
    // ReadComm takes the ring buffer's semaphore. Every waiting byte is
    // consumed. uRxCount never exceeds 256 here.
    int n;
    while ((n = ReadComm(hCommPort, &InBuf[uRxCount], uRxCount == 0 ? 1 : fnFrameBytesWanted())) > 0) {
        if (uRxCount == 0) {
            BYTE b = InBuf[0];
            if (b == MIXER_ACK) {
                InBuf[0] = 0;
                fnEnterState(LINK_HEALTHY, "OK", "/__2F__");
                fnDisarm(hWnd, ID_TIMER_TRANSMIT);
            } else if (b == MIXER_NAK) {
                uErrors++;
                fnDisarm(hWnd, ID_TIMER_TRANSMIT);
                fnLog("NAK RESTARTING COMMS");
                fnRestart(hWnd);
                fnClearFrame();
            } else {
                uExpectedCount = b;
                uRxCount = 1;
                fnArm(hWnd, ID_TIMER_INCOMING);
            }
        } else if (uRxCount + (DWORD)n - 1 == uExpectedCount) {
            uRxCount = uExpectedCount;
            fnDisarm(hWnd, ID_TIMER_INCOMING);
            fnParseRxData(InBuf, uRxCount);
            fnClearFrame();
            if (pfnLinkTicks() - dwSlice >= DRAIN_SLICE) {
                // Only the poll: the time-outs wait for the drain's end, since
                // an acknowledge or the rest of a frame may be among the bytes
                // not yet read.
                if (fnOverdue(ID_TIMER_POLL))
                    fnRunTimer(hWnd, ID_TIMER_POLL);
                fnPublishPending();
                if (fDebug) {
                    fnDebugListRedraw(TRUE);
                    fnDebugListRedraw(FALSE);
                }
                dwSlice = pfnLinkTicks();
            }
        } else if ((uRxCount += (DWORD)n) >= INBUF_SIZE) {
            // A frame longer than the buffer (only a count byte of 0 does
            // that): drop it; the incoming-message timer stays armed.
            memset(InBuf, 0, sizeof InBuf);
            uRxCount = 0;
        }
    }
    // The serial layer posts a notification when its device dies: restart
    // the line (and with it try the reopen) now.
    if (fnNoticeLoss(hWnd))
        fnRestart(hWnd);
}

static void fnRxBody(HWND hWnd)
{
    fnDrain(hWnd);
    fnRunOverdue(hWnd);
    // Only now, with nothing left to read, is the newest map published.
    fnPublishPending();
    fnRunOverdue(hWnd);
}

void fnRxCommData(HWND hWnd)
{
    if (iBusy) {
        fRxDeferred = 1;
        return;
    }
    fnLinkEnter();
    // One repaint of a shown debug list for all the lines of the notification.
    if (fDebug)
        fnDebugListRedraw(FALSE);
    fnRxBody(hWnd);
    fnLinkLeave(hWnd);
    if (fDebug)
        fnDebugListRedraw(TRUE);
}

// ---------------------------------------------------------------- timers' work

static void fnPollTick(HWND hWnd)
{
    // While the device is lost the reopen is tried at every poll: a device
    // that is back is polled within about a second.
    if (fnPortLost() && fnReopen(hWnd))
        fnRestartLine(hWnd, TRUE);
    // No port, nothing sent: no acknowledge is awaited. The transmit timer
    // then only has the reopen tried again half a period on.
    if (hCommPort != -1)
        WriteComm(hCommPort, abPoll, sizeof abPoll);
    if (hCommPort != -1 || fnPortLost())
        fnArm(hWnd, ID_TIMER_TRANSMIT);
    // The next poll a period after this one, however this one came.
    fnArm(hWnd, ID_TIMER_POLL);
    fnInfodrivWatchTick();
    SetDlgItemInt(hDlg, IDC_NETTX, uNetTX, FALSE);
    SetDlgItemInt(hDlg, IDC_ERRORS, uErrors, FALSE);
}

static void fnRunTimer(HWND hWnd, UINT id)
{
    switch (id) {
    case ID_TIMER_POLL:
        fnPollTick(hWnd);
        break;
    case ID_TIMER_TRANSMIT:
        fnDisarm(hWnd, ID_TIMER_TRANSMIT);
        if (hCommPort == -1) {
            if (fnPortLost() && fnReopen(hWnd))
                fnRestartLine(hWnd, TRUE);
            break;
        }
        fnLog("Transmit Timeout");
        // A loss this restart notices has counted its one error.
        if (!fnRestart(hWnd))
            uErrors++;
        fnEnterFailed();
        break;
    case ID_TIMER_INCOMING:
        fnDisarm(hWnd, ID_TIMER_INCOMING);
        fnLog("Incoming Message Timeout");
        fnClearFrame();
        uErrors++;
        fnEnterFailed();
        break;
    default:
        break;
    }
}

void fnTimer(HWND hWnd, WPARAM idTimer)
{
    if (idTimer < ID_TIMER_INCOMING || idTimer > ID_TIMER_POLL)
        return;
    if (iBusy) {
        afTimerDeferred[idTimer] = 1;
        return;
    }
    fnLinkEnter();
    fnRunTimer(hWnd, (UINT)idTimer);
    fnLinkLeave(hWnd);
}

void fnTimerMessage(HWND hWnd, WPARAM idTimer)
{
    if (idTimer < ID_TIMER_INCOMING || idTimer > ID_TIMER_POLL || !afArmed[idTimer])
        return;     // disarmed, or run from a notification, since it was made
    // The poll run from a notification re-armed its timer; a message made
    // before that is no second poll.
    if (idTimer == ID_TIMER_POLL && pfnLinkTicks() - adwArmedAt[ID_TIMER_POLL] < PERIOD_POLL / 2)
        return;
    fnTimer(hWnd, idTimer);
}

void fnStartPollTimer(HWND hWnd)
{
    fnArm(hWnd, ID_TIMER_POLL);
}

void fnLinkReset(HWND hWnd)
{
    for (UINT id = ID_TIMER_INCOMING; id <= ID_TIMER_POLL; id++) {
        fnDisarm(hWnd, id);
        afTimerDeferred[id] = 0;
    }
    iBusy = 0;
    fRxDeferred = 0;
    fnClearFrame();
    iCommsFail = LINK_UNKNOWN;
    uErrors = 0;
}
