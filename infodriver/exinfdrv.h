// EXINFDRV: the driver's client of its infodriver. A hidden hook window
// ("_extinfodriv", child of the main window) finds the device's infodriver by
// the hook broadcast, carries slot reads/writes over the ZARN32 transport and
// hands write-type revertives ("IW", "XW") to the registered callback.
#pragma once
#include <windows.h>
#include "infodriver/driver.h"

#define IDMSG_SENDSLOTRANGE 2723
#define IDMSG_HOOK          2724
#define IDMSG_UNHOOK        2725
#define IDMSG_SETSLOT       2726
#define IDMSG_GETSLOT       2727
#define IDMSG_HOOKED        2729
#define IDMSG_REVERTIVE     2730
#define IDMSG_SETSLOTONLY   2731
#define IDMSG_SETTXRXMODE   2215
#define IDMSG_GETTXRXMODE   2214
#define IDMSG_CLOSE         2175
#define IDMSG_FWD1          2179
#define IDMSG_FWD2          2180
#define IDMSG_FWD3          2181
#define IDMSG_FWD4          2190

#define IDMSG_SLOT_NOW      0x8000   // bit 15 of the SETSLOT parameter: fNow
#define IDMSG_HOOK_DEVICE   0x8000   // OR-ed into the device number of IDMSG_HOOK

typedef void (*INFOCALLBACK)(LPZARNMSG r);

// Client state: main (window) thread only.
extern HWND hIDWnd[1000];        // infodriver window per device; 0: not hooked
extern HWND hInfodrivWnd;        // the hook window
extern HWND hIDTemp;             // answer collected during a hook broadcast
extern INFOCALLBACK fnInfodrivCallback;
extern DWORD uExtInfodrivNoReply;   // slot exchanges sent that got no reply, since start
extern DWORD uExtInfodrivAnswered;  // slot exchanges answered, since start
extern DWORD uExtInfodrivMissRun;   // unanswered ones since the last that was answered

// Slot operations return 1 both when refused (device not hooked, bad index)
// and when the exchange got no reply; only the latter counts in
// uExtInfodrivNoReply. fnCheckSlot returns 1 only for a write that was answered.

int  fnInitExtInfodriv(HWND hWnd, INFOCALLBACK fnCallback);
int  fnInitExtInfodrivWindow(HWND hWnd);
int  fnCreateExtInfodriv(int iDeviceNo);
int  fnGetSlot(int iDeviceNo, int iIndex, char *szSlot);
int  fnSetSlot(int iDeviceNo, int iIndex, LPCSTR szSlot, int fNow);
int  fnSetSlotOnly(int iDeviceNo, int iIndex, LPCSTR szSlot);
int  fnCheckSlot(int iDeviceNo, LPCSTR szSlot, int iSlot, int fNow);
int  fnSetTXRXMode(int iDeviceNo, WORD wMode);
int  fnGetTXRXMode(int iDeviceNo, WORD *wMode);
void fnSendSlotRange(int iDeviceNo, int iStart, int iEnd);
HWND fnGetHWND(int iDeviceNo);
// At run time, after the infodriver went: hooks the device again without a
// message box, waiting a bounded time on each window (0 hooked, 1 not).
int  fnRehookExtInfodriv(int iDeviceNo);
// Forgets the device's infodriver window without a message to it (it is gone
// or does not answer): slot operations are refused until it is hooked again.
void fnForgetExtInfodriv(int iDeviceNo);
void fnCleanupExtInfodriv(void);
LRESULT CALLBACK fnExtInfodrivProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
