// commsprobe: drives the serial layer from a host test. Commands arrive one
// per line on stdin and run on the thread that owns the probe's window (the
// way the driver calls the layer); each prints one reply line on stdout,
// "ok ..." or "error ...". WM_COMMNOTIFY is counted and, with "drain on",
// answered the driver's way: ReadComm until it returns 0. The probe brings
// its own trace hook commsODS, which keeps the line settings that an open
// hands to the device (a pty drops parity and data bits, so reading the line
// back cannot show them).
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>
#include "comms/comms.h"
#include "comms/portset.h"
#include "support/wintest.h"

#define WM_PROBECMD (WM_APP + 1)
// The notification's number as every window that receives it knows it.
#define WM_COMMNOTIFY_NUMBER 0x0044

static HWND hWndProbe;
static LONG lNotes;                 // main thread
static WPARAM wLastNoteW;
static LPARAM lLastNoteL;
static int fDrain;
static WORD wDrainChunk = 1;
static std::vector<WORD> vNoteCounts;   // lParam's high word of every notification
static std::vector<BYTE> vRx;       // bytes drained on notifications
static DWORD dwRxCrc = 0xFFFFFFFFu;
static unsigned long ulRxCount;

// The settings of the last "Line ..." trace, as the layer handed them to the
// device: "<baud> <data bits> <parity code> <stop-bit code>"; "-" when none
// since the last "handed". Only the window thread opens ports; the receive
// threads' trace lines are passed over.
static char szHanded[64] = "-";

void commsODS(LPCSTR lpOutputString)
{
    unsigned long ulBaud;
    unsigned uData, uParity, uStop;

    if (sscanf(lpOutputString, "Line %lu baud, %u data bits, parity %u, stop bits %u", &ulBaud, &uData,
               &uParity, &uStop) == 4)
        wsprintfA(szHanded, "%lu %u %u %u", ulBaud, uData, uParity, uStop);
}

static DWORD fnCrc32(DWORD crc, const BYTE *pb, size_t cb)
{
    for (size_t i = 0; i < cb; i++) {
        crc ^= pb[i];
        for (int k = 0; k < 8; k++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

static void fnReply(const char *pszFmt, ...) __attribute__((format(printf, 1, 2)));
static void fnReply(const char *pszFmt, ...)
{
    va_list ap;
    va_start(ap, pszFmt);
    vprintf(pszFmt, ap);
    va_end(ap);
    printf("\n");
    fflush(stdout);
}

static bool fnParseHex(const char *psz, std::vector<BYTE> *pv)
{
    int iHalf = -1;
    for (; *psz; psz++) {
        char c = *psz;
        int v;
        if (c == ' ')
            continue;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else return false;
        if (iHalf < 0) iHalf = v;
        else { pv->push_back((BYTE)(iHalf * 16 + v)); iHalf = -1; }
    }
    return iHalf < 0;
}

// ---- message box watcher for fnOpenPort: finds the box, reads its text,
// presses OK.
static char szBoxText[512];
static int fBoxWarning, fBoxOwned;
static volatile LONG fWatch;

static DWORD WINAPI fnBoxWatcher(LPVOID)
{
    while (fWatch) {
        HWND hBox = FindWindowA("#32770", "!! Error !!");
        if (hBox != NULL) {
            GetDlgItemTextA(hBox, 0xFFFF, szBoxText, sizeof(szBoxText));
            fBoxWarning = BoxIcon(hBox) == LoadIconA(NULL, IDI_WARNING);
            fBoxOwned = GetWindow(hBox, GW_OWNER) == hWndProbe;
            PostMessageA(hBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         (LPARAM)GetDlgItem(hBox, IDOK));
            return 0;
        }
        Sleep(20);
    }
    return 0;
}

// ---- "steal <hex handle>": another process that keeps taking the start
// semaphore of a device handle value, as a concurrent open elsewhere can.
static volatile LONG fSteal;
static char szStealName[64];

static DWORD WINAPI fnStealer(LPVOID)
{
    HANDLE h = CreateSemaphoreA(NULL, 1, 1, szStealName);
    while (fSteal)
        WaitForSingleObject(h, 200);
    CloseHandle(h);
    return 0;
}

// ---- "cancel off": the layer's CancelIoEx cancels nothing from now on, as
// with a driver that leaves a cancelled read pending; "cancel on" undoes it.
static PFNCANCELIOEX pfnSavedCancel;

static BOOL WINAPI fnCancelNothing(HANDLE hFile, LPOVERLAPPED lpOverlapped)
{
    (void)hFile;
    (void)lpOverlapped;
    return TRUE;
}

// ---- "clock <ms>": the layer's clock stands at ms; "clock step <ms>": it
// moves on by ms at every reading; "clock real": GetTickCount again.
// "clockspan": the last reading minus the first since the last "clockspan"
// (-1: none). Read by one thread at a time in the tests that set it.
static volatile LONG lClock, lClockStep, lSpanFirst, lSpanLast, fSpanAny;

static DWORD WINAPI fnProbeTicks(void)
{
    LONG l = InterlockedExchangeAdd(&lClock, lClockStep);
    if (InterlockedCompareExchange(&fSpanAny, 1, 0) == 0)
        lSpanFirst = l;
    lSpanLast = l;
    return (DWORD)l;
}

// ---- "watch <index> <count> <timeout ms>": samples the port's unread count
// on this (the window) thread about every millisecond, from a first sample
// at 0 until it reaches count, and prints "count <n>" whenever it changes
// (so the host can send each byte once the last one has been counted: a
// batch of its own). "watched" then gives, in microseconds, the time from
// the last sample at 0 (taken before its read) to the first at count or
// more (taken after its read): an upper bound on how far apart the receive
// thread counted the first and the last bytes, free of the host's delays.
// -1: count not reached in time.
static long lWatchSpanUs = -1;

static LONG fnUnread(int iIndex)
{
    if (hGPortInfo == 0 || iIndex < 0 || iIndex >= COMMS_MAXPORTS)
        return -1;
    LONG l = ((LPPORTINFO)GlobalLock(hGPortInfo))[iIndex].iToRead;
    GlobalUnlock(hGPortInfo);
    return l;
}

static void fnWatch(int iIndex, LONG lCount, DWORD dwTimeoutMs)
{
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    lWatchSpanUs = -1;
    QueryPerformanceCounter(&t0);
    if (fnUnread(iIndex) != 0)
        return fnReply("error the unread count is not 0");
    LONGLONG llZero = t0.QuadPart, llStart = t0.QuadPart;
    LONG lLast = 0;
    fnReply("ok");      // the host sends its bytes from here on
    for (;;) {
        Sleep(1);
        QueryPerformanceCounter(&t0);
        LONG l = fnUnread(iIndex);
        QueryPerformanceCounter(&t1);
        if (l != lLast)
            fnReply("count %ld", l);
        lLast = l;
        if (l == 0)
            llZero = t0.QuadPart;
        else if (l >= lCount) {
            lWatchSpanUs = (long)((t1.QuadPart - llZero) * 1000000 / f.QuadPart);
            return;
        }
        if ((t1.QuadPart - llStart) * 1000 / f.QuadPart > (LONGLONG)dwTimeoutMs)
            return;
    }
}

// ---- the commands, one function each; pArgs is the rest of the line.

static void fnCmdOpen(const char *pArgs)
{
    int iPort, iBaud, iData, iStop, iParity;
    if (sscanf(pArgs, "%d %d %d %d %d", &iPort, &iBaud, &iData, &iStop, &iParity) != 5)
        return fnReply("error open <port> <baud> <databits> <stopcode> <paritycode>");
    fnReply("ok %d", (int)OpenComm32((UINT)iPort, iBaud, iData, iStop, iParity));
}

// close <index> [ms]: keeps a handle of the receive thread to report its
// exit code, waiting for its end at most ms (default 5000).
static void fnCmdClose(const char *pArgs)
{
    int iIndex = 0, iWaitMs = 0;
    sscanf(pArgs, "%d %d", &iIndex, &iWaitMs);
    HANDLE hDup = NULL;
    if (hGPortInfo != 0 && iIndex >= 0 && iIndex < COMMS_MAXPORTS) {
        LPPORTINFO pt = (LPPORTINFO)GlobalLock(hGPortInfo);
        if (pt[iIndex].hThread != NULL)
            DuplicateHandle(GetCurrentProcess(), pt[iIndex].hThread, GetCurrentProcess(), &hDup, 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
        GlobalUnlock(hGPortInfo);
    }
    DWORD dwStart = GetTickCount();
    CloseComm32(iIndex);
    DWORD dwMs = GetTickCount() - dwStart;
    if (hDup == NULL)
        return fnReply("ok nothread %lu", dwMs);
    DWORD dwExit = 0;
    BOOL fEnded = WaitForSingleObject(hDup, (DWORD)(iWaitMs > 0 ? iWaitMs : 5000)) == WAIT_OBJECT_0;
    GetExitCodeThread(hDup, &dwExit);
    CloseHandle(hDup);
    if (fEnded)
        fnReply("ok exit=%lu %lu", dwExit, dwMs);
    else
        fnReply("ok running %lu", dwMs);
}

// enable <index> <count> [nowin]
static void fnCmdEnable(const char *pArgs)
{
    int iIndex = 0, iCount = 0;
    sscanf(pArgs, "%d %d", &iIndex, &iCount);
    HWND h = strstr(pArgs, "nowin") ? NULL : hWndProbe;
    fnReply("ok %d", EnableCommNotification(iIndex, h, iCount));
}

static void fnCmdRead(const char *pArgs)
{
    int iIndex = 0, iMax = 0;
    sscanf(pArgs, "%d %d", &iIndex, &iMax);
    std::vector<BYTE> v((size_t)iMax + 1);
    int r = ReadComm(iIndex, v.data(), (WORD)iMax);
    fnReply("ok %d %s", r, r > 0 ? Hex(v.data(), (size_t)r, "").c_str() : "-");
}

static void fnCmdWrite(const char *pArgs)
{
    char szHex[2048] = "";
    int iIndex = 0;
    sscanf(pArgs, "%d %2047[0-9a-fA-F ]", &iIndex, szHex);
    std::vector<BYTE> v;
    if (!fnParseHex(szHex, &v))
        return fnReply("error write <index> <hex>");
    fnReply("ok %d", WriteComm(iIndex, v.data(), (WORD)v.size()));
}

// writen <index> <count>: count bytes 0, 1, 2, ... in one write
static void fnCmdWriteN(const char *pArgs)
{
    int iIndex = 0, iCount = 0;
    sscanf(pArgs, "%d %d", &iIndex, &iCount);
    std::vector<BYTE> v((size_t)iCount + 1);
    for (int i = 0; i < iCount; i++)
        v[(size_t)i] = (BYTE)i;
    fnReply("ok %d", WriteComm(iIndex, v.data(), (WORD)iCount));
}

static void fnCmdErr(const char *pArgs)
{
    int iIndex = atoi(pArgs);
    COMSTAT cs;
    memset(&cs, 0x5A, sizeof(cs));
    ULONG ul = GetCommError(iIndex, &cs);
    fnReply("ok %lu %lu %lu", ul, cs.cbInQue, cs.cbOutQue);
}

static void fnCmdFlush(const char *pArgs)
{
    int iIndex = 0, iFlags = 0;
    sscanf(pArgs, "%d %d", &iIndex, &iFlags);
    fnReply("ok %d", FlushComm(iIndex, (ULONG)iFlags));
}

static int fnGetState(int iIndex, DCB *pdcb)
{
    ZeroMemory(pdcb, sizeof(*pdcb));
    pdcb->DCBlength = sizeof(*pdcb);
    return GetCommState32(iIndex, pdcb);
}

static void fnCmdGetState(const char *pArgs)
{
    int iIndex = atoi(pArgs);
    DCB dcb;
    int r = fnGetState(iIndex, &dcb);
    fnReply("ok %d baud=%lu bytesize=%d parity=%d stop=%d cts=%d dsr=%d outx=%d inx=%d xon=%d xoff=%d", r,
            dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits, dcb.fOutxCtsFlow, dcb.fOutxDsrFlow,
            dcb.fOutX, dcb.fInX, dcb.XonChar, dcb.XoffChar);
}

static void fnCmdSetState(const char *pArgs)
{
    int iIndex = atoi(pArgs);
    DCB dcb;
    fnGetState(iIndex, &dcb);
    fnReply("ok %d", SetCommState32(iIndex, &dcb));
}

// pszLead, then the five time-outs as "a,b,c,d,e".
static void fnTimeouts(char *psz, const char *pszLead, const COMMTIMEOUTS *pto)
{
    wsprintfA(psz, "%s%lu,%lu,%lu,%lu,%lu", pszLead, pto->ReadIntervalTimeout,
              pto->ReadTotalTimeoutMultiplier, pto->ReadTotalTimeoutConstant,
              pto->WriteTotalTimeoutMultiplier, pto->WriteTotalTimeoutConstant);
}

// state <index>: the entry's fields as key=value. to: the time-outs the
// device holds; the record's copy follows after a slash when it differs.
static void fnCmdState(const char *pArgs)
{
    int iIndex = atoi(pArgs);
    if (hGPortInfo == 0)
        return fnReply("ok table=0");
    LPPORTINFO p = &((LPPORTINFO)GlobalLock(hGPortInfo))[iIndex];
    COMMTIMEOUTS ct;
    char szTo[96];
    ZeroMemory(&ct, sizeof(ct));
    if (p->hComPort != 0)
        GetCommTimeouts(p->hComPort, &ct);
    fnTimeouts(szTo, "", &ct);
    if (memcmp(&ct, &p->to, sizeof(ct)) != 0)
        fnTimeouts(szTo + strlen(szTo), "/", &p->to);
    fnReply("ok table=1 used=%d port=%u baud=%ld buf=%d thread=%d iToRead=%d notify=%d hwnd=%d to=%s "
            "btr=%d reading=%d dropped=%lu dev=%#x dead=%d",
            p->hComPort != 0, p->iComPort, p->lBaudRate, p->hInBuf != 0, p->hThread != 0, p->iToRead,
            p->fNotifyInProgress, p->hWndNotify != 0, szTo, iBTR[iIndex], bReading[iIndex],
            GetCommDropped32(iIndex), (unsigned)(UINT_PTR)p->hComPort, GetCommDead32(iIndex));
    GlobalUnlock(hGPortInfo);
}

static void fnCmdHanded(const char *)
{
    fnReply("ok %s", szHanded);
    strcpy(szHanded, "-");
}

static void fnCmdWatch(const char *pArgs)
{
    int iIndex = 0, iCount = 0, iTimeoutMs = 0;
    sscanf(pArgs, "%d %d %d", &iIndex, &iCount, &iTimeoutMs);
    fnWatch(iIndex, iCount, (DWORD)iTimeoutMs);
}

static void fnCmdWatched(const char *)
{
    fnReply("ok %ld", lWatchSpanUs);
}

static void fnCmdNotes(const char *)
{
    fnReply("ok %ld %u %u", lNotes, (unsigned)wLastNoteW, (unsigned)HIWORD(lLastNoteL));
}

static void fnCmdNoteCounts(const char *)
{
    std::string s;
    for (WORD w : vNoteCounts)
        s += (s.empty() ? "" : " ") + std::to_string(w);
    fnReply("ok %s", s.empty() ? "-" : s.c_str());
}

static void fnCmdClock(const char *pArgs)
{
    int i = 0;
    if (strcmp(pArgs, "real") == 0) {
        pfnCommsTicks = GetTickCount;
    } else {
        if (sscanf(pArgs, "step %d", &i) == 1) {
            lClockStep = i;
        } else {
            sscanf(pArgs, "%d", &i);
            lClock = i;
            lClockStep = 0;
        }
        pfnCommsTicks = fnProbeTicks;
    }
    fnReply("ok");
}

static void fnCmdClockSpan(const char *)
{
    fnReply("ok %ld", fSpanAny ? lSpanLast - lSpanFirst : -1L);
    fSpanAny = 0;
}

// drain on [chunk] | drain off
static void fnCmdDrain(const char *pArgs)
{
    int iChunk = 0;
    fDrain = strncmp(pArgs, "on", 2) == 0;
    if (fDrain && sscanf(pArgs + 2, "%d", &iChunk) == 1 && iChunk > 0)
        wDrainChunk = (WORD)iChunk;
    fnReply("ok drain %d %u", fDrain, wDrainChunk);
}

static void fnCmdRx(const char *)
{
    fnReply("ok %lu %08lx %ld", ulRxCount, dwRxCrc ^ 0xFFFFFFFFu, lNotes);
}

static void fnCmdRxHex(const char *)
{
    fnReply("ok %s", vRx.empty() ? "-" : Hex(vRx.data(), vRx.size(), "").c_str());
}

static void fnCmdReset(const char *)
{
    lNotes = 0;
    vNoteCounts.clear();
    wLastNoteW = 0;
    lLastNoteL = 0;
    vRx.clear();
    ulRxCount = 0;
    dwRxCrc = 0xFFFFFFFFu;
    fnReply("ok");
}

// openport <ini> <section> <port> <speed> <data> <stop> <parity> <hw> <xon>
static void fnCmdOpenPort(const char *pArgs)
{
    char szIni[512], szSect[64], szPar[8];
    unsigned long ulSpeed;
    int iPort, iData, iStop, iHw, iXon;
    if (sscanf(pArgs, "%511s %63s %d %lu %d %d %7s %d %d", szIni, szSect, &iPort, &ulSpeed, &iData, &iStop,
               szPar, &iHw, &iXon) != 9)
        return fnReply("error openport <ini> <section> <port> <speed> <data> <stop> <parity> <hw> <xon>");
    szBoxText[0] = 0;
    fWatch = 1;
    HANDLE hW = CreateThread(NULL, 0, fnBoxWatcher, NULL, 0, NULL);
    INT_PTR r = fnOpenPort(hWndProbe, szIni, szSect, iPort, ulSpeed, iData, iStop, szPar, iHw, iXon);
    fWatch = 0;
    WaitForSingleObject(hW, 5000);
    CloseHandle(hW);
    for (char *pc = szBoxText; *pc; pc++) {
        if (*pc == '\n')
            *pc = '|';
        if (*pc == ' ')
            *pc = '_';
    }
    if (szBoxText[0])
        fnReply("ok %d box=%s icon=%s owner=%d", (int)r, szBoxText, fBoxWarning ? "warning" : "other",
                fBoxOwned);
    else
        fnReply("ok %d box=-", (int)r);
}

// break <index> <baud> <length ms>: how long fnCommBreak took, in ms.
static void fnCmdBreak(const char *pArgs)
{
    int iIndex = 0, iBaud = 0, iLength = 0;
    sscanf(pArgs, "%d %d %d", &iIndex, &iBaud, &iLength);
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    fnCommBreak(hWndProbe, iIndex, (UINT)iBaud, (UINT)iLength);
    QueryPerformanceCounter(&b);
    fnReply("ok %ld", (long)((b.QuadPart - a.QuadPart) * 1000 / f.QuadPart));
}

// steal <hex handle> | steal off
static void fnCmdSteal(const char *pArgs)
{
    unsigned uDev = 0;
    if (strcmp(pArgs, "off") == 0) {
        fSteal = 0;
        return fnReply("ok");
    }
    sscanf(pArgs, "%x", &uDev);
    wsprintfA(szStealName, "Creating Thread for hCom %#x.\r\n", uDev);
    fSteal = 1;
    // Several waiters, staggered, so that some are always queued ahead
    // of a later waiter in another process.
    for (int i = 0; i < 4; i++) {
        CloseHandle(CreateThread(NULL, 0, fnStealer, NULL, 0, NULL));
        Sleep(50);
    }
    fnReply("ok");
}

// cancel off | cancel on
static void fnCmdCancel(const char *pArgs)
{
    if (strcmp(pArgs, "off") == 0 && pfnCommsCancelIoEx != fnCancelNothing) {
        pfnSavedCancel = pfnCommsCancelIoEx;
        pfnCommsCancelIoEx = fnCancelNothing;
    } else if (strcmp(pArgs, "on") == 0 && pfnCommsCancelIoEx == fnCancelNothing) {
        pfnCommsCancelIoEx = pfnSavedCancel;
    }
    fnReply("ok %s", pfnCommsCancelIoEx == NULL ? "none" : pfnCommsCancelIoEx == fnCancelNothing ? "off" : "on");
}

static void fnCmdQuit(const char *)
{
    fnReply("ok");
    PostQuitMessage(0);
}

static const struct {
    const char *pszName;
    void (*pfn)(const char *pArgs);
} aCommands[] = {
    {"open", fnCmdOpen},         {"close", fnCmdClose},         {"enable", fnCmdEnable},
    {"read", fnCmdRead},         {"write", fnCmdWrite},         {"writen", fnCmdWriteN},
    {"err", fnCmdErr},           {"flush", fnCmdFlush},         {"getstate", fnCmdGetState},
    {"setstate", fnCmdSetState}, {"state", fnCmdState},         {"handed", fnCmdHanded},
    {"watch", fnCmdWatch},       {"watched", fnCmdWatched},     {"notes", fnCmdNotes},
    {"notecounts", fnCmdNoteCounts}, {"clock", fnCmdClock},     {"clockspan", fnCmdClockSpan},
    {"drain", fnCmdDrain},       {"rx", fnCmdRx},               {"rxhex", fnCmdRxHex},
    {"reset", fnCmdReset},       {"openport", fnCmdOpenPort},   {"break", fnCmdBreak},
    {"steal", fnCmdSteal},       {"cancel", fnCmdCancel},       {"quit", fnCmdQuit},
};

static void fnCommand(const char *pszLine)
{
    char szCmd[32] = "";
    int n = 0;
    sscanf(pszLine, "%31s%n", szCmd, &n);
    const char *pArgs = pszLine + n;
    while (*pArgs == ' ')
        pArgs++;
    for (const auto &c : aCommands) {
        if (strcmp(szCmd, c.pszName) == 0)
            return c.pfn(pArgs);
    }
    fnReply("error unknown %s", szCmd);
}

static LRESULT CALLBACK ProbeProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_COMMNOTIFY_NUMBER:
        lNotes++;
        wLastNoteW = wParam;
        lLastNoteL = lParam;
        vNoteCounts.push_back(HIWORD(lParam));
        if (fDrain) {
            BYTE ab[256];
            int r;
            while ((r = ReadComm((INT_PTR)wParam, ab, wDrainChunk)) > 0) {
                ulRxCount += (unsigned long)r;
                dwRxCrc = fnCrc32(dwRxCrc, ab, (size_t)r);
                if (vRx.size() < 4096)
                    vRx.insert(vRx.end(), ab, ab + r);
            }
        }
        return 0;
    case WM_PROBECMD: {
        char *psz = (char *)lParam;
        fnCommand(psz);
        free(psz);
        return 0;
    }
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

static DWORD WINAPI fnStdinReader(LPVOID)
{
    char szLine[8192];
    while (fgets(szLine, sizeof(szLine), stdin) != NULL) {
        size_t n = strlen(szLine);
        while (n > 0 && (szLine[n - 1] == '\n' || szLine[n - 1] == '\r'))
            szLine[--n] = 0;
        PostMessageA(hWndProbe, WM_PROBECMD, 0, (LPARAM)_strdup(szLine));
    }
    PostMessageA(hWndProbe, WM_PROBECMD, 0, (LPARAM)_strdup("quit"));
    return 0;
}

int main()
{
    hWndProbe = MakeWindow("commsprobe", ProbeProc, "CommsProbe", WS_OVERLAPPED, NULL, {0, 0, 10, 10});
    if (hWndProbe == NULL)
        return 1;
    fnReply("ready");
    CreateThread(NULL, 0, fnStdinReader, NULL, 0, NULL);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    for (int i = 0; i < COMMS_MAXPORTS; i++)
        CloseComm32(i);
    return 0;
}
