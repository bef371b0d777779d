// staleness: how far behind the mixer the tally falls where the driver
// cannot publish every map.
#include "sections.h"
#include <string.h>
#include <algorithm>
#include "clock.h"

#define BURST_FPS         2.0      // the whole map changes twice a second
#define BURST_DELAY_MS    5        // every exchange answered this late
#define FLOOD_FRAMES      1000
#define FLOOD_FPS         500.0    // 1000 frames in 2 s
#define FLAKY_MAPS        4
#define FLAKY_GAP_S       1.5

struct BURST {
    int cRuns = 0, cFrames = 0;
    STATS stLagMs;
    double dWholeMs = 0;           // one whole-map publication at that speed
    unsigned long long ullSuperseded = 0;
};

struct FLOODLAG {
    int fOk = 0;
    double dSpanS = 0, dLagMs = 0, dPollGapMs = 0;
    unsigned long long ullSuperseded = 0;
};

struct FLAKY {
    unsigned uOne;                 // one reply in uOne withheld
    double dTargetS;
    STATS stLagMs;
    unsigned long long ullWithheld = 0, ullSuperseded = 0;
    int cRuns = 0;
};

static BURST burst;
static FLOODLAG flood;
static FLAKY aFlaky[2] = { { 40, 2.0, STATS(), 0, 0, 0 }, { 10, 5.0, STATS(), 0, 0, 0 } };
static unsigned long long ullRehooks;

static bool fnSetStandIn(RIG *prig, const std::string &sCmd)
{
    if (prig->info.Cmd(sCmd) == "ok")
        return true;
    fnFail("stand-in: '%s' was not taken", sCmd.c_str());
    return false;
}

// The whole map (every slot) flips with every frame, B and A in turn, and
// the last frame carries C, a map no frame before had.
static void fnBurst(RIG *prig)
{
    const CASE &c = aCases[CASE_ALL_SLOTS];
    int cRuns = rsRun.fQuick ? 1 : 3;
    int cFrames = (int)(BURST_FPS * (rsRun.fQuick ? 3 : 10));
    uint8_t abA[16], abB[16];
    fnCaseMaps(c, abA, abB);
    if (!fnSetStandIn(prig, "delay " + std::to_string(BURST_DELAY_MS)))
        return;
    // What one whole-map publication takes at that speed: A -> B -> A.
    int cWrong = 0;
    std::vector<double> vLag;
    fnSettle(prig, abA, &cWrong);
    double dToB = fnOneFrame(prig, abB, &cWrong);
    burst.dWholeMs = (dToB + fnOneFrame(prig, abA, &cWrong)) / 2;
    if (cWrong)
        fnFail("burst: %d slot writes with the wrong text", cWrong);
    for (int r = 0; r < cRuns; r++) {
        FRAMERUN run;
        fnNote("staleness: burst %d of %d, %d frames at %.0f/s", r + 1, cRuns, cFrames, BURST_FPS);
        fnCaseFrames(prig, c, cFrames, &run);
        run.dRate = BURST_FPS;
        if (fnFrameRun(prig, &run, 60000) != 0)
            break;
        vLag.push_back((double)(run.llHeldRaw - run.llLastDoneRaw) / 1e6);
        burst.ullSuperseded += run.ullSuperseded;
        burst.cFrames = (int)(run.vbMaps.size() / 16);
    }
    burst.cRuns = (int)vLag.size();
    burst.stLagMs = fnStats(vLag);
    fnSetStandIn(prig, "delay 0");
}

static bool fnSeen(const std::vector<uint8_t> &vbMaps, const uint8_t abMap[16])
{
    for (size_t j = 0; j < vbMaps.size(); j += 16)
        if (memcmp(&vbMaps[j], abMap, 16) == 0)
            return true;
    return false;
}

// From the map the driver holds, each frame changes one map byte (two in
// every fifth frame) to another value; the last map differs from every
// map before it.
static void fnSmallChanges(const uint8_t abFrom[16], int cFrames, uint32_t uSeed, std::vector<uint8_t> *pvb)
{
    uint8_t abMap[16];
    memcpy(abMap, abFrom, 16);
    pvb->clear();
    for (int i = 0; i < cFrames; i++) {
        fnChangeBytes(abMap, &uSeed);
        while (i == cFrames - 1 && (fnSeen(*pvb, abMap) || memcmp(abMap, abFrom, 16) == 0))
            abMap[fnLcgNext(&uSeed) % 16] ^= (uint8_t)(1u << (fnLcgNext(&uSeed) % 8));
        pvb->insert(pvb->end(), abMap, abMap + 16);
    }
}

// The longest gap between two polls the mixer saw, from the last before
// llFromNs to the first after llToNs (CLOCK_MONOTONIC), in ms.
static double fnLongestPollGap(MIXSIM *psim, long long llFromNs, long long llToNs)
{
    std::vector<MSMSG> vm(msCount(psim, MSK_POLL) * 4 + 4096);
    vm.resize(msGetMessages(psim, 0, vm.data(), vm.size()));
    long long llPrev = -1, llGap = 0;
    for (const MSMSG &m : vm) {
        if (m.iKind != MSK_POLL)
            continue;
        if (m.llNs > llFromNs && llPrev >= 0)
            llGap = std::max<long long>(llGap, m.llNs - llPrev);
        llPrev = m.llNs;
        if (m.llNs > llToNs)
            break;
    }
    return (double)llGap / 1e6;
}

static void fnFlood(RIG *prig)
{
    FRAMERUN run;
    fnNote("staleness: flood, %d frames at %.0f/s", FLOOD_FRAMES, FLOOD_FPS);
    fnSmallChanges(prig->abMap, FLOOD_FRAMES, 4242, &run.vbMaps);
    run.dRate = FLOOD_FPS;
    if (fnFrameRun(prig, &run, 60000) != 0)
        return;
    // The gap after the flood ends with a poll that has come.
    if (msWaitKind(prig->psim, MSK_POLL, msCount(prig->psim, MSK_POLL) + 1, 20000) != 1) {
        fnFail("staleness flood: no poll after the flood");
        return;
    }
    long long llMonoMinusRaw = fnMonoMinusRaw();
    flood.dPollGapMs = fnLongestPollGap(prig->psim, run.llStartRaw + llMonoMinusRaw, run.llHeldRaw + llMonoMinusRaw);
    flood.dLagMs = (double)(run.llHeldRaw - run.llLastDoneRaw) / 1e6;
    flood.dSpanS = (double)(run.llLastDoneRaw - run.llStartRaw) / 1e9;
    flood.ullSuperseded = run.ullSuperseded;
    flood.fOk = 1;
    if (run.rp.cIdle != 0)
        fnFail("staleness flood: %d writes of a text the slot held already", run.rp.cIdle);
}

// Four maps 1.5 s apart, every map byte changing from one to the next, while
// the stand-in withholds one reply in uOne at random (the sequence of uSeed).
static double fnFlakyRun(RIG *prig, FLAKY *pf, uint32_t uSeed)
{
    FRAMERUN run;
    uint8_t abMap[16];
    memcpy(abMap, prig->abMap, 16);
    uint32_t u = uSeed * 7919u;
    for (int i = 0; i < FLAKY_MAPS; i++) {
        for (int x = 0; x < 16; x++)
            abMap[x] = (uint8_t)(abMap[x] + 1 + fnLcgNext(&u) % 255);
        run.vbMaps.insert(run.vbMaps.end(), abMap, abMap + 16);
    }
    run.dRate = 1.0 / FLAKY_GAP_S;
    unsigned long long ullWithheld = prig->info.Total("withheld");
    if (!fnSetStandIn(prig, fnFmt("withhold %u %u", pf->uOne, uSeed)))
        return -1;
    int r = fnFrameRun(prig, &run, 30000);
    fnSetStandIn(prig, "withhold 0");
    pf->ullWithheld += prig->info.Total("withheld") - ullWithheld;
    pf->ullSuperseded += run.ullSuperseded;
    return r == 0 ? (double)(run.llHeldRaw - run.llLastDoneRaw) / 1e6 : -1;
}

static void fnFlaky(RIG *prig)
{
    int cSeeds = rsRun.fQuick ? 1 : 5;
    for (FLAKY &f : aFlaky) {
        std::vector<double> vLag;
        for (int s = 1; s <= cSeeds; s++) {
            fnNote("staleness: flaky infodriver, one reply in %u withheld, seed %d", f.uOne, s);
            double d = fnFlakyRun(prig, &f, (uint32_t)s);
            if (d >= 0)
                vLag.push_back(d);
        }
        f.cRuns = (int)vLag.size();
        f.stLagMs = fnStats(vLag);
    }
}

void fnStalenessRun(RIG *prig)
{
    fnBurst(prig);
    fnFlood(prig);
    fnFlaky(prig);
    // The driver's own start-up hook is the one expected.
    unsigned long long ullHooks = prig->info.Total("hooked") - prig->ullHooksBefore;
    ullRehooks = ullHooks > 0 ? ullHooks - 1 : 0;
}

void fnStalenessReport(void)
{
    double dInPubs = burst.dWholeMs > 0 ? burst.stLagMs.max / burst.dWholeMs : 0.0;
    fnOut("STALENESS (lag: the last frame's last byte -> the stand-in holds the whole last map)");
    fnOut(fnFmt("  burst, the whole map flipping twice a second, %d frames, every exchange answered in %d ms (%d run%s): "
                "lag p50 %.0f ms, max %.0f ms = %.2f whole-map publications of %.0f ms (target: <= 2); "
                "%llu maps superseded",
                burst.cFrames, BURST_DELAY_MS, burst.cRuns, burst.cRuns == 1 ? "" : "s", burst.stLagMs.p50,
                burst.stLagMs.max, dInPubs, burst.dWholeMs, burst.ullSuperseded));
    fnOut(fnFmt("  flood, %d frames of 1 or 2 changed map bytes in %.2f s, normal stand-in: lag %.0f ms (target: <= "
                "1 s); longest gap between polls %.0f ms (target: <= 1.5 s); %llu maps superseded%s",
                FLOOD_FRAMES, flood.dSpanS, flood.dLagMs, flood.dPollGapMs, flood.ullSuperseded,
                flood.fOk ? "" : "  (FAILED)"));
    fnOut(fnFmt("  flaky infodriver: lag of the last map (%d maps %.1f s apart)   runs      p50      max   target "
                "withheld superseded", FLAKY_MAPS, FLAKY_GAP_S));
    std::string sFlaky;
    for (const FLAKY &f : aFlaky) {
        fnOut(fnFmt("    one reply in %-2u withheld at random %22d %7.0fms %7.0fms  <= %.0f s %8llu %10llu", f.uOne,
                    f.cRuns, f.stLagMs.p50, f.stLagMs.max, f.dTargetS, f.ullWithheld, f.ullSuperseded));
        fnJsonAdd(&sFlaky, fnFmt("one_in_%u", f.uOne),
                  fnFmt("{\"lag_ms\": %s, \"target_ms\": %.0f, \"withheld\": %llu, \"superseded\": %llu}",
                        fnJsonStats(f.stLagMs).c_str(), f.dTargetS * 1000, f.ullWithheld, f.ullSuperseded));
    }
    fnOut(fnFmt("    the infodriver was hooked again %llu time(s) after the driver's start-up hook (target: never)",
                ullRehooks));
    fnJson("staleness",
           fnFmt("{\"burst\": {\"runs\": %d, \"frames\": %d, \"delay_ms\": %d, \"lag_ms\": %s, \"whole_map_ms\": %.1f, "
                 "\"lag_in_publications\": %.3f, \"superseded\": %llu}, \"flood\": {\"ok\": %d, \"frames\": %d, "
                 "\"span_s\": %.3f, \"lag_ms\": %.1f, \"longest_poll_gap_ms\": %.1f, \"superseded\": %llu}, "
                 "\"flaky\": {%s, \"rehooks\": %llu}}",
                 burst.cRuns, burst.cFrames, BURST_DELAY_MS, fnJsonStats(burst.stLagMs).c_str(), burst.dWholeMs,
                 dInPubs, burst.ullSuperseded, flood.fOk,
                 FLOOD_FRAMES, flood.dSpanS, flood.dLagMs, flood.dPollGapMs, flood.ullSuperseded, sFlaky.c_str(),
                 ullRehooks));
}
