// The sections of a run, one .cpp each; each measures, then prints its part
// of the table and the JSON. The driver's sections (startup, latency,
// throughput, staleness, idle) share the rig in that order; breakdown runs
// on COM14 with a stand-in of device 302, the soak on COM18 with device 304.
#pragma once
#include "rig.h"

// startup: launch -> the stand-in's "hooked", the first byte, the first poll.
// The last of cRuns launches is left running with its link up. 0, or -1 (said).
int fnStartupRun(RIG *prig, int cRuns);
void fnStartupReport(void);

// latency: per kind of frame, with its floors (benchprobe floor after each
// frame; the platform floor, benchprobe exchange, with no driver running).
int fnFramesOf(const CASE &c);              // frames per case (short in a quick run)
// Cases [iFirst, iEnd), cFrames frames each (0: fnFramesOf), each frame
// followed by its floor block.
void fnLatencyRun(RIG *prig, int iFirst = 0, int iEnd = CASE_IDENTICAL, int cFrames = 0);
void fnBareRun(void);
extern STATS stBareGet, stBareSet;          // one bare exchange (ms); n 0 when not measured
// The floor blocks of case (a) (ms): the latency run's, or a short run's made now.
STATS fnFloorBlocksOfA(RIG *prig);
void fnLatencyReport(void);
void fnBareReport(void);

void fnThroughputRun(RIG *prig);
void fnThroughputReport(void);

void fnStalenessRun(RIG *prig);
void fnStalenessReport(void);

// idle: the driver's CPU and memory at rest beside a bare read loop. Closes
// the driver: the wineserver is measured without it too.
void fnIdleRun(RIG *prig);
void fnIdleReport(void);

// breakdown: in one process in the driver's setting, where an exchange's
// time goes, then with fFrames the driver's cost per frame.
void fnInProcessRun(harness::Install *pInst, bool fFrames);
double fnInProcessP50(int iCase);           // p50 ms of a case's frame; 0 when not measured
void fnInProcessReport(void);
void fnBreakdownReport(void);
int fnBreakdownOnly(void);                  // the breakdown alone, its table printed; exit code

// soak: the driver under a scripted show for iMinutes, its resources counted
// from outside; its own table and soak-<stamp>.json. With fCheck, growth past
// loose bounds fails it. Exit code.
int fnSoak(int iMinutes, int fCheck, const char *pszIso, const char *pszStamp);
