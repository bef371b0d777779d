// Private to the port table (comms.cpp) and the receive thread
// (rxthread.cpp): what the layer keeps per port beside the documented
// tagPORTINFO entry, and the helpers both files use.
#pragma once
#include "comms/comms.h"

// Who may touch entry i, its ring buffer and the table from the receive
// thread (tagPORTPRIV.lRxState).
#define RX_NONE     0   // no receive thread for this index
#define RX_ATTACHED 1   // thread running, owned by the entry
#define RX_BUSY     2   // thread using the entry and its buffer (ProcessBytes, a dead device)
#define RX_DETACHED 3   // the close gave up waiting: the thread owns device, buffer and claim

// One port's private state, grouped by the thread that writes it.
typedef struct tagPORTPRIV {
    // The main thread, in the open and the close; no guard. Once the close
    // has detached the receive thread (RX_DETACHED), that thread releases it.
    HANDLE hClaim;              // the port's system-wide claim, held while it is open
    // Both threads; every change Interlocked.
    volatile LONG lRxState;     // RX_*
    volatile LONG lDead;        // first dead-device error: set once by the receive thread
                                // or WriteComm, cleared by the open and the close
    // The receive thread adds; the main thread takes (GetCommError) or
    // clears (the open). Interlocked on both sides.
    volatile LONG lDropped;     // bytes read but not kept (full buffer, no lock)
    volatile LONG lCommErrors;  // CE_* bits the receive thread took off the device
} PORTPRIV;

extern PORTPRIV aPortPriv[COMMS_MAXPORTS];  // entry i: port index i
// Set by a starting receive thread once it has copied the open's record;
// cleared by the open before it starts the thread. Interlocked.
extern volatile LONG lCopyTaken;

static inline BOOL fnBadIndex(INT_PTR hCom)
{
    return hCom < 0 || hCom >= COMMS_MAXPORTS;
}

// Locks the table and returns entry hCom; NULL for a bad index or no table.
// Pair with GlobalUnlock(hGPortInfo) when non-NULL.
static inline LPPORTINFO fnLockEntry(INT_PTR hCom)
{
    if (fnBadIndex(hCom) || hGPortInfo == 0)
        return NULL;
    LPPORTINFO pTable = (LPPORTINFO)GlobalLock(hGPortInfo);
    return pTable != NULL ? &pTable[hCom] : NULL;
}

// Gives the port's claim back (a system-wide semaphore held while it is open).
static inline void fnReleaseClaim(HANDLE *ph)
{
    if (*ph != NULL) {
        ReleaseSemaphore(*ph, 1, NULL);
        CloseHandle(*ph);
        *ph = NULL;
    }
}

// Is dwErr, the failure of a read or a write, a device that is gone?
// A request that ran into its time-out is a silent line (Wine: ERROR_TIMEOUT;
// Windows drivers also end one with ERROR_SEM_TIMEOUT). ERROR_OPERATION_ABORTED
// is a request cut short by a purge or a cancel, or by a line error with
// fAbortOnError until ClearCommError; a removed USB adapter's drivers give it
// only to the requests that were pending, and the next one fails for good.
// Every other failure is a dead device: under Wine a pty whose far end closed
// fails reads with ERROR_BROKEN_PIPE and writes with ERROR_NOT_READY, and the
// stub that a vanished COM path opens fails every call with
// ERROR_INVALID_FUNCTION; a removed adapter on Windows gives
// ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND, ERROR_DEVICE_NOT_CONNECTED or
// ERROR_GEN_FAILURE, depending on its driver.
static inline BOOL fnDeadError(DWORD dwErr)
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

// Records entry p's first dead-device error and tells its window once.
void fnMarkDead(INT_PTR idx, LPPORTINFO p, DWORD dwErr);
