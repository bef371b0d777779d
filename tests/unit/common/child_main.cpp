// Entry of the support test programs: GoogleTest, or a child role when the
// test re-runs its own program as a second process.
//   -cw <title> [<class>] [-min]   a top-level window that lives until it is
//                                  closed (or for at most two minutes)
//   -shot <rect file> <done file>  the screenshot scene (panel_shot.cpp)
#include <windows.h>
#include "run_tests.h"
#include "support/wintest.h"
#include <string.h>

int ShotMain(int argc, char **argv);   // panel_shot.cpp, where linked

static LRESULT CALLBACK ChildWndProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    switch (m) {
    case WM_TIMER:      // a forgotten child must not outlive the test run
        DestroyWindow(h);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(h, m, w, l);
}

static int ChildWindowMain(int argc, char **argv)
{
    const char *lpszTitle = argc > 2 ? argv[2] : "child";
    const char *lpszClass = "CommonTestChild";
    int fMin = 0;
    for (int i = 3; i < argc; i++) {
        if (strcmp(argv[i], "-min") == 0)
            fMin = 1;
        else
            lpszClass = argv[i];
    }
    HWND hWnd = MakeWindow(lpszTitle, ChildWndProc, lpszClass, WS_OVERLAPPEDWINDOW, NULL, {200, 150, 300, 200});
    if (!hWnd)
        return 2;
    ShowWindow(hWnd, fMin ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL);
    SetTimer(hWnd, 1, 120000, NULL);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "-cw") == 0)
        return ChildWindowMain(argc, argv);
    if (argc > 1 && strcmp(argv[1], "-shot") == 0)
        return ShotMain(argc, argv);
    return fnRunTests(&argc, argv);
}
