// infodrv.exe <device>: a stand-in for the control system's infodriver of one
// device, for tests, benchmarks and the demo. It keeps slots 1..32767 as
// texts, answers the driver's hook, slot reads and writes over the ZARN32
// transport, sends revertives to the hooked driver, and is steered through a
// line protocol on stdin/stdout (see README.md).
//
// Threads: the window thread does all window work and all stdout writing; a
// reader thread only reads stdin and hands each line over with SendMessageA,
// so commands run one at a time on the window thread.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <limits.h>

#include "infodriver/exinfdrv.h"
#include "infodriver/zarn32.h"
#include "standins/standin_util.h"

#define MAX_SLOT        32767
#define SLOT_TEXT_MAX   512          // characters a transport text block holds
#define LINE_MAX_IN     2048         // longest control line accepted
#define WM_CTL_LINE     (WM_APP + 1) // lParam: a command line (reader thread -> window)
#define WM_CTL_EOF      (WM_APP + 2) // stdin ended: quit
#define CTL_BUSY        2            // WM_CTL_LINE's answer: not now, offer it again
#define ID_TIMER_SHOW   1            // refreshes the window's counts
#define SHOW_PERIOD_MS  250

static const char szClass[] = "StandInInfodriver";

// All of the following belong to the window thread.
static int iDevice;
static HWND hMainWnd;
static HWND hHookWnd;            // the hooked driver's hook window (16-bit handle), 0: none
static HWND hSender;             // sender of the copy-data request being handled
static LRESULT lMode = 1;        // answer to IDMSG_GETTXRXMODE
static char *apszSlot[MAX_SLOT + 1];   // slot texts, allocated on first non-empty write
static unsigned long ulWrites, ulReads;
static int iDriverSends;         // > 0 while we wait on a send to the driver
static DWORD dwDelayMs;          // "delay": each request is answered this late
static unsigned uWithholdOne;    // "withhold": one request in this many gets no reply (0: none)
static DWORD dwRandom;           // the withholding's random sequence, from its seed
static unsigned long ulShownWrites, ulShownReads;   // the counts the window last showed

// ---------------------------------------------------------------- slots

static const char *fnSlot(int iSlot)
{
    return (iSlot >= 1 && iSlot <= MAX_SLOT && apszSlot[iSlot] != NULL) ? apszSlot[iSlot] : "";
}

// Stores a text (cut to a transport block). Returns 0 on success.
static int fnStore(int iSlot, const char *pszText)
{
    if (iSlot < 1 || iSlot > MAX_SLOT)
        return 1;
    if (apszSlot[iSlot] == NULL) {
        if (pszText[0] == '\0')
            return 0;
        apszSlot[iSlot] = (char *)malloc(SLOT_TEXT_MAX + 1);
        if (apszSlot[iSlot] == NULL)
            return 1;
    }
    size_t cch = strnlen(pszText, SLOT_TEXT_MAX);
    memcpy(apszSlot[iSlot], pszText, cch);
    apszSlot[iSlot][cch] = '\0';
    // No repaint here: the window's counts are refreshed by a timer. A
    // repaint per write runs between the driver's exchanges and holds the
    // next one (a few hundred microseconds to milliseconds each under Wine's
    // X11 driver), which the benchmark would count as the driver's.
    return 0;
}

// Sends one revertive (cut to a transport block) to the hooked driver; 1 if
// none is hooked.
static int fnRevertive(const char *pszText)
{
    if (hHookWnd == NULL)
        return 1;
    iDriverSends++;
    ZARN32SendMessage(hMainWnd, hHookWnd, IDMSG_REVERTIVE, 0, (LPARAM)pszText, 0, ZARN32_TEXT);
    iDriverSends--;
    return 0;
}

static void fnSlotRevertive(int iSlot)
{
    char acRev[SLOT_TEXT_MAX + 1];
    snprintf(acRev, sizeof acRev, "IW %d '%s' %d", iDevice, fnSlot(iSlot), iSlot);
    fnRevertive(acRev);
}

// ---------------------------------------------------------------- slow and lossy answers

// Whether this request goes unanswered: one in uWithholdOne at random, a
// sequence fixed by the seed (xorshift32), so that a run can be repeated.
static int fnWithholdThis(void)
{
    if (uWithholdOne == 0)
        return 0;
    dwRandom ^= dwRandom << 13;
    dwRandom ^= dwRandom >> 17;
    dwRandom ^= dwRandom << 5;
    return dwRandom % uWithholdOne == 0;
}

// A text request handled like any other, stored or read, but with no reply:
// the sender's send returns and finds nothing. Prints "withheld <slot>".
static void fnHandleWithoutReply(HWND hWnd, const COPYDATASTRUCT *pCDS)
{
    char acBlock[ZARN32_TEXT_BLOCK + 1] = "";
    DWORD cb = pCDS->cbData < ZARN32_TEXT_BLOCK ? pCDS->cbData : ZARN32_TEXT_BLOCK;
    if (pCDS->lpData != NULL)
        memcpy(acBlock, pCDS->lpData, cb);
    UINT uMsg = (UINT)((pCDS->dwData >> 16) & 0xFFFF);
    UINT wParam = (UINT)(pCDS->dwData & 0xFFFF);
    SendMessageA(hWnd, uMsg, wParam, (LPARAM)acBlock);
    fnOut("withheld %d", (int)(wParam & 0x7FFF));
}

// ---------------------------------------------------------------- control channel

// Reads a slot number word; returns the slot (*ppszRest: what follows) or 0
// when it is not 1..32767.
static int fnParseSlot(const char *psz, const char **ppszRest)
{
    char *pcEnd;
    long l = strtol(psz, &pcEnd, 10);
    if (pcEnd == psz || (*pcEnd != '\0' && *pcEnd != ' ') || l < 1 || l > MAX_SLOT)
        return 0;
    *ppszRest = (*pcEnd == ' ') ? pcEnd + 1 : pcEnd;
    return (int)l;
}

// One command each; every one prints exactly one ok/err line.
static void fnCmdPing(char *)
{
    fnOut("ok");
}

static void fnCmdSet(char *pszArg)
{
    const char *pszRest;
    int iSlot = fnParseSlot(pszArg, &pszRest);
    if (iSlot == 0) {
        fnOut("err bad slot");
    } else if (strlen(pszRest) > SLOT_TEXT_MAX) {
        fnOut("err text longer than %d characters", SLOT_TEXT_MAX);
    } else if (fnStore(iSlot, pszRest) != 0) {
        fnOut("err out of memory");
    } else {
        // A write by another client reaches the driver as a revertive;
        // whatever the driver writes meanwhile is printed before the ok.
        if (hHookWnd != NULL)
            fnSlotRevertive(iSlot);
        fnOut("ok");
    }
}

static void fnCmdGet(char *pszArg)
{
    const char *pszRest;
    int iSlot = fnParseSlot(pszArg, &pszRest);
    if (iSlot == 0 || *pszRest != '\0')
        fnOut("err bad slot");
    else
        fnOut("ok %s", fnSlot(iSlot));
}

static void fnCmdDump(char *pszArg)
{
    const char *pszRest;
    int iFrom = fnParseSlot(pszArg, &pszRest);
    int iTo = iFrom ? fnParseSlot(pszRest, &pszRest) : 0;
    if (iFrom == 0 || iTo == 0 || *pszRest != '\0') {
        fnOut("err bad range");
        return;
    }
    for (int i = iFrom; i <= iTo; i++) {
        if (fnSlot(i)[0] != '\0')
            fnOut("slot %d %s", i, fnSlot(i));
    }
    fnOut("ok");
}

static void fnCmdRev(char *pszArg)
{
    if (strlen(pszArg) > SLOT_TEXT_MAX)
        fnOut("err text longer than %d characters", SLOT_TEXT_MAX);
    else if (fnRevertive(pszArg) != 0)
        fnOut("err not hooked");
    else
        fnOut("ok");
}

static void fnCmdClose(char *)
{
    // Posted: the driver destroys itself while handling it.
    if (hHookWnd == NULL)
        fnOut("err not hooked");
    else if (!PostMessageA(hHookWnd, IDMSG_CLOSE, 0, 0))
        fnOut("err post failed %lu", GetLastError());
    else
        fnOut("ok");
}

// A whole decimal number from lMin to lMax; FALSE for anything else.
static BOOL fnParseLong(const char *psz, long lMin, long lMax, long *pl)
{
    char *pcEnd;
    *pl = strtol(psz, &pcEnd, 10);
    return pcEnd != psz && *pcEnd == '\0' && *pl >= lMin && *pl <= lMax;
}

static void fnCmdMode(char *pszArg)
{
    long l;
    BOOL fOk = fnParseLong(pszArg, LONG_MIN, LONG_MAX, &l);
    if (fOk)
        lMode = l;
    fnOut(fOk ? "ok" : "err bad mode");
}

static void fnCmdDelay(char *pszArg)
{
    long l;
    BOOL fOk = fnParseLong(pszArg, 0, 60000, &l);
    if (fOk)
        dwDelayMs = (DWORD)l;
    fnOut(fOk ? "ok" : "err bad delay");
}

static void fnCmdWithhold(char *pszArg)
{
    long lOne, lSeed = 1;
    char *pszSeed = strchr(pszArg, ' ');
    if (pszSeed != NULL)
        *pszSeed++ = '\0';
    if (!fnParseLong(pszArg, 0, LONG_MAX, &lOne) || (pszSeed != NULL && !fnParseLong(pszSeed, 0, LONG_MAX, &lSeed))) {
        fnOut("err bad withhold");
        return;
    }
    uWithholdOne = (unsigned)lOne;
    dwRandom = lSeed != 0 ? (DWORD)lSeed : 1;   // xorshift never leaves 0
    fnOut("ok");
}

static void fnCmdQuit(char *)
{
    fnOut("ok");
    DestroyWindow(hMainWnd);
}

static const struct {
    const char *pszName;
    void (*pfn)(char *pszArg);
} aCommands[] = {
    { "ping", fnCmdPing }, { "set", fnCmdSet }, { "get", fnCmdGet }, { "dump", fnCmdDump },
    { "rev", fnCmdRev }, { "close", fnCmdClose }, { "mode", fnCmdMode }, { "delay", fnCmdDelay },
    { "withhold", fnCmdWithhold }, { "quit", fnCmdQuit },
};

// Runs one control command on the window thread.
static void fnCommand(char *pszLine)
{
    size_t cch = strlen(pszLine);
    while (cch > 0 && (pszLine[cch - 1] == '\r' || pszLine[cch - 1] == '\n'))
        pszLine[--cch] = '\0';
    char *pszArg = strchr(pszLine, ' ');
    if (pszArg != NULL)
        *pszArg++ = '\0';
    else
        pszArg = pszLine + cch;
    for (const auto &c : aCommands) {
        if (strcmp(pszLine, c.pszName) == 0) {
            c.pfn(pszArg);
            return;
        }
    }
    fnOut("err unknown command '%s'", pszLine);
}

// Reader thread: one line at a time, handed to the window thread and run
// there before the next is read. EOF (or a read error) ends the program.
static DWORD WINAPI fnReaderThread(LPVOID)
{
    HANDLE hIn = GetStdHandle(STD_INPUT_HANDLE);
    static char acLine[LINE_MAX_IN + 2];   // one character more marks a line over-long
    size_t cchLine = 0;
    char acBuf[512];
    DWORD cbRead;

    while (ReadFile(hIn, acBuf, sizeof acBuf, &cbRead, NULL) && cbRead > 0) {
        for (DWORD i = 0; i < cbRead; i++) {
            char c = acBuf[i];
            if (c != '\n') {
                if (cchLine <= LINE_MAX_IN)
                    acLine[cchLine++] = c;
                continue;
            }
            acLine[cchLine] = '\0';
            if (cchLine > LINE_MAX_IN)
                strcpy(acLine, "\x01overlong");   // answered with err, never run
            // A command must not run nested inside a wait on the driver (a
            // slot range, another client's write): it is offered again shortly.
            while (IsWindow(hMainWnd) && SendMessageA(hMainWnd, WM_CTL_LINE, 0, (LPARAM)acLine) == CTL_BUSY)
                Sleep(2);
            cchLine = 0;
        }
    }
    PostMessageA(hMainWnd, WM_CTL_EOF, 0, 0);
    return 0;
}

// ---------------------------------------------------------------- window

// A copy-data request or reply. Requests nest (the driver may write while we
// wait on a revertive), so the sender is kept per level.
static void fnCopyData(HWND hWnd, HWND hFrom, const COPYDATASTRUCT *pCDS)
{
    int fRequest = pCDS != NULL && ((pCDS->dwData >> 16) & 0xFFFF) != COPYDATA_REPLY;
    if (fRequest && dwDelayMs != 0)
        Sleep(dwDelayMs);
    HWND hOuter = hSender;
    hSender = hFrom;
    if (fRequest && pCDS->cbData != ZARN32_NUM_BLOCK && fnWithholdThis())
        fnHandleWithoutReply(hWnd, pCDS);
    else
        ZARN32RxMessage(hWnd, hFrom, (PCOPYDATASTRUCT)pCDS);
    hSender = hOuter;
}

static void fnHook(HWND hWnd, WPARAM wParam)
{
    // The hook window's handle arrives as its low 16 bits only.
    hHookWnd = (HWND)(UINT_PTR)(wParam & 0xFFFF);
    iDriverSends++;
    SendMessageA(hHookWnd, IDMSG_HOOKED, (WPARAM)hWnd, 0);
    iDriverSends--;
    fnOut("hooked %x", (unsigned)(UINT_PTR)hHookWnd);
    InvalidateRect(hWnd, NULL, TRUE);
}

// SETSLOT (slot in the low 15 bits, bit 15 "now") or SETSLOTONLY (slot in
// the low 16 bits).
static void fnSetSlotMessage(BOOL fOnly, WPARAM wParam, LPARAM lParam)
{
    int iSlot = (int)(wParam & (fOnly ? 0xFFFF : 0x7FFF));
    if (fnStore(iSlot, lParam ? (const char *)lParam : "") != 0) {
        fnOut("bad %c %d", fOnly ? 'O' : 'W', iSlot);
        return;
    }
    ulWrites++;
    if (fOnly) {
        fnOut("O %llu %d %s", fnQpcIn(1000000ull), iSlot, fnSlot(iSlot));
        return;
    }
    fnOut("W %llu %d %d %s", fnQpcIn(1000000ull), iSlot, (int)((wParam >> 15) & 1), fnSlot(iSlot));
    // Only a write from another client is told to the hooked driver.
    if (hHookWnd != NULL && ((UINT_PTR)hSender & 0xFFFF) != (UINT_PTR)hHookWnd)
        fnSlotRevertive(iSlot);
}

static void fnGetSlotMessage(WPARAM wParam, LPARAM lParam)
{
    int iSlot = (int)(wParam & 0xFFFF);
    // The block is the transport's 513-byte text block: the answer goes into
    // it, zero-padded.
    if (lParam != 0) {
        strncpy((char *)lParam, fnSlot(iSlot), ZARN32_TEXT_BLOCK - 1);
        ((char *)lParam)[ZARN32_TEXT_BLOCK - 1] = '\0';
    }
    ulReads++;
    fnOut("R %llu %d", fnQpcIn(1000000ull), iSlot);
}

static void fnSlotRangeMessage(WPARAM wParam, LPARAM lParam)
{
    long lFrom = (long)(int)wParam, lTo = (long)(int)lParam;
    if (lFrom < 1)
        lFrom = 1;
    if (lTo > MAX_SLOT)
        lTo = MAX_SLOT;
    for (long l = lFrom; l <= lTo && hHookWnd != NULL; l++)
        fnSlotRevertive((int)l);
    fnOut("range %d %d", (int)wParam, (int)lParam);
}

static void fnPaint(HWND hWnd)
{
    PAINTSTRUCT ps;
    char aacText[3][80];
    snprintf(aacText[0], sizeof aacText[0], "Stand-in infodriver, device %d", iDevice);
    if (hHookWnd != NULL)
        snprintf(aacText[1], sizeof aacText[1], "hooked by window %#x", (unsigned)(UINT_PTR)hHookWnd);
    else
        snprintf(aacText[1], sizeof aacText[1], "not hooked");
    snprintf(aacText[2], sizeof aacText[2], "writes %lu, reads %lu", ulWrites, ulReads);
    ulShownWrites = ulWrites;
    ulShownReads = ulReads;
    HDC hDC = BeginPaint(hWnd, &ps);
    for (int i = 0; i < 3; i++)
        TextOutA(hDC, 8, 8 + 20 * i, aacText[i], (int)strlen(aacText[i]));
    EndPaint(hWnd, &ps);
}

static LRESULT CALLBACK fnWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case IDMSG_SETSLOT:
    case IDMSG_SETSLOTONLY:
        fnSetSlotMessage(msg == IDMSG_SETSLOTONLY, wParam, lParam);
        return 0;
    case IDMSG_GETSLOT:
        fnGetSlotMessage(wParam, lParam);
        return 0;
    case IDMSG_SENDSLOTRANGE:
        fnSlotRangeMessage(wParam, lParam);
        return 0;
    case WM_COPYDATA:
        fnCopyData(hWnd, (HWND)wParam, (const COPYDATASTRUCT *)lParam);
        return 1;
    case IDMSG_HOOK:
        if ((lParam & 0x7FFF) != iDevice)
            break;
        fnHook(hWnd, wParam);
        return 0;
    case IDMSG_UNHOOK:
        hHookWnd = NULL;
        fnOut("unhooked");
        InvalidateRect(hWnd, NULL, TRUE);
        return 0;
    case IDMSG_SETTXRXMODE:
        lMode = (LRESULT)wParam;
        fnOut("mode %d", (int)wParam);
        return 0;
    case IDMSG_GETTXRXMODE:
        return lMode;
    case WM_CTL_LINE: {
        char *pszLine = (char *)lParam;
        if (iDriverSends > 0)
            return CTL_BUSY;
        if (pszLine[0] == '\x01')
            fnOut("err line longer than %d characters", LINE_MAX_IN);
        else
            fnCommand(pszLine);
        return 0;
    }
    case WM_CTL_EOF:
        DestroyWindow(hWnd);
        return 0;
    case WM_TIMER:
        if (wParam == ID_TIMER_SHOW && (ulWrites != ulShownWrites || ulReads != ulShownReads))
            InvalidateRect(hWnd, NULL, TRUE);
        return 0;
    case WM_PAINT:
        fnPaint(hWnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpszCmdLine, int)
{
    char *pcEnd;
    long lDevice = strtol(lpszCmdLine, &pcEnd, 10);
    if (pcEnd == lpszCmdLine || lDevice < 1 || lDevice > 999) {
        fnOut("err usage: infodrv <device 1..999>");
        return 2;
    }
    iDevice = (int)lDevice;
    fnRegisterClass(szClass, fnWndProc, hInstance, 0, 0, (HBRUSH)GetStockObject(WHITE_BRUSH),
                    LoadIconA(NULL, (LPCSTR)IDI_APPLICATION));

    char acTitle[64];
    snprintf(acTitle, sizeof acTitle, "infodrv %d (stand-in)", iDevice);
    hMainWnd = CreateWindowExA(0, szClass, acTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                               CW_USEDEFAULT, 280, 110, NULL, NULL, hInstance, NULL);
    if (hMainWnd == NULL) {
        fnOut("err cannot create window %lu", GetLastError());
        return 1;
    }
    ShowWindow(hMainWnd, SW_SHOWNOACTIVATE);
    SetTimer(hMainWnd, ID_TIMER_SHOW, SHOW_PERIOD_MS, NULL);
    fnOut("ready %d %x", iDevice, (unsigned)(UINT_PTR)hMainWnd);

    // Without a stdin (started by hand) there is no control channel: run until closed.
    HANDLE hIn = GetStdHandle(STD_INPUT_HANDLE);
    if (hIn != NULL && hIn != INVALID_HANDLE_VALUE) {
        HANDLE hThread = CreateThread(NULL, 0, fnReaderThread, NULL, 0, NULL);
        if (hThread != NULL)
            CloseHandle(hThread);
    }

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
