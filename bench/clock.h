// clock: the run's clocks brought to one. mixsim stamps with CLOCK_MONOTONIC,
// the stand-in infodriver and benchprobe with QueryPerformanceCounter; both
// are taken to CLOCK_MONOTONIC_RAW. Every mixsim stamp is shifted by the
// MONOTONIC - RAW difference read right after it; QPC is checked against RAW
// by bracketing probe readings between two host readings, at the start and
// at the end of a run.
#pragma once
#include <time.h>

long long fnNs(clockid_t id);
void fnSleepUntil(long long llMonoNs);
long long fnMonoMinusRaw(void);

// What the bracketing found: QPC - RAW of the tightest bracket, its half
// width, the spread over the 20 tightest, and QPC - MONOTONIC.
struct CLOCKCHECK {
    int cSamples = 0;
    long long llQpcMinusRaw = 0, llHalfWidth = 0, llQpcMinusMono = 0, llRawSpreadNs = 0;
};

// benchprobe clock, cSamples readings. The first check of a run also sets
// the offset applied to QPC stamps: none when the bracket cannot tell QPC
// from RAW, else the measured one.
CLOCKCHECK fnClockCheck(int cSamples, int fSetOffset);
// A stand-in's or the probe's stamp (QPC, in ns) on the RAW clock, ns.
long long fnQpcNsToRaw(long long llNs);
// The table's "clocks:" line and the JSON's "clocks".
void fnClockReport(const CLOCKCHECK &ccStart, const CLOCKCHECK &ccEnd);
