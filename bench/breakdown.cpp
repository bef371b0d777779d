// breakdown: the driver's own link, decoder and publisher timed around
// fnRxCommData per kind of frame (DRIVER COST PER FRAME); one frame's exchanges
// made in turn bare, beside the receive thread, beside a bare read loop and
// through the decoder and publisher (WHERE AN EXCHANGE'S TIME GOES).
#include "sections.h"
#include <string.h>
#include <unistd.h>
#include "clock.h"

struct INPROC {
    STATS stBusy, stLastToEnd, stDoneToLast, stDoneToEnd, stNotifies;
    double dWrites = 0;
    int cFrames = 0;
};

static INPROC aIn[CASE_COUNT];
static NAMEDSTATS vParts;      // pieces timed alone, ms
static NAMEDSTATS vBreakdown;  // us per exchange

// One frame through benchprobe frame: its "F" report, checked against the
// writes the change must cause. false when it failed (said).
static bool fnInProcessFrame(harness::LineChild *pc, MIXSIM *psim, harness::Infodrv *pinfo, const uint8_t *pb,
                             size_t cExpect, const char *pszKey, INPROC *pin, std::vector<double> *av)
{
    std::string sLine;
    long long llDone;
    pinfo->TakeEvents();
    if (fnSendMap(psim, pb, &llDone) != 0 || pc->WaitLine("F ", 20000, &sLine) != 1) {
        fnFail("in-process %s: no decode reported", pszKey);
        return false;
    }
    unsigned long long ullFirst, ullLast, ullEnd, ullBusy;
    unsigned uNot;
    unsigned long ulWrites;
    if (sscanf(sLine.c_str(), "F %llu %llu %llu %llu %u %lu", &ullFirst, &ullLast, &ullEnd, &ullBusy, &uNot, &ulWrites) !=
            6 || ulWrites != cExpect) {
        fnFail("in-process %s: '%s', %zu writes expected", pszKey, sLine.c_str(), cExpect);
        return false;
    }
    if (pin == nullptr)
        return true;
    av[0].push_back((double)ullBusy / 1e6);
    av[1].push_back((double)(ullEnd - ullLast) / 1e6);
    av[2].push_back((double)(fnQpcNsToRaw((long long)ullLast) - llDone) / 1e6);
    av[3].push_back((double)(fnQpcNsToRaw((long long)ullEnd) - llDone) / 1e6);
    av[4].push_back(uNot);
    pin->dWrites += (double)ulWrites;
    return true;
}

// Every case in turn, its frames alternating between its two maps, each
// sent once the probe has reported the one before. false once one failed.
static bool fnInProcessCases(harness::LineChild *pc, MIXSIM *psim, harness::Infodrv *pinfo)
{
    uint8_t abPrev[16];
    memset(abPrev, 0xFF, sizeof abPrev);
    int fFirst = 1;
    for (int k = 0; k < CASE_COUNT; k++) {
        const CASE &c = aCases[k];
        int cFrames = fnFramesOf(c);
        fnNote("in-process %s x%d", c.pszKey, cFrames);
        std::vector<double> av[5];
        uint8_t abA[16], abB[16];
        fnCaseMaps(c, abA, abB);
        // Frame -1 settles the map (and pays the first, full publication).
        for (int i = -1; i < cFrames; i++) {
            const uint8_t *pb = i == -1 ? abA : (i & 1) ? abA : abB;
            if (i == -1 && !fFirst && memcmp(abPrev, abA, 16) == 0)
                continue;
            size_t cExpect = fFirst ? 128 : (size_t)fnDiffBits(abPrev, pb);
            if (!fnInProcessFrame(pc, psim, pinfo, pb, cExpect, c.pszKey, i < 0 ? nullptr : &aIn[k], av))
                return false;
            memcpy(abPrev, pb, 16);
            fFirst = 0;
            if (i >= 0)
                usleep(5000);
        }
        INPROC &in = aIn[k];
        in.cFrames = (int)av[0].size();
        int j = 0;
        for (STATS *pst : { &in.stBusy, &in.stLastToEnd, &in.stDoneToLast, &in.stDoneToEnd, &in.stNotifies })
            *pst = fnStats(av[j++]);
        in.dWrites = av[0].empty() ? 0 : in.dWrites / (double)av[0].size();
    }
    return true;
}

// The simulator on COM14 and the stand-in of device 302 (the installation
// gets its device file), the breakdown measured, then with fFrames the
// frames through benchprobe frame.
void fnInProcessRun(harness::Install *pInst, bool fFrames)
{
    RIG rig;
    harness::LineChild probe;
    std::vector<std::string> vBefore;
    if (fnRigOpen(&rig, pInst, BENCH_COM_INPROC, BENCH_DEV_INPROC) == 0) {
        std::string sDev = std::to_string(BENCH_DEV_INPROC);
        std::string sFile = harness::WindowsPath(pInst->DevFilePath(BENCH_DEV_INPROC));
        std::string sCom = std::to_string(BENCH_COM_INPROC), sRounds = std::to_string(rsRun.iBreakdownRounds);
        std::vector<std::string> vLines;
        fnNote("where an exchange's time goes x%d", rsRun.iBreakdownRounds);
        int iExit = harness::RunTool("benchprobe.exe", { "breakdown", sDev, sFile, sCom, sRounds }, &vLines, 1800000);
        vBreakdown = fnProbeStats(vLines, 1);
        if (iExit != 0 || vBreakdown.empty())
            fnFail("benchprobe breakdown failed (exit %d)", iExit);
        if (fFrames && fnProbeStart(&probe, { "frame", sDev, sFile }, "ready", &vBefore)) {
            vParts = fnProbeStats(vBefore, 1000);
            fnInProcessCases(&probe, rig.psim, &rig.info);
            fnProbeQuit(&probe, nullptr, nullptr);
        }
    }
    fnRigClose(&rig);
}

double fnInProcessP50(int iCase)
{
    return aIn[iCase].stBusy.p50;
}

void fnInProcessReport(void)
{
    fnOut(fnFmt("%-36s %8s %8s %8s %9s %9s %6s %7s", "DRIVER COST PER FRAME (in-process)", "p50", "p99", "max",
                "byte->ntf", "byte->end", "notif", "reads%"));
    std::string sJsonIn;
    for (int k = 0; k < CASE_COUNT; k++) {
        const INPROC &r = aIn[k];
        uint8_t abA[16], abB[16];
        fnCaseMaps(aCases[k], abA, abB);
        double dReadsMs = 8 * fnDiffBytes(abA, abB) * stBareGet.p50;
        double dShare = r.stBusy.p50 > 0 ? dReadsMs / r.stBusy.p50 * 100.0 : 0.0;
        fnOut(fnFmt("%-36s %6.3fms %6.3fms %6.3fms %7.3fms %7.3fms %6.1f %6.0f%%", aCases[k].pszName, r.stBusy.p50,
                    r.stBusy.p99, r.stBusy.max, r.stDoneToLast.p50, r.stDoneToEnd.p50, r.stNotifies.p50, dShare));
        fnJsonAdd(&sJsonIn, aCases[k].pszKey, fnFmt("{\"frames\": %d, \"busy_ms\": %s, \"last_notification_ms\": %s, "
                         "\"last_byte_to_last_notification_ms\": %s, \"last_byte_to_end_ms\": %s, "
                         "\"notifications\": %s, \"writes_per_frame\": %.2f, \"reads_share_pct\": %.1f}",
                         r.cFrames, fnJsonStats(r.stBusy).c_str(), fnJsonStats(r.stLastToEnd).c_str(),
                         fnJsonStats(r.stDoneToLast).c_str(), fnJsonStats(r.stDoneToEnd).c_str(),
                         fnJsonStats(r.stNotifies).c_str(), r.dWrites, dShare));
    }
    fnJson("in_process", "{" + sJsonIn + "}");
    fnOut("  p50..max: QPC around fnRxCommData (framing, decoding, publication) summed over the notifications that");
    fnOut("  carried the frame; byte->ntf / byte->end: last byte written -> start of the decoding notification / its");
    fnOut("  end (p50); reads%: the frame's GETSLOT reads at the bare p50 cost, as a share of the p50 cost");
    std::string sParts, sJsonParts;
    for (const auto &pr : vParts) {
        sParts += fnFmt(" %s %.3f/%.3fms", pr.first.c_str(), pr.second.p50, pr.second.p99);
        fnJsonAdd(&sJsonParts, pr.first, fnJsonStats(pr.second));
    }
    fnOut("  pieces timed alone in the same process (p50/p99):" + sParts);
    fnJson("pieces_ms", "{" + sJsonParts + "}");
}

void fnBreakdownReport(void)
{
    static const struct { const char *pszKey, *pszText; } aRows[] = {
        { "bare", "bare: the frame's exchanges, no port open" },
        { "bare_rxthread", "bare, the driver's receive thread running" },
        { "bare_readloop", "bare, a bare 1-byte/1 ms read loop running" },
        { "decoder_rxthread", "decoder + publisher, receive thread" },
        { "decoder", "decoder + publisher, no port open" },
        { "reads_slot1", "as many reads, all of slot 1 (bare probe)" },
        { "bare_each_read", "bare, its reads one by one" },
        { "bare_each_write", "bare, its writes one by one" },
    };
    size_t cRounds = vBreakdown.empty() ? 0 : vBreakdown[0].second.n;
    fnOut(fnFmt("%-44s %8s %8s %8s", fnFmt("WHERE AN EXCHANGE'S TIME GOES (%zu rounds)", cRounds).c_str(), "p50", "p99",
                "mean"));
    std::string sJson;
    double dBare = 0;
    for (const auto &r : aRows)
        for (const auto &pr : vBreakdown)
            if (pr.first == r.pszKey) {
                if (pr.first == "bare")
                    dBare = pr.second.p50;
                fnOut(fnFmt("%-44s %6.1fus %6.1fus %6.1fus  %s", r.pszText, pr.second.p50, pr.second.p99,
                            pr.second.mean, dBare > 0 ? fnFmt("%.2fx bare", pr.second.p50 / dBare).c_str() : ""));
                fnJsonAdd(&sJson, pr.first, fnJsonStats(pr.second));
            }
    fnOut("  one process in the driver's setting (shown window, full debug list); per round every condition makes the");
    fnOut("  exchanges of one frame of 16 changed map bytes (128 reads, 16 writes), in turn, so load falls on all alike;");
    fnOut("  us per exchange, statistics over the rounds");
    fnJson("breakdown_us_per_exchange", "{" + sJson + "}");
}

int fnBreakdownOnly(void)
{
    harness::Install inst;
    fnInProcessRun(&inst, false);
    fnBreakdownReport();
    fnPrintTable();
    return fnFailures() || vBreakdown.empty() ? 1 : 0;
}
