// mixbench: how far above the serial line's floor the tally driver sits.
//
// Runs the real mixtally.exe under Wine against the simulated mixer and the
// stand-in infodriver, plus the Windows probe benchprobe.exe, and prints one
// table -- tally latency per kind of frame, the platform's bare slot
// exchange, the driver's in-process cost per frame, throughput, staleness,
// idle cost and start-up -- with the same figures in a JSON file. Or one
// soak, or only the breakdown of an exchange's time. Figures are printed,
// never judged: the run fails only when a measurement could not be made or
// slot writes were lost or wrong.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <sstream>
#include "clock.h"
#include "proc.h"
#include "sections.h"

enum {
    SEC_STARTUP = 1, SEC_LATENCY = 2, SEC_THROUGHPUT = 4, SEC_STALENESS = 8, SEC_IDLE = 16,
    SEC_EXCHANGE = 32, SEC_INPROCESS = 64, SEC_ALL = 127,
    SEC_DRIVER = SEC_STARTUP | SEC_LATENCY | SEC_THROUGHPUT | SEC_STALENESS | SEC_IDLE
};

static const struct { const char *pszName; unsigned uSection; } aSections[] = {
    { "startup", SEC_STARTUP }, { "latency", SEC_LATENCY }, { "throughput", SEC_THROUGHPUT },
    { "staleness", SEC_STALENESS }, { "idle", SEC_IDLE }, { "exchange", SEC_EXCHANGE },
    { "inprocess", SEC_INPROCESS },
};

// "latency,staleness" -> its sections; 0 when a name is unknown.
static unsigned fnParseSections(const char *pszList)
{
    unsigned u = 0;
    std::stringstream ss(pszList);
    for (std::string sName; std::getline(ss, sName, ',');) {
        unsigned uOne = 0;
        for (const auto &sec : aSections)
            if (sName == sec.pszName)
                uOne = sec.uSection;
        if (uOne == 0)
            return 0;
        u |= uOne;
    }
    return u;
}

// The sections in the order that keeps each undisturbed: the driver's
// first (its start-up opens the rig; idle closes the driver), then the
// bare exchanges with no driver running, then the in-process probes. Whether
// the driver started: if not, its sections measured nothing.
static bool fnMeasure(unsigned uSections, harness::Install *pInst)
{
    RIG rig;
    bool fDriver = false;
    if ((uSections & SEC_DRIVER) && fnRigOpen(&rig, pInst, BENCH_COM_DRIVER, BENCH_DEV_DRIVER) == 0) {
        fnNote("start-up x%d", (uSections & SEC_STARTUP) ? rsRun.iStartRuns : 1);
        fDriver = fnStartupRun(&rig, (uSections & SEC_STARTUP) ? rsRun.iStartRuns : 1) == 0;
        if (fDriver) {
            if (uSections & SEC_LATENCY)
                fnLatencyRun(&rig);
            if (uSections & SEC_THROUGHPUT)
                fnThroughputRun(&rig);
            if (uSections & SEC_STALENESS)
                fnStalenessRun(&rig);
            if (uSections & SEC_IDLE)
                fnIdleRun(&rig);
        }
    }
    fnRigClose(&rig);
    if (uSections & SEC_EXCHANGE)
        fnBareRun();
    if (uSections & SEC_INPROCESS)
        fnInProcessRun(pInst, true);
    return fDriver;
}

static void fnReport(unsigned uSections)
{
    static const struct { unsigned uSection; void (*pfn)(void); } aReports[] = {
        { SEC_LATENCY, fnLatencyReport }, { SEC_EXCHANGE, fnBareReport }, { SEC_INPROCESS, fnInProcessReport },
        { SEC_INPROCESS, fnBreakdownReport }, { SEC_THROUGHPUT, fnThroughputReport },
        { SEC_STALENESS, fnStalenessReport }, { SEC_IDLE, fnIdleReport }, { SEC_STARTUP, fnStartupReport },
    };
    for (const auto &r : aReports)
        if (uSections & r.uSection) {
            fnOut("");
            r.pfn();
        }
}

static int fnRun(unsigned uSections, const char *pszIso, const char *pszStamp)
{
    long long llRunStart = fnNs(CLOCK_MONOTONIC);
    std::string sMachine = fnMachine(pszIso, rsRun.fQuick ? "quick" : "full");
    fnNote("clock check");
    CLOCKCHECK ccStart = fnClockCheck(rsRun.fQuick ? 100 : 300, 1);
    harness::Install inst;
    // Staleness and idle have no figures to show unmeasured.
    if (!fnMeasure(uSections, &inst))
        uSections &= ~(SEC_STALENESS | SEC_IDLE);
    fnNote("clock check again");
    CLOCKCHECK ccEnd = fnClockCheck(rsRun.fQuick ? 100 : 300, 0);
    fnOut(fnFmt("mixtally benchmark, %s, %s run (%d frames per latency case), %.0f s", pszIso,
                rsRun.fQuick ? "quick" : "full", rsRun.iFrames, (double)(fnNs(CLOCK_MONOTONIC) - llRunStart) / 1e9));
    fnOut(sMachine);
    fnClockReport(ccStart, ccEnd);
    fnReport(uSections);
    return fnFinish(rsRun.sJsonDir, "bench", pszStamp);
}

// The run's settings from the command line; false when they make no sense.
static bool fnOptions(int argc, char **argv, int *piSoakMin, int *pfSoakCheck, int *pfBreakdownOnly,
                      unsigned *puSections)
{
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--quick") == 0) {
            rsRun.fQuick = 1;
            rsRun.iFrames = 50;
            rsRun.iIdleS = 5;
            rsRun.iStartRuns = 1;
            rsRun.iExchanges = 300;
            rsRun.iBreakdownRounds = 4;
        } else if (strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            rsRun.iFrames = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--idle") == 0 && i + 1 < argc) {
            rsRun.iIdleS = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            *puSections = fnParseSections(argv[++i]);
        } else if (strcmp(argv[i], "--json-dir") == 0 && i + 1 < argc) {
            rsRun.sJsonDir = argv[++i];
        } else if (strcmp(argv[i], "--soak") == 0) {
            *piSoakMin = 10;
            if (i + 1 < argc && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9')
                *piSoakMin = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--check") == 0) {
            *pfSoakCheck = 1;
        } else if (strcmp(argv[i], "--breakdown") == 0 && i + 1 < argc) {
            rsRun.iBreakdownRounds = atoi(argv[++i]);
            *pfBreakdownOnly = 1;
        } else {
            return false;
        }
    }
    if (rsRun.sJsonDir.empty())
        rsRun.sJsonDir = std::string(getenv("MIXTALLY_BUILD") ? getenv("MIXTALLY_BUILD") : ".") + "/bench";
    return rsRun.iFrames >= 10 && rsRun.iIdleS >= 1 && *piSoakMin >= 0 && *puSections != 0 &&
           (!*pfBreakdownOnly || rsRun.iBreakdownRounds >= 1);
}

int main(int argc, char **argv)
{
    int iSoakMin = 0, fSoakCheck = 0, fBreakdownOnly = 0;
    unsigned uSections = SEC_ALL;
    if (!fnOptions(argc, argv, &iSoakMin, &fSoakCheck, &fBreakdownOnly, &uSections)) {
        fprintf(stderr, "usage: mixbench [--quick] [--frames N] [--idle S] [--only SECTION,...] [--json-dir DIR]\n"
                        "       mixbench --soak [MINUTES] [--check] [--json-dir DIR]\n"
                        "       mixbench --breakdown ROUNDS\n"
                        "sections: startup latency throughput staleness idle exchange inprocess\n");
        return 2;
    }
    std::string sWhy;
    if (!harness::Ready(&sWhy)) {
        fprintf(stderr, "mixbench: rig not usable: %s\n", sWhy.c_str());
        return 1;
    }
    char acStamp[32], acIso[32];
    time_t tNow = time(nullptr);
    struct tm tmNow;
    gmtime_r(&tNow, &tmNow);
    strftime(acStamp, sizeof acStamp, "%Y%m%dT%H%M%SZ", &tmNow);
    strftime(acIso, sizeof acIso, "%Y-%m-%dT%H:%M:%SZ", &tmNow);
    if (iSoakMin > 0)
        return fnSoak(iSoakMin, fSoakCheck, acIso, acStamp);
    if (fBreakdownOnly)
        return fnBreakdownOnly();
    return fnRun(uSections, acIso, acStamp);
}
