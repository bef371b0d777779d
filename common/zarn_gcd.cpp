// zarn_gcd: the control system's configuration, system and temporary
// directories, from KV_ROOT/KV_SYSTEM (newer layout) or "c:\zarn_config.ini"
// (older layout, completed with the Windows directory where a key is missing).
#include <windows.h>
#include <string.h>
#include "common/zarn_gcd.h"

static const char szZarnIni[] = "c:\\zarn_config.ini";
static const char szNone[] = "NONE";

#define ZARN_PATH_LEN   512
// Room for an environment value: longer ones can never pass the length
// test of the callers here (512), so they are refused without reading them.
#define ZARN_ENV_LEN    1024

// Reads an environment variable of this process. Returns its length, or -1
// when it is not set or too long for the buffer. The process environment is
// read through the platform (not the C runtime's copy), so that values set
// with SetEnvironmentVariableA count.
static int fnGetEnv(LPCSTR lpszName, char *acValue, int iSize)
{
    SetLastError(ERROR_SUCCESS);
    DWORD dwLen = GetEnvironmentVariableA(lpszName, acValue, (DWORD)iSize);
    if (dwLen == 0) {
        // 0 is also the length of a variable set to the empty text.
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND)
            return -1;
        acValue[0] = 0;
        return 0;
    }
    if (dwLen >= (DWORD)iSize)
        return -1;
    return (int)dwLen;
}

// acPath must hold iMaxLen + 2 bytes: the separator is not counted.
int GetV4Directory(char *acPath, int iMaxLen)
{
    char acRoot[ZARN_ENV_LEN];
    char acSystem[ZARN_ENV_LEN];
    int iRoot = fnGetEnv("KV_ROOT", acRoot, sizeof acRoot);
    int iSystem = fnGetEnv("KV_SYSTEM", acSystem, sizeof acSystem);
    if (iRoot < 0 || iSystem < 0 || iRoot + iSystem > iMaxLen)
        return 0;
    memcpy(acPath, acRoot, iRoot);
    acPath[iRoot] = '\\';
    memcpy(acPath + iRoot + 1, acSystem, iSystem);
    acPath[iRoot + 1 + iSystem] = 0;
    return 1;
}

static void fnGetZARNDirectory(char *acPath, int iLen, LPCSTR lpszSuffix, LPCSTR lpszKey)
{
    // GetV4Directory may compose up to 513 characters before the length test.
    char acWork[ZARN_PATH_LEN + 2];
    int fFound = 0;

    if (GetV4Directory(acWork, ZARN_PATH_LEN)) {
        size_t uLen = strlen(acWork);
        size_t uSuffix = strlen(lpszSuffix);
        if (uLen + uSuffix < ZARN_PATH_LEN) {
            memcpy(acWork + uLen, lpszSuffix, uSuffix + 1);
            fFound = 1;
        }
    }
    if (!fFound) {
        GetPrivateProfileStringA("Config", lpszKey, szNone, acWork, ZARN_PATH_LEN, szZarnIni);
        if (strcmp(acWork, szNone) == 0) {
            UINT uLimit = iLen > 0 && iLen < ZARN_PATH_LEN ? (UINT)iLen : ZARN_PATH_LEN;
            UINT uGot = GetWindowsDirectoryA(acWork, uLimit);
            if (uGot == 0 || uGot >= uLimit) {
                // Did not fit the caller's limit: give the empty text, and do
                // not write a broken directory into the file.
                acWork[0] = 0;
            } else {
                WritePrivateProfileStringA("Config", lpszKey, acWork, szZarnIni);
            }
        }
    }

    if (iLen <= 0)
        return;
    strncpy(acPath, acWork, (size_t)iLen);   // zero-fills the rest
    acPath[iLen - 1] = 0;                    // a too-short buffer still ends
}

void GetZARNConfigDirectory(char *acPath, int iLen)
{
    fnGetZARNDirectory(acPath, iLen, "\\config\\system", "ConfigPath");
}

void GetZARNSystemDirectory(char *acPath, int iLen)
{
    fnGetZARNDirectory(acPath, iLen, "\\windows\\lib", "SystemPath");
}

void GetZARNTempDirectory(char *acPath, int iLen)
{
    fnGetZARNDirectory(acPath, iLen, "\\config\\system", "TempPath");
}

int fnProfileFilePath(LPCSTR lpszFile, char *acPath, int iLen)
{
    if (iLen <= 0)
        return 0;
    if (strchr(lpszFile, '\\') != NULL || strchr(lpszFile, '/') != NULL || strchr(lpszFile, ':') != NULL) {
        if ((int)strlen(lpszFile) >= iLen)
            return 0;
        strcpy(acPath, lpszFile);
        return 1;
    }
    UINT uLen = GetWindowsDirectoryA(acPath, (UINT)iLen);
    if (uLen == 0 || uLen + 1 + strlen(lpszFile) >= (size_t)iLen)
        return 0;
    acPath[uLen++] = '\\';
    strcpy(acPath + uLen, lpszFile);
    return 1;
}
