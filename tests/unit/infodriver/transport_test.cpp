// The ZARN32 transport: the exact block layout of requests and replies, and
// the request/reply exchange between two real processes (this exe re-run with
// --child=peer as the other end), including replies nested in the waiting
// send, a request made from inside a handler, and 16-bit truncation.
#include <gtest/gtest.h>
#include "run_tests.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/child_proc.h"
#include "infodriver/zarn32.h"

namespace {

// Messages of the test peer (see PeerProc).
enum {
    MSG_ECHO = 3000,        // text: block left as it came; result 1
    MSG_ANSWER = 3001,      // text: block rewritten to "reply:<text>"; result -1
    MSG_NUM_VALUE = 3003,   // numeric: result = the value
    MSG_NUM_PARAM = 3004,   // numeric: result = the parameter
    MSG_NESTED = 3005,      // text: asks the parent (MSG_PARENT_TEXT) from inside the handler
    MSG_RAW_DESCRIBE = 3010,// raw peer: reply text describes the request's record
    MSG_RAW_SHORT = 3012,   // raw peer: reply block of only 5 bytes, result 9
    MSG_SHORT_TO_PARENT = 3013,  // peer sends the parent a 3-byte unterminated request
    MSG_RAW_SILENT = 3014,  // raw peer: handled, never replied to
    MSG_NESTED_SILENT = 3015,    // raw peer: asks the parent (MSG_PARENT_ASKS), then no reply
    MSG_PARENT_TEXT = 3100, // parent: answers "from-parent", result 42
    MSG_PARENT_SHORT = 3101,// parent: records what it got, answers 100 'a's, result 43
    MSG_PARENT_ASKS = 3102  // parent: asks the peer MSG_ANSWER "inner" from its handler
};

// A record of one WM_COPYDATA as it arrived at a window.
struct RawCds {
    ULONG_PTR dwData;
    DWORD cbData;
    std::string sBytes;
};

// ================================================================ in-process

// A raw receiver: records every WM_COPYDATA; answers a request with the
// block sRawReply (result wRawResult) by hand, or, while that is empty, not at all.
std::vector<RawCds> vRaw;
std::string sRawReply;
WORD wRawResult;
LRESULT CALLBACK RawProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COPYDATA) {
        const COPYDATASTRUCT *p = (const COPYDATASTRUCT *)lParam;
        vRaw.push_back({p->dwData, p->cbData, std::string((const char *)p->lpData, p->cbData)});
        if (!sRawReply.empty() && ((p->dwData >> 16) & 0xFFFF) != COPYDATA_REPLY) {
            std::string sBlock = sRawReply;
            COPYDATASTRUCT r = {((ULONG_PTR)COPYDATA_REPLY << 16) | wRawResult, (DWORD)sBlock.size(),
                                &sBlock[0]};
            SendMessageA((HWND)wParam, WM_COPYDATA, (WPARAM)hWnd, (LPARAM)&r);
        }
        return 1;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

// The own window of the receive side: records the requests delivered to it,
// and runs the transport for the copy-data it receives (replies included).
struct Delivered {
    UINT uMsg;
    WPARAM wParam;
    LPARAM lParam;
    std::string sText;   // for text requests
};
std::vector<Delivered> vDelivered;
bool fOwnIsText = true;
const char *pszOwnAnswer;   // non-null: written into the block
LRESULT lOwnResult;
LRESULT CALLBACK OwnProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COPYDATA) {
        ZARN32RxMessage(hWnd, (HWND)wParam, (PCOPYDATASTRUCT)lParam);
        return 1;
    }
    if (msg >= 2000 && msg < 4000) {
        Delivered d{msg, wParam, lParam, ""};
        if (fOwnIsText) {
            d.sText = (const char *)lParam;
            if (pszOwnAnswer != nullptr)
                strcpy((char *)lParam, pszOwnAnswer);
        }
        vDelivered.push_back(d);
        return lOwnResult;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

class TransportLayout : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Message-only: reachable by handle, invisible to the hook's window enumeration.
        hRaw_ = MakeWindow("", RawProc, "TransportRaw", 0, HWND_MESSAGE);
        hOwn_ = MakeWindow("", OwnProc, "TransportOwn", 0, HWND_MESSAGE);
        ASSERT_TRUE(hRaw_ && hOwn_);
        vRaw.clear();
        vDelivered.clear();
        sRawReply.clear();
        wRawResult = 0;
        fOwnIsText = true;
        pszOwnAnswer = nullptr;
        lOwnResult = 0;
    }
    void TearDown() override
    {
        DestroyWindow(hRaw_);
        DestroyWindow(hOwn_);
    }
    HWND hRaw_, hOwn_;
};

// A block of the transport's size for a text or a number, sText at its start.
std::string Block(const std::string &sText, size_t cb)
{
    std::string s = sText;
    s.resize(cb, '\0');
    return s;
}
std::string TextBlock(const std::string &sText) { return Block(sText, ZARN32_TEXT_BLOCK); }
std::string NumBlock(const char *pszHex) { return Block(pszHex, ZARN32_NUM_BLOCK); }

TEST_F(TransportLayout, RequestRecords)
{
    std::string sLong(600, 'L');
    struct {
        UINT uMsg, wParam;
        LPARAM lParam;
        int iType;
        ULONG_PTR dwData;
        std::string sBlock;
    } aCases[] = {
        {2726, 4095, (LPARAM) "hello", 1, 0x0AA60FFF, TextBlock("hello")},
        {2726, 12 + 32768, (LPARAM) "1", 1, 0x0AA6800C, TextBlock("1")},
        {2727, 0x12345, (LPARAM) "", 1, 0x0AA72345, TextBlock("")},   // parameter cut to 16 bits
        {0x10BB8, 1, (LPARAM) "x", 1, 0x0BB80001, TextBlock("x")},    // message number cut too
        {3000, 0, (LPARAM)sLong.c_str(), 1, 0x0BB80000, TextBlock(std::string(512, 'L'))},
        {3000, 7, (LPARAM)-1, 0, 0x0BB80007, NumBlock("ffffffff")},
        {3000, 7, (LPARAM)255, 0, 0x0BB80007, NumBlock("000000ff")},
        {3000, 7, (LPARAM)0x7FFFFFFF, 2, 0x0BB80007, NumBlock("7fffffff")},   // any type but 1 is numeric
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE("message " + std::to_string(c.uMsg) + " param " + std::to_string(c.wParam));
        vRaw.clear();
        ZARN32SendMessage(hOwn_, hRaw_, c.uMsg, c.wParam, c.lParam, 0, c.iType);
        ASSERT_EQ(1u, vRaw.size());
        EXPECT_EQ(c.dwData, vRaw[0].dwData);
        EXPECT_EQ(c.sBlock.size(), vRaw[0].cbData);
        EXPECT_EQ(c.sBlock, vRaw[0].sBytes);
    }
}

// A reply is recorded as it arrives; a send hands out the reply that came
// during it, and iReturnDataLen decides how much of its text is copied back.
TEST_F(TransportLayout, ReplyRecordingAndCopyBack)
{
    std::string sReply("abc\0", 4);
    sReply.resize(ZARN32_TEXT_BLOCK, 'T');   // bytes after the terminator come along
    COPYDATASTRUCT cds = {((ULONG_PTR)COPYDATA_REPLY << 16) | 7, ZARN32_TEXT_BLOCK, &sReply[0]};
    ZARN32RxMessage(hOwn_, hRaw_, &cds);
    EXPECT_STREQ("abc", acCopyDataResult);
    EXPECT_EQ(7, lCopyDataResult);
    EXPECT_TRUE(vDelivered.empty()) << "a reply is never passed to the own window";
    EXPECT_TRUE(vRaw.empty()) << "a reply is not answered";
    EXPECT_EQ(0, acCopyDataResult[513]);

    sRawReply = sReply;
    wRawResult = 7;
    struct {
        int iLen;
        size_t cCopied;
    } aLens[] = {{0, 0}, {1, 1}, {256, 256}, {513, 513}, {1000, 513}, {-5, 0}};
    for (const auto &l : aLens) {
        SCOPED_TRACE("iReturnDataLen " + std::to_string(l.iLen));
        char acBuf[700];
        memset(acBuf, 'Z', sizeof acBuf);
        acBuf[0] = 'q';
        acBuf[1] = '\0';
        EXPECT_EQ(7, ZARN32SendMessage(hOwn_, hRaw_, 3000, 0, (LPARAM)acBuf, l.iLen, 1));
        std::string sExpect = sReply.substr(0, l.cCopied) + (l.cCopied == 0 ? std::string("q") : "");
        EXPECT_EQ(sExpect, std::string(acBuf, sExpect.size()));
        size_t iFirstUntouched = l.cCopied < 2 ? 2 : l.cCopied;
        EXPECT_EQ('Z', acBuf[iFirstUntouched]) << "copied more than asked";
    }

    // A numeric reply records only its result code.
    COPYDATASTRUCT num = {((ULONG_PTR)COPYDATA_REPLY << 16) | 0xFFFF, ZARN32_NUM_BLOCK,
                          (void *)"0000000100000000"};
    ZARN32RxMessage(hOwn_, hRaw_, &num);
    EXPECT_EQ(65535, lCopyDataResult);
    EXPECT_STREQ("abc", acCopyDataResult);
    // ... so a text request answered with a number gets its code, no text.
    sRawReply = NumBlock("0000002a");
    wRawResult = 4;
    char acKeep[16] = "keep";
    EXPECT_EQ(4, ZARN32SendMessage(hOwn_, hRaw_, 3000, 0, (LPARAM)acKeep, 256, 1));
    EXPECT_STREQ("keep", acKeep);

    // A reply shorter than 513 bytes is never read past its end.
    char acShort[] = "abcdeXYZ";
    COPYDATASTRUCT shortReply = {((ULONG_PTR)COPYDATA_REPLY << 16) | 9, 5, acShort};
    ZARN32RxMessage(hOwn_, hRaw_, &shortReply);
    EXPECT_STREQ("abcde", acCopyDataResult);
    EXPECT_EQ(std::string(ZARN32_TEXT_BLOCK - 5, '\0'), std::string(acCopyDataResult + 5, ZARN32_TEXT_BLOCK - 5));
    EXPECT_EQ(9, lCopyDataResult);
}

// No reply during the send -- the window ignores the request, or it is gone
// -- is reported, and the caller's buffer is left alone; the stale record of
// an earlier reply is never handed out. A real reply afterwards is returned.
TEST_F(TransportLayout, SendWithoutReplyReportsItAndLeavesTheBuffer)
{
    HWND hGone = MakeWindow("", RawProc, "TransportGone", 0, HWND_MESSAGE);
    ASSERT_TRUE(DestroyWindow(hGone));
    std::string sStale = TextBlock("stale");
    COPYDATASTRUCT stale = {((ULONG_PTR)COPYDATA_REPLY << 16) | 5, ZARN32_TEXT_BLOCK, &sStale[0]};
    struct {
        const char *pszName;
        HWND *phTarget;
        int iType;
    } aCases[] = {
        {"text, handler never replies", &hRaw_, 1},
        {"number, handler never replies", &hRaw_, 0},
        {"text, window gone", &hGone, 1},
        {"number, window gone", &hGone, 0},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        ZARN32RxMessage(hOwn_, hRaw_, &stale);   // an earlier exchange's reply
        sRawReply.clear();
        char acBuf[600];
        memset(acBuf, 'Z', sizeof acBuf);
        strcpy(acBuf, "request");
        std::string sBefore(acBuf, sizeof acBuf);
        LPARAM lParam = c.iType == 1 ? (LPARAM)acBuf : (LPARAM)77;
        EXPECT_EQ(ZARN32_NO_REPLY, ZARN32SendMessage(hOwn_, *c.phTarget, 3000, 1, lParam, 513, c.iType));
        EXPECT_EQ(sBefore, std::string(acBuf, sizeof acBuf)) << "the caller's buffer was written";

        // The next exchange gets its own reply, not the stale one.
        sRawReply = TextBlock("fresh");
        wRawResult = 3;
        EXPECT_EQ(3, ZARN32SendMessage(hOwn_, hRaw_, 3000, 2, (LPARAM)acBuf, 513, 1));
        EXPECT_STREQ("fresh", acBuf);
    }

    // Both ends in this process, both through the transport: the peer's reply
    // is itself a send, and must not take the place of the request it answers.
    pszOwnAnswer = "self";
    lOwnResult = 9;
    char acBuf[ZARN32_TEXT_BLOCK] = "ask";
    EXPECT_EQ(9, ZARN32SendMessage(hOwn_, hOwn_, 3000, 0, (LPARAM)acBuf, 256, 1));
    EXPECT_STREQ("self", acBuf);
}

TEST_F(TransportLayout, RequestsAreDeliveredAndAnswered)
{
    struct {
        const char *pszName;
        std::string sBlock;   // request block (its size is cbData)
        bool fText;
        const char *pszAnswer;
        LRESULT lResult;
        std::string sSeen;        // text or "" for numeric
        LPARAM lSeenValue;        // numeric value seen (numeric only)
        ULONG_PTR dwReply;
        std::string sReplyBlock;
    } aCases[] = {
        {"text, answer written", TextBlock("hi"), true, "answer", 5, "hi", 0, 0x0BA80005,
         TextBlock("answer")},
        {"text, block unchanged", TextBlock("hi"), true, nullptr, 1, "hi", 0, 0x0BA80001, TextBlock("hi")},
        {"result -1 travels as 65535", TextBlock("x"), true, nullptr, -1, "x", 0, 0x0BA8FFFF,
         TextBlock("x")},
        {"result cut to 16 bits", TextBlock("x"), true, nullptr, 0x12345, "x", 0, 0x0BA82345,
         TextBlock("x")},
        {"short unterminated block", "xyz", true, nullptr, 1, "xyz", 0, 0x0BA80001, TextBlock("xyz")},
        {"short block, long answer", "xyz", true, "0123456789", 1, "xyz", 0, 0x0BA80001,
         TextBlock("0123456789")},
        {"other lengths are text", std::string("twenty bytes of text", 20), true, nullptr, 1,
         "twenty bytes of text", 0, 0x0BA80001, TextBlock("twenty bytes of text")},
        {"513 bytes, no terminator", std::string(513, 'm'), true, nullptr, 1, std::string(513, 'm'), 0,
         0x0BA80001, TextBlock(std::string(512, 'm'))},
        {"numeric -1", NumBlock("ffffffff"), false, nullptr, -1, "", -1, 0x0BA8FFFF, NumBlock("ffffffff")},
        {"numeric 255", NumBlock("000000ff"), false, nullptr, 2, "", 255, 0x0BA80002, NumBlock("000000ff")},
        {"16 bytes are always a number", std::string("hello, sixteen!!", 16), false, nullptr, 0, "", 0,
         0x0BA80000, NumBlock("00000000")},
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        vRaw.clear();
        vDelivered.clear();
        fOwnIsText = c.fText;
        pszOwnAnswer = c.pszAnswer;
        lOwnResult = c.lResult;
        COPYDATASTRUCT cds = {((ULONG_PTR)2727 << 16) | 0x1234, (DWORD)c.sBlock.size(), &c.sBlock[0]};
        ZARN32RxMessage(hOwn_, hRaw_, &cds);
        ASSERT_EQ(1u, vDelivered.size());
        EXPECT_EQ(2727u, vDelivered[0].uMsg);
        EXPECT_EQ(0x1234u, vDelivered[0].wParam);
        if (c.fText) {
            EXPECT_EQ(c.sSeen, vDelivered[0].sText);
        } else {
            EXPECT_EQ(c.lSeenValue, vDelivered[0].lParam);
        }
        ASSERT_EQ(1u, vRaw.size()) << "exactly one reply";
        EXPECT_EQ(c.dwReply, vRaw[0].dwData);
        EXPECT_EQ(c.sReplyBlock, vRaw[0].sBytes);
    }
}

// ================================================================ two processes

// Parent side: its window runs the transport and answers the peer's requests.
int cReplies, cNestedReplies;
bool fInSend;
std::string sParentShortSeen;
LONG lParentInner;          // MSG_PARENT_ASKS: what the parent's inner send got
std::string sParentInner;
LRESULT CALLBACK ParentProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_COPYDATA: {
        const COPYDATASTRUCT *p = (const COPYDATASTRUCT *)lParam;
        if (((p->dwData >> 16) & 0xFFFF) == COPYDATA_REPLY) {
            cReplies++;
            if (fInSend)
                cNestedReplies++;
        }
        ZARN32RxMessage(hWnd, (HWND)wParam, (PCOPYDATASTRUCT)lParam);
        return 1;
    }
    case MSG_PARENT_TEXT:
        strcpy((char *)lParam, "from-parent");
        return 42;
    case MSG_PARENT_SHORT:
        sParentShortSeen = (const char *)lParam;
        memset((char *)lParam, 'a', 100);
        ((char *)lParam)[100] = '\0';
        return 43;
    case MSG_PARENT_ASKS: {
        char acBuf[ZARN32_TEXT_BLOCK] = "inner";
        lParentInner = ZARN32SendMessage(hWnd, (HWND)wParam, MSG_ANSWER, 0, (LPARAM)acBuf, 256, 1);
        sParentInner = acBuf;
        return 44;
    }
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

// Peer side (child process).
HWND hPeerParent;
DWORD cbPeerLastReply;
LRESULT CALLBACK PeerProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_COPYDATA: {
        const COPYDATASTRUCT *p = (const COPYDATASTRUCT *)lParam;
        UINT uMsg = (UINT)((p->dwData >> 16) & 0xFFFF);
        HWND hFrom = (HWND)wParam;
        if (uMsg == MSG_RAW_DESCRIBE) {
            // Describe the record as it arrived, and answer by hand.
            char acReply[ZARN32_TEXT_BLOCK] = "";
            const char *pb = (const char *)p->lpData;
            size_t cchText = strnlen(pb, p->cbData);
            bool fZeros = true;
            for (DWORD i = (DWORD)cchText; i < p->cbData; i++)
                fZeros = fZeros && pb[i] == 0;
            snprintf(acReply, sizeof acReply, "dw=%08lx cb=%lu text=%.*s zeros=%d",
                     (unsigned long)p->dwData, (unsigned long)p->cbData, (int)cchText, pb, fZeros);
            COPYDATASTRUCT r = {((ULONG_PTR)COPYDATA_REPLY << 16) | 5, ZARN32_TEXT_BLOCK, acReply};
            SendMessageA(hFrom, WM_COPYDATA, (WPARAM)hWnd, (LPARAM)&r);
            return 1;
        }
        if (uMsg == MSG_RAW_SILENT)
            return 1;
        if (uMsg == MSG_NESTED_SILENT) {
            // The parent's handler makes an exchange of its own with us while
            // its send waits; that send then ends with no reply of its own.
            char acBuf[ZARN32_TEXT_BLOCK] = "";
            ZARN32SendMessage(hWnd, hPeerParent, MSG_PARENT_ASKS, (UINT)(UINT_PTR)hWnd, (LPARAM)acBuf,
                              256, 1);
            return 1;
        }
        if (uMsg == MSG_RAW_SHORT) {
            char acShort[] = "abcdeXYZ";
            COPYDATASTRUCT r = {((ULONG_PTR)COPYDATA_REPLY << 16) | 9, 5, acShort};
            SendMessageA(hFrom, WM_COPYDATA, (WPARAM)hWnd, (LPARAM)&r);
            return 1;
        }
        if (uMsg == COPYDATA_REPLY)
            cbPeerLastReply = p->cbData;
        ZARN32RxMessage(hWnd, hFrom, (PCOPYDATASTRUCT)lParam);
        return 1;
    }
    case MSG_ECHO:
        return 1;
    case MSG_ANSWER: {
        char ac[ZARN32_TEXT_BLOCK];
        snprintf(ac, sizeof ac, "reply:%s", (const char *)lParam);
        strcpy((char *)lParam, ac);
        return -1;
    }
    case MSG_NUM_VALUE:
        return lParam;
    case MSG_NUM_PARAM:
        return (LRESULT)wParam;
    case MSG_NESTED: {
        char acBuf[ZARN32_TEXT_BLOCK] = "";
        LONG lInner = ZARN32SendMessage(hWnd, hPeerParent, MSG_PARENT_TEXT, 0, (LPARAM)acBuf, 256, 1);
        snprintf((char *)lParam, ZARN32_TEXT_BLOCK, "nested:%s inner=%ld", acBuf, (long)lInner);
        return 7;
    }
    case MSG_SHORT_TO_PARENT: {
        char acShort[] = "xyzQQQQ";
        COPYDATASTRUCT r = {((ULONG_PTR)MSG_PARENT_SHORT << 16), 3, acShort};
        cbPeerLastReply = 0;
        SendMessageA(hPeerParent, WM_COPYDATA, (WPARAM)hWnd, (LPARAM)&r);
        snprintf((char *)lParam, ZARN32_TEXT_BLOCK, "cb=%lu result=%ld text=%s",
                 (unsigned long)cbPeerLastReply, (long)lCopyDataResult, acCopyDataResult);
        return 1;
    }
    case WM_TIMER:
        if (!IsWindow(hPeerParent))
            DestroyWindow(hWnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

int RunPeer(const char *pszParent)
{
    hPeerParent = (HWND)(UINT_PTR)strtoul(pszParent, NULL, 16);
    HWND hWnd = MakeWindow("", PeerProc, "TransportPeer", 0, HWND_MESSAGE);
    if (hWnd == NULL)
        return 1;
    SetTimer(hWnd, 1, 200, NULL);   // ends when the parent's window is gone
    printf("ready %x\n", (unsigned)(UINT_PTR)hWnd);
    fflush(stdout);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}

class TransportProcesses : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        hParent_ = MakeWindow("", ParentProc, "TransportParent", 0, HWND_MESSAGE);
        char acArg[64];
        snprintf(acArg, sizeof acArg, "--child=peer %x", (unsigned)(UINT_PTR)hParent_);
        std::string sReady;
        if (peer_.Start(ExePath(), acArg) && peer_.WaitFor("ready ", &sReady))
            hPeer_ = (HWND)(UINT_PTR)strtoul(sReady.c_str() + 6, NULL, 16);
    }
    static void TearDownTestSuite()
    {
        PostMessageA(hPeer_, WM_CLOSE, 0, 0);
        peer_.Stop();
        DestroyWindow(hParent_);
    }
    void SetUp() override
    {
        ASSERT_NE(nullptr, hPeer_) << "the peer process did not start: " << peer_.Error();
    }
    LONG Send(UINT uMsg, UINT wParam, LPARAM lParam, int iLen, int iType)
    {
        fInSend = true;
        cReplies = cNestedReplies = 0;
        LONG l = ZARN32SendMessage(hParent_, hPeer_, uMsg, wParam, lParam, iLen, iType);
        fInSend = false;
        return l;
    }
    static inline HWND hParent_, hPeer_;
    static inline ChildProc peer_;
};

TEST_F(TransportProcesses, TextRequestAndReplyNestedInTheSend)
{
    char acBuf[600];
    memset(acBuf, 'Z', sizeof acBuf);
    strcpy(acBuf, "cam 1");
    EXPECT_EQ(65535, Send(MSG_ANSWER, 0, (LPARAM)acBuf, 256, 1)) << "result -1 comes back as 65535";
    EXPECT_EQ(1, cNestedReplies) << "the reply must arrive while the send waits";
    EXPECT_EQ(1, cReplies);
    EXPECT_STREQ("reply:cam 1", acBuf);
    EXPECT_EQ(std::string(256 - 12, '\0'), std::string(acBuf + 12, 256 - 12));
    EXPECT_EQ('Z', acBuf[256]);

    // A handler that leaves the block as it is answers with the request's text.
    memset(acBuf, 'Z', sizeof acBuf);
    strcpy(acBuf, "unchanged");
    EXPECT_EQ(1, Send(MSG_ECHO, 0, (LPARAM)acBuf, 1000, 1));
    EXPECT_STREQ("unchanged", acBuf);
    EXPECT_EQ('Z', acBuf[513]) << "at most 513 bytes are copied back";

    // iReturnDataLen 0: the caller's buffer stays as it was.
    strcpy(acBuf, "keep");
    EXPECT_EQ(65535, Send(MSG_ANSWER, 0, (LPARAM)acBuf, 0, 1));
    EXPECT_STREQ("keep", acBuf);
}

TEST_F(TransportProcesses, RecordLayoutAcrossProcesses)
{
    char acBuf[600] = "hello";
    EXPECT_EQ(5, Send(MSG_RAW_DESCRIBE, 4095, (LPARAM)acBuf, 513, 1));
    EXPECT_STREQ("dw=0bc20fff cb=513 text=hello zeros=1", acBuf);
    EXPECT_EQ(5, Send(MSG_RAW_DESCRIBE, 0x1ABCD, (LPARAM)-1, 0, 0));
    EXPECT_STREQ("dw=0bc2abcd cb=16 text=ffffffff zeros=1", acCopyDataResult);
    EXPECT_EQ(5, Send(MSG_RAW_DESCRIBE, 1, (LPARAM)255, 0, 0));
    EXPECT_STREQ("dw=0bc20001 cb=16 text=000000ff zeros=1", acCopyDataResult);
}

TEST_F(TransportProcesses, NumbersAndSixteenBitTruncation)
{
    struct {
        UINT uMsg, wParam;
        LPARAM lValue;
        LONG lResult;
    } aCases[] = {
        {MSG_NUM_VALUE, 0, 1, 1},
        {MSG_NUM_VALUE, 0, -1, 65535},
        {MSG_NUM_VALUE, 0, 255, 255},
        {MSG_NUM_VALUE, 0, 0x12345678, 0x5678},
        {MSG_NUM_PARAM, 0x12345, 0, 0x2345},   // only 16 bits of the parameter travel
        {MSG_NUM_PARAM, 0xFFFFF, 0, 0xFFFF},   // ... and never change the message number
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE("message " + std::to_string(c.uMsg) + " param " + std::to_string(c.wParam) +
                     " value " + std::to_string((long long)c.lValue));
        EXPECT_EQ(c.lResult, Send(c.uMsg, c.wParam, c.lValue, 0, 0));
        EXPECT_EQ(1, cNestedReplies);
    }
}

// The peer's handler asks the parent while the parent's send still waits: the
// inner exchange completes first, and the outer send still gets its own reply.
TEST_F(TransportProcesses, RequestFromInsideAHandler)
{
    char acBuf[ZARN32_TEXT_BLOCK] = "outer";
    EXPECT_EQ(7, Send(MSG_NESTED, 0, (LPARAM)acBuf, 256, 1));
    EXPECT_STREQ("nested:from-parent inner=42", acBuf);
    EXPECT_EQ(7, lCopyDataResult);
}

// A peer that handles a request without replying: the send says so and the
// buffer stays, even when an exchange nested in the wait got its own reply.
TEST_F(TransportProcesses, NoReplyFromAPeerIsReportedAndTheNextReplyIsReturned)
{
    struct {
        const char *pszName;
        UINT uMsg;
        int iType;
        bool fNested;
    } aCases[] = {
        {"text", MSG_RAW_SILENT, 1, false},
        {"number", MSG_RAW_SILENT, 0, false},
        {"text, a nested exchange answered meanwhile", MSG_NESTED_SILENT, 1, true},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        char acBuf[600];
        memset(acBuf, 'Z', sizeof acBuf);
        strcpy(acBuf, "mine");
        std::string sBefore(acBuf, sizeof acBuf);
        sParentInner.clear();
        LPARAM lParam = c.iType == 1 ? (LPARAM)acBuf : (LPARAM)5;
        EXPECT_EQ(ZARN32_NO_REPLY, Send(c.uMsg, 0, lParam, 513, c.iType));
        EXPECT_EQ(c.fNested ? 1 : 0, cNestedReplies) << "only the inner exchange was answered";
        EXPECT_EQ(sBefore, std::string(acBuf, sizeof acBuf));
        if (c.fNested) {
            EXPECT_EQ(65535, lParentInner);
            EXPECT_EQ("reply:inner", sParentInner);
        }
        strcpy(acBuf, "again");
        EXPECT_EQ(65535, Send(MSG_ANSWER, 0, (LPARAM)acBuf, 256, 1));
        EXPECT_STREQ("reply:again", acBuf);
    }
}

// Blocks shorter than 513 bytes are never read past their end, either way.
TEST_F(TransportProcesses, ShortBlocksFromAPeer)
{
    char acBuf[600];
    memset(acBuf, 'Z', sizeof acBuf);
    strcpy(acBuf, "q");
    EXPECT_EQ(9, Send(MSG_RAW_SHORT, 0, (LPARAM)acBuf, 513, 1));
    EXPECT_STREQ("abcde", acBuf);
    EXPECT_EQ(std::string(513 - 5, '\0'), std::string(acBuf + 5, 513 - 5));

    sParentShortSeen.clear();
    EXPECT_EQ(1, Send(MSG_SHORT_TO_PARENT, 0, (LPARAM)acBuf, 513, 1));
    EXPECT_EQ("xyz", sParentShortSeen) << "a 3-byte request reads as 3 characters";
    EXPECT_EQ("cb=513 result=43 text=" + std::string(100, 'a'), std::string(acBuf))
        << "the handler's longer answer goes back in a full block";
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && strcmp(argv[1], "--child=peer") == 0)
        return RunPeer(argv[2]);
    return fnRunTests(&argc, argv);
}
