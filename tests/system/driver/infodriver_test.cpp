// The infodriver from outside, the way a control room loses one: its process
// killed and a new one started for the device (with and without a tally
// frame in between), its process stopped for seconds while frames arrive,
// and a hung window of another application while the driver hooks again.
// Checked through the stand-ins' slots, the panel and the debug list.
#include "rig.h"
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <iostream>

namespace {

// A map, and the tally frame the simulator encodes it into.
struct Frame {
    uint8_t abMap[16];
    std::vector<uint8_t> Bytes() const
    {
        uint8_t ab[22];
        return std::vector<uint8_t>(ab, ab + msEncodeTally(abMap, ab));
    }
    // The debug list's line for the frame.
    std::string Parse() const
    {
        std::vector<uint8_t> v = Bytes();
        return "Parse: " + harness::Hex(v.data(), v.size(), " ") + " ";
    }
};

std::string SlotOf(const uint8_t abMap[16], int iSlot)
{
    return (abMap[(iSlot - 1) / 8] >> ((iSlot - 1) % 8)) & 1 ? "1" : "0";
}

const Frame kMapA = { { 0x03, 0x11, 0, 0x41, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0 } };
const Frame kMapB = { { 0x55, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA } };
const Frame kMapC = { { 0x0F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 } };
const Frame kMapD = { { 0x80, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 } };

class InfodrvSys : public DriverRig {
protected:
    InfodrvSys() : DriverRig(11, 221) {}

    // Up, link healthy, map A published in full.
    void UpWithMap()
    {
        ASSERT_NO_FATAL_FAILURE(UpHealthy());
        AfterPoll();
        Send(kMapA.Bytes());
        ASSERT_TRUE(info.WaitFor(WriteCount(1 + 128)));
        // The stand-in prints a write before its reply is back with the
        // driver: only a poll says the driver's last exchange has ended.
        AfterPoll();
        ASSERT_EQ("ok", info.Cmd("ping"));
    }

    // Waits until the driver has published a frame that the debug list shows
    // (the line comes before the writes): the next poll follows the writes.
    void Published(const Frame &f)
    {
        ASSERT_TRUE(WaitDebug(f.Parse())) << "frame never decoded: " << f.Parse();
        AfterPoll();
        ASSERT_EQ("ok", info.Cmd("ping"));
    }

    // Differences between the stand-in's slots 1..128 and a map, "" if none.
    std::string MapMismatch(const Frame &f) { return MapMismatch(f.abMap); }
    std::string MapMismatch(const uint8_t abMap[16])
    {
        std::vector<std::string> held;
        if (!Slots(&held))
            return "no dump";
        std::string sDiff;
        for (int s = 1; s <= 128; s++) {
            std::string sHeld = held[s].empty() ? "<empty>" : held[s];
            if (sHeld != SlotOf(abMap, s))
                sDiff += " slot " + std::to_string(s) + " holds " + sHeld + ", expected " + SlotOf(abMap, s) + ";";
        }
        return sDiff;
    }

    // The last n lines of the debug list, one a line, for a failure message.
    std::string DebugTail(size_t n)
    {
        std::vector<std::string> v = harness::DebugLines(Title());
        std::string s;
        for (size_t i = v.size() > n ? v.size() - n : 0; i < v.size(); i++)
            s += "\n  " + v[i];
        return s;
    }

    // Waits until the stand-in holds the map: ms from llSentNs, or -1.
    long long LastMapLagMs(const uint8_t abMap[16], int64_t llSentNs, int iTimeoutMs)
    {
        if (!harness::Eventually([&] { return MapMismatch(abMap).empty(); }, iTimeoutMs))
            return -1;
        return (msNowNs() - llSentNs) / 1000000;
    }

    // Network TX as the panel shows it once a refresh has surely run after
    // everything before: the second poll from now follows a whole tick.
    std::string NetTX()
    {
        AfterPoll();
        AfterPoll();
        return harness::ControlText(Title(), IDC_NETTX);
    }
    int NetTXState()
    {
        int iState = -1;
        harness::ControlText(Title(), IDC_NETTX, &iState);
        return iState;
    }
    size_t DebugIndex(const std::string &text)
    {
        std::vector<std::string> v = harness::DebugLines(Title());
        return (size_t)(std::find(v.begin(), v.end(), text) - v.begin());
    }

    // Kill, optionally a frame while lost, a new stand-in: the whole state
    // must be back within 2 s of the new one being up.
    void KillAndReplace(const Frame *pWhileLost)
    {
        UpWithMap();
        ASSERT_EQ("128", NetTX());
        size_t cWritesOld = info.Writes(1, 128).size();

        info.Kill();
        ASSERT_TRUE(WaitDebug("Infodriver lost")) << "the poll tick did not notice the infodriver go";
        EXPECT_TRUE(harness::Eventually([&] { return NetTXState() == 9; })) << "Network TX must turn red";
        const Frame &now = pWhileLost ? *pWhileLost : kMapA;
        if (pWhileLost) {
            AfterPoll();
            Send(pWhileLost->Bytes());
            ASSERT_TRUE(WaitDebug(pWhileLost->Parse())) << "a frame while lost must still be decoded";
        }
        EXPECT_EQ("128", NetTX()) << "writes to the infodriver that had gone were counted";

        std::string why;
        ASSERT_TRUE(info.Restart(&why)) << why;
        long long tUp = hpNowMs();
        ASSERT_TRUE(info.WaitFor(Wrote(4094, "0"), 20000)) << "slot 4094 never republished";
        long long msBack = hpNowMs() - tUp;
        std::cout << "[ figure   ] whole state back " << msBack << " ms after the new infodriver was up\n";
        EXPECT_LT(msBack, 2000) << "the state must be back within 2 s";
        EXPECT_TRUE(Has("hooked")(info.Events()));
        std::vector<harness::InfoEvent> w = info.Writes(1, 128);
        ASSERT_EQ(128u, w.size()) << "slots 1..128 are republished once, unconditionally";
        for (int i = 0; i < 128; i++)
            EXPECT_EQ(i + 1, w[i].iSlot) << "write #" << i;
        EXPECT_EQ("", MapMismatch(now));
        EXPECT_EQ("0", info.Get(4094));

        ASSERT_TRUE(WaitDebug("Infodriver back"));
        EXPECT_EQ(1u, DebugCount("Infodriver lost"));
        EXPECT_LT(DebugIndex("Infodriver lost"), DebugIndex("Infodriver back"));
        EXPECT_EQ(2, NetTXState());
        EXPECT_GE(atoi(harness::ControlText(Title(), IDC_ERRORS).c_str()), 1) << "the loss is an error";
        EXPECT_EQ(std::to_string(cWritesOld + 128), NetTX())
            << "Network TX must count exactly the writes the two infodrivers received";

        // Hooked again: a new map goes through the ordinary comparison.
        info.Events().clear();
        AfterPoll();
        Send(kMapD.Bytes());
        Published(kMapD);
        EXPECT_EQ("", MapMismatch(kMapD));

        // Its revertives are mirrored as before.
        ASSERT_EQ("ok", info.Cmd("set 4095 cam 2"));
        EXPECT_EQ("cam 2", info.Get(4096));

        // The new infodriver's close request ends the driver cleanly.
        ASSERT_EQ("ok", info.Cmd("close"));
        ASSERT_NO_FATAL_FAILURE(ExpectExit0(driver));
        EXPECT_TRUE(info.WaitFor(Has("unhooked")));
    }
};

TEST_F(InfodrvSys, KilledInfodriverReplacedGetsTheWholeState)
{
    KillAndReplace(nullptr);
}

TEST_F(InfodrvSys, KilledInfodriverReplacedAfterAFrameGetsTheNewMap)
{
    KillAndReplace(&kMapB);
}

// Exchanges are synchronous: a stopped infodriver holds the driver, and when
// it runs again every frame that came meanwhile reaches it.
TEST_F(InfodrvSys, HungInfodriverHoldsTheDriverAndLosesNothing)
{
    UpWithMap();
    ASSERT_TRUE(info.Pause());
    long long tStop = hpNowMs();
    Send(kMapB.Bytes());          // the driver waits in its first exchange
    Send(kMapC.Bytes());          // ... and this one waits, in the serial buffer or superseding B
    ASSERT_TRUE(WaitDebug(kMapB.Parse()));
    uint64_t ullPolls = msCount(sim, MSK_POLL);
    while (hpNowMs() - tStop < 6000)
        usleep(50000);          // the hang lasts 6 s
    // One poll may have been due before the first exchange began.
    EXPECT_LE(msCount(sim, MSK_POLL), ullPolls + 1) << "the driver went on without the hung infodriver";
    ullPolls = msCount(sim, MSK_POLL);
    ASSERT_TRUE(info.Resume());

    Published(kMapC);
    EXPECT_EQ("", MapMismatch(kMapC));
    EXPECT_EQ(1u, DebugCount(kMapB.Parse()));
    EXPECT_EQ(0u, DebugCount("Infodriver lost")) << "a hang is no loss";
    EXPECT_EQ(1, msWaitKind(sim, MSK_POLL, ullPolls + 2, 20000)) << "the driver must poll again";
    EXPECT_TRUE(WaitState("OK", 2));
    std::string sNetTX = NetTX();
    EXPECT_EQ(std::to_string(info.Writes(1, 128).size()), sNetTX);

    Send(kMapD.Bytes());
    Published(kMapD);
    EXPECT_EQ("", MapMismatch(kMapD));
}

// A control system under load answers each exchange 5 ms late, and the whole
// map changes twice a second: maps that come faster than it takes them are
// superseded, the debug list says so, and the infodriver ends with the last.
TEST_F(InfodrvSys, SlowInfodriverUnderABurstEndsWithTheLastMap)
{
    UpWithMap();
    ASSERT_EQ("ok", info.Cmd("delay 5"));
    uint8_t abMap[16];
    for (int i = 0; i < 10; i++) {
        memset(abMap, (i & 1) ? 0xAA : 0x55, sizeof abMap);
        ASSERT_EQ(0, msSendMap(sim, abMap, nullptr));
        usleep(500000);                 // the mixer's pace, not a wait for the driver
    }
    abMap[3] = 0x0F;
    int64_t llSent = msNowNs();
    ASSERT_EQ(0, msSendMap(sim, abMap, nullptr));
    long long llLagMs = LastMapLagMs(abMap, llSent, 60000);
    std::cout << "[ figure   ] slow infodriver, burst: last map whole " << llLagMs << " ms after it was sent\n";
    ASSERT_NE(-1, llLagMs) << MapMismatch(abMap);
    std::vector<std::string> v = Debug();
    EXPECT_NE(v.end(), std::find_if(v.begin(), v.end(), [](const std::string &l) {
        return l.find(" superseded (") != std::string::npos;
    })) << "the debug list must show that maps were superseded";
}

// A flood at the line's full rate, 1,000 frames of one or two map bytes in
// about 2 s: the poll keeps its period, and the last map lands -- also with
// the debug view shown, where every line the driver logs is drawn.
TEST_F(InfodrvSys, FloodOfFramesKeepsThePollAndEndsWithTheLastMap)
{
    UpWithMap();
    for (const char *pszView : { "hidden", "shown" }) {
        SCOPED_TRACE(std::string("debug view ") + pszView);
        if (strcmp(pszView, "shown") == 0) {
            ASSERT_TRUE(harness::Post(Title(), WM_COMMAND_MSG, IDM_DEBUG));
            ASSERT_TRUE(harness::Eventually([&] { return Rect()[3] > 300; }))
                << "the window never grew to show the debug list: height " << Rect()[3];
        }
        std::vector<uint8_t> v;
        uint8_t abMap[16], ab[22];
        for (int i = 0; i < 1000; i++) {
            memset(abMap, 0, sizeof abMap);
            abMap[i % 16] = (uint8_t)(1 + (i + *pszView) % 255);
            if (i & 1)
                abMap[(i + 7) % 16] = 0x80;
            size_t n = msEncodeTally(abMap, ab);
            v.insert(v.end(), ab, ab + n);
        }
        int64_t llStart = msNowNs();
        ASSERT_EQ(0, msWriteFramesPaced(sim, v.data(), v.size(), 38400));
        int64_t llEnd = msNowNs();
        long long llLagMs = LastMapLagMs(abMap, llEnd, 30000);
        std::cout << "[ figure   ] flood of " << v.size() << " bytes in " << (llEnd - llStart) / 1000000
                  << " ms, debug view " << pszView << ": last map whole " << llLagMs << " ms after it was sent\n";
        ASSERT_NE(-1, llLagMs) << MapMismatch(abMap) << "\nthe debug list ends with:" << DebugTail(12);
        AfterPoll();
        // Polls from the last one before the flood to the first one after it.
        int64_t llPrev = 0, llMaxGap = 0;
        for (const MSMSG &m : Messages()) {
            if (m.iKind != MSK_POLL)
                continue;
            if (m.llNs >= llStart && llPrev != 0)
                llMaxGap = std::max(llMaxGap, m.llNs - llPrev);
            llPrev = m.llNs;
            if (m.llNs > llEnd)
                break;
        }
        std::cout << "[ figure   ] longest gap between polls during the flood: " << llMaxGap / 1000000 << " ms\n";
        EXPECT_LE(llMaxGap / 1000000, 1500) << "the poll must keep its period under a flood";
    }
}

// An infodriver that leaves one exchange in ten without a reply is no lost
// one: the driver keeps its hook, writes again what was not answered at the
// next tick, and the last map is whole in the infodriver within 5 s.
TEST_F(InfodrvSys, FlakyInfodriverGetsTheLastMapAndKeepsItsHook)
{
    UpWithMap();
    ASSERT_EQ("ok", info.Cmd("withhold 10 20261209"));
    uint8_t abMap[16];
    int64_t llSent = 0;
    for (int i = 0; i < 4; i++) {
        if (i != 0)
            usleep(1500000);            // the mixer's pace
        memset(abMap, (i & 1) ? 0xAA : 0x55, sizeof abMap);
        abMap[i] = 0x0F;
        llSent = msNowNs();
        ASSERT_EQ(0, msSendMap(sim, abMap, nullptr));
    }
    long long llLagMs = LastMapLagMs(abMap, llSent, 20000);
    std::cout << "[ figure   ] one reply in 10 withheld: last map whole " << llLagMs << " ms after it was sent\n";
    ASSERT_NE(-1, llLagMs) << MapMismatch(abMap);
    EXPECT_LE(llLagMs, 5000) << "the last map must be whole within 5 s";
    ASSERT_EQ("ok", info.Cmd("ping"));
    EXPECT_GT(info.Total("withheld"), 0u) << "nothing was withheld: the test proves nothing";
    EXPECT_EQ(1u, info.Total("hooked")) << "a missed reply is no lost infodriver";
    EXPECT_EQ(0u, DebugCount("Infodriver lost"));
}

// While lost the driver hooks on every tick, and the hook goes to every
// top-level window: one of another application that hangs must not freeze it.
TEST_F(InfodrvSys, HungWindowOfAnotherApplicationDoesNotFreezeTheRehook)
{
    UpWithMap();
    harness::Infodrv other;
    std::string why;
    ASSERT_TRUE(other.Start(m_iDevice + 1, &why)) << why;
    ASSERT_TRUE(other.Pause());

    info.Kill();
    ASSERT_TRUE(WaitDebug("Infodriver lost"));
    uint64_t ullPolls = msCount(sim, MSK_POLL);
    EXPECT_EQ(1, msWaitKind(sim, MSK_POLL, ullPolls + 3, 20000)) << "the poll stopped";
    Send(kMapB.Bytes());
    EXPECT_TRUE(WaitDebug(kMapB.Parse())) << "frames are no longer decoded";

    ASSERT_TRUE(info.Restart(&why)) << why;
    EXPECT_TRUE(info.WaitFor(Wrote(4094, "0"), 20000));
    EXPECT_TRUE(WaitDebug("Infodriver back"));
    ASSERT_EQ("ok", info.Cmd("ping"));
    EXPECT_EQ("", MapMismatch(kMapB));
    EXPECT_TRUE(other.Resume());
    other.Stop();
}

}  // namespace
