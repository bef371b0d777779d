// The stand-in control classes (BWCC32 dialog class and shaded frame,
// ZARN_CC status button), the About box and the generic version dialogs.
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include "common/about.h"
#include "common/common32.h"
#include "standins/bwcc32/bwcc.h"
#include "standins/zarn_cc/zarn_cc.h"
#include "tests/unit/common/test_res.h"
#include "test_util.h"

static INT_PTR CALLBACK NullDlgProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

// A memory bitmap of the screen's format, filled with a stock brush, to draw
// into and read pixels back from.
struct Canvas {
    Canvas(int cx, int cy, int iBrush) : rc{ 0, 0, cx, cy } {
        HDC hScreen = GetDC(NULL);
        hDC = CreateCompatibleDC(hScreen);
        hBmp = CreateCompatibleBitmap(hScreen, cx, cy);
        ReleaseDC(NULL, hScreen);
        hOld = SelectObject(hDC, hBmp);
        FillRect(hDC, &rc, (HBRUSH)GetStockObject(iBrush));
    }
    ~Canvas() {
        SelectObject(hDC, hOld);
        DeleteObject(hBmp);
        DeleteDC(hDC);
    }
    COLORREF Pixel(int x, int y) const { return GetPixel(hDC, x, y); }
    RECT rc;
    HDC hDC;
    HBITMAP hBmp;
    HGDIOBJ hOld;
};

// Renders a window's client area and returns the colour at (x, y).
static COLORREF RenderedPixel(HWND hWnd, int x, int y, UINT uMsg = WM_PRINTCLIENT)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    Canvas c(rc.right, rc.bottom, BLACK_BRUSH);
    SendMessageA(hWnd, uMsg, (WPARAM)c.hDC, PRF_CLIENT);
    return c.Pixel(x, y);
}

static std::string Rgb(COLORREF cr)
{
    char ac[32];
    snprintf(ac, sizeof ac, "rgb(%d,%d,%d)", GetRValue(cr), GetGValue(cr), GetBValue(cr));
    return ac;
}

// ---------------------------------------------------------------- status button

class StatusButton : public ::testing::Test {
protected:
    HINSTANCE hLib = NULL;
    HWND hWnd = NULL;
    void SetUp() override {
        hLib = LoadLibraryA("ZARN_CC.DLL");
        ASSERT_NE(nullptr, hLib) << "ZARN_CC.DLL beside the test";
        hWnd = MakeWindow("status host");
    }
    void TearDown() override {
        DestroyWindow(hWnd);
        if (hLib)
            FreeLibrary(hLib);
    }
    HWND Make(const char *lpszText, DWORD dwStyle = 0x0008) {
        return CreateWindowExA(0, "MOX_CC_Button", lpszText, WS_CHILD | WS_VISIBLE | dwStyle,
                               10, 10, 80, 20, hWnd, (HMENU)(INT_PTR)110, GetModuleHandleA(NULL), NULL);
    }
};

TEST_F(StatusButton, CaptionThenColourCode)
{
    struct { const char *lpszCode; int iState; COLORREF crFace; } cases[] = {
        { "/__1F__", 1, MOX_CR_UNKNOWN },
        { "/__2F__", 2, MOX_CR_HEALTHY },
        { "/__9F__", 9, MOX_CR_FAILED },
        { "/__0F__", 0, MOX_CR_NONE },
    };
    HWND hBtn = Make("FAIL");
    ASSERT_NE(nullptr, hBtn);
    EXPECT_EQ(0, SendMessageA(hBtn, MOXM_GETSTATE, 0, 0));
    EXPECT_EQ(Rgb(MOX_CR_NONE), Rgb(RenderedPixel(hBtn, 3, 10))) << "neutral field";
    for (auto &c : cases) {
        SetWindowTextA(hBtn, "OK");
        SetWindowTextA(hBtn, c.lpszCode);
        EXPECT_EQ("OK", WindowText(hBtn)) << c.lpszCode << " replaced the caption";
        EXPECT_EQ(c.iState, SendMessageA(hBtn, MOXM_GETSTATE, 0, 0)) << c.lpszCode;
        EXPECT_EQ(Rgb(c.crFace), Rgb(RenderedPixel(hBtn, 3, 10))) << c.lpszCode;
    }
}

TEST_F(StatusButton, TextsThatAreNotCodesAreCaptions)
{
    const char *texts[] = { "/__AF__", "/__12F__", "/__2F_", "/__2F__ ", "__2F__", "?" };
    HWND hBtn = Make("x");
    SetWindowTextA(hBtn, "/__2F__");
    for (const char *t : texts) {
        SetWindowTextA(hBtn, t);
        EXPECT_EQ(t, WindowText(hBtn));
        EXPECT_EQ(2, SendMessageA(hBtn, MOXM_GETSTATE, 0, 0)) << t << " changed the colour state";
    }
}

TEST_F(StatusButton, CodeAsCreationTextSetsStateWithEmptyCaption)
{
    HWND hBtn = Make("/__9F__", 0);
    ASSERT_NE(nullptr, hBtn);
    EXPECT_EQ("", WindowText(hBtn));
    EXPECT_EQ(9, SendMessageA(hBtn, MOXM_GETSTATE, 0, 0));
    EXPECT_EQ(Rgb(MOX_CR_FAILED), Rgb(RenderedPixel(hBtn, 4, 10)));
}

TEST_F(StatusButton, ClassGoesWithTheLibrary)
{
    WNDCLASSA wc;
    EXPECT_TRUE(GetClassInfoA(GetModuleHandleA(NULL), "MOX_CC_Button", &wc)) << "not a global class";
    FreeLibrary(hLib);
    hLib = NULL;
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(NULL), "MOX_CC_Button", &wc)) << "left registered";
}

// ---------------------------------------------------------------- BWCC32 and the panel

TEST(Bwcc, PanelTemplateCreatesWithAllClasses)
{
    ASSERT_TRUE(BWCCRegister(GetModuleHandleA(NULL)));
    ASSERT_TRUE(BWCCRegister(GetModuleHandleA(NULL))) << "a second call must succeed too";
    HINSTANCE hLib = LoadLibraryA("ZARN_CC.DLL");
    ASSERT_NE(nullptr, hLib);
    HWND hWnd = MakeWindow("panel host", NULL, "CommonTestWindow", WS_OVERLAPPEDWINDOW, NULL,
                           {50, 50, 580, 140});
    HWND hPanel = CreateDialogParamA(GetModuleHandleA(NULL), "PANEL", hWnd, NullDlgProc, 0);
    ASSERT_NE(nullptr, hPanel) << "error " << GetLastError();
    char acClass[64];
    GetClassNameA(hPanel, acClass, sizeof acClass);
    EXPECT_EQ(0, lstrcmpiA("bordlg", acClass)) << acClass;
    const int ids[] = { 103, 104, 105, 110, 111 };
    for (int id : ids) {
        HWND h = GetDlgItem(hPanel, id);
        ASSERT_NE(nullptr, h) << "control " << id;
        GetClassNameA(h, acClass, sizeof acClass);
        EXPECT_STREQ("MOX_CC_Button", acClass) << "control " << id;
    }
    // The dialog background is the light grey of the class.
    ShowWindow(hWnd, SW_SHOWNOACTIVATE);
    EXPECT_EQ(Rgb(RGB(192, 192, 192)), Rgb(RenderedPixel(hPanel, 300, 30, WM_ERASEBKGND)));
    DestroyWindow(hWnd);
    FreeLibrary(hLib);
}

TEST(Bwcc, ShadeDrawsFrameNotInterior)
{
    ASSERT_TRUE(BWCCRegister(GetModuleHandleA(NULL)));
    HWND hWnd = MakeWindow("shade host");
    HWND hShade = CreateWindowExA(0, "BorShade", "", WS_CHILD | WS_VISIBLE | BSS_GROUP, 10, 10, 100, 50,
                                  hWnd, NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_NE(nullptr, hShade);
    Canvas c(100, 50, BLACK_BRUSH);
    SendMessageA(hShade, WM_PRINTCLIENT, (WPARAM)c.hDC, PRF_CLIENT);
    EXPECT_EQ(Rgb(RGB(128, 128, 128)), Rgb(c.Pixel(0, 10))) << "outer left edge of a sunken frame";
    EXPECT_EQ(Rgb(RGB(255, 255, 255)), Rgb(c.Pixel(99, 10))) << "outer right edge";
    EXPECT_EQ(Rgb(RGB(0, 0, 0)), Rgb(c.Pixel(50, 25))) << "interior painted over";
    DestroyWindow(hWnd);
}

// ---------------------------------------------------------------- About box

TEST(AboutBox, ClosedByOkEnterAndEscape)
{
    ASSERT_TRUE(BWCCRegister(GetModuleHandleA(NULL)));
    HWND hMain = MakeWindow("about owner");
    // The last round: About() itself returns once the box is closed.
    const char *how[] = { "OK button", "Enter", "Escape", "About(), OK button" };
    for (int i = 0; i < 4; i++) {
        SCOPED_TRACE(how[i]);
        std::string sStamp, sVersion;
        ModalWatch w("BORDLG", "About", [&](HWND hDlg) {
            sStamp = WindowText(GetDlgItem(hDlg, 999));
            sVersion = WindowText(GetDlgItem(hDlg, 99));
            HWND hOk = GetDlgItem(hDlg, IDOK);
            if (i % 3 == 0)
                PostMessageA(hOk, BM_CLICK, 0, 0);
            else
                PostMessageA(hOk, WM_KEYDOWN, i % 3 == 1 ? VK_RETURN : VK_ESCAPE, 0);
        });
        INT_PTR iRes = 1;
        if (i < 3)
            iRes = DialogBoxParamA(GetModuleHandleA(NULL), "ABOUT", hMain, _AboutDialogProc, 0);
        else
            About(hMain, GetModuleHandleA(NULL));
        EXPECT_EQ(1, iRes);
        EXPECT_EQ(1, w.iSeen);
        EXPECT_TRUE(std::regex_match(sStamp, std::regex("[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} - "
                                                         "[0-9]{2}:[0-9]{2}:[0-9]{2}")))
            << "build stamp \"" << sStamp << "\"";
        EXPECT_EQ(0u, sVersion.find("Version 3.2.0.0 - ")) << "version line \"" << sVersion << "\"";
        EXPECT_GT(sVersion.size(), strlen("Version 3.2.0.0 - ")) << "no copyright notice";
    }
    DestroyWindow(hMain);
}

// ---------------------------------------------------------------- generic version dialogs

// The focus a dialog asks for, seen by a thread-local CBT hook: GetFocus()
// alone depends on whether this test's window is the active one, which a
// test running beside it in another process can change at any moment.
static HWND hLastFocusRequest;
static HHOOK hCbtHook;
static LRESULT CALLBACK FocusWatchProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HCBT_SETFOCUS)
        hLastFocusRequest = (HWND)wParam;
    return CallNextHookEx(hCbtHook, nCode, wParam, lParam);
}

TEST(VersionDialog, FilledFromTheProgramFileAndCentred)
{
    ASSERT_TRUE(BWCCRegister(GetModuleHandleA(NULL)));
    HWND hMain = MakeWindow("version owner");
    std::string s96, s97, s98, s99;
    RECT rc = {};
    HWND hFocus = NULL, hOk = NULL;
    hLastFocusRequest = NULL;
    hCbtHook = SetWindowsHookExA(WH_CBT, FocusWatchProc, NULL, GetCurrentThreadId());
    ASSERT_TRUE(hCbtHook != NULL);
    ModalWatch w("BORDLG", "Version", [&](HWND hDlg) {
        s96 = WindowText(GetDlgItem(hDlg, 96));
        s97 = WindowText(GetDlgItem(hDlg, 97));
        s98 = WindowText(GetDlgItem(hDlg, 98));
        s99 = WindowText(GetDlgItem(hDlg, 99));
        GetWindowRect(hDlg, &rc);
        hFocus = hLastFocusRequest;
        hOk = GetDlgItem(hDlg, IDOK);
        PostMessageA(hOk, BM_CLICK, 0, 0);
    });
    INT_PTR iRes = DialogBoxParamA(GetModuleHandleA(NULL), "VERDLG", hMain, AboutDialogProc, 0);
    UnhookWindowsHookEx(hCbtHook);
    EXPECT_EQ(1, iRes);
    ASSERT_EQ(1, w.iSeen);
    EXPECT_EQ("3.2.0.0", s99);
    EXPECT_EQ("application support tests", s98);
    EXPECT_EQ(0u, s97.find("Copyright")) << s97;
    // The file's time stamp as calendar text: "Www Mmm dd hh:mm:ss yyyy\n".
    EXPECT_TRUE(std::regex_match(s96, std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} ( [1-9]|[1-3][0-9]) "
                                                   "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\n")))
        << "time stamp \"" << s96 << "\"";
    int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN) / 2 - cx / 2, rc.left);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN) / 2 - cy / 2, rc.top);
    EXPECT_EQ(hOk, hFocus) << "focus not on control 1";
    DestroyWindow(hMain);
}

TEST(VersionDialog, WiderThanTheScreenGoesToNegativeX)
{
    ASSERT_TRUE(BWCCRegister(GetModuleHandleA(NULL)));
    HWND hMain = MakeWindow("wide owner");
    RECT rc = { 0, 0, 0, 0 };
    ModalWatch w("BORDLG", "Wide", [&](HWND hDlg) {
        GetWindowRect(hDlg, &rc);
        PostMessageA(GetDlgItem(hDlg, IDOK), BM_CLICK, 0, 0);
    });
    DialogBoxParamA(GetModuleHandleA(NULL), "VERWIDE", hMain, AboutDialogProc, 0);
    ASSERT_EQ(1, w.iSeen);
    int cx = rc.right - rc.left;
    ASSERT_GT(cx, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN) / 2 - cx / 2, rc.left);
    EXPECT_LT(rc.left, 0);
    DestroyWindow(hMain);
}

// Sends WM_DRAWITEM for one owner-drawn control into a white memory bitmap
// and returns the colour at (x, y).
static COLORREF DrawItemPixel(HWND hDlg, int iId, int x, int y, INT_PTR *piRes)
{
    Canvas c(80, 60, WHITE_BRUSH);
    DRAWITEMSTRUCT dis = {};
    dis.CtlType = ODT_STATIC;
    dis.CtlID = iId;
    dis.itemAction = ODA_DRAWENTIRE;
    dis.hwndItem = GetDlgItem(hDlg, iId);
    dis.hDC = c.hDC;
    dis.rcItem = c.rc;
    *piRes = AboutDialogProc(hDlg, WM_DRAWITEM, (WPARAM)iId, (LPARAM)&dis);
    return c.Pixel(x, y);
}

TEST(VersionDialog, OwnerDrawnControlsShowLibraryBitmaps)
{
    ASSERT_TRUE(BWCCRegister(GetModuleHandleA(NULL)));
    HWND hMain = MakeWindow("owner-draw owner");
    HWND hDlg = CreateDialogParamA(GetModuleHandleA(NULL), "VERDLG", hMain, NullDlgProc, 0);
    ASSERT_NE(nullptr, hDlg);
    INT_PTR iRes = 0;
    // wirelib32.dll's LOGO: a red lamp centred at (20, 20), a grey border.
    EXPECT_EQ(Rgb(RGB(230, 30, 30)), Rgb(DrawItemPixel(hDlg, IDC_VER_LOGO, 22, 22, &iRes)));
    EXPECT_EQ(1, iRes);
    EXPECT_EQ(Rgb(RGB(120, 124, 132)), Rgb(DrawItemPixel(hDlg, IDC_VER_LOGO, 0, 0, &iRes)));
    // No bitmap of that name: nothing drawn, still handled; the next message
    // tries again (and finds the bitmap once the text names one).
    EXPECT_EQ(Rgb(RGB(255, 255, 255)), Rgb(DrawItemPixel(hDlg, IDC_VER_NOBITMAP, 22, 22, &iRes)));
    EXPECT_EQ(1, iRes);
    SetWindowTextA(GetDlgItem(hDlg, IDC_VER_NOBITMAP), "LOGO");
    EXPECT_EQ(Rgb(RGB(230, 30, 30)), Rgb(DrawItemPixel(hDlg, IDC_VER_NOBITMAP, 22, 22, &iRes)));
    EXPECT_EQ(NULL, GetModuleHandleA("wirelib32.dll")) << "library held after the message";
    DestroyWindow(hMain);
}

TEST(VersionDialog, SplashClosesItselfAfterOneAndAHalfSeconds)
{
    ASSERT_TRUE(BWCCRegister(GetModuleHandleA(NULL)));
    HWND hMain = MakeWindow("splash owner");
    DWORD dwStart = GetTickCount();
    HWND hDlg = CreateDialogParamA(GetModuleHandleA(NULL), "VERDLG", hMain, SplashProc, 0);
    ASSERT_NE(nullptr, hDlg);
    EXPECT_EQ("3.2.0.0", WindowText(GetDlgItem(hDlg, 99)));
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(hDlg); }, 30000)) << "splash box still there";
    DWORD dwGone = GetTickCount() - dwStart;
    // A timer never fires early; allow the tick count's 16 ms steps.
    EXPECT_GE(dwGone + 32, 1500u) << "gone after " << dwGone << " ms";
    DestroyWindow(hMain);
}

TEST(VersionDialog, DrawBitmapAtOffset)
{
    HINSTANCE hLib = LoadLibraryA("wirelib32.dll");
    ASSERT_NE(nullptr, hLib);
    HBITMAP hBmp = LoadBitmapA(hLib, "LOGO");
    ASSERT_NE(nullptr, hBmp);
    {
        Canvas c(100, 100, WHITE_BRUSH);
        DrawBitmap(c.hDC, hBmp, 10, 5);
        EXPECT_EQ(Rgb(RGB(255, 255, 255)), Rgb(c.Pixel(9, 5)));
        EXPECT_EQ(Rgb(RGB(120, 124, 132)), Rgb(c.Pixel(10, 5))) << "top-left corner of the bitmap";
        EXPECT_EQ(Rgb(RGB(120, 124, 132)), Rgb(c.Pixel(73, 44))) << "bottom-right corner (64x40)";
        EXPECT_EQ(Rgb(RGB(255, 255, 255)), Rgb(c.Pixel(74, 45)));
    }
    DeleteObject(hBmp);
    FreeLibrary(hLib);
}
