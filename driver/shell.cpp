// shell: the application shell's state, which every module of the driver
// reads (set by start-up, main window thread only), and the revertive
// callback, which mirrors the driver's two slots 4095 and 4096.
#include <windows.h>
#include "driver/mixtally.h"
#include "infodriver/exinfdrv.h"
#include "common/common32.h"

HINSTANCE hInstance;
HWND hWnd;
HWND hDlg;
int iDeviceNo;
INT_PTR hCommPort = -1;
int fDebug = 0;
const char ProgName[] = "mixtally";

void fnInfoCommand(LPZARNMSG r)
{
    // The revertive's own device number is not trusted: the mirror is always
    // between the driver's own two slots.
    if (r->wIndex == SLOT_MIRROR_A)
        fnSetSlot(iDeviceNo, SLOT_MIRROR_B, r->szInfo, 0);
    else if (r->wIndex == SLOT_MIRROR_B)
        fnSetSlot(iDeviceNo, SLOT_MIRROR_A, r->szInfo, 0);
}

// The debug list is filled whether it is shown or not, and every line added
// scrolls and repaints it, twice per frame. So drawing is suspended while
// "&Debug" is off (the list then lies below the status strip), and while the
// link works through the bytes of a notification; the list's contents are
// the same either way.
void fnDebugListRedraw(BOOL fOn)
{
    HWND hList = GetDlgItem(hDlg, IDC_DEBUGLIST);
    if (!hList)
        return;
    SendMessageA(hList, WM_SETREDRAW, fOn, 0);
    if (fOn)
        InvalidateRect(hList, NULL, TRUE);
}
