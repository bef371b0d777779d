// publish: the driver's own slots in its infodriver; see publish.h.
//
// Every exchange goes through the client: a slot read through fnCheckSlot
// where only a differing text is written, a plain write where the text must
// go whatever the infodriver holds (start-up's first map, a retry). A slot
// is confirmed once the infodriver answered a write of its text, or a read
// showed it already held it; an exchange without a reply, or one the client
// refused because no infodriver is hooked, leaves it owed.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "driver/publish.h"
#include "driver/mixtally.h"
#include "infodriver/exinfdrv.h"
#include "common/common32.h"

#define TALLY_MAP_BYTES 16
#define TALLY_SLOTS     128

// All of the following: main window thread only.
BYTE bPreviousUncompressedData[TALLY_MAP_BYTES];
DWORD uNetTX = 0;

static BYTE abNewest[TALLY_MAP_BYTES];  // the newest decoded map, while fNewest
static int fNewest;                     // a map waits for its publication
static int fFullPending;                // it is start-up's unconditional one
static int fMapPublished;               // slots 1..128 hold something of ours
static int fPublishing;                 // inside fnPublishPending
static BYTE abOwed[TALLY_SLOTS + 1];    // per tally slot 1..128: not confirmed
static int iPublishedLink = -1;         // -1 not yet known, 1 healthy, 2 failed
static int fLinkOwed;                   // slot 4094 not confirmed
static DWORD uSuperseded;               // maps never published, since start
static DWORD uSupersededBatch;          // ... since the last publication

void fnPublishReset(void)
{
    memset(bPreviousUncompressedData, 0xFF, sizeof bPreviousUncompressedData);
    memset(abNewest, 0, sizeof abNewest);
    memset(abOwed, 0, sizeof abOwed);
    fNewest = fFullPending = fMapPublished = fPublishing = fLinkOwed = 0;
    iPublishedLink = -1;
    uSuperseded = uSupersededBatch = 0;
    uNetTX = 0;
}

// Whether the exchange(s) since uNoReplyBefore failed: no reply came, or the
// client refused because no infodriver is hooked (it sends nothing then).
static int fnExchangeFailed(DWORD uNoReplyBefore, int iDevice)
{
    return uExtInfodrivNoReply != uNoReplyBefore || fnGetHWND(iDevice) == NULL;
}

static LPCSTR fnBitText(UINT uSlot)
{
    return (bPreviousUncompressedData[(uSlot - 1) / 8] >> ((uSlot - 1) % 8)) & 1 ? "1" : "0";
}

int fnSplitToSlotsBYTE(BYTE bIn, int iDeviceNo, UINT uStartSlot, int fCheck)
{
    for (UINT i = 0; i < 8; i++) {
        UINT uSlot = uStartSlot + i;
        LPCSTR lpszText = (bIn >> i) & 1 ? "1" : "0";
        DWORD uNoReply = uExtInfodrivNoReply;
        int fFailed;
        if (fCheck) {
            if (fnCheckSlot(iDeviceNo, lpszText, (int)uSlot, 0))
                uNetTX++;
            fFailed = fnExchangeFailed(uNoReply, iDeviceNo);
        } else {
            fFailed = fnSetSlot(iDeviceNo, (int)uSlot, lpszText, 0) != 0;
            if (!fFailed)
                uNetTX++;       // only a write the infodriver answered
        }
        if (uSlot >= 1 && uSlot <= TALLY_SLOTS)
            abOwed[uSlot] = (BYTE)fFailed;
    }
    return 0;
}

void fnPublishMap(const BYTE abMap[16], int fFull)
{
    if (fNewest) {
        uSuperseded++;
        uSupersededBatch++;
    }
    memcpy(abNewest, abMap, sizeof abNewest);
    fNewest = 1;
    fFullPending |= fFull;
}

void fnPublishPending(void)
{
    // A map handed over while a publication runs (a frame decoded from inside
    // one of its exchanges) is taken by the loop, never by a nested publication.
    if (fPublishing)
        return;
    fPublishing = 1;
    while (fNewest) {
        BYTE abMap[TALLY_MAP_BYTES];
        int fFull = fFullPending;
        memcpy(abMap, abNewest, sizeof abMap);
        fNewest = fFullPending = 0;
        if (uSupersededBatch != 0) {
            char acLine[96];
            _snprintf(acLine, sizeof acLine, "%lu map%s superseded (%lu in all)", (unsigned long)uSupersededBatch,
                      uSupersededBatch == 1 ? "" : "s", (unsigned long)uSuperseded);
            acLine[sizeof acLine - 1] = 0;
            fnDebugList(hDlg, IDC_DEBUGLIST, acLine);
            uSupersededBatch = 0;
        }
        for (UINT x = 0; x < TALLY_MAP_BYTES; x++) {
            if (fFull)
                fnSplitToSlotsBYTE(abMap[x], iDeviceNo, 8 * x + 1, 0);
            else if (abMap[x] != bPreviousUncompressedData[x])
                fnSplitToSlotsBYTE(abMap[x], iDeviceNo, 8 * x + 1, 1);
            bPreviousUncompressedData[x] = abMap[x];
        }
        fMapPublished = 1;
    }
    fPublishing = 0;
}

void fnPublishLink(int iState)
{
    DWORD uNoReply = uExtInfodrivNoReply;
    iPublishedLink = iState;
    fnCheckSlot(iDeviceNo, iState == 1 ? "0" : "1", SLOT_COMMS_STATUS, 0);
    fLinkOwed = fnExchangeFailed(uNoReply, iDeviceNo);
}

UINT fnPublishRetry(void)
{
    UINT uAnswered = 0;
    for (UINT uSlot = 1; uSlot <= TALLY_SLOTS; uSlot++) {
        if (!abOwed[uSlot])
            continue;
        if (fnSetSlot(iDeviceNo, (int)uSlot, fnBitText(uSlot), 0) == 0) {
            abOwed[uSlot] = 0;
            uNetTX++;
            uAnswered++;
        }
    }
    if (fLinkOwed && fnSetSlot(iDeviceNo, SLOT_COMMS_STATUS, iPublishedLink == 1 ? "0" : "1", 0) == 0) {
        fLinkOwed = 0;
        uAnswered++;
    }
    return uAnswered;
}

UINT fnPublishOwed(void)
{
    UINT uOwed = (UINT)fLinkOwed;
    for (UINT uSlot = 1; uSlot <= TALLY_SLOTS; uSlot++)
        uOwed += abOwed[uSlot];
    return uOwed;
}

void fnPublishAllOwed(void)
{
    if (fMapPublished)
        memset(abOwed + 1, 1, TALLY_SLOTS);
    // Not yet known (no acknowledge and no time-out so far): nothing to say.
    fLinkOwed = iPublishedLink == 1 || iPublishedLink == 2;
}

DWORD fnPublishSuperseded(void)
{
    return uSuperseded;
}
