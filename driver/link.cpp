// link: supervision of the serial conversation with the vision mixer -- the
// one-second poll and its 500 ms acknowledge, the framing of what the mixer
// sends into counted frames, the 200 ms frame time-out, line restarts, the
// error count and the link state on the panel and in slot 4094; and a
// serial device that goes and comes back: the port is reopened on the line
// restart while the serial layer reports its device dead.
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
const BYTE abStartupCommand[4] = { 0x03, 0x24, 0x11, 0xFF };

// The port's section of the device file and start-up's defaults for keys it
// lacks: the same for the first open and every reopen.
#define MIXER_PORT_SETTINGS "Configuration", 1, 38400, 8, 1, "O", 0, 0
#define DEVICE_PATH_SIZE 512

static char acDevicePath[DEVICE_PATH_SIZE];     // main thread; set by start-up
static INT_PTR hStartupPort = -1;               // main thread; the index start-up opened
// The device has gone (the serial layer's dead state, noticed once): the
// port is closed, or about to be, and waits for its reopen. Main thread.
static int fPortLost;

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

INT_PTR fnOpenMixerPort(HWND hWnd, LPCSTR lpszDeviceFile)
{
    lstrcpynA(acDevicePath, lpszDeviceFile, sizeof acDevicePath);
    fPortLost = 0;
    hStartupPort = fnOpenPort(hWnd, acDevicePath, MIXER_PORT_SETTINGS);
    return hStartupPort;
}

// The reopen keeps to the port start-up opened, and only while the device
// file is there: a file out of reach (a configuration share gone) reads as
// all defaults, port 1 among them, and the open would write those back. A
// file that names another port by now waits for the driver's next start.
static BOOL fnDeviceFileNamesOurPort(void)
{
    int iCom;

    if (GetFileAttributesA(acDevicePath) == INVALID_FILE_ATTRIBUTES)
        return FALSE;
    iCom = (int)GetPrivateProfileIntA("Configuration", "Com", 1, acDevicePath);
    return iCom - 1 == hStartupPort;
}

// Notices, once per loss, that the port's device has gone: logged, counted
// as an error and shown as a failed link at once, not at the next time-out.
// TRUE when this call noticed it.
static BOOL fnNoticeLoss(void)
{
    if (fPortLost || hCommPort == -1 || !GetCommDead32(hCommPort))
        return FALSE;
    fPortLost = 1;
    fnLog("Port lost");
    uErrors++;
    fnEnterFailed();
    return TRUE;
}

// Closes the dead port and opens it again from the device file, as start-up
// did, but without message boxes: this is run time. FALSE while the device
// is still missing or the port busy; the next restart tries again.
static BOOL fnReopenPort(HWND hWnd)
{
    INT_PTR hNew;

    if (hCommPort != -1) {
        CloseComm32(hCommPort);
        hCommPort = -1;
    }
    if (!fnDeviceFileNamesOurPort())
        return FALSE;
    hNew = fnOpenPortQuiet(hWnd, acDevicePath, MIXER_PORT_SETTINGS);
    if (hNew == -1)
        return FALSE;
    hCommPort = hNew;
    fPortLost = 0;
    EnableCommNotification(hCommPort, hWnd, 1);
    // A frame the old device left half-sent must not take the new one's bytes.
    KillTimer(hWnd, ID_TIMER_INCOMING);
    fnClearFrame();
    fnLog("Port reopened");
    return TRUE;
}

// The restart proper; after a reopen the start-up command follows, as at
// start-up, so that the mixer sends its state again.
static void fnRestartLine(HWND hWnd, BOOL fReopened)
{
    static const BYTE abRestart[1] = { MIXER_RESTART };
    FlushComm(hCommPort, PURGE_RXCLEAR);
    FlushComm(hCommPort, PURGE_TXCLEAR);
    fnCommBreak(hWnd, hCommPort, 38400, 2);
    WriteComm(hCommPort, abRestart, 1);
    fnLog("Restarting comms");
    if (fReopened)
        WriteComm(hCommPort, abStartupCommand, sizeof abStartupCommand);
}

void fnResetComms(HWND hWnd)
{
    BOOL fReopened = FALSE;

    // Only a dead device is reopened; a silent mixer only gets the restart.
    fnNoticeLoss();
    if (fPortLost)
        fReopened = fnReopenPort(hWnd);
    fnRestartLine(hWnd, fReopened);
}

// How many bytes of the frame in progress one ReadComm may take: up to its
// last byte, or, for a count byte of 0 (a frame that never completes), up to
// the end of InBuf.
static WORD fnFrameBytesWanted(void)
{
    if (uExpectedCount >= uRxCount)
        return (WORD)(uExpectedCount - uRxCount + 1);
    return (WORD)(INBUF_SIZE - uRxCount);
}

void fnRxCommData(HWND hWnd)
{
    // A byte that starts a message is taken on its own: an acknowledge, a
    // negative acknowledge (which may restart the line and reopen the port)
    // or a count byte. The rest of a frame is plain data, taken in one call up
    // to the frame's last byte, which is handled the moment it is read. Under
    // Wine every ReadComm takes the buffer's semaphore, two server round trips,
    // so one call per byte cost a 22-byte frame 44 of them. Every waiting byte
    // is consumed. uRxCount never exceeds 256 here.
    int n;
    while ((n = ReadComm(hCommPort, &InBuf[uRxCount], uRxCount == 0 ? 1 : fnFrameBytesWanted())) > 0) {
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
        } else if (uRxCount + (DWORD)n - 1 == uExpectedCount) {
            uRxCount = uExpectedCount;
            KillTimer(hWnd, ID_TIMER_INCOMING);
            fnParseRxData(InBuf, uRxCount);
            fnClearFrame();
        } else if ((uRxCount += (DWORD)n) >= INBUF_SIZE) {
            // A frame longer than the buffer (only a count byte of 0 does
            // that): drop it; the incoming-message timer stays armed.
            memset(InBuf, 0, sizeof InBuf);
            uRxCount = 0;
        }
    }
    // The serial layer posts a notification when its device dies: restart
    // the line (and with it try the reopen) now.
    if (fnNoticeLoss())
        fnResetComms(hWnd);
}

void fnTimer(HWND hWnd, WPARAM idTimer)
{
    switch (idTimer) {
    case ID_TIMER_POLL:
        // While the device is lost the reopen is also tried at every poll, not
        // only at the restart 500 ms later: a device that is back is polled
        // within about a second.
        if (fPortLost && fnReopenPort(hWnd))
            fnRestartLine(hWnd, TRUE);
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
