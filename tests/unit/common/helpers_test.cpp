// Small helpers: splitting texts, reading edit controls, the bounded debug
// list, the popup menu, the line log file.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "common/common32.h"
#include "common/panel.h"
#include "test_util.h"

// ---------------------------------------------------------------- fnSplitString

TEST(SplitString, Cases)
{
    const struct {
        const char *lpszText, *lpszDelim;
        unsigned uCount;
        int iResult;
        std::vector<const char *> fields;   // all uCount entries
    } cases[] = {
        { "a,b,c", ",", 5, 3, { "a", "b", "c", "", "" } },
        { "a,b,c", ",", 2, 2, { "a", "b,c" } },
        { "12:30;x", ":;", 4, 3, { "12", "30", "x", "" } },
        { "1:2:3;4", ":;", 4, 3, { "1", "2:3", "4", "" } },     // one character per boundary
        { "a;b;c", ":;", 4, 1, { "a;b;c", "", "", "" } },       // first boundary wants ':'
        { "a:b;c;d", ":;", 5, 3, { "a", "b", "c;d", "", "" } }, // at most n + 1 fields
        { "a,", ",", 3, 1, { "a", "", "" } },                   // trailing delimiter
        { "a,,b", ",", 4, 3, { "a", "", "b", "" } },            // adjacent delimiters
        { ",a", ",", 2, 2, { "", "a" } },
        { "", ",", 3, 0, { "", "", "" } },
        { "a,b", "", 3, 1, { "a,b", "", "" } },                 // empty delimiter text
        { "a,b", ",", 1, 1, { "a,b" } },
    };
    for (const auto &c : cases) {
        char acText[64];
        strcpy(acText, c.lpszText);
        std::vector<char *> out(c.uCount + 1, (char *)"<unset>");
        int iRes = fnSplitString(acText, c.lpszDelim, c.uCount, out.data());
        std::string sWhat = std::string("\"") + c.lpszText + "\" by \"" + c.lpszDelim +
                            "\" into " + std::to_string(c.uCount);
        EXPECT_EQ(c.iResult, iRes) << sWhat;
        for (unsigned i = 0; i < c.uCount; i++) {
            ASSERT_NE(nullptr, out[i]) << sWhat << ", entry " << i;
            EXPECT_STREQ(c.fields[i], out[i]) << sWhat << ", entry " << i;
        }
        EXPECT_STREQ("<unset>", out[c.uCount]) << sWhat << ": wrote past the array";
        // Absent fields share the one empty text; present ones lie in the text.
        for (unsigned i = (unsigned)iRes; i < c.uCount; i++)
            EXPECT_EQ(szNull, out[i]) << sWhat << ", entry " << i;
        for (int i = 0; i < iRes; i++)
            EXPECT_TRUE(out[i] >= acText && out[i] < acText + sizeof acText) << sWhat << ", entry " << i;
    }
}

// ---------------------------------------------------------------- edit lines

class EditLine : public ::testing::Test {
protected:
    HWND hWnd = NULL, hEdit = NULL;
    void SetUp() override {
        hWnd = MakeWindow("edit host");
        hEdit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 5, 5, 200, 20,
                                hWnd, (HMENU)(INT_PTR)100, GetModuleHandleA(NULL), NULL);
        ASSERT_NE(nullptr, hEdit);
        SendMessageA(hEdit, EM_LIMITTEXT, 0, 0);
    }
    void TearDown() override { DestroyWindow(hWnd); }
};

TEST_F(EditLine, GetInt)
{
    struct { const char *lpszLine; int iValue; } cases[] = {
        { "42abc", 42 }, { "-7", -7 }, { "abc", 0 }, { "", 0 }, { "  +15 x", 15 },
        { "99999999999", 2147483647 },
    };
    for (auto &c : cases) {
        SetWindowTextA(hEdit, c.lpszLine);
        EXPECT_EQ(c.iValue, fnGetInt(hWnd, 100)) << "line \"" << c.lpszLine << "\"";
    }
}

TEST_F(EditLine, GetString)
{
    char ac[16];
    memset(ac, '#', sizeof ac);
    SetWindowTextA(hEdit, "");
    EXPECT_EQ(1, fnGetString(hWnd, 100, ac, 8));
    EXPECT_EQ('#', ac[0]) << "buffer touched for an empty line";

    SetWindowTextA(hEdit, "abc");
    EXPECT_EQ(0, fnGetString(hWnd, 100, ac, 8));
    EXPECT_STREQ("abc", ac);
    for (int i = 3; i < 8; i++)
        EXPECT_EQ(0, ac[i]) << "byte " << i << " not zero-filled";
    EXPECT_EQ('#', ac[8]) << "wrote past iStringLen";

    // A line too long for the buffer is cut and still terminated.
    SetWindowTextA(hEdit, "0123456789abcdef");
    memset(ac, '#', sizeof ac);
    EXPECT_EQ(0, fnGetString(hWnd, 100, ac, 8));
    EXPECT_STREQ("0123456", ac);
    EXPECT_EQ('#', ac[8]);

    // Lines longer than 256 characters are read as their first 256.
    std::string sLong(300, 'q');
    SetWindowTextA(hEdit, sLong.c_str());
    char acBig[400];
    EXPECT_EQ(0, fnGetString(hWnd, 100, acBig, sizeof acBig));
    EXPECT_EQ(256u, strlen(acBig));
}

// ---------------------------------------------------------------- debug list

class DebugList : public ::testing::Test {
protected:
    HWND hWnd = NULL, hList = NULL;
    void SetUp() override {
        hWnd = MakeWindow("debug list host");
        hList = CreateWindowExA(0, "LISTBOX", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_BORDER | LBS_NOTIFY,
                                0, 0, 280, 180, hWnd, (HMENU)(INT_PTR)1001, GetModuleHandleA(NULL), NULL);
        ASSERT_NE(nullptr, hList);
    }
    void TearDown() override { DestroyWindow(hWnd); }
    int Count() { return (int)SendMessageA(hList, LB_GETCOUNT, 0, 0); }
    int Sel() { return (int)SendMessageA(hList, LB_GETCURSEL, 0, 0); }
    std::string Line(int i) {
        char ac[1100] = "";
        SendMessageA(hList, LB_GETTEXT, (WPARAM)i, (LPARAM)ac);
        return ac;
    }
    void Fill(int n) {
        for (int i = 0; i < n; i++)
            fnDebugList(hWnd, 1001, ("line " + std::to_string(i)).c_str());
    }
};

TEST_F(DebugList, FirstLineIsAddedAndSelected)
{
    fnDebugList(hWnd, 1001, "first");
    EXPECT_EQ(1, Count());
    EXPECT_EQ(0, Sel());
    EXPECT_EQ("first", Line(0));
}

TEST_F(DebugList, KeepsAtMost501LinesNewestSelected)
{
    Fill(500);
    ASSERT_EQ(500, Count());
    fnDebugList(hWnd, 1001, "the 501st");
    EXPECT_EQ(501, Count()) << "a line was deleted at 500";
    EXPECT_EQ("line 0", Line(0));
    EXPECT_EQ(500, Sel());

    fnDebugList(hWnd, 1001, "the 502nd");
    EXPECT_EQ(501, Count());
    EXPECT_EQ("line 1", Line(0)) << "the oldest line should have gone";
    EXPECT_EQ("the 502nd", Line(500));
    EXPECT_EQ(500, Sel());

    Fill(300);
    EXPECT_EQ(501, Count());
    EXPECT_EQ("line 299", Line(500));
    EXPECT_EQ(500, Sel());
}

TEST_F(DebugList, LongLineAndMissingControlAreHarmless)
{
    std::string sLong(1023, 'z');
    fnDebugList(hWnd, 1001, sLong.c_str());
    EXPECT_EQ(sLong, Line(0));
    fnDebugList(hWnd, 4242, "nowhere");      // no such control: no effect
    fnDebugList(NULL, 1001, "nowhere");
    EXPECT_EQ(1, Count());
}

// ---------------------------------------------------------------- popup menu

static UINT uLastCommand;
static LRESULT CALLBACK OwnerProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m == WM_COMMAND)
        uLastCommand = (UINT)w;
    return DefWindowProcA(h, m, w, l);
}

class Popup : public ::testing::Test {
protected:
    HWND hWnd = NULL;
    void SetUp() override {
        hWnd = MakeWindow("popup owner", OwnerProc, "PopupOwner", WS_POPUP | WS_VISIBLE, NULL,
                          {300, 200, 300, 200});
        ASSERT_NE(nullptr, hWnd);
        SetForegroundWindow(hWnd);
        uLastCommand = 0;
    }
    void TearDown() override { DestroyWindow(hWnd); }
    // Opens the menu at (x, y) and presses wKey in it; false when no menu
    // was seen. *prc: where it was.
    bool Track(short x, short y, WPARAM wKey, RECT *prc = nullptr) {
        ModalWatch w("#32768", NULL, [&](HWND hMenu) {   // the popup menu's class
            if (prc)
                GetWindowRect(hMenu, prc);
            PostMessageA(hMenu, WM_KEYDOWN, wKey, 0);
            if (wKey != VK_ESCAPE)
                PostMessageA(hMenu, WM_CHAR, wKey, 0);
        });
        PopupMenu(hWnd, hWnd, MAKELPARAM((WORD)x, (WORD)y), 95, 96);
        return w.iSeen != 0;
    }
};

TEST_F(Popup, OpensAtTheClickInScreenCoordinates)
{
    POINT pt = { 0, 0 };
    ClientToScreen(hWnd, &pt);
    // A click left of the client area arrives as a negative 16-bit x.
    struct { short x, y; } cases[] = { { 10, 20 }, { -25, 20 }, { 40, -5 } };
    for (auto &c : cases) {
        RECT rc = {};
        ASSERT_TRUE(Track(c.x, c.y, VK_ESCAPE, &rc)) << "no menu seen for " << c.x << "," << c.y;
        EXPECT_EQ(pt.x + c.x, rc.left) << "click at " << c.x << "," << c.y;
        EXPECT_EQ(pt.y + c.y, rc.top) << "click at " << c.x << "," << c.y;
    }
    EXPECT_EQ(0u, uLastCommand) << "a cancelled menu sent a command";
}

TEST_F(Popup, ChoicesReachTheOwnerAsCommands)
{
    struct { WPARAM wKey; UINT uCommand; } cases[] = { { 'A', 95 }, { 'E', 96 } };
    for (auto &c : cases) {
        uLastCommand = 0;
        ASSERT_TRUE(Track(10, 10, c.wKey));
        EXPECT_TRUE(PumpUntil([&] { return uLastCommand != 0; }, 10000));
        EXPECT_EQ(c.uCommand, uLastCommand) << "key " << (char)c.wKey;
    }
}

// ---------------------------------------------------------------- log file

TEST(LogToDisk, CreatesAppendsAndRestarts)
{
    std::string sDir = TempDirFor("log");
    std::string sFile = sDir + "\\trace.log";
    // The first line creates the missing file.
    struct { const char *lpszLine; int fRestart; const char *lpszFile; } steps[] = {
        { "first", 0, "first\r\n" }, { "second", 0, "first\r\nsecond\r\n" },
        { "fresh", 1, "fresh\r\n" }, { "", 0, "fresh\r\n\r\n" },
    };
    for (auto &st : steps) {
        std::string sData;
        EXPECT_EQ(0, fnLogToDisk(sFile.c_str(), st.lpszLine, st.fRestart)) << "line \"" << st.lpszLine << "\"";
        ASSERT_TRUE(ReadWholeFile(sFile, &sData));
        EXPECT_EQ(st.lpszFile, sData);
    }

    std::string sBad = sDir + "\\no such dir\\x.log";
    EXPECT_EQ(1, fnLogToDisk(sBad.c_str(), "lost", 0));
    EXPECT_EQ(1, fnLogToDisk(sBad.c_str(), "lost", 1));
    RemoveTree(sDir);
}

// ---------------------------------------------------------------- debug dump

// OutputDebugStringA raises DBG_PRINTEXCEPTION_C with the text; a vectored
// handler sees every piece before the platform's own handling goes on.
static std::vector<std::string> *pDebugPieces;

static LONG CALLBACK CatchDebugString(EXCEPTION_POINTERS *pep)
{
    const EXCEPTION_RECORD *per = pep->ExceptionRecord;
    if (per->ExceptionCode == DBG_PRINTEXCEPTION_C && per->NumberParameters >= 2 && pDebugPieces)
        pDebugPieces->push_back((const char *)per->ExceptionInformation[1]);
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(DebugDump, EachByteIsOnePieceReadableOrHex)
{
    struct { const char *lpszBytes; int iLen; std::vector<std::string> pieces; } cases[] = {
        { "\x41\x20\x7e\x7d", 4, { "rx: ", "A", "<20>", "<7e>", "}" } },
        { "\x21\x80\x00\x0a", 4, { "rx: ", "!", "<80>", "<00>", "<0a>" } },
        { "AB", 0, { "rx: " } },
        { "AB", -3, { "rx: " } },
    };
    PVOID pHandler = AddVectoredExceptionHandler(1, CatchDebugString);
    ASSERT_NE(nullptr, pHandler);
    for (auto &c : cases) {
        std::vector<std::string> got;
        pDebugPieces = &got;
        fnDebugDump("rx: ", c.lpszBytes, c.iLen);
        pDebugPieces = nullptr;
        EXPECT_EQ(c.pieces, got) << c.iLen << " bytes";
    }
    RemoveVectoredExceptionHandler(pHandler);
}

// ---------------------------------------------------------------- time display

TEST(PutTime, TimeAndDateFromTheCalendarText)
{
    HWND hWnd = MakeWindow("time host");
    CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 80, 20, hWnd, (HMENU)(INT_PTR)201, NULL, NULL);
    CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 20, 80, 20, hWnd, (HMENU)(INT_PTR)202, NULL, NULL);
    SYSTEMTIME stBefore, stAfter;
    GetLocalTime(&stBefore);
    fnPutTime(hWnd, 201, 202);
    GetLocalTime(&stAfter);
    std::string sTime = WindowText(GetDlgItem(hWnd, 201)), sDate = WindowText(GetDlgItem(hWnd, 202));
    EXPECT_EQ(8u, sTime.size()) << sTime;
    EXPECT_EQ(':', sTime[2]) << sTime;
    EXPECT_EQ(':', sTime[5]) << sTime;
    static const char *months[] = { "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
    // Day of month with a leading space below 10, e.g. " 7-Dec-2026".
    char acBefore[16], acAfter[16];
    snprintf(acBefore, sizeof acBefore, "%2d-%s-%04d", stBefore.wDay, months[stBefore.wMonth - 1], stBefore.wYear);
    snprintf(acAfter, sizeof acAfter, "%2d-%s-%04d", stAfter.wDay, months[stAfter.wMonth - 1], stAfter.wYear);
    EXPECT_TRUE(sDate == acBefore || sDate == acAfter) << "date \"" << sDate << "\", expected \"" << acBefore << "\"";
    DestroyWindow(hWnd);
}
