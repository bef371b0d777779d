// Application environment: loading the custom-control libraries from the
// system directory, the workstation search, the failure boxes; the quick
// message boxes and the router size lookups (files in the Windows directory).
#include <gtest/gtest.h>
#include <string>
#include "common/common32.h"
#include "common/zarn_gcd.h"
#include "test_util.h"

static std::string WinDir()
{
    char ac[MAX_PATH];
    GetWindowsDirectoryA(ac, sizeof ac);
    return ac;
}

// Each case gets a newer-layout installation in a temporary directory
// (KV_ROOT/KV_SYSTEM, set in-process), so c:\zarn_config.ini is not used;
// its library directory holds the libraries the case asks for, and the
// current directory is a fresh one for ".\xnet.ini" and ".\plinth.ini".
class AppEnv : public ::testing::Test {
protected:
    std::string sRoot, sLibDir, sCurDir;
    char acOldCwd[MAX_PATH];
    HWND hWnd = NULL;
    SavedFile xnetWin{WinDir() + "\\xnet.ini"};
    SavedFile plinthWin{WinDir() + "\\plinth.ini"};

    void SetUp() override {
        sRoot = TempDirFor("env");
        for (const char *lpszDir : { "\\site", "\\site\\windows", "\\site\\windows\\lib", "\\cwd" })
            CreateDirectoryA((sRoot + lpszDir).c_str(), NULL);
        sLibDir = sRoot + "\\site\\windows\\lib";
        sCurDir = sRoot + "\\cwd";
        GetCurrentDirectoryA(sizeof acOldCwd, acOldCwd);
        SetCurrentDirectoryA(sCurDir.c_str());
        SetEnvironmentVariableA("KV_ROOT", sRoot.c_str());
        SetEnvironmentVariableA("KV_SYSTEM", "site");
        xnetWin.Remove();
        plinthWin.Remove();
        hZARN_CC = hZARN_CC09 = NULL;
        iWorkstation = fV2 = 0;
        hWnd = MakeWindow("AppEnv owner");
    }
    void TearDown() override {
        fnCleanUpAllApp();
        hZARN_CC = hZARN_CC09 = NULL;
        DestroyWindow(hWnd);
        SetCurrentDirectoryA(acOldCwd);
        SetEnvironmentVariableA("KV_ROOT", NULL);
        SetEnvironmentVariableA("KV_SYSTEM", NULL);
        RemoveTree(sRoot);
    }
    void PutLibrary(const char *lpszName) {
        std::string sFrom = ExeDir() + "\\" + lpszName, sTo = sLibDir + "\\" + lpszName;
        ASSERT_TRUE(CopyFileA(sFrom.c_str(), sTo.c_str(), FALSE)) << "copy " << sFrom;
    }
    static void PutIni(const std::string &sPath, const char *lpszSection, int iValue) {
        if (iValue < 0)
            return;   // absent
        WritePrivateProfileStringA(lpszSection, "Workstation", std::to_string(iValue).c_str(),
                                   sPath.c_str());
        WritePrivateProfileStringA(NULL, NULL, NULL, sPath.c_str());
    }
};

TEST_F(AppEnv, FirstLibraryMissingShowsOneBoxAndSkipsTheSecond)
{
    PutLibrary("ZARN_CC09.DLL");
    BoxLog log;
    EXPECT_EQ(0, fnInitAllApp(hWnd));
    ASSERT_EQ(1, log.iCount) << "message boxes shown";
    EXPECT_EQ("Can't Load ZARN Custom controls: \"ZARN_CC.DLL\"", log.sText[0]);
    EXPECT_EQ(ExeBase(), log.sCaption[0]);
    EXPECT_EQ(LoadIconA(NULL, (LPCSTR)IDI_ERROR), log.hIcon[0]) << "not the error icon";
    EXPECT_EQ(NULL, hZARN_CC09);
    EXPECT_EQ(NULL, GetModuleHandleA("ZARN_CC09.DLL")) << "ZARN_CC09.DLL was loaded after all";
    EXPECT_EQ(0, iWorkstation);
}

TEST_F(AppEnv, SecondLibraryMissingKeepsTheFirstUntilCleanUp)
{
    PutLibrary("ZARN_CC.DLL");
    PutIni(WinDir() + "\\xnet.ini", "Network", 3);
    BoxLog log;
    EXPECT_EQ(0, fnInitAllApp(hWnd));
    ASSERT_EQ(1, log.iCount);
    EXPECT_EQ("Can't Load ZARN Custom controls: \"ZARN_CC09.DLL\"", log.sText[0]);
    EXPECT_EQ(ExeBase(), log.sCaption[0]);
    ASSERT_NE(nullptr, hZARN_CC);
    EXPECT_EQ(0, iWorkstation) << "workstation read after a library failure";

    char acPath[MAX_PATH];
    GetModuleFileNameA(hZARN_CC, acPath, sizeof acPath);
    EXPECT_EQ(0, lstrcmpiA((sLibDir + "\\ZARN_CC.DLL").c_str(), acPath)) << "loaded " << acPath;
    fnCleanUpAllApp();
    EXPECT_EQ(NULL, GetModuleHandleA(acPath)) << "ZARN_CC.DLL still loaded after clean-up";
}

TEST_F(AppEnv, LibrariesProvideTheStatusButtonClassUntilCleanUp)
{
    PutLibrary("ZARN_CC.DLL");
    PutLibrary("ZARN_CC09.DLL");
    PutIni(WinDir() + "\\plinth.ini", "System", 5);
    BoxLog log;
    ASSERT_EQ(1, fnInitAllApp(hWnd));
    EXPECT_EQ(0, log.iCount);
    WNDCLASSA wc;
    EXPECT_TRUE(GetClassInfoA(GetModuleHandleA(NULL), "MOX_CC_Button", &wc));
    fnCleanUpAllApp();
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(NULL), "MOX_CC_Button", &wc));
    hZARN_CC = hZARN_CC09 = NULL;
}

// The search order: xnet.ini before plinth.ini wherever it is; the Windows
// directory before the current one; 0 counts as not set.
TEST_F(AppEnv, WorkstationSearchOrder)
{
    PutLibrary("ZARN_CC.DLL");
    PutLibrary("ZARN_CC09.DLL");
    struct { int iXnetWin, iXnetCur, iPlinthWin, iPlinthCur, iWs, fV2; const char *lpszWhat; } cases[] = {
        { 0, 12, -1, -1, 12, 1, "xnet.ini of the Windows directory says 0" },
        { -1, -1, 5, -1, 5, 0, "plinth.ini only" },
        { -1, 7, 5, 6, 7, 1, "xnet.ini in the current directory beats plinth.ini" },
        { 3, 4, 5, 6, 3, 1, "Windows directory first" },
        { -1, -1, 0, 9, 9, 0, "plinth.ini of the current directory" },
        { -1, -1, 1234, -1, 1234, 0, "large number" },
    };
    for (auto &c : cases) {
        xnetWin.Remove();
        plinthWin.Remove();
        DeleteFileA((sCurDir + "\\xnet.ini").c_str());
        DeleteFileA((sCurDir + "\\plinth.ini").c_str());
        PutIni(WinDir() + "\\xnet.ini", "Network", c.iXnetWin);
        PutIni(sCurDir + "\\xnet.ini", "Network", c.iXnetCur);
        PutIni(WinDir() + "\\plinth.ini", "System", c.iPlinthWin);
        PutIni(sCurDir + "\\plinth.ini", "System", c.iPlinthCur);
        iWorkstation = fV2 = 0;
        BoxLog log;
        EXPECT_EQ(1, fnInitAllApp(hWnd)) << c.lpszWhat;
        EXPECT_EQ(0, log.iCount) << c.lpszWhat;
        EXPECT_EQ(c.iWs, iWorkstation) << c.lpszWhat;
        EXPECT_EQ(c.fV2, fV2) << c.lpszWhat;
        fnCleanUpAllApp();
        hZARN_CC = hZARN_CC09 = NULL;
    }
}

TEST_F(AppEnv, NoWorkstationAnywhere)
{
    PutLibrary("ZARN_CC.DLL");
    PutLibrary("ZARN_CC09.DLL");
    // A file that names the wrong section counts as missing.
    WritePrivateProfileStringA("System", "Workstation", "4", (sCurDir + "\\xnet.ini").c_str());
    BoxLog log;
    EXPECT_EQ(0, fnInitAllApp(hWnd));
    ASSERT_EQ(1, log.iCount);
    EXPECT_EQ("ERROR", log.sCaption[0]);
    EXPECT_EQ(LoadIconA(NULL, (LPCSTR)IDI_ERROR), log.hIcon[0]) << "not the error icon";
    EXPECT_EQ("ZARN Workstation ID missing from \"plinth.ini\" or \"xnet.ini\"", log.sText[0]);
    EXPECT_EQ(0, iWorkstation);
    EXPECT_EQ(0, fV2);
}

TEST(QuickBoxes, TextsOfTheThreeBoxes)
{
    BoxLog log;
    mbs("cap s", "plain text");
    mbi("cap i", -1);
    mbi("cap i", 255);
    mbl("cap l", -2147483647L - 1);
    ASSERT_EQ(4, log.iCount);
    EXPECT_EQ("cap s", log.sCaption[0]);
    EXPECT_EQ("plain text", log.sText[0]);
    EXPECT_EQ(LoadIconA(NULL, (LPCSTR)IDI_INFORMATION), log.hIcon[0]) << "not the information icon";
    EXPECT_EQ("Int: 0xffffffff , -1", log.sText[1]);
    EXPECT_EQ(20u, log.sText[1].size());
    EXPECT_EQ("Int: 0xff , 255", log.sText[2]);
    EXPECT_EQ("cap l", log.sCaption[3]);
    EXPECT_EQ("Long Int: 0x80000000 , -2147483648", log.sText[3]);
    EXPECT_EQ(34u, log.sText[3].size());
}

// grd_/dev_ files are looked for in the Windows directory.
TEST(RouterSize, RouterFileFirstThenDeviceFile)
{
    std::string sGrd = WinDir() + "\\grd_105.ini", sDev = WinDir() + "\\dev_105.ini";
    SavedFile grd(sGrd), dev(sDev);
    grd.Remove();
    dev.Remove();
    EXPECT_EQ(0, GetRouterSource(105));
    EXPECT_EQ(0, GetRouterDest(105));

    WritePrivateProfileStringA("Router", "Sources", "0", sGrd.c_str());
    WritePrivateProfileStringA("Router", "Destinations", "32", sGrd.c_str());
    WritePrivateProfileStringA("Database", "DatabaseSize_0", "64", sDev.c_str());
    WritePrivateProfileStringA("Database", "DatabaseSize_1", "16", sDev.c_str());
    EXPECT_EQ(64, GetRouterSource(105)) << "Sources=0 must fall to DatabaseSize_0";
    EXPECT_EQ(32, GetRouterDest(105)) << "Destinations must win over DatabaseSize_1";
}
