// idle: the driver at rest beside a bare loop of its 1-byte reads.
#include "sections.h"
#include <stdio.h>
#include <unistd.h>
#include "clock.h"
#include "proc.h"

struct IDLE {
    double dDrvPct = -1, dSrvPct = -1, dSrvBasePct = -1, dInfoPct = -1;
    double dMainPct = -1, dBusiestPct = -1;     // the main thread; the busiest other thread
    int cThreads = 0;
    long lRssKb = -1;
    unsigned long long ullPolls = 0, ullAcks = 0;
    pid_t pidDrv = 0;
    std::string sDrvComm;
    // The floor: a bare read loop of the driver's kind on the same pty.
    double dLoopPct = -1, dLoopSrvPct = -1;
    unsigned long ulLoops = 0;
    double dLoopS = 0;
};

static IDLE idle;

void fnIdleRun(RIG *prig)
{
    fnNote("idle %d s with the driver", rsRun.iIdleS);
    pid_t pidSrv = fnWineserverPid();
    idle.pidDrv = prig->drv.Pid();
    idle.sDrvComm = fnProcComm(idle.pidDrv);
    MSSTATS ms0, ms1;
    msGetStats(prig->psim, &ms0);
    std::map<int, unsigned long long> mT0 = fnThreadTicks(idle.pidDrv);
    long long llT0 = fnNs(CLOCK_MONOTONIC);
    fnCpuWindow(idle.pidDrv, pidSrv, prig->info.Pid(), rsRun.iIdleS, &idle.dDrvPct, &idle.dSrvPct, &idle.dInfoPct);
    std::map<int, unsigned long long> mT1 = fnThreadTicks(idle.pidDrv);
    double dWinS = (double)(fnNs(CLOCK_MONOTONIC) - llT0) / 1e9;
    idle.cThreads = (int)mT1.size();
    for (const auto &t1 : mT1)
        if (mT0.count(t1.first)) {
            double d = fnPct(t1.second - mT0[t1.first], dWinS);
            if (t1.first == (int)idle.pidDrv)
                idle.dMainPct = d;
            else if (d > idle.dBusiestPct)
                idle.dBusiestPct = d;
        }
    msGetStats(prig->psim, &ms1);
    idle.ullPolls = ms1.aullKind[MSK_POLL] - ms0.aullKind[MSK_POLL];
    idle.ullAcks = ms1.ullAcks - ms0.ullAcks;
    idle.lRssKb = fnStatusKb(idle.pidDrv, "VmRSS");
    fnDriverStop(prig);
    fnNote("idle %d s without the driver", rsRun.iIdleS);
    fnCpuWindow(pidSrv, 0, 0, rsRun.iIdleS, &idle.dSrvBasePct, nullptr, nullptr);
    fnNote("idle %d s: the bare read loop", rsRun.iIdleS);
    // benchprobe readloop on the driver's port (the simulator silent at the
    // other end) over a window as long as the driver's; its CPU and the
    // wineserver's.
    harness::LineChild probe;
    if (!fnProbeStart(&probe, { "readloop", std::to_string(BENCH_COM_DRIVER) }, "ready"))
        return;
    // The window starts past the start-up of the process.
    sleep(1);
    llT0 = fnNs(CLOCK_MONOTONIC);
    fnCpuWindow(probe.Pid(), pidSrv, 0, rsRun.iIdleS, &idle.dLoopPct, &idle.dLoopSrvPct, nullptr);
    idle.dLoopS = (double)(fnNs(CLOCK_MONOTONIC) - llT0) / 1e9;
    std::string sLast;
    fnProbeQuit(&probe, "loops ", &sLast);
    sscanf(sLast.c_str(), "loops %lu", &idle.ulLoops);
}

void fnIdleReport(void)
{
    fnOut(fnFmt("IDLE (%d s, acknowledging mixer, no tally changes; %llu polls, %llu acks)", rsRun.iIdleS,
                idle.ullPolls, idle.ullAcks));
    fnOut(fnFmt("  mixtally.exe (pid %d, %s): %.2f%% of one core (main thread %.2f%%, busiest of the other %d "
                "threads %.2f%%), VmRSS %ld kB",
                (int)idle.pidDrv, idle.sDrvComm.c_str(), idle.dDrvPct, idle.dMainPct, idle.cThreads - 1,
                idle.dBusiestPct, idle.lRssKb));
    fnOut(fnFmt("  wineserver: %.2f%% with the driver, %.2f%% without it -> %.2f%% attributable; stand-in "
                "infodriver %.2f%%", idle.dSrvPct, idle.dSrvBasePct, idle.dSrvPct - idle.dSrvBasePct, idle.dInfoPct));
    double dIdleDrv = idle.dDrvPct + idle.dSrvPct - idle.dSrvBasePct;
    double dIdleLoop = idle.dLoopPct + idle.dLoopSrvPct - idle.dSrvBasePct;
    double dRequests = idle.dLoopS > 0 ? idle.ulLoops / idle.dLoopS : 0.0;
    double dRatio = dIdleLoop > 0 ? dIdleDrv / dIdleLoop : 0.0;
    fnOut(fnFmt("  floor, a bare read loop on the same pty (1-byte requests, 1 ms total time-out; %.0f requests/s): "
                "%.2f%% + wineserver %.2f%% = %.2f%%",
                dRequests, idle.dLoopPct, idle.dLoopSrvPct - idle.dSrvBasePct, dIdleLoop));
    fnOut(fnFmt("  idle cost, process + its wineserver share: %.2f%% = %.2fx the bare read loop", dIdleDrv, dRatio));
    fnJson("idle", fnFmt("{\"seconds\": %d, \"driver_cpu_pct\": %.3f, \"driver_rss_kb\": %ld, "
                         "\"wineserver_cpu_pct\": %.3f, \"wineserver_cpu_pct_without_driver\": %.3f, "
                         "\"standin_cpu_pct\": %.3f, \"polls\": %llu, \"main_thread_cpu_pct\": %.3f, "
                         "\"busiest_other_thread_cpu_pct\": %.3f, \"threads\": %d, "
                         "\"readloop_cpu_pct\": %.3f, \"readloop_wineserver_cpu_pct\": %.3f, "
                         "\"readloop_requests_per_s\": %.1f, \"driver_total_pct\": %.3f, "
                         "\"readloop_total_pct\": %.3f, \"ratio_to_readloop\": %.3f}",
                         rsRun.iIdleS, idle.dDrvPct, idle.lRssKb, idle.dSrvPct, idle.dSrvBasePct, idle.dInfoPct,
                         idle.ullPolls, idle.dMainPct, idle.dBusiestPct, idle.cThreads, idle.dLoopPct,
                         idle.dLoopSrvPct, dRequests, dIdleDrv, dIdleLoop, dRatio));
}
