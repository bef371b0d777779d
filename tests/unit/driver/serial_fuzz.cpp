// Serial fuzz: seeded pseudo-random byte streams through the link's framing
// and the tally decoder -- garbage, good frames (whole or split at random
// points), bursts of acknowledges and negative acknowledges, count bytes of 0
// and 255 -- checked against a model of the receiver after every read: every
// frame that completes is logged and decoded exactly, nothing else is
// written, slot writes go only to 1..128 and 4094, slots 1..128 always hold
// the last map, the panel shows every change of the link state and the
// counters of every poll, and after a silence of the frame time the next good
// frame decodes exactly and the link heals on the next acknowledge. Time-outs are
// driven by calling the timer handler, as the window timer would after the
// frame time. The decoder and the link are the checked build: an index past
// one of their arrays traps instead of writing past it.
//
// MIXTALLY_FUZZ_BYTES (total bytes, spread over the seeds) and
// MIXTALLY_FUZZ_SEEDS (a comma list, or "random") replace the CI run's
// figures; scripts/bench.sh --fuzz sets them.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <map>
#include <string>
#include <vector>
#include "fakes.h"
#include "support/fuzz.h"
#include "driver/mixtally.h"
#include "driver/publish.h"

namespace {

const uint64_t kCiBytes = 100000;

const char *const kRestart[] = { "flush 8", "flush 4", "break 38400 2", "write 30" };

// What the protocol says the driver must have done; compared after each read.
struct Model {
    std::vector<BYTE> frame;        // frame in progress, count byte first; empty: waiting
    bool fFrameTimer = false;
    bool fTransmitTimer = false;
    int iLink = -1;
    DWORD uErrors = 0;
    DWORD uNetTX = 0;
    bool fStartup = true;
    BYTE abMap[16] = {};            // the map last published
    BYTE abNewest[16];              // the newest decoded, while fPending
    bool fPending = false, fFull = false;
    DWORD uSuperseded = 0, uBatch = 0;
    bool fDecoded = false;          // a map was published since the last check
    std::vector<std::string> vLog;  // expected debug lines since the last check
    std::vector<std::string> vLine; // expected port actions since the last check
    std::map<int, std::vector<std::string>> mPanel;   // expected panel texts since the last check
    size_t cTallyWrites = 0;        // expected writes to 1..128 since the last check

    void Restart()
    {
        vLine.insert(vLine.end(), std::begin(kRestart), std::end(kRestart));
        vLog.push_back("Restarting comms");
    }

    void Complete()
    {
        const std::vector<BYTE> &f = frame;
        fFrameTimer = false;
        vLog.push_back("Parse: " + Hex(f.data(), f.size(), " ", true));
        if (f[0] >= 5 && f[1] == 0x24 && f[2] == 0x91 && f[3] == 0xFF) {
            // Map byte x is carried when mask bit x is set, as the k-th data
            // byte, k the number of set mask bits above x; one the frame does
            // not hold is 0, and so is every byte the mask leaves out.
            unsigned uMask = f[4] * 256u + f[5];
            BYTE abNew[16];
            for (unsigned x = 0; x < 16; x++) {
                size_t k = (size_t)__builtin_popcount(uMask >> (x + 1));
                abNew[x] = (uMask >> x & 1) && 6 + k < f.size() ? f[6 + k] : 0;
            }
            vLog.push_back("Uncompressed data :" + Hex(abNew, 16, " ", true));
            if (fPending) {
                uSuperseded++;
                uBatch++;
            }
            memcpy(abNewest, abNew, 16);
            fPending = true;
            fFull |= fStartup;
        }
        fStartup = false;
        frame.clear();
    }

    // Once every waiting byte is read: the newest map, against the one
    // published before it (which the infodriver holds).
    void Publish()
    {
        if (!fPending)
            return;
        if (uBatch != 0)
            vLog.push_back(std::to_string(uBatch) + (uBatch == 1 ? " map" : " maps") + " superseded (" +
                           std::to_string(uSuperseded) + " in all)");
        size_t cWrites = 0;
        for (int x = 0; x < 16; x++)
            cWrites += fFull ? 8 : (size_t)__builtin_popcount(abNewest[x] ^ abMap[x]);
        cTallyWrites += cWrites;
        uNetTX += (DWORD)cWrites;
        memcpy(abMap, abNewest, 16);
        fPending = fFull = false;
        uBatch = 0;
        fDecoded = true;
    }

    void Link(int iNew)
    {
        if (iLink == iNew)
            return;
        iLink = iNew;
        mPanel[IDC_COMMS].push_back(iNew == 1 ? "OK" : "Fail");
        mPanel[IDC_COMMS].push_back(iNew == 1 ? "/__2F__" : "/__9F__");
    }

    void Byte(BYTE b)
    {
        if (frame.empty()) {
            if (b == 0x84) {
                Link(1);
                fTransmitTimer = false;
            } else if (b == 0x85) {
                uErrors++;
                fTransmitTimer = false;
                vLog.push_back("NAK RESTARTING COMMS");
                Restart();
            } else {
                frame.push_back(b);
                fFrameTimer = true;
            }
            return;
        }
        frame.push_back(b);
        size_t n = frame.size() - 1;
        if (n == frame[0])
            Complete();
        else if (n + 1 >= INBUF_SIZE)
            frame.clear();          // longer than the buffer: dropped, frame timer still armed
    }

    void FrameTimeout()
    {
        fFrameTimer = false;
        frame.clear();
        vLog.push_back("Incoming Message Timeout");
        uErrors++;
        Link(2);
    }

    void TransmitTimeout()
    {
        fTransmitTimer = false;
        vLog.push_back("Transmit Timeout");
        Restart();
        uErrors++;
        Link(2);
    }
};

struct Stats {
    uint64_t ullBytes = 0, ullReads = 0, ullFrames = 0, ullTally = 0, ullNaks = 0, ullFrameTimeouts = 0,
             ullTransmitTimeouts = 0, ullRecoveries = 0, ullSlotWrites = 0;
};

// One seeded run; the failure with seed and byte offset, or "".
class FuzzRun {
public:
    FuzzRun(uint64_t ullSeed, uint64_t ullBytes) : ullSeed_(ullSeed), ullTarget_(ullBytes) { rng_.s = ullSeed; }

    std::string Go(Stats *pst)
    {
        fake::Reset();
        fake::nBoundsViolations = 0;
        // Time stands still for the link: its time-outs come only where the
        // run calls the timer handler.
        fake::dwTicks = 0;
        pfnLinkTicks = fake::Ticks;
        FuzzNote note("serial fuzz", "in the read from byte offset ", ullSeed_);
        // The first frame is a tally frame, so the start-up publication
        // makes slots 1..128 follow the map from then on.
        BYTE abMap[16];
        Queue(GoodFrame(abMap));
        Flush();
        while (sError_.empty() && st_.ullBytes < ullTarget_)
            Segment();
        if (sError_.empty())
            Recovery();
        pfnLinkTicks = GetTickCount;
        st_.ullSlotWrites = uNetTX;
        *pst = st_;
        return sError_;
    }

private:
    void Fail(const std::string &sWhat)
    {
        if (!sError_.empty())
            return;
        char ac[96];
        snprintf(ac, sizeof ac, "seed %llu, after byte offset %llu: ", ullSeed_, st_.ullBytes);
        sError_ = ac + sWhat;
    }

    template <class T>
    void Expect(const char *pszWhat, const T &expected, const T &actual)
    {
        if (!(expected == actual))
            Fail(std::string(pszWhat) + ": expected " + ::testing::PrintToString(expected) + ", got " +
                 ::testing::PrintToString(actual));
    }

    // A good tally frame of a new map (written to abMap): the mask names the
    // non-zero bytes and at times some zero ones; at times surplus bytes follow.
    std::vector<BYTE> GoodFrame(BYTE abMap[16])
    {
        unsigned uMask = 0;
        for (int x = 0; x < 16; x++) {
            abMap[x] = rng_.Pct(50) ? 0 : rng_.Byte();
            if (abMap[x] != 0 || rng_.Pct(10))
                uMask |= 1u << x;
        }
        std::vector<BYTE> f = { 0, 0x24, 0x91, 0xFF, (BYTE)(uMask >> 8), (BYTE)uMask };
        for (int x = 15; x >= 0; x--)
            if (uMask & (1u << x))
                f.push_back(abMap[x]);
        if (rng_.Pct(10))
            for (unsigned i = 1 + rng_.Below(5); i > 0; i--)
                f.push_back(rng_.Byte());
        f[0] = (BYTE)(f.size() - 1);
        return f;
    }

    void Queue(const std::vector<BYTE> &v) { pending_.insert(pending_.end(), v.begin(), v.end()); }

    // Hands the queued bytes to the driver in reads of random sizes, so that
    // frames are split at random points and several messages share a read.
    void Flush()
    {
        while (!pending_.empty() && sError_.empty()) {
            size_t n = std::min<size_t>(rng_.Pct(30) ? 1 + rng_.Below(3) : 1 + rng_.Below(64), pending_.size());
            std::vector<BYTE> v(pending_.begin(), pending_.begin() + (ptrdiff_t)n);
            pending_.erase(pending_.begin(), pending_.begin() + (ptrdiff_t)n);
            Read(v);
        }
    }

    void Read(const std::vector<BYTE> &v)
    {
        FuzzNote::At(st_.ullBytes);
        fake::Receive(v);
        for (BYTE b : v) {
            size_t cBefore = model_.frame.size();
            model_.Byte(b);
            if (cBefore > 0 && model_.frame.empty())
                st_.ullFrames++;
            if (cBefore == 0 && b == 0x85)
                st_.ullNaks++;
        }
        fnRxCommData(hWnd);
        model_.Publish();
        st_.ullBytes += v.size();
        st_.ullReads++;
        Check();
    }

    // A timer's time passes: it fires if it is armed (and the driver must
    // agree that it is), in the model and in the driver.
    void Fire(UINT id, const char *pszWhat, bool Model::*pfArmed, void (Model::*pfnStep)(), uint64_t *pull)
    {
        Flush();
        bool fArmed = KillTimer(hWnd, id) != 0;
        Expect(pszWhat, model_.*pfArmed, fArmed);
        if (fArmed) {
            (model_.*pfnStep)();
            fnTimer(hWnd, id);
            (*pull)++;
        }
        Check();
    }

    void Silence()
    {
        Fire(ID_TIMER_INCOMING, "incoming-message timer armed", &Model::fFrameTimer, &Model::FrameTimeout,
             &st_.ullFrameTimeouts);
        Expect("frame in progress after the frame time", (DWORD)0, uRxCount);
    }

    void Poll()
    {
        Flush();
        model_.vLine.push_back("write 02 ff 80");
        model_.fTransmitTimer = true;
        model_.mPanel[IDC_NETTX].push_back(std::to_string(model_.uNetTX));
        model_.mPanel[IDC_ERRORS].push_back(std::to_string(model_.uErrors));
        fnTimer(hWnd, ID_TIMER_POLL);
        Check();
    }

    // After a silence of the frame time the next good frame decodes exactly,
    // and the link heals on the next acknowledge.
    void Recovery()
    {
        Silence();
        BYTE abMap[16];
        Queue(GoodFrame(abMap));
        Flush();
        if (!sError_.empty())
            return;
        Expect("map decoded after a silence", Hex(abMap, 16), Hex(model_.abMap, 16));
        Read({ 0x84 });
        Expect("link state after the acknowledge", 1, iCommsFail);
        Expect("slot 4094 after the acknowledge", std::string("0"), fake::slots[SLOT_COMMS_STATUS]);
        st_.ullRecoveries++;
    }

    void Segment()
    {
        unsigned k = rng_.Below(100);
        BYTE abMap[16];
        std::vector<BYTE> v;
        if (k < 25) {                       // a good frame
            Queue(GoodFrame(abMap));
        } else if (k < 35) {                // a good frame cut short
            v = GoodFrame(abMap);
            v.resize(1 + rng_.Below((unsigned)v.size() - 1));
            Queue(v);
        } else if (k < 50) {                // garbage
            for (unsigned i = 1 + rng_.Below(64); i > 0; i--)
                v.push_back(rng_.Byte());
            Queue(v);
        } else if (k < 62) {                // a burst of acknowledges and negative acknowledges
            for (unsigned i = 1 + rng_.Below(32); i > 0; i--)
                v.push_back(rng_.Pct(70) ? 0x84 : 0x85);
            Queue(v);
        } else if (k < 72) {                // count byte 0 or 255 and what follows
            v.push_back(rng_.Pct(50) ? 0x00 : 0xFF);
            for (unsigned i = rng_.Below(300); i > 0; i--)
                v.push_back(rng_.Pct(20) ? (BYTE)(0x84 + rng_.Below(2)) : rng_.Byte());
            Queue(v);
        } else if (k < 84) {
            Silence();
        } else if (k < 90) {
            Poll();
        } else if (k < 94) {
            Fire(ID_TIMER_TRANSMIT, "transmit timer armed", &Model::fTransmitTimer, &Model::TransmitTimeout,
                 &st_.ullTransmitTimeouts);
        } else {
            Recovery();
        }
        if (pending_.size() > 256 || rng_.Pct(40))
            Flush();
    }

    void Check()
    {
        if (!sError_.empty())
            return;
        Expect("bytes left unread", (size_t)0, fake::rx.size());
        Expect("reads into the frame buffer that overran it", 0, fake::nBoundsViolations);
        Expect("frame bytes held", (DWORD)model_.frame.size(), uRxCount);
        if (!model_.frame.empty()) {
            Expect("count of the frame in progress", (DWORD)model_.frame[0], uExpectedCount);
            Expect("frame in progress", Hex(model_.frame.data(), model_.frame.size()),
                   Hex(InBuf, model_.frame.size()));
        }
        for (size_t i = model_.frame.size(); i < INBUF_SIZE && sError_.empty(); i++)
            if (InBuf[i] != 0)
                Fail("frame buffer not zero after the frame at index " + std::to_string(i));
        Expect("errors", model_.uErrors, uErrors);
        Expect("link state", model_.iLink, iCommsFail);
        Expect("debug lines", model_.vLog, fake::debugLines);
        Expect("port actions", model_.vLine, fake::line);
        Expect("slot writes counted", model_.uNetTX, uNetTX);
        Expect("panel texts", model_.mPanel, fake::panelTexts);

        size_t cTally = 0;
        for (const fake::SlotWrite &w : fake::writes) {
            bool fSlot = (w.iSlot >= 1 && w.iSlot <= 128) || w.iSlot == SLOT_COMMS_STATUS;
            if (!fSlot || (w.text != "0" && w.text != "1") || w.iDevice != iDeviceNo)
                Fail("bad slot write: device " + std::to_string(w.iDevice) + " slot " + std::to_string(w.iSlot) +
                     " text '" + w.text + "'");
            cTally += w.iSlot <= 128;
        }
        Expect("tally slot writes", model_.cTallyWrites, cTally);
        if (model_.fDecoded) {
            std::string sExpect(128, '0'), sSlots(128, '0');
            for (int s = 1; s <= 128; s++) {
                sExpect[s - 1] = (char)('0' + ((model_.abMap[(s - 1) / 8] >> ((s - 1) % 8)) & 1));
                auto it = fake::slots.find(s);
                sSlots[s - 1] = it == fake::slots.end() ? ' ' : it->second[0];
            }
            Expect("slots 1..128", sExpect, sSlots);
            st_.ullTally++;
        }
        const char *pszStatus = model_.iLink == 1 ? "0" : model_.iLink == 2 ? "1" : "";
        auto it = fake::slots.find(SLOT_COMMS_STATUS);
        Expect("slot 4094", std::string(pszStatus), it == fake::slots.end() ? std::string() : it->second);

        model_.vLog.clear();
        model_.vLine.clear();
        model_.mPanel.clear();
        fake::panelTexts.clear();
        model_.cTallyWrites = 0;
        model_.fDecoded = false;
        fake::debugLines.clear();
        fake::line.clear();
        fake::writes.clear();
    }

    uint64_t ullSeed_, ullTarget_;
    Rng rng_;
    Model model_;
    Stats st_;
    std::vector<BYTE> pending_;
    std::string sError_;
};

TEST(SerialFuzz, SeededStreamsKeepFramingDecodingAndLinkExact)
{
    std::vector<uint64_t> vSeeds = FuzzSeeds({ 1, 2, 0x5EED, 20261208 });
    uint64_t ullPerSeed = (FuzzCount("MIXTALLY_FUZZ_BYTES", kCiBytes) + vSeeds.size() - 1) / vSeeds.size();
    Stats tot;
    for (uint64_t ullSeed : vSeeds) {
        Stats st;
        Stopwatch sw;
        std::string sError = FuzzRun(ullSeed, ullPerSeed).Go(&st);
        double dS = sw.Seconds();
        printf("serial fuzz seed %llu: %llu bytes in %llu reads, %llu frames (%llu tally), %llu NAKs, "
               "%llu frame time-outs, %llu transmit time-outs, %llu recoveries, %llu slot writes; "
               "%.2f s, %.0f bytes/s\n",
               ullSeed, st.ullBytes, st.ullReads, st.ullFrames, st.ullTally, st.ullNaks, st.ullFrameTimeouts,
               st.ullTransmitTimeouts, st.ullRecoveries, st.ullSlotWrites, dS,
               dS > 0 ? (double)st.ullBytes / dS : 0.0);
        fflush(stdout);
        EXPECT_EQ("", sError);
        EXPECT_GE(st.ullBytes, ullPerSeed);
        EXPECT_GT(st.ullRecoveries, 0u);
        tot.ullBytes += st.ullBytes;
        tot.ullFrames += st.ullFrames;
    }
    printf("serial fuzz total: %llu bytes, %llu frames over %zu seeds\n", tot.ullBytes, tot.ullFrames, vSeeds.size());
}

// The decoder reads the frame and the zero fill up to index 21 that its
// callers guarantee, nothing beyond, and never writes into the frame: each
// frame ends where an inaccessible page begins.
TEST(SerialFuzz, DecoderStaysWithinFrameAndZeroFill)
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    BYTE *pbBase = (BYTE *)VirtualAlloc(NULL, 2 * si.dwPageSize, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(nullptr, pbBase);
    ASSERT_NE(nullptr, VirtualAlloc(pbBase, si.dwPageSize, MEM_COMMIT, PAGE_READWRITE));
    BYTE *pbEnd = pbBase + si.dwPageSize;
    fake::Reset();
    Rng rng{ 77 };
    for (int i = 0; i < 20000; i++) {
        unsigned uCount = rng.Pct(40) ? rng.Below(24) : rng.Pct(50) ? 250 + rng.Below(6) : rng.Below(256);
        size_t cb = uCount + 1 < 22 ? 22 : uCount + 1;
        BYTE *pb = pbEnd - cb;
        memset(pb, 0, cb);
        pb[0] = (BYTE)uCount;
        for (unsigned j = 1; j <= uCount; j++)
            pb[j] = rng.Byte();
        if (uCount >= 3 && rng.Pct(60))
            memcpy(pb + 1, "\x24\x91\xFF", 3);
        std::vector<BYTE> vBefore(pb, pbEnd);
        fake::debugLines.clear();
        fake::writes.clear();
        fnParseRxData(pb, uCount);
        fnPublishPending();
        ASSERT_TRUE(std::equal(vBefore.begin(), vBefore.end(), pb)) << "frame " << i << " was written to";
        ASSERT_FALSE(fake::debugLines.empty());
        ASSERT_EQ(10u + 3 * uCount, fake::debugLines[0].size()) << "frame " << i;
        for (const fake::SlotWrite &w : fake::writes)
            ASSERT_TRUE(w.iSlot >= 1 && w.iSlot <= 128) << "slot " << w.iSlot << ", frame " << i;
    }
    VirtualFree(pbBase, 0, MEM_RELEASE);
}

}  // namespace
