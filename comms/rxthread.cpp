// The receive thread of each open port and its notification: the thread
// reads the device without pause into the port's ring buffer and posts
// WM_COMMNOTIFY to the registered window; ReadComm takes the bytes out and
// re-arms the notification. A read or a write that fails for a reason other
// than a time-out marks the port's device dead.
//
// Threads: ComRxThread, ProcessBytes and ProcessCommError run on the port's
// receive thread; EnableCommNotification and ReadComm on the main thread.
// Of the entry they share iToRead and fNotifyInProgress, every change of
// which is Interlocked, so that no count is lost and no notification is
// stranded; dwTimeOfNotify belongs to the receive thread, hWndNotify is a
// single word the main thread writes; the ring buffer has a semaphore of its
// own (ringbuf.cpp). The receive thread reaches the entry, its buffer and the
// table only while it holds RX_BUSY (commsport.h), so the close never takes
// them away under it.
#include "comms/commsport.h"

#define RX_MAXREAD      256     // size of the receive thread's inbuff
#define RX_BACKOFF_MAX  50      // ms between requests on a failing device
#define NOTIFY_REARM_MS 100
#define NOTIFY_BACKLOG  8192

// The first dead-device error of entry p (index idx) is kept, and one
// notification is posted, so that the owner hears of it at once instead of at
// its next time-out; its drain finds GetCommDead32 set. The caller holds the
// table, and on the receive thread RX_BUSY as well.
void fnMarkDead(INT_PTR idx, LPPORTINFO p, DWORD dwErr)
{
    HWND hWnd;

    if (p->hComPort == 0 || InterlockedCompareExchange(&aPortPriv[idx].lDead, (LONG)dwErr, 0) != 0)
        return;
    commsODS("Device dead\r\n");
    hWnd = p->hWndNotify;
    if (hWnd != 0)
        PostMessageA(hWnd, WM_COMMNOTIFY, (WPARAM)idx, MAKELPARAM(0, (WORD)(p->iToRead & 0xFFFF)));
}

// Receive thread: a request failed. Marks the port dead when the error says
// so, unless the port was closed under our feet (detached).
static void fnRxFailed(int idx, DWORD dwErr)
{
    LPPORTINFO pTable;

    if (!fnDeadError(dwErr) || aPortPriv[idx].lDead != 0)
        return;
    if (InterlockedCompareExchange(&aPortPriv[idx].lRxState, RX_BUSY, RX_ATTACHED) != RX_ATTACHED)
        return;
    pTable = (LPPORTINFO)GlobalLock(hGPortInfo);
    if (pTable != NULL) {
        fnMarkDead(idx, &pTable[idx], dwErr);
        GlobalUnlock(hGPortInfo);
    }
    InterlockedExchange(&aPortPriv[idx].lRxState, RX_ATTACHED);
}

int EnableCommNotification(INT_PTR hCom, HWND hWndMain, int iBNot)
{
    LPPORTINFO p = fnLockEntry(hCom);
    LONG lInterval;

    if (p == NULL)
        return 0;
    if (iBNot < 0) {
        p->hWndNotify = 0;
        GlobalUnlock(hGPortInfo);
        return 1;
    }
    // Each request reads iBNot bytes into the thread's 256-byte inbuff: keep
    // the count within 1..256 (0 would ask for nothing, over 256 would not fit).
    if (iBNot < 1)
        iBNot = 1;
    if (iBNot > RX_MAXREAD)
        iBNot = RX_MAXREAD;
    p->hWndNotify = hWndMain;
    lInterval = p->lBaudRate > 0 ? 100000L / p->lBaudRate : 1;
    if (lInterval < 1)
        lInterval = 1;
    p->to.ReadIntervalTimeout = (DWORD)lInterval;
    p->to.ReadTotalTimeoutMultiplier = (DWORD)iBNot;
    p->to.ReadTotalTimeoutConstant = 0;
    p->to.WriteTotalTimeoutMultiplier = 0;
    p->to.WriteTotalTimeoutConstant = 1000;
    SetCommTimeouts(p->hComPort, &p->to);
    iBTR[hCom] = iBNot;
    GlobalUnlock(hGPortInfo);
    return 1;
}

int ReadComm(INT_PTR hCom, BYTE *bDest, WORD wBytes)
{
    LPPORTINFO p;
    UINT n;

    if (bDest == NULL && wBytes != 0)
        return 0;
    p = fnLockEntry(hCom);
    if (p == NULL)
        return 0;
    // Re-arm before taking the bytes: a batch the receive thread stores after
    // this point is either taken below or gets a notification of its own;
    // re-arming after the read could strand it with no notification.
    InterlockedExchange((LONG volatile *)&p->fNotifyInProgress, 0);
    n = bGetData(p->hInBuf, bDest, wBytes);
    InterlockedExchangeAdd((LONG volatile *)&p->iToRead, -(LONG)n);
    GlobalUnlock(hGPortInfo);
    return (int)n;
}

int ProcessCommError(DWORD dwError, HANDLE hCom)
{
    DWORD dwErrors;
    COMSTAT cs;

    (void)dwError;
    ClearCommError(hCom, &dwErrors, &cs);
    PurgeComm(hCom, PURGE_RXCLEAR);
    return 1;
}

void ProcessBytes(INT_PTR hCom, const BYTE *buf, DWORD dwBytes)
{
    LPPORTINFO pTable, p;
    DWORD dwNow;
    UINT uKept;
    LONG lUnread;
    HWND hWnd;

    if (fnBadIndex(hCom))
        return;
    // Closed under our feet (detached): the entry is not ours any more.
    if (InterlockedCompareExchange(&aPortPriv[hCom].lRxState, RX_BUSY, RX_ATTACHED) != RX_ATTACHED)
        return;
    pTable = (LPPORTINFO)GlobalLock(hGPortInfo);
    if (pTable != NULL) {
        p = &pTable[hCom];
        dwNow = pfnCommsTicks();

        uKept = bAddDataCount(p->hInBuf, buf, dwBytes);
        if (uKept < dwBytes) {
            // Full buffer or no lock in 200 ms: the rest is lost. Count it,
            // and count as waiting only what was stored.
            InterlockedExchangeAdd(&aPortPriv[hCom].lDropped, (LONG)(dwBytes - uKept));
            commsODS("Receive buffer full, bytes lost\r\n");
        }
        lUnread = InterlockedExchangeAdd((LONG volatile *)&p->iToRead, (LONG)uKept) + (LONG)uKept;

        // Re-arm 100 ms after the last notification (elapsed time, so that the
        // tick count's wrap does no harm), or while the window lags far behind.
        if (dwNow - p->dwTimeOfNotify >= NOTIFY_REARM_MS || lUnread > NOTIFY_BACKLOG)
            InterlockedExchange((LONG volatile *)&p->fNotifyInProgress, 0);

        hWnd = p->hWndNotify;
        if (hWnd != 0) {
            commsODS("Processing and Notifying\r\n");
            if (InterlockedCompareExchange((LONG volatile *)&p->fNotifyInProgress, 1, 0) == 0) {
                p->dwTimeOfNotify = dwNow;
                PostMessageA(hWnd, WM_COMMNOTIFY, (WPARAM)hCom,
                             MAKELPARAM(0, (WORD)(lUnread & 0xFFFF)));
            }
        }
        GlobalUnlock(hGPortInfo);
    }
    InterlockedExchange(&aPortPriv[hCom].lRxState, RX_ATTACHED);
}

// ClearCommError on the receive thread: the error bits it clears on the
// device are kept for GetCommError, which would otherwise never see them.
static BOOL fnClearCommErrorRx(int idx, HANDLE hDev, COMSTAT *pcs)
{
    DWORD dwErrors = 0;
    BOOL fOk = ClearCommError(hDev, &dwErrors, pcs);

    if (fOk && dwErrors != 0) {
        LONG lOld;
        do
            lOld = aPortPriv[idx].lCommErrors;
        while (InterlockedCompareExchange(&aPortPriv[idx].lCommErrors, lOld | (LONG)dwErrors, lOld) != lOld);
    }
    return fOk;
}

// After a request that filled up: takes at once what the device already
// holds (at most cbMax), into the same batch. Every request is a round trip
// to the device's driver (under Wine, to its server), so one-byte requests
// alone can fall behind a busy line.
static DWORD fnReadQueued(int idx, HANDLE hDev, LPOVERLAPPED pos, BYTE *pb, DWORD cbMax)
{
    COMSTAT cs;
    DWORD dwGot = 0, cbAsk;

    ZeroMemory(&cs, sizeof(cs));
    if (!fnClearCommErrorRx(idx, hDev, &cs) || cs.cbInQue == 0)
        return 0;
    cbAsk = cs.cbInQue < cbMax ? cs.cbInQue : cbMax;
    if (!ReadFile(hDev, pb, cbAsk, &dwGot, pos) &&
        (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(hDev, pos, &dwGot, TRUE)))
        dwGot = 0;
    return dwGot;
}

// One read request of cbAsk bytes into pb; the count read. *pfHealthy: the
// request ended as a working device's does (bytes, or a silent line's time-out).
static DWORD fnRxRequest(int idx, HANDLE hDev, LPOVERLAPPED pos, BYTE *pb, DWORD cbAsk, BOOL *pfHealthy)
{
    DWORD dwRead = 0, dwErr;
    COMSTAT cs;

    *pfHealthy = FALSE;
    if (ReadFile(hDev, pb, cbAsk, &dwRead, pos)) {
        *pfHealthy = dwRead > 0;
        return dwRead;
    }
    dwErr = GetLastError();
    if (dwErr == ERROR_IO_PENDING) {
        if (GetOverlappedResult(hDev, pos, &dwRead, TRUE)) {
            *pfHealthy = TRUE;
            return dwRead;
        }
        dwErr = GetLastError();
        *pfHealthy = dwErr == ERROR_TIMEOUT;
        fnRxFailed(idx, dwErr);
        return 0;
    }
    // Keep the device's error bits for GetCommError before ProcessCommError
    // clears them again.
    fnClearCommErrorRx(idx, hDev, &cs);
    fnRxFailed(idx, dwErr);
    ProcessCommError(dwErr, hDev);
    return 0;
}

DWORD WINAPI ComRxThread(LPVOID lpdwParam)
{
    PORTINFO pinf;
    OVERLAPPED os;
    BYTE inbuff[RX_MAXREAD];
    DWORD nBytesRead, dwBackoff = 0;
    HANDLE hDev;
    int idx, iAsk;
    BOOL fHealthy;
    char szLine[64];

    pinf = *(LPPORTINFO)lpdwParam;
    hDev = pinf.hComPort;
    idx = (int)pinf.iComPort - 1;
    wsprintfA(szLine, "Thread Up for hComPort %#x.\r\n", (unsigned)(UINT_PTR)hDev);
    commsODS(szLine);

    ZeroMemory(&os, sizeof(os));
    os.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    InterlockedExchange(&lCopyTaken, 1);
    if (pinf.hStarted != NULL)
        ReleaseSemaphore(pinf.hStarted, 1, NULL);

    while (bReading[idx]) {
        // A device that fails at once (pty closed at the far end: reads give
        // ERROR_BROKEN_PIPE; a dangling COM path: error 1) must not spin a
        // core: wait 1 ms, doubling up to 50 ms, between failing requests.
        if (dwBackoff != 0) {
            Sleep(dwBackoff);
            if (!bReading[idx])
                break;
        }
        iAsk = iBTR[idx];
        if (iAsk < 1)
            iAsk = 1;
        if (iAsk > RX_MAXREAD)
            iAsk = RX_MAXREAD;

        nBytesRead = fnRxRequest(idx, hDev, &os, inbuff, (DWORD)iAsk, &fHealthy);
        if (nBytesRead > 0 && nBytesRead == (DWORD)iAsk && iAsk < RX_MAXREAD)
            nBytesRead += fnReadQueued(idx, hDev, &os, inbuff + nBytesRead, RX_MAXREAD - nBytesRead);
        if (nBytesRead > 0)
            ProcessBytes(idx, inbuff, nBytesRead);
        if (fHealthy)
            dwBackoff = 0;
        else if (dwBackoff == 0)
            dwBackoff = 1;
        else if ((dwBackoff *= 2) > RX_BACKOFF_MAX)
            dwBackoff = RX_BACKOFF_MAX;
        // ReadFile resets the request's event itself when it starts the next
        // request: the loop leaves it alone.
    }
    if (os.hEvent != NULL)
        CloseHandle(os.hEvent);

    // Detached by a close that stopped waiting: the device, the ring buffer
    // and the claim were left to us.
    if (InterlockedCompareExchange(&aPortPriv[idx].lRxState, RX_NONE, RX_ATTACHED) == RX_DETACHED) {
        CloseHandle(hDev);
        fnReleaseClaim(&aPortPriv[idx].hClaim);
        bKillBuf(pinf.hInBuf);
        InterlockedExchange(&aPortPriv[idx].lRxState, RX_NONE);
    }
    return (DWORD)(idx + 100);
}
