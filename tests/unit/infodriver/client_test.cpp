// The infodriver client against the real stand-in infodrv.exe in its own
// process: hooking, slot reads and writes, fnCheckSlot's traffic, TX/RX mode,
// slot ranges, revertives, unhook at clean-up and the close request. Each test
// hooks its own device (110..139), so tests may run side by side.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/child_proc.h"
#include "infodriver/exinfdrv.h"
#include "infodriver/zarn32.h"

namespace {

// ---- the driver side: a main window and the callback

HWND hHookPeer;                           // the in-process infodriver of the later tests
std::vector<ZARNMSG> vRevertives;        // callback records (test thread only)
int iMirrorDevice;                        // non-zero: the callback writes the text back to slot 4096
const LRESULT lForwardAnswer = 0x4321;
UINT uLastForward;
WPARAM wLastForward;
LPARAM lLastForward;

void fnTestCallback(LPZARNMSG r)
{
    vRevertives.push_back(*r);
    if (iMirrorDevice != 0 && r->wIndex == 4095)
        fnSetSlot(iMirrorDevice, 4096, r->szInfo, 0);
}

LRESULT CALLBACK MainProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == IDMSG_FWD1 || msg == IDMSG_FWD2 || msg == IDMSG_FWD3 || msg == IDMSG_FWD4) {
        uLastForward = msg;
        wLastForward = wParam;
        lLastForward = lParam;
        return lForwardAnswer;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

using Lines = std::vector<std::string>;

// The lines of the stand-in's output that start with pszPrefix, each
// "W <t> <slot> <now> <text>" without its time stamp: "W <slot> <now> <text>".
Lines Journal(const Lines &v, const char *pszPrefix = "")
{
    Lines r;
    for (const std::string &s : v) {
        if (s.compare(0, strlen(pszPrefix), pszPrefix) != 0)
            continue;
        size_t i = s.find(' ');
        size_t j = (i == std::string::npos) ? i : s.find(' ', i + 1);
        r.push_back(j == std::string::npos ? s : s.substr(0, i) + s.substr(j));
    }
    return r;
}

class InfodriverClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        vRevertives.clear();
        iMirrorDevice = 0;
        hMain_ = MakeWindow("client test", MainProc, "InfodriverClientTestMain", WS_OVERLAPPEDWINDOW, NULL,
                            {0, 0, 200, 100});
        ASSERT_NE(hMain_, nullptr);
        ASSERT_EQ(0, fnInitExtInfodriv(hMain_, fnTestCallback));
    }

    void TearDown() override
    {
        if (IsWindow(hMain_))
            DestroyWindow(hMain_);
        if (hHookPeer != NULL)
            DestroyWindow(hHookPeer);
        hHookPeer = NULL;
        fnCleanupExtInfodriv();
        stand_.Stop();
    }

    // Starts the stand-in for a device; hStandIn_ is its window.
    void StartStandIn(int iDevice)
    {
        ASSERT_TRUE(stand_.Start(ExeDir() + "\\infodrv.exe", std::to_string(iDevice)))
            << stand_.Error();
        std::string sReady;
        ASSERT_TRUE(stand_.WaitFor("ready ", &sReady)) << "infodrv.exe did not report ready";
        unsigned uDev = 0, uWnd = 0;
        ASSERT_EQ(2, sscanf(sReady.c_str(), "ready %u %x", &uDev, &uWnd)) << sReady;
        ASSERT_EQ((unsigned)iDevice, uDev);
        hStandIn_ = (HWND)(UINT_PTR)uWnd;
    }

    // Starts the stand-in for a device and hooks it.
    void Hook(int iDevice)
    {
        ASSERT_NO_FATAL_FAILURE(StartStandIn(iDevice));
        BoxPresser box;
        int iHook = fnCreateExtInfodriv(iDevice);
        box.Stop();
        ASSERT_EQ(0, iHook) << "the hook failed with the box: " << box.sText;
        ASSERT_EQ(hStandIn_, fnGetHWND(iDevice)) << "the hooked window is the stand-in's";
        std::string sHooked;
        ASSERT_TRUE(stand_.WaitFor("hooked ", &sHooked));
        unsigned uHooked = 0;
        EXPECT_EQ(1, sscanf(sHooked.c_str(), "hooked %x", &uHooked)) << sHooked;
        EXPECT_EQ((unsigned)((UINT_PTR)hInfodrivWnd & 0xFFFF), uHooked)
            << "the hook carries the hook window's low 16 bits";
    }

    // Everything the stand-in printed since the last call, up to a ping's answer.
    std::vector<std::string> Drain()
    {
        std::vector<std::string> v = stand_.Command("ping");
        EXPECT_EQ("ok", v.back());
        v.pop_back();
        return v;
    }

    HWND hMain_ = NULL;
    HWND hStandIn_ = NULL;
    ChildProc stand_;
};

// The hook goes to each top-level window in turn. A plain HWND_BROADCAST of
// 2724 reaches no window under NT or Wine, so this fails if it comes back.
TEST_F(InfodriverClient, HookFindsStandInByEnumeratedSends)
{
    Hook(110);
    EXPECT_EQ(nullptr, fnGetHWND(111)) << "only the hooked device has an entry";
}

TEST_F(InfodriverClient, SlotWritesCarryIndexNowFlagAndText)
{
    Hook(111);
    EXPECT_EQ(0, fnSetSlot(111, 12, "1", 1));
    EXPECT_EQ(0, fnSetSlot(111, 12, "0", 0));
    EXPECT_EQ(0, fnSetSlot(111, 32767, "last slot", 0));
    EXPECT_EQ(0, fnSetSlotOnly(111, 13, "only"));
    EXPECT_EQ((Lines{"W 12 1 1", "W 12 0 0", "W 32767 0 last slot", "O 13 only"}), Journal(Drain()));
    EXPECT_EQ("ok 0", stand_.Command("get 12").back());
    EXPECT_EQ("ok only", stand_.Command("get 13").back());
}

TEST_F(InfodriverClient, RefusedOperationsSendNothing)
{
    Hook(112);
    DWORD uNoReply = uExtInfodrivNoReply;
    char acBuf[300] = "untouched";
    WORD wMode = 77;
    EXPECT_EQ(1, fnSetSlot(112, 0, "1", 0)) << "slot 0";
    EXPECT_EQ(1, fnSetSlot(112, 32768, "1", 0)) << "slot 32768 would alias slot 0 with fNow";
    EXPECT_EQ(1, fnSetSlotOnly(112, 0, "1"));
    EXPECT_EQ(1, fnGetSlot(112, 0, acBuf));
    EXPECT_EQ(1, fnSetSlot(113, 5, "1", 0)) << "device not hooked";
    EXPECT_EQ(1, fnGetSlot(113, 5, acBuf));
    EXPECT_EQ(0, fnCheckSlot(113, "1", 5, 0)) << "no write can be made: none is reported";
    EXPECT_EQ(1, fnSetTXRXMode(113, 1));
    EXPECT_EQ(1, fnGetTXRXMode(113, &wMode));
    EXPECT_EQ(77, wMode) << "mode untouched when not hooked";
    EXPECT_EQ(1, fnSetTXRXMode(112, 0));
    EXPECT_EQ(1, fnSetTXRXMode(112, 4));
    fnSendSlotRange(112, 10, 9);
    fnSendSlotRange(113, 1, 2);
    EXPECT_STREQ("untouched", acBuf);
    EXPECT_EQ(uNoReply, uExtInfodrivNoReply) << "a refusal is no failed exchange";
    EXPECT_EQ(Lines{}, Drain()) << "the stand-in saw these";
}

// The infodriver's process dies: every exchange fails at once and says so,
// nothing stale comes back, and no write is reported. A new infodriver for
// the device is hooked again without a box, and exchanges work again.
TEST_F(InfodriverClient, InfodriverThatDiedFailsEveryExchangeUntilHookedAgain)
{
    Hook(126);
    ASSERT_EQ("ok", stand_.Command("set 5 1").back());
    char acBuf[300];
    ASSERT_EQ(0, fnGetSlot(126, 5, acBuf));   // the transport's last reply now reads "1"
    // The hard way: no unhook, no goodbye.
    ASSERT_TRUE(TerminateProcess(stand_.Process(), 9));
    stand_.Stop();
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(hStandIn_); }, 30000))
        << "the stand-in's window outlived its process";

    DWORD uNoReply = uExtInfodrivNoReply;
    strcpy(acBuf, "untouched");
    EXPECT_EQ(1, fnGetSlot(126, 5, acBuf));
    EXPECT_STREQ("untouched", acBuf) << "a stale reply was handed out";
    EXPECT_EQ(1, fnSetSlot(126, 5, "0", 0));
    EXPECT_EQ(1, fnSetSlotOnly(126, 5, "0"));
    EXPECT_EQ(0, fnCheckSlot(126, "0", 5, 0)) << "a write to a dead window was reported";
    EXPECT_EQ(0, fnCheckSlot(126, "1", 5, 0));
    EXPECT_EQ(uNoReply + 5, uExtInfodrivNoReply) << "each unanswered exchange counts once";

    {
        BoxPresser box;
        EXPECT_EQ(1, fnRehookExtInfodriv(126));
        box.Stop();
        EXPECT_EQ("", box.sText) << "a run-time hook shows no box";
    }
    ASSERT_NO_FATAL_FAILURE(StartStandIn(126));
    BoxPresser box;
    EXPECT_EQ(0, fnRehookExtInfodriv(126));
    box.Stop();
    EXPECT_EQ("", box.sText);
    EXPECT_EQ(hStandIn_, fnGetHWND(126));
    ASSERT_TRUE(stand_.WaitFor("hooked "));
    uNoReply = uExtInfodrivNoReply;
    EXPECT_EQ(1, fnCheckSlot(126, "1", 5, 0));
    EXPECT_EQ(0, fnGetSlot(126, 5, acBuf));
    EXPECT_STREQ("1", acBuf);
    EXPECT_EQ(uNoReply, uExtInfodrivNoReply);

    // Forgotten: refused without a message, until hooked again.
    fnForgetExtInfodriv(126);
    EXPECT_EQ(nullptr, fnGetHWND(126));
    EXPECT_EQ(1, fnSetSlot(126, 6, "x", 0));
    EXPECT_EQ(uNoReply, uExtInfodrivNoReply);
    EXPECT_EQ(Lines{"W 5 0 1"}, Journal(Drain(), "W "));
}

TEST_F(InfodriverClient, GetSlotCopiesExactly256Bytes)
{
    Hook(114);
    std::string sLong(300, 'q');
    ASSERT_EQ("ok", stand_.Command("set 7 " + sLong).back());
    ASSERT_EQ("ok", stand_.Command("set 8 ab").back());
    char acBuf[400];
    memset(acBuf, 'Z', sizeof acBuf);
    ASSERT_EQ(0, fnGetSlot(114, 7, acBuf));
    EXPECT_EQ(std::string(256, 'q'), std::string(acBuf, 256));
    EXPECT_EQ('Z', acBuf[256]) << "nothing past 256 bytes is written";
    memset(acBuf, 'Z', sizeof acBuf);
    ASSERT_EQ(0, fnGetSlot(114, 8, acBuf));
    EXPECT_STREQ("ab", acBuf);
    EXPECT_EQ(std::string(253, '\0'), std::string(acBuf + 3, 253)) << "the block's zeros come along";
    EXPECT_EQ('Z', acBuf[256]);
    EXPECT_EQ((Lines{"R 7", "R 8"}), Journal(Drain(), "R "));
}

// fnCheckSlot costs one read, and a write only when the text differs.
TEST_F(InfodriverClient, CheckSlotWritesOnlyWhenDifferent)
{
    Hook(115);
    ASSERT_EQ("ok", stand_.Command("set 5 1").back());
    Drain();
    struct {
        const char *pszText;
        int iResult;
        bool fWrite;
    } aCases[] = {
        {"1", 0, 0},
        {"0", 1, 1},
        {"0", 0, 0},
        {"", 1, 1},   // an empty slot reads as the empty text
        {"", 0, 0},
        {"1", 1, 1},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(std::string("text \"") + c.pszText + "\"");
        EXPECT_EQ(c.iResult, fnCheckSlot(115, c.pszText, 5, 1));
        Lines v = Drain();
        EXPECT_EQ(1u, Journal(v, "R ").size());
        EXPECT_EQ(c.fWrite ? Lines{std::string("W 5 1 ") + c.pszText} : Lines{}, Journal(v, "W "));
    }
}

// A slot text of 256 characters or more cannot be seen whole by the 256-byte
// read: it is compared safely and always written.
TEST_F(InfodriverClient, CheckSlotWithLongTextsStaysInBufferAndWrites)
{
    Hook(116);
    for (size_t cch : {255u, 256u, 300u, 512u}) {
        SCOPED_TRACE("length " + std::to_string(cch));
        std::string sText(cch, 'k');
        ASSERT_EQ("ok", stand_.Command("set 9 " + sText).back());
        Drain();
        int iExpected = cch >= 256 ? 1 : 0;
        EXPECT_EQ(iExpected, fnCheckSlot(116, sText.c_str(), 9, 0));
        EXPECT_EQ((size_t)iExpected, Journal(Drain(), "W ").size());
        EXPECT_EQ("ok " + sText, stand_.Command("get 9").back()) << "the whole text is kept";
    }
}

TEST_F(InfodriverClient, TxRxModeSetAndRead)
{
    Hook(117);
    WORD wMode = 99;
    for (WORD w : {1, 2, 3}) {
        EXPECT_EQ(0, fnSetTXRXMode(117, w));
        EXPECT_EQ(std::vector<std::string>{"mode " + std::to_string(w)}, Drain());
    }
    // The stand-in now answers 3: not a mode the client accepts.
    EXPECT_EQ(1, fnGetTXRXMode(117, &wMode));
    EXPECT_EQ(0, wMode);
    for (int iAnswer : {1, 2, 0, -1, 65537}) {
        SCOPED_TRACE("answer " + std::to_string(iAnswer));
        ASSERT_EQ("ok", stand_.Command("mode " + std::to_string(iAnswer)).back());
        wMode = 99;
        int iOk = (iAnswer == 1 || iAnswer == 2);
        EXPECT_EQ(iOk ? 0 : 1, fnGetTXRXMode(117, &wMode));
        EXPECT_EQ(iOk ? iAnswer : 0, wMode);
    }
}

TEST_F(InfodriverClient, SlotRangeSendsOneRevertivePerSlot)
{
    Hook(118);
    for (int i = 10; i <= 12; i++)
        ASSERT_EQ("ok", stand_.Command("set " + std::to_string(i) + " v" + std::to_string(i)).back());
    for (int iLast : {10, 12}) {
        SCOPED_TRACE("slots 10.." + std::to_string(iLast));
        vRevertives.clear();
        fnSendSlotRange(118, 10, iLast);
        EXPECT_EQ(Lines{"range 10 " + std::to_string(iLast)}, Drain());
        ASSERT_EQ((size_t)(iLast - 9), vRevertives.size());
        for (int i = 0; i <= iLast - 10; i++) {
            EXPECT_EQ(10 + i, vRevertives[i].wIndex);
            EXPECT_EQ(118, vRevertives[i].wDevice);
            EXPECT_EQ("v" + std::to_string(10 + i), vRevertives[i].szInfo);
        }
    }
}

// IW and XW reach the callback; every other type, or a revertive that does
// not split, is dropped.
TEST_F(InfodriverClient, OnlyWriteRevertivesReachTheCallback)
{
    Hook(119);
    const char *apszRev[] = {"IW 119 'abc' 4095", "XW 119 0 34", "XC 119 7 34 'hello' 2",
                             "IC 119 7 34 'x'", "IW 119 'abc'", "XR 119 1 2", "  "};
    for (const char *psz : apszRev)
        EXPECT_EQ("ok", stand_.Command(std::string("rev ") + psz).back()) << psz;
    ASSERT_EQ(2u, vRevertives.size());
    EXPECT_STREQ("IW", vRevertives[0].szMsgType);
    EXPECT_EQ(119, vRevertives[0].wDevice);
    EXPECT_EQ(4095, vRevertives[0].wIndex);
    EXPECT_STREQ("abc", vRevertives[0].szInfo);
    EXPECT_STREQ("XW", vRevertives[1].szMsgType);
    EXPECT_EQ(34, vRevertives[1].wIndex);
}

// Another client's write reaches the driver as a revertive; the callback's own
// write (nested inside that revertive, the stand-in waiting) goes back at once.
TEST_F(InfodriverClient, CallbackWritesNestedInsideRevertive)
{
    Hook(120);
    iMirrorDevice = 120;
    EXPECT_EQ((Lines{"W 4096 0 cam 3", "ok"}), Journal(stand_.Command("set 4095 cam 3")))
        << "the nested write is applied before the set ends";
    ASSERT_EQ(1u, vRevertives.size());
    EXPECT_STREQ("cam 3", vRevertives[0].szInfo);
    // The driver's own write is stored, not echoed back to it.
    EXPECT_EQ("ok cam 3", stand_.Command("get 4096").back());
    EXPECT_EQ(1u, vRevertives.size());
}

TEST_F(InfodriverClient, CleanupUnhooksTheInfodriver)
{
    Hook(121);
    DestroyWindow(hMain_);   // as at exit: the hook window is gone first
    fnCleanupExtInfodriv();
    std::string s;
    ASSERT_TRUE(stand_.NextLine(&s));
    EXPECT_EQ("unhooked", s);
}

TEST_F(InfodriverClient, CloseRequestDestroysTheMainWindow)
{
    Hook(122);
    EXPECT_EQ("ok", stand_.Command("close").back());
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(hMain_); }, 30000))
        << "IDMSG_CLOSE must destroy the hook window's parent";
    EXPECT_FALSE(IsWindow(hInfodrivWnd));
}

// A write from a client other than the hooked driver is stored and passed on
// to the driver as a revertive; the driver's own writes are not echoed.
LRESULT CALLBACK OtherClientProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COPYDATA) {
        ZARN32RxMessage(hWnd, (HWND)wParam, (PCOPYDATASTRUCT)lParam);
        return 1;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

TEST_F(InfodriverClient, StandInPassesOtherClientsWritesToTheDriver)
{
    Hook(123);
    HWND hOther = MakeWindow("", OtherClientProc, "InfodriverOtherClient", 0, HWND_MESSAGE);
    ASSERT_NE(nullptr, hOther);

    ZARN32SendMessage(hOther, hStandIn_, IDMSG_SETSLOT, 40, (LPARAM) "from other", 0, ZARN32_TEXT);
    ASSERT_EQ(1u, vRevertives.size()) << "the driver hears of another client's write";
    EXPECT_STREQ("IW", vRevertives[0].szMsgType);
    EXPECT_EQ(40, vRevertives[0].wIndex);
    EXPECT_STREQ("from other", vRevertives[0].szInfo);

    EXPECT_EQ(0, fnSetSlot(123, 41, "own", 0));
    EXPECT_EQ(1u, vRevertives.size()) << "the driver's own write is not echoed";
    EXPECT_EQ((Lines{"W 40 0 from other", "W 41 0 own"}), Journal(Drain()));
    DestroyWindow(hOther);
}

// The control channel the system tests, benchmarks and demo rely on.
TEST(StandInControl, CommandsAnswerOncePerLine)
{
    ChildProc stand;
    ASSERT_TRUE(stand.Start(ExeDir() + "\\infodrv.exe", "124")) << stand.Error();
    ASSERT_TRUE(stand.WaitFor("ready 124 "));
    struct {
        std::string sCommand;
        std::vector<std::string> vExpect;
    } aCases[] = {
        {"ping", {"ok"}},
        {"get 5", {"ok "}},
        {"set 5 two  words ", {"ok"}},
        {"get 5", {"ok two  words "}},
        {"set 7", {"ok"}},   // an empty text
        {"set 9 x", {"ok"}},
        {"dump 1 32767", {"slot 5 two  words ", "slot 9 x", "ok"}},
        {"dump 6 8", {"ok"}},
        {"set 0 x", {"err bad slot"}},
        {"set 32768 x", {"err bad slot"}},
        {"set x 1", {"err bad slot"}},
        {"get 5 6", {"err bad slot"}},
        {"dump 9", {"err bad range"}},
        {"set 6 " + std::string(513, 'a'), {"err text longer than 512 characters"}},
        {"set 6 " + std::string(512, 'a'), {"ok"}},
        {"get 6", {"ok " + std::string(512, 'a')}},
        {"rev IW 124 'a' 1", {"err not hooked"}},
        {"close", {"err not hooked"}},
        {"mode x", {"err bad mode"}},
        {"mode 2", {"ok"}},
        {std::string(3000, 'z'), {"err line longer than 2048 characters"}},
        {"frobnicate 1", {"err unknown command 'frobnicate'"}},
        {"ping\r", {"ok"}},
    };
    for (auto &c : aCases) {
        SCOPED_TRACE("command '" + c.sCommand.substr(0, 40) + "'");
        EXPECT_EQ(c.vExpect, stand.Command(c.sCommand));
    }
    EXPECT_EQ(std::vector<std::string>{"ok"}, stand.Command("quit"));
    EXPECT_EQ(0u, stand.Stop());
}

TEST(StandInControl, EndOfInputEndsTheProgram)
{
    ChildProc stand;
    ASSERT_TRUE(stand.Start(ExeDir() + "\\infodrv.exe", "125")) << stand.Error();
    ASSERT_TRUE(stand.WaitFor("ready 125 "));
    EXPECT_EQ(0u, stand.Stop(60000)) << "closing stdin ends infodrv.exe with exit code 0";
}

// ---- in-process: the hook message's parameters and the forwarded messages

WPARAM wHookW;
LPARAM lHookL;
int cHooks;
int iAnswerDevice;
// The in-process peer's copy-data: every request answered, writes left
// unanswered, or nothing answered at all.
enum { PEER_ANSWERS, PEER_IGNORES_WRITES, PEER_IGNORES_ALL } iPeerMode;
int cPeerWrites;    // writes it stored
// What reached the peer from this thread (sends of other processes, hooks
// among them, are passed over): a copy-data request by the number it
// carries, a plain message by its own. The transport's delivery of a request
// to the peer itself is no arrival.
std::vector<std::string> vPeerSeen;
int iPeerInCopyData;

LRESULT CALLBACK HookPeerProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (!InSendMessage() && msg >= 2000 && msg < 3000 && iPeerInCopyData == 0)
        vPeerSeen.push_back(std::to_string(msg));
    if (msg == WM_COPYDATA) {
        UINT uMsg = (UINT)((((const COPYDATASTRUCT *)lParam)->dwData >> 16) & 0xFFFF);
        if (!InSendMessage())
            vPeerSeen.push_back("copydata " + std::to_string(uMsg));
        if (iPeerMode == PEER_IGNORES_ALL || (iPeerMode == PEER_IGNORES_WRITES && uMsg == IDMSG_SETSLOT))
            return 1;
        iPeerInCopyData++;
        ZARN32RxMessage(hWnd, (HWND)wParam, (PCOPYDATASTRUCT)lParam);
        iPeerInCopyData--;
        return 1;
    }
    if (msg == IDMSG_GETSLOT) {
        strcpy((char *)lParam, "x");
        return 0;
    }
    if (msg == IDMSG_SETSLOT) {
        cPeerWrites++;
        return 0;
    }
    if (msg == IDMSG_HOOK && (lParam & 0x7FFF) == iAnswerDevice) {
        cHooks++;
        wHookW = wParam;
        lHookL = lParam;
        SendMessageA((HWND)(UINT_PTR)(wParam & 0xFFFF), IDMSG_HOOKED, (WPARAM)hWnd, 0);
        return 0;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

// An in-process infodriver window that answers the hook for iDevice.
void HookPeer(int iDevice)
{
    iPeerMode = PEER_ANSWERS;
    cPeerWrites = 0;
    iAnswerDevice = iDevice;
    hHookPeer = MakeWindow("peer", HookPeerProc, "InfodriverHookPeer", WS_OVERLAPPED, NULL, {0, 0, 10, 10});
    ASSERT_NE(nullptr, hHookPeer);
}

TEST_F(InfodriverClient, HookMessageParametersAndDeviceLimit)
{
    ASSERT_NO_FATAL_FAILURE(HookPeer(999));
    cHooks = 0;
    ASSERT_EQ(0, fnCreateExtInfodriv(999));
    EXPECT_EQ(1, cHooks);
    EXPECT_EQ(32768 + 999, lHookL);
    EXPECT_EQ((UINT_PTR)hInfodrivWnd & 0xFFFF, (UINT_PTR)wHookW);
    EXPECT_EQ(hHookPeer, fnGetHWND(999));

    // Above 999: silently refused, nothing goes out (a box would block here).
    iAnswerDevice = 1000 & 0x7FFF;
    cHooks = 0;
    EXPECT_EQ(1, fnCreateExtInfodriv(1000));
    EXPECT_EQ(0, cHooks);
}

// The numbers the infodriver knows the link's messages by, written out once:
// the peer here and the stand-in are built with the client's header, so only
// literal numbers catch one that changed. Out: what reaches the infodriver's
// window; in: what the hook window answers to.
TEST_F(InfodriverClient, MessagesCarryTheInfodriversNumbers)
{
    ASSERT_NO_FATAL_FAILURE(HookPeer(997));
    char acBuf[300];
    WORD wMode;
    const struct {
        const char *pszCall;
        std::function<void()> fn;
        const char *pszSeen;
    } aOut[] = {
        {"hook", [] { fnCreateExtInfodriv(997); }, "2724"},
        {"set slot", [] { fnSetSlot(997, 5, "1", 0); }, "copydata 2726"},
        {"set slot only", [] { fnSetSlotOnly(997, 5, "1"); }, "copydata 2731"},
        {"get slot", [&] { fnGetSlot(997, 5, acBuf); }, "copydata 2727"},
        {"slot range", [] { fnSendSlotRange(997, 3, 4); }, "2723"},
        {"set mode", [] { fnSetTXRXMode(997, 2); }, "2215"},
        {"get mode", [&] { fnGetTXRXMode(997, &wMode); }, "2214"},
    };
    for (const auto &c : aOut) {
        SCOPED_TRACE(c.pszCall);
        vPeerSeen.clear();
        c.fn();
        EXPECT_EQ(std::vector<std::string>{c.pszSeen}, vPeerSeen);
    }
    EXPECT_EQ(0, SendMessageA(hInfodrivWnd, 2729, (WPARAM)hMain_, 0));
    EXPECT_EQ(hMain_, hIDTemp) << "the hook's answer";
    EXPECT_EQ(1, SendMessageA(hInfodrivWnd, 2730, 0, (LPARAM) "IW 997 'x' 6"));
    EXPECT_EQ(1u, vRevertives.size()) << "a revertive";
    EXPECT_EQ(0, SendMessageA(hInfodrivWnd, 2729, 0, 0)) << "a hook answer without a window";
    // Forwarded to the main window, parameters and answer unchanged.
    for (UINT u : {2179u, 2180u, 2181u, 2190u}) {
        uLastForward = 0;
        EXPECT_EQ(lForwardAnswer, SendMessageA(hInfodrivWnd, u, 17, 23)) << u;
        EXPECT_EQ(u, uLastForward);
        EXPECT_EQ(17u, wLastForward);
        EXPECT_EQ(23, lLastForward);
    }
    SendMessageA(hInfodrivWnd, 2175, 0, 0);
    EXPECT_FALSE(IsWindow(hMain_)) << "the close";
    vPeerSeen.clear();
    fnCleanupExtInfodriv();
    EXPECT_EQ(std::vector<std::string>{"2725"}, vPeerSeen) << "the unhook";
}

// fnCheckSlot reports a write only when the infodriver answered it, and
// writes nothing after a read that got no answer. (The peer runs in this
// process: its replies are sends of their own, nested in the client's.)
TEST_F(InfodriverClient, CheckSlotReportsOnlyAnsweredWrites)
{
    ASSERT_NO_FATAL_FAILURE(HookPeer(998));
    ASSERT_EQ(0, fnCreateExtInfodriv(998));
    struct {
        const char *pszName;
        int iMode;
        const char *pszText;
        int iResult;
        int cWrites;      // writes the peer stored
        DWORD dwNoReply;  // unanswered exchanges
    } aCases[] = {
        {"same text: read only", PEER_ANSWERS, "x", 0, 0, 0},
        {"different text: read and write", PEER_ANSWERS, "y", 1, 1, 0},
        {"write not answered", PEER_IGNORES_WRITES, "y", 0, 0, 1},
        {"read not answered: no write", PEER_IGNORES_ALL, "y", 0, 0, 1},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        iPeerMode = (decltype(iPeerMode))c.iMode;
        cPeerWrites = 0;
        DWORD uNoReply = uExtInfodrivNoReply;
        EXPECT_EQ(c.iResult, fnCheckSlot(998, c.pszText, 5, 0));
        EXPECT_EQ(c.cWrites, cPeerWrites);
        EXPECT_EQ(c.dwNoReply, uExtInfodrivNoReply - uNoReply);
    }
    char acBuf[300] = "untouched";
    EXPECT_EQ(1, fnGetSlot(998, 5, acBuf));
    EXPECT_STREQ("untouched", acBuf);
    iPeerMode = PEER_ANSWERS;
    EXPECT_EQ(0, fnGetSlot(998, 5, acBuf));
    EXPECT_STREQ("x", acBuf);
}

// A revertive normally arrives through the transport. A bare IDMSG_REVERTIVE
// is read only where it is safe: from this thread, within readable memory.
TEST_F(InfodriverClient, StrayRevertiveMessagesCannotCrashTheDriver)
{
    EXPECT_EQ(1, SendMessageA(hInfodrivWnd, IDMSG_REVERTIVE, 0, (LPARAM) "junk"));
    EXPECT_EQ(1, SendMessageA(hInfodrivWnd, IDMSG_REVERTIVE, 0, (LPARAM)0x10));
    EXPECT_EQ(1, SendMessageA(hInfodrivWnd, IDMSG_REVERTIVE, 0, 0));
    EXPECT_TRUE(vRevertives.empty());
    EXPECT_EQ(1, SendMessageA(hInfodrivWnd, IDMSG_REVERTIVE, 0, (LPARAM) "IW 5 'x' 6"));
    ASSERT_EQ(1u, vRevertives.size()) << "this thread's own text is accepted";

    // An unterminated text that ends where readable memory ends.
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    char *pc = (char *)VirtualAlloc(NULL, 2 * si.dwPageSize, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(nullptr, pc);
    ASSERT_NE(nullptr, VirtualAlloc(pc, si.dwPageSize, MEM_COMMIT, PAGE_READWRITE));
    memcpy(pc + si.dwPageSize - 8, "XW 5 0 7", 8);
    EXPECT_EQ(1, SendMessageA(hInfodrivWnd, IDMSG_REVERTIVE, 0, (LPARAM)(pc + si.dwPageSize - 8)));
    ASSERT_EQ(2u, vRevertives.size());
    EXPECT_EQ(7, vRevertives[1].wIndex);
    VirtualFree(pc, 0, MEM_RELEASE);

    // From another thread the address may belong to anybody: dropped.
    LRESULT lOther = 0;
    bool fDone = false;
    std::thread other([&] {
        lOther = SendMessageA(hInfodrivWnd, IDMSG_REVERTIVE, 0, (LPARAM) "IW 5 'y' 8");
        fDone = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return fDone; }, 30000));
    other.join();
    EXPECT_EQ(1, lOther);
    EXPECT_EQ(2u, vRevertives.size()) << "a revertive sent from another thread was read";
}

}  // namespace
