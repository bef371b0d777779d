// startup: the driver's launches, timed from the Wine loader's spawn.
#include "sections.h"

static STATS stHook, stByte, stPoll;   // ms from the launch
static int cLaunches;

int fnStartupRun(RIG *prig, int cRuns)
{
    std::vector<double> vHook, vByte, vPoll;
    for (int r = 0; r < cRuns; r++) {
        long long llLaunch;
        fnDriverStop(prig);
        if (fnDriverStart(prig, &llLaunch) != 0)
            return -1;
        if (msWaitKind(prig->psim, MSK_POLL, 1, WAIT_LONG_MS) != 1) {
            fnFail("no poll within %d s of the launch", WAIT_LONG_MS / 1000);
            return -1;
        }
        uint8_t b;
        int64_t llByte = 0;
        std::vector<MSMSG> vm(64);
        vm.resize(msGetMessages(prig->psim, 0, vm.data(), vm.size()));
        msGetBytes(prig->psim, 0, &b, &llByte, 1);
        for (const MSMSG &m : vm)
            if (m.iKind == MSK_POLL) {
                vPoll.push_back((double)(m.llNs - llLaunch) / 1e6);
                break;
            }
        vByte.push_back((double)(llByte - llLaunch) / 1e6);
        for (const harness::InfoEvent &e : prig->info.TakeEvents())
            if (e.kind == "hooked") {
                vHook.push_back((double)(e.tReadNs - llLaunch) / 1e6);
                break;
            }
    }
    stHook = fnStats(vHook);
    stByte = fnStats(vByte);
    stPoll = fnStats(vPoll);
    cLaunches = cRuns;
    // The link must be up (the first poll answered) before anything is timed.
    if (msWaitKind(prig->psim, MSK_POLL, 2, WAIT_LONG_MS) != 1) {
        fnFail("no second poll");
        return -1;
    }
    return 0;
}

void fnStartupReport(void)
{
    fnOut(fnFmt("START-UP (%d run%s; launch = spawn of the Wine loader)      p50        max", cLaunches,
                cLaunches == 1 ? "" : "s"));
    fnOut(fnFmt("  launch -> infodriver hooked            %8.1fms %8.1fms", stHook.p50, stHook.max));
    fnOut(fnFmt("  launch -> first byte on the wire       %8.1fms %8.1fms", stByte.p50, stByte.max));
    fnOut(fnFmt("  launch -> first poll                   %8.1fms %8.1fms", stPoll.p50, stPoll.max));
    fnJson("startup_ms", "{\"hooked\": " + fnJsonStats(stHook) + ", \"first_byte\": " + fnJsonStats(stByte) +
                             ", \"first_poll\": " + fnJsonStats(stPoll) + "}");
}
