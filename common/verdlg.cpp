// verdlg: the generic version-information dialogs (an About box and a
// self-closing splash box) filled from the program file's version resource,
// with owner-drawn controls showing bitmaps of "wirelib32.dll".
#include <windows.h>
#include <sys/stat.h>
#include <time.h>
#include <string.h>
#include "common/common32.h"
#include "common/calendar.h"

#define VER_ID_OK           1
#define VER_ID_STAMP        96
#define VER_ID_COPYRIGHT    97
#define VER_ID_DESCRIPTION  98
#define VER_ID_VERSION      99
#define SPLASH_TIMER        1
#define SPLASH_MS           1500

static void fnCentreDialog(HWND hDlg)
{
    RECT rc;
    GetWindowRect(hDlg, &rc);
    int x = GetSystemMetrics(SM_CXSCREEN) / 2 - (rc.right - rc.left) / 2;
    int y = GetSystemMetrics(SM_CYSCREEN) / 2 - (rc.bottom - rc.top) / 2;
    SetWindowPos(hDlg, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

static void fnSetVersionItem(HWND hDlg, int iId, void *pInfo, LPCSTR lpszName)
{
    char acQuery[64];
    strcpy(acQuery, "\\StringFileInfo\\040904E4\\");
    strcat(acQuery, lpszName);
    LPSTR lpszValue = NULL;
    UINT uLen = 0;
    if (VerQueryValueA(pInfo, acQuery, (LPVOID *)&lpszValue, &uLen) && lpszValue && uLen)
        SetDlgItemTextA(hDlg, iId, lpszValue);
}

// Fills the controls from the program file. Returns 0 when the memory for
// the version information could not be had.
static int fnFillVersionDialog(HWND hDlg)
{
    fnCentreDialog(hDlg);

    char acFile[256];
    HINSTANCE hInst = (HINSTANCE)GetWindowLongPtrA(GetParent(hDlg), GWLP_HINSTANCE);
    DWORD dwLen = GetModuleFileNameA(hInst, acFile, sizeof acFile - 1);
    if (dwLen >= sizeof acFile - 1)
        dwLen = sizeof acFile - 2;
    acFile[dwLen] = 0;

    // The file's time stamp; a file that can't be examined leaves the
    // control as it is.
    struct _stat st;
    if (_stat(acFile, &st) == 0) {
        char acCal[CALENDAR_TEXT_LEN];
        if (fnCalendarText(st.st_ctime, acCal, sizeof acCal))
            SetDlgItemTextA(hDlg, VER_ID_STAMP, acCal);
    }

    DWORD dwHandle = 0;
    DWORD dwSize = GetFileVersionInfoSizeA(acFile, &dwHandle);
    if (dwSize == 0)
        return 1;
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, dwSize + 32);
    void *pInfo = hMem ? GlobalLock(hMem) : NULL;
    if (!pInfo) {
        if (hMem)
            GlobalFree(hMem);
        return 0;
    }
    if (GetFileVersionInfoA(acFile, 0, dwSize, pInfo)) {
        fnSetVersionItem(hDlg, VER_ID_VERSION, pInfo, "FileVersion");
        fnSetVersionItem(hDlg, VER_ID_DESCRIPTION, pInfo, "FileDescription");
        fnSetVersionItem(hDlg, VER_ID_COPYRIGHT, pInfo, "LegalCopyright");
    }
    GlobalUnlock(hMem);
    GlobalFree(hMem);
    return 1;
}

// An owner-drawn control's text names a bitmap of wirelib32.dll. The library
// is held only for the one message.
static void fnDrawLibraryBitmap(const DRAWITEMSTRUCT *pdis)
{
    HINSTANCE hLib = LoadLibraryA("wirelib32.dll");
    if (!hLib)
        return;
    char acName[64];
    acName[0] = 0;
    GetWindowTextA(pdis->hwndItem, acName, sizeof acName);
    HBITMAP hBitmap = acName[0] ? LoadBitmapA(hLib, acName) : NULL;
    if (hBitmap) {
        DrawBitmap(pdis->hDC, hBitmap, 0, 0);
        DeleteObject(hBitmap);
    }
    FreeLibrary(hLib);
}

static INT_PTR fnVersionDialog(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam, int fSplash)
{
    switch (message) {
    case WM_INITDIALOG:
        if (fSplash)
            SetTimer(hDlg, SPLASH_TIMER, SPLASH_MS, NULL);
        if (!fnFillVersionDialog(hDlg)) {
            EndDialog(hDlg, 0);
            return 0;
        }
        if (fSplash)
            return 1;
        SetFocus(GetDlgItem(hDlg, VER_ID_OK));
        return 0;
    case WM_COMMAND:
        if (wParam == VER_ID_OK)
            EndDialog(hDlg, 1);
        return fSplash ? 0 : 1;
    case WM_TIMER:
        if (fSplash && wParam == SPLASH_TIMER) {
            KillTimer(hDlg, SPLASH_TIMER);
            DestroyWindow(hDlg);
        }
        return 0;
    case WM_DRAWITEM:
        fnDrawLibraryBitmap((const DRAWITEMSTRUCT *)lParam);
        return 1;
    default:
        return 0;
    }
}

INT_PTR CALLBACK AboutDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    return fnVersionDialog(hDlg, message, wParam, lParam, 0);
}

INT_PTR CALLBACK SplashProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    return fnVersionDialog(hDlg, message, wParam, lParam, 1);
}

void DrawBitmap(HDC hDC, HBITMAP hBitmap, short xStart, short yStart)
{
    HDC hMemDC = CreateCompatibleDC(hDC);
    if (!hMemDC)
        return;
    HGDIOBJ hOld = SelectObject(hMemDC, hBitmap);
    SetMapMode(hMemDC, GetMapMode(hDC));

    BITMAP bm;
    ZeroMemory(&bm, sizeof bm);
    GetObjectA(hBitmap, sizeof bm, &bm);
    POINT ptSize = { bm.bmWidth, bm.bmHeight };
    DPtoLP(hDC, &ptSize, 1);
    POINT ptOrg = { 0, 0 };
    DPtoLP(hMemDC, &ptOrg, 1);

    BitBlt(hDC, xStart, yStart, ptSize.x, ptSize.y, hMemDC, ptOrg.x, ptOrg.y, SRCCOPY);
    SelectObject(hMemDC, hOld);
    DeleteDC(hMemDC);
}
