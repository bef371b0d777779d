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
#include <chrono>
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
static WPARAM wLastNote;
static LPARAM lLastNote;
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

static __attribute__((format(printf, 1, 2))) void fnReply(const char *pszFmt, ...)
{
    va_list ap;
    va_start(ap, pszFmt);
    vprintf(pszFmt, ap);
    va_end(ap);
    printf("\n");
    fflush(stdout);
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

static BOOL WINAPI fnCancelNothing(HANDLE, LPOVERLAPPED)
{
    return TRUE;
}

// ---- "clock <ms>": the layer's clock stands at ms; "clock step <ms>": it
// moves on by ms at every reading. "clockspan": the last reading minus the
// first since the last "clockspan" (-1: none). Read by one thread at a time
// in the tests that set it.
static volatile LONG lClock, lClockStep, lSpanFirst, lSpanLast, fSpanAny;

static DWORD WINAPI fnProbeTicks(void)
{
    LONG l = InterlockedExchangeAdd(&lClock, lClockStep);
    if (InterlockedCompareExchange(&fSpanAny, 1, 0) == 0)
        lSpanFirst = l;
    lSpanLast = l;
    return (DWORD)l;
}

static LONG fnUnread(int iIndex)
{
    if (hGPortInfo == 0 || iIndex < 0 || iIndex >= COMMS_MAXPORTS)
        return -1;
    LONG l = ((LPPORTINFO)GlobalLock(hGPortInfo))[iIndex].iToRead;
    GlobalUnlock(hGPortInfo);
    return l;
}

// ---- the commands; each gets the rest of the line, and its leading whole
// numbers (0 where there are none).
struct Args {
    const char *psz;
    int i[3];
};

static void fnCmdOpen(const Args &a)
{
    int iPort, iBaud, iData, iStop, iParity;
    if (sscanf(a.psz, "%d %d %d %d %d", &iPort, &iBaud, &iData, &iStop, &iParity) != 5)
        return fnReply("error open <port> <baud> <databits> <stopcode> <paritycode>");
    fnReply("ok %d", (int)OpenComm32((UINT)iPort, iBaud, iData, iStop, iParity));
}

// close <index> [ms]: keeps a handle of the receive thread to report its
// exit code, waiting for its end at most ms (default 5000).
static void fnCmdClose(const Args &a)
{
    int iIndex = a.i[0];
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
    BOOL fEnded = WaitForSingleObject(hDup, (DWORD)(a.i[1] > 0 ? a.i[1] : 5000)) == WAIT_OBJECT_0;
    GetExitCodeThread(hDup, &dwExit);
    CloseHandle(hDup);
    if (fEnded)
        fnReply("ok exit=%lu %lu", dwExit, dwMs);
    else
        fnReply("ok running %lu", dwMs);
}

static void fnCmdRead(const Args &a)
{
    std::vector<BYTE> v((size_t)a.i[1] + 1);
    int r = ReadComm(a.i[0], v.data(), (WORD)a.i[1]);
    fnReply("ok %d %s", r, r > 0 ? Hex(v.data(), (size_t)r, "").c_str() : "-");
}

static void fnCmdWrite(const Args &a)
{
    char szHex[2048] = "";
    sscanf(a.psz, "%*d %2047[0-9a-fA-F]", szHex);
    size_t cb = strlen(szHex) / 2;
    if (strlen(szHex) % 2 != 0)
        return fnReply("error write <index> <hex>");
    std::vector<BYTE> v(cb + 1);
    for (size_t i = 0; i < cb; i++) {
        unsigned u;
        sscanf(szHex + 2 * i, "%2x", &u);
        v[i] = (BYTE)u;
    }
    fnReply("ok %d", WriteComm(a.i[0], v.data(), (WORD)cb));
}

// writen <index> <count>: count bytes 0, 1, 2, ... in one write
static void fnCmdWriteN(const Args &a)
{
    std::vector<BYTE> v((size_t)a.i[1] + 1);
    for (int i = 0; i < a.i[1]; i++)
        v[(size_t)i] = (BYTE)i;
    fnReply("ok %d", WriteComm(a.i[0], v.data(), (WORD)a.i[1]));
}

static void fnCmdErr(const Args &a)
{
    COMSTAT cs;
    memset(&cs, 0x5A, sizeof(cs));
    ULONG ul = GetCommError(a.i[0], &cs);
    fnReply("ok %lu %lu %lu", ul, cs.cbInQue, cs.cbOutQue);
}

static void fnCmdGetState(const Args &a)
{
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    int r = GetCommState32(a.i[0], &dcb);
    fnReply("ok %d baud=%lu bytesize=%d parity=%d stop=%d cts=%d dsr=%d outx=%d inx=%d xon=%d xoff=%d", r,
            dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits, dcb.fOutxCtsFlow, dcb.fOutxDsrFlow,
            dcb.fOutX, dcb.fInX, dcb.XonChar, dcb.XoffChar);
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
static void fnCmdState(const Args &a)
{
    int iIndex = a.i[0];
    if (hGPortInfo == 0)
        return fnReply("ok table=0");
    LPPORTINFO p = &((LPPORTINFO)GlobalLock(hGPortInfo))[iIndex];
    COMMTIMEOUTS ct = {};
    char szTo[96];
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

static void fnCmdHanded(const Args &)
{
    fnReply("ok %s", szHanded);
    strcpy(szHanded, "-");
}

// watch <index> <count> <timeout ms>: samples the port's unread count on
// this (the window) thread about every millisecond, from a first sample at 0
// until it reaches count, and prints "count <n>" whenever it changes (so the
// host can send each byte once the last one has been counted: a batch of its
// own). "watched" then gives, in microseconds, the time from the last sample
// at 0 (taken before its read) to the first at count or more (taken after its
// read): an upper bound on how far apart the receive thread counted the first
// and the last bytes, free of the host's delays. -1: count not reached in time.
static long lWatchSpanUs = -1;

static void fnCmdWatch(const Args &a)
{
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    lWatchSpanUs = -1;
    QueryPerformanceCounter(&t0);
    if (fnUnread(a.i[0]) != 0)
        return fnReply("error the unread count is not 0");
    LONGLONG llZero = t0.QuadPart, llStart = t0.QuadPart;
    LONG lLast = 0;
    fnReply("ok");      // the host sends its bytes from here on
    for (;;) {
        Sleep(1);
        QueryPerformanceCounter(&t0);
        LONG l = fnUnread(a.i[0]);
        QueryPerformanceCounter(&t1);
        if (l != lLast)
            fnReply("count %ld", l);
        lLast = l;
        if (l == 0)
            llZero = t0.QuadPart;
        else if (l >= a.i[1]) {
            lWatchSpanUs = (long)((t1.QuadPart - llZero) * 1000000 / f.QuadPart);
            return;
        }
        if ((t1.QuadPart - llStart) * 1000 / f.QuadPart > (LONGLONG)a.i[2])
            return;
    }
}

static void fnCmdNoteCounts(const Args &)
{
    std::string s;
    for (WORD w : vNoteCounts)
        s += (s.empty() ? "" : " ") + std::to_string(w);
    fnReply("ok %s", s.empty() ? "-" : s.c_str());
}

static void fnCmdClock(const Args &a)
{
    int i = 0;
    if (sscanf(a.psz, "step %d", &i) == 1) {
        lClockStep = i;
    } else {
        lClock = a.i[0];
        lClockStep = 0;
    }
    pfnCommsTicks = fnProbeTicks;
    fnReply("ok");
}

static void fnCmdClockSpan(const Args &)
{
    fnReply("ok %ld", fSpanAny ? lSpanLast - lSpanFirst : -1L);
    fSpanAny = 0;
}

// drain on [chunk] | drain off
static void fnCmdDrain(const Args &a)
{
    int iChunk = 0;
    fDrain = strncmp(a.psz, "on", 2) == 0;
    if (fDrain && sscanf(a.psz + 2, "%d", &iChunk) == 1 && iChunk > 0)
        wDrainChunk = (WORD)iChunk;
    fnReply("ok drain %d %u", fDrain, wDrainChunk);
}

// openport <ini> <section> <port> <speed> <data> <stop> <parity> <hw> <xon>:
// fnOpenPort's result, and the text, icon and owner of the box it showed.
static void fnCmdOpenPort(const Args &a)
{
    char szIni[512], szSect[64], szPar[8];
    unsigned long ulSpeed;
    int iPort, iData, iStop, iHw, iXon;
    if (sscanf(a.psz, "%511s %63s %d %lu %d %d %7s %d %d", szIni, szSect, &iPort, &ulSpeed, &iData, &iStop,
               szPar, &iHw, &iXon) != 9)
        return fnReply("error openport <ini> <section> <port> <speed> <data> <stop> <parity> <hw> <xon>");
    BoxPresser box("!! Error !!");
    INT_PTR r = fnOpenPort(hWndProbe, szIni, szSect, iPort, ulSpeed, iData, iStop, szPar, iHw, iXon);
    box.Stop();
    for (char &c : box.sText)
        c = c == '\n' ? '|' : c == ' ' ? '_' : c;
    if (box.fFound)
        fnReply("ok %d box=%s icon=%s owner=%d", (int)r, box.sText.c_str(),
                box.hIcon == LoadIconA(NULL, IDI_WARNING) ? "warning" : "other", box.hOwner == hWndProbe);
    else
        fnReply("ok %d box=-", (int)r);
}

// break <index> <baud> <length ms>: how long fnCommBreak took, in ms.
static void fnCmdBreak(const Args &a)
{
    auto t0 = std::chrono::steady_clock::now();
    fnCommBreak(hWndProbe, a.i[0], (UINT)a.i[1], (UINT)a.i[2]);
    auto dt = std::chrono::steady_clock::now() - t0;
    fnReply("ok %ld", (long)std::chrono::duration_cast<std::chrono::milliseconds>(dt).count());
}

// steal <hex handle> | steal off
static void fnCmdSteal(const Args &a)
{
    unsigned uDev = 0;
    if (strcmp(a.psz, "off") == 0) {
        fSteal = 0;
        return fnReply("ok");
    }
    sscanf(a.psz, "%x", &uDev);
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
static void fnCmdCancel(const Args &a)
{
    if (strcmp(a.psz, "off") == 0 && pfnCommsCancelIoEx != fnCancelNothing) {
        pfnSavedCancel = pfnCommsCancelIoEx;
        pfnCommsCancelIoEx = fnCancelNothing;
    } else if (strcmp(a.psz, "on") == 0 && pfnCommsCancelIoEx == fnCancelNothing) {
        pfnCommsCancelIoEx = pfnSavedCancel;
    }
    fnReply("ok %s", pfnCommsCancelIoEx == NULL ? "none" : pfnCommsCancelIoEx == fnCancelNothing ? "off" : "on");
}

static void fnCmdQuit(const Args &)
{
    fnReply("ok");
    PostQuitMessage(0);
}

static const struct {
    const char *pszName;
    void (*pfn)(const Args &a);
} aCommands[] = {
    {"open", fnCmdOpen},         {"close", fnCmdClose},         {"read", fnCmdRead},
    {"write", fnCmdWrite},       {"writen", fnCmdWriteN},       {"err", fnCmdErr},
    {"getstate", fnCmdGetState}, {"state", fnCmdState},         {"handed", fnCmdHanded},
    {"watch", fnCmdWatch},       {"notecounts", fnCmdNoteCounts}, {"clock", fnCmdClock},
    {"clockspan", fnCmdClockSpan}, {"drain", fnCmdDrain},       {"openport", fnCmdOpenPort},
    {"break", fnCmdBreak},       {"steal", fnCmdSteal},         {"cancel", fnCmdCancel},
    {"quit", fnCmdQuit},
    {"enable", [](const Args &a) { fnReply("ok %d", EnableCommNotification(a.i[0], hWndProbe, a.i[1])); }},
    {"flush", [](const Args &a) { fnReply("ok %d", FlushComm(a.i[0], (ULONG)a.i[1])); }},
    {"watched", [](const Args &) { fnReply("ok %ld", lWatchSpanUs); }},
    {"notes", [](const Args &) { fnReply("ok %ld %u %u", lNotes, (unsigned)wLastNote, (unsigned)HIWORD(lLastNote)); }},
    {"rx", [](const Args &) { fnReply("ok %lu %08lx %ld", ulRxCount, dwRxCrc ^ 0xFFFFFFFFu, lNotes); }},
    {"rxhex", [](const Args &) { fnReply("ok %s", vRx.empty() ? "-" : Hex(vRx.data(), vRx.size(), "").c_str()); }},
};

static void fnCommand(const char *pszLine)
{
    char szCmd[32] = "";
    int n = 0;
    sscanf(pszLine, "%31s%n", szCmd, &n);
    Args a = {pszLine + n, {0, 0, 0}};
    while (*a.psz == ' ')
        a.psz++;
    sscanf(a.psz, "%d %d %d", &a.i[0], &a.i[1], &a.i[2]);
    for (const auto &c : aCommands) {
        if (strcmp(szCmd, c.pszName) == 0)
            return c.pfn(a);
    }
    fnReply("error unknown %s", szCmd);
}

static LRESULT CALLBACK ProbeProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_COMMNOTIFY_NUMBER:
        lNotes++;
        wLastNote = wParam;
        lLastNote = lParam;
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
