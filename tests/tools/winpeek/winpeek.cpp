// winpeek: looks into (and pokes) a top-level window of another process, for
// host-side tests that drive real programs. The window is found by its exact
// title. Output is one fact per line, newlines in texts written as \n.
//
//   winpeek wait  <title> <timeout_ms>        window exists      -> "hwnd <hex>"
//   winpeek text  <title> <id>                a descendant control's text
//                                             -> "text <t>" (+ "state <n>" for status buttons)
//   winpeek list  <title> <id>                a list box's lines -> "line <t>"... "count <n>"
//   winpeek info  <title>                     -> "rect l t r b", "client w h", "iconic 0|1",
//                                                "visible 0|1", "cymenu <n>", "cycaption <n>",
//                                                "menu <id> checked|unchecked" for item 97
//   winpeek post  <title> <msg> <wparam> [lparam]   PostMessageA -> "ok"
//   winpeek show  <title> <SW_ number>        ShowWindow         -> "ok"
//   winpeek ver   <file>                      the file's version resource ->
//                                                "FileVersion <text>" (U.S. English, 1252)
//   winpeek res   <title>                     resources of the window's process ->
//                                                "pid <n>", "threads <n>", "handles <n>",
//                                                "gdi <n>", "user <n>", "windows <n>",
//                                                "private <bytes>" (-1: not known; under
//                                                Wine gdi comes from the GDI handle table
//                                                and user is not known, see below)
// Exit codes: 0 done, 1 bad arguments, 2 timeout / window or control missing.
#include <windows.h>
#include <tlhelp32.h>
#include <psapi.h>
#include "driver/resource.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MOXM_GETSTATE (WM_USER + 0x4D0)   // the status button's colour state

static void fnPrintEscaped(const char *lpszTag, const char *lpsz)
{
    printf("%s ", lpszTag);
    for (; *lpsz; lpsz++) {
        const char *lpszEscape = *lpsz == '\n' ? "\\n" : *lpsz == '\r' ? "\\r" : *lpsz == '\\' ? "\\\\" : NULL;
        if (lpszEscape)
            fputs(lpszEscape, stdout);
        else
            putchar(*lpsz);
    }
    putchar('\n');
}

// Handles of process dwPid in the system's handle list; -1 if not available.
typedef LONG(WINAPI *NTQSI)(ULONG, PVOID, ULONG, PULONG);
struct SYSHANDLE {
    ULONG ulOwnerPid;
    BYTE bObjectType, bFlags;
    USHORT wValue;
    PVOID pObject;
    ULONG ulAccess;
};
static long fnSystemHandleCount(DWORD dwPid)
{
    const ULONG SystemHandleInformation = 16;
    const LONG STATUS_INFO_LENGTH_MISMATCH = (LONG)0xC0000004;
    NTQSI pfn = (NTQSI)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    if (!pfn)
        return -1;
    long lCount = -1;
    for (ULONG cb = 1 << 20; cb <= (1u << 26) && lCount < 0; cb *= 2) {
        BYTE *pb = (BYTE *)malloc(cb);
        if (!pb)
            break;
        ULONG cbGot = 0;
        LONG lStatus = pfn(SystemHandleInformation, pb, cb, &cbGot);
        if (lStatus == 0) {
            ULONG n = *(ULONG *)pb;
            const SYSHANDLE *ph = (const SYSHANDLE *)(pb + sizeof(ULONG_PTR));
            lCount = 0;
            for (ULONG i = 0; i < n; i++)
                lCount += ph[i].ulOwnerPid == dwPid;
        }
        free(pb);
        if (lStatus != 0 && lStatus != STATUS_INFO_LENGTH_MISMATCH)
            break;
    }
    return lCount;
}

// GDI objects of another process. Wine's GetGuiResources is a stub, but Wine
// keeps every process's GDI handles in a table that its PEB points at
// (GdiSharedHandleTable, as on Windows): 65536 entries of 24 bytes, an entry
// in use when its type is not 0, bit 7 of its unique word marking the stock
// objects every process has. Read from outside; -1 if it cannot be read.
#pragma pack(push, 1)
struct GDIENTRY {
    ULONGLONG ullObject;
    ULONG ulOwner;
    USHORT wUnique;
    BYTE bType, bFlags;
    ULONGLONG ullUser;
};
#pragma pack(pop)
#define GDI_TABLE_ENTRIES 0x10000
typedef LONG(WINAPI *NTQIP)(HANDLE, ULONG, PVOID, ULONG, PULONG);
static long fnGdiObjectCount(HANDLE hProc)
{
    struct { PVOID pvReserved1; PVOID pvPeb; ULONG_PTR aulReserved[4]; } pbi;
    NTQIP pfn = (NTQIP)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess");
    ULONG cb = 0;
    if (!pfn || pfn(hProc, 0 /* ProcessBasicInformation */, &pbi, sizeof pbi, &cb) != 0 || !pbi.pvPeb)
        return -1;
    // GdiSharedHandleTable: offset 0x94 of a 32-bit PEB, 0xF8 of a 64-bit one.
    PVOID pvTable = NULL;
    SIZE_T cbGot = 0;
    if (!ReadProcessMemory(hProc, (BYTE *)pbi.pvPeb + (sizeof(void *) == 4 ? 0x94 : 0xF8), &pvTable,
                           sizeof pvTable, &cbGot) || !pvTable)
        return -1;
    static GDIENTRY aEntries[GDI_TABLE_ENTRIES];
    if (!ReadProcessMemory(hProc, pvTable, aEntries, sizeof aEntries, &cbGot) || cbGot != sizeof aEntries)
        return -1;
    long lCount = 0;
    for (int i = 0; i < GDI_TABLE_ENTRIES; i++)
        lCount += aEntries[i].bType != 0 && (aEntries[i].wUnique & 0x80) == 0;
    return lCount;
}

struct WINCOUNT {
    DWORD dwPid;
    long lCount;
};
static BOOL CALLBACK fnCountWindows(HWND h, LPARAM lParam)
{
    WINCOUNT *pwc = (WINCOUNT *)lParam;
    DWORD dwPid = 0;
    GetWindowThreadProcessId(h, &dwPid);
    if (dwPid == pwc->dwPid) {
        pwc->lCount++;
        EnumChildWindows(h, [](HWND, LPARAM lp) CALLBACK -> BOOL {   // every descendant, once
            ((WINCOUNT *)lp)->lCount++;
            return TRUE;
        }, lParam);
    }
    return TRUE;
}

// The first descendant (not only child) with the id.
static HWND fnFindControl(HWND hTop, int iId)
{
    struct FINDCTL {
        int iId;
        HWND hFound;
    } f = { iId, NULL };
    EnumChildWindows(hTop, [](HWND h, LPARAM lParam) CALLBACK -> BOOL {
        FINDCTL *pf = (FINDCTL *)lParam;
        if (GetDlgCtrlID(h) == pf->iId)
            pf->hFound = h;
        return pf->hFound == NULL;
    }, (LPARAM)&f);
    return f.hFound;
}

static void fnNarrow(const WCHAR *pw, char *pc, int cb)
{
    if (!WideCharToMultiByte(CP_ACP, 0, pw, -1, pc, cb, NULL, NULL))
        pc[0] = 0;
}

static UINT_PTR fnNumber(const char *lpsz)
{
    return (UINT_PTR)strtoull(lpsz, NULL, 0);
}

// The verbs, each with the arguments after the title (argc counts them too).
static int fnWait(const char *lpszTitle, int argc, char **argv)
{
    DWORD dwTimeout = argc > 3 ? (DWORD)fnNumber(argv[3]) : 10000, dwStart = GetTickCount();
    HWND h;
    while ((h = FindWindowA(NULL, lpszTitle)) == NULL) {
        if (GetTickCount() - dwStart >= dwTimeout) {
            printf("timeout\n");
            return 2;
        }
        Sleep(20);
    }
    printf("hwnd %#x\n", (unsigned)(UINT_PTR)h);
    return 0;
}

static int fnVersion(const char *lpszFile)
{
    DWORD dwHandle = 0, cb = GetFileVersionInfoSizeA(lpszFile, &dwHandle);
    static BYTE abInfo[16384];
    char *lpsz = NULL;
    UINT uLen = 0;
    if (cb == 0 || cb > sizeof abInfo || !GetFileVersionInfoA(lpszFile, 0, cb, abInfo) ||
        !VerQueryValueA(abInfo, "\\StringFileInfo\\040904E4\\FileVersion", (LPVOID *)&lpsz, &uLen)) {
        printf("no version\n");
        return 2;
    }
    fnPrintEscaped("FileVersion", lpsz);
    return 0;
}

// "text" or "list" of a control. Wide calls: under Wine an ANSI LB_GETTEXT
// sent to another process comes back unconverted (one character per line).
static int fnControlText(HWND hTop, int, char **argv)
{
    HWND hCtl = fnFindControl(hTop, (int)fnNumber(argv[3]));
    if (!hCtl) {
        printf("no control\n");
        return 2;
    }
    static WCHAR awText[4096];
    static char acText[4 * 4096];
    if (!strcmp(argv[1], "text")) {
        awText[0] = 0;
        SendMessageW(hCtl, WM_GETTEXT, 4096, (LPARAM)awText);
        fnNarrow(awText, acText, sizeof acText);
        fnPrintEscaped("text", acText);
        char acClass[64];
        GetClassNameA(hCtl, acClass, sizeof acClass);
        if (!lstrcmpiA(acClass, "MOX_CC_Button"))
            printf("state %d\n", (int)SendMessageA(hCtl, MOXM_GETSTATE, 0, 0));
        return 0;
    }
    int n = (int)SendMessageA(hCtl, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; i++) {
        LRESULT lLen = SendMessageW(hCtl, LB_GETTEXTLEN, i, 0);
        if (lLen < 0 || lLen >= 4096)
            continue;
        awText[0] = 0;
        SendMessageW(hCtl, LB_GETTEXT, i, (LPARAM)awText);
        fnNarrow(awText, acText, sizeof acText);
        fnPrintEscaped("line", acText);
    }
    printf("count %d\n", n);
    return 0;
}

static int fnInfo(HWND hTop, int, char **)
{
    RECT rc, rcClient;
    if (!GetWindowRect(hTop, &rc) || !GetClientRect(hTop, &rcClient)) {
        printf("err %lu\n", GetLastError());
        return 2;
    }
    printf("rect %ld %ld %ld %ld\nclient %ld %ld\n", rc.left, rc.top, rc.right, rc.bottom, rcClient.right,
           rcClient.bottom);
    printf("iconic %d\nvisible %d\n", IsIconic(hTop) ? 1 : 0, IsWindowVisible(hTop) ? 1 : 0);
    printf("cymenu %d\ncycaption %d\n", GetSystemMetrics(SM_CYMENU), GetSystemMetrics(SM_CYCAPTION));
    HMENU hMenu = GetMenu(hTop);
    if (hMenu) {
        UINT uState = GetMenuState(hMenu, IDM_DEBUG, MF_BYCOMMAND);
        if (uState != (UINT)-1)
            printf("menu %d %s\n", IDM_DEBUG, (uState & MF_CHECKED) ? "checked" : "unchecked");
    }
    return 0;
}

static int fnPost(HWND hTop, int argc, char **argv)
{
    LPARAM lParam = argc > 5 ? (LPARAM)fnNumber(argv[5]) : 0;
    if (!PostMessageA(hTop, (UINT)fnNumber(argv[3]), (WPARAM)fnNumber(argv[4]), lParam)) {
        printf("err %lu\n", GetLastError());
        return 2;
    }
    printf("ok\n");
    return 0;
}

static int fnShow(HWND hTop, int, char **argv)
{
    ShowWindow(hTop, (int)fnNumber(argv[3]));
    printf("ok\n");
    return 0;
}

static long fnThreadCount(DWORD dwPid)
{
    // Threads from a snapshot: it needs no access to the process itself.
    long lThreads = -1;
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnap != INVALID_HANDLE_VALUE) {
        THREADENTRY32 te;
        te.dwSize = sizeof te;
        lThreads = 0;
        for (BOOL f = Thread32First(hSnap, &te); f; f = Thread32Next(hSnap, &te))
            lThreads += te.th32OwnerProcessID == dwPid;
        CloseHandle(hSnap);
    }
    return lThreads;
}

// The resources of the window's process, as far as they can be seen from outside.
static int fnResources(HWND hTop, int, char **)
{
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hTop, &dwPid);
    printf("pid %lu\nthreads %ld\n", dwPid, fnThreadCount(dwPid));
    long lHandles = -1, lGdi = -1, lUser = -1;
    long long llPrivate = -1;
    HANDLE hProc = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, dwPid);
    if (hProc) {
        DWORD dw = 0;
        if (GetProcessHandleCount(hProc, &dw) && dw != 0)
            lHandles = (long)dw;
        // Wine answers 0 for both (stubs); 0 is never true of a process
        // with a window, so it reads as not known.
        lGdi = (long)GetGuiResources(hProc, GR_GDIOBJECTS);
        if (lGdi <= 0)
            lGdi = fnGdiObjectCount(hProc);
        lUser = (long)GetGuiResources(hProc, GR_USEROBJECTS);
        if (lUser == 0)
            lUser = -1;
        PROCESS_MEMORY_COUNTERS_EX pmc = {};
        pmc.cb = sizeof pmc;
        if (GetProcessMemoryInfo(hProc, (PROCESS_MEMORY_COUNTERS *)&pmc, sizeof pmc))
            llPrivate = (long long)(pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage);
        CloseHandle(hProc);
    }
    // Wine's GetProcessHandleCount also answers 0; the system's handle
    // list is implemented there and counts the same handles.
    if (lHandles < 0)
        lHandles = fnSystemHandleCount(dwPid);
    WINCOUNT wc = {dwPid, 0};
    EnumWindows(fnCountWindows, (LPARAM)&wc);
    printf("windows %ld\nhandles %ld\ngdi %ld\nuser %ld\nprivate %lld\n", wc.lCount, lHandles, lGdi, lUser,
           llPrivate);
    return 0;
}

// The verbs on a window, with the least argc each needs.
static const struct {
    const char *lpszVerb;
    int cArgs;
    int (*pfn)(HWND hTop, int argc, char **argv);
} aVerbs[] = {
    { "text", 4, fnControlText }, { "list", 4, fnControlText }, { "info", 3, fnInfo },
    { "post", 5, fnPost },        { "show", 4, fnShow },        { "res", 3, fnResources },
};

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: winpeek wait|ver|text|list|info|post|show|res <title> ...\n");
        return 1;
    }
    if (!strcmp(argv[1], "wait"))
        return fnWait(argv[2], argc, argv);
    if (!strcmp(argv[1], "ver"))
        return fnVersion(argv[2]);
    for (const auto &v : aVerbs) {
        if (strcmp(argv[1], v.lpszVerb) != 0)
            continue;
        if (argc < v.cArgs)
            return 1;
        HWND hTop = FindWindowA(NULL, argv[2]);
        if (!hTop) {
            printf("no window\n");
            return 2;
        }
        return v.pfn(hTop, argc, argv);
    }
    fprintf(stderr, "winpeek: unknown verb %s\n", argv[1]);
    return 1;
}
