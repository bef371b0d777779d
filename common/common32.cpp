// common32: the application environment -- the custom-control libraries,
// the workstation number, the application's own name and window name, and
// finding a running copy of an application.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "common/common32.h"
#include "common/zarn_gcd.h"

// Written once by fnInitAllApp on the main thread, read afterwards.
HINSTANCE hZARN_CC = NULL;
HINSTANCE hZARN_CC09 = NULL;
int iWorkstation = 0;
int fV2 = 0;

#define APP_NAME_LEN    256     // GetModuleFileNameA limit: any last piece fits
#define LIB_PATH_LEN    512

// Builds directory + "\" (unless the directory ends in one; an empty
// directory gets one) + file. Returns 0 when the path would not fit.
static int fnLibPath(char *acPath, int iSize, LPCSTR lpszDir, LPCSTR lpszFile)
{
    size_t uDir = strlen(lpszDir);
    int fSep = uDir == 0 || lpszDir[uDir - 1] != '\\';
    int iNeed = snprintf(acPath, (size_t)iSize, "%s%s%s", lpszDir, fSep ? "\\" : "", lpszFile);
    return iNeed >= 0 && iNeed < iSize;
}

// Loads one custom-control library from the system directory; on failure
// shows the library message with the application's name as caption.
static HINSTANCE fnLoadCustomLib(HWND hWnd, LPCSTR lpszDir, LPCSTR lpszFile, LPCSTR lpszAppName)
{
    char acPath[LIB_PATH_LEN];
    HINSTANCE hLib = NULL;
    if (fnLibPath(acPath, sizeof acPath, lpszDir, lpszFile))
        hLib = LoadLibraryA(acPath);
    if (!hLib) {
        char acMsg[128];
        snprintf(acMsg, sizeof acMsg, "Can't Load ZARN Custom controls: \"%s\"", lpszFile);
        MessageBoxA(hWnd, acMsg, lpszAppName, MB_OK | MB_ICONERROR);
    }
    return hLib;
}

int fnInitAllApp(HWND hWnd)
{
    char acAppName[APP_NAME_LEN];
    char acLibDir[LIB_PATH_LEN];
    memset(acAppName, 0, sizeof acAppName);
    memset(acLibDir, 0, sizeof acLibDir);

    fnGetAppName((HINSTANCE)GetWindowLongPtrA(hWnd, GWLP_HINSTANCE), acAppName);
    GetZARNSystemDirectory(acLibDir, sizeof acLibDir);

    hZARN_CC = fnLoadCustomLib(hWnd, acLibDir, "ZARN_CC.DLL", acAppName);
    if (!hZARN_CC)
        return 0;
    hZARN_CC09 = fnLoadCustomLib(hWnd, acLibDir, "ZARN_CC09.DLL", acAppName);
    if (!hZARN_CC09)
        return 0;   // ZARN_CC.DLL stays loaded until fnCleanUpAllApp

    // xnet.ini (the network client's) wins over plinth.ini wherever found;
    // the Windows directory before the current directory.
    iWorkstation = GetPrivateProfileIntA("Network", "Workstation", 0, "xnet.ini");
    if (iWorkstation) { fV2 = 1; return 1; }
    iWorkstation = GetPrivateProfileIntA("Network", "Workstation", 0, ".\\xnet.ini");
    if (iWorkstation) { fV2 = 1; return 1; }
    fV2 = 0;
    iWorkstation = GetPrivateProfileIntA("System", "Workstation", 0, "plinth.ini");
    if (iWorkstation) return 1;
    iWorkstation = GetPrivateProfileIntA("System", "Workstation", 0, ".\\plinth.ini");
    if (iWorkstation) return 1;

    MessageBoxA(hWnd, "ZARN Workstation ID missing from \"plinth.ini\" or \"xnet.ini\"",
                "ERROR", MB_OK | MB_ICONERROR);
    return 0;
}

void fnCleanUpAllApp(void)
{
    // Reverse of the loading order. The handles keep their values: this
    // runs once, at shut-down.
    if (hZARN_CC09)
        FreeLibrary(hZARN_CC09);
    if (hZARN_CC)
        FreeLibrary(hZARN_CC);
}

// name must hold 256 bytes (the longest module file name).
void fnGetAppName(HINSTANCE hInstance, char *name)
{
    char acPath[APP_NAME_LEN];
    memset(acPath, 0, sizeof acPath);
    DWORD dwLen = GetModuleFileNameA(hInstance, acPath, sizeof acPath - 1);
    if (dwLen >= sizeof acPath - 1)
        dwLen = sizeof acPath - 2;    // a truncated name may be unterminated
    acPath[dwLen] = 0;
    if (acPath[0] == 0) {
        name[0] = 0;
        return;
    }

    // Last piece between "\" separators (empty pieces don't count).
    const char *pLast = NULL;
    size_t uLast = 0;
    const char *p = acPath;
    while (*p) {
        while (*p == '\\')
            p++;
        if (!*p)
            break;
        const char *pStart = p;
        while (*p && *p != '\\')
            p++;
        pLast = pStart;
        uLast = (size_t)(p - pStart);
    }
    if (!pLast)
        return;

    // Drop the extension by length (".exe", any case). A piece too short to
    // have one gives the empty name.
    size_t uKeep = uLast > 4 ? uLast - 4 : 0;
    memcpy(name, pLast, uKeep);
    name[uKeep] = 0;
}

// Brings hWnd (or its last active popup) to the top, restoring it if it is
// minimised, and makes it active; 0 when there is no window.
static int fnBringToFront(HWND hWnd)
{
    if (!hWnd)
        return 0;
    HWND hPopup = GetLastActivePopup(hWnd);
    if (hPopup && IsWindow(hPopup))
        hWnd = hPopup;
    BringWindowToTop(hWnd);
    if (IsIconic(hWnd))
        ShowWindow(hWnd, SW_RESTORE);
    SetActiveWindow(hWnd);
    return 1;
}

int fnFindFirstInstance(LPCSTR lpcszProgName)
{
    return fnBringToFront(FindWindowA(lpcszProgName, NULL));
}

int fnFindFirstInstanceTitle(LPCSTR lpszTitle)
{
    return fnBringToFront(FindWindowA(NULL, lpszTitle));
}

#define EXEC_NAME_LEN   64
#define EXEC_CMD_LEN    512

int SingleAppExec(LPCSTR lpszAppPath, LPCSTR lpszAppName, int iWorkstation)
{
    char acBase[EXEC_NAME_LEN];
    char acWindow[EXEC_NAME_LEN];
    char acCmd[EXEC_CMD_LEN];

    // A name that does not fit is refused rather than cut: a cut name would
    // look for, or start, some other program.
    if (strlen(lpszAppName) >= sizeof acBase)
        return 0;
    strcpy(acBase, lpszAppName);
    char *pExe = strstr(acBase, ".exe");
    if (!pExe)
        return 0;
    *pExe = 0;
    size_t uBase = strlen(acBase);
    while (uBase < 8)
        acBase[uBase++] = '_';
    acBase[uBase] = 0;

    int iNeed = snprintf(acWindow, sizeof acWindow, "%s.%03d", acBase, iWorkstation);
    if (iNeed < 0 || iNeed >= (int)sizeof acWindow)
        return 0;
    HWND hWnd = FindWindowA(NULL, acWindow);
    if (hWnd) {
        BringWindowToTop(hWnd);
        return 1;
    }

    iNeed = snprintf(acCmd, sizeof acCmd, "%s\\%s", lpszAppPath, lpszAppName);
    if (iNeed < 0 || iNeed >= (int)sizeof acCmd)
        return 0;
    // WinExec: above 31 is started; 0 (out of resources) and the error
    // codes up to 31 are failures.
    UINT uRes = WinExec(acCmd, SW_SHOWNORMAL);
    return uRes > 31 ? 1 : 0;
}

// name must hold 21 bytes: 8 characters, ".", and up to 11 for the number.
void fnZARNNameWindow(HINSTANCE hInstance, char *name)
{
    char acApp[APP_NAME_LEN];
    memset(acApp, 0, sizeof acApp);
    fnGetAppName(hInstance, acApp);
    size_t uLen = strlen(acApp);
    while (uLen < 8)
        acApp[uLen++] = '_';
    acApp[8] = 0;
    sprintf(name, "%s.%03d", acApp, iWorkstation);
}
