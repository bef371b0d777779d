// COMMS: the port table (up to 256 ports by index), port control and
// writing; the receive thread and its notification are in rxthread.cpp, what
// both keep per port in commsport.h. Everything here runs on the caller's
// (main) thread; a receive thread reaches the table only while it holds
// RX_BUSY, and the close waits for it to let go.
//
// CloseComm32 ends the receive thread's pending read (CancelIoEx,
// PURGE_RXABORT) before it waits: a USB serial driver whose device was pulled
// can leave a read pending for ever. A thread still running 500 ms after the
// stop request is detached: the close takes the entry and maybe the table
// away at once, and leaves the device, the ring buffer and the claim to the
// thread, which frees them when its last read ends. Until then the port
// cannot be opened again.
#include "comms/commsport.h"

#define CLOSE_WAIT      500
#define CANCEL_RETRY_MS 20      // the close cancels the thread's read this often

// The main thread allocates and frees the table; a receive thread locks it
// only while it holds RX_BUSY.
HGLOBAL hGPortInfo = 0;
volatile int bReading[COMMS_MAXPORTS];      // main thread writes, receive thread reads
volatile int iBTR[COMMS_MAXPORTS];          // main thread writes, receive thread reads
PORTPRIV aPortPriv[COMMS_MAXPORTS];
volatile LONG lCopyTaken;

static char szODS[256];         // main thread only
// The record a starting receive thread copies: the main thread writes it;
// the open does not touch it again until the thread has set lCopyTaken.
static PORTINFO pCopyPI;

// CancelIoEx is Vista's and later: taken by name, so that the program still
// loads where kernel32 lacks it.
static PFNCANCELIOEX fnFindCancelIoEx(void)
{
    HMODULE hKernel = GetModuleHandleA("kernel32.dll");
    if (hKernel == NULL)
        return NULL;
    return (PFNCANCELIOEX)(void *)GetProcAddress(hKernel, "CancelIoEx");
}

// Single words: set on the main thread, read there and by the receive threads.
PFNCANCELIOEX pfnCommsCancelIoEx = fnFindCancelIoEx();
DWORD (WINAPI *pfnCommsTicks)(void) = GetTickCount;

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
    for (i = 0; i < COMMS_MAXPORTS && !fInUse; i++)
        fInUse = pTable[i].hComPort != 0;
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

// Claims port iPort and opens its device for overlapped reading and
// writing. *pdwErr is ERROR_ACCESS_DENIED when the port is in use, here or
// in another process; *phClaim the claim to release with the device.
static HANDLE fnOpenDevice(UINT iPort, HANDLE *phClaim, DWORD *pdwErr)
{
    char szPort[32];
    BOOL fInUse;
    HANDLE hDev = INVALID_HANDLE_VALUE;

    wsprintfA(szPort, "\\\\.\\COM%d", iPort);
    *phClaim = fnClaimPort(iPort, &fInUse);
    *pdwErr = ERROR_ACCESS_DENIED;
    if (!fInUse) {
        SetLastError(0);
        hDev = CreateFileA(szPort, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, NULL);
        *pdwErr = GetLastError();
    }
    wsprintfA(szODS, "CreateFile() returns %#x", (unsigned)(UINT_PTR)hDev);
    commsODS(szODS);
    return hDev;
}

// Traces that port iPort is in use, here or in another process; -1.
static INT_PTR fnPortInUse(UINT iPort)
{
    wsprintfA(szODS, "Serial Port %d is already open", iPort);
    commsODS(szODS);
    return -1;
}

// The end of an open that failed: the claim released, entry p left free,
// the table released when no port uses it; -1.
static INT_PTR fnOpenFailed(LPPORTINFO p, HANDLE *phClaim)
{
    fnReleaseClaim(phClaim);
    ZeroMemory(p, sizeof(*p));
    GlobalUnlock(hGPortInfo);
    fnReleaseTableIfIdle();
    return -1;
}

INT_PTR OpenComm32(UINT iPort, LONG lBaudRate, int iDataBits, int iStopBits, int iParity)
{
    HANDLE hClaim;
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
    if (aPortPriv[idx].lRxState != RX_NONE)
        return fnPortInUse(iPort);

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
        GlobalUnlock(hGPortInfo);
        return fnPortInUse(iPort);
    }

    hDev = fnOpenDevice(iPort, &hClaim, &dwErr);
    if (dwErr == ERROR_ACCESS_DENIED)
        fnPortInUse(iPort);
    if (dwErr == ERROR_ACCESS_DENIED || hDev == INVALID_HANDLE_VALUE || hDev == NULL) {
        if (hDev != INVALID_HANDLE_VALUE && hDev != NULL)
            CloseHandle(hDev);
        return fnOpenFailed(p, &hClaim);
    }

    p->iComPort = iPort;
    p->hComPort = hDev;
    p->lBaudRate = lBaudRate;
    iBTR[idx] = 16;
    InterlockedExchange(&aPortPriv[idx].lDropped, 0);
    InterlockedExchange(&aPortPriv[idx].lDead, 0);
    InterlockedExchange(&aPortPriv[idx].lCommErrors, 0);

    if (!ConfigComm32(p, lBaudRate, iDataBits, iStopBits, iParity))
        return fnOpenFailed(p, &hClaim);
    aPortPriv[idx].hClaim = hClaim;
    GlobalUnlock(hGPortInfo);
    return idx;
}

// Starts the port's receive thread on a copy of its entry (pCopyPI), and
// returns once the thread has taken its copy; FALSE, with the buffer and the
// device closed, when no thread could be made.
static int fnStartRxThread(LPPORTINFO pPortInfo, int idx)
{
    HANDLE hDev = pPortInfo->hComPort;

    // Start handshake: the thread copies pCopyPI, then releases hStarted.
    wsprintfA(szODS, "Creating Thread for hCom %#x.\r\n", (unsigned)(UINT_PTR)hDev);
    pPortInfo->hStarted = CreateSemaphoreA(NULL, 1, 1, szODS);
    if (pPortInfo->hStarted != NULL)
        WaitForSingleObject(pPortInfo->hStarted, 1000);
    commsODS(szODS);

    bReading[idx] = 1;
    pCopyPI = *pPortInfo;
    InterlockedExchange(&lCopyTaken, 0);
    InterlockedExchange(&aPortPriv[idx].lRxState, RX_ATTACHED);
    pPortInfo->hThread = CreateThread(NULL, 0, ComRxThread, &pCopyPI, 0, &pPortInfo->id);
    if (pPortInfo->hThread == NULL) {
        InterlockedExchange(&aPortPriv[idx].lRxState, RX_NONE);
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

// Gives the device the line settings: those it holds, with the four of the
// open in place. FALSE when it refuses them or cannot be read.
static BOOL fnSetLine(HANDLE hDev, LONG lBaudRate, int iDataBits, int iStopBits, int iParity)
{
    DCB dcb;

    ZeroMemory(&dcb, sizeof(dcb));
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(hDev, &dcb))
        return FALSE;
    dcb.BaudRate = (DWORD)lBaudRate;
    dcb.ByteSize = (BYTE)iDataBits;
    dcb.Parity = (BYTE)iParity;
    dcb.StopBits = (BYTE)iStopBits;
    wsprintfA(szODS, "Line %lu baud, %u data bits, parity %u, stop bits %u\r\n", dcb.BaudRate,
              (unsigned)dcb.ByteSize, (unsigned)dcb.Parity, (unsigned)dcb.StopBits);
    commsODS(szODS);
    return SetCommState(hDev, &dcb);
}

int ConfigComm32(LPPORTINFO pPortInfo, LONG lBaudRate, int iDataBits, int iStopBits, int iParity)
{
    HANDLE hDev = pPortInfo->hComPort;
    int idx = (int)pPortInfo->iComPort - 1;

    ZeroMemory(&pCopyPI, sizeof(pCopyPI));

    // The read interval time-out is 100000 / baud: a rate of 0 or less is
    // no line at all, refuse it rather than divide by it. The other three
    // settings are bytes of the DCB: a count that one cannot hold would be
    // cut to some other, maybe valid, one (264 data bits to 8). Whatever
    // fails, the device is closed, or the port would stay busy for the life
    // of the process.
    if (lBaudRate <= 0 || (UINT)iDataBits > 255 || (UINT)iStopBits > 255 || (UINT)iParity > 255 ||
        !fnSetLine(hDev, lBaudRate, iDataBits, iStopBits, iParity) ||
        (pPortInfo->hInBuf = bInitBuf((UINT)(UINT_PTR)hDev)) == 0) {
        CloseHandle(hDev);
        return 0;
    }

    pPortInfo->to.ReadIntervalTimeout = (DWORD)(100000L / lBaudRate);
    pPortInfo->to.ReadTotalTimeoutMultiplier = (DWORD)iBTR[idx];
    pPortInfo->to.ReadTotalTimeoutConstant = 0;
    pPortInfo->to.WriteTotalTimeoutMultiplier = 0;
    pPortInfo->to.WriteTotalTimeoutConstant = 1000;
    SetCommTimeouts(hDev, &pPortInfo->to);

    return fnStartRxThread(pPortInfo, idx);
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
            // Hand the device, the buffer and the claim over, but not while
            // the thread is using them (ProcessBytes lasts at most one 200 ms
            // lock wait).
            for (;;) {
                lWas = InterlockedCompareExchange(&aPortPriv[idx].lRxState, RX_DETACHED, RX_ATTACHED);
                if (lWas != RX_BUSY)
                    break;
                Sleep(1);
            }
        }
        if (lWas != RX_ATTACHED) {
            // The thread has ended: the device and the buffer are ours.
            CloseHandle(p->hComPort);
            fnReleaseClaim(&aPortPriv[idx].hClaim);
            commsODS("Deleting Buffer\r\n");
            bKillBufEx(&p->hInBuf);
        }
        if (p->hThread != NULL)
            CloseHandle(p->hThread);
        if (p->hStarted != NULL)
            CloseHandle(p->hStarted);
        ZeroMemory(p, sizeof(*p));
        InterlockedExchange(&aPortPriv[idx].lDead, 0);
    }
    GlobalUnlock(hGPortInfo);
    fnReleaseTableIfIdle();
}

// GetCommState or SetCommState on port hCom's device; 0 for no port.
static int fnDcbCall(INT_PTR hCom, DCB *pdcb, BOOL (WINAPI *pfnCall)(HANDLE, LPDCB))
{
    LPPORTINFO p = fnLockEntry(hCom);
    int iRet;

    if (p == NULL)
        return 0;
    iRet = pfnCall(p->hComPort, pdcb);
    GlobalUnlock(hGPortInfo);
    return iRet;
}

int GetCommState32(INT_PTR hCom, DCB *pdcb)
{
    return fnDcbCall(hCom, pdcb, GetCommState);
}

int SetCommState32(INT_PTR hCom, DCB *pdcb)
{
    return fnDcbCall(hCom, pdcb, SetCommState);
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
    dwErrors |= (DWORD)InterlockedExchange(&aPortPriv[hCom].lCommErrors, 0);
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
    return (DWORD)aPortPriv[hCom].lDropped;
}

int GetCommDead32(INT_PTR hCom)
{
    LPPORTINFO p = fnLockEntry(hCom);
    int iDead;

    if (p == NULL)
        return 0;
    iDead = p->hComPort != 0 ? (int)aPortPriv[hCom].lDead : 0;
    GlobalUnlock(hGPortInfo);
    return iDead;
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
