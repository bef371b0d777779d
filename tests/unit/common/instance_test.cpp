// Finding a running copy of an application in another process, the
// application's own name and window name, and SingleAppExec.
#include <gtest/gtest.h>
#include <string>
#include "common/common32.h"
#include "test_util.h"
#include "support/child_proc.h"

// A second process: this test program in its window role.
class ChildWindow {
public:
    ChildWindow(const std::string &sTitle, const std::string &sClass, bool fMinimised) : m_sTitle(sTitle) {
        m_fStarted = m_proc.Start(ExePath(), "-cw \"" + sTitle + "\" " + sClass + (fMinimised ? " -min" : ""));
    }
    ~ChildWindow() {
        HWND h = FindWindowA(NULL, m_sTitle.c_str());
        if (h)
            PostMessageA(h, WM_CLOSE, 0, 0);
        m_proc.Stop(30000);
    }
    bool Started() const { return m_fStarted; }
    HWND Wait(bool fMinimised) {
        HWND h = NULL;
        PumpUntil([&] {
            h = FindWindowA(NULL, m_sTitle.c_str());
            return h && IsWindowVisible(h) && (!fMinimised || IsIconic(h));
        }, 60000);
        return h;
    }
private:
    std::string m_sTitle;
    ChildProc m_proc;
    bool m_fStarted;
};

static std::string Unique(const char *lpszStem)
{
    return std::string(lpszStem) + std::to_string(GetCurrentProcessId());
}

// True when hUpper lies above hLower in the z-order of top-level windows.
static bool IsAbove(HWND hUpper, HWND hLower)
{
    for (HWND h = GetWindow(hUpper, GW_HWNDNEXT); h; h = GetWindow(h, GW_HWNDNEXT))
        if (h == hLower)
            return true;
    return false;
}

// A window of this process, shown and put in front of hOther.
static HWND InFrontOf(HWND hOther)
{
    HWND hMine = MakeWindow("in front");
    ShowWindow(hMine, SW_SHOW);
    SetForegroundWindow(hMine);
    PumpUntil([&] { return IsAbove(hMine, hOther); }, 5000);
    return hMine;
}

TEST(FirstInstance, TitleOfAnotherProcessIsRestoredAndBroughtToFront)
{
    std::string sTitle = "DEV_" + Unique("first instance ");
    ChildWindow child(sTitle, Unique("FiClass"), true);
    ASSERT_TRUE(child.Started());
    HWND hOther = child.Wait(true);
    ASSERT_NE(nullptr, hOther) << "the child's minimised window did not appear";

    HWND hMine = InFrontOf(hOther);
    EXPECT_EQ(1, fnFindFirstInstanceTitle(sTitle.c_str()));
    EXPECT_TRUE(PumpUntil([&] { return !IsIconic(hOther); }, 20000)) << "still minimised";
    EXPECT_TRUE(PumpUntil([&] { return IsAbove(hOther, hMine); }, 20000)) << "not brought to the front";
    DestroyWindow(hMine);
}

TEST(FirstInstance, ByClassName)
{
    std::string sClass = Unique("FiByClass");
    ChildWindow child(Unique("by class "), sClass, false);
    ASSERT_TRUE(child.Started());
    HWND hOther = child.Wait(false);
    ASSERT_NE(nullptr, hOther);
    HWND hMine = InFrontOf(hOther);
    EXPECT_EQ(1, fnFindFirstInstance(sClass.c_str()));
    EXPECT_TRUE(PumpUntil([&] { return IsAbove(hOther, hMine); }, 20000)) << "not brought to the front";
    DestroyWindow(hMine);
}

TEST(FirstInstance, NothingFound)
{
    EXPECT_EQ(0, fnFindFirstInstanceTitle(Unique("no window titled so ").c_str()));
    EXPECT_EQ(0, fnFindFirstInstance(Unique("NoSuchClass").c_str()));
}

// ---------------------------------------------------------------- names

TEST(AppNames, NamesOfModules)
{
    char ac[300];
    memset(ac, '#', sizeof ac);
    fnGetAppName(GetModuleHandleA(NULL), ac);
    EXPECT_EQ(ExeBase(), ac);

    struct { const char *lpszModule; int iWs; const char *lpszName; } cases[] = {
        { "ZARN_CC.DLL", 5, "ZARN_CC_.005" },     // padded to 8
        { "wirelib32.dll", 12, "wirelib3.012" },  // cut to 8
        { "ZARN_CC09.DLL", 1000, "ZARN_CC0.1000" },  // all the digits
    };
    int iSaved = iWorkstation;
    for (auto &c : cases) {
        HINSTANCE h = LoadLibraryA(c.lpszModule);
        ASSERT_NE(nullptr, h) << c.lpszModule;
        iWorkstation = c.iWs;
        char acName[32];
        memset(acName, '#', sizeof acName);
        fnZARNNameWindow(h, acName);
        EXPECT_STREQ(c.lpszName, acName) << c.lpszModule;
        FreeLibrary(h);
    }
    iWorkstation = iSaved;
}

TEST(AppNames, LongExecutableNameIsCutForTheWindowName)
{
    // A copy of a module under the name longtally.exe, mapped without running it.
    std::string sDir = TempDirFor("names");
    std::string sFile = sDir + "\\longtally.exe";
    ASSERT_TRUE(CopyFileA((ExeDir() + "\\ZARN_CC09.DLL").c_str(), sFile.c_str(), FALSE));
    HINSTANCE h = LoadLibraryExA(sFile.c_str(), NULL, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(nullptr, h);
    char ac[64];
    fnGetAppName(h, ac);
    EXPECT_STREQ("longtally", ac);
    int iSaved = iWorkstation;
    iWorkstation = 7;
    fnZARNNameWindow(h, ac);
    EXPECT_STREQ("longtall.007", ac);
    iWorkstation = iSaved;
    FreeLibrary(h);
    RemoveTree(sDir);
}

// ---------------------------------------------------------------- SingleAppExec

TEST(SingleApp, RunningCopyIsFoundByItsWindowName)
{
    int iWs = 4000 + (int)(GetCurrentProcessId() % 5000);
    struct { const char *lpszApp; std::string sTitle; } cases[] = {
        { "rtr.exe", "rtr_____." + std::to_string(iWs) },
        { "longtally.exe", "longtally." + std::to_string(iWs) },   // not cut to 8
    };
    for (auto &c : cases) {
        ChildWindow child(c.sTitle, "SingleAppChild", false);
        ASSERT_TRUE(child.Started());
        ASSERT_NE(nullptr, child.Wait(false));
        // No such program exists in C:\nowhere: 1 means it was found, not started.
        EXPECT_EQ(1, SingleAppExec("C:\\nowhere", c.lpszApp, iWs)) << c.lpszApp;
    }
}

TEST(SingleApp, StartsTheProgramWhenNotRunning)
{
    int iWs = 4000 + (int)(GetCurrentProcessId() % 5000);
    std::string sBase = ExeBase();
    std::string sTitle = sBase + "." + std::to_string(iWs);
    ASSERT_EQ(nullptr, FindWindowA(NULL, sTitle.c_str()));
    // What follows ".exe" in the name goes onto the command line: the child
    // role's arguments.
    std::string sApp = sBase + ".exe -cw " + sTitle;
    ASSERT_LT(sApp.size(), 64u);
    EXPECT_EQ(1, SingleAppExec(ExeDir().c_str(), sApp.c_str(), iWs));
    HWND h = NULL;
    EXPECT_TRUE(PumpUntil([&] { return (h = FindWindowA(NULL, sTitle.c_str())) != NULL; }, 60000))
        << "the program did not start";
    if (h)
        PostMessageA(h, WM_CLOSE, 0, 0);
    PumpUntil([&] { return !IsWindow(h); }, 30000);
}

TEST(SingleApp, RefusedNames)
{
    struct { const char *lpszPath, *lpszApp; const char *lpszWhy; } cases[] = {
        { "C:\\nowhere", "ROUTER.EXE", "upper-case extension" },
        { "C:\\nowhere", "router", "no extension" },
        { "C:\\nowhere", "router.exe", "start fails" },
        { "C:\\nowhere", "a_name_far_too_long_for_the_sixty_four_byte_buffer_of_it_all.exe", "name too long" },
        { "C:\\nowhere", "", "empty name" },
    };
    for (auto &c : cases)
        EXPECT_EQ(0, SingleAppExec(c.lpszPath, c.lpszApp, 1)) << c.lpszWhy;
}
