// link: supervision of the serial conversation with the vision mixer -- the
// one-second poll and its 500 ms acknowledge, the framing of what the mixer
// sends into counted frames, the 200 ms frame time-out, line restarts, the
// error count and the link state on the panel and in slot 4094.
// Main window thread only: driven by WM_TIMER and WM_COMMNOTIFY.
#include <windows.h>
#include <string.h>
#include "driver/mixtally.h"
#include "driver/infowatch.h"
#include "comms/comms.h"
#include "comms/portset.h"
#include "infodriver/exinfdrv.h"
#include "common/common32.h"

BYTE InBuf[INBUF_SIZE];
DWORD uRxCount = 0;
DWORD uExpectedCount = 0;
int iCommsFail = -1;
DWORD uErrors = 0;

#define MIXER_ACK       0x84
#define MIXER_NAK       0x85
#define MIXER_RESTART   0x30

#define PERIOD_INCOMING 200
#define PERIOD_TRANSMIT 500

#define LINK_HEALTHY 1
#define LINK_FAILED  2

static const BYTE abPoll[3] = { 0x02, 0xFF, 0x80 };

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

static void fnEnterFailed(void)
{
    if (iCommsFail == LINK_FAILED)
        return;
    iCommsFail = LINK_FAILED;
    // Caption first: a status button takes "/__nF__" as a colour code only.
    SetDlgItemTextA(hDlg, IDC_COMMS, "Fail");
    SetDlgItemTextA(hDlg, IDC_COMMS, "/__9F__");
    fnCheckSlot(iDeviceNo, "1", SLOT_COMMS_STATUS, 0);
    fnInfodrivWatchExchanges();
}

static void fnEnterHealthy(void)
{
    if (iCommsFail == LINK_HEALTHY)
        return;
    iCommsFail = LINK_HEALTHY;
    SetDlgItemTextA(hDlg, IDC_COMMS, "OK");
    SetDlgItemTextA(hDlg, IDC_COMMS, "/__2F__");
    fnCheckSlot(iDeviceNo, "0", SLOT_COMMS_STATUS, 0);
    fnInfodrivWatchExchanges();
}

void fnResetComms(HWND hWnd)
{
    static const BYTE abRestart[1] = { MIXER_RESTART };
    FlushComm(hCommPort, PURGE_RXCLEAR);
    FlushComm(hCommPort, PURGE_TXCLEAR);
    fnCommBreak(hWnd, hCommPort, 38400, 2);
    WriteComm(hCommPort, abRestart, 1);
    fnLog("Restarting comms");
}

void fnRxCommData(HWND hWnd)
{
    // One byte at a time, so a frame is decoded the moment its last byte is
    // read; every waiting byte is consumed. uRxCount never exceeds 256 here.
    while (ReadComm(hCommPort, &InBuf[uRxCount], 1) > 0) {
        if (uRxCount == 0) {
            BYTE b = InBuf[0];
            if (b == MIXER_ACK) {
                InBuf[0] = 0;
                fnEnterHealthy();
                KillTimer(hWnd, ID_TIMER_TRANSMIT);
            } else if (b == MIXER_NAK) {
                uErrors++;
                KillTimer(hWnd, ID_TIMER_TRANSMIT);
                fnLog("NAK RESTARTING COMMS");
                fnResetComms(hWnd);
                fnClearFrame();
            } else {
                uExpectedCount = b;
                uRxCount = 1;
                SetTimer(hWnd, ID_TIMER_INCOMING, PERIOD_INCOMING, NULL);
            }
        } else if (uRxCount == uExpectedCount) {
            KillTimer(hWnd, ID_TIMER_INCOMING);
            fnParseRxData(InBuf, uRxCount);
            fnClearFrame();
        } else if (++uRxCount >= INBUF_SIZE) {
            // A frame longer than the buffer (only a count byte of 0 does
            // that): drop it; the incoming-message timer stays armed.
            memset(InBuf, 0, sizeof InBuf);
            uRxCount = 0;
        }
    }
}

void fnTimer(HWND hWnd, WPARAM idTimer)
{
    switch (idTimer) {
    case ID_TIMER_POLL:
        WriteComm(hCommPort, abPoll, sizeof abPoll);
        SetTimer(hWnd, ID_TIMER_TRANSMIT, PERIOD_TRANSMIT, NULL);
        fnInfodrivWatchTick();
        SetDlgItemInt(hDlg, IDC_NETTX, uNetTX, FALSE);
        SetDlgItemInt(hDlg, IDC_ERRORS, uErrors, FALSE);
        break;
    case ID_TIMER_TRANSMIT:
        KillTimer(hWnd, ID_TIMER_TRANSMIT);
        fnLog("Transmit Timeout");
        fnResetComms(hWnd);
        uErrors++;
        fnEnterFailed();
        break;
    case ID_TIMER_INCOMING:
        KillTimer(hWnd, ID_TIMER_INCOMING);
        fnLog("Incoming Message Timeout");
        fnClearFrame();
        uErrors++;
        fnEnterFailed();
        break;
    default:
        break;
    }
}
