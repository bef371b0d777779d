// rig: the processes a run is made of, and the run's settings -- the real
// driver under Wine on a COM port of the build's prefix mapped to the
// simulated mixer (mixsim, in this process), the stand-in infodriver of its
// device (the harness's client, listening), and benchprobe, the Windows
// probe. Device numbers are unique per prefix only: a stand-in of one of
// these devices started by hand would answer the bench's hooks too.
#pragma once
#include <stdint.h>
#include <string>
#include <vector>
#include "harness.h"
#include "maps.h"
#include "mixsim.h"
#include "report.h"

#define BENCH_DEV_DRIVER   300     // the real driver's infodriver
#define BENCH_DEV_FLOOR    301     // the bare-exchange probes' infodriver
#define BENCH_DEV_INPROC   302     // the in-process probe's infodriver
#define BENCH_COM_DRIVER   13
#define BENCH_COM_INPROC   14
#define WAIT_LONG_MS       60000

struct RUNSET {
    int fQuick = 0;
    int iFrames = 1000;            // frames per latency case
    int iIdleS = 60;               // idle window
    int iStartRuns = 5;            // start-up repetitions
    int iExchanges = 2000;         // bare exchanges per kind
    int iBreakdownRounds = 40;     // rounds of the in-process breakdown
    std::string sJsonDir;
};
extern RUNSET rsRun;

struct RIG {
    int iDevice = BENCH_DEV_DRIVER;
    harness::Install *pInst = nullptr;
    MIXSIM *psim = nullptr;
    harness::Infodrv info;
    harness::Driver drv;
    uint8_t abMap[16];                      // the map the driver decoded last
    int fFirst = 1;                         // the next tally frame is the first since start-up
    unsigned long long ullSuperseded = 0;   // maps the driver superseded since start, as last read
    unsigned long long ullHooksBefore = 0;  // the stand-in's hooks before the driver's launch
};

// The stand-in of a device, listening. 0, or -1 (a failure said).
int fnStandInStart(harness::Infodrv *pinfo, int iDevice);
// The simulator on COM<iCom> and the stand-in of iDevice (whose device file
// the installation gets). 0, or -1 (said).
int fnRigOpen(RIG *prig, harness::Install *pInst, int iCom, int iDevice);
void fnRigClose(RIG *prig);
// Launches the driver; *pllLaunchNs: CLOCK_MONOTONIC right before. 0 or -1.
int fnDriverStart(RIG *prig, long long *pllLaunchNs);
// Closes it as the control system does (the close message through the hook
// window), so that it unhooks and closes its port.
void fnDriverStop(RIG *prig);

// Sends a map's frame; *pllDoneRaw: the simulator's done stamp, on RAW.
int fnSendMap(MIXSIM *psim, const uint8_t abMap[16], long long *pllDoneRaw);
// Sends a map and waits for the writes it must cause; ms from the done
// stamp to the last write, 0 when it causes none, -1 when it failed (said).
// Writes with a text the map does not have count in *pcWrong.
double fnOneFrame(RIG *prig, const uint8_t abMap[16], int *pcWrong);
// Sends the map first unless the driver holds it already (fnOneFrame).
void fnSettle(RIG *prig, const uint8_t abMap[16], int *pcWrong);
// The stand-in's slots 1..128 ('0'/'1', ' ' empty); "" when it did not answer.
std::string fnTallyNow(harness::Infodrv *pinfo);

// A run of frames, sent paced or back to back, and what the stand-in made
// of it. Its last map must differ from the map the stand-in holds at its
// start: the run has been published when the stand-in holds that map whole.
struct FRAMERUN {
    std::vector<uint8_t> vbMaps;            // 16 bytes per frame
    double dRate = 0;                       // frames a second; 0: back to back, in one write
    long long llStartRaw = 0;               // before the first frame was handed over
    std::vector<long long> vDoneRaw;        // each frame's done stamp (paced only)
    long long llLastDoneRaw = 0;            // the last frame's
    long long llHeldRaw = -1;               // the stand-in holds the last map; -1: it never did
    unsigned long long ullSuperseded = 0;   // maps the driver superseded meanwhile
    bool fSupersededSeen = false;           // ... as its debug list still shows (else 0 may be more)
    REPLAY rp;                              // the stand-in's slots, replayed
    std::vector<harness::InfoEvent> vEvents;
};
// Sends the run, waits (up to iHeldMs after its last frame) until the
// stand-in holds its last map, then checks that it holds it still. 0, or
// -1 when the run could not be made or its last map is not there (said).
int fnFrameRun(RIG *prig, FRAMERUN *prun, int iHeldMs);
// The frames of a case: from map A, settled first, B and A alternate, and
// the last frame (cFrames is made even, so that B precedes it) carries C.
void fnCaseFrames(RIG *prig, const CASE &c, int cFrames, FRAMERUN *prun);

// benchprobe <args>, read up to its line starting with pszReady; the lines
// before it go to *pvBefore (may be null). false (said, and nothing
// running) when it did not start.
bool fnProbeStart(harness::LineChild *pc, const std::vector<std::string> &vArgs, const char *pszReady,
                  std::vector<std::string> *pvBefore = nullptr);
// A probe's "stat <name> <n> <p50> <p99> <max> <mean>" lines, in order, their
// figures divided by dScale (the probe prints us); other lines are skipped.
typedef std::vector<std::pair<std::string, STATS>> NAMEDSTATS;
NAMEDSTATS fnProbeStats(const std::vector<std::string> &vLines, double dScale);
// "quit" to it, its line starting with pszLast (may be null) in *psLast, its end.
void fnProbeQuit(harness::LineChild *pc, const char *pszLast, std::string *psLast);
