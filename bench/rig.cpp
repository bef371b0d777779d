// rig: see rig.h.
#include "rig.h"
#include <stdio.h>
#include <string.h>
#include "clock.h"

RUNSET rsRun;

int fnStandInStart(harness::Infodrv *pinfo, int iDevice)
{
    std::string sWhy;
    if (!pinfo->Start(iDevice, &sWhy) || !pinfo->Listen()) {
        fnFail("stand-in infodriver %d: %s", iDevice, sWhy.c_str());
        return -1;
    }
    return 0;
}

int fnRigOpen(RIG *prig, harness::Install *pInst, int iCom, int iDevice)
{
    char acErr[256] = "";
    prig->iDevice = iDevice;
    prig->pInst = pInst;
    pInst->DevFile(iDevice, harness::DevFileFor(iCom));
    prig->psim = msOpen(iCom, nullptr, acErr, sizeof acErr);
    if (prig->psim == nullptr) {
        fnFail("simulator on COM%d: %s", iCom, acErr);
        return -1;
    }
    return fnStandInStart(&prig->info, iDevice);
}

void fnRigClose(RIG *prig)
{
    fnDriverStop(prig);
    prig->info.Stop();
    if (prig->psim != nullptr)
        msClose(prig->psim);
    prig->psim = nullptr;
}

int fnDriverStart(RIG *prig, long long *pllLaunchNs)
{
    std::string sWhy;
    prig->info.TakeEvents();
    prig->ullHooksBefore = prig->info.Total("hooked");
    msReset(prig->psim);
    *pllLaunchNs = fnNs(CLOCK_MONOTONIC);
    if (!prig->drv.Start(*prig->pInst, std::to_string(prig->iDevice), &sWhy)) {
        fnFail("%s", sWhy.c_str());
        return -1;
    }
    prig->fFirst = 1;
    prig->ullSuperseded = 0;
    memset(prig->abMap, 0xFF, sizeof prig->abMap);
    return 0;
}

void fnDriverStop(RIG *prig)
{
    if (!prig->drv.Running())
        return;
    int iExit;
    prig->info.Cmd("close");
    if (!prig->drv.WaitExit(20000, &iExit))
        fnFail("the driver did not end after the close message");
    prig->drv.Kill();
}

int fnSendMap(MIXSIM *psim, const uint8_t abMap[16], long long *pllDoneRaw)
{
    int64_t llDone = 0;
    if (msSendMap(psim, abMap, &llDone) != 0)
        return -1;
    *pllDoneRaw = llDone - fnMonoMinusRaw();
    return 0;
}

double fnOneFrame(RIG *prig, const uint8_t abMap[16], int *pcWrong)
{
    size_t cExpect = prig->fFirst ? 128 : (size_t)fnDiffBits(prig->abMap, abMap);
    std::string sSlots = fnMapSlots(abMap);
    long long llDone;
    prig->info.TakeEvents();
    if (fnSendMap(prig->psim, abMap, &llDone) != 0) {
        fnFail("pty write failed");
        return -1;
    }
    bool fAll = prig->info.WaitWrites(cExpect, 1, 128, 20000);
    std::vector<harness::InfoEvent> v = prig->info.TakeEvents(), vW;
    for (const harness::InfoEvent &e : v)
        if (e.kind == "W" && e.iSlot >= 1 && e.iSlot <= 128) {
            vW.push_back(e);
            *pcWrong += e.text != std::string(1, sSlots[(size_t)e.iSlot - 1]);
        }
    if (!fAll) {
        fnFail("frame lost: %zu of %zu slot writes, then nothing for 20 s", vW.size(), cExpect);
        return -1;
    }
    memcpy(prig->abMap, abMap, 16);
    prig->fFirst = 0;
    if (cExpect == 0)
        return 0;
    return (double)(fnQpcNsToRaw(vW[cExpect - 1].tUs * 1000) - llDone) / 1e6;
}

std::string fnTallyNow(harness::Infodrv *pinfo)
{
    std::vector<std::string> vLines;
    if (pinfo->Cmd("dump 1 128", &vLines) != "ok")
        return "";
    std::string s(128, ' ');
    for (const std::string &l : vLines) {
        int iSlot, n = 0;
        if (sscanf(l.c_str(), "slot %d %n", &iSlot, &n) >= 1 && iSlot >= 1 && iSlot <= 128 && n > 0 &&
            (size_t)n < l.size())
            s[(size_t)iSlot - 1] = l[(size_t)n];
    }
    return s;
}

// The driver's total of superseded maps: the last "(T in all)" of its debug
// list. The list keeps 501 lines, two a frame: when it holds no such line
// (*pfSeen false) the total is the one read before, and maps superseded more
// than about 250 frames ago since then are not in it.
static unsigned long long fnSupersededTotal(RIG *prig, bool *pfSeen)
{
    std::vector<std::string> v = harness::DebugLines(harness::Title(prig->iDevice));
    if (v.empty())
        fnFail("the driver's debug list could not be read");
    *pfSeen = false;
    for (size_t i = v.size(); i-- > 0;) {
        unsigned long ulBatch, ulTotal;
        char acWord[16];
        if (sscanf(v[i].c_str(), "%lu %15s superseded (%lu in all)", &ulBatch, acWord, &ulTotal) == 3) {
            if (ulTotal > prig->ullSuperseded)
                prig->ullSuperseded = ulTotal;
            *pfSeen = true;
            break;
        }
    }
    return prig->ullSuperseded;
}

// Replays the stand-in's writes (kept since its events were last taken)
// until its slots hold sWant whole; the write's QPC us stamp, or -1 after
// iTimeoutMs. The events are taken then (into *pv), and *pr is ready to
// replay the ones that follow.
static long long fnWaitHeld(RIG *prig, REPLAY *pr, const std::string &sWant, int iTimeoutMs,
                            std::vector<harness::InfoEvent> *pv)
{
    prig->info.WaitFor([&](const std::vector<harness::InfoEvent> &v) {
        fnReplay(pr, v, sWant);
        return pr->llHeldUs >= 0;
    }, iTimeoutMs);
    // The events taken are those replayed so far and any that came since.
    std::vector<harness::InfoEvent> v = prig->info.TakeEvents();
    fnReplay(pr, v, sWant);
    pr->iNext = 0;
    pv->swap(v);
    return pr->llHeldUs;
}

static int fnSendRun(RIG *prig, FRAMERUN *prun)
{
    size_t cFrames = prun->vbMaps.size() / 16;
    if (prun->dRate <= 0) {
        std::vector<uint8_t> vb;
        uint8_t ab[22];
        for (size_t i = 0; i < cFrames; i++) {
            size_t n = msEncodeTally(&prun->vbMaps[16 * i], ab);
            vb.insert(vb.end(), ab, ab + n);
        }
        int64_t llDone;
        prun->llStartRaw = fnNs(CLOCK_MONOTONIC_RAW);
        if (msWrite(prig->psim, vb.data(), vb.size(), &llDone) != 0)
            return -1;
        prun->llLastDoneRaw = llDone - fnMonoMinusRaw();
        return 0;
    }
    long long llT0 = fnNs(CLOCK_MONOTONIC) + 5000000;
    prun->llStartRaw = llT0 - fnMonoMinusRaw();
    for (size_t i = 0; i < cFrames; i++) {
        fnSleepUntil(llT0 + (long long)((double)i * 1e9 / prun->dRate));
        long long llDone;
        if (fnSendMap(prig->psim, &prun->vbMaps[16 * i], &llDone) != 0)
            return -1;
        prun->vDoneRaw.push_back(llDone);
    }
    prun->llLastDoneRaw = prun->vDoneRaw.back();
    return 0;
}

int fnFrameRun(RIG *prig, FRAMERUN *prun, int iHeldMs)
{
    const uint8_t *pbLast = &prun->vbMaps[prun->vbMaps.size() - 16];
    std::string sWant = fnMapSlots(pbLast);
    unsigned long long ullBefore = fnSupersededTotal(prig, &prun->fSupersededSeen);
    prun->rp = REPLAY();
    prun->rp.sState = fnTallyNow(&prig->info);
    if (prun->rp.sState == sWant) {
        fnFail("a run that ends on the map the stand-in holds already");
        return -1;
    }
    prig->info.TakeEvents();
    if (fnSendRun(prig, prun) != 0) {
        fnFail("pty write failed");
        return -1;
    }
    memcpy(prig->abMap, pbLast, 16);
    long long llHeldUs = fnWaitHeld(prig, &prun->rp, sWant, iHeldMs, &prun->vEvents);
    prun->ullSuperseded = fnSupersededTotal(prig, &prun->fSupersededSeen) - ullBefore;
    if (llHeldUs < 0) {
        fnFail("the stand-in did not hold the last map of a run %d s after its last frame", iHeldMs / 1000);
        return -1;
    }
    prun->llHeldRaw = fnQpcNsToRaw(llHeldUs * 1000);
    if (fnTallyNow(&prig->info) != sWant) {
        fnFail("slots 1..128 of the stand-in differ from the last map of a run");
        return -1;
    }
    return 0;
}

void fnSettle(RIG *prig, const uint8_t abMap[16], int *pcWrong)
{
    if (memcmp(prig->abMap, abMap, 16) != 0 || prig->fFirst)
        fnOneFrame(prig, abMap, pcWrong);
}

void fnCaseFrames(RIG *prig, const CASE &c, int cFrames, FRAMERUN *prun)
{
    uint8_t abA[16], abB[16], abC[16];
    int cWrong = 0;
    fnCaseMaps(c, abA, abB, abC);
    fnSettle(prig, abA, &cWrong);
    if (cWrong)
        fnFail("%s: %d slot writes with the wrong text", c.pszKey, cWrong);
    cFrames += cFrames & 1;
    prun->vbMaps.clear();
    for (int i = 0; i < cFrames; i++) {
        const uint8_t *pb = i == cFrames - 1 ? abC : (i & 1) ? abA : abB;
        prun->vbMaps.insert(prun->vbMaps.end(), pb, pb + 16);
    }
}

bool fnProbeStart(harness::LineChild *pc, const std::vector<std::string> &vArgs, const char *pszReady,
                  std::vector<std::string> *pvBefore)
{
    std::string sLine;
    if (pc->StartWine("benchprobe.exe", vArgs, nullptr, 0, &sLine)) {
        while (pc->ReadLine(&sLine, WAIT_LONG_MS) == 1) {
            if (sLine.rfind(pszReady, 0) == 0)
                return true;
            if (pvBefore != nullptr)
                pvBefore->push_back(sLine);
        }
    }
    fnFail("benchprobe %s did not start: %s", vArgs[0].c_str(), sLine.c_str());
    pc->Release();
    return false;
}

NAMEDSTATS fnProbeStats(const std::vector<std::string> &vLines, double dScale)
{
    NAMEDSTATS v;
    for (const std::string &l : vLines) {
        char acName[32];
        STATS s;
        if (sscanf(l.c_str(), "stat %31s %zu %lf %lf %lf %lf", acName, &s.n, &s.p50, &s.p99, &s.max, &s.mean) != 6)
            continue;
        for (double *pd : { &s.p50, &s.p99, &s.max, &s.mean })
            *pd /= dScale;
        v.push_back(std::make_pair(std::string(acName), s));
    }
    return v;
}

void fnProbeQuit(harness::LineChild *pc, const char *pszLast, std::string *psLast)
{
    if (!pc->Started())
        return;
    pc->Send("quit");
    if (pszLast != nullptr)
        pc->WaitLine(pszLast, 20000, psLast);
    pc->Quit(nullptr, 20000);
    pc->Release();
}
