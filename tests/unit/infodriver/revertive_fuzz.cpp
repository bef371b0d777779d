// Revertive fuzz: random and mutated revertives go to the hook window as
// WM_COPYDATA, through the transport's receive side and the splitter, to the
// driver's own revertive callback (fnInfoCommand, linked from the program),
// whose mirror writes go back through the transport to a recording
// infodriver window in this process. Random bytes, unbalanced quotes, numbers
// far past 32 bits, texts of 600 bytes, cbData of 0, 1, 16, 512, 513 and 4096
// with NULs inside. Every revertive gets exactly one reply; only IW and XW
// reach the callback, each exactly when its text splits; the mirror writes
// only slots 4095/4096 and only for a callback on the other one; the well-
// formed ones arrive with exactly their fields. The transport and the client
// are the checked build (an index past one of their arrays traps).
//
// MIXTALLY_FUZZ_REVERTIVES and MIXTALLY_FUZZ_SEEDS (first seed) replace the
// CI run's figures; scripts/bench.sh --fuzz sets them.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

#include "driver/mixtally.h"
#include "infodriver/exinfdrv.h"
#include "infodriver/zarn32.h"
#include "support/fuzz.h"
#include "support/wintest.h"

namespace {

const uint64_t kCiRevertives = 100000;
const int kDevice = 150;

// ---- what reaches the callback, the recording infodriver and the sender

std::vector<ZARNMSG> vCalls;

void SpyCallback(LPZARNMSG r)
{
    vCalls.push_back(*r);
    fnInfoCommand(r);
}

struct SlotWrite {
    UINT uMsg;
    WPARAM wParam;
    std::string sText;
};
std::vector<SlotWrite> vWrites;

LRESULT CALLBACK RecorderProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COPYDATA) {
        ZARN32RxMessage(hWnd, (HWND)wParam, (PCOPYDATASTRUCT)lParam);
        return 1;
    }
    if (msg >= 2000 && msg < 3000) {
        vWrites.push_back({ msg, wParam, lParam ? std::string((const char *)lParam) : std::string("<null>") });
        return 0;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

std::vector<DWORD> vReplies;   // cbData of every reply to the sender

LRESULT CALLBACK SenderProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COPYDATA) {
        const COPYDATASTRUCT *p = (const COPYDATASTRUCT *)lParam;
        if (((p->dwData >> 16) & 0xFFFF) == COPYDATA_REPLY)
            vReplies.push_back(p->cbData);
        return 1;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

// ---- revertives

// A well-formed revertive and the record it must give (fExact), or a mutated
// or random one whose outcome only the splitter can tell.
struct Case {
    std::string sBlock;        // the bytes sent (its size is cbData)
    bool fNullData = false;    // lpData NULL (with cbData 0)
    bool fExact = false;
    ZARNMSG expect = {};
    const char *pszKind = "";
};

std::string Number(Rng &r, unsigned *puLow16)
{
    unsigned long long v;
    switch (r.Below(4)) {
    case 0: v = 1 + r.Below(9); break;
    case 1: v = 4095 + r.Below(2); break;
    case 2: v = 1 + r.Below(65535); break;
    default: v = r.Next() % 4000000000ull; break;
    }
    if (puLow16)
        *puLow16 = (unsigned)(v & 0xFFFF);
    return std::to_string(v);
}

std::string Text(Rng &r, size_t cMax)
{
    static const char acChars[] = "abcXYZ 0123456789_-+.,;:!?/()[]{}#~\"\\\t";
    size_t n = r.Pct(10) ? cMax : r.Below((unsigned)cMax + 1);
    std::string s;
    for (size_t i = 0; i < n; i++)
        s += acChars[r.Below(sizeof acChars - 1)];
    // Single quotes at the start are lost (skipped as delimiters); a blank
    // start is fine.
    return s;
}

Case WellFormed(Rng &r)
{
    Case c;
    c.fExact = true;
    c.pszKind = "well-formed";
    unsigned uDev, uIdx, uInfo;
    std::string sDev = Number(r, &uDev), sIdx = Number(r, &uIdx), sInfo = Number(r, &uInfo);
    std::string sWs;
    int iWs = 0;
    if (r.Pct(40)) {
        iWs = (int)r.Below(1000);
        sWs = " " + std::to_string(iWs);
    }
    unsigned k = r.Below(3);
    if (k == 0) {                                   // IW device 'text' index [ws]
        std::string sText = Text(r, 40);
        while (!sText.empty() && sText[0] == '\'')
            sText.erase(0, 1);
        c.sBlock = "IW " + sDev + " '" + sText + "' " + sIdx + sWs;
        strcpy(c.expect.szMsgType, "IW");
        c.expect.wIndex = (WORD)uIdx;
        c.expect.wInfo = (WORD)uIdx;
        snprintf(c.expect.szInfo, sizeof c.expect.szInfo, "%s", sText.c_str());
        c.fExact = !sText.empty();                  // the '' layout: see the splitter
    } else if (k == 1) {                            // XW device info index [ws]
        c.sBlock = "XW " + sDev + " " + sInfo + " " + sIdx + sWs;
        strcpy(c.expect.szMsgType, "XW");
        c.expect.wIndex = (WORD)uIdx;
        c.expect.wInfo = (WORD)uInfo;
    } else {                                        // other types: never passed on
        static const char *const apszTypes[] = { "XC", "IC", "XR", "IR", "RW", "WI", "I", "X" };
        const char *pszType = apszTypes[r.Below(8)];
        c.sBlock = std::string(pszType) + " " + sDev + " " + sInfo + " " + sIdx + sWs;
        strcpy(c.expect.szMsgType, pszType);
    }
    c.expect.wDevice = (WORD)uDev;
    c.expect.iWorkstation = iWs;
    if (c.expect.wDevice == 0 || c.expect.wIndex == 0)
        c.expect.szMsgType[0] = 0;                  // does not split: nothing arrives
    if (c.sBlock.size() > 285)
        c.fExact = false;
    // The block: the text and its terminator, then anything (the bytes after
    // the terminator carry nothing), in one of the sizes a peer may send.
    static const size_t acbSizes[] = { 513, 513, 4096, 600 };
    size_t cb = std::max(acbSizes[r.Below(4)], c.sBlock.size() + 1);
    c.sBlock.push_back('\0');
    while (c.sBlock.size() < cb)
        c.sBlock.push_back(r.Pct(50) ? '\0' : (char)(1 + r.Below(255)));
    return c;
}

std::string HugeNumber(Rng &r)
{
    std::string s = r.Pct(30) ? "-" : r.Pct(20) ? "+" : "";
    s += "1";
    for (unsigned i = 10 + r.Below(40); i > 0; i--)
        s += (char)('0' + r.Below(10));
    return s;
}

Case Mutated(Rng &r)
{
    Case c = WellFormed(r);
    c.fExact = false;
    c.pszKind = "mutated";
    std::string s = c.sBlock.substr(0, c.sBlock.find('\0'));
    switch (r.Below(7)) {
    case 0: {                                       // unbalanced quotes
        size_t q = s.find('\'');
        if (q != std::string::npos && r.Pct(50))
            s.erase(q, 1);
        else
            s.insert(r.Below((unsigned)s.size() + 1), "'");
        break;
    }
    case 1: {                                       // a number far past 32 bits
        size_t b = s.find(' ');
        s = s.substr(0, b == std::string::npos ? s.size() : b) + " " + HugeNumber(r) + " '" + Text(r, 8) + "' " +
            HugeNumber(r) + (r.Pct(50) ? " " + HugeNumber(r) : "");
        break;
    }
    case 2:                                         // a text of 600 bytes
        s = (r.Pct(50) ? "IW 150 '" : "XC 150 3 4095 '") + std::string(600, (char)('a' + r.Below(26))) +
            (r.Pct(70) ? "' 4095" : "");
        break;
    case 3:                                         // a NUL inside the text
        s.insert(r.Below((unsigned)s.size() + 1), 1, '\0');
        break;
    case 4:                                         // tabs and runs of blanks
        for (size_t i = 0; i < s.size(); i++)
            if (s[i] == ' ')
                s.replace(i, 1, r.Pct(50) ? "\t" : "   "), i += 2;
        break;
    case 5:                                         // cut anywhere
        s.resize(r.Below((unsigned)s.size() + 1));
        break;
    default:                                        // a byte changed
        if (!s.empty())
            s[r.Below((unsigned)s.size())] = (char)r.Below(256);
        break;
    }
    static const size_t acbSizes[] = { 0, 1, 512, 513, 4096 };
    size_t cb = r.Pct(60) ? s.size() + 1 : acbSizes[r.Below(5)];
    s.resize(cb, '\0');
    c.sBlock = s;
    return c;
}

Case Random(Rng &r)
{
    Case c;
    c.pszKind = "random";
    static const size_t acbSizes[] = { 0, 1, 16, 512, 513, 4096 };
    size_t cb = r.Pct(70) ? acbSizes[r.Below(6)] : r.Below(5000);
    c.fNullData = cb == 0 && r.Pct(50);
    for (size_t i = 0; i < cb; i++) {
        unsigned k = r.Below(100);
        c.sBlock.push_back(k < 5 ? '\0' : k < 20 ? ' ' : k < 25 ? '\'' : k < 50 ? (char)('0' + r.Below(10))
                                                                        : (char)(1 + r.Below(255)));
    }
    if (cb >= 2 && r.Pct(30)) {
        c.sBlock[0] = r.Pct(50) ? 'I' : 'X';
        c.sBlock[1] = 'W';
    }
    if (cb == 16 && r.Pct(50)) {
        // A numeric block: its "%08lx" value arrives as a bare address.
        char ac[17];
        snprintf(ac, sizeof ac, "%08lx", (unsigned long)(DWORD)r.Next());
        memcpy(&c.sBlock[0], ac, 8);
        memset(&c.sBlock[8], 0, 8);
    }
    return c;
}

struct Totals {
    uint64_t ullCases = 0, ullBytes = 0, ullCalls = 0, ullMirrors = 0, ullExact = 0;
};

class RevertiveFuzz : public ::testing::Test {
protected:
    void SetUp() override
    {
        hMain_ = MakeWindow("", NULL, "RevFuzzMain", 0, NULL, {0, 0, 0, 0});
        hSender_ = MakeWindow("", SenderProc, "RevFuzzSender", 0, HWND_MESSAGE);
        hRecorder_ = MakeWindow("", RecorderProc, "RevFuzzRecorder", 0, HWND_MESSAGE);
        ASSERT_TRUE(hMain_ && hSender_ && hRecorder_);
        ASSERT_EQ(0, fnInitExtInfodriv(hMain_, SpyCallback));
        iDeviceNo = kDevice;
        hIDWnd[kDevice] = hRecorder_;      // the driver's infodriver: the recorder
    }
    void TearDown() override
    {
        hIDWnd[kDevice] = NULL;
        DestroyWindow(hMain_);
        DestroyWindow(hSender_);
        DestroyWindow(hRecorder_);
    }

    // One revertive; the first broken rule, or "".
    std::string One(const Case &c, Totals *pt)
    {
        vCalls.clear();
        vWrites.clear();
        vReplies.clear();
        COPYDATASTRUCT cds;
        cds.dwData = ((ULONG_PTR)IDMSG_REVERTIVE << 16) | (c.sBlock.size() & 0xFFFF);
        cds.cbData = (DWORD)c.sBlock.size();
        cds.lpData = c.fNullData ? NULL : (void *)c.sBlock.data();
        LRESULT lr = SendMessageA(hInfodrivWnd, WM_COPYDATA, (WPARAM)hSender_, (LPARAM)&cds);
        pt->ullCases++;
        pt->ullBytes += c.sBlock.size();
        if (lr != 1)
            return "WM_COPYDATA answered " + std::to_string((long)lr);
        if (vReplies.size() != 1)
            return std::to_string(vReplies.size()) + " replies";
        bool fNumeric = c.sBlock.size() == ZARN32_NUM_BLOCK;
        if (vReplies[0] != (fNumeric ? (DWORD)ZARN32_NUM_BLOCK : (DWORD)ZARN32_TEXT_BLOCK))
            return "reply of " + std::to_string(vReplies[0]) + " bytes";
        if (vCalls.size() > 1)
            return std::to_string(vCalls.size()) + " callbacks";

        // What the hook must have seen: the block's text up to its first NUL,
        // at most 513 bytes (a numeric block is a bare address instead).
        bool fExpectCall = false;
        ZARNMSG split;
        if (!fNumeric) {
            size_t cb = c.fNullData ? 0 : c.sBlock.size() < 513 ? c.sBlock.size() : 513;
            std::string sText(c.sBlock.data(), strnlen(c.sBlock.data(), cb));
            fExpectCall = fnSplitMsg(sText.c_str(), &split) && (split.szMsgType[0] == 'I' ||
                          split.szMsgType[0] == 'X') && split.szMsgType[1] == 'W';
            if (fExpectCall != !vCalls.empty())
                return std::string("callback ") + (vCalls.empty() ? "missing" : "not expected");
        }
        if (!vCalls.empty()) {
            const ZARNMSG &m = vCalls[0];
            pt->ullCalls++;
            if (!((m.szMsgType[0] == 'I' || m.szMsgType[0] == 'X') && m.szMsgType[1] == 'W' && m.szMsgType[2] == 0))
                return std::string("callback with type ") + m.szMsgType;
            if (m.wDevice == 0 || m.wIndex == 0)
                return "callback with device or index 0";
            if (strnlen(m.szInfo, sizeof m.szInfo) >= sizeof m.szInfo)
                return "unterminated text in the record";
            if (fExpectCall && (m.wDevice != split.wDevice || m.wIndex != split.wIndex || m.wInfo != split.wInfo ||
                                strcmp(m.szInfo, split.szInfo) != 0 || m.iWorkstation != split.iWorkstation))
                return "record differs from the split of the text";
        }
        if (c.fExact) {
            pt->ullExact++;
            bool fPassed = c.expect.szMsgType[0] && (c.expect.szMsgType[0] == 'I' || c.expect.szMsgType[0] == 'X') &&
                           c.expect.szMsgType[1] == 'W' && c.expect.szMsgType[2] == 0;
            if (fPassed != !vCalls.empty())
                return std::string("well-formed revertive ") + (fPassed ? "not passed on" : "passed on");
            if (fPassed) {
                const ZARNMSG &m = vCalls[0];
                if (strcmp(m.szMsgType, c.expect.szMsgType) != 0 || m.wDevice != c.expect.wDevice ||
                    m.wIndex != c.expect.wIndex || m.wInfo != c.expect.wInfo ||
                    strcmp(m.szInfo, c.expect.szInfo) != 0 || m.iWorkstation != c.expect.iWorkstation)
                    return "well-formed revertive arrived with other fields";
            }
        }

        // The mirror: one write into the other of 4095/4096, nothing else.
        int iMirror = 0;
        if (!vCalls.empty())
            iMirror = vCalls[0].wIndex == 4095 ? 4096 : vCalls[0].wIndex == 4096 ? 4095 : 0;
        if (vWrites.size() != (iMirror ? 1u : 0u))
            return std::to_string(vWrites.size()) + " slot writes for index " +
                   std::to_string(vCalls.empty() ? 0 : vCalls[0].wIndex);
        if (iMirror) {
            pt->ullMirrors++;
            const SlotWrite &w = vWrites[0];
            if (w.uMsg != IDMSG_SETSLOT || w.wParam != (WPARAM)iMirror || w.sText != vCalls[0].szInfo)
                return "mirror write " + std::to_string(w.uMsg) + " param " + std::to_string(w.wParam) + " '" +
                       w.sText + "'";
        }
        return "";
    }

    HWND hMain_ = NULL, hSender_ = NULL, hRecorder_ = NULL;
};

TEST_F(RevertiveFuzz, OnlyWriteRevertivesReachTheMirrorAndNothingOverruns)
{
    uint64_t ullN = FuzzCount("MIXTALLY_FUZZ_REVERTIVES", kCiRevertives);
    uint64_t ullSeed = FuzzSeeds({ 31 })[0];
    Rng rng{ ullSeed };
    Totals t;
    uint64_t aullKinds[3] = { 0, 0, 0 };
    Stopwatch sw;
    FuzzNote note("revertive fuzz", "revertive #", ullSeed);
    for (uint64_t i = 0; i < ullN; i++) {
        FuzzNote::At(i);
        unsigned k = rng.Below(3);
        aullKinds[k]++;
        Case c = k == 0 ? WellFormed(rng) : k == 1 ? Mutated(rng) : Random(rng);
        std::string sError = One(c, &t);
        if (!sError.empty()) {
            std::string sShown;
            for (char ch : c.sBlock.substr(0, 80)) {
                char ac[8];
                snprintf(ac, sizeof ac, (ch >= 32 && ch < 127) ? "%c" : "\\x%02x", (unsigned char)ch);
                sShown += ac;
            }
            ADD_FAILURE() << "seed " << ullSeed << ", revertive #" << i << " (" << c.pszKind << ", cbData "
                          << c.sBlock.size() << ", starting \"" << sShown << "\"): " << sError;
            break;
        }
    }
    double dS = sw.Seconds();
    printf("revertive fuzz seed %llu: %llu revertives (%llu well-formed, %llu mutated, %llu random), %llu bytes, "
           "%llu reached the callback (%llu checked field by field), %llu mirror writes; %.2f s, %.0f revertives/s\n",
           ullSeed, t.ullCases, aullKinds[0], aullKinds[1], aullKinds[2], t.ullBytes, t.ullCalls, t.ullExact,
           t.ullMirrors, dS, dS > 0 ? (double)t.ullCases / dS : 0.0);
    EXPECT_EQ(ullN, t.ullCases);
    EXPECT_GT(t.ullMirrors, 0u);
}

}  // namespace
