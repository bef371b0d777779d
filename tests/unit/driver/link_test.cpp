// Link supervision: acknowledge / negative acknowledge, poll and the two
// time-outs, the link state on the panel and in slot 4094, and the framing
// of the received byte stream (several messages per read, split frames,
// 0x84/0x85 inside frames, overlong frames); a dead serial device reopened
// on the line restart.
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>
#include "fakes.h"
#include "driver/mixtally.h"
#include "driver/infowatch.h"
#include "driver/portwatch.h"
#include "driver/publish.h"

namespace {

using Lines = std::vector<std::string>;
const Lines kRestart = { "flush 8", "flush 4", "break 38400 2", "write 30" };

// The line's journal: before, the restart, then after.
Lines Around(Lines vBefore, const Lines &vAfter)
{
    vBefore.insert(vBefore.end(), kRestart.begin(), kRestart.end());
    vBefore.insert(vBefore.end(), vAfter.begin(), vAfter.end());
    return vBefore;
}

class Link : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }

    static void Feed(const std::vector<BYTE> &bytes)
    {
        fake::Receive(bytes);
        fnRxCommData(hWnd);
        EXPECT_TRUE(fake::rx.empty()) << "every waiting byte must be consumed";
    }
    // Destructive probe: KillTimer reports whether the timer existed.
    static bool Armed(UINT id) { return KillTimer(hWnd, id) != 0; }
    static Lines Texts(int id) { return fake::panelTexts[id]; }
    static Lines StatusWrites()
    {
        Lines v;
        for (const fake::SlotWrite &w : fake::writes)
            if (w.iSlot == SLOT_COMMS_STATUS)
                v.push_back(w.text);
        return v;
    }
    static int Count(const std::string &line)
    {
        return (int)std::count(fake::debugLines.begin(), fake::debugLines.end(), line);
    }
};

TEST_F(Link, AcknowledgeMarksHealthyOnceAndDisarmsTransmitTimer)
{
    SetTimer(hWnd, ID_TIMER_TRANSMIT, 500, NULL);
    Feed({ 0x84 });
    EXPECT_EQ(1, iCommsFail);
    EXPECT_FALSE(Armed(ID_TIMER_TRANSMIT));
    EXPECT_EQ((Lines{ "OK", "/__2F__" }), Texts(IDC_COMMS));
    EXPECT_EQ((Lines{ "0" }), StatusWrites());
    EXPECT_EQ(0u, uRxCount);

    // A second acknowledge changes nothing but still disarms.
    SetTimer(hWnd, ID_TIMER_TRANSMIT, 500, NULL);
    Feed({ 0x84 });
    EXPECT_FALSE(Armed(ID_TIMER_TRANSMIT));
    EXPECT_EQ(2u, Texts(IDC_COMMS).size());
    EXPECT_EQ(1u, fake::writes.size());
    EXPECT_TRUE(fake::debugLines.empty()) << "acknowledges are not logged";
}

TEST_F(Link, NegativeAcknowledgeRestartsLineAndKeepsState)
{
    Feed({ 0x84 });
    fake::line.clear();
    SetTimer(hWnd, ID_TIMER_TRANSMIT, 500, NULL);
    Feed({ 0x85 });
    EXPECT_EQ(1u, uErrors);
    EXPECT_EQ(1, iCommsFail) << "a NAK leaves the link state alone";
    EXPECT_FALSE(Armed(ID_TIMER_TRANSMIT));
    EXPECT_EQ(kRestart, fake::line);
    EXPECT_EQ((Lines{ "NAK RESTARTING COMMS", "Restarting comms" }), fake::debugLines);
    EXPECT_EQ(0u, uRxCount);
    EXPECT_EQ(0u, uExpectedCount);
}

TEST_F(Link, PollWritesArmsTransmitTimerAndShowsCounters)
{
    uNetTX = 4000000000u;
    uErrors = 3;
    fnTimer(hWnd, ID_TIMER_POLL);
    EXPECT_EQ((Lines{ "write 02 ff 80" }), fake::line);
    EXPECT_TRUE(Armed(ID_TIMER_TRANSMIT));
    EXPECT_EQ((Lines{ "4000000000" }), Texts(IDC_NETTX)) << "shown unsigned";
    EXPECT_EQ((Lines{ "3" }), Texts(IDC_ERRORS));
}

TEST_F(Link, TransmitTimeoutsFailOnceCountEachAndRecoverOnAcknowledge)
{
    for (int i = 0; i < 2; i++) {
        SetTimer(hWnd, ID_TIMER_TRANSMIT, 500, NULL);
        fnTimer(hWnd, ID_TIMER_TRANSMIT);
        EXPECT_FALSE(Armed(ID_TIMER_TRANSMIT)) << "a fired transmit timer is disarmed";
    }
    EXPECT_EQ(2u, uErrors);
    EXPECT_EQ(2, iCommsFail);
    EXPECT_EQ((Lines{ "Fail", "/__9F__" }), Texts(IDC_COMMS));
    EXPECT_EQ((Lines{ "1" }), StatusWrites());
    EXPECT_EQ(Around(kRestart, {}), fake::line) << "a silent mixer is no dead device: no reopen";
    EXPECT_EQ((Lines{ "Transmit Timeout", "Restarting comms", "Transmit Timeout", "Restarting comms" }),
              fake::debugLines);

    Feed({ 0x84 });
    EXPECT_EQ(1, iCommsFail);
    EXPECT_EQ(2u, uErrors) << "recovery keeps the error count";
    EXPECT_EQ((Lines{ "1", "0" }), StatusWrites());
    EXPECT_EQ((Lines{ "Fail", "/__9F__", "OK", "/__2F__" }), Texts(IDC_COMMS));
}

TEST_F(Link, StatusSlotAlreadyHoldingStateIsNotRewritten)
{
    fake::slots[SLOT_COMMS_STATUS] = "1";
    fnTimer(hWnd, ID_TIMER_TRANSMIT);
    EXPECT_EQ(2, iCommsFail);
    EXPECT_TRUE(StatusWrites().empty());
    EXPECT_EQ(1, fake::nSlotReads);
}

TEST_F(Link, SeveralMessagesInOneReadAreHandledInOrder)
{
    // ack, tally frame, ack, then a frame with 84/85 as data, all in one read.
    Feed({ 0x84, 0x06, 0x24, 0x91, 0xFF, 0x00, 0x01, 0x05, 0x84, 0x02, 0x84, 0x85 });
    EXPECT_EQ(1, iCommsFail);
    EXPECT_EQ(0u, uErrors) << "84/85 inside a frame are data";
    ASSERT_EQ(3u, fake::debugLines.size());
    EXPECT_EQ("Parse: 06 24 91 ff 00 01 05 ", fake::debugLines[0]);
    EXPECT_EQ("Parse: 02 84 85 ", fake::debugLines[2]);
    EXPECT_EQ("1", fake::slots[1]);
    EXPECT_EQ("1", fake::slots[3]);
    EXPECT_EQ("0", fake::slots[2]);
    EXPECT_EQ(0u, uRxCount);
    EXPECT_FALSE(Armed(ID_TIMER_INCOMING)) << "a completed frame disarms the frame timer";
    for (int i = 0; i < INBUF_SIZE; i++)
        ASSERT_EQ(0, InBuf[i]) << "frame buffer not cleared at " << i;
}

TEST_F(Link, FrameSplitAcrossReadsCompletesOnLastByte)
{
    Feed({ 0x05, 0x24, 0x91 });
    EXPECT_EQ(3u, uRxCount);
    EXPECT_EQ(5u, uExpectedCount);
    EXPECT_TRUE(fake::debugLines.empty());
    Feed({ 0xFF, 0x00 });
    EXPECT_TRUE(fake::debugLines.empty());
    Feed({ 0x00, 0x84 });
    ASSERT_EQ(2u, fake::debugLines.size());
    EXPECT_EQ("Parse: 05 24 91 ff 00 00 ", fake::debugLines[0]);
    EXPECT_EQ(1, iCommsFail) << "the byte after the frame is a message of its own";
}

TEST_F(Link, OneByteFrameIsDecodedWithCountOne)
{
    Feed({ 0x01, 0x24 });
    EXPECT_EQ((Lines{ "Parse: 01 24 " }), fake::debugLines);
    EXPECT_TRUE(fake::writes.empty());
}

TEST_F(Link, StalledFrameIsCutByIncomingMessageTimer)
{
    Feed({ 0x05, 0x24, 0x91 });
    ASSERT_TRUE(PumpUntil([] { return uErrors > 0; }))
        << "no incoming-message time-out within 10 s of a stalled frame";
    EXPECT_EQ((Lines{ "Incoming Message Timeout" }), fake::debugLines);
    EXPECT_EQ(1u, uErrors);
    EXPECT_EQ(2, iCommsFail);
    EXPECT_EQ((Lines{ "1" }), StatusWrites());
    EXPECT_EQ(0u, uRxCount);
    EXPECT_EQ(0, InBuf[1]);
    EXPECT_FALSE(Armed(ID_TIMER_INCOMING));
    EXPECT_TRUE(fake::line.empty()) << "a frame time-out does not restart the line";

    // The late rest arrives: its first byte starts a new message.
    Feed({ 0xFF, 0x00, 0x84 });
    EXPECT_EQ(255u, uExpectedCount);
    EXPECT_EQ(3u, uRxCount);
    EXPECT_EQ(2, iCommsFail) << "an acknowledge inside a frame is data";
}

TEST_F(Link, FrameLongerThanBufferIsDropped)
{
    std::vector<BYTE> bytes(1 + 256, 0x11);
    bytes[0] = 0x00;                         // a count of 0 never completes
    Feed(bytes);
    EXPECT_EQ(0u, uRxCount);
    EXPECT_TRUE(fake::debugLines.empty());
    EXPECT_TRUE(Armed(ID_TIMER_INCOMING)) << "the frame timer stays armed";
    Feed({ 0x84 });
    EXPECT_EQ(1, iCommsFail) << "the next byte starts a new message";

    // The same over three reads: the buffer is full after 256 bytes, wherever the reads end.
    fake::nBoundsViolations = 0;
    Feed({ 0x00, 0x85 });
    Feed(std::vector<BYTE>(200, 0x84));
    EXPECT_EQ(202u, uRxCount);
    Feed(std::vector<BYTE>(55, 0x22));
    EXPECT_EQ(0u, uRxCount) << "dropped once 256 bytes followed the count byte";
    Feed({ 0x85 });
    EXPECT_EQ(1u, uErrors) << "the byte after the dropped frame is a message of its own";
    EXPECT_EQ(0, fake::nBoundsViolations) << "no read ran past the frame buffer";
}

TEST_F(Link, RestartOnlyTouchesTheLine)
{
    Feed({ 0x05, 0x24 });
    fnResetComms(hWnd);
    EXPECT_EQ(kRestart, fake::line);
    EXPECT_EQ((Lines{ "Restarting comms" }), fake::debugLines);
    EXPECT_EQ(2u, uRxCount);
    EXPECT_EQ(0x24, InBuf[1]);
    EXPECT_EQ(0u, uErrors);
    EXPECT_EQ(-1, iCommsFail);
    EXPECT_TRUE(Armed(ID_TIMER_INCOMING));
}

// The reopen the fakes journal: start-up's settings, the file not read again.
const std::string kReopen = "reopen COM7 38400 8 0 1";

// However the loss is noticed -- the serial layer's own notification, or the
// restart of a transmit time-out -- it is logged and counted once, the link
// fails, and the restart closes the port, reopens it with start-up's
// settings and sends the start-up command after the restart byte.
TEST_F(Link, DeadDeviceIsLostOnceAndReopenedOnTheRestart)
{
    const struct {
        const char *pszHow;
        int iTimer;                 // 0: the layer's notification
        Lines log;
    } aCase[] = {
        { "notification", 0, { "Port lost", "Port reopened", "Restarting comms" } },
        { "transmit time-out", ID_TIMER_TRANSMIT,
          { "Transmit Timeout", "Port lost", "Port reopened", "Restarting comms" } },
    };
    for (const auto &c : aCase) {
        SCOPED_TRACE(c.pszHow);
        fake::Reset();
        Feed({ 0x84, 0x05, 0x24 });         // healthy, a frame half received
        fake::line.clear();
        fake::iDead = ERROR_BROKEN_PIPE;
        if (c.iTimer)
            fnTimer(hWnd, (WPARAM)c.iTimer);
        else
            Feed({});
        EXPECT_EQ(c.log, fake::debugLines);
        EXPECT_EQ(Around({ "close 6", kReopen, "notify 11 1" }, { "write 03 24 11 ff" }), fake::line);
        EXPECT_EQ(11, (int)hCommPort);
        EXPECT_EQ(1u, uErrors) << "one loss, one error";
        EXPECT_EQ(2, iCommsFail);
        EXPECT_EQ((Lines{ "0", "1" }), StatusWrites());
        EXPECT_EQ(0u, uRxCount) << "the old device's half frame ends with it";
        EXPECT_FALSE(Armed(ID_TIMER_INCOMING));
        EXPECT_FALSE(Armed(ID_TIMER_TRANSMIT)) << "no acknowledge is awaited from the old device";

        // The new device works: nothing more, and its acknowledge heals.
        fake::line.clear();
        Feed({ 0x84 });
        EXPECT_TRUE(fake::line.empty());
        EXPECT_EQ(1, iCommsFail);
        EXPECT_EQ(1, Count("Port lost"));
        EXPECT_EQ(1, Count("Port reopened"));
        // A second loss is a loss of its own.
        fake::iDead = ERROR_NOT_READY;
        Feed({});
        EXPECT_EQ(2, Count("Port lost"));
        EXPECT_EQ(2, Count("Port reopened"));
        EXPECT_EQ(2u, uErrors);
        EXPECT_EQ("close 11", fake::line.empty() ? "" : fake::line[0]);
    }
}

// While no port is open nothing is sent and nothing is awaited: the poll
// tries the reopen, and half a period on the transmit timer tries it again,
// quietly; no time-out counts the same loss again.
TEST_F(Link, FailedReopenIsTriedTwiceAPeriodUntilTheDeviceIsBack)
{
    fnTimer(hWnd, ID_TIMER_POLL);                // a poll is out when the device dies
    fake::line.clear();
    fake::iDead = ERROR_BROKEN_PIPE;
    fake::opens = { -1, -1, -1, 12 };
    Feed({});
    EXPECT_EQ((Lines{ "Port lost" }), fake::debugLines);
    EXPECT_EQ((Lines{ "close 6", kReopen }), fake::line);
    EXPECT_EQ(-1, (int)hCommPort) << "the dead port is closed even when the reopen fails";
    EXPECT_FALSE(Armed(ID_TIMER_TRANSMIT)) << "the old poll's acknowledge is no longer awaited";

    for (UINT id : { ID_TIMER_POLL, ID_TIMER_TRANSMIT, ID_TIMER_POLL }) {
        fake::line.clear();
        fnTimer(hWnd, id);
        if (id == ID_TIMER_POLL && fake::line.size() == 1) {
            EXPECT_EQ((Lines{ kReopen }), fake::line) << "no poll without a port";
            EXPECT_TRUE(Armed(ID_TIMER_TRANSMIT)) << "the reopen's retry";
            SetTimer(hWnd, ID_TIMER_TRANSMIT, 500, NULL);
        }
    }
    EXPECT_EQ((Lines{ "Port lost", "Port reopened", "Restarting comms" }), fake::debugLines);
    EXPECT_EQ(Around({ kReopen, "notify 12 1" }, { "write 03 24 11 ff", "write 02 ff 80" }), fake::line);
    EXPECT_EQ(1u, uErrors) << "the loss, and nothing while it lasted";
    EXPECT_TRUE(Armed(ID_TIMER_TRANSMIT));
}

// A device file that names another port by now, or that has gone since
// start-up, means no reopen until the driver's next start; why is said once.
// The file is looked up where the profile calls look: a bare name in the
// Windows directory. A file start-up could not write is no reason to wait.
TEST_F(Link, ReopenKeepsToTheStartUpPortAndItsFile)
{
    char acWinDir[MAX_PATH];
    GetWindowsDirectoryA(acWinDir, sizeof acWinDir);
    const std::string sBare = "mixtally_link_test_dev_" + std::to_string(GetCurrentProcessId()) + ".ini";
    const std::string sInWinDir = std::string(acWinDir) + "\\" + sBare;
    const struct {
        const char *name;
        std::string sStartFile;     // the path start-up opened from
        bool fThereAtStart;
        const char *pszNow;         // Com= in the file now; NULL: no file
        const char *pszWhy;         // the line said once; NULL: the reopen is tried
    } aCase[] = {
        { "file gone since start-up", fake::DeviceFile(), true, NULL, "Port not reopened: device file gone" },
        { "file names another port", fake::DeviceFile(), true, "3", "Port not reopened: device file names COM3" },
        { "file names start-up's port", fake::DeviceFile(), true, "7", NULL },
        { "bare name, found in the Windows directory", sBare, true, "7", NULL },
        { "start-up ran on defaults with no file", sBare, false, NULL, NULL },
    };
    for (const auto &c : aCase) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        const std::string sOnDisk = c.sStartFile == sBare ? sInWinDir : c.sStartFile;
        DeleteFileA(sOnDisk.c_str());
        if (c.fThereAtStart)
            WritePrivateProfileStringA("Configuration", "Com", "7", c.sStartFile.c_str());
        fake::opens = { 6 };
        hCommPort = fnOpenMixerPort(hWnd, c.sStartFile.c_str());
        DeleteFileA(sOnDisk.c_str());
        if (c.pszNow)
            WritePrivateProfileStringA("Configuration", "Com", c.pszNow, c.sStartFile.c_str());
        fake::iDead = ERROR_BROKEN_PIPE;
        fake::opens = { -1, -1, -1 };
        Feed({});
        fnTimer(hWnd, ID_TIMER_POLL);
        fnTimer(hWnd, ID_TIMER_POLL);
        int nTried = (int)std::count(fake::line.begin(), fake::line.end(), kReopen);
        EXPECT_EQ(c.pszWhy ? 0 : 3, nTried);
        if (c.pszWhy) {
            EXPECT_EQ(1, Count(c.pszWhy)) << "said once, not at every try";
        }
        EXPECT_EQ(-1, (int)hCommPort);
        EXPECT_EQ(1, Count("Port lost"));
        DeleteFileA(sOnDisk.c_str());
    }
}

// Under a flood of notifications the platform makes no WM_TIMER (nothing is
// dispatched here at all): the link runs each timer from the notifications
// once the tick count says it is due, even after its longest step, and not
// before. A drain that cannot finish (reads that take their time) still
// polls every period.
TEST_F(Link, TimersDueUnderAFloodRunFromTheNotifications)
{
    fake::dwTicks = 0xFFFFFF00u;      // across the wrap
    pfnLinkTicks = fake::Ticks;
    fnStartPollTimer(hWnd);
    const Lines kPoll = { "write 02 ff 80" };
    std::vector<BYTE> vTenFrames;
    Lines vTenLines;
    for (int i = 0; i < 10; i++) {
        vTenFrames.insert(vTenFrames.end(), { 0x01, 0x33 });
        vTenLines.push_back("Parse: 01 33 ");
    }
    const struct {
        DWORD dwAfter;              // ticks since the poll timer was armed
        std::vector<BYTE> rx;
        DWORD dwPerRead;
        Lines polls;
        Lines log;
    } steps[] = {
        { 1015, { 0x01, 0x33 }, 0, {}, { "Parse: 01 33 " } },
        { 1016, { 0x01, 0x33 }, 0, kPoll, { "Parse: 01 33 " } },
        { 1100, { 0x05, 0x24 }, 0, {}, {} },
        { 1315, {}, 0, {}, {} },
        { 1316, {}, 0, {}, { "Incoming Message Timeout" } },
        { 1531, {}, 0, {}, {} },
        { 1532, {}, 0, {}, { "Transmit Timeout", "Restarting comms" } },
        { 2031, {}, 0, {}, {} },
        { 2032, {}, 0, kPoll, {} },
        { 2100, vTenFrames, 60, kPoll, vTenLines },      // 21 reads: 2100 .. 3360
    };
    for (const auto &st : steps) {
        SCOPED_TRACE("tick " + std::to_string(st.dwAfter));
        fake::dwTicks = 0xFFFFFF00u + st.dwAfter;
        fake::dwTicksPerRead = st.dwPerRead;
        fake::line.clear();
        fake::debugLines.clear();
        Feed(st.rx);
        Lines polls;
        std::copy_if(fake::line.begin(), fake::line.end(), std::back_inserter(polls),
                     [](const std::string &l) { return l == "write 02 ff 80"; });
        EXPECT_EQ(st.polls, polls);
        EXPECT_EQ(st.log, fake::debugLines);
    }
    pfnLinkTicks = GetTickCount;
}

// Each timer goes to the platform with its own period: the poll with 1000 ms
// at the start and again with every poll, the transmit timer with 500 ms on
// every poll, the frame timer with 200 ms on every count byte.
TEST_F(Link, TimersAreArmedWithTheirPeriods)
{
    const struct {
        const char *name;
        std::function<void()> act;
        Lines timers;
    } cases[] = {
        { "start-up", [] { fnStartPollTimer(hWnd); }, { "3 1000" } },
        { "poll", [] { fnTimer(hWnd, ID_TIMER_POLL); }, { "2 500", "3 1000" } },
        { "count byte", [] { Feed({ 0x05, 0x24 }); }, { "1 200" } },
        { "second frame", [] { Feed({ 0x91, 0xFF, 0x00, 0x00, 0x02, 0x84 }); }, { "1 200" } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fake::timers.clear();
        c.act();
        EXPECT_EQ(c.timers, fake::timers);
    }
}

TEST_F(Link, UnknownTimerIsIgnored)
{
    fnTimer(hWnd, 4);
    fnTimer(hWnd, 0);
    EXPECT_TRUE(fake::line.empty());
    EXPECT_TRUE(fake::debugLines.empty());
    EXPECT_EQ(0u, uErrors);
}


// ---- the infodriver watch on the poll tick: loss, quiet re-hooks, republication

// Slot texts of a map, as a full publication writes them: "s=t" per slot.
Lines MapWrites(const BYTE abMap[16])
{
    Lines v;
    for (int s = 1; s <= 128; s++)
        v.push_back(std::to_string(s) + "=" + ((abMap[(s - 1) / 8] >> ((s - 1) % 8)) & 1 ? "1" : "0"));
    return v;
}

TEST_F(Link, LostInfodriverIsShownOnceRehookedQuietlyAndGetsTheMapAndLinkState)
{
    Feed({ 0x84, 0x06, 0x24, 0x91, 0xFF, 0x00, 0x01, 0x05 });   // healthy; map byte 0 = 05
    fake::writes.clear();
    fake::nSlotReads = 0;
    fake::debugLines.clear();
    fnTimer(hWnd, ID_TIMER_POLL);
    EXPECT_EQ(0, fake::nRehooks) << "a hooked infodriver whose window exists is left alone";
    EXPECT_EQ(0, fake::nSlotReads + (int)fake::writes.size()) << "the window check costs no exchange";

    fake::InfodrivGone();
    for (int iTick = 1; iTick <= 3; iTick++)
        fnTimer(hWnd, ID_TIMER_POLL);
    EXPECT_EQ(3, fake::nRehooks) << "one quiet hook per tick while lost";
    EXPECT_EQ((Lines{ "Infodriver lost" }), fake::debugLines);
    EXPECT_EQ(1u, uErrors) << "the loss is one error, however long it lasts";
    EXPECT_EQ(1, Count("Infodriver lost"));
    Lines vNetTX = Texts(IDC_NETTX);
    EXPECT_EQ(1, std::count(vNetTX.begin(), vNetTX.end(), "/__9F__")) << "Network TX turns red once";

    // Frames while lost: decoded and kept, nothing sent or counted.
    DWORD uTX = uNetTX;
    Feed({ 0x07, 0x24, 0x91, 0xFF, 0x80, 0x01, 0x80, 0x03 });      // byte 15 = 80, byte 0 = 03
    Feed({ 0x85 });                                                  // a link error meanwhile
    SetTimer(hWnd, ID_TIMER_TRANSMIT, 500, NULL);
    fnTimer(hWnd, ID_TIMER_TRANSMIT);                                // ... and the link fails
    EXPECT_TRUE(fake::writes.empty());
    EXPECT_EQ(0, fake::nSlotReads) << "a forgotten infodriver is not even read";
    EXPECT_EQ(uTX, uNetTX);

    fake::InfodrivStart();
    fake::debugLines.clear();
    fnTimer(hWnd, ID_TIMER_POLL);
    const BYTE abMap[16] = { 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80 };
    Lines vExpect = MapWrites(abMap);
    vExpect.push_back("4094=1");
    EXPECT_EQ(vExpect, fake::Written()) << "slots 1..128 of the last map, then the link state";
    EXPECT_EQ((Lines{ "Infodriver back" }), fake::debugLines);
    EXPECT_EQ(uTX + 128, uNetTX) << "the republished tally writes reached the infodriver";
    EXPECT_EQ("/__2F__", Texts(IDC_NETTX)[Texts(IDC_NETTX).size() - 2]) << "colour before the count";
    EXPECT_EQ(0, fInfodrivLost);
    EXPECT_EQ(3u, uErrors) << "the loss, the NAK and the time-out";

    // Hooked again: later frames go through the ordinary comparison.
    fake::writes.clear();
    Feed({ 0x07, 0x24, 0x91, 0xFF, 0x80, 0x01, 0x80, 0x07 });
    EXPECT_EQ((Lines{ "3=1" }), fake::Written());
}

TEST_F(Link, RepublicationHoldsOnlyWhatIsKnown)
{
    const BYTE abMap[16] = { 0x01, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 };
    const struct {
        const char *name;
        std::vector<BYTE> rx;          // received before the loss
        Lines expect;
    } cases[] = {
        { "nothing received", {}, {} },
        { "only a frame that is no tally frame: the start-up fill is no map", { 0x01, 0x33 }, {} },
        { "only an acknowledge", { 0x84 }, { "4094=0" } },
        { "a map, link not yet known", { 0x07, 0x24, 0x91, 0xFF, 0x00, 0x03, 0x80, 0x01 },
          MapWrites(abMap) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        Feed(c.rx);
        fake::InfodrivGone();
        fnTimer(hWnd, ID_TIMER_POLL);
        fake::InfodrivStart();
        fake::writes.clear();
        fnTimer(hWnd, ID_TIMER_POLL);
        EXPECT_EQ(c.expect, fake::Written());
        EXPECT_EQ(1, Count("Infodriver back"));
    }
}

// An infodriver whose window is there but answers nothing is lost at the
// tick (nothing answered since the last one, five and more unanswered in a
// row); one that answers the hook but not the writes stays lost, quietly.
TEST_F(Link, SilentInfodriverIsLostAtTheTickAndStaysLostQuietly)
{
    fake::fSilent = true;
    Feed({ 0x06, 0x24, 0x91, 0xFF, 0x00, 0x01, 0x01 });
    EXPECT_EQ(0u, uNetTX) << "unanswered start-up writes are not counted";
    EXPECT_EQ(2u, fake::debugLines.size()) << "a failed exchange is no loss by itself";

    for (int iTick = 0; iTick < 3; iTick++)
        fnTimer(hWnd, ID_TIMER_POLL);
    EXPECT_EQ("Infodriver lost", fake::debugLines[2]);
    EXPECT_EQ(3, fake::nRehooks);
    EXPECT_EQ(1, Count("Infodriver lost"));
    EXPECT_EQ(0, Count("Infodriver back"));
    EXPECT_EQ(1u, uErrors) << "the loss is one error, its failed exchanges none";
    EXPECT_EQ(1, fInfodrivLost);

    fake::fSilent = false;
    fnTimer(hWnd, ID_TIMER_POLL);
    EXPECT_EQ(1, Count("Infodriver back"));
    EXPECT_EQ(128u, uNetTX);
    EXPECT_EQ("1", fake::slots[1]);
}

// A slot exchange without a reply from an infodriver that is still there:
// no loss, one error, one line at the tick, and the slot written again
// there with the text it should hold by then.
// Drops the exchanges on iSlot whose numbers (0: its first from now on) are listed.
std::function<bool(int)> Drop(int iSlot, std::vector<int> vNth)
{
    auto pn = std::make_shared<int>(0);
    return [iSlot, pn, vNth](int i) {
        return i == iSlot && std::count(vNth.begin(), vNth.end(), (*pn)++) != 0;
    };
}

TEST_F(Link, FailedExchangesAreRetriedAtTheTick)
{
    const std::vector<BYTE> kMap01 = { 0x06, 0x24, 0x91, 0xFF, 0x00, 0x01, 0x01 };   // byte 0 = 01
    const std::vector<BYTE> kMap03 = { 0x06, 0x24, 0x91, 0xFF, 0x00, 0x01, 0x03 };   // slot 2 lit
    const struct {
        const char *name;
        std::function<bool(int)> drop;
        std::vector<std::vector<BYTE>> frames;      // after the first map is published
        Lines retried;           // writes of the next tick
        const char *line;
    } cases[] = {
        { "a write that fails once", Drop(2, { 1 }), { kMap03 }, { "2=1" },
          "1 slot exchange unanswered, retrying 1 slot" },
        { "a failed read", Drop(2, { 0 }), { kMap03 }, { "2=1" }, "1 slot exchange unanswered, retrying 1 slot" },
        { "the retry writes the text of the newest map", Drop(2, { 1, 2 }), { kMap03, kMap01 }, { "2=0" },
          "2 slot exchanges unanswered, retrying 1 slot" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        Feed(kMap01);
        fake::fDrop = c.drop;
        for (const auto &f : c.frames)
            Feed(f);
        fake::writes.clear();
        fake::debugLines.clear();
        fnTimer(hWnd, ID_TIMER_POLL);
        EXPECT_EQ(c.retried, fake::Written());
        EXPECT_EQ((Lines{ c.line }), fake::debugLines);
        EXPECT_EQ(c.line[0] - '0', (int)uErrors) << "one error per unanswered exchange";
        EXPECT_EQ(0, fake::nRehooks) << "a failed exchange is no loss";
        fake::writes.clear();
        fnTimer(hWnd, ID_TIMER_POLL);
        EXPECT_TRUE(fake::writes.empty()) << "a confirmed slot is not written again";
    }
}

// After a real loss the new infodriver gets everything; a write of that
// republication that fails is taken up at the next tick, not from slot 1.
TEST_F(Link, RepublicationResumesWhereAWriteFailed)
{
    Feed({ 0x84, 0x06, 0x24, 0x91, 0xFF, 0x00, 0x01, 0x05 });
    fake::InfodrivGone();
    fnTimer(hWnd, ID_TIMER_POLL);
    fake::InfodrivStart();
    fake::fDrop = Drop(64, { 0 });
    fake::writes.clear();
    fnTimer(hWnd, ID_TIMER_POLL);
    EXPECT_EQ(128u, fake::writes.size()) << "127 tally slots and 4094";
    EXPECT_EQ(1, Count("Infodriver back"));
    fake::writes.clear();
    fnTimer(hWnd, ID_TIMER_POLL);
    EXPECT_EQ((Lines{ "64=0" }), fake::Written());
}

// A message sent to the driver during a slot exchange can run a modal loop,
// which dispatches notifications and timers inside the exchange: they wait
// until the frame's publication has ended, and then run.
TEST_F(Link, NotificationAndTickNestedInAnExchangeRunAfterIt)
{
    fnStartPollTimer(hWnd);
    Feed({ 0x84, 0x06, 0x24, 0x91, 0xFF, 0x00, 0x01, 0x01 });        // byte 0 = 01, published
    fake::line.clear();
    fake::writes.clear();
    fake::debugLines.clear();
    // A frame setting slot 2, and all but the last byte of one setting slot 3.
    fake::Receive({ 0x06, 0x24, 0x91, 0xFF, 0x00, 0x01, 0x03, 0x06, 0x24, 0x91, 0xFF, 0x00, 0x01 });
    size_t cLinesInside = 0, cLogInside = 0;
    fake::pfnDuringExchange = [&](int) {
        fake::Receive({ 0x07 });
        fnRxCommData(hWnd);
        fnTimer(hWnd, ID_TIMER_POLL);
        cLinesInside = fake::line.size();
        cLogInside = fake::debugLines.size();
    };
    Feed({});
    EXPECT_EQ(0u, cLinesInside) << "no poll inside the publication";
    EXPECT_EQ(2u, cLogInside) << "the second frame is not taken inside the first one's publication";
    EXPECT_EQ((Lines{ "2=1", "3=1" }), fake::Written()) << "each frame published whole, in order";
    ASSERT_EQ(4u, fake::debugLines.size());
    EXPECT_EQ("Parse: 06 24 91 ff 00 01 07 ", fake::debugLines[2]);
    EXPECT_EQ((Lines{ "write 02 ff 80" }), fake::line) << "the nested tick, once";
}

}  // namespace
