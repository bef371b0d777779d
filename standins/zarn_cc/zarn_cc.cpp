// zarn_cc: STAND-IN for the control system's custom-control library
// ZARN_CC.DLL, which this machine does not have. Loading it registers the
// global window class MOX_CC_Button (the panel's status fields); freeing it
// unregisters the class. No function of it is called by the program.
//
// A MOX_CC_Button shows its window text centred as its caption. A text of
// exactly "/__", one digit, "F__" does not replace the caption: it selects
// the colour state (1 amber: not yet known, 2 green: healthy, 9 red:
// failed, 0 back to the neutral field; other digits look neutral). Style bit
// 0x0008 (MOXS_STATUS) draws a flat sunken status field; without it the
// control has a raised, button-like bevel.
#include <windows.h>
#include <string.h>
#include "standins/zarn_cc/zarn_cc.h"
#include "standins/standin_util.h"

#define MOXS_STATUS     0x0008

// Window extra bytes: the colour state digit and the font set by the dialog.
#define MOXW_STATE      0
#define MOXW_FONT       (int)sizeof(LONG_PTR)
#define MOXW_EXTRA      (2 * (int)sizeof(LONG_PTR))

static const char szClass[] = "MOX_CC_Button";

// The state digit of a colour code text, or -1 when the text is a caption.
static int fnStateCode(LPCSTR lpsz)
{
    if (!lpsz || strlen(lpsz) != 7 || strncmp(lpsz, "/__", 3) != 0 || strcmp(lpsz + 4, "F__") != 0 ||
        lpsz[3] < '0' || lpsz[3] > '9')
        return -1;
    return lpsz[3] - '0';
}

static void fnStateColours(int iState, COLORREF *pcrFace, COLORREF *pcrText)
{
    switch (iState) {
    case 1:  *pcrFace = MOX_CR_UNKNOWN; *pcrText = RGB(40, 30, 0);    break;
    case 2:  *pcrFace = MOX_CR_HEALTHY; *pcrText = RGB(255, 255, 255); break;
    case 9:  *pcrFace = MOX_CR_FAILED;  *pcrText = RGB(255, 255, 255); break;
    default: *pcrFace = MOX_CR_NONE;    *pcrText = RGB(0, 0, 0);       break;
    }
}

static void fnPaintButton(HWND hWnd, HDC hDC)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    int iState = (int)GetWindowLongPtrA(hWnd, MOXW_STATE);
    COLORREF crFace, crText;
    fnStateColours(iState, &crFace, &crText);
    if (!IsWindowEnabled(hWnd))
        crText = RGB(128, 128, 128);

    HBRUSH hbr = CreateSolidBrush(crFace);
    FillRect(hDC, &rc, hbr);
    DeleteObject(hbr);

    DrawEdge(hDC, &rc, (GetWindowLongPtrA(hWnd, GWL_STYLE) & MOXS_STATUS) ? BDR_SUNKENOUTER : EDGE_RAISED, BF_RECT);

    char acText[128];
    int iLen = GetWindowTextA(hWnd, acText, sizeof acText);
    HFONT hFont = (HFONT)GetWindowLongPtrA(hWnd, MOXW_FONT);
    HGDIOBJ hOld = SelectObject(hDC, hFont ? (HGDIOBJ)hFont : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(hDC, TRANSPARENT);
    SetTextColor(hDC, crText);
    InflateRect(&rc, -2, -1);
    DrawTextA(hDC, acText, iLen, &rc,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(hDC, hOld);
}

static LRESULT CALLBACK MoxButtonProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_NCCREATE: {
        // A template text that is a colour code sets the state at creation
        // and leaves the caption empty, as a later WM_SETTEXT would.
        CREATESTRUCTA cs = *(CREATESTRUCTA *)lParam;
        int iState = (cs.lpszName && !IS_INTRESOURCE(cs.lpszName)) ? fnStateCode(cs.lpszName) : -1;
        if (iState >= 0) {
            SetWindowLongPtrA(hWnd, MOXW_STATE, iState);
            cs.lpszName = "";
        }
        return DefWindowProcA(hWnd, uMsg, wParam, (LPARAM)&cs);
    }
    case WM_SETTEXT: {
        int iState = fnStateCode((LPCSTR)lParam);
        LRESULT lRes = TRUE;
        if (iState >= 0)
            SetWindowLongPtrA(hWnd, MOXW_STATE, iState);
        else
            lRes = DefWindowProcA(hWnd, uMsg, wParam, lParam);
        InvalidateRect(hWnd, NULL, FALSE);
        return lRes;
    }
    case MOXM_GETSTATE:
        return GetWindowLongPtrA(hWnd, MOXW_STATE);
    case WM_SETFONT:
        SetWindowLongPtrA(hWnd, MOXW_FONT, (LONG_PTR)wParam);
        if (LOWORD(lParam))
            InvalidateRect(hWnd, NULL, FALSE);
        return 0;
    case WM_GETFONT:
        return GetWindowLongPtrA(hWnd, MOXW_FONT);
    case WM_ENABLE:
        InvalidateRect(hWnd, NULL, FALSE);
        return 0;
    default: {
        // The face is painted whole; a status field takes no clicks: a right
        // click on it reaches the panel below, which opens the popup menu.
        LRESULT lRes;
        if (fnDrawnControlMessage(hWnd, uMsg, wParam, fnPaintButton, &lRes))
            return lRes;
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    }
    }
}

BOOL WINAPI DllMain(HINSTANCE hInst, DWORD dwReason, LPVOID)
{
    switch (dwReason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(hInst);
        // A failure leaves the class missing: dialogs using it then fail to
        // be created, which the program reports.
        fnRegisterClass(szClass, MoxButtonProc, hInst, CS_GLOBALCLASS | CS_HREDRAW | CS_VREDRAW, MOXW_EXTRA);
        break;
    case DLL_PROCESS_DETACH:
        UnregisterClassA(szClass, hInst);
        break;
    }
    return TRUE;
}
