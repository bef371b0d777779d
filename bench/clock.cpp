// clock: see clock.h.
#include "clock.h"
#include <errno.h>
#include <stdlib.h>
#include <algorithm>
#include <string>
#include <vector>
#include "rig.h"

static long long llQpcMinusRaw;    // applied to every QPC stamp (0 when QPC is RAW)

long long fnNs(clockid_t id)
{
    struct timespec ts;
    clock_gettime(id, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

void fnSleepUntil(long long llMonoNs)
{
    struct timespec ts = { (time_t)(llMonoNs / 1000000000LL), (long)(llMonoNs % 1000000000LL) };
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

long long fnMonoMinusRaw(void)
{
    long long r0 = fnNs(CLOCK_MONOTONIC_RAW), m = fnNs(CLOCK_MONOTONIC), r1 = fnNs(CLOCK_MONOTONIC_RAW);
    return m - (r0 + r1) / 2;
}

long long fnQpcNsToRaw(long long llNs)
{
    return llNs - llQpcMinusRaw;
}

CLOCKCHECK fnClockCheck(int cSamples, int fSetOffset)
{
    CLOCKCHECK cc;
    harness::LineChild probe;
    std::string sLine;
    if (!fnProbeStart(&probe, { "clock" }, "freq "))
        return cc;
    struct SAMPLE { long long llWidth, llRaw, llMono; };
    std::vector<SAMPLE> v;
    for (int i = 0; i < cSamples; i++) {
        long long r0 = fnNs(CLOCK_MONOTONIC_RAW), m0 = fnNs(CLOCK_MONOTONIC);
        if (!probe.Send("t") || probe.WaitLine("qpc_ns ", 10000, &sLine) != 1)
            break;
        long long m1 = fnNs(CLOCK_MONOTONIC), r1 = fnNs(CLOCK_MONOTONIC_RAW);
        long long llQpc = atoll(sLine.c_str() + 7);
        v.push_back({ r1 - r0, llQpc - (r0 + r1) / 2, llQpc - (m0 + m1) / 2 });
    }
    fnProbeQuit(&probe, nullptr, nullptr);
    if (v.size() < 20) {
        fnFail("clock check: only %zu readings", v.size());
        return cc;
    }
    std::sort(v.begin(), v.end(), [](const SAMPLE &a, const SAMPLE &b) { return a.llWidth < b.llWidth; });
    cc.cSamples = (int)v.size();
    cc.llQpcMinusRaw = v[0].llRaw;
    cc.llHalfWidth = v[0].llWidth / 2;
    cc.llQpcMinusMono = v[0].llMono;
    auto prLoHi = std::minmax_element(v.begin(), v.begin() + 20,
                                      [](const SAMPLE &a, const SAMPLE &b) { return a.llRaw < b.llRaw; });
    cc.llRawSpreadNs = prLoHi.second->llRaw - prLoHi.first->llRaw;
    if (fSetOffset && llabs(cc.llQpcMinusRaw) > cc.llHalfWidth + 2000)
        llQpcMinusRaw = cc.llQpcMinusRaw;
    return cc;
}

void fnClockReport(const CLOCKCHECK &ccStart, const CLOCKCHECK &ccEnd)
{
    fnOut(fnFmt("clocks: QPC - CLOCK_MONOTONIC_RAW = %+.1f us (bracket +-%.1f us, spread %.1f us over the 20 "
                "tightest of %d readings), at the end %+.1f us (+-%.1f); QPC - CLOCK_MONOTONIC = %+.3f ms, at the "
                "end %+.3f ms. QPC stamps used %s.",
                ccStart.llQpcMinusRaw / 1e3, ccStart.llHalfWidth / 1e3, ccStart.llRawSpreadNs / 1e3,
                ccStart.cSamples, ccEnd.llQpcMinusRaw / 1e3, ccEnd.llHalfWidth / 1e3, ccStart.llQpcMinusMono / 1e6,
                ccEnd.llQpcMinusMono / 1e6,
                llQpcMinusRaw ? fnFmt("with %+.1f us applied", llQpcMinusRaw / 1e3).c_str()
                              : "as CLOCK_MONOTONIC_RAW (no offset applied)"));
    fnJson("clocks", fnFmt("{\"qpc_minus_raw_ns\": %lld, \"bracket_half_ns\": %lld, \"spread_ns\": %lld, "
                           "\"qpc_minus_raw_end_ns\": %lld, \"qpc_minus_mono_ns\": %lld, "
                           "\"qpc_minus_mono_end_ns\": %lld, \"applied_ns\": %lld}",
                           ccStart.llQpcMinusRaw, ccStart.llHalfWidth, ccStart.llRawSpreadNs, ccEnd.llQpcMinusRaw,
                           ccStart.llQpcMinusMono, ccEnd.llQpcMinusMono, llQpcMinusRaw));
}
