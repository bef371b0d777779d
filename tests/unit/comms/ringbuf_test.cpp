// Ring buffer of the serial layer: order, wrap, partial reads, the full
// buffer, missing buffers and the shared named semaphore.
#include <windows.h>
#include <gtest/gtest.h>
#include <vector>
#include "comms/comms.h"

namespace {

// Tokens far from any device handle value, so that no port shares them.
const UINT kTok = 0xC0DE0001u;

std::vector<BYTE> Pattern(size_t n, unsigned seed)
{
    std::vector<BYTE> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = (BYTE)((i * 131u + seed * 7u + (i >> 8)) & 0xFF);
    return v;
}

struct Buf {
    HGLOBAL h;
    explicit Buf(UINT tok) : h(bInitBuf(tok)) {}
    ~Buf() { bKillBufEx(&h); }
};

// Moves both indices to position pos (empty buffer) by adding and reading.
void SetPosition(HGLOBAL h, UINT pos)
{
    std::vector<BYTE> v(pos ? pos : 1), out(pos ? pos : 1);
    ASSERT_EQ(1, bAddData(h, v.data(), pos));
    ASSERT_EQ(pos, bGetData(h, out.data(), pos));
    LPBUFFER p = (LPBUFFER)GlobalLock(h);
    EXPECT_EQ(pos, p->iBufWritePtr);
    EXPECT_EQ(pos, p->iBufReadPtr);
    GlobalUnlock(h);
}

TEST(RingBuf, NewBufferIsEmptyAndZeroed)
{
    Buf b(kTok);
    ASSERT_NE((HGLOBAL)0, b.h);
    EXPECT_EQ(0, iRemainByteEx(b.h));
    BYTE dest[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(0u, bGetData(b.h, dest, sizeof(dest)));
    for (BYTE c : dest)
        EXPECT_EQ(9, c) << "destination must stay untouched";
    LPBUFFER p = (LPBUFFER)GlobalLock(b.h);
    EXPECT_EQ(0u, p->iBufWritePtr);
    EXPECT_EQ(0u, p->iBufReadPtr);
    for (UINT i = 0; i < COMMS_BUFSIZE; i++)
        ASSERT_EQ(0, p->data[i]) << "at " << i;
    GlobalUnlock(b.h);
    EXPECT_EQ(0, (int)(GlobalFlags(b.h) & GMEM_LOCKCOUNT)) << "every call unlocks the block";
}

TEST(RingBuf, HoldsAtMost16383InOrderAndRefusesMore)
{
    Buf b(kTok);
    std::vector<BYTE> in = Pattern(COMMS_BUFSIZE - 1, 1);
    ASSERT_EQ(1, bAddData(b.h, in.data(), (UINT)in.size()));
    EXPECT_EQ(COMMS_BUFSIZE - 1, iRemainByteEx(b.h));

    // A full buffer keeps what it has: the extra bytes are refused.
    BYTE extra[3] = {0xAA, 0xBB, 0xCC};
    EXPECT_EQ(0, bAddData(b.h, extra, 3));
    EXPECT_EQ(0u, bAddDataCount(b.h, extra, 3));
    EXPECT_EQ(COMMS_BUFSIZE - 1, iRemainByteEx(b.h));

    std::vector<BYTE> out(COMMS_BUFSIZE + 10);
    EXPECT_EQ((UINT)in.size(), bGetData(b.h, out.data(), (UINT)out.size()));
    out.resize(in.size());
    EXPECT_TRUE(in == out) << "bytes came out changed or out of order";
    EXPECT_EQ(0, iRemainByteEx(b.h));
}

TEST(RingBuf, NearlyFullStoresWhatFits)
{
    Buf b(kTok);
    SetPosition(b.h, 16000);        // the free space wraps round the end
    std::vector<BYTE> in = Pattern(COMMS_BUFSIZE - 11, 2);
    ASSERT_EQ(1, bAddData(b.h, in.data(), (UINT)in.size()));
    std::vector<BYTE> more = Pattern(20, 3);
    EXPECT_EQ(10u, bAddDataCount(b.h, more.data(), 20)) << "exactly the 10 free places are used";
    EXPECT_EQ(COMMS_BUFSIZE - 1, iRemainByteEx(b.h));
    LPBUFFER p = (LPBUFFER)GlobalLock(b.h);
    EXPECT_LT(p->iBufWritePtr, (UINT)COMMS_BUFSIZE);
    EXPECT_LT(p->iBufReadPtr, (UINT)COMMS_BUFSIZE);
    GlobalUnlock(b.h);
    std::vector<BYTE> out(COMMS_BUFSIZE);
    ASSERT_EQ((UINT)COMMS_BUFSIZE - 1, bGetData(b.h, out.data(), (UINT)out.size()));
    out.resize(COMMS_BUFSIZE - 1);
    in.insert(in.end(), more.begin(), more.begin() + 10);
    EXPECT_TRUE(in == out);
}

TEST(RingBuf, WrapKeepsOrderAndCount)
{
    Buf b(kTok);
    SetPosition(b.h, COMMS_BUFSIZE - 34);
    std::vector<BYTE> in = Pattern(100, 4);
    ASSERT_EQ(1, bAddData(b.h, in.data(), 100));
    EXPECT_EQ(100, iRemainByteEx(b.h)) << "count with the write index behind the read index";
    std::vector<BYTE> out(100);
    ASSERT_EQ(30u, bGetData(b.h, out.data(), 30));
    EXPECT_EQ(70, iRemainByteEx(b.h));
    ASSERT_EQ(4u, bGetData(b.h, out.data() + 30, 4));     // read index reaches the end
    EXPECT_EQ(66, iRemainByteEx(b.h)) << "count after the read index wrapped";
    ASSERT_EQ(66u, bGetData(b.h, out.data() + 34, 1000));
    EXPECT_TRUE(in == out);
}

TEST(RingBuf, PartialReadsMoveExactlyTheMaximum)
{
    Buf b(kTok);
    std::vector<BYTE> in = Pattern(50, 5), out;
    ASSERT_EQ(1, bAddData(b.h, in.data(), 50));
    const UINT steps[] = {1, 7, 0, 20, 22};
    for (UINT n : steps) {
        BYTE tmp[32];
        UINT before = (UINT)iRemainByteEx(b.h);
        ASSERT_EQ(n, bGetData(b.h, tmp, n)) << "max " << n;
        EXPECT_EQ(before - n, (UINT)iRemainByteEx(b.h));
        out.insert(out.end(), tmp, tmp + n);
    }
    EXPECT_TRUE(in == out);
}

TEST(RingBuf, ZeroCountAddChangesNothing)
{
    Buf b(kTok);
    BYTE x = 1;
    EXPECT_EQ(1, bAddData(b.h, &x, 0));
    EXPECT_EQ(0, iRemainByteEx(b.h));
}

TEST(RingBuf, MissingBufferGivesItsResults)
{
    BYTE d[4] = {7, 7, 7, 7};
    EXPECT_EQ(0, bAddData(0, d, 4));
    EXPECT_EQ(0u, bAddDataCount(0, d, 4));
    EXPECT_EQ(0u, bGetData(0, d, 4));
    EXPECT_EQ(-1, iRemainByteEx(0));
    bKillBuf(0);
    HGLOBAL h = 0;
    bKillBufEx(&h);
    EXPECT_EQ((HGLOBAL)0, h);
    EXPECT_EQ(0, bAddByte(NULL, 1));

    // After destruction the holder's handle is 0 and behaves as missing.
    HGLOBAL hb = bInitBuf(kTok);
    ASSERT_NE((HGLOBAL)0, hb);
    bKillBufEx(&hb);
    EXPECT_EQ((HGLOBAL)0, hb);
    EXPECT_EQ(-1, iRemainByteEx(hb));
}

TEST(RingBuf, KillDropsLeftoverLocks)
{
    HGLOBAL h = bInitBuf(kTok);
    ASSERT_NE((HGLOBAL)0, h);
    GlobalLock(h);
    GlobalLock(h);
    bKillBuf(h);      // must free the block despite the two locks
    EXPECT_EQ(GMEM_INVALID_HANDLE, GlobalFlags(h)) << "block still exists";
}

TEST(RingBuf, SameTokenSharesTheSemaphore)
{
    const UINT tok = 0xC0DE0002u;
    Buf a(tok), b(tok);
    ASSERT_NE((HGLOBAL)0, a.h);
    ASSERT_NE((HGLOBAL)0, b.h);
    BYTE one[3] = {1, 2, 3}, two[2] = {4, 5};
    ASSERT_EQ(1, bAddData(a.h, one, 3));
    ASSERT_EQ(1, bAddData(b.h, two, 2));

    // Held by somebody else (here: this thread, by name), both buffers wait
    // 200 ms and give their "not obtained" results, unchanged.
    HANDLE hSem = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, "C0DE0002BUFSEM");
    ASSERT_NE((HANDLE)NULL, hSem) << "semaphore name must be the token in hex + BUFSEM";
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hSem, 5000));
    BYTE d[8];
    EXPECT_EQ(0, bAddData(a.h, one, 3));
    EXPECT_EQ(0u, bGetData(b.h, d, 8));
    EXPECT_EQ(-1, iRemainByteEx(a.h));
    EXPECT_EQ(-1, iRemainByteEx(b.h));
    EXPECT_EQ(0, (int)(GlobalFlags(a.h) & GMEM_LOCKCOUNT)) << "time-out must unlock the block";
    ReleaseSemaphore(hSem, 1, NULL);
    CloseHandle(hSem);

    EXPECT_EQ(3, iRemainByteEx(a.h));
    EXPECT_EQ(2, iRemainByteEx(b.h));
    ASSERT_EQ(3u, bGetData(a.h, d, 8));
    EXPECT_EQ(0, memcmp(d, one, 3));
    ASSERT_EQ(2u, bGetData(b.h, d, 8));
    EXPECT_EQ(0, memcmp(d, two, 2));
}

// A writer thread and a reader thread on one buffer: every byte arrives once,
// in order, with the count never outside 0..16383.
TEST(RingBuf, TwoThreadsKeepEveryByteInOrder)
{
    Buf b(0xC0DE0003u);
    const size_t total = 400000;
    std::vector<BYTE> in = Pattern(total, 6), out;
    out.reserve(total);
    struct Ctx { HGLOBAL h; const std::vector<BYTE> *in; } ctx = {b.h, &in};
    HANDLE hThread = CreateThread(NULL, 0, [](LPVOID pv) WINAPI -> DWORD {
        Ctx *c = (Ctx *)pv;
        size_t pos = 0;
        DWORD dwStart = GetTickCount();
        while (pos < c->in->size() && GetTickCount() - dwStart < 120000) {
            UINT n = (UINT)std::min<size_t>(256, c->in->size() - pos);
            pos += bAddDataCount(c->h, c->in->data() + pos, n);  // refused bytes are offered again
            if (pos < c->in->size())
                Sleep(0);
        }
        return 0;
    }, &ctx, 0, NULL);
    ASSERT_NE((HANDLE)NULL, hThread);
    DWORD dwStart = GetTickCount();
    BYTE tmp[1000];
    while (out.size() < total && GetTickCount() - dwStart < 120000) {
        int rem = iRemainByteEx(b.h);
        ASSERT_GE(rem, -1);
        ASSERT_LE(rem, COMMS_BUFSIZE - 1);
        UINT n = bGetData(b.h, tmp, (UINT)(out.size() % 997 + 1));
        out.insert(out.end(), tmp, tmp + n);
        if (n == 0)
            Sleep(0);
    }
    WaitForSingleObject(hThread, 10000);
    CloseHandle(hThread);
    ASSERT_EQ(total, out.size());
    EXPECT_TRUE(in == out);
}

}  // namespace
