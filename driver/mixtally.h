// mixtally: state and entry points of the tally driver, shared by its
// modules (tally decoding, link supervision, application shell). Everything
// here runs on the main window thread.
#pragma once
#include <windows.h>
#include "infodriver/driver.h"
#include "driver/resource.h"

#define ID_TIMER_INCOMING  1     // 200 ms, armed by a count byte
#define ID_TIMER_TRANSMIT  2     // 500 ms, armed by every poll
#define ID_TIMER_POLL      3     // 1000 ms, periodic

#define SLOT_COMMS_STATUS 4094
#define SLOT_MIRROR_A     4095
#define SLOT_MIRROR_B     4096

#define INBUF_SIZE 257

// Link state (iCommsFail): the panel's "?", "OK" and "Fail", and slot 4094.
typedef enum tagLINKSTATE {
    LINK_UNKNOWN = -1,          // no acknowledge and no time-out yet
    LINK_HEALTHY = 1,
    LINK_FAILED = 2
} LINKSTATE;

// ---- tally decoding (publication: driver/publish.h)
extern int fStartup;
int fnParseRxData(BYTE *InBuf, UINT uRxCount);

// ---- link supervision
extern BYTE InBuf[INBUF_SIZE];
extern DWORD uRxCount;
extern DWORD uExpectedCount;
extern int iCommsFail;          // a LINKSTATE
extern DWORD uErrors;
extern const BYTE abStartupCommand[4];  // 03 24 11 FF
void fnRxCommData(HWND hWnd);
void fnResetComms(HWND hWnd);
// A timer's work, as if it had fired now.
void fnTimer(HWND hWnd, WPARAM idTimer);
// WM_TIMER: a timer the link has disarmed, or has run already because it
// was due while notifications kept the message from being made, is dropped.
void fnTimerMessage(HWND hWnd, WPARAM idTimer);
void fnStartPollTimer(HWND hWnd);
// The platform calls the link's timing goes through: GetTickCount, by which
// it tells that a timer is due, and SetTimer. A test may put others in.
extern DWORD (WINAPI *pfnLinkTicks)(void);
extern UINT_PTR (WINAPI *pfnLinkSetTimer)(HWND, UINT_PTR, UINT, TIMERPROC);
// Around work that exchanges slots (a frame, a tick, a test frame): a
// notification or a timer that arrives nested inside it runs once it ends.
void fnLinkEnter(void);
void fnLinkLeave(HWND hWnd);
BOOL fnLinkBusy(void);
// Back to the state before start-up: timers stopped, no frame, link unknown.
void fnLinkReset(HWND hWnd);

// ---- application shell
extern HINSTANCE hInstance;
extern HWND hWnd;
extern HWND hDlg;
extern int iDeviceNo;
extern INT_PTR hCommPort;
extern int fDebug;
extern const char ProgName[];
LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
LONG PerformMenuCommand(HWND hWnd, WPARAM wParam);
INT_PTR CALLBACK PanelProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
int  fnInitialise(HWND hWnd, LPSTR lpszCmdLine);
void fnCleanUp(HWND hWnd);
void fnInfoCommand(LPZARNMSG r);
// Turns the debug list's drawing on (one repaint) or off; its lines are kept either way.
void fnDebugListRedraw(BOOL fOn);
