// infowatch: loss and return of the driver's infodriver; see infowatch.h.
//
// While lost the device's entry in the client is forgotten, so slot writes
// are refused at once instead of going to a dead (or re-used) window
// handle, and none of them counts in uNetTX. The decoder goes on keeping
// its map, so the republication sends the map as it stands when the new
// infodriver answers.
#include <windows.h>
#include "driver/infowatch.h"
#include "driver/mixtally.h"
#include "infodriver/exinfdrv.h"
#include "common/common32.h"

int fInfodrivLost = 0;

// uExtInfodrivNoReply as last looked at: a change means a failed exchange.
// Main window thread only.
static DWORD uNoReplySeen = 0;

static void fnMarkLost(void)
{
    fInfodrivLost = 1;
    fnForgetExtInfodriv(iDeviceNo);
    uErrors++;
    fnDebugList(hDlg, IDC_DEBUGLIST, "Infodriver lost");
    // The count stays as the caption; the colour says the writes go nowhere.
    SetDlgItemTextA(hDlg, IDC_NETTX, "/__9F__");
}

// Everything the driver owns in the infodriver, written unconditionally.
// Stops at the first write that is not answered; returns 0 when all were.
static int fnRepublish(void)
{
    if (fMapDecoded) {
        for (UINT x = 0; x < 16; x++) {
            for (UINT i = 0; i < 8; i++) {
                LPCSTR lpszText = (bPreviousUncompressedData[x] & (1u << i)) ? "1" : "0";
                if (fnSetSlot(iDeviceNo, (int)(8 * x + 1 + i), lpszText, 0) != 0)
                    return 1;
                uNetTX++;
            }
        }
    }
    // Not yet known (no acknowledge and no time-out so far): nothing to say.
    if (iCommsFail == 1 || iCommsFail == 2) {
        if (fnSetSlot(iDeviceNo, SLOT_COMMS_STATUS, iCommsFail == 1 ? "0" : "1", 0) != 0)
            return 1;
    }
    return 0;
}

void fnInfodrivWatchExchanges(void)
{
    if (uExtInfodrivNoReply == uNoReplySeen)
        return;
    uNoReplySeen = uExtInfodrivNoReply;
    if (!fInfodrivLost)
        fnMarkLost();
}

void fnInfodrivWatchTick(void)
{
    fnInfodrivWatchExchanges();
    if (!fInfodrivLost) {
        if (IsWindow(fnGetHWND(iDeviceNo)))
            return;
        fnMarkLost();
    }
    if (fnRehookExtInfodriv(iDeviceNo) != 0)
        return;
    int iFailed = fnRepublish();
    uNoReplySeen = uExtInfodrivNoReply;
    if (iFailed) {
        // Hooked but not answering: stay lost, quietly, and try again next tick.
        fnForgetExtInfodriv(iDeviceNo);
        return;
    }
    fInfodrivLost = 0;
    SetDlgItemTextA(hDlg, IDC_NETTX, "/__2F__");
    fnDebugList(hDlg, IDC_DEBUGLIST, "Infodriver back");
}
