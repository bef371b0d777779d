// standin_util: the small pieces the stand-ins and the bench's Windows probe
// share -- a line on stdout, the QPC clock in a unit, a window class, and a
// control that draws itself whole. Rig only: the product never includes it.
#pragma once
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>

// One line straight to the stdout handle: nothing is buffered, so every line
// is flushed. Cut to about 2 KB.
static inline void __attribute__((format(printf, 1, 2))) fnOut(const char *pszFormat, ...)
{
    char acLine[2112];
    va_list ap;
    va_start(ap, pszFormat);
    int n = vsnprintf(acLine, sizeof acLine - 1, pszFormat, ap);
    va_end(ap);
    HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    if (n < 0 || hOut == NULL || hOut == INVALID_HANDLE_VALUE)
        return;
    if (n > (int)sizeof acLine - 2)
        n = (int)sizeof acLine - 2;
    acLine[n++] = '\n';
    DWORD dw;
    WriteFile(hOut, acLine, (DWORD)n, &dw, NULL);
}

// QueryPerformanceCounter in units of 1/ullPerSecond s, split so that the
// product stays exact and in range.
static inline unsigned long long fnQpcIn(unsigned long long ullPerSecond)
{
    static LARGE_INTEGER liFreq;
    if (liFreq.QuadPart == 0)
        QueryPerformanceFrequency(&liFreq);
    LARGE_INTEGER li;
    QueryPerformanceCounter(&li);
    unsigned long long ullC = (unsigned long long)li.QuadPart, ullF = (unsigned long long)liFreq.QuadPart;
    return (ullC / ullF) * ullPerSecond + (ullC % ullF) * ullPerSecond / ullF;
}

static inline ATOM fnRegisterClass(const char *pszName, WNDPROC pfnProc, HINSTANCE hInst, UINT uStyle = 0,
                                   int cbExtra = 0, HBRUSH hbrBack = NULL, HICON hIcon = NULL)
{
    // Style, procedure, class and window extra bytes, instance, icon, cursor, background, menu, name.
    WNDCLASSA wc = {uStyle, pfnProc, 0, cbExtra, hInst, hIcon, LoadCursorA(NULL, (LPCSTR)IDC_ARROW),
                    hbrBack, NULL, pszName};
    return RegisterClassA(&wc);
}

// The messages of a control that paints its whole face with pfnPaint (no
// background erase), lets the mouse fall through to what lies below and
// takes no keys. TRUE, with the answer in *plRes, when uMsg is one of them.
static inline BOOL fnDrawnControlMessage(HWND hWnd, UINT uMsg, WPARAM wParam, void (*pfnPaint)(HWND, HDC),
                                         LRESULT *plRes)
{
    *plRes = 0;
    switch (uMsg) {
    case WM_ERASEBKGND:
        *plRes = 1;
        return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC hDC = BeginPaint(hWnd, &ps);
        pfnPaint(hWnd, hDC);
        EndPaint(hWnd, &ps);
        return TRUE;
    }
    case WM_PRINTCLIENT:
        pfnPaint(hWnd, (HDC)wParam);
        return TRUE;
    case WM_NCHITTEST:
        *plRes = HTTRANSPARENT;
        return TRUE;
    case WM_GETDLGCODE:
        *plRes = DLGC_STATIC;
        return TRUE;
    }
    return FALSE;
}
