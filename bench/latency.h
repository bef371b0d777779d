// latency: tally latency per kind of frame -- from the frame's last byte
// handed to the pty to the stand-in's stamp of the last slot write it
// causes -- beside its floors: the frame's own exchanges made bare right
// after each frame (benchprobe floor, interleaved with the frames, the driver
// running), and one bare exchange of each kind (benchprobe exchange, the
// platform floor, made with no driver running).
#pragma once
#include "report.h"
#include "rig.h"

// Frames per case: the quick run keeps the costly all-bytes cases short.
int fnFramesOf(const CASE &c);
// Cases (a), (b) and (b'), each frame followed by its floor block.
void fnLatencyRun(RIG *prig);
// The platform floor: bare GETSLOT and SETSLOT exchanges.
void fnBareRun(void);
// The bare exchanges' statistics, in ms; whether they were measured.
bool fnBare(STATS *pstGet, STATS *pstSet);
// The floor blocks of case (a), all nine exchanges (ms): those of the
// latency run, or, when it did not run, of a short run made now.
STATS fnFloorBlocksOfA(RIG *prig);
void fnLatencyReport(void);
void fnBareReport(void);
