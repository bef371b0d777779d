#include "wintest.h"

std::string Hex(const BYTE *pb, size_t cb, const char *pszSep, bool fSepAfterLast)
{
    static const char acHex[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < cb; i++) {
        if (i)
            s += pszSep;
        s += acHex[pb[i] >> 4];
        s += acHex[pb[i] & 15];
    }
    if (cb && fSepAfterLast)
        s += pszSep;
    return s;
}

HWND MakeWindow(const char *lpszTitle, WNDPROC fnProc, const char *lpszClass, DWORD dwStyle, HWND hParent,
                Place pl, int iId)
{
    HINSTANCE hInst = GetModuleHandleA(NULL);
    WNDCLASSA wc;
    if (!GetClassInfoA(hInst, lpszClass, &wc)) {
        ZeroMemory(&wc, sizeof wc);
        wc.lpfnWndProc = fnProc ? fnProc : DefWindowProcA;
        wc.hInstance = hInst;
        wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
        wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
        wc.lpszClassName = lpszClass;
        RegisterClassA(&wc);
    }
    return CreateWindowExA(0, lpszClass, lpszTitle, dwStyle, pl.x, pl.y, pl.cx, pl.cy, hParent,
                           (HMENU)(INT_PTR)iId, hInst, NULL);
}

HICON BoxIcon(HWND hBox)
{
    // The first SS_ICON static whose own style is visible (the box itself may
    // not be shown yet).
    for (HWND h = NULL; (h = FindWindowExA(hBox, h, "Static", NULL)) != NULL;) {
        LONG_PTR lStyle = GetWindowLongPtrA(h, GWL_STYLE);
        if ((lStyle & WS_VISIBLE) && (lStyle & SS_TYPEMASK) == SS_ICON)
            return (HICON)SendMessageA(h, STM_GETICON, 0, 0);
    }
    return NULL;
}

BoxPresser::BoxPresser(const char *pszCaption) : pszCaption_(pszCaption)
{
    hDone_ = CreateEventA(NULL, TRUE, FALSE, NULL);
    hThread_ = CreateThread(NULL, 0, Watch, this, 0, NULL);
}

void BoxPresser::Stop()
{
    if (hThread_ == NULL)
        return;
    SetEvent(hDone_);
    WaitForSingleObject(hThread_, INFINITE);
    CloseHandle(hThread_);
    CloseHandle(hDone_);
    hThread_ = NULL;
}

DWORD WINAPI BoxPresser::Watch(LPVOID pv)
{
    BoxPresser *p = (BoxPresser *)pv;
    while (WaitForSingleObject(p->hDone_, 20) == WAIT_TIMEOUT) {
        HWND hBox = NULL;
        DWORD dwPid = 0;
        while ((hBox = FindWindowExA(NULL, hBox, "#32770", p->pszCaption_)) != NULL)
            if (GetWindowThreadProcessId(hBox, &dwPid) && dwPid == GetCurrentProcessId())
                break;
        if (hBox == NULL)
            continue;
        char ac[512] = "";
        GetDlgItemTextA(hBox, 0xFFFF, ac, sizeof ac);
        p->sText = ac;
        p->hIcon = BoxIcon(hBox);
        p->hOwner = GetWindow(hBox, GW_OWNER);
        p->fFound = true;
        PostMessageA(hBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(hBox, IDOK));
        break;
    }
    return 0;
}

std::string ExePath()
{
    char ac[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, ac, sizeof ac);
    return std::string(ac, n);
}

std::string ExeBase()
{
    std::string s = ExePath();
    s = s.substr(s.find_last_of('\\') + 1);
    return s.substr(0, s.size() - 4);
}

std::string ExeDir()
{
    std::string s = ExePath();
    return s.substr(0, s.find_last_of("\\/"));
}
