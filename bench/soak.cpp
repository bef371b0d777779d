// soak: about 25 changing frames a second, a link loss every minute, a
// maintenance command every 20 s; resources at launch, after a warm-up, every
// minute and at the end, and the growth per hour from warm-up to end.
#include "sections.h"
#include <string.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <mutex>
#include <thread>
#include "clock.h"
#include "proc.h"

#define SOAK_COM        18
#define SOAK_DEV        304
#define SOAK_FPS        25
#define SOAK_LOSS_S     60
#define SOAK_MAINT_S    20
#define WM_COMMAND_MSG  0x0111

// The figures counted, in the order of the table and of the JSON.
enum {
    RES_PRIVATE, RES_RSS, RES_FILE, RES_SHMEM, RES_SURFACES_KB, RES_SURFACES, RES_HANDLES, RES_THREADS, RES_GDI,
    RES_USER, RES_WINDOWS, RES_DEBUG_LINES, RES_COUNT
};
static const struct {
    const char *pszName, *pszKey;
    long long llBound;              // growth allowed from warm-up to end with --check; -1: none
    int fSeries;                    // also in the JSON's series of minutes
} aRes[RES_COUNT] = {
    { "private bytes (kB)", "private_kb", 16384, 1 },
    { "VmRSS (kB)", "rss_kb", -1, 1 },
    { "  of it mapped files (kB)", "rss_file_kb", -1, 1 },
    { "  of it shared memory (kB)", "rss_shmem_kb", -1, 1 },
    { "window surfaces mapped (kB)", "surfaces_kb", -1, 1 },
    { "window surfaces (count)", "surfaces", -1, 0 },
    { "handles", "handles", 50, 1 },
    { "threads", "threads", 2, 0 },
    { "GDI objects", "gdi", 50, 1 },
    { "USER objects", "user", 50, 0 },
    { "windows (stand in for USER)", "windows", 0, 1 },
    { "debug list lines", "debug_lines", -1, 1 },
};

struct SOAKSAMPLE {
    double dS = 0;                  // seconds since the show began
    std::array<long long, RES_COUNT> al;    // -1: not read
};

// The show: changing frames at SOAK_FPS until told to stop, held while the
// link is down and until it has healed. One map byte changes per frame, at
// times two (a cut or a mix moves a tally bit or two).
struct SOAKSHOW {
    MIXSIM *psim = nullptr;
    std::mutex mx;
    uint8_t abMap[16] = {};         // the last map sent (guarded by mx)
    unsigned long long ullFrames = 0;
    int fHold = 0, fStop = 0;       // guarded by mx
    std::thread th;
};

// What the loop of the show counted.
struct SOAKRUN {
    SOAKSAMPLE smLaunch, smWarm, smEnd;
    std::vector<SOAKSAMPLE> vSeries;
    int cLosses = 0, cRecovered = 0, cMaint = 0;
    unsigned long long ullWrites = 0;   // tally slot writes the stand-in stored
    long long llStartNs = 0;            // CLOCK_MONOTONIC when the show began
    double dShowEnd = 0;
    int fSlotsOk = 0, fStatusOk = 0;
};

// The private bytes as kB; the surfaces are the display's shared-memory
// images (/SYSV... in the maps).
static SOAKSAMPLE fnSoakSample(RIG *prig, double dS)
{
    SOAKSAMPLE r;
    pid_t pid = prig->drv.Pid();
    std::string sTitle = harness::Title(SOAK_DEV);
    long lSurfaces = -1, lSurfacesKb = -1;
    fnShmSegments(pid, &lSurfaces, &lSurfacesKb);
    std::map<std::string, std::string> m = harness::Resources(sTitle);
    auto fnGet = [&m](const char *pszKey) { return m.count(pszKey) ? atoll(m[pszKey].c_str()) : -1LL; };
    long long llPrivate = fnGet("private");
    r.dS = dS;
    r.al = { { llPrivate < 0 ? -1 : llPrivate / 1024, fnStatusKb(pid, "VmRSS"),
               fnStatusKb(pid, "RssFile"), fnStatusKb(pid, "RssShmem"), lSurfacesKb, lSurfaces, fnGet("handles"),
               fnGet("threads"), fnGet("gdi"), fnGet("user"), fnGet("windows"), -1 } };
    std::vector<std::string> v;
    if (harness::RunTool("winpeek.exe", { "list", sTitle, "1001" }, &v) == 0)
        for (const std::string &l : v)
            sscanf(l.c_str(), "count %lld", &r.al[RES_DEBUG_LINES]);
    return r;
}

static void fnSoakShow(SOAKSHOW *pshow)
{
    uint32_t u = 12345;
    long long llNext = fnNs(CLOCK_MONOTONIC);
    for (;;) {
        llNext += 1000000000LL / SOAK_FPS;
        fnSleepUntil(llNext);
        std::lock_guard<std::mutex> lk(pshow->mx);
        if (pshow->fStop)
            return;
        if (pshow->fHold)
            continue;
        fnChangeBytes(pshow->abMap, &u);
        if (msSendMap(pshow->psim, pshow->abMap, nullptr) == 0)
            pshow->ullFrames++;
    }
}

// Sets fHold or fStop of the show.
static void fnSoakSet(SOAKSHOW *pshow, int *pf, int f)
{
    std::lock_guard<std::mutex> lk(pshow->mx);
    *pf = f;
}

// Polls slot 4094 until it reads pszText; false after iTimeoutMs. Each look
// is a command to the stand-in, run between the driver's exchanges: seldom.
static bool fnSoakStatusIs(RIG *prig, const char *pszText, int iTimeoutMs)
{
    return harness::Eventually([&] { return prig->info.Cmd("get 4094") == std::string("ok ") + pszText; }, iTimeoutMs, 100);
}

// The stand-in's events are counted, not kept.
static void fnSoakCountWrites(RIG *prig, SOAKRUN *prun)
{
    for (const harness::InfoEvent &e : prig->info.TakeEvents())
        prun->ullWrites += e.kind == "W" && e.iSlot >= 1 && e.iSlot <= 128;
}

// The mixer falls silent (no frames, no acknowledges) until the driver shows
// the link failed, then answers again, and frames follow once it is healed.
static void fnSoakLinkLoss(RIG *prig, SOAKSHOW *pshow, SOAKRUN *prun, double dT)
{
    prun->cLosses++;
    fnSoakSet(pshow, &pshow->fHold, 1);
    msSetAck(prig->psim, MSACK_NONE, 0);
    bool fFailed = fnSoakStatusIs(prig, "1", 20000);
    msSetAck(prig->psim, MSACK_NORMAL, 0);
    bool fHealed = fFailed && fnSoakStatusIs(prig, "0", 30000);
    fnSoakSet(pshow, &pshow->fHold, 0);
    if (fHealed)
        prun->cRecovered++;
    else
        fnFail("soak: link loss %d at %.0f s: %s", prun->cLosses, dT, fFailed ? "no recovery" : "never shown");
}

// The show's minutes. The warm-up runs every maintenance command once,
// 1.5 s apart, so that what they allocate the first time (the debug view's
// first painting, say) is counted before the growth is measured; then one
// every SOAK_MAINT_S.
static void fnSoakLoop(RIG *prig, SOAKSHOW *pshow, int iMinutes, SOAKRUN *prun)
{
    static const unsigned auMaint[] = { 1, 2, 3, 4, 5, 97, 97 };
    const int cMaintCycle = (int)(sizeof auMaint / sizeof auMaint[0]);
    std::string sTitle = harness::Title(SOAK_DEV);
    double dShowS = iMinutes * 60.0, dWarmS = iMinutes >= 5 ? 60.0 : 15.0;
    int iMaint = 0;
    double dNextLoss = iMinutes == 1 ? 30.0 : SOAK_LOSS_S, dNextMaint = 1.5, dNextSample = 60.0;
    bool fWarm = false;
    prun->llStartNs = fnNs(CLOCK_MONOTONIC);
    auto fnElapsed = [&] { return (double)(fnNs(CLOCK_MONOTONIC) - prun->llStartNs) / 1e9; };
    pshow->th = std::thread(fnSoakShow, pshow);
    while (fnElapsed() < dShowS) {
        usleep(100000);
        double dT = fnElapsed();
        fnSoakCountWrites(prig, prun);
        if (!fWarm && dT >= dWarmS) {
            prun->smWarm = fnSoakSample(prig, dT);
            fWarm = true;
        }
        if (iMinutes >= 5 && dT >= dNextSample) {
            dNextSample += 60.0;
            prun->vSeries.push_back(fnSoakSample(prig, dT));
        }
        if (dT >= dNextMaint) {
            dNextMaint += iMaint + 1 < cMaintCycle ? 1.5 : SOAK_MAINT_S;
            if (iMaint + 1 == cMaintCycle)
                dNextMaint = std::max(dNextMaint, dWarmS + SOAK_MAINT_S);
            if (harness::Post(sTitle, WM_COMMAND_MSG, auMaint[iMaint++ % cMaintCycle]))
                prun->cMaint++;
        }
        if (dT >= dNextLoss && dT < dShowS - 20) {
            dNextLoss += SOAK_LOSS_S;
            fnSoakLinkLoss(prig, pshow, prun, dT);
        }
    }
    fnSoakSet(pshow, &pshow->fStop, 1);
    pshow->th.join();
    prun->dShowEnd = fnElapsed();
    if (!fWarm)
        prun->smWarm = prun->smLaunch;
}

// One more frame after everything else: the slots must hold it, and the link
// must be healthy. The end is counted as the warm-up was, with the debug view
// hidden: shown, its larger window surface (shared memory of the display) is
// counted too.
static void fnSoakEnd(RIG *prig, SOAKSHOW *pshow, SOAKRUN *prun)
{
    std::string sTitle = harness::Title(SOAK_DEV);
    uint8_t abLast[16];
    memcpy(abLast, pshow->abMap, 16);
    abLast[0] ^= 0x5A;
    msSendMap(prig->psim, abLast, nullptr);
    std::string sWant = fnMapSlots(abLast);
    prun->fSlotsOk = harness::Eventually([&] { return fnTallyNow(&prig->info) == sWant; }, 60000, 200);
    prun->fStatusOk = fnSoakStatusIs(prig, "0", 10000);
    if (harness::WindowInfo(sTitle)["menu"] == "97 checked") {
        harness::Post(sTitle, WM_COMMAND_MSG, 97);
        harness::Eventually([&] { return harness::WindowInfo(sTitle)["menu"] == "97 unchecked"; }, 20000);
    }
    if (!prun->fSlotsOk)
        fnFail("soak: slots 1..128 do not hold the last map at the end");
    if (!prun->fStatusOk)
        fnFail("soak: slot 4094 is not \"0\" at the end");
    prun->smEnd = fnSoakSample(prig, (double)(fnNs(CLOCK_MONOTONIC) - prun->llStartNs) / 1e9);
    fnSoakCountWrites(prig, prun);
}

static std::string fnSoakFigure(long long ll) { return ll < 0 ? "n/a" : std::to_string(ll); }

static std::string fnSoakGrowth(long long llA, long long llB, double dHours)
{
    if (llA < 0 || llB < 0 || dHours <= 0)
        return "n/a";
    return fnFmt("%+.1f", (double)(llB - llA) / dHours);
}

// The resource table: launch, warm-up, end and growth per hour; with
// fCheck, a growth past its bound fails the run. JSON rows in *psJson.
static void fnSoakResources(const SOAKRUN &r, int fCheck, std::string *psJson)
{
    double dHours = (r.smEnd.dS - r.smWarm.dS) / 3600.0;
    fnOut(fnFmt("%-30s %10s %12s %12s %16s", "RESOURCES (from outside)", "launch",
                fnFmt("warm-up %.0fs", r.smWarm.dS).c_str(), fnFmt("end %.0fs", r.smEnd.dS).c_str(),
                "growth per hour"));
    int cOver = 0;
    for (int k = 0; k < RES_COUNT; k++) {
        long long llLaunch = r.smLaunch.al[k], llWarm = r.smWarm.al[k], llEnd = r.smEnd.al[k];
        std::string sGrowth = fnSoakGrowth(llWarm, llEnd, dHours);
        bool fOver = fCheck && aRes[k].llBound >= 0 && llWarm >= 0 && llEnd >= 0 && llEnd - llWarm > aRes[k].llBound;
        cOver += fOver;
        fnOut(fnFmt("%-30s %10s %12s %12s %16s%s", aRes[k].pszName, fnSoakFigure(llLaunch).c_str(),
                    fnSoakFigure(llWarm).c_str(), fnSoakFigure(llEnd).c_str(), sGrowth.c_str(),
                    fOver ? fnFmt("  OVER the bound of %lld", aRes[k].llBound).c_str() : ""));
        fnJsonAdd(psJson, aRes[k].pszKey, fnFmt("{\"launch\": %lld, \"warm\": %lld, \"end\": %lld, \"growth_per_hour\": %s}",
                                                llLaunch, llWarm, llEnd,
                                                sGrowth == "n/a" ? "null" : sGrowth.c_str() + (sGrowth[0] == '+')));
    }
    if (cOver)
        fnFail("soak: %d resource(s) grew past their bound", cOver);
}

static void fnSoakReport(const SOAKRUN &r, const MSSTATS &ms, unsigned long long ullFrames, int iMinutes,
                         int fCheck, const std::string &sErrors)
{
    fnOut(fnFmt("show: %llu changing frames (%.1f/s), %d link losses (%d shown and healed), %d maintenance "
                "commands; %llu tally slot writes; %llu polls (%.0f expected), %llu acknowledges; errors on the "
                "panel: %s",
                ullFrames, r.dShowEnd > 0 ? ullFrames / r.dShowEnd : 0.0, r.cLosses, r.cRecovered, r.cMaint,
                r.ullWrites, (unsigned long long)ms.aullKind[MSK_POLL], r.smEnd.dS, (unsigned long long)ms.ullAcks,
                sErrors.c_str()));
    fnOut(fnFmt("end: slots 1..128 %s the last map, slot 4094 %s", r.fSlotsOk ? "hold" : "DO NOT hold",
                r.fStatusOk ? "\"0\"" : "NOT \"0\""));
    fnOut("");
    std::string sJsonRows, sSeries, sLine;
    fnSoakResources(r, fCheck, &sJsonRows);
    fnOut("  private bytes: the platform's figure for the process (under Wine its anonymous resident memory);");
    fnOut("  handles: the system's handle list; GDI: the process's GDI handle table, stock objects left out;");
    fnOut("  shared memory: the display's window surfaces (X11 shared-memory images), about 1 MB more while");
    fnOut("  the debug view is shown; USER objects cannot be counted from outside under Wine (GetGuiResources");
    fnOut("  is a stub there): the process's windows stand in for them. Growth per hour: warm-up -> end,");
    fnOut("  both taken with the debug view hidden.");
    for (const SOAKSAMPLE &m : r.vSeries) {
        std::string sItem = fnFmt("{\"s\": %.1f", m.dS);
        for (int k = 0; k < RES_COUNT; k++)
            if (aRes[k].fSeries)
                sItem += fnFmt(", \"%s\": %lld", aRes[k].pszKey, m.al[k]);
        sSeries += (sSeries.empty() ? "" : ", ") + sItem + "}";
        sLine += fnFmt(" %.0f:%lld/%lld/%lld/%lld/%lld", m.dS, m.al[RES_PRIVATE], m.al[RES_RSS], m.al[RES_SHMEM],
                       m.al[RES_HANDLES], m.al[RES_GDI]);
    }
    if (!r.vSeries.empty())
        fnOut("  every minute (s: private kB / VmRSS kB / shared kB / handles / GDI):" + sLine);
    fnJson("soak", fnFmt("{\"minutes\": %d, \"show_s\": %.1f, \"warmup_s\": %.1f, \"end_s\": %.1f, \"frames\": %llu, "
                         "\"link_losses\": %d, \"link_losses_healed\": %d, \"maintenance_commands\": %d, "
                         "\"tally_writes\": %llu, \"polls\": %llu, \"slots_ok\": %d, \"status_ok\": %d, "
                         "\"resources\": {",
                         iMinutes, r.dShowEnd, r.smWarm.dS, r.smEnd.dS, ullFrames, r.cLosses, r.cRecovered, r.cMaint,
                         r.ullWrites, (unsigned long long)ms.aullKind[MSK_POLL], r.fSlotsOk, r.fStatusOk) +
                       sJsonRows + "}, \"series\": [" + sSeries + "]}");
}

int fnSoak(int iMinutes, int fCheck, const char *pszIso, const char *pszStamp)
{
    std::string sMachine = fnMachine(pszIso, "soak");
    harness::Install inst;
    RIG rig;
    long long llLaunch;
    if (fnRigOpen(&rig, &inst, SOAK_COM, SOAK_DEV) != 0 || fnDriverStart(&rig, &llLaunch) != 0)
        return 1;
    if (msWaitKind(rig.psim, MSK_POLL, 2, WAIT_LONG_MS) != 1 || !fnSoakStatusIs(&rig, "0", 20000)) {
        fnFail("soak: the link did not come up");
        fnRigClose(&rig);
        return 1;
    }
    fnNote("soak: %d min, COM%d, device %d", iMinutes, SOAK_COM, SOAK_DEV);
    SOAKRUN run;
    run.smLaunch = fnSoakSample(&rig, 0);
    SOAKSHOW show;
    show.psim = rig.psim;
    fnSoakLoop(&rig, &show, iMinutes, &run);
    fnSoakEnd(&rig, &show, &run);
    std::string sErrors = harness::ControlText(harness::Title(SOAK_DEV), 111);
    MSSTATS ms;
    msGetStats(rig.psim, &ms);
    fnRigClose(&rig);
    fnOut(fnFmt("mixtally soak, %s, %d min (%.0f s of show)", pszIso, iMinutes, run.dShowEnd));
    fnOut(sMachine);
    fnSoakReport(run, ms, show.ullFrames, iMinutes, fCheck, sErrors);
    return fnFinish(rsRun.sJsonDir, "soak", pszStamp);
}
