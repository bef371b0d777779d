// throughput: the paced ladder, the floor's rate and the flood.
#include "sections.h"
#include <algorithm>
#include "clock.h"

struct TPROW {
    double dRate = 0;                   // frames a second offered
    int cFrames = 0, cWrites = 0, cExpected = 0;
    unsigned long long ullSuperseded = 0;
    int fSupersededUnknown = 0;         // writes were lost, but the debug list no longer shows the count
    int fFollowed = 0;                  // every frame's writes, no map superseded
    double dFirstP50 = 0, dLastP50 = 0, dMax = 0;   // latency of the first / last fifth (followed only)
    double dLastLagMs = 0;              // last frame -> the stand-in holds its map
};

struct FLOOD {
    TPROW row;                          // its frames, maps superseded and last map's lag
    int cPublications = 0, fOk = 0;
    double dFps = 0;
    STATS stStep, stGap;                // its time in the stand-in's stamps, us
};

static std::vector<TPROW> vTp;
static double dSustained;
static FLOOD aFlood[2];                 // (a), (b)
static STATS stBlockOfA;                // the floor blocks of (a), ms

// A run of a case's frames: the writes that arrived in order, each writing
// the text its slot did not yet hold (the publisher reads before it
// writes), and the latency of each frame when every frame was published.
static TPROW fnCaseRun(RIG *prig, const CASE &c, int cFrames, double dRate, FRAMERUN *prun)
{
    TPROW row;
    uint8_t abA[16], abB[16], abC[16];
    fnCaseMaps(c, abA, abB, abC);
    fnCaseFrames(prig, c, cFrames, prun);
    prun->dRate = dRate;
    row.dRate = dRate;
    row.cFrames = (int)(prun->vbMaps.size() / 16);
    int cPer = fnDiffBits(abA, abB);
    row.cExpected = (row.cFrames - 1) * cPer + fnDiffBits(abB, abC);
    if (fnFrameRun(prig, prun, 60000) != 0)
        return row;
    row.cWrites = prun->rp.cWrites;
    row.ullSuperseded = prun->ullSuperseded;
    row.fFollowed = row.cWrites == row.cExpected && row.ullSuperseded == 0;
    // A superseded map always costs writes here: of m alternating maps read
    // together one is published, with one write or none, so m - 1 maps
    // superseded cost m - 1 or m writes.
    row.fSupersededUnknown = row.cWrites < row.cExpected && !prun->fSupersededSeen;
    row.dLastLagMs = (double)(prun->llHeldRaw - prun->llLastDoneRaw) / 1e6;
    if (prun->rp.cIdle != 0)
        fnFail("%s at %.0f/s: %d writes of a text the slot held already", c.pszKey, dRate, prun->rp.cIdle);
    if (!row.fFollowed || prun->vDoneRaw.empty())
        return row;
    std::vector<long long> vW;
    for (const harness::InfoEvent &e : prun->vEvents)
        if (e.kind == "W" && e.iSlot >= 1 && e.iSlot <= 128)
            vW.push_back(fnQpcNsToRaw(e.tUs * 1000));
    std::vector<double> vLat;
    for (int i = 0; i < row.cFrames; i++) {
        size_t iLast = i == row.cFrames - 1 ? vW.size() - 1 : (size_t)((i + 1) * cPer - 1);
        vLat.push_back((double)(vW[iLast] - prun->vDoneRaw[(size_t)i]) / 1e6);
    }
    size_t q = vLat.size() / 5;
    if (q > 0) {
        row.dFirstP50 = fnStats(std::vector<double>(vLat.begin(), vLat.begin() + (long)q)).p50;
        row.dLastP50 = fnStats(std::vector<double>(vLat.end() - (long)q, vLat.end())).p50;
        row.dMax = fnStats(vLat).max;
    }
    return row;
}

// A flood, and where its time goes in the real driver, from the stand-in's
// stamps of its reads and writes: the steps between the exchanges of one
// publication, and the step from a publication's last exchange to the next
// one's first (the rest of that exchange, and the framing, decoding and
// logging of every frame read in between). A publication of either case
// starts with its read of slot 1.
static FLOOD fnFlood(RIG *prig, const CASE &c, int cFrames)
{
    FLOOD f;
    FRAMERUN run;
    fnNote("flood %s x%d", c.pszKey, cFrames);
    f.row = fnCaseRun(prig, c, cFrames, 0, &run);
    if (run.llHeldRaw < 0)
        return f;
    f.fOk = 1;
    double dS = (double)(run.llHeldRaw - run.llStartRaw) / 1e9;
    f.dFps = dS > 0 ? f.row.cFrames / dS : 0;
    std::vector<double> vStep, vGap;
    const harness::InfoEvent *pePrev = nullptr;
    for (const harness::InfoEvent &e : run.vEvents) {
        if ((e.kind != "R" && e.kind != "W") || e.iSlot < 1 || e.iSlot > 128)
            continue;
        bool fFirst = e.kind == "R" && e.iSlot == 1;
        f.cPublications += fFirst;
        if (pePrev != nullptr)
            (fFirst ? vGap : vStep).push_back((double)(e.tUs - pePrev->tUs));
        pePrev = &e;
    }
    f.stStep = fnStats(vStep);
    f.stGap = fnStats(vGap);
    return f;
}

// Maps superseded in a run; when the debug list no longer shows them, the
// least the lost writes imply (one map for every two).
static std::string fnSupersededText(const TPROW &r)
{
    if (r.fSupersededUnknown)
        return fnFmt(">=%d", (r.cExpected - r.cWrites + 1) / 2);
    return fnFmt("%llu", r.ullSuperseded);
}

// One step of the paced ladder: about ten seconds of frames at dRate (20
// frames in a quick run), noted and kept.
static const TPROW &fnPacedStep(RIG *prig, double dRate)
{
    int cFrames = rsRun.fQuick ? 20 : std::max(100, std::min(1500, (int)(dRate * 10)));
    FRAMERUN run;
    vTp.push_back(fnCaseRun(prig, aCases[CASE_ONE_BYTE], cFrames, dRate, &run));
    const TPROW &row = vTp.back();
    fnNote("  %.0f/s: %d of %d writes, %s superseded, p50 first %.2f last %.2f ms", dRate, row.cWrites,
           row.cExpected, fnSupersededText(row).c_str(), row.dFirstP50, row.dLastP50);
    return row;
}

// The ladder's steps lie up to a fifth apart. Between the last rate it
// followed and the first it did not, two halvings find the sustained rate
// more closely.
static void fnRefineSustained(RIG *prig)
{
    if (vTp.empty() || vTp.back().fFollowed || dSustained <= 0)
        return;
    double dBad = vTp.back().dRate;
    for (int i = 0; i < 2; i++) {
        double dRate = (double)(long)((dSustained + dBad) / 2);
        if (dRate <= dSustained || dRate >= dBad)
            break;
        if (fnPacedStep(prig, dRate).fFollowed)
            dSustained = dRate;
        else
            dBad = dRate;
    }
}

void fnThroughputRun(RIG *prig)
{
    fnNote("throughput");
    aFlood[0] = fnFlood(prig, aCases[CASE_ONE_BYTE], rsRun.fQuick ? 50 : 1000);
    aFlood[1] = fnFlood(prig, aCases[CASE_ALL_BYTES], rsRun.fQuick ? 10 : 200);
    // Paced runs from a quarter of what the floor of (a) allows upwards,
    // until a rate is not followed or the line's maximum is reached.
    static const double adShare[] = { 0.25, 0.5, 0.65, 0.8, 0.9, 1.0, 1.1, 1.25, 1.5, 2.0, 3.0, 5.0, 10.0, 100.0 };
    stBlockOfA = fnFloorBlocksOfA(prig);
    double dBase = stBlockOfA.mean > 0 ? 1000.0 / stBlockOfA.mean : 100.0;
    double dLineMax = fnLineMaxFps(7);
    dSustained = 0;
    for (double dShare : adShare) {
        double dRate = std::min(dLineMax, std::max(1.0, (double)(long)(dBase * dShare)));
        if (!vTp.empty() && dRate <= vTp.back().dRate)
            break;      // the line's maximum has been tried
        if (!fnPacedStep(prig, dRate).fFollowed)
            break;
        dSustained = dRate;
    }
    fnRefineSustained(prig);
}

// What the floor of one changed map byte (8 reads + 1 write) allows, and the
// sustained rate as a share of it. A rate is a mean: frames that follow each
// other back to back cost the sum of their exchanges, so the floor's rate
// comes from the means of the single bare exchanges (made back to back, as a
// sustained stream makes them), capped by the line's maximum. The p50s and
// the blocks made bare after each frame of (a) (each after an idle gap) are
// given beside it.
static void fnThroughputFloor(double dLineMax)
{
    auto fnRate = [dLineMax](double dMs) { return dMs > 0 ? std::min(dLineMax, 1000.0 / dMs) : 0.0; };
    auto fnShare = [](double dRate) { return dRate > 0 ? dSustained / dRate * 100.0 : 0.0; };
    double dMeanMs = 8 * stBareGet.mean + stBareSet.mean, dMeanRate = fnRate(dMeanMs);
    double dP50Ms = 8 * stBareGet.p50 + stBareSet.p50, dP50Rate = fnRate(dP50Ms);
    double dBlockRate = fnRate(stBlockOfA.mean);
    std::string sBlock = fnFmt("the same 9 exchanges made bare after each frame of (a), mean %.2f ms -> %.0f frames/s, "
                               "sustained = %.0f%%", stBlockOfA.mean, dBlockRate, fnShare(dBlockRate));
    if (stBareGet.n > 0 && stBareSet.n > 0) {
        fnOut(fnFmt("  floor of one changed byte: 8 x GETSLOT mean + SETSLOT mean = %.2f ms -> %.0f frames/s (the line "
                    "allows %.1f); sustained = %.0f%% of it (goal: 80%%)",
                    dMeanMs, dMeanRate, dLineMax, fnShare(dMeanRate)));
        fnOut(fnFmt("  (with the p50s instead: %.2f ms -> %.0f frames/s, sustained = %.0f%%; %s)", dP50Ms, dP50Rate,
                    fnShare(dP50Rate), sBlock.c_str()));
    } else {
        fnOut("  floor of one changed byte: the bare exchanges were not measured; " + sBlock);
    }
    fnJson("throughput_floor",
           fnFmt("{\"one_byte_single_mean_ms\": %.4f, \"one_byte_single_mean_fps\": %.1f, "
                 "\"sustained_share_pct\": %.1f, \"one_byte_single_p50_ms\": %.4f, \"one_byte_single_p50_fps\": %.1f, "
                 "\"sustained_share_of_p50_pct\": %.1f, \"one_byte_block_ms\": %s, \"one_byte_block_fps\": %.1f, "
                 "\"sustained_share_of_block_pct\": %.1f, \"line_max_fps\": %.1f, \"goal_share_pct\": 80}",
                 dMeanMs, dMeanRate, fnShare(dMeanRate), dP50Ms, dP50Rate, fnShare(dP50Rate),
                 fnJsonStats(stBlockOfA).c_str(), dBlockRate, fnShare(dBlockRate), dLineMax));
}

static std::string fnFloodLine(const char *pszCase, const FLOOD &f, double dLineMax)
{
    if (!f.fOk)
        return fnFmt("    %s %d frames: FAILED (see above)", pszCase, f.row.cFrames);
    return fnFmt("    %s %d frames: %.0f frames/s drained [line max %.1f]; %d publications, %llu maps superseded; "
                 "the last map held %.1f ms after its frame",
                 pszCase, f.row.cFrames, f.dFps, dLineMax, f.cPublications, f.row.ullSuperseded, f.row.dLastLagMs);
}

static std::string fnFloodJson(const FLOOD &f)
{
    return fnFmt("{\"frames\": %d, \"ok\": %d, \"fps\": %.1f, \"publications\": %d, \"superseded\": %llu, "
                 "\"last_map_lag_ms\": %.3f}",
                 f.row.cFrames, f.fOk, f.dFps, f.cPublications, f.row.ullSuperseded, f.row.dLastLagMs);
}

void fnThroughputReport(void)
{
    double dLineA = fnLineMaxFps(7), dLineB = fnLineMaxFps(22);
    fnOut("THROUGHPUT (changing frames of type (a) unless said; every write checked, slots 1..128 = the last map after each run)");
    bool fAllFollowed = std::all_of(vTp.begin(), vTp.end(), [](const TPROW &r) { return r.fFollowed != 0; });
    if (dSustained > 0)
        fnOut(fnFmt("  sustained (paced; followed frame by frame: every frame's write arrived, no map superseded): %s%.0f "
                    "frames/s = %.1f%% of the line maximum %.1f frames/s",
                    fAllFollowed ? "at least " : "", dSustained, dSustained / dLineA * 100.0, dLineA));
    else
        fnOut(fnFmt("  sustained: not even the lowest paced rate (%.0f frames/s) was followed frame by frame",
                    vTp.empty() ? 0.0 : vTp.front().dRate));
    fnThroughputFloor(dLineA);
    fnOut("  flood, back to back (what the driver drains; it publishes only the newest of the maps waiting):");
    fnOut(fnFloodLine("(a)", aFlood[0], dLineA));
    fnOut(fnFloodLine("(b)", aFlood[1], dLineB));
    double dPerPub = aFlood[0].cPublications > 0 ? (double)aFlood[0].row.cFrames / aFlood[0].cPublications : 0.0;
    fnOut(fnFmt("  flood (a) in the stand-in's stamps: one exchange after the other within a publication %.0f us p50 "
                "(mean %.0f); a publication's last exchange -> the next one's first %.0f us p50 (mean %.0f), with "
                "%.1f frames read per publication",
                aFlood[0].stStep.p50, aFlood[0].stStep.mean, aFlood[0].stGap.p50, aFlood[0].stGap.mean, dPerPub));
    fnJson("flood_split_us", fnFmt("{\"step\": %s, \"publication_gap\": %s, \"frames_per_publication\": %.2f}",
                                   fnJsonStats(aFlood[0].stStep).c_str(), fnJsonStats(aFlood[0].stGap).c_str(),
                                   dPerPub));
    std::string sRates, sJsonTp;
    for (const TPROW &r : vTp) {
        sRates += r.fFollowed ? fnFmt(" %.0f/s:%.1f->%.1fms", r.dRate, r.dFirstP50, r.dLastP50)
                              : fnFmt(" %.0f/s:%d/%d writes,%s superseded", r.dRate, r.cWrites, r.cExpected,
                                      fnSupersededText(r).c_str());
        sJsonTp += fnFmt("%s{\"rate\": %.0f, \"frames\": %d, \"writes\": %d, \"writes_expected\": %d, "
                         "\"superseded\": %llu, \"superseded_unknown\": %d, \"followed\": %d, \"first_fifth_p50_ms\": %.3f, "
                         "\"last_fifth_p50_ms\": %.3f, \"max_ms\": %.3f, \"last_map_lag_ms\": %.3f}",
                         sJsonTp.empty() ? "" : ", ", r.dRate, r.cFrames, r.cWrites, r.cExpected, r.ullSuperseded,
                         r.fSupersededUnknown, r.fFollowed, r.dFirstP50, r.dLastP50, r.dMax, r.dLastLagMs);
    }
    fnOut("  paced runs (followed: p50 latency first fifth -> last fifth; else writes/expected, maps superseded, \">=\":"
          " the debug list kept none of their lines, the least the lost writes imply):" + sRates);
    fnJson("throughput", fnFmt("{\"sustained_fps\": %.0f, \"line_max_fps_7\": %.2f, \"line_max_fps_22\": %.2f, "
                               "\"flood_fps_one_byte\": %.1f, \"flood_fps_all_bytes\": %.1f, \"flood\": "
                               "{\"one_byte\": %s, \"all_bytes\": %s}, \"paced\": [%s]}",
                               dSustained, dLineA, dLineB, aFlood[0].dFps, aFlood[1].dFps,
                               fnFloodJson(aFlood[0]).c_str(), fnFloodJson(aFlood[1]).c_str(), sJsonTp.c_str()));
}
