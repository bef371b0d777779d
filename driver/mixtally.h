// mixtally: state and entry points of the tally driver, shared by its
// modules (tally decoding, link supervision, application shell). Everything
// here runs on the main window thread.
#pragma once
#include <windows.h>
#include "infodriver/driver.h"

#define ID_TIMER_INCOMING  1     // 200 ms, armed by a count byte
#define ID_TIMER_TRANSMIT  2     // 500 ms, armed by every poll
#define ID_TIMER_POLL      3     // 1000 ms, periodic

#define IDC_NETTX     105
#define IDC_NAME      104
#define IDC_COM       103
#define IDC_COMMS     110
#define IDC_ERRORS    111
#define IDC_DEBUGLIST 1001

#define SLOT_COMMS_STATUS 4094
#define SLOT_MIRROR_A     4095
#define SLOT_MIRROR_B     4096

#define INBUF_SIZE 257

// ---- tally decoding
extern BYTE bPreviousUncompressedData[16];
extern int fStartup;
extern int fMapDecoded;         // a tally frame has been decoded (the 0xFF fill is no map)
extern DWORD uNetTX;
int fnParseRxData(BYTE *InBuf, UINT uRxCount);
int fnSplitToSlotsBYTE(BYTE bIn, int iDeviceNo, UINT uStartSlot, int fCheck);

// ---- link supervision
extern BYTE InBuf[INBUF_SIZE];
extern DWORD uRxCount;
extern DWORD uExpectedCount;
extern int iCommsFail;          // -1 unknown, 1 healthy, 2 failed
extern DWORD uErrors;
extern const BYTE abStartupCommand[4];  // 03 24 11 FF
void fnRxCommData(HWND hWnd);
void fnResetComms(HWND hWnd);
void fnTimer(HWND hWnd, WPARAM idTimer);
// Start-up's open of the mixer's port with the device file's settings; the
// path is kept, so that the line restart can reopen the port from the same
// file when its device has gone and come back. -1 after the open's own box.
INT_PTR fnOpenMixerPort(HWND hWnd, LPCSTR lpszDeviceFile);

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
