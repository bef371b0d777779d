// maps: the tally maps the bench sends, as the driver's slots 1..128 show
// them -- the kinds of frame measured, the slots a map sets, what a change
// of map costs in slot exchanges, and the stand-in's slots replayed from its
// writes.
#pragma once
#include <stdint.h>
#include <string>
#include <vector>
#include "harness.h"

#define BENCH_BAUD          38400.0
#define BENCH_BITS_PER_CHAR 11.0

// A kind of frame: two maps that alternate (map byte 0 alone, or all 16
// bytes, set to bA / bB), and a third (bC) that differs from both: the last
// frame of a run ends on a map that no frame before it had, so that the
// moment the stand-in holds it is the moment the run has been published.
struct CASE {
    const char *pszKey;
    const char *pszName;
    uint8_t bA, bB, bC;
    int fAllBytes;
};

enum { CASE_ONE_BYTE, CASE_ALL_BYTES, CASE_ALL_SLOTS, CASE_IDENTICAL, CASE_COUNT };
extern const CASE aCases[CASE_COUNT];

// A case's maps A and B, and C unless abC is null.
void fnCaseMaps(const CASE &c, uint8_t abA[16], uint8_t abB[16], uint8_t abC[16] = nullptr);
// The next number of a fixed pseudo-random sequence (15 bits), for repeatable shows.
uint32_t fnLcgNext(uint32_t *pu);
// One map byte, two in every fifth change at random, set to another value
// (a cut or a mix moves a tally bit or two).
void fnChangeBytes(uint8_t abMap[16], uint32_t *pu);
// Slots 1..128 as '0'/'1', slot 1 first.
std::string fnMapSlots(const uint8_t abMap[16]);
int fnDiffBits(const uint8_t abA[16], const uint8_t abB[16]);
int fnDiffBytes(const uint8_t abA[16], const uint8_t abB[16]);
// Slot reads the driver makes before the last write of a change.
int fnReadsBeforeLastWrite(const uint8_t abA[16], const uint8_t abB[16]);
int fnFrameBytes(const uint8_t abMap[16]);
double fnWireMs(int cBytes);
// The line's most frames a second of cBytes each.
double fnLineMaxFps(int cBytes);

// The stand-in's slots 1..128 replayed from its writes, in order. sState
// starts as the slots were when the events were taken ('0'/'1', ' ' empty).
struct REPLAY {
    std::string sState;
    size_t iNext = 0;           // the next event to replay
    long long llHeldUs = -1;    // QPC us of the write since which sState equals the wanted map; -1: it does not
    int cWrites = 0;            // tally writes replayed
    int cIdle = 0;              // ... that wrote the text the slot held already
};
// Replays the events from pr->iNext on; the held stamp is that of the write
// after which the slots became the wanted map (and have stayed it).
void fnReplay(REPLAY *pr, const std::vector<harness::InfoEvent> &v, const std::string &sWant);
