// main: the application shell of the tally driver -- entry, main window and
// menu, the status panel, the start-up sequence, maintenance commands, the
// revertive callback and clean-up. One process serves one device, named by
// the number on the command line. Everything runs on the main window thread.
#include <windows.h>
#include <string.h>
#include <stdio.h>
#include "driver/mixtally.h"
#include "driver/portwatch.h"
#include "driver/publish.h"
#include "comms/comms.h"
#include "comms/portset.h"
#include "infodriver/exinfdrv.h"
#include "common/common32.h"
#include "common/zarn_gcd.h"
#include "common/about.h"
#include "common/panel.h"
#include "driver/bwcc.h"

#define WINDOW_WIDTH        564
#define PANEL_HEIGHT_SMALL   60
#define PANEL_HEIGHT_DEBUG  440
#define TEXT_SIZE           128
#define PATH_SIZE           512
#define TEST_FRAME_SIZE     128

static char szDeviceFile[TEXT_SIZE];

static int fnWindowHeight(int iPanelHeight)
{
    return GetSystemMetrics(SM_CYMENU) + GetSystemMetrics(SM_CYCAPTION) + iPanelHeight;
}

// The decimal number at the start of the command line: blanks skipped, an
// optional sign, digits up to the first non-digit; no digits gives 0. Values
// far out of range are clamped so that the caller's range check sees them.
static int fnParseDeviceNo(LPCSTR lpsz)
{
    if (!lpsz)
        return 0;
    while (*lpsz == ' ' || *lpsz == '\t' || *lpsz == '\r' || *lpsz == '\n')
        lpsz++;
    int iSign = 1;
    if (*lpsz == '+' || *lpsz == '-') {
        if (*lpsz == '-')
            iSign = -1;
        lpsz++;
    }
    long lValue = 0;
    while (*lpsz >= '0' && *lpsz <= '9') {
        if (lValue < 100000)
            lValue = lValue * 10 + (*lpsz - '0');
        lpsz++;
    }
    return (int)(iSign * lValue);
}

// Sends a fixed test frame to the decoder the way the link does: at the start
// of a zero-filled buffer, so bytes a mask names past the frame read as zero.
// Its map is published at once.
static void fnFeedTestFrame(const BYTE *pbFrame, UINT uLen)
{
    BYTE abFrame[TEST_FRAME_SIZE];
    memset(abFrame, 0, sizeof abFrame);
    memcpy(abFrame, pbFrame, uLen);
    fnLinkEnter();
    fnParseRxData(abFrame, uLen);
    fnPublishPending();
    fnLinkLeave(hWnd);
}

// Commands that decode, open a modal loop or end the driver. One that
// another program sends arrives nested inside whatever the driver is doing
// (a slot exchange waits in SendMessage): it runs later, from the message
// loop, not in the middle of a frame or a publication.
static BOOL fnDeferWhileBusy(WPARAM wParam)
{
    return wParam == IDM_TEST_FRAME || wParam == IDM_TEST_CLEAR || wParam == IDM_ABOUT || wParam == IDM_EXIT;
}

static void fnWriteMixer(const BYTE *pbBytes, WORD wLen)
{
    WriteComm(hCommPort, pbBytes, wLen);
}

LONG PerformMenuCommand(HWND hWnd, WPARAM wParam)
{
    static const BYTE abCmd1[4] = { 0x03, 0x24, 0x11, 0x01 };
    static const BYTE abCmd2[4] = { 0x03, 0x24, 0x11, 0x02 };
    static const BYTE abTestFrame[10] = { 0x09, 0x24, 0x91, 0xFF, 0x01, 0x0B, 0xFF, 0x41, 0x11, 0x03 };
    static const BYTE abClearFrame[6] = { 0x05, 0x24, 0x91, 0xFF, 0x00, 0x00 };

    switch (wParam) {
    case IDM_MIXER_CMD1:  fnWriteMixer(abCmd1, sizeof abCmd1); break;
    case IDM_MIXER_CMD2:  fnWriteMixer(abCmd2, sizeof abCmd2); break;
    case IDM_MIXER_START: fnWriteMixer(abStartupCommand, sizeof abStartupCommand); break;
    case IDM_TEST_FRAME:  fnFeedTestFrame(abTestFrame, sizeof abTestFrame); break;
    case IDM_TEST_CLEAR:  fnFeedTestFrame(abClearFrame, sizeof abClearFrame); break;
    case IDM_ABOUT:       About(hWnd, hInstance); break;
    case IDM_EXIT:        DestroyWindow(hWnd); break;
    case IDM_DEBUG:
        fDebug = !fDebug;
        CheckMenuItem(GetMenu(hWnd), IDM_DEBUG, MF_BYCOMMAND | (fDebug ? MF_CHECKED : MF_UNCHECKED));
        SetWindowPos(hWnd, NULL, 0, 0, WINDOW_WIDTH,
                     fnWindowHeight(fDebug ? PANEL_HEIGHT_DEBUG : PANEL_HEIGHT_SMALL),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        fnDebugListRedraw(fDebug);
        break;
    default:
        break;
    }
    return 0;
}

LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
    case IDMSG_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_COMMNOTIFY:
        fnRxCommData(hWnd);
        return 0;
    case WM_COMMAND:
        if (fnLinkBusy() && fnDeferWhileBusy(wParam)) {
            PostMessageA(hWnd, WM_COMMAND, wParam, lParam);
            return 0;
        }
        return PerformMenuCommand(hWnd, wParam);
    case WM_TIMER:
        fnTimerMessage(hWnd, wParam);
        return 0;
    case WM_RBUTTONUP:
        PopupMenu(hWnd, hWnd, lParam, IDM_ABOUT, IDM_EXIT);
        return 0;
    default:
        return DefWindowProcA(hWnd, message, wParam, lParam);
    }
}

INT_PTR CALLBACK PanelProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)wParam;
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(hDlg, IDC_COMMS, "?");
        SetDlgItemTextA(hDlg, IDC_COMMS, "/__1F__");
        return TRUE;
    case WM_RBUTTONUP:
        PopupMenu(GetParent(hDlg), hDlg, lParam, IDM_ABOUT, IDM_EXIT);
        return FALSE;
    default:
        return FALSE;
    }
}

// Builds <configuration directory>\dev_NNN.ini. Returns 0 if it doesn't fit:
// a cut path would name some other file.
static int fnDevicePath(char *acPath, size_t cbPath)
{
    memset(acPath, 0, cbPath);
    GetZARNConfigDirectory(acPath, (int)cbPath);
    acPath[cbPath - 1] = 0;
    size_t uLen = strlen(acPath);
    // An empty directory leaves the bare file name, which the profile calls
    // look up in the Windows directory.
    int fSlash = uLen > 0 && acPath[uLen - 1] != '\\';
    if (uLen + (size_t)fSlash + strlen(szDeviceFile) + 1 > cbPath)
        return 0;
    if (fSlash)
        acPath[uLen++] = '\\';
    strcpy(acPath + uLen, szDeviceFile);
    return 1;
}

// A device file that exists but cannot be read (a directory, no access)
// would read as all defaults and open the default port, maybe another
// device's. A missing one is fine: it is written on first use. The profile
// calls look a bare name up in the Windows directory, and so does this.
static int fnDeviceFileReadable(LPCSTR lpszPath)
{
    char acFull[PATH_SIZE + MAX_PATH];
    if (!fnProfileFilePath(lpszPath, acFull, sizeof acFull))
        return 0;
    lpszPath = acFull;
    DWORD dwAttr = GetFileAttributesA(lpszPath);
    if (dwAttr == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    if (dwAttr & FILE_ATTRIBUTE_DIRECTORY)
        return 0;
    HANDLE h = CreateFileA(lpszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(h);
    return 1;
}

// A start-up that cannot go on: the box says why; 0.
static int fnStartFailed(HWND hWnd, LPCSTR lpszText)
{
    MessageBoxA(hWnd, lpszText, "ERROR", MB_ICONERROR | MB_OK);
    return 0;
}

int fnInitialise(HWND hWnd, LPSTR lpszCmdLine)
{
    char acTitle[TEXT_SIZE];
    char acPath[PATH_SIZE];
    char acText[TEXT_SIZE];

    fnPublishReset();       // the start-up fill, 0xFF
    fStartup = 1;

    if (!fnInitAllApp(hWnd))
        return 0;

    iDeviceNo = fnParseDeviceNo(lpszCmdLine);
    if (iDeviceNo < 1 || iDeviceNo > 999)
        return fnStartFailed(hWnd, "No valid device number specified on the command line");

    _snprintf(acTitle, sizeof acTitle, "DEV_%03d - %s - Vede Doriv Urere Dizodo", iDeviceNo, ProgName);
    acTitle[sizeof acTitle - 1] = 0;
    if (fnFindFirstInstanceTitle(acTitle))
        return 0;       // the running driver of this device has come to the front
    SetWindowTextA(hWnd, acTitle);

    hDlg = CreateDialogParamA(hInstance, MAKEINTRESOURCEA(IDD_PANEL), hWnd, PanelProc, 0);
    if (!hDlg)
        return fnStartFailed(hWnd, "Cannot create dialog!");
    fnDebugListRedraw(fDebug);

    _snprintf(szDeviceFile, sizeof szDeviceFile, "dev_%03d.ini", iDeviceNo);
    szDeviceFile[sizeof szDeviceFile - 1] = 0;

    fnInitExtInfodriv(hWnd, fnInfoCommand);
    if (fnCreateExtInfodriv(iDeviceNo))
        return 0;

    if (!fnDevicePath(acPath, sizeof acPath))
        return fnStartFailed(hWnd, "The path of the device file is too long");

    if (!fnDeviceFileReadable(acPath)) {
        char acMsg[PATH_SIZE + 64];
        _snprintf(acMsg, sizeof acMsg, "Cannot read the device file\n%s", acPath);
        acMsg[sizeof acMsg - 1] = 0;
        return fnStartFailed(hWnd, acMsg);
    }

    hCommPort = fnOpenMixerPort(hWnd, acPath);
    if (hCommPort == -1)
        return 0;       // fnOpenPort has shown why; for "Com" 0, a parked device, nothing

    memset(acText, 0, sizeof acText);
    GetPrivateProfileStringA("Configuration", "Com", "??", acText, sizeof acText, acPath);
    SetDlgItemTextA(hDlg, IDC_COM, acText);

    memset(acText, 0, sizeof acText);
    GetPrivateProfileStringA("Device", "Name", "Default", acText, sizeof acText, acPath);
    if (strcmp(acText, "Default") == 0)
        WritePrivateProfileStringA("Device", "Name", "Default", acPath);
    SetDlgItemTextA(hDlg, IDC_NAME, acText);

    EnableCommNotification(hCommPort, hWnd, 1);
    fnStartPollTimer(hWnd);
    fnResetComms(hWnd);
    fnWriteMixer(abStartupCommand, sizeof abStartupCommand);
    return 1;
}

void fnCleanUp(HWND hWnd)
{
    (void)hWnd;
    fnCleanupExtInfodriv();
    fnCleanUpAllApp();
    if (hCommPort != -1) {
        CloseComm32(hCommPort);
        hCommPort = -1;
    }
}

int WINAPI WinMain(HINSTANCE hCurrentInst, HINSTANCE hPreviousInst, LPSTR lpszCmdLine, int nCmdShow)
{
    hCommPort = -1;
    hInstance = hCurrentInst;
    BWCCRegister(hInstance);

    if (!hPreviousInst) {
        WNDCLASSA wc;
        memset(&wc, 0, sizeof wc);
        wc.lpfnWndProc = WndProc;
        wc.hInstance = hInstance;
        wc.hIcon = LoadIconA(hInstance, MAKEINTRESOURCEA(IDI_MIXTALLY));
        wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
        wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
        wc.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
        wc.lpszClassName = ProgName;
        RegisterClassA(&wc);
    }

    hWnd = CreateWindowExA(0, ProgName, ProgName, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                           0, 0, WINDOW_WIDTH, fnWindowHeight(PANEL_HEIGHT_SMALL),
                           NULL, NULL, hInstance, NULL);
    if (!hWnd)
        return 0;

    if (fnInitialise(hWnd, lpszCmdLine)) {
        ShowWindow(hWnd, nCmdShow);
        UpdateWindow(hWnd);
    } else {
        DestroyWindow(hWnd);
    }

    MSG msg;
    msg.wParam = 0;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }

    fnCleanUp(hWnd);
    return (int)msg.wParam;
}
