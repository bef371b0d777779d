// The screenshot scene (child role -shot): three driver-like main windows
// whose status panels show each link state, the About box and a generic
// version dialog with its library bitmap. Writes each window's screen
// rectangle to a file and stays until a "done" file appears (at most two
// minutes).
#include <windows.h>
#include <stdio.h>
#include "common/about.h"
#include "common/common32.h"
#include "standins/bwcc32/bwcc.h"
#include "support/wintest.h"

static INT_PTR CALLBACK ShotPanelProc(HWND, UINT uMsg, WPARAM, LPARAM)
{
    return uMsg == WM_INITDIALOG;
}

static void PutRect(FILE *f, const char *lpszName, HWND hWnd)
{
    RECT rc;
    GetWindowRect(hWnd, &rc);
    fprintf(f, "%s %ld %ld %ld %ld\n", lpszName, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
}

int ShotMain(int argc, char **argv)
{
    if (argc < 4)
        return 2;
    HINSTANCE hInst = GetModuleHandleA(NULL);
    BWCCRegister(hInst);
    if (!LoadLibraryA("ZARN_CC.DLL"))
        return 3;

    struct { int iDev; const char *lpszName, *lpszCom, *lpszTx, *lpszLink, *lpszCode, *lpszErrors; } rows[] = {
        { 5, "Studio 1 vision mixer", "1", "0", "?", "/__1F__", "0" },
        { 6, "Studio 2 vision mixer", "3", "1342", "OK", "/__2F__", "0" },
        { 7, "OB truck mixer", "4", "128", "Fail", "/__9F__", "17" },
    };
    FILE *f = fopen(argv[2], "w");
    if (!f)
        return 4;
    int cy = GetSystemMetrics(SM_CYMENU) + GetSystemMetrics(SM_CYCAPTION) + 60;
    for (int i = 0; i < 3; i++) {
        char acTitle[128];
        snprintf(acTitle, sizeof acTitle, "DEV_%03d - mixtally - Vede Doriv Urere Dizodo", rows[i].iDev);
        HMENU hMenu = CreateMenu(), hFile = CreatePopupMenu(), hHelp = CreatePopupMenu();
        AppendMenuA(hFile, MF_STRING, 97, "&Debug");
        AppendMenuA(hFile, MF_STRING, 96, "E&xit");
        AppendMenuA(hHelp, MF_STRING, 95, "&About...");
        AppendMenuA(hMenu, MF_POPUP, (UINT_PTR)hFile, "&File");
        AppendMenuA(hMenu, MF_POPUP, (UINT_PTR)hHelp, "&Help");
        HWND hWnd = MakeWindow(acTitle, NULL, "mixtally_shot", WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                               NULL, {10, 10 + i * (cy + 20), 564, cy});
        SetMenu(hWnd, hMenu);
        HWND hPanel = CreateDialogParamA(hInst, "PANEL", hWnd, ShotPanelProc, 0);
        if (!hWnd || !hPanel)
            return 5;
        SetDlgItemTextA(hPanel, 105, rows[i].lpszTx);
        SetDlgItemTextA(hPanel, 104, rows[i].lpszName);
        SetDlgItemTextA(hPanel, 103, rows[i].lpszCom);
        SetDlgItemTextA(hPanel, 110, rows[i].lpszLink);
        SetDlgItemTextA(hPanel, 110, rows[i].lpszCode);
        SetDlgItemTextA(hPanel, 111, rows[i].lpszErrors);
        ShowWindow(hWnd, SW_SHOWNORMAL);
        UpdateWindow(hWnd);
        char acName[16];
        snprintf(acName, sizeof acName, "panel%d", i + 1);
        PutRect(f, acName, hWnd);
    }

    HWND hAbout = CreateDialogParamA(hInst, "ABOUT", NULL, _AboutDialogProc, 0);
    HWND hVer = CreateDialogParamA(hInst, "VERDLG", NULL, AboutDialogProc, 0);
    if (!hAbout || !hVer)
        return 6;
    SetWindowPos(hAbout, HWND_TOP, 620, 10, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    SetWindowPos(hVer, HWND_TOP, 620, 260, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    PutRect(f, "about", hAbout);
    PutRect(f, "version", hVer);
    fclose(f);

    PumpUntil([&] { return GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES; }, 120000);
    return 0;
}
