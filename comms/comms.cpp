// COMMS: the port table (up to 256 ports by index), port control, the
// per-port receive thread with its window notification, and writing.
//
// Threads. Everything here runs on the caller's (main) thread except
// ComRxThread, ProcessBytes and ProcessCommError, which run on a port's
// receive thread. What they share:
//  - the ring buffer: guarded by its own semaphore (ringbuf.cpp);
//  - bReading[i], iBTR[i], hWndNotify: single words, main thread writes;
//  - iToRead, fNotifyInProgress: both threads; every change is an Interlocked
//    operation, so no count is lost and no notification is stranded;
//  - dwTimeOfNotify: receive thread only;
//  - lRxState[i]: who may touch entry i, its buffer and the table from the
//    receive thread (see below); Interlocked on both sides;
//  - lDead[i]: the dead-device error of port i; the first of the receive
//    thread and WriteComm to see one sets it (Interlocked), the open and the
//    close clear it.
//
// CloseComm32 ends the receive thread's pending read request (CancelIoEx,
// PURGE_RXABORT) before it waits: a USB serial driver whose device was
// pulled can leave a read pending for ever. A receive thread that has still
// not ended 500 ms after CloseComm32 asked it to stop (a driver that does not
// cancel) is detached: the close takes the entry and (maybe) the table away at
// once, but leaves the device handle and the ring buffer to the thread, which
// frees them itself when its last read request ends. While a thread is inside
// ProcessBytes (RX_BUSY) the close waits for it, so a detached thread never
// sees the entry, the table or a freed buffer. A port whose old thread is
// still ending cannot be opened again until that thread is gone.
#include "comms/comms.h"

#define RX_NONE     0   // no receive thread for this index
#define RX_ATTACHED 1   // thread running, owned by the entry
#define RX_BUSY     2   // thread inside ProcessBytes, using entry and buffer
#define RX_DETACHED 3   // close gave up waiting; thread owns device and buffer

#define RX_MAXREAD      256     // size of the receive thread's inbuff
#define RX_BACKOFF_MAX  50      // ms between requests on a failing device
#define CLOSE_WAIT      500
#define CANCEL_RETRY_MS 20      // the close cancels the thread's read this often
#define NOTIFY_REARM_MS 100
#define NOTIFY_BACKLOG  8192

HGLOBAL hGPortInfo = 0;
volatile int bReading[COMMS_MAXPORTS];
volatile int iBTR[COMMS_MAXPORTS];

static char szODS[256];                         // main thread only
static PORTINFO pCopyPI;                        // main thread; read once by a starting thread
static volatile LONG lRxState[COMMS_MAXPORTS];  // RX_*; both threads, Interlocked
static volatile LONG lDropped[COMMS_MAXPORTS];  // receive thread adds, main thread reads/clears
static volatile LONG lDead[COMMS_MAXPORTS];     // see GetCommDead32; both threads, Interlocked
// Device error bits (CE_*) that the receive thread's ClearCommError took off
// the device, kept for the main thread's next GetCommError. Receive thread
// ORs in, main thread takes and clears; Interlocked on both sides.
static volatile LONG lCommErrors[COMMS_MAXPORTS];
// Set by a starting receive thread once it has copied pCopyPI. The start
// semaphore's name is system-wide and made from a handle value, so another
// process opening a device with the same handle value can release it early
// or take our release; this flag keeps pCopyPI untouched until our own
// thread has its copy.
static volatile LONG lCopyTaken;                // starting thread sets, main thread clears
// Claims of the open ports, see fnClaimPort. Main thread; a detached receive
// thread releases the claim of its own port when it ends.
static HANDLE ahInUse[COMMS_MAXPORTS];

// CancelIoEx is Vista's and later: taken by name, so that the program still
// loads where kernel32 lacks it.
static PFNCANCELIOEX fnFindCancelIoEx(void)
{
    HMODULE hKernel = GetModuleHandleA("kernel32.dll");
    if (hKernel == NULL)
        return NULL;
    return (PFNCANCELIOEX)(void *)GetProcAddress(hKernel, "CancelIoEx");
}

PFNCANCELIOEX pfnCommsCancelIoEx = fnFindCancelIoEx();
DWORD (WINAPI *pfnCommsTicks)(void) = GetTickCount;

static BOOL fnBadIndex(INT_PTR hCom)
{
    return hCom < 0 || hCom >= COMMS_MAXPORTS;
}

// Frees the table when no entry is in use. Table must be unlocked by us.
static void fnReleaseTableIfIdle(void)
{
    LPPORTINFO pTable;
    int i;
    BOOL fInUse = FALSE;

    if (hGPortInfo == 0)
        return;
    pTable = (LPPORTINFO)GlobalLock(hGPortInfo);
    if (pTable == NULL)
        return;
    for (i = 0; i < COMMS_MAXPORTS && !fInUse; i++) {
        if (pTable[i].hComPort != 0)
            fInUse = TRUE;
    }
    GlobalUnlock(hGPortInfo);
    if (!fInUse) {
        commsODS("Last port closed, deleting PORTINFO\r\n");
        GlobalFree(hGPortInfo);
        hGPortInfo = 0;
    }
}

// Wine lets a second process open a COM device that another one holds, where
// Windows refuses with ERROR_ACCESS_DENIED. A system-wide semaphore per port
// number, held while the port is open, gives the same answer between the
// processes that use this layer. NULL: the port is claimed by another.
static HANDLE fnClaimPort(UINT iPort, BOOL *pfInUse)
{
    char szName[48];
    HANDLE h;

    *pfInUse = FALSE;
    wsprintfA(szName, "mixtally COM%u in use", iPort);
    h = CreateSemaphoreA(NULL, 1, 1, szName);
    if (h == NULL)
        return NULL;    // no claim possible; the device open decides alone
    if (WaitForSingleObject(h, 0) != WAIT_OBJECT_0) {
        CloseHandle(h);
        *pfInUse = TRUE;
        return NULL;
    }
    return h;
}

static void fnReleaseClaim(HANDLE *ph)
{
    if (*ph != NULL) {
        ReleaseSemaphore(*ph, 1, NULL);
        CloseHandle(*ph);
        *ph = NULL;
    }
}

INT_PTR OpenComm32(UINT iPort, LONG lBaudRate, int iDataBits, int iStopBits, int iParity)
{
    HANDLE hClaim;
    BOOL fInUse;
    char szPort[32];
    LPPORTINFO pTable, p;
    HANDLE hDev;
    DWORD dwErr;
    int idx;

    if (iPort < 1 || iPort > COMMS_MAXPORTS)
        return -1;
    idx = (int)iPort - 1;
    wsprintfA(szODS, "Opening port %d\r\n", iPort);
    commsODS(szODS);

    // The receive thread of an earlier open of this port outlived its close
    // and still holds the device: the port is still in use.
    if (lRxState[idx] != RX_NONE) {
        wsprintfA(szODS, "Serial Port %d is already open", iPort);
        commsODS(szODS);
        return -1;
    }

    if (hGPortInfo == 0) {
        commsODS("First time alloc for PORTINFO\r\n");
        hGPortInfo = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(PORTINFO) * COMMS_MAXPORTS);
        if (hGPortInfo == 0)
            return -1;
    }
    pTable = (LPPORTINFO)GlobalLock(hGPortInfo);
    if (pTable == NULL)
        return -1;
    p = &pTable[idx];

    // Two opens of one port in this process: the second must not clobber the
    // first's entry (Wine grants a second exclusive open of some devices).
    if (p->hComPort != 0) {
        wsprintfA(szODS, "Serial Port %d is already open", iPort);
        commsODS(szODS);
        GlobalUnlock(hGPortInfo);
        return -1;
    }

    wsprintfA(szPort, "\\\\.\\COM%d", iPort);
    hClaim = fnClaimPort(iPort, &fInUse);
    if (fInUse) {
        hDev = INVALID_HANDLE_VALUE;
        dwErr = ERROR_ACCESS_DENIED;
    } else {
        SetLastError(0);
        hDev = CreateFileA(szPort, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, NULL);
        dwErr = GetLastError();
    }
    wsprintfA(szODS, "CreateFile() returns %#x", (unsigned)(UINT_PTR)hDev);
    commsODS(szODS);

    if (dwErr == ERROR_ACCESS_DENIED) {
        wsprintfA(szODS, "Serial Port %d is already open", iPort);
        commsODS(szODS);
        if (hDev != INVALID_HANDLE_VALUE)
            CloseHandle(hDev);
        fnReleaseClaim(&hClaim);
        GlobalUnlock(hGPortInfo);
        fnReleaseTableIfIdle();
        return -1;
    }
    if (hDev == INVALID_HANDLE_VALUE || hDev == NULL) {
        fnReleaseClaim(&hClaim);
        ZeroMemory(p, sizeof(*p));
        GlobalUnlock(hGPortInfo);
        fnReleaseTableIfIdle();
        return -1;
    }

    p->iComPort = iPort;
    p->hComPort = hDev;
    p->lBaudRate = lBaudRate;
    iBTR[idx] = 16;
    InterlockedExchange(&lDropped[idx], 0);
    InterlockedExchange(&lDead[idx], 0);
    InterlockedExchange(&lCommErrors[idx], 0);

    if (ConfigComm32(p, lBaudRate, iDataBits, iStopBits, iParity)) {
        ahInUse[idx] = hClaim;
        GlobalUnlock(hGPortInfo);
        return idx;
    }
    fnReleaseClaim(&hClaim);
    ZeroMemory(p, sizeof(*p));
    GlobalUnlock(hGPortInfo);
    fnReleaseTableIfIdle();
    return -1;
}

int ConfigComm32(LPPORTINFO pPortInfo, LONG lBaudRate, int iDataBits, int iStopBits, int iParity)
{
    DCB dcb;
    HANDLE hDev = pPortInfo->hComPort;
    int idx = (int)pPortInfo->iComPort - 1;

    ZeroMemory(&pCopyPI, sizeof(pCopyPI));

    // The read interval time-out is 100000 / baud: a rate of 0 or less is
    // no line at all, refuse it rather than divide by it. The other three
    // settings are bytes of the DCB: a count that one cannot hold would be
    // cut to some other, maybe valid, one (264 data bits to 8).
    if (lBaudRate <= 0 || (UINT)iDataBits > 255 || (UINT)iStopBits > 255 || (UINT)iParity > 255) {
        CloseHandle(hDev);
        return 0;
    }
    ZeroMemory(&dcb, sizeof(dcb));
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(hDev, &dcb)) {
        CloseHandle(hDev);
        return 0;
    }
    dcb.BaudRate = (DWORD)lBaudRate;
    dcb.ByteSize = (BYTE)iDataBits;
    dcb.Parity = (BYTE)iParity;
    dcb.StopBits = (BYTE)iStopBits;
    wsprintfA(szODS, "Line %lu baud, %u data bits, parity %u, stop bits %u\r\n", dcb.BaudRate,
              (unsigned)dcb.ByteSize, (unsigned)dcb.Parity, (unsigned)dcb.StopBits);
    commsODS(szODS);
    if (!SetCommState(hDev, &dcb)) {
        CloseHandle(hDev);
        return 0;
    }

    pPortInfo->hInBuf = bInitBuf((UINT)(UINT_PTR)hDev);
    if (pPortInfo->hInBuf == 0) {
        // Unlike a refused line setting, this left the device open: close it,
        // or the port would stay busy for the life of the process.
        CloseHandle(hDev);
        return 0;
    }

    pPortInfo->to.ReadIntervalTimeout = (DWORD)(100000L / lBaudRate);
    pPortInfo->to.ReadTotalTimeoutMultiplier = (DWORD)iBTR[idx];
    pPortInfo->to.ReadTotalTimeoutConstant = 0;
    pPortInfo->to.WriteTotalTimeoutMultiplier = 0;
    pPortInfo->to.WriteTotalTimeoutConstant = 1000;
    SetCommTimeouts(hDev, &pPortInfo->to);

    // Start handshake: the thread copies pCopyPI, then releases hStarted.
    pPortInfo->hStarted = 0;
    wsprintfA(szODS, "Creating Thread for hCom %#x.\r\n", (unsigned)(UINT_PTR)hDev);
    pPortInfo->hStarted = CreateSemaphoreA(NULL, 1, 1, szODS);
    if (pPortInfo->hStarted != NULL)
        WaitForSingleObject(pPortInfo->hStarted, 1000);
    commsODS(szODS);

    bReading[idx] = 1;
    pCopyPI = *pPortInfo;
    InterlockedExchange(&lCopyTaken, 0);
    InterlockedExchange(&lRxState[idx], RX_ATTACHED);
    pPortInfo->hThread = CreateThread(NULL, 0, ComRxThread, &pCopyPI, 0, &pPortInfo->id);
    if (pPortInfo->hThread == NULL) {
        InterlockedExchange(&lRxState[idx], RX_NONE);
        bReading[idx] = 0;
        bKillBufEx(&pPortInfo->hInBuf);
        if (pPortInfo->hStarted != NULL)
            CloseHandle(pPortInfo->hStarted);
        pPortInfo->hStarted = 0;
        CloseHandle(hDev);
        return 0;
    }

    pPortInfo->cp.wPacketLength = sizeof(COMMPROP);
    GetCommProperties(hDev, &pPortInfo->cp);

    // The start semaphore is shared by name with any process that opens a
    // device of the same handle value: its release can be taken there, or
    // refused at the maximum count when two releases meet. Waiting for it
    // without a limit could hang for ever; our own thread's flag is what
    // frees pCopyPI.
    if (pPortInfo->hStarted != NULL)
        WaitForSingleObject(pPortInfo->hStarted, 1000);
    while (!lCopyTaken && WaitForSingleObject(pPortInfo->hThread, 1) == WAIT_TIMEOUT) {
    }
    return 1;
}

// Cancels the read request that the receive thread has pending on hDev.
// CancelIo would reach only requests of the calling thread. Wine 8 makes
// PURGE_RXABORT a plain flush that leaves the request pending, and ends it
// with CancelIoEx (ERROR_OPERATION_ABORTED, which is no dead device).
static void fnCancelRxRead(HANDLE hDev)
{
    if (pfnCommsCancelIoEx != NULL)
        pfnCommsCancelIoEx(hDev, NULL);
    else
        PurgeComm(hDev, PURGE_RXABORT);
}

// Waits at most CLOSE_WAIT ms for the receive thread to end, cancelling its
// read again and again: it may have checked bReading just before the close
// cleared it and start its next request after a first cancel. TRUE: ended.
static BOOL fnStopRxThread(HANDLE hDev, HANDLE hThread)
{
    DWORD dwStart = pfnCommsTicks(), dwSpent, dwSlice;

    for (;;) {
        fnCancelRxRead(hDev);
        dwSpent = pfnCommsTicks() - dwStart;
        if (dwSpent >= CLOSE_WAIT)
            return WaitForSingleObject(hThread, 0) == WAIT_OBJECT_0;
        dwSlice = CLOSE_WAIT - dwSpent < CANCEL_RETRY_MS ? CLOSE_WAIT - dwSpent : CANCEL_RETRY_MS;
        if (WaitForSingleObject(hThread, dwSlice) == WAIT_OBJECT_0)
            return TRUE;
    }
}

void CloseComm32(INT_PTR hCom)
{
    LPPORTINFO pTable, p;
    int idx;
    LONG lWas = RX_NONE;

    if (hGPortInfo == 0)
        return;
    pTable = (LPPORTINFO)GlobalLock(hGPortInfo);
    if (pTable == NULL)
        return;
    if (hCom == -1) {
        GlobalUnlock(hGPortInfo);
        fnReleaseTableIfIdle();
        return;
    }
    if ((UINT_PTR)hCom > COMMS_MAXPORTS - 1) {
        GlobalUnlock(hGPortInfo);
        return;
    }
    idx = (int)hCom;
    p = &pTable[idx];
    wsprintfA(szODS, "Closing port %d\r\n", idx + 1);
    commsODS(szODS);

    if (p->hComPort != 0) {
        bReading[idx] = 0;
        PurgeComm(p->hComPort, PURGE_RXABORT | PURGE_RXCLEAR);
        if (!fnStopRxThread(p->hComPort, p->hThread)) {
            commsODS("Thread Exit Timeout!!!");
            // Hand the device and the buffer over, but not while the thread is
            // using them (ProcessBytes lasts at most one 200 ms lock wait).
            for (;;) {
                lWas = InterlockedCompareExchange(&lRxState[idx], RX_DETACHED, RX_ATTACHED);
                if (lWas != RX_BUSY)
                    break;
                Sleep(1);
            }
        }
        if (lWas != RX_ATTACHED) {
            // The thread has ended: the device and the buffer are ours.
            CloseHandle(p->hComPort);
            fnReleaseClaim(&ahInUse[idx]);
            commsODS("Deleting Buffer\r\n");
            bKillBufEx(&p->hInBuf);
        }
        if (p->hThread != NULL)
            CloseHandle(p->hThread);
        if (p->hStarted != NULL)
            CloseHandle(p->hStarted);
        ZeroMemory(p, sizeof(*p));
        InterlockedExchange(&lDead[idx], 0);
    }
    GlobalUnlock(hGPortInfo);
    fnReleaseTableIfIdle();
}

// Locks the table and returns entry hCom, or NULL for a bad index or no
// table. Pair with GlobalUnlock(hGPortInfo) when non-NULL.
static LPPORTINFO fnLockEntry(INT_PTR hCom)
{
    LPPORTINFO pTable;

    if (fnBadIndex(hCom) || hGPortInfo == 0)
        return NULL;
    pTable = (LPPORTINFO)GlobalLock(hGPortInfo);
    if (pTable == NULL)
        return NULL;
    return &pTable[hCom];
}

int GetCommState32(INT_PTR hCom, DCB *pdcb)
{
    LPPORTINFO p = fnLockEntry(hCom);
    int iRet;

    if (p == NULL)
        return 0;
    iRet = GetCommState(p->hComPort, pdcb);
    GlobalUnlock(hGPortInfo);
    return iRet;
}

int SetCommState32(INT_PTR hCom, DCB *pdcb)
{
    LPPORTINFO p = fnLockEntry(hCom);
    int iRet;

    if (p == NULL)
        return 0;
    iRet = SetCommState(p->hComPort, pdcb);
    GlobalUnlock(hGPortInfo);
    return iRet;
}

int FlushComm(INT_PTR hCom, ULONG ulFlags)
{
    LPPORTINFO p = fnLockEntry(hCom);
    int iRet;

    if (p == NULL)
        return 0;
    iRet = PurgeComm(p->hComPort, ulFlags);
    GlobalUnlock(hGPortInfo);
    return iRet;
}

void CommBreak32(INT_PTR hCom, int b)
{
    LPPORTINFO p = fnLockEntry(hCom);

    if (p == NULL)
        return;
    if (b)
        SetCommBreak(p->hComPort);
    else
        ClearCommBreak(p->hComPort);
    GlobalUnlock(hGPortInfo);
}

ULONG GetCommError(INT_PTR hCom, COMSTAT *lpcs)
{
    LPPORTINFO p = fnLockEntry(hCom);
    COMSTAT cs;
    DWORD dwErrors = 0;
    int iInQue;

    if (p == NULL)
        return (ULONG)-1;
    iInQue = iRemainByteEx(p->hInBuf);
    ZeroMemory(&cs, sizeof(cs));
    ClearCommError(p->hComPort, &dwErrors, &cs);
    dwErrors |= (DWORD)InterlockedExchange(&lCommErrors[hCom], 0);
    GlobalUnlock(hGPortInfo);
    // For this layer the input count is what waits in the ring buffer.
    cs.cbInQue = (DWORD)iInQue;
    if (lpcs != NULL)
        *lpcs = cs;
    return dwErrors;
}

int ConfigCommDialog(INT_PTR hCom, HWND hWnd)
{
    char szName[16];
    LPPORTINFO p;
    COMMCONFIG cc;
    int iRet;

    p = fnLockEntry(hCom);
    if (p == NULL)
        return 0;
    wsprintfA(szName, "COM%d", (int)hCom + 1);
    ZeroMemory(&cc, sizeof(cc));
    cc.dwSize = sizeof(cc);
    cc.wVersion = 1;
    cc.dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(p->hComPort, &cc.dcb)) {
        GlobalUnlock(hGPortInfo);
        return 0;
    }
    iRet = CommConfigDialogA(szName, hWnd, &cc);
    if (iRet)
        SetCommState(p->hComPort, &cc.dcb);
    GlobalUnlock(hGPortInfo);
    return iRet;
}

DWORD GetCommDropped32(INT_PTR hCom)
{
    if (fnBadIndex(hCom) || hGPortInfo == 0)
        return 0;
    return (DWORD)lDropped[hCom];
}

int GetCommDead32(INT_PTR hCom)
{
    LPPORTINFO p = fnLockEntry(hCom);
    int iDead;

    if (p == NULL)
        return 0;
    iDead = p->hComPort != 0 ? (int)lDead[hCom] : 0;
    GlobalUnlock(hGPortInfo);
    return iDead;
}

// Does a failed read or write mean that the device is gone? A request that
// ran into its time-out is a silent line (Wine: ERROR_TIMEOUT; Windows
// drivers also end one with ERROR_SEM_TIMEOUT). ERROR_OPERATION_ABORTED is a
// request cut short by a purge, or by a line error with fAbortOnError until
// ClearCommError, and a removed USB adapter's drivers give it only to the
// requests that were pending: the next one fails for good. Every other
// failure is a dead device: measured under Wine on a pty whose far end
// closed, reads end with ERROR_BROKEN_PIPE and writes with ERROR_NOT_READY,
// and the stub that a vanished COM path opens fails every call with
// ERROR_INVALID_FUNCTION; a removed adapter on Windows gives
// ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND, ERROR_DEVICE_NOT_CONNECTED or
// ERROR_GEN_FAILURE, depending on its driver.
static BOOL fnDeadError(DWORD dwErr)
{
    switch (dwErr) {
    case ERROR_SUCCESS:
    case ERROR_IO_PENDING:
    case ERROR_IO_INCOMPLETE:
    case ERROR_TIMEOUT:
    case ERROR_SEM_TIMEOUT:
    case WAIT_TIMEOUT:
    case ERROR_COUNTER_TIMEOUT:
    case ERROR_OPERATION_ABORTED:
        return FALSE;
    default:
        return TRUE;
    }
}

// Records the first dead-device error of entry p (index idx) and posts one
// notification, so that the owner hears of it at once instead of at its next
// time-out; its drain finds GetCommDead32 set. Caller holds the table, and
// on the receive thread RX_BUSY as well.
static void fnMarkDead(INT_PTR idx, LPPORTINFO p, DWORD dwErr)
{
    HWND hWnd;

    if (p->hComPort == 0 || InterlockedCompareExchange(&lDead[idx], (LONG)dwErr, 0) != 0)
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

    if (!fnDeadError(dwErr) || lDead[idx] != 0)
        return;
    if (InterlockedCompareExchange(&lRxState[idx], RX_BUSY, RX_ATTACHED) != RX_ATTACHED)
        return;
    pTable = (LPPORTINFO)GlobalLock(hGPortInfo);
    if (pTable != NULL) {
        fnMarkDead(idx, &pTable[idx], dwErr);
        GlobalUnlock(hGPortInfo);
    }
    InterlockedExchange(&lRxState[idx], RX_ATTACHED);
}

// ---------------------------------------------------------------- notification, read, write

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

int WriteComm(INT_PTR hCom, const BYTE *bData, WORD wBytes)
{
    OVERLAPPED os;
    LPPORTINFO pTable;
    HANDLE hDev;
    DWORD dwWritten = 0, dwErr = 0;
    BOOL fOk;
    int iRet;

    if (fnBadIndex(hCom))
        return -2;
    if (hGPortInfo == 0)
        return -3;
    if (bData == NULL && wBytes != 0)
        return 65535;
    ZeroMemory(&os, sizeof(os));
    os.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (os.hEvent == NULL)
        return 65535;
    pTable = (LPPORTINFO)GlobalLock(hGPortInfo);
    if (pTable == NULL) {
        CloseHandle(os.hEvent);
        return 65535;
    }
    hDev = pTable[hCom].hComPort;
    commsODS("Writing %d bytes to hCom %#x [port %d]");

    fOk = WriteFile(hDev, bData, wBytes, &dwWritten, &os);
    if (!fOk && (dwErr = GetLastError()) == ERROR_IO_PENDING) {
        fOk = GetOverlappedResult(hDev, &os, &dwWritten, TRUE);
        dwErr = fOk ? 0 : GetLastError();
    }
    if (fOk) {
        commsODS("Wrote %d bytes code %ld");
        iRet = wBytes;
    } else {
        iRet = 65535;
        if (fnDeadError(dwErr))
            fnMarkDead(hCom, &pTable[hCom], dwErr);
    }
    CloseHandle(os.hEvent);
    GlobalUnlock(hGPortInfo);
    return iRet;
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
    if (InterlockedCompareExchange(&lRxState[hCom], RX_BUSY, RX_ATTACHED) != RX_ATTACHED)
        return;
    pTable = (LPPORTINFO)GlobalLock(hGPortInfo);
    if (pTable != NULL) {
        p = &pTable[hCom];
        dwNow = pfnCommsTicks();

        uKept = bAddDataCount(p->hInBuf, buf, dwBytes);
        if (uKept < dwBytes) {
            // Full buffer or no lock in 200 ms: the rest is lost. Count it,
            // and count as waiting only what was stored.
            InterlockedExchangeAdd(&lDropped[hCom], (LONG)(dwBytes - uKept));
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
    InterlockedExchange(&lRxState[hCom], RX_ATTACHED);
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
            lOld = lCommErrors[idx];
        while (InterlockedCompareExchange(&lCommErrors[idx], lOld | (LONG)dwErrors, lOld) != lOld);
    }
    return fOk;
}

// After a request that filled up: takes at once what the device already
// holds (at most cbMax), into the same batch. Under Wine every request costs
// about a millisecond, so one-byte requests alone fall behind a 38400-baud
// line; this keeps up without waiting for a single byte more.
static DWORD fnReadQueued(int idx, HANDLE hDev, LPOVERLAPPED pos, BYTE *pb, DWORD cbMax)
{
    COMSTAT cs;
    DWORD dwGot = 0, cbAsk;

    ZeroMemory(&cs, sizeof(cs));
    if (!fnClearCommErrorRx(idx, hDev, &cs) || cs.cbInQue == 0)
        return 0;
    cbAsk = cs.cbInQue < cbMax ? cs.cbInQue : cbMax;
    if (!ReadFile(hDev, pb, cbAsk, &dwGot, pos)) {
        dwGot = 0;
        if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(hDev, pos, &dwGot, TRUE))
            dwGot = 0;
    }
    return dwGot;
}

DWORD WINAPI ComRxThread(LPVOID lpdwParam)
{
    PORTINFO pinf;
    OVERLAPPED os;
    BYTE inbuff[RX_MAXREAD];
    DWORD nBytesRead, dwErr, dwBackoff = 0;
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

        nBytesRead = 0;
        fHealthy = FALSE;
        if (ReadFile(hDev, inbuff, (DWORD)iAsk, &nBytesRead, &os)) {
            fHealthy = nBytesRead > 0;
        } else {
            nBytesRead = 0;
            dwErr = GetLastError();
            if (dwErr == ERROR_IO_PENDING) {
                if (GetOverlappedResult(hDev, &os, &nBytesRead, TRUE)) {
                    fHealthy = TRUE;
                } else {
                    // A time-out on a silent line is the normal end of a request.
                    dwErr = GetLastError();
                    fHealthy = dwErr == ERROR_TIMEOUT;
                    nBytesRead = 0;
                    fnRxFailed(idx, dwErr);
                }
            } else {
                COMSTAT cs;
                // Keep the device's error bits for GetCommError before
                // ProcessCommError clears them again.
                fnClearCommErrorRx(idx, hDev, &cs);
                fnRxFailed(idx, dwErr);
                ProcessCommError(dwErr, hDev);
            }
        }
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
        // No ResetEvent here: ReadFile resets the request's event itself when
        // it starts the next request. Under Wine a reset is one more round
        // trip to the server, on every 1 ms request of a silent line.
    }
    if (os.hEvent != NULL)
        CloseHandle(os.hEvent);

    // Detached by a close that stopped waiting: the device and the ring
    // buffer were left to us.
    if (InterlockedCompareExchange(&lRxState[idx], RX_NONE, RX_ATTACHED) == RX_DETACHED) {
        CloseHandle(hDev);
        fnReleaseClaim(&ahInUse[idx]);
        bKillBuf(pinf.hInBuf);
        InterlockedExchange(&lRxState[idx], RX_NONE);
    }
    return (DWORD)(idx + 100);
}
