// The serial layer on a real line: the simulated mixer holds a pty mapped to
// a COM port of the Wine prefix; commsprobe.exe (tests/unit/comms) runs the
// layer under Wine and is driven line by line through its stdin/stdout.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "harness.h"
#include "sim/mixsim.h"

namespace {

const int kStartMs = 60000;     // a cold Wine start on a loaded machine
const int kReplyMs = 30000;
const int kWaitMs = 20000;

std::string PortsDir()
{
    const char *psz = harness::Ready(nullptr) ? getenv("MIXTALLY_PORTS") : nullptr;
    return psz ? psz : "";
}

uint32_t Crc32(const std::vector<uint8_t> &v)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : v) {
        crc ^= b;
        for (int k = 0; k < 8; k++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

// "rx"'s count and CRC for the bytes v.
std::string Sum(const std::vector<uint8_t> &v)
{
    char sz[64];
    snprintf(sz, sizeof(sz), "%zu %08x", v.size(), Crc32(v));
    return sz;
}

std::vector<uint8_t> Random(size_t n, uint32_t x)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v[i] = (uint8_t)(x >> 11);
    }
    return v;
}

std::string Hex(const std::vector<uint8_t> &v) { return harness::Hex(v.data(), v.size()); }

// One commsprobe.exe under Wine.
struct Probe {
    harness::LineChild child;
    std::string why;        // why it did not start

    bool Start() { return child.StartWine("commsprobe.exe", {}, "ready", kStartMs, &why); }
    // Sends a command; returns its reply after "ok " ("" plus a failure when
    // the reply is missing or an error).
    std::string Cmd(const std::string &c, int timeoutMs = kReplyMs)
    {
        std::string a;
        int r = child.Ask(c, &a, timeoutMs);
        if (r != 1)
            ADD_FAILURE() << "no reply to \"" << c << "\" (" << (r == 0 ? "time-out" : "probe gone") << ")";
        else if (a.rfind("ok", 0) != 0)
            ADD_FAILURE() << "\"" << c << "\" answered: " << a;
        else
            return a.size() > 3 ? a.substr(3) : "";
        return "";
    }
    // "state <i>": key=value pairs of the port record.
    std::map<std::string, std::string> State(int idx)
    {
        std::map<std::string, std::string> m;
        std::istringstream is(Cmd("state " + std::to_string(idx)));
        std::string kv;
        while (is >> kv) {
            size_t eq = kv.find('=');
            if (eq != std::string::npos)
                m[kv.substr(0, eq)] = kv.substr(eq + 1);
        }
        return m;
    }
    long StateNum(int idx, const char *key)
    {
        auto m = State(idx);
        return m.count(key) ? strtol(m[key].c_str(), NULL, 10) : -999999;
    }
    // Waits until state key of idx reaches at least lMin (polling the probe).
    bool WaitState(int idx, const char *key, long lMin, int timeoutMs = kWaitMs)
    {
        return harness::Eventually([&] { return StateNum(idx, key) >= lMin; }, timeoutMs);
    }
    // Polls "rx" until n bytes were drained, or the deadline; its last answer.
    std::string WaitRx(size_t n, int timeoutMs = kWaitMs, int pollMs = 20)
    {
        std::string rx;
        harness::Eventually([&] { return strtoul((rx = Cmd("rx")).c_str(), NULL, 10) >= n; }, timeoutMs, pollMs);
        return rx;
    }
    long Notes() { return strtol(Cmd("notes").c_str(), NULL, 10); }
    // "notes": the count, and the last one's wParam and high word of lParam.
    std::vector<long> LastNote()
    {
        std::istringstream is(Cmd("notes"));
        std::vector<long> v(3, -1);
        is >> v[0] >> v[1] >> v[2];
        return v;
    }
    // The receive thread counts a batch a moment before it posts: a count
    // seen in "state" does not yet mean its notification is queued. These
    // wait for the notifications instead.
    long WaitNotes(long lMin, int timeoutMs = kWaitMs)
    {
        long n = 0;
        harness::Eventually([&] { return (n = Notes()) >= lMin; }, timeoutMs);
        return n;
    }
    long StableNotes()
    {
        long n = Notes(), m;
        for (int i = 0; i < 100; i++) {
            usleep(100000);
            if ((m = Notes()) == n)
                break;
            n = m;
        }
        return n;
    }
    void Stop()
    {
        if (child.Started() && !child.Quit("quit", 20000))
            ADD_FAILURE() << "probe did not end after quit";
        child.Release();
    }
    ~Probe() { Stop(); }
};

class CommsLine : public ::testing::Test {
protected:
    MIXSIM *ps = NULL;
    Probe probe;

    // Maps COM<port> to a new simulated line and starts the probe.
    void Start(int port)
    {
        std::string dir = PortsDir();
        ASSERT_FALSE(dir.empty()) << "rig not usable: MIXTALLY_PORTS not found";
        char szErr[256];
        ps = msOpen(port, dir.c_str(), szErr, sizeof(szErr));
        ASSERT_NE(nullptr, ps) << szErr;
        msSetAck(ps, MSACK_NONE, 0);     // the layer is under test, not the protocol
        ASSERT_TRUE(probe.Start()) << probe.why;
    }
    // Start, and the port opened (at table index port - 1) with a
    // notification count (0: none).
    void StartOpen(int port, int iCount, int iBaud = 38400)
    {
        ASSERT_NO_FATAL_FAILURE(Start(port));
        ASSERT_EQ(std::to_string(port - 1),
                  probe.Cmd("open " + std::to_string(port) + " " + std::to_string(iBaud) + " 8 0 0"));
        if (iCount != 0) {
            ASSERT_EQ("1", probe.Cmd("enable " + std::to_string(port - 1) + " " + std::to_string(iCount)));
        }
    }
    void TearDown() override
    {
        probe.Stop();
        msClose(ps);
    }
    void Send(const std::vector<uint8_t> &v)
    {
        ASSERT_EQ(0, msWrite(ps, v.data(), v.size(), NULL));
    }
    // One byte sent on the line reaches the port at idx and is read back.
    void SendOneAndRead(int idx, uint8_t b)
    {
        ASSERT_NO_FATAL_FAILURE(Send({b}));
        ASSERT_TRUE(probe.WaitState(idx, "iToRead", 1));
        char sz[16];
        snprintf(sz, sizeof(sz), "1 %02x", b);
        EXPECT_EQ(sz, probe.Cmd("read " + std::to_string(idx) + " 10"));
    }
};

// ---------------------------------------------------------------- receive path

TEST_F(CommsLine, BytesArriveInOrderThroughNotificationAndDrain)
{
    StartOpen(1, 1);
    probe.Cmd("drain on 1");
    std::vector<uint8_t> all;
    for (int i = 0; i < 8; i++) {
        std::vector<uint8_t> v = Random(100 + 37 * i, 11 + i);
        Send(v);
        all.insert(all.end(), v.begin(), v.end());
    }
    std::string rx = probe.WaitRx(all.size()), sWant = Sum(all);
    EXPECT_EQ(sWant, rx.substr(0, sWant.size())) << "count and CRC of the drained bytes";
    EXPECT_EQ(Hex(all).substr(0, 8192), probe.Cmd("rxhex").substr(0, 8192));
    EXPECT_GE(strtol(rx.c_str() + sWant.size(), NULL, 10), 1) << "no notification counted";
    EXPECT_EQ(0, probe.StateNum(0, "iToRead")) << "everything read, nothing may be counted as waiting";
    EXPECT_EQ(0, probe.StateNum(0, "dropped"));
}

TEST_F(CommsLine, NotificationCoalescesAndRearms)
{
    StartOpen(2, 1);
    EXPECT_EQ("2,1,0,0,1000", probe.State(1)["to"]) << "time-outs after registering with count 1";

    // Three bytes, each sent once the last was counted (three batches a few
    // milliseconds apart), nobody reading: one notification, and another
    // only if they were counted 100 ms apart (84 ms of a tick count that
    // moves in 16 ms steps). The probe times from inside how far apart the
    // first and the last were counted.
    ASSERT_EQ("", probe.Cmd("watch 1 3 " + std::to_string(kWaitMs)));
    for (uint8_t b : {0x10, 0x11, 0x12}) {
        Send({b});
        std::string l;
        ASSERT_EQ(1, probe.child.ReadLine(&l, kWaitMs)) << "byte " << (int)b << " not counted";
        ASSERT_EQ("count " + std::to_string(b - 0x0F), l) << "one batch per byte";
    }
    long lSpanUs = strtol(probe.Cmd("watched").c_str(), NULL, 10);
    ASSERT_GE(lSpanUs, 0) << "the three bytes were not counted within " << kWaitMs << " ms";
    long n = probe.StableNotes();
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 1 + lSpanUs / 84000) << "notifications not coalesced: three batches within " << lSpanUs << " us";
    EXPECT_EQ(1, probe.StateNum(1, "notify")) << "a notification is out and unanswered";

    // A read re-arms at once, even one that takes nothing.
    EXPECT_EQ("0 -", probe.Cmd("read 1 0"));
    EXPECT_EQ(0, probe.StateNum(1, "notify"));
    n = probe.StableNotes();
    Send({0x13});
    ASSERT_TRUE(probe.WaitState(1, "iToRead", 4));
    probe.WaitNotes(n + 1);
    EXPECT_EQ(n + 1, probe.StableNotes()) << "the byte after a read must be notified, once";

    // Unanswered, the notification re-arms after 100 ms. Wait well past it.
    usleep(400000);
    Send({0x14});
    ASSERT_TRUE(probe.WaitState(1, "iToRead", 5));
    probe.WaitNotes(n + 2);
    probe.StableNotes();
    std::vector<long> note = probe.LastNote();
    EXPECT_EQ(n + 2, note[0]) << "no re-arm 100 ms after the last notification";
    EXPECT_EQ("0", probe.State(1)["dead"]) << "requests ending on their time-outs are no dead device";
    EXPECT_EQ(1, note[1]) << "wParam is the index";
    EXPECT_EQ(5, note[2]) << "lParam's high word is the unread count";
    EXPECT_EQ("5 1011121314", probe.Cmd("read 1 100"));
}

TEST_F(CommsLine, BacklogAbove8192NotifiesEveryBatch)
{
    StartOpen(3, 1);
    Send(Random(9000, 5));
    ASSERT_TRUE(probe.WaitState(2, "iToRead", 9000));
    long n0 = probe.StableNotes();
    // Each byte is a batch of its own (sent once the previous one is
    // counted): above 8192 unread every batch is notified, however close
    // together.
    for (int i = 0; i < 10; i++) {
        Send({(uint8_t)i});
        ASSERT_TRUE(probe.WaitState(2, "iToRead", 9001 + i));
    }
    probe.WaitNotes(n0 + 10);
    probe.StableNotes();
    std::vector<long> note = probe.LastNote();
    EXPECT_EQ(n0 + 10, note[0]);
    EXPECT_EQ(9010, note[2]);
    EXPECT_EQ(9010, probe.StateNum(2, "iToRead"));
}

// The same on the layer's own clock (the probe's, standing at each batch's
// time): a batch is posted once 100 ms have passed since the last posting,
// or while more than 8192 bytes wait unread, and not before. Each posting
// carries the unread count after its batch.
TEST_F(CommsLine, NotificationRearmsAfter100MsOrAbove8192Unread)
{
    StartOpen(3, 1);
    const struct { int iClock; size_t cb; } aBatch[] = {
        {5000, 1},      // posted: 1 unread
        {5099, 1},      // 99 ms later: the posting is still out
        {5100, 1},      // 100 ms: posted again, 3 unread
        {5100, 8189},   // 8192 unread: still out, however many batches
        {5100, 1},      // 8193: posted
        {5100, 1},      // and so is every batch above 8192
    };
    long lUnread = 0;
    for (const auto &b : aBatch) {
        ASSERT_EQ("", probe.Cmd("clock " + std::to_string(b.iClock)));
        Send(Random(b.cb, (uint32_t)lUnread + 1));
        lUnread += (long)b.cb;
        ASSERT_TRUE(probe.WaitState(2, "iToRead", lUnread)) << "clock " << b.iClock;
    }
    probe.WaitNotes(4);
    EXPECT_EQ("1 3 8193 8194", probe.Cmd("notecounts"));
}

TEST_F(CommsLine, NegativeCountStopsNotificationButNotReception)
{
    StartOpen(4, 1);
    ASSERT_EQ("1", probe.Cmd("enable 3 -1"));
    auto st = probe.State(3);
    EXPECT_EQ("0", st["hwnd"]);
    EXPECT_EQ("2,1,0,0,1000", st["to"]) << "a negative count keeps the time-outs";
    EXPECT_EQ("1", st["btr"]);
    Send({1, 2, 3, 4, 5});
    ASSERT_TRUE(probe.WaitState(3, "iToRead", 5));
    EXPECT_EQ(0, probe.StableNotes());
    EXPECT_EQ("5 0102030405", probe.Cmd("read 3 10"));
}

TEST_F(CommsLine, NotificationCountOutsideRangeIsClamped)
{
    // At 115200 baud 100000 / baud is 0: the open gives the device no
    // interval time-out, a registration one of at least 1 ms.
    StartOpen(5, 0, 115200);
    EXPECT_EQ("0,16,0,0,1000", probe.State(4)["to"]);
    const struct {
        int iCount;
        const char *pszBtr, *pszTo;
    } a[] = {{0, "1", "1,1,0,0,1000"}, {300, "256", "1,256,0,0,1000"}, {256, "256", "1,256,0,0,1000"},
             {22, "22", "1,22,0,0,1000"}};
    for (auto &c : a) {
        ASSERT_EQ("1", probe.Cmd("enable 4 " + std::to_string(c.iCount)));
        auto st = probe.State(4);
        EXPECT_EQ(c.pszBtr, st["btr"]) << "count " << c.iCount;
        EXPECT_EQ(c.pszTo, st["to"]) << "count " << c.iCount;
    }
    // 22-byte requests still deliver every byte of a larger stream.
    probe.Cmd("drain on 256");
    std::vector<uint8_t> v = Random(3000, 9);
    Send(v);
    EXPECT_EQ(Sum(v), probe.WaitRx(v.size()).substr(0, Sum(v).size()));
}

TEST_F(CommsLine, FullBufferRefusesNewBytesAndCountsThem)
{
    StartOpen(1, 0);
    std::vector<uint8_t> v = Random(20000, 77);
    Send(v);
    harness::Eventually([&] { return probe.StateNum(0, "iToRead") + probe.StateNum(0, "dropped") >= 20000; },
                        kWaitMs, 50);
    EXPECT_EQ(16383, probe.StateNum(0, "iToRead")) << "only stored bytes count as waiting";
    EXPECT_EQ(20000 - 16383, probe.StateNum(0, "dropped"));
    std::string r = probe.Cmd("read 0 20000");
    EXPECT_EQ("16383 " + Hex(std::vector<uint8_t>(v.begin(), v.begin() + 16383)), r)
        << "the oldest bytes must survive, in order";
    EXPECT_EQ(0, probe.StateNum(0, "iToRead"));
    SCOPED_TRACE("reception goes on after a full buffer");
    SendOneAndRead(0, 0xAB);
}

// ---------------------------------------------------------------- table and control

TEST_F(CommsLine, OpenCloseAllocatesAndReleasesTheTable)
{
    Start(1);
    MIXSIM *ps2 = msOpen(2, PortsDir().c_str(), NULL, 0);
    ASSERT_NE(nullptr, ps2);
    EXPECT_EQ("table=0", probe.Cmd("state 0"));
    ASSERT_EQ("0", probe.Cmd("open 1 38400 8 0 0"));
    auto st = probe.State(0);
    EXPECT_EQ("1", st["used"]);
    EXPECT_EQ("1", st["port"]);
    EXPECT_EQ("2,16,0,0,1000", st["to"]) << "time-outs of the open at 38400 baud";
    EXPECT_EQ("16", st["btr"]);
    EXPECT_EQ("-1", probe.Cmd("open 1 38400 8 0 0")) << "second open of an open port";
    EXPECT_EQ("1", probe.State(0)["used"]);

    // Another process cannot have it either, and keeps no table.
    {
        Probe other;
        ASSERT_TRUE(other.Start()) << other.why;
        EXPECT_EQ("-1", other.Cmd("open 1 38400 8 0 0"));
        EXPECT_EQ("table=0", other.Cmd("state 0"));
    }

    ASSERT_EQ("1", probe.Cmd("open 2 9600 8 0 0"));
    EXPECT_EQ("10,16,0,0,1000", probe.State(1)["to"]) << "9600 baud: 10 ms interval";
    EXPECT_EQ("nothread", probe.Cmd("close 300").substr(0, 8));
    EXPECT_EQ("1", probe.State(0)["used"]) << "index above 255 must change nothing";
    probe.Cmd("close -1");
    EXPECT_EQ("1", probe.State(0)["table"]) << "close(-1) with ports open keeps the table";

    std::string r = probe.Cmd("close 0");
    EXPECT_EQ("exit=100", r.substr(0, 8)) << "COM1's receive thread ends with 100: " << r;
    EXPECT_EQ("0", probe.State(0)["used"]);
    EXPECT_EQ("1", probe.State(1)["table"]);
    r = probe.Cmd("close 1");
    EXPECT_EQ("exit=101", r.substr(0, 8)) << r;
    EXPECT_EQ("table=0", probe.Cmd("state 0")) << "last close releases the table";
    ASSERT_EQ("0", probe.Cmd("open 1 38400 8 0 0")) << "a new open allocates it again";
    EXPECT_EQ("1", probe.State(0)["table"]);
    probe.Cmd("close 0");
    {
        Probe other;    // a closed port is free for another process
        ASSERT_TRUE(other.Start()) << other.why;
        EXPECT_EQ("0", other.Cmd("open 1 38400 8 0 0"));
    }
    msClose(ps2);
}

TEST_F(CommsLine, MissingDeviceAndFreeEntry)
{
    Start(1);
    msUnmap(ps);
    EXPECT_EQ("-1", probe.Cmd("open 1 38400 8 0 0"));
    EXPECT_EQ("table=0", probe.Cmd("state 0")) << "failed open leaves no table";
    MIXSIM *ps2 = msOpen(2, PortsDir().c_str(), NULL, 0);
    ASSERT_NE(nullptr, ps2);
    // The read interval time-out is 100000 / baud: no division by a rate of 0.
    EXPECT_EQ("-1", probe.Cmd("open 2 0 8 0 0"));
    EXPECT_EQ("table=0", probe.Cmd("state 1"));
    // Line settings are bytes of the DCB: 264 data bits must not become 8.
    EXPECT_EQ("-1", probe.Cmd("open 2 38400 264 0 0"));
    EXPECT_EQ("table=0", probe.Cmd("state 1"));
    ASSERT_EQ("1", probe.Cmd("open 2 38400 8 0 0"));
    EXPECT_EQ("65535", probe.Cmd("write 0 01020304")) << "write to a free entry";
    EXPECT_EQ("4", probe.Cmd("write 1 032411ff")) << "a 4-byte write returns 4";
    EXPECT_TRUE(msWaitKind(ps2, MSK_STARTUP, 1, kWaitMs)) << "the bytes must reach the line";
    EXPECT_EQ("-2", probe.Cmd("write 256 01"));
    EXPECT_EQ("-2", probe.Cmd("write -1 01"));
    probe.Cmd("close 1");
    EXPECT_EQ("-3", probe.Cmd("write 1 01")) << "no table";
    msClose(ps2);
}

TEST_F(CommsLine, GetCommErrorCountsTheRingAndFlushPurgesTheDevice)
{
    StartOpen(3, 0);
    Send({9, 8, 7, 6, 5});
    ASSERT_TRUE(probe.WaitState(2, "iToRead", 5));
    std::istringstream is(probe.Cmd("err 2"));
    unsigned long ulMask, ulIn, ulOut;
    is >> ulMask >> ulIn >> ulOut;
    EXPECT_EQ(5u, ulIn) << "cbInQue is the ring buffer's count";
    uint64_t n = msCount(ps, MSK_PURGE_RX);
    EXPECT_EQ("1", probe.Cmd("flush 2 8"));
    EXPECT_TRUE(msWaitKind(ps, MSK_PURGE_RX, n + 1, kWaitMs)) << "FlushComm(8) must purge the device";
    EXPECT_EQ("5 0908070605", probe.Cmd("read 2 5")) << "a purge leaves the ring buffer alone";
}

// The start handshake's semaphore is named after the device handle value, so
// a process opening a device with the same value shares it and can take the
// release meant for us. The open must still return, and the port work.
TEST_F(CommsLine, OpenSurvivesAStolenStartRelease)
{
    StartOpen(4, 0);
    std::string dev = probe.State(3)["dev"];
    ASSERT_FALSE(dev.empty());
    probe.Cmd("close 3");
    Probe thief;
    ASSERT_TRUE(thief.Start()) << thief.why;
    thief.Cmd("steal " + dev);
    bool fSame = false;
    for (int iTry = 0; iTry < 3 && !fSame; iTry++) {
        ASSERT_EQ("3", probe.Cmd("open 4 38400 8 0 0")) << "open hung or failed";
        fSame = probe.State(3)["dev"] == dev;
        if (!fSame)
            probe.Cmd("close 3");
    }
    thief.Cmd("steal off");
    if (!fSame)
        GTEST_SKIP() << "the device handle value changed between opens; nothing shared";
    SendOneAndRead(3, 0x5A);
}

// ---------------------------------------------------------------- failing device, late thread

// A line held up by flow control is no dead device: a write that takes
// nothing within its 1000 ms fails (65535) on a time-out.
TEST_F(CommsLine, HeldUpWriteTimesOutWithoutMarkingTheDeviceDead)
{
    StartOpen(2, 1);
    msPause(ps, 1);
    std::string r;
    // The pty takes a few KB before it holds up; a write that fills it up
    // returns with what went through. At most a few writes fill it.
    for (int i = 0; i < 5 && r != "65535"; i++)
        r = probe.Cmd("writen 1 60000");
    msPause(ps, 0);
    EXPECT_EQ("65535", r) << "a write that takes nothing in 1000 ms";
    EXPECT_EQ("0", probe.State(1)["dead"]);
    EXPECT_EQ(0, probe.Notes()) << "nothing to tell the window";
    EXPECT_EQ("4", probe.Cmd("write 1 032411ff"));
}

// A pty whose far end closed: every request fails at once. The device is
// dead (ERROR_BROKEN_PIPE from the reads, measured under Wine), the window
// hears of it once, the first error stays, and the thread neither spins nor
// outlives the close.
TEST_F(CommsLine, HungUpLineIsDeadDoesNotSpinAndStillCloses)
{
    StartOpen(4, 1);
    EXPECT_EQ("0", probe.State(3)["dead"]);
    msHangup(ps);       // reads now fail at once (ERROR_BROKEN_PIPE)
    ASSERT_TRUE(probe.WaitState(3, "dead", 1)) << "the receive thread must find the device dead";
    EXPECT_EQ("109", probe.State(3)["dead"]);
    probe.WaitNotes(1);
    EXPECT_EQ(1, probe.StableNotes()) << "one notification for the death, however many failures";
    EXPECT_EQ("65535", probe.Cmd("write 3 02ff80"));
    EXPECT_EQ("109", probe.State(3)["dead"]) << "the first error stays";
    usleep(300000);

    // CPU time of the probe over 3 s: a thread retrying failed reads back to
    // back takes a large share of a core; with the back-off next to nothing.
    auto Ticks = [&]() -> long {
        char szPath[64], sz[1024];
        snprintf(szPath, sizeof(szPath), "/proc/%d/stat", (int)probe.child.Pid());
        FILE *f = fopen(szPath, "r");
        if (f == NULL)
            return -1;
        size_t n = fread(sz, 1, sizeof(sz) - 1, f);
        fclose(f);
        sz[n] = 0;
        const char *p = strrchr(sz, ')');
        long ut = 0, st = 0;
        // fields after the command: state(3) ... utime(14) stime(15)
        sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &ut, &st);
        return ut + st;
    };
    long t0 = Ticks();
    long long ll0 = hpNowMs();
    usleep(3000000);
    long t1 = Ticks();
    long long llMs = hpNowMs() - ll0;
    double dShare = (double)(t1 - t0) * 1000.0 / sysconf(_SC_CLK_TCK) / (double)llMs;
    printf("[ figure ] probe CPU share with a hung-up line: %.1f %%\n", dShare * 100);
    EXPECT_LT(dShare, 0.08) << "the receive thread spins on a failing device";

    std::string r = probe.Cmd("close 3");
    EXPECT_EQ("exit=103", r.substr(0, 8)) << "close must still stop the thread: " << r;

    // The adapter back: the same port opens again, alive, and works.
    ASSERT_EQ(0, msReplug(ps, NULL, 0));
    ASSERT_EQ("3", probe.Cmd("open 4 38400 8 0 0"));
    EXPECT_EQ("0", probe.State(3)["dead"]) << "a new open starts alive";
    EXPECT_EQ("4", probe.Cmd("write 3 032411ff"));
    EXPECT_TRUE(msWaitKind(ps, MSK_STARTUP, 1, kWaitMs));
    probe.Cmd("close 3");
}

TEST_F(CommsLine, ThreadOutlivingCloseNeverTouchesFreedState)
{
    Start(5);
    // 256-byte requests with multiplier 256 last 65 s on a silent line: as
    // good as a read that never completes (a pulled USB adapter's). A byte
    // ends the request under way (which may be the open's shorter one); the
    // thread then starts a long one.
    auto LongRequest = [&]() {
        ASSERT_EQ("4", probe.Cmd("open 5 38400 8 0 0"));
        ASSERT_EQ("1", probe.Cmd("enable 4 256"));
        Send({0x01});
        ASSERT_TRUE(probe.WaitState(4, "iToRead", 1));
        usleep(300000);
    };
    // The close cancels it: the thread ends and the port opens again at once.
    LongRequest();
    std::string r = probe.Cmd("close 4 " + std::to_string(kWaitMs));
    EXPECT_EQ("exit=104", r.substr(0, 8)) << "the close must end a request that never completes: " << r;
    ASSERT_EQ("4", probe.Cmd("open 5 38400 8 0 0")) << "the port must open again after the close";
    probe.Cmd("close 4");

    // A driver that does not cancel leaves the request pending: the thread
    // outlives the close. On a loaded machine it may not have started its
    // long request yet when the close comes: then try again.
    ASSERT_EQ("off", probe.Cmd("cancel off"));
    ASSERT_EQ("", probe.Cmd("clock step 20"));
    r.clear();
    for (int iTry = 0; iTry < 4 && r.rfind("running", 0) != 0; iTry++) {
        LongRequest();
        probe.Cmd("clockspan");
        r = probe.Cmd("close 4 1000");
    }
    ASSERT_EQ("running", r.substr(0, 7)) << "expected a thread that outlives the close: " << r;
    EXPECT_EQ("500", probe.Cmd("clockspan")) << "the close waits 500 ms by the layer's clock";
    EXPECT_EQ("table=0", probe.Cmd("state 4"));
    EXPECT_EQ("-1", probe.Cmd("open 5 38400 8 0 0")) << "the old thread still holds the device";

    // A new table and a new port; then the old thread's read completes.
    MIXSIM *ps2 = msOpen(1, PortsDir().c_str(), NULL, 0);
    ASSERT_NE(nullptr, ps2);
    ASSERT_EQ("0", probe.Cmd("open 1 38400 8 0 0"));
    Send({0xEE, 0xEE, 0xEE});
    std::string rOpen;
    harness::Eventually([&] { return (rOpen = probe.Cmd("open 5 38400 8 0 0")) == "4"; }, kWaitMs, 50);
    ASSERT_EQ("4", rOpen) << "the old thread must end and free the device";
    auto st = probe.State(0);
    EXPECT_EQ("0", st["iToRead"]) << "the old thread wrote into another entry";
    EXPECT_EQ("0", probe.State(4)["iToRead"]) << "bytes after the close reached the new port";
    SendOneAndRead(4, 0x42);
    probe.Cmd("cancel on");
    msClose(ps2);
}

// ---------------------------------------------------------------- throughput

// 200 KB paced like a 38400-baud line, drained on notifications one byte at a
// time as the driver does: every byte arrives, in order.
TEST_F(CommsLine, PacedLineKeepsEveryByte)
{
    StartOpen(2, 1);
    probe.Cmd("drain on 1");
    std::vector<uint8_t> v = Random(200 * 1024, 2024);
    long long ll0 = hpNowMs();
    ASSERT_EQ(0, msWritePaced(ps, v.data(), v.size(), 38400, 8));
    std::string rx = probe.WaitRx(v.size(), 60000, 50), sWant = Sum(v);
    long long llMs = hpNowMs() - ll0;
    EXPECT_EQ(sWant, rx.substr(0, sWant.size())) << "count and CRC";
    EXPECT_EQ(0, probe.StateNum(1, "dropped"));
    printf("[ figure ] %zu bytes paced at 38400 baud in %lld ms, %ld notifications\n", v.size(), llMs,
           strtol(rx.c_str() + sWant.size(), NULL, 10));
}

// As fast as the pty takes bytes: prints the rate reached; bytes the layer
// could not keep are counted by it and must account for every missing byte.
TEST_F(CommsLine, FullSpeedStressReportsRateAndLosses)
{
    StartOpen(3, 64, 115200);
    probe.Cmd("drain on 256");
    std::vector<uint8_t> v = Random(1024 * 1024, 99);
    long long ll0 = hpNowMs();
    ASSERT_EQ(0, msWrite(ps, v.data(), v.size(), NULL));
    unsigned long ulRx = 0, ulDropped = 0;
    long long llDone = ll0;
    harness::Eventually([&] {
        ulRx = strtoul(probe.Cmd("rx").c_str(), NULL, 10);
        ulDropped = (unsigned long)probe.StateNum(2, "dropped");
        llDone = hpNowMs();
        return ulRx + ulDropped >= v.size();
    }, 120000, 50);
    double dSec = (double)(llDone - ll0) / 1000.0;
    printf("[ figure ] full speed: %lu of %zu bytes in %.2f s = %.0f KB/s; %lu lost (counted)\n",
           ulRx, v.size(), dSec, ulRx / 1024.0 / dSec, ulDropped);
    EXPECT_EQ(v.size(), ulRx + ulDropped) << "bytes vanished without being counted";
    EXPECT_EQ(0, probe.StateNum(2, "iToRead")) << "unread count out of step after a million bytes";
}

// ---------------------------------------------------------------- port settings from the device file

// Keys of the file as "Key=value;" in file order, line ends dropped.
std::string Keys(const std::string &text)
{
    std::string out, line;
    std::istringstream is(text);
    while (std::getline(is, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '[')
            continue;
        out += line + ";";
    }
    return out;
}

// fnOpenPort on a fresh line for every case (a pty accepts a parity setting
// only the first time it is applied). The probe's watcher thread finds the
// message box by its caption "!! Error !!", reads its text and presses OK.
// The line settings handed to the device are those the layer traced right
// before it gave them over ("-": none were).
TEST_F(CommsLine, OpenPortReadsTheDeviceFileAndWritesDefaultsBack)
{
    char szDir[] = "/tmp/commsiniXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(szDir));
    std::string ini = std::string(szDir) + "/dev_101.ini";
    ASSERT_TRUE(probe.Start()) << probe.why;
    const char *k8N1 = "38400 8 0 0";     // baud, data bits, parity and stop-bit codes
    const char *kNo5 = "COM5_does_not_exist|or_is_already_in_use|Oh_Dear!";
    const char *kNo300 = "COM300_does_not_exist|or_is_already_in_use|Oh_Dear!";
    struct Case {
        const char *pszName, *pszFile, *pszDefParity;
        const char *pszResult, *pszBox, *pszHanded, *pszKeysAfter, *pszState;
    } aCase[] = {
        {"empty section gets every default", "", "N", "4", "-", k8N1,
         "Com=5;Speed=38400;DataBits=8;StopBits=1;Parity=N;XOnXOff=0;Hardware=0;",
         "1 baud=38400 bytesize=8 parity=0 stop=0 cts=0 dsr=0 outx=0 inx=0"},
        {"lower-case e is even and stays", "Parity=e\r\n", "N", "4", "-", "38400 8 2 0",
         "Parity=e;Com=5;Speed=38400;DataBits=8;StopBits=1;XOnXOff=0;Hardware=0;", NULL},
        {"o equals the default O and is rewritten", "Parity=o\r\n", "O", "4", "-", "38400 8 1 0",
         "Parity=O;Com=5;Speed=38400;DataBits=8;StopBits=1;XOnXOff=0;Hardware=0;", NULL},
        {"m is mark", "Parity=m\r\n", "N", "4", "-", "38400 8 3 0", NULL, NULL},
        {"S is space", "Parity=S\r\n", "N", "4", "-", "38400 8 4 0", NULL, NULL},
        {"stop bits 3 mean one and the key stays", "Parity=N\r\nStopBits=3\r\n", "N", "4", "-", k8N1,
         "Parity=N;StopBits=3;Com=5;Speed=38400;DataBits=8;XOnXOff=0;Hardware=0;",
         "1 baud=38400 bytesize=8 parity=0 stop=0"},
        {"stop bits 2", "Parity=N\r\nStopBits=2\r\n", "N", "4", "-", "38400 8 0 2", NULL,
         "1 baud=38400 bytesize=8 parity=0 stop=2"},
        // (A pty forces 8 data bits and no parity: those reach the device
        // but cannot be read back here.)
        {"115200 baud, 7 data bits", "Parity=N\r\nSpeed=115200\r\nDataBits=7\r\n", "N", "4", "-",
         "115200 7 0 0", "Parity=N;Speed=115200;DataBits=7;Com=5;StopBits=1;XOnXOff=0;Hardware=0;",
         "1 baud=115200"},
        {"unsupported speed", "Parity=N\r\nSpeed=1234\r\n", "N", "-1", "Invalid_Baud_Rate", "1234 8 0 0",
         NULL, NULL},
        {"speed that is no number", "Parity=N\r\nSpeed=fast\r\n", "N", "-1", "Invalid_Baud_Rate", "-", NULL,
         NULL},
        {"port 0 fails silently", "Com=0\r\n", "N", "-1", "-", "-", NULL, NULL},
        {"an empty port number is the default", "Com=\r\nParity=N\r\n", "N", "4", "-", k8N1,
         "Com=5;Parity=N;Speed=38400;DataBits=8;StopBits=1;XOnXOff=0;Hardware=0;", NULL},
        {"a port number past 32 bits is held at the int's end, not wrapped to 5",
         "Com=4294967301\r\nParity=N\r\n", "N", "-1",
         "COM2147483647_does_not_exist|or_is_already_in_use|Oh_Dear!", "-", NULL, NULL},
        // The port is opened before the speed is checked: what the line
        // refuses, and a missing port, show the port's box.
        {"a negative speed", "Parity=N\r\nSpeed=-38400\r\n", "N", "-1", kNo5, "-", NULL, NULL},
        {"a missing port and an unsupported speed", "Com=300\r\nParity=N\r\nSpeed=1234\r\n", "N", "-1", kNo300,
         "-", NULL, NULL},
        {"data bits that one byte would cut to 8", "Parity=N\r\nDataBits=264\r\n", "N", "-1", kNo5, "-", NULL, NULL},
        {"data bits the line refuses", "Parity=N\r\nDataBits=9\r\n", "N", "-1", kNo5, "38400 9 0 0", NULL, NULL},
        {"port 300", "Com=300\r\nParity=N\r\n", "N", "-1", kNo300, "-", NULL, NULL},
        {"parity letter that names none", "Parity=X\r\n", "N", "-1", "Invalid_Parity", "-", NULL, NULL},
        // Flow-control keys are read and written back, never applied.
        {"hardware flow control", "Parity=N\r\nHardware=1\r\n", "N", "4", "-", k8N1,
         "Parity=N;Hardware=1;Com=5;Speed=38400;DataBits=8;StopBits=1;XOnXOff=0;",
         "1 baud=38400 bytesize=8 parity=0 stop=0 cts=0 dsr=0 outx=0 inx=0"},
        {"XON/XOFF flow control", "Parity=N\r\nXOnXOff=1\r\n", "N", "4", "-", k8N1,
         "Parity=N;XOnXOff=1;Com=5;Speed=38400;DataBits=8;StopBits=1;Hardware=0;",
         "1 baud=38400 bytesize=8 parity=0 stop=0 cts=0 dsr=0 outx=0 inx=0"},
    };
    for (const Case &c : aCase) {
        SCOPED_TRACE(c.pszName);
        MIXSIM *psLine = msOpen(5, PortsDir().c_str(), NULL, 0);
        ASSERT_NE(nullptr, psLine);
        ASSERT_TRUE(harness::WriteFile(ini, std::string("[Configuration]\r\n") + c.pszFile)) << ini;
        std::string r = probe.Cmd("openport " + harness::WindowsPath(ini) + " Configuration 5 38400 8 1 " +
                                  c.pszDefParity + " 0 0");
        std::string want = std::string(c.pszResult) + " box=" + c.pszBox;
        if (strcmp(c.pszBox, "-") != 0)
            want += " icon=warning owner=1";
        EXPECT_EQ(want, r);
        EXPECT_EQ(c.pszHanded, probe.Cmd("handed")) << "the line settings handed to the device";
        if (c.pszKeysAfter != NULL) {
            EXPECT_EQ(c.pszKeysAfter, Keys(harness::ReadFile(ini)));
        }
        if (c.pszState != NULL) {
            EXPECT_EQ(c.pszState, probe.Cmd("getstate 4").substr(0, strlen(c.pszState)));
        }
        if (r.rfind("4 ", 0) == 0) {
            EXPECT_EQ("0", probe.State(4)["iToRead"]);
            probe.Cmd("close 4");
        }
        EXPECT_EQ("table=0", probe.Cmd("state 4")) << "a failed open must leave no port behind";
        msClose(psLine);
    }
    unlink(ini.c_str());
    rmdir(szDir);
}

TEST_F(CommsLine, CommBreakHoldsTheBreakAndReturns)
{
    StartOpen(5, 0);
    // A pty reports no output queue and carries no break: what shows is that
    // the call holds the break for its length and then returns -- on an open
    // port, on an index with no port, and at a rate below 10 baud (no
    // division by the rate).
    const struct {
        const char *pszCmd, *pszName;
        long lBreakMs;
    } aCase[] = {
        {"break 4 38400 60", "open port", 60},
        {"break 200 9600 40", "index with no port", 40},
        {"break 4 0 40", "a rate below 10 baud", 40},
    };
    for (const auto &c : aCase) {
        long lMs = strtol(probe.Cmd(c.pszCmd).c_str(), NULL, 10);
        EXPECT_GE(lMs, c.lBreakMs - 1) << c.pszName << ": the break must last its length";
        EXPECT_LT(lMs, c.lBreakMs + 5000) << c.pszName << ": and then end";
    }
    EXPECT_EQ("4", probe.Cmd("write 4 032411ff"));
    EXPECT_TRUE(msWaitKind(ps, MSK_STARTUP, 1, kWaitMs)) << "the line works after a break";
}

}  // namespace
