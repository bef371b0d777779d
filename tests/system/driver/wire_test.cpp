// The driver against the simulated mixer: start-up order on the line, the
// poll, and tally frames turned into slot writes.
#include "rig.h"
#include <algorithm>

namespace {

class Wire : public DriverRig {
protected:
    Wire() : DriverRig(7, 201) {}

    // The slots 1..128 the infodriver holds at "1".
    std::vector<int> Lit()
    {
        std::vector<std::string> v;
        std::vector<int> lit;
        EXPECT_TRUE(Slots(&v)) << "no dump";
        for (int i = 1; i <= 128; i++)
            if (v[i] == "1")
                lit.push_back(i);
        return lit;
    }
    // Waits until the debug list shows n "Parse: " lines: the frame has
    // been decoded and every slot write it caused has been made.
    // The line is logged before the slots are written, in the handling of
    // one notification. A maintenance command posted once the line shows is
    // handled after that notification, so once the mixer has its bytes
    // (03 24 11 01) every write of the frame is done, and a ping collects
    // their events. (The next poll is no such mark: one written just before
    // the frame's notification may reach the mixer's count only after the
    // line was seen.)
    bool WaitParsed(size_t n)
    {
        bool f = harness::Eventually([&] { return DebugCount("Parse: ", true) >= n; });
        uint64_t cMark = msCount(sim, MSK_MAINT1);
        EXPECT_TRUE(harness::Post(Title(), WM_COMMAND_MSG, IDM_MIXER_CMD1));
        EXPECT_EQ(1, msWaitKind(sim, MSK_MAINT1, cMark + 1, 20000)) << "the marking command never reached the mixer";
        EXPECT_EQ("ok", info.Cmd("ping"));
        return f;
    }
};

TEST_F(Wire, StartupRestartsLineSendsStartupCommandThenPollsEverySecond)
{
    Up();
    ASSERT_EQ(1, msWaitKind(sim, MSK_POLL, 4, 30000)) << "fewer than 4 polls within 30 s";
    std::vector<MSMSG> msgs = Messages();
    std::vector<int> kinds;
    for (const MSMSG &m : msgs)
        if (m.iKind != MSK_PURGE_RX && m.iKind != MSK_PURGE_TX)
            kinds.push_back(m.iKind);
    ASSERT_GE(kinds.size(), 6u);
    EXPECT_EQ((std::vector<int>{ MSK_RESTART, MSK_STARTUP, MSK_POLL, MSK_POLL, MSK_POLL, MSK_POLL }),
              std::vector<int>(kinds.begin(), kinds.begin() + 6))
        << "expected restart byte 30, then 03 24 11 FF, then polls only (acknowledged)";

    // The restart is preceded by purges of both device queues.
    size_t iRestart = 0;
    while (msgs[iRestart].iKind != MSK_RESTART)
        iRestart++;
    ASSERT_GE(iRestart, 2u);
    EXPECT_EQ(MSK_PURGE_TX, msgs[iRestart - 1].iKind);
    EXPECT_EQ(MSK_PURGE_RX, msgs[iRestart - 2].iKind);

    // Poll spacing: single timer messages may come late on a loaded
    // machine, so only the mean period is checked, loosely enough to catch a
    // wrong period rather than jitter.
    std::vector<int64_t> polls;
    for (const MSMSG &m : msgs)
        if (m.iKind == MSK_POLL)
            polls.push_back(m.llNs);
    double meanMs = (polls.back() - polls.front()) / 1e6 / (polls.size() - 1);
    EXPECT_GE(meanMs, 700) << "mean poll period";
    EXPECT_LE(meanMs, 3000) << "mean poll period";

    EXPECT_TRUE(info.WaitFor(Wrote(4094, "0"))) << "slot 4094 should go to 0 on the first acknowledge";
    EXPECT_TRUE(WaitState("OK", 2));
}

TEST_F(Wire, FirstFrameWritesAll128SlotsThenOnlyChangedOnes)
{
    Up();
    ASSERT_TRUE(info.WaitFor(Wrote(4094, "0")));
    Send({ 0x09, 0x24, 0x91, 0xFF, 0x01, 0x0B, 0xFF, 0x41, 0x11, 0x03 });
    ASSERT_TRUE(info.WaitFor(WriteCount(1 + 128))) << "the first tally frame must write all 128 slots";
    std::vector<harness::InfoEvent> w = info.Writes(1, 128);
    ASSERT_EQ(128u, w.size());
    for (int i = 0; i < 128; i++)
        EXPECT_EQ(i + 1, w[i].iSlot) << "slots are written in ascending order";
    std::vector<int> expect = { 1, 2, 9, 13, 25, 31, 65, 66, 67, 68, 69, 70, 71, 72 };
    EXPECT_EQ(expect, Lit());
    ASSERT_TRUE(WaitParsed(1));
    std::vector<std::string> dbg = harness::DebugLines(Title());
    EXPECT_NE(dbg.end(), std::find(dbg.begin(), dbg.end(), "Parse: 09 24 91 ff 01 0b ff 41 11 03 "));
    EXPECT_NE(dbg.end(), std::find(dbg.begin(), dbg.end(),
                                   "Uncompressed data :03 11 00 41 00 00 00 00 ff 00 00 00 00 00 00 00 "));

    // Map byte 1 goes 11 -> 13 and byte 15 to 80: slots 10 and 128 change.
    info.Events().clear();
    Send({ 0x0A, 0x24, 0x91, 0xFF, 0x81, 0x0B, 0x80, 0xFF, 0x41, 0x13, 0x03 });
    ASSERT_TRUE(WaitParsed(2));
    w = info.Writes(1, 128);
    ASSERT_EQ(2u, w.size()) << "only the slots whose text differs are written";
    EXPECT_EQ(10, w[0].iSlot);
    EXPECT_EQ("1", w[0].text);
    EXPECT_EQ(128, w[1].iSlot);
    EXPECT_EQ("1", w[1].text);

    // The same map again writes nothing.
    info.Events().clear();
    Send({ 0x0A, 0x24, 0x91, 0xFF, 0x81, 0x0B, 0x80, 0xFF, 0x41, 0x13, 0x03 });
    ASSERT_TRUE(WaitParsed(3));
    EXPECT_TRUE(info.Writes(1, 128).empty());
}

TEST_F(Wire, CompressedMapsGiveTheRightSlotTexts)
{
    Up();
    struct {
        std::vector<uint8_t> frame;
        std::vector<int> lit;
    } cases[] = {
        // the first byte carried is map byte 15
        { { 0x07, 0x24, 0x91, 0xFF, 0x80, 0x01, 0xAA, 0x55 }, { 1, 3, 5, 7, 122, 124, 126, 128 } },
        // mask bits past the frame read as zero; surplus bytes are ignored
        { { 0x05, 0x24, 0x91, 0xFF, 0xFF, 0xFF }, {} },
        { { 0x09, 0x24, 0x91, 0xFF, 0x00, 0x07, 0x04, 0x02, 0x01, 0xEE }, { 1, 10, 19 } },
        // too short for a tally frame: logged only, nothing changes
        { { 0x04, 0x24, 0x91, 0xFF, 0xFF }, { 1, 10, 19 } },
    };
    size_t n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.frame));
        Send(c.frame);
        ASSERT_TRUE(WaitParsed(++n));
        EXPECT_EQ(c.lit, Lit());
    }
}

TEST_F(Wire, MaintenanceCommandsReachTheMixerAndTheDecoder)
{
    Up();
    ASSERT_TRUE(info.WaitFor(Wrote(4094, "0")));
    for (unsigned id : { IDM_MIXER_CMD1, IDM_MIXER_CMD2, IDM_MIXER_START })
        ASSERT_TRUE(harness::Post(Title(), WM_COMMAND_MSG, id));
    ASSERT_EQ(1, msWaitKind(sim, MSK_MAINT2, 1, 20000));
    ASSERT_EQ(1, msWaitKind(sim, MSK_STARTUP, 2, 20000));
    EXPECT_EQ(1u, msCount(sim, MSK_MAINT1));

    // 5 (all clear: the first decoder call writes all 128 "0"), then 4.
    ASSERT_TRUE(harness::Post(Title(), WM_COMMAND_MSG, IDM_TEST_CLEAR));
    ASSERT_TRUE(WaitParsed(1));
    info.Events().clear();
    ASSERT_TRUE(harness::Post(Title(), WM_COMMAND_MSG, IDM_TEST_FRAME));
    ASSERT_TRUE(WaitParsed(2));
    std::vector<harness::InfoEvent> w = info.Writes(1, 128);
    std::vector<int> slots;
    for (const harness::InfoEvent &e : w) {
        slots.push_back(e.iSlot);
        EXPECT_EQ("1", e.text);
    }
    EXPECT_EQ((std::vector<int>{ 1, 2, 9, 13, 25, 31, 65, 66, 67, 68, 69, 70, 71, 72 }), slots);
    // The panel's write counter shows 128 + 14 after the next poll.
    EXPECT_TRUE(harness::Eventually([&] { return harness::ControlText(Title(), IDC_NETTX) == "142"; }))
        << "control 105 shows " << harness::ControlText(Title(), IDC_NETTX);
}

}  // namespace
