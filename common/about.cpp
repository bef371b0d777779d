// about: the driver's modal About box (template "ABOUT", common/about.rc):
// title, version line and the build's date and time.
#include <windows.h>
#include <stdio.h>
#include "common/about.h"
#include "common/about_res.h"
#include "common/version.h"

static const char szVersion[] = VER_TEXT;

void About(HWND hWndMain, HINSTANCE hInst)
{
    DialogBoxParamA(hInst, IDD_ABOUT_NAME, hWndMain, _AboutDialogProc, 0);
}

INT_PTR CALLBACK _AboutDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)wParam;
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG: {
        char acLine[128];
        // The build fixes its own stamp: this module's compile date and time.
        snprintf(acLine, sizeof acLine, "%s - %s", __DATE__, __TIME__);
        SetDlgItemTextA(hDlg, IDC_ABOUT_STAMP, acLine);
        snprintf(acLine, sizeof acLine, "Version %s - (C) 2012-2026", szVersion);
        SetDlgItemTextA(hDlg, IDC_ABOUT_VERSION, acLine);
        return 1;
    }
    case WM_COMMAND:
        // OK, Enter (IDOK) and Escape (IDCANCEL) all close the box.
        EndDialog(hDlg, 1);
        return 1;
    default:
        return 0;
    }
}
