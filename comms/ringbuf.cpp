// Receive ring buffer of one serial port: 16 KB in a movable global block,
// written by the port's receive thread and drained by the main thread. The
// two indices are guarded by a named semaphore ("%XBUFSEM" of a token), used
// as a lock with waits of at most 200 ms.
//
// A full buffer refuses new bytes: unread bytes are never overwritten, and
// bAddDataCount tells the caller how many of a batch were kept.
#include "comms/comms.h"

#define BUF_LOCKWAIT 200

// Takes the buffer's semaphore; FALSE after BUF_LOCKWAIT ms without it.
static BOOL fnTakeSema(HANDLE hSema)
{
    return WaitForSingleObject(hSema, BUF_LOCKWAIT) == WAIT_OBJECT_0;
}

// Every handle operation: lock the block, then take the semaphore; NULL
// (nothing held) when the handle is 0 or the semaphore did not come in time.
static LPBUFFER fnOpenBuf(HGLOBAL hGBuf)
{
    LPBUFFER lpBuf;

    if (hGBuf == 0)
        return NULL;
    lpBuf = (LPBUFFER)GlobalLock(hGBuf);
    if (lpBuf == NULL)
        return NULL;
    if (!fnTakeSema(lpBuf->hSema)) {
        GlobalUnlock(hGBuf);
        return NULL;
    }
    return lpBuf;
}

// On the way out: unlock the block, then release the semaphore.
static void fnCloseBuf(HGLOBAL hGBuf, LPBUFFER lpBuf)
{
    HANDLE hSema = lpBuf->hSema;
    GlobalUnlock(hGBuf);
    ReleaseSemaphore(hSema, 1, NULL);
}

HGLOBAL bInitBuf(UINT iTok)
{
    char szName[32];
    HANDLE hSema;
    HGLOBAL hGBuf;
    LPBUFFER lpBuf;

    wsprintfA(szName, "%XBUFSEM", iTok);
    hSema = CreateSemaphoreA(NULL, 1, 1, szName);
    if (hSema == NULL)
        return 0;
    if (!fnTakeSema(hSema)) {
        CloseHandle(hSema);
        return 0;
    }
    // Zero-filled: both indices start at 0, the buffer empty.
    hGBuf = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(BUFFER));
    lpBuf = hGBuf != NULL ? (LPBUFFER)GlobalLock(hGBuf) : NULL;
    if (lpBuf == NULL) {
        if (hGBuf != NULL)
            GlobalFree(hGBuf);
        ReleaseSemaphore(hSema, 1, NULL);
        CloseHandle(hSema);
        return 0;
    }
    lpBuf->hSema = hSema;
    GlobalUnlock(hGBuf);
    ReleaseSemaphore(hSema, 1, NULL);
    return hGBuf;
}

UINT bAddDataCount(HGLOBAL hGBuf, const BYTE *data, UINT iLen)
{
    LPBUFFER lpBuf = fnOpenBuf(hGBuf);
    UINT i = 0;

    if (lpBuf == NULL)
        return 0;
    while (i < iLen && bAddByte(lpBuf, data[i]))
        i++;
    fnCloseBuf(hGBuf, lpBuf);
    return i;
}

int bAddData(HGLOBAL hGBuf, const BYTE *data, UINT iLen)
{
    if (hGBuf == 0)
        return 0;
    if (iLen == 0)
        return 1;
    return bAddDataCount(hGBuf, data, iLen) == iLen ? 1 : 0;
}

int bAddByte(LPBUFFER lpBuf, BYTE databyte)
{
    UINT iNext;

    if (lpBuf == NULL)
        return 0;
    iNext = (lpBuf->iBufWritePtr + 1) % COMMS_BUFSIZE;
    // Full (16383 waiting): storing would make the indices equal, which reads
    // as empty and loses the whole buffer. Refuse the byte instead.
    if (iNext == lpBuf->iBufReadPtr)
        return 0;
    lpBuf->data[lpBuf->iBufWritePtr] = databyte;
    lpBuf->iBufWritePtr = iNext;
    return 1;
}

UINT bGetData(HGLOBAL hGBuf, BYTE *data, UINT iLen)
{
    LPBUFFER lpBuf = fnOpenBuf(hGBuf);
    UINT iCount = 0;

    if (lpBuf == NULL)
        return 0;
    while (iCount < iLen && bGetByte(lpBuf, &data[iCount]))
        iCount++;
    fnCloseBuf(hGBuf, lpBuf);
    return iCount;
}

int bGetByte(LPBUFFER lpBuf, BYTE *data)
{
    if (lpBuf == NULL || iRemainByte(lpBuf) == 0)
        return 0;
    *data = lpBuf->data[lpBuf->iBufReadPtr];
    lpBuf->iBufReadPtr = (lpBuf->iBufReadPtr + 1) % COMMS_BUFSIZE;
    return 1;
}

UINT iRemainByte(LPBUFFER lpBuf)
{
    if (lpBuf == NULL)
        return 0;
    return (lpBuf->iBufWritePtr + COMMS_BUFSIZE - lpBuf->iBufReadPtr) % COMMS_BUFSIZE;
}

int iRemainByteEx(HGLOBAL hGBuf)
{
    LPBUFFER lpBuf = fnOpenBuf(hGBuf);
    int iCount;

    if (lpBuf == NULL)
        return -1;
    iCount = (int)iRemainByte(lpBuf);
    fnCloseBuf(hGBuf, lpBuf);
    return iCount;
}

void bKillBuf(HGLOBAL hGBuf)
{
    LPBUFFER lpBuf;
    HANDLE hSema;

    if (hGBuf == 0)
        return;
    lpBuf = (LPBUFFER)GlobalLock(hGBuf);
    if (lpBuf == NULL)
        return;
    hSema = lpBuf->hSema;
    // Drop our lock and any left behind by earlier calls.
    while ((GlobalFlags(hGBuf) & GMEM_LOCKCOUNT) != 0) {
        if (!GlobalUnlock(hGBuf))
            break;
    }
    CloseHandle(hSema);
    GlobalFree(hGBuf);
}

void bKillBufEx(HGLOBAL *phGBuf)
{
    if (phGBuf == NULL)
        return;
    bKillBuf(*phGBuf);
    *phGBuf = 0;
}
