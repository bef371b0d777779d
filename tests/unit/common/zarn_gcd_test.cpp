// Configuration directories: both layouts, the write-back of the Windows
// directory, the length limits and the caller's buffer.
#include <gtest/gtest.h>
#include <string>
#include "common/zarn_gcd.h"
#include "test_util.h"

static const char szIni[] = "c:\\zarn_config.ini";

// Saves c:\zarn_config.ini and the two variables, starts every case with
// neither, and puts everything back.
class ZarnDirs : public ::testing::Test {
protected:
    SavedFile saved{szIni};
    std::string sRoot, sSystem;
    bool fRoot = false, fSystem = false;
    std::string sWinDir;

    void SetUp() override {
        fRoot = GetEnv("KV_ROOT", &sRoot);
        fSystem = GetEnv("KV_SYSTEM", &sSystem);
        SetEnvironmentVariableA("KV_ROOT", NULL);
        SetEnvironmentVariableA("KV_SYSTEM", NULL);
        saved.Remove();
        char ac[MAX_PATH];
        GetWindowsDirectoryA(ac, sizeof ac);
        sWinDir = ac;
    }
    void TearDown() override {
        SetEnvironmentVariableA("KV_ROOT", fRoot ? sRoot.c_str() : NULL);
        SetEnvironmentVariableA("KV_SYSTEM", fSystem ? sSystem.c_str() : NULL);
    }
    static bool GetEnv(const char *lpszName, std::string *ps) {
        char ac[4096];
        SetLastError(0);
        DWORD n = GetEnvironmentVariableA(lpszName, ac, sizeof ac);
        if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
            return false;
        *ps = std::string(ac, n < sizeof ac ? n : 0);
        return true;
    }
    static std::string IniValue(const char *lpszKey) {
        WritePrivateProfileStringA(NULL, NULL, NULL, szIni);
        char ac[600];
        GetPrivateProfileStringA("Config", lpszKey, "<absent>", ac, sizeof ac, szIni);
        return ac;
    }
    static bool IniExists() {
        return GetFileAttributesA(szIni) != INVALID_FILE_ATTRIBUTES;
    }
};

typedef void (*DirFn)(char *, int);
struct DirCase { const char *lpszName; DirFn fn; const char *lpszKey; const char *lpszSuffix; };
static const DirCase dirCases[] = {
    { "config", GetZARNConfigDirectory, "ConfigPath", "\\config\\system" },
    { "system", GetZARNSystemDirectory, "SystemPath", "\\windows\\lib" },
    { "temp",   GetZARNTempDirectory,   "TempPath",   "\\config\\system" },
};

static std::string Call(DirFn fn)
{
    char ac[512];
    memset(ac, 'x', sizeof ac);
    fn(ac, sizeof ac);
    // The text ends in a terminator and the rest of the buffer is zeroed.
    size_t n = strnlen(ac, sizeof ac);
    EXPECT_LT(n, sizeof ac) << "directory text is not terminated";
    EXPECT_EQ(std::string(sizeof ac - n, '\0'), std::string(ac + n, sizeof ac - n)) << "the bytes after the text";
    return std::string(ac, n < sizeof ac ? n : 0);
}

TEST_F(ZarnDirs, NewerLayoutFromEnvironmentLeavesSettingsFileAlone)
{
    SetEnvironmentVariableA("KV_ROOT", "d:\\kv");
    SetEnvironmentVariableA("KV_SYSTEM", "site1");
    for (const DirCase &c : dirCases)
        EXPECT_EQ(std::string("d:\\kv\\site1") + c.lpszSuffix, Call(c.fn)) << c.lpszName;
    EXPECT_FALSE(IniExists()) << "c:\\zarn_config.ini was created in the newer layout";
}

TEST_F(ZarnDirs, EmptyRootStillCountsAsSet)
{
    SetEnvironmentVariableA("KV_ROOT", "");
    SetEnvironmentVariableA("KV_SYSTEM", "site1");
    EXPECT_EQ("\\site1\\config\\system", Call(GetZARNConfigDirectory));
    EXPECT_FALSE(IniExists());
}

TEST_F(ZarnDirs, MissingFileFallsBackToWindowsDirectoryAndCompletesFile)
{
    for (const DirCase &c : dirCases) {
        saved.Remove();
        EXPECT_EQ(sWinDir, Call(c.fn)) << c.lpszName;
        EXPECT_EQ(sWinDir, IniValue(c.lpszKey)) << c.lpszName << ": value written back";
        // The next call reads the file afresh.
        WritePrivateProfileStringA("Config", c.lpszKey, "e:\\elsewhere", szIni);
        EXPECT_EQ("e:\\elsewhere", Call(c.fn)) << c.lpszName;
    }
}

TEST_F(ZarnDirs, OnlyOneVariableSetUsesOlderLayout)
{
    SetEnvironmentVariableA("KV_ROOT", "d:\\kv");
    WritePrivateProfileStringA("Config", "ConfigPath", "f:\\cfg\\", szIni);
    EXPECT_EQ("f:\\cfg\\", Call(GetZARNConfigDirectory));
    SetEnvironmentVariableA("KV_ROOT", NULL);
    SetEnvironmentVariableA("KV_SYSTEM", "site1");
    EXPECT_EQ("f:\\cfg\\", Call(GetZARNConfigDirectory));
}

TEST_F(ZarnDirs, SettingsFileValues)
{
    struct { const char *lpszValue; const char *lpszExpected; bool fWriteBack; } cases[] = {
        { "g:\\zarn\\cfg", "g:\\zarn\\cfg", false },
        { "", "", false },                 // the empty directory is a value
        { "none", "none", false },         // only "NONE" exactly means missing
        { "NONE", nullptr, true },         // replaced by the Windows directory
    };
    for (auto &c : cases) {
        WritePrivateProfileStringA("Config", "ConfigPath", c.lpszValue, szIni);
        std::string sExpected = c.lpszExpected ? c.lpszExpected : sWinDir;
        EXPECT_EQ(sExpected, Call(GetZARNConfigDirectory)) << "ConfigPath=" << c.lpszValue;
        EXPECT_EQ(c.fWriteBack ? sWinDir : std::string(c.lpszValue), IniValue("ConfigPath"))
            << "file after ConfigPath=" << c.lpszValue;
    }
}

TEST_F(ZarnDirs, LongestSettingsValueIsReadWhole)
{
    std::string sLong = "c:\\" + std::string(508, 'a');    // 511 characters
    WritePrivateProfileStringA("Config", "SystemPath", sLong.c_str(), szIni);
    EXPECT_EQ(sLong, Call(GetZARNSystemDirectory));
}

// The composed newer-layout text must stay below 512 characters with its
// suffix; otherwise the older layout is used, silently.
TEST_F(ZarnDirs, NewerLayoutLengthLimits)
{
    WritePrivateProfileStringA("Config", "ConfigPath", "old-config", szIni);
    WritePrivateProfileStringA("Config", "SystemPath", "old-system", szIni);
    struct { size_t uRoot, uSystem; DirFn fn; const char *lpszSuffix; const char *lpszOld; } cases[] = {
        { 300, 196, GetZARNConfigDirectory, "\\config\\system", nullptr },      // 511 characters
        { 300, 197, GetZARNConfigDirectory, "\\config\\system", "old-config" }, // would be 512
        { 300, 198, GetZARNSystemDirectory, "\\windows\\lib", nullptr },        // 511
        { 300, 199, GetZARNSystemDirectory, "\\windows\\lib", "old-system" },   // 512
        { 300, 213, GetZARNConfigDirectory, "\\config\\system", "old-config" }, // values > 512
        { 5000, 1, GetZARNConfigDirectory, "\\config\\system", "old-config" },  // huge root
    };
    for (auto &c : cases) {
        std::string sRoot(c.uRoot, 'r'), sSys(c.uSystem, 's');
        SetEnvironmentVariableA("KV_ROOT", sRoot.c_str());
        SetEnvironmentVariableA("KV_SYSTEM", sSys.c_str());
        std::string sExpected = c.lpszOld ? c.lpszOld : sRoot + "\\" + sSys + c.lpszSuffix;
        std::string sGot = Call(c.fn);
        EXPECT_EQ(sExpected, sGot) << "root " << c.uRoot << ", system " << c.uSystem
                                   << ": got " << sGot.size() << " characters";
    }
}

TEST_F(ZarnDirs, V4DirectoryCountsValuesWithoutSeparator)
{
    char ac[64];
    SetEnvironmentVariableA("KV_ROOT", "abcd");
    SetEnvironmentVariableA("KV_SYSTEM", "efgh");
    memset(ac, '#', sizeof ac);
    EXPECT_EQ(1, GetV4Directory(ac, 8));
    EXPECT_STREQ("abcd\\efgh", ac);
    EXPECT_EQ('#', ac[10]) << "wrote past the text";

    memset(ac, '#', sizeof ac);
    EXPECT_EQ(0, GetV4Directory(ac, 7));
    EXPECT_EQ('#', ac[0]) << "buffer touched on failure";

    SetEnvironmentVariableA("KV_SYSTEM", NULL);
    EXPECT_EQ(0, GetV4Directory(ac, 60));
    EXPECT_EQ('#', ac[0]);
}

TEST_F(ZarnDirs, ShortCallerBufferIsNeverOverrun)
{
    WritePrivateProfileStringA("Config", "TempPath", "c:\\temporary", szIni);
    char ac[16];
    memset(ac, '#', sizeof ac);
    GetZARNTempDirectory(ac, 6);
    EXPECT_STREQ("c:\\te", ac);
    for (int i = 6; i < 16; i++)
        ASSERT_EQ('#', ac[i]) << "byte " << i << " written";
}
