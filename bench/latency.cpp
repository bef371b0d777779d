// latency: tally latency per kind of frame, beside its floors.
#include "sections.h"
#include <unistd.h>

// The floor of a frame, measured in the same minutes as the frame itself:
// benchprobe floor makes the same slot exchanges bare (the same reads and
// writes, in the same order, with the same texts) against a stand-in of its
// own while the driver keeps running, so load that comes and goes on the
// machine falls on frames and floor alike.
struct FLOORPROBE {
    harness::Infodrv info;
    harness::LineChild probe;
    int fUp = 0;
};

struct LATROW {
    int fMeasured = 0;
    int cBytes = 0, cReads = 0, cWrites = 0;
    int cReadsToLast = 0;       // reads before the last write: what the latency contains
    STATS st;
    double dReadsMeasured = 0;
    STATS stFloor;              // the frame's exchanges made bare, to the last write (ms, no wire time)
    STATS stFloorAll;           // the same blocks to the end of their last exchange
};

static LATROW aRows[CASE_IDENTICAL];
STATS stBareGet, stBareSet;

// One block: the exchanges of the change abOld -> abNew. Its time in ms from
// the first exchange to the stand-in's stamp of the last write, which is
// where a frame's latency ends too; -1 when it failed. *pdAll: the time of
// all its exchanges (the reads after the last write included).
static double fnFloorBlock(FLOORPROBE *pf, const uint8_t abOld[16], const uint8_t abNew[16], double *pdAll)
{
    std::string sLine;
    unsigned long long ullStart, ullEnd;
    int cExchanges;
    size_t cWrites = (size_t)fnDiffBits(abOld, abNew);
    if (!pf->fUp || cWrites == 0)
        return -1;
    pf->info.TakeEvents();
    if (!pf->probe.Send(harness::Hex(abOld, 16) + " " + harness::Hex(abNew, 16)) || pf->probe.WaitLine("B ", 20000, &sLine) != 1 ||
        sscanf(sLine.c_str(), "B %llu %llu %d", &ullStart, &ullEnd, &cExchanges) != 3 ||
        !pf->info.WaitWrites(cWrites, 1, 128, 20000)) {
        fnFail("floor block: no answer");
        pf->fUp = 0;
        return -1;
    }
    std::vector<harness::InfoEvent> vW;
    for (const harness::InfoEvent &e : pf->info.TakeEvents())
        if (e.kind == "W")
            vW.push_back(e);
    *pdAll = (double)(ullEnd - ullStart) / 1e6;
    return (double)(vW[cWrites - 1].tUs * 1000 - (long long)ullStart) / 1e6;
}

static LATROW fnLatency(RIG *prig, const CASE &c, int cFrames, FLOORPROBE *pf)
{
    LATROW row;
    uint8_t abA[16], abB[16];
    int cWrong = 0;
    fnCaseMaps(c, abA, abB);
    row.fMeasured = 1;
    row.cBytes = fnFrameBytes(abA);
    row.cReads = 8 * fnDiffBytes(abA, abB);
    row.cWrites = fnDiffBits(abA, abB);
    row.cReadsToLast = fnReadsBeforeLastWrite(abA, abB);
    fnSettle(prig, abA, &cWrong);
    unsigned long long ullReads0 = prig->info.Total("R");
    std::vector<double> v, vFloor, vFloorAll;
    for (int i = 0; i < cFrames; i++) {
        double d = fnOneFrame(prig, (i & 1) ? abA : abB, &cWrong);
        if (d < 0)
            break;
        v.push_back(d);
        // Frames 5 ms apart, not back to back: each is a frame of its own.
        usleep(5000);
        double dAll = 0;
        double dFloor = fnFloorBlock(pf, (i & 1) ? abB : abA, (i & 1) ? abA : abB, &dAll);
        if (dFloor >= 0) {
            vFloor.push_back(dFloor);
            vFloorAll.push_back(dAll);
        }
        usleep(5000);
    }
    row.stFloor = fnStats(vFloor);
    row.stFloorAll = fnStats(vFloorAll);
    row.dReadsMeasured = v.empty() ? 0 : (double)(prig->info.Total("R") - ullReads0) / (double)v.size();
    if (cWrong)
        fnFail("%s: %d slot writes with the wrong text", c.pszKey, cWrong);
    row.st = fnStats(v);
    return row;
}

int fnFramesOf(const CASE &c)
{
    return rsRun.fQuick && c.fAllBytes && c.bA != c.bB ? 10 : rsRun.iFrames;
}

void fnLatencyRun(RIG *prig, int iFirst, int iEnd, int cFrames)
{
    FLOORPROBE floor;
    floor.fUp = fnStandInStart(&floor.info, BENCH_DEV_FLOOR) == 0 &&
                fnProbeStart(&floor.probe, { "floor", std::to_string(BENCH_DEV_FLOOR) }, "ready");
    for (int i = iFirst; i < iEnd; i++) {
        int n = cFrames ? cFrames : fnFramesOf(aCases[i]);
        fnNote("latency %s x%d", aCases[i].pszKey, n);
        aRows[i] = fnLatency(prig, aCases[i], n, &floor);
    }
    fnProbeQuit(&floor.probe, nullptr, nullptr);
    floor.info.Stop();
}

STATS fnFloorBlocksOfA(RIG *prig)
{
    if (!aRows[CASE_ONE_BYTE].fMeasured) {
        fnLatencyRun(prig, CASE_ONE_BYTE, CASE_ONE_BYTE + 1, 50);
        aRows[CASE_ONE_BYTE].fMeasured = 0;    // too short a run for the table
    }
    return aRows[CASE_ONE_BYTE].stFloorAll;
}

void fnBareRun(void)
{
    harness::Infodrv info;
    fnNote("bare exchanges x%d", rsRun.iExchanges);
    if (fnStandInStart(&info, BENCH_DEV_FLOOR) != 0)
        return;
    std::vector<std::string> vLines;
    std::string sDev = std::to_string(BENCH_DEV_FLOOR), sN = std::to_string(rsRun.iExchanges);
    int iExit = harness::RunTool("benchprobe.exe", { "exchange", sDev, sN }, &vLines, 300000);
    for (const auto &pr : fnProbeStats(vLines, 1000))
        (pr.first == "getslot" ? stBareGet : stBareSet) = pr.second;
    if (iExit != 0 || stBareGet.n == 0 || stBareSet.n == 0)
        fnFail("benchprobe exchange failed (exit %d)", iExit);
    info.Stop();
}

static double fnPct(double dPart, double dWhole)
{
    return dWhole > 0 ? dPart / dWhole * 100.0 : 0.0;
}

void fnLatencyReport(void)
{
    fnOut(fnFmt("%-36s %5s %7s %9s %8s %8s %8s %7s %8s %6s %8s %6s", "TALLY LATENCY (last byte -> last slot write)",
                "bytes", "wire", "exch R+W", "p50", "p99", "max", "p50/wire", "floor", "over", "floor1", "over1"));
    std::string sJsonLat;
    for (int i = 0; i < CASE_IDENTICAL; i++) {
        const LATROW &r = aRows[i];
        if (!r.fMeasured)
            continue;
        double dWire = fnWireMs(r.cBytes);
        double dFloor1 = dWire + r.cReadsToLast * stBareGet.p50 + r.cWrites * stBareSet.p50;
        double dFloor = r.stFloor.n > 0 ? dWire + r.stFloor.p50 : dFloor1;
        double dTotal = dWire + r.st.p50;
        fnOut(fnFmt("%-36s %5d %6.2fms %4d+%-4d %6.2fms %6.2fms %6.2fms %7.1fx %6.2fms %5.0f%% %6.2fms %5.0f%%",
                    aCases[i].pszName, r.cBytes, dWire, r.cReads, r.cWrites, r.st.p50, r.st.p99, r.st.max,
                    r.st.p50 / dWire, dFloor, fnPct(dTotal - dFloor, dFloor), dFloor1,
                    fnPct(dTotal - dFloor1, dFloor1)));
        fnJsonAdd(&sJsonLat, aCases[i].pszKey, fnFmt("{\"bytes\": %d, \"wire_ms\": %.4f, \"reads\": %d, \"writes\": %d, "
                          "\"reads_measured_per_frame\": %.2f, \"latency_ms\": %s, \"floor_ms\": %.4f, "
                          "\"overhead_pct\": %.1f, \"floor_exchanges_ms\": %s, \"floor_single_p50_ms\": %.4f, "
                          "\"overhead_single_p50_pct\": %.1f}",
                          r.cBytes, dWire, r.cReads, r.cWrites, r.dReadsMeasured, fnJsonStats(r.st).c_str(), dFloor,
                          fnPct(dTotal - dFloor, dFloor), fnJsonStats(r.stFloor).c_str(), dFloor1,
                          fnPct(dTotal - dFloor1, dFloor1)));
    }
    fnOut(fnFmt("%-36s %5d %6.2fms %4d+%-4d   nothing crosses a boundary: in-process cost %.3f ms p50 (below)",
                aCases[CASE_IDENTICAL].pszName, 22, fnWireMs(22), 0, 0, fnInProcessP50(CASE_IDENTICAL)));
    fnJson("latency", "{" + sJsonLat + "}");
    fnOut("  exch R+W: slot reads and writes the frame causes; over = (wire + p50 - floor) / floor. floor = wire time + p50 of");
    fnOut("  the frame's own exchanges made bare right after each frame (same reads and writes, order and texts, against a");
    fnOut("  stand-in of its own, the driver running), first exchange -> stamp of the last write, as the latency ends there.");
    fnOut("  floor1 = wire time + reads before the last write x bare GETSLOT p50 + writes x bare SETSLOT p50 (below, measured");
    fnOut("  later without the driver); n x the p50 of one skewed exchange lies below the p50 of a sum of n (about n x mean)");
    // floor1 with the statistic of a sum: wire time + the reads before the
    // last write x bare GETSLOT mean + writes x bare SETSLOT mean.
    std::string sLine, sJson;
    for (int i = 0; i < CASE_IDENTICAL; i++) {
        const LATROW &r = aRows[i];
        double dWire = fnWireMs(r.cBytes);
        double dFloor = dWire + r.cReadsToLast * stBareGet.mean + r.cWrites * stBareSet.mean;
        double dOver = dFloor > 0 ? (dWire + r.st.p50 - dFloor) / dFloor * 100.0 : 0.0;
        sLine += fnFmt("%s (%s) %.2f ms, over %.0f%%", i ? ";" : "", aCases[i].pszKey, dFloor, dOver);
        fnJsonAdd(&sJson, aCases[i].pszKey, fnFmt("{\"floor_ms\": %.4f, \"overhead_pct\": %.1f}", dFloor, dOver));
    }
    fnOut("  floor1 with the means of the single exchanges instead of their p50s:" + sLine);
    fnJson("floor_single_means", "{" + sJson + "}");
}

void fnBareReport(void)
{
    fnOut(fnFmt("%-36s %8s %8s %8s %8s", "PLATFORM FLOOR (one bare exchange)", "p50", "p99", "max", "mean"));
    for (const auto &pr : { std::make_pair("GETSLOT", &stBareGet), std::make_pair("SETSLOT", &stBareSet) })
        fnOut(fnFmt("%-36s %6.3fms %6.3fms %6.3fms %6.3fms", (pr.first + std::string(" request + nested reply")).c_str(),
                    pr.second->p50, pr.second->p99, pr.second->max, pr.second->mean));
    fnJson("bare_exchange_ms", "{\"getslot\": " + fnJsonStats(stBareGet) + ", \"setslot\": " + fnJsonStats(stBareSet) + "}");
}
