// publish: the one writer of the driver's own slots in its infodriver -- the
// tally slots 1..128 and the comms-status slot 4094. It owns what was
// published: the map and the link state the infodriver should hold, and per
// slot whether the infodriver confirmed that text.
//
// The decoder hands it every map; only the newest is published, compared
// against the map last published, so a backlog never becomes a replay. The
// link hands it the link state. A slot whose exchange got no reply stays
// unconfirmed and is written again, with its current text, at the next
// poll tick; after an infodriver is lost everything it owned is unconfirmed,
// and the ticks write it to the new one. Main window thread only.
#pragma once
#include <windows.h>

// The map last published (start-up fills it with 0xFF: a first tally frame
// that follows some other frame is compared against all-ones).
extern BYTE bPreviousUncompressedData[16];
extern DWORD uNetTX;            // slot writes the infodriver answered

// Forgets everything: start-up fill, nothing published, nothing owed.
void fnPublishReset(void);
// A newly decoded map. fFull: the first tally frame since start-up, whose
// publication writes all 128 slots unconditionally -- even when a newer map
// replaces it before it is published. A map still waiting is superseded.
void fnPublishMap(const BYTE abMap[16], int fFull);
// Publishes the newest map if one waits, after a "maps superseded" line
// when it replaced others. The link calls it once the waiting bytes are all
// read; the test frames right after their decoding.
void fnPublishPending(void);
// The link's state (1 healthy, 2 failed): 4094 "0" / "1" through fnCheckSlot.
void fnPublishLink(int iState);
// The poll tick: writes every unconfirmed slot again with its current text.
// Returns the number of those writes the infodriver answered.
UINT fnPublishRetry(void);
// Slots waiting for a confirmation.
UINT fnPublishOwed(void);
// The infodriver is lost: every slot the driver has published (1..128 once a
// map was, 4094 once the link state is known) is owed to the next one.
void fnPublishAllOwed(void);
// Maps superseded since start (shown with each batch in the debug list).
DWORD fnPublishSuperseded(void);
// Publishes the eight bits of bIn into slots uStartSlot..+7: unconditionally,
// or (fCheck) only where the infodriver's text differs.
int fnSplitToSlotsBYTE(BYTE bIn, int iDeviceNo, UINT uStartSlot, int fCheck);
