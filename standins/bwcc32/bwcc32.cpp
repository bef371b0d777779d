// bwcc32: STAND-IN for the platform's BWCC32.DLL custom-control library,
// which this machine does not have. It is not the platform's library: it
// provides just what this program's dialog templates use -- the dialog
// class "BORDLG" (light grey dialogs) and the shaded frame "BorShade" --
// drawn with plain GDI calls. The program links to it through its import
// library, as to the real BWCC32, so the loader is exercised the same way.
#include <windows.h>
#include <utility>
#include "standins/bwcc32/bwcc.h"
#include "standins/standin_util.h"

static HINSTANCE hBwccInst;       // this DLL; written once in DllMain
static HBRUSH hbrDlgFace;         // dialog background; created by BWCCRegister, main thread
static ATOM atomDlg;              // registered "BORDLG"; main thread
static ATOM atomShade;            // registered "BorShade"; main thread

static const COLORREF crDlgFace  = RGB(192, 192, 192);   // the library's steel grey
static const COLORREF crHilight  = RGB(255, 255, 255);
static const COLORREF crShadow   = RGB(128, 128, 128);

// ---------------------------------------------------------------- dialog class

// A dialog class's window procedure must end in DefDlgProcA, which calls the
// program's dialog procedure. The only thing added is the grey background for
// the dialog and its statics/buttons, unless the program's dialog procedure
// chooses its own colours first.
static LRESULT CALLBACK BorDlgWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg != WM_CTLCOLORDLG && uMsg != WM_CTLCOLORSTATIC && uMsg != WM_CTLCOLORBTN)
        return DefDlgProcA(hWnd, uMsg, wParam, lParam);
    DLGPROC lpfnDlg = (DLGPROC)GetWindowLongPtrA(hWnd, DWLP_DLGPROC);
    INT_PTR iRes = lpfnDlg ? lpfnDlg(hWnd, uMsg, wParam, lParam) : 0;
    if (iRes)
        return iRes;
    SetBkColor((HDC)wParam, crDlgFace);
    SetTextColor((HDC)wParam, RGB(0, 0, 0));
    return (LRESULT)hbrDlgFace;
}

// ---------------------------------------------------------------- shaded frame

static void fnLine(HDC hDC, int x0, int y0, int x1, int y1, COLORREF cr)
{
    HPEN hPen = CreatePen(PS_SOLID, 1, cr);
    HGDIOBJ hOld = SelectObject(hDC, hPen);
    MoveToEx(hDC, x0, y0, NULL);
    LineTo(hDC, x1, y1);
    SelectObject(hDC, hOld);
    DeleteObject(hPen);
}

// A double-line frame: an outer and an inner rectangle whose top/left and
// bottom/right edges get opposite shades, which reads as a chiselled groove
// (sunken) or a ridge (raised).
static void fnFrame(HDC hDC, RECT rc, int fRaised)
{
    COLORREF crTL = fRaised ? crHilight : crShadow;
    COLORREF crBR = fRaised ? crShadow : crHilight;
    for (int i = 0; i < 2; i++) {
        if (rc.right - rc.left < 2 || rc.bottom - rc.top < 2)
            return;
        fnLine(hDC, rc.left, rc.bottom - 1, rc.left, rc.top, crTL);
        fnLine(hDC, rc.left, rc.top, rc.right - 1, rc.top, crTL);
        fnLine(hDC, rc.right - 1, rc.top, rc.right - 1, rc.bottom - 1, crBR);
        fnLine(hDC, rc.right - 1, rc.bottom - 1, rc.left - 1, rc.bottom - 1, crBR);
        InflateRect(&rc, -1, -1);
        std::swap(crTL, crBR);
    }
}

static void fnPaintShade(HWND hWnd, HDC hDC)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    int iStyle = (int)(GetWindowLongPtrA(hWnd, GWL_STYLE) & 0x0F);
    int xMid = (rc.left + rc.right) / 2, yMid = (rc.top + rc.bottom) / 2;
    // A dip: shadow above (left of) the highlight; a bump the other way round.
    BOOL fDip = iStyle == BSS_HDIP || iStyle == BSS_VDIP;
    COLORREF crFirst = fDip ? crShadow : crHilight, crSecond = fDip ? crHilight : crShadow;
    if (iStyle == BSS_HDIP || iStyle == BSS_HBUMP) {
        fnLine(hDC, rc.left, yMid - 1, rc.right, yMid - 1, crFirst);
        fnLine(hDC, rc.left, yMid, rc.right, yMid, crSecond);
    } else if (iStyle == BSS_VDIP || iStyle == BSS_VBUMP) {
        fnLine(hDC, xMid - 1, rc.top, xMid - 1, rc.bottom, crFirst);
        fnLine(hDC, xMid, rc.top, xMid, rc.bottom, crSecond);
    } else {
        fnFrame(hDC, rc, iStyle == BSS_RGROUP);
    }
}

// The frame lies over other controls of its dialog (it encloses them), so it
// draws only its lines, never its interior, and lets the mouse fall through.
static LRESULT CALLBACK BorShadeWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    LRESULT lRes;
    if (fnDrawnControlMessage(hWnd, uMsg, wParam, fnPaintShade, &lRes))
        return lRes;
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

// ---------------------------------------------------------------- registration

// The classes are global: they belong to this DLL, not to the caller's instance.
extern "C" BWCC_API BOOL WINAPI BWCCRegister(HINSTANCE)
{
    if (!hbrDlgFace)
        hbrDlgFace = CreateSolidBrush(crDlgFace);

    // Class names are case-insensitive: registering "BORDLG" makes "bordlg"
    // resolve too (a second RegisterClass would fail).
    if (!atomDlg)
        atomDlg = fnRegisterClass("BORDLG", BorDlgWndProc, hBwccInst, CS_GLOBALCLASS | CS_DBLCLKS | CS_SAVEBITS,
                                  DLGWINDOWEXTRA, hbrDlgFace);
    if (!atomShade)
        atomShade = fnRegisterClass("BorShade", BorShadeWndProc, hBwccInst, CS_GLOBALCLASS | CS_HREDRAW | CS_VREDRAW);
    return atomDlg != 0 && atomShade != 0;
}

BOOL WINAPI DllMain(HINSTANCE hInst, DWORD dwReason, LPVOID)
{
    switch (dwReason) {
    case DLL_PROCESS_ATTACH:
        hBwccInst = hInst;
        DisableThreadLibraryCalls(hInst);
        break;
    case DLL_PROCESS_DETACH:
        if (atomShade)
            UnregisterClassA("BorShade", hInst);
        if (atomDlg)
            UnregisterClassA("BORDLG", hInst);
        if (hbrDlgFace)
            DeleteObject(hbrDlgFace);
        break;
    }
    return TRUE;
}
