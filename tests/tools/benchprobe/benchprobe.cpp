// benchprobe: the Windows side of the benchmark command (bench/mixbench).
//
//   benchprobe clock
//       Prints "freq <Hz>", then answers every line on stdin with
//       "qpc_ns <QueryPerformanceCounter in ns>", so that the host can bracket
//       the Windows clock between two readings of its own clocks.
//   benchprobe exchange <device> <count>
//       Hooks the stand-in infodriver of <device> with the product's infodriver
//       client and times <count> bare fnGetSlot and <count> bare fnSetSlot
//       calls (each one WM_COPYDATA request with its nested reply). Prints
//       "stat getslot|setslot <n> <p50_us> <p99_us> <max_us> <mean_us>".
//   benchprobe frame <device> <device file>
//       Runs the driver's own link, decoding and publishing modules in this
//       process: a main window, a panel with the debug list (filled to its 501
//       lines), the port of the device file opened and notifying like the driver
//       does, the stand-in infodriver hooked. Every WM_COMMNOTIFY is timed with
//       QPC around fnRxCommData (which publishes the map once the bytes waiting
//       are all read); once a frame has been decoded and published it prints
//       "F <first_ns> <last_ns> <end_ns> <busy_ns> <notifications> <writes>":
//       start of the first and of the last notification that carried the
//       frame, end of the last, time spent inside fnRxCommData, number of
//       notifications and slot writes (uNetTX) the frame caused. Before "ready"
//       it prints "stat debuglist|debuglist_hidden|outputdebugstring|getslot
//       ..." for those pieces of a frame's handling timed on their own. Ends at
//       EOF or "quit" on stdin.
//   benchprobe floor <device>
//       The floor of a frame, interleaved with the frames it is compared with:
//       hooks the stand-in of <device>, prints "ready", then for every line
//       "<old map> <new map>" (32 hex digits each, map byte 0 first) on stdin
//       makes the slot exchanges that the publisher makes for that change --
//       the same reads and writes, in the same order, with the same texts,
//       bare (fnGetSlot / fnSetSlot, nothing else) -- and prints
//       "B <start_ns> <end_ns> <exchanges>". Ends at EOF or "quit".
//   benchprobe breakdown <device> <device file> <COM number> <rounds>
//       Where the time of an exchange made inside the driver goes, measured in
//       one process with the conditions interleaved round by round, so that the
//       machine's load falls on all of them alike. Each block is the exchanges of
//       one frame of 16 changed map bytes (128 reads, 16 writes), made bare or
//       through the decoder and the publisher (fnParseRxData, fnPublishPending),
//       with no port open, with the port open and its receive thread running as
//       in the driver, or with only a bare read loop on the port. Prints one
//       "stat <condition> <blocks> <p50> <p99> <max> <mean>" per condition, in us
//       per exchange.
//   benchprobe readloop <COM number>
//       The floor of the driver's idle cost: a bare loop of overlapped 1-byte
//       reads with a 1 ms total time-out (the time-outs the driver's port
//       gets) on a thread of its own. Prints "ready", runs until EOF or
//       "quit" on stdin, then prints "loops <requests>".
//
// Everything is printed straight to the stdout handle, one line per write.
// A benchmark aid only; it is not part of the product.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <vector>

#include "driver/mixtally.h"
#include "driver/publish.h"
#include "comms/comms.h"
#include "comms/portset.h"
#include "infodriver/exinfdrv.h"
#include "common/common32.h"

static HWND hMain;                 // main thread
static HANDLE hStdOut;
static LARGE_INTEGER liFreq;

static const char szMark[] = "-- benchprobe mark --";

// ------------------------------------------------------------ output, clock

static void fnOut(const char *pszFormat, ...)
{
    char acLine[512];
    va_list ap;
    va_start(ap, pszFormat);
    int n = vsnprintf(acLine, sizeof acLine - 1, pszFormat, ap);
    va_end(ap);
    if (n < 0)
        return;
    if (n > (int)sizeof acLine - 2)
        n = (int)sizeof acLine - 2;
    acLine[n++] = '\n';
    DWORD dw;
    WriteFile(hStdOut, acLine, (DWORD)n, &dw, NULL);
}

// QueryPerformanceCounter in ns, split so that the product cannot overflow.
static unsigned long long fnQpcNs(void)
{
    LARGE_INTEGER li;
    QueryPerformanceCounter(&li);
    unsigned long long ullC = (unsigned long long)li.QuadPart;
    unsigned long long ullF = (unsigned long long)liFreq.QuadPart;
    return (ullC / ullF) * 1000000000ull + (ullC % ullF) * 1000000000ull / ullF;
}

// One line of stdin without its line end; 0 at end of input.
static int fnReadLine(HANDLE hIn, char *pszLine, size_t cbLine)
{
    size_t n = 0;
    for (;;) {
        char c;
        DWORD dw = 0;
        if (!ReadFile(hIn, &c, 1, &dw, NULL) || dw == 0)
            return n > 0 ? 1 : 0;
        if (c == '\n')
            break;
        if (c != '\r' && n + 1 < cbLine)
            pszLine[n++] = c;
    }
    pszLine[n] = 0;
    return 1;
}

// ------------------------------------------------------------ clock

static int fnClock(void)
{
    HANDLE hIn = GetStdHandle(STD_INPUT_HANDLE);
    char acLine[64];
    fnOut("freq %lld", (long long)liFreq.QuadPart);
    while (fnReadLine(hIn, acLine, sizeof acLine)) {
        unsigned long long ull = fnQpcNs();
        fnOut("qpc_ns %llu", ull);
    }
    return 0;
}

// ------------------------------------------------------------ windows

static LRESULT CALLBACK fnPlainProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_DESTROY && hWnd == hMain)
        PostQuitMessage(0);
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

// The stand-in must be there before the hook: a failed hook shows a blocking
// message box, which nobody would press here.
static int fnHook(int iDevice)
{
    char acTitle[64];
    snprintf(acTitle, sizeof acTitle, "infodrv %d (stand-in)", iDevice);
    if (FindWindowA("StandInInfodriver", acTitle) == NULL) {
        fnOut("err no stand-in infodriver for device %d", iDevice);
        return 1;
    }
    if (fnCreateExtInfodriv(iDevice) != 0) {
        fnOut("err hook of device %d failed", iDevice);
        return 1;
    }
    return 0;
}

// ------------------------------------------------------------ exchange

static void fnStat(const char *pszName, std::vector<double> &v)
{
    std::sort(v.begin(), v.end());
    double dSum = 0;
    for (double d : v)
        dSum += d;
    size_t n = v.size();
    fnOut("stat %s %u %.1f %.1f %.1f %.1f", pszName, (unsigned)n, v[n / 2], v[(n * 99) / 100],
          v[n - 1], dSum / (double)n);
}

// A hidden window of our own, hooked to the infodriver of iDevice: the bare
// client of the single exchanges and of the floor. 0, or 1 (said on stdout).
static int fnPlainClient(const char *pszTitle, int iDevice)
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = fnPlainProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "benchprobe";
    RegisterClassA(&wc);
    hMain = CreateWindowExA(0, "benchprobe", pszTitle, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                            NULL, NULL, wc.hInstance, NULL);
    if (hMain == NULL || fnInitExtInfodriv(hMain, NULL) != 0) {
        fnOut("err no window");
        return 1;
    }
    return fnHook(iDevice);
}

static int fnExchange(int iDevice, int iCount)
{
    if (fnPlainClient("benchprobe exchange", iDevice) != 0)
        return 1;

    char acSlot[300];
    std::vector<double> vGet, vSet;
    vGet.reserve((size_t)iCount);
    vSet.reserve((size_t)iCount);
    for (int i = 0; i < 50; i++)        // warm-up: first sends map pages, fill caches
        fnGetSlot(iDevice, 1, acSlot);
    for (int i = 0; i < iCount; i++) {
        unsigned long long t0 = fnQpcNs();
        fnGetSlot(iDevice, 1, acSlot);
        unsigned long long t1 = fnQpcNs();
        vGet.push_back((double)(t1 - t0) / 1000.0);
    }
    // Slot 4000 lies outside what the driver uses.
    for (int i = 0; i < iCount; i++) {
        unsigned long long t0 = fnQpcNs();
        fnSetSlot(iDevice, 4000, (i & 1) ? "1" : "0", 0);
        unsigned long long t1 = fnQpcNs();
        vSet.push_back((double)(t1 - t0) / 1000.0);
    }
    fnStat("getslot", vGet);
    fnStat("setslot", vSet);
    fnCleanupExtInfodriv();
    DestroyWindow(hMain);
    fnOut("done");
    return 0;
}

// ------------------------------------------------------------ frame

// Timing of the frame being received; main thread only.
static unsigned long long ullFirstNs, ullLastNs, ullBusyNs;
static unsigned uNotifies;
static DWORD uNetTXBefore;

// Whether the debug list's last line is still our mark: the decoder logs two
// lines for every frame it is handed.
static int fnFrameDecoded(void)
{
    HWND hList = GetDlgItem(hDlg, IDC_DEBUGLIST);
    LRESULT lCount = SendMessageA(hList, LB_GETCOUNT, 0, 0);
    if (lCount <= 0)
        return 1;
    if (SendMessageA(hList, LB_GETTEXTLEN, (WPARAM)(lCount - 1), 0) != (LRESULT)(sizeof szMark - 1))
        return 1;
    char acText[sizeof szMark];
    SendMessageA(hList, LB_GETTEXT, (WPARAM)(lCount - 1), (LPARAM)acText);
    return strcmp(acText, szMark) != 0;
}

static LRESULT CALLBACK fnFrameProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_COMMNOTIFY: {
        unsigned long long t0 = fnQpcNs();
        fnRxCommData(hWnd);
        unsigned long long t1 = fnQpcNs();
        if (uNotifies == 0)
            ullFirstNs = t0;
        ullLastNs = t0;
        ullBusyNs += t1 - t0;
        uNotifies++;
        if (fnFrameDecoded()) {
            // The mark goes first: a debug line takes milliseconds, and the
            // host sends the next frame once it has read the report.
            fnDebugList(hDlg, IDC_DEBUGLIST, szMark);
            fnOut("F %llu %llu %llu %llu %u %lu", ullFirstNs, ullLastNs, t1, ullBusyNs, uNotifies,
                  (unsigned long)(uNetTX - uNetTXBefore));
            uNotifies = 0;
            ullBusyNs = 0;
            uNetTXBefore = uNetTX;
        }
        return 0;
    }
    case WM_TIMER:
        fnTimerMessage(hWnd, wParam);
        return 0;
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    }
}

// The pieces a frame's handling is made of, each timed on its own, so that
// the per-frame cost can be split: one debug-list line (the list full), one
// debug-output line, one bare slot read.
static void fnProfileParts(int iDevice)
{
    static const char szLine[] = "Parse: 15 24 91 ff ff ff 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 ";
    const int cRounds = 200;
    std::vector<double> v;
    char acSlot[300];

    // Drawn, as with the debug view on.
    SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, WM_SETREDRAW, TRUE, 0);
    for (int i = 0; i < cRounds; i++) {
        unsigned long long t0 = fnQpcNs();
        fnDebugList(hDlg, IDC_DEBUGLIST, szLine);
        v.push_back((double)(fnQpcNs() - t0) / 1000.0);
    }
    SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, WM_SETREDRAW, FALSE, 0);
    fnStat("debuglist", v);
    // The same with the list hidden: what the drawing costs.
    HWND hList = GetDlgItem(hDlg, IDC_DEBUGLIST);
    ShowWindow(hList, SW_HIDE);
    // Interleaved with it, the same line with each of its six messages
    // addressed by control id, as fnDebugList did until it looked the list
    // up once.
    std::vector<double> vById;
    v.clear();
    for (int i = 0; i < cRounds; i++) {
        unsigned long long t0 = fnQpcNs();
        fnDebugList(hDlg, IDC_DEBUGLIST, szLine);
        v.push_back((double)(fnQpcNs() - t0) / 1000.0);
        t0 = fnQpcNs();
        LRESULT lCount = SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, LB_GETCOUNT, 0, 0);
        SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, LB_SETCURSEL, (WPARAM)(lCount - 1), 0);
        if (lCount > 500)
            SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, LB_DELETESTRING, 0, 0);
        SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, LB_ADDSTRING, 0, (LPARAM)szLine);
        lCount = SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, LB_GETCOUNT, 0, 0);
        SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, LB_SETCURSEL, (WPARAM)(lCount - 1), 0);
        vById.push_back((double)(fnQpcNs() - t0) / 1000.0);
    }
    fnStat("debuglist_hidden", v);
    fnStat("debuglist_hidden_by_id", vById);
    // What the list's lookup by control id costs (under Wine a list of the
    // dialog's children from the server each time).
    v.clear();
    for (int i = 0; i < cRounds; i++) {
        unsigned long long t0 = fnQpcNs();
        GetDlgItem(hDlg, IDC_DEBUGLIST);
        v.push_back((double)(fnQpcNs() - t0) / 1000.0);
    }
    fnStat("getdlgitem", v);
    ShowWindow(hList, SW_SHOWNA);
    UpdateWindow(hMain);
    v.clear();
    for (int i = 0; i < cRounds; i++) {
        unsigned long long t0 = fnQpcNs();
        OutputDebugStringA(szLine);
        v.push_back((double)(fnQpcNs() - t0) / 1000.0);
    }
    fnStat("outputdebugstring", v);
    v.clear();
    for (int i = 0; i < cRounds; i++) {
        unsigned long long t0 = fnQpcNs();
        fnGetSlot(iDevice, 1, acSlot);
        v.push_back((double)(fnQpcNs() - t0) / 1000.0);
    }
    fnStat("getslot", v);
}

static DWORD WINAPI fnStdinThread(LPVOID lpv)
{
    (void)lpv;
    HANDLE hIn = GetStdHandle(STD_INPUT_HANDLE);
    char acLine[64];
    while (fnReadLine(hIn, acLine, sizeof acLine)) {
        if (strcmp(acLine, "quit") == 0)
            break;
    }
    PostMessageA(hMain, WM_CLOSE, 0, 0);
    return 0;
}

// The driver's setting: a shown main window of the driver's size (no debug
// view: 60 pixels of panel), the panel and its debug list partly inside,
// drawing suspended as the driver does while its debug view is off, and the
// list already full, so that every new line costs a deletion as in a driver
// that has run a while. 0, or 1 (said on stdout).
static int fnDriverSetting(const char *pszTitle)
{
    HINSTANCE hInst = GetModuleHandleA(NULL);
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = fnFrameProc;
    wc.hInstance = hInst;
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = "benchprobe_frame";
    RegisterClassA(&wc);
    wc.lpfnWndProc = fnPlainProc;
    wc.lpszClassName = "benchprobe_panel";
    RegisterClassA(&wc);
    hMain = CreateWindowExA(0, "benchprobe_frame", pszTitle, WS_CAPTION | WS_SYSMENU,
                            0, 0, 564, GetSystemMetrics(SM_CYMENU) + GetSystemMetrics(SM_CYCAPTION) + 60,
                            NULL, NULL, hInst, NULL);
    if (hMain == NULL) {
        fnOut("err no window");
        return 1;
    }
    hDlg = CreateWindowExA(0, "benchprobe_panel", "", WS_CHILD | WS_VISIBLE, 0, 0, 560, 440, hMain, NULL,
                           hInst, NULL);
    CreateWindowExA(0, "LISTBOX", "", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | LBS_NOTIFY,
                    0, 32, 420, 300, hDlg, (HMENU)(INT_PTR)IDC_DEBUGLIST, hInst, NULL);
    SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, WM_SETREDRAW, FALSE, 0);
    ShowWindow(hMain, SW_SHOWNOACTIVATE);
    for (int i = 0; i < 501; i++)
        fnDebugList(hDlg, IDC_DEBUGLIST, "-- benchprobe fill --");
    return 0;
}

static int fnFrame(int iDevice, const char *pszDevFile)
{
    if (fnDriverSetting("benchprobe frame") != 0)
        return 1;
    fnDebugList(hDlg, IDC_DEBUGLIST, szMark);

    if (fnInitExtInfodriv(hMain, NULL) != 0 || fnHook(iDevice) != 0)
        return 1;
    fnProfileParts(iDevice);
    fnDebugList(hDlg, IDC_DEBUGLIST, szMark);
    iDeviceNo = iDevice;
    fnPublishReset();
    fStartup = 1;
    hCommPort = fnOpenPort(hMain, pszDevFile, "Configuration", 1, 38400, 8, 1, "O", 0, 0);
    if (hCommPort == -1) {
        fnOut("err port of %s did not open", pszDevFile);
        return 1;
    }
    EnableCommNotification(hCommPort, hMain, 1);
    // One ReadComm on the silent port: what the link pays per byte it takes.
    {
        std::vector<double> v;
        BYTE b;
        for (int i = 0; i < 200; i++) {
            unsigned long long t0 = fnQpcNs();
            ReadComm(hCommPort, &b, 1);
            v.push_back((double)(fnQpcNs() - t0) / 1000.0);
        }
        fnStat("readcomm", v);
    }
    uNetTXBefore = uNetTX;

    HANDLE hThread = CreateThread(NULL, 0, fnStdinThread, NULL, 0, NULL);
    if (hThread == NULL) {
        fnOut("err no stdin thread");
        return 1;
    }
    fnOut("ready");

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    fnCleanupExtInfodriv();
    CloseComm32(hCommPort);
    hCommPort = -1;
    fnOut("done");
    return 0;
}

// ------------------------------------------------------------ a frame's exchanges

#define MAX_EXCHANGES 256

// One slot exchange of a frame: a read, or a write of a text.
typedef struct tagEXCHANGE {
    char cKind;         // 'R' or 'W'
    int iSlot;
    const char *pszText;
} EXCHANGE;

// The exchanges the publisher makes for a change of map pbOld -> pbNew (after
// start-up): for every changed map byte in ascending order, a read of each
// of its eight slots and, right after the read of a slot whose bit changed,
// the write of its new text. Returns how many.
static int fnFrameExchanges(const BYTE *pbOld, const BYTE *pbNew, EXCHANGE *aEx)
{
    int n = 0;
    for (int x = 0; x < 16; x++) {
        if (pbOld[x] == pbNew[x])
            continue;
        for (int i = 0; i < 8; i++) {
            int iSlot = 8 * x + 1 + i;
            aEx[n].cKind = 'R';
            aEx[n].iSlot = iSlot;
            aEx[n++].pszText = NULL;
            if (((pbOld[x] ^ pbNew[x]) >> i) & 1) {
                aEx[n].cKind = 'W';
                aEx[n].iSlot = iSlot;
                aEx[n++].pszText = ((pbNew[x] >> i) & 1) ? "1" : "0";
            }
        }
    }
    return n;
}

// The same exchanges made bare, through the client and nothing else.
static void fnBareExchanges(int iDevice, const EXCHANGE *aEx, int n)
{
    char acSlot[300];
    for (int i = 0; i < n; i++) {
        if (aEx[i].cKind == 'R')
            fnGetSlot(iDevice, aEx[i].iSlot, acSlot);
        else
            fnSetSlot(iDevice, aEx[i].iSlot, aEx[i].pszText, 0);
    }
}

// A tally frame of map pb, as the mixer sends it (every map byte carried),
// in a zero-filled buffer as the link hands it to the decoder.
static void fnTallyFrame(const BYTE *pb, BYTE *abFrame, size_t cbFrame)
{
    memset(abFrame, 0, cbFrame);
    abFrame[0] = 21;
    abFrame[1] = 0x24;
    abFrame[2] = 0x91;
    abFrame[3] = 0xFF;
    abFrame[4] = 0xFF;
    abFrame[5] = 0xFF;
    for (int x = 0; x < 16; x++)
        abFrame[6 + x] = pb[15 - x];
}

static int fnParseMap(const char *psz, BYTE *pb)
{
    for (int x = 0; x < 16; x++) {
        unsigned u;
        if (sscanf(psz + 2 * x, "%2x", &u) != 1)
            return 0;
        pb[x] = (BYTE)u;
    }
    return 1;
}

// ------------------------------------------------------------ floor

static int fnFloor(int iDevice)
{
    if (fnPlainClient("benchprobe floor", iDevice) != 0)
        return 1;
    char acSlot[300];
    for (int i = 0; i < 50; i++)        // warm-up, as for the single exchanges
        fnGetSlot(iDevice, 1, acSlot);
    fnOut("ready");

    HANDLE hIn = GetStdHandle(STD_INPUT_HANDLE);
    char acLine[128];
    static EXCHANGE aEx[MAX_EXCHANGES];
    while (fnReadLine(hIn, acLine, sizeof acLine) && strcmp(acLine, "quit") != 0) {
        BYTE abOld[16], abNew[16];
        if (strlen(acLine) != 65 || !fnParseMap(acLine, abOld) || !fnParseMap(acLine + 33, abNew)) {
            fnOut("err bad maps '%s'", acLine);
            continue;
        }
        int n = fnFrameExchanges(abOld, abNew, aEx);
        unsigned long long t0 = fnQpcNs();
        fnBareExchanges(iDevice, aEx, n);
        unsigned long long t1 = fnQpcNs();
        fnOut("B %llu %llu %d", t0, t1, n);
    }
    fnCleanupExtInfodriv();
    DestroyWindow(hMain);
    fnOut("done");
    return 0;
}

// ------------------------------------------------------------ read loop

// Set by the main thread, read by the loop thread.
static volatile LONG lLoopRun;

// The bare loop: one overlapped read of one byte after the other, nothing
// else (ReadFile resets the request's event itself).
static DWORD WINAPI fnReadLoopThread(LPVOID lpv)
{
    HANDLE hDev = (HANDLE)lpv;
    OVERLAPPED os;
    BYTE b;
    DWORD dwRequests = 0;
    ZeroMemory(&os, sizeof os);
    os.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    while (lLoopRun) {
        DWORD dw = 0;
        if (!ReadFile(hDev, &b, 1, &dw, &os) && GetLastError() == ERROR_IO_PENDING)
            GetOverlappedResult(hDev, &os, &dw, TRUE);
        dwRequests++;
    }
    CloseHandle(os.hEvent);
    return dwRequests;
}

// Opens COMn with the time-outs the driver's registration gives its port
// (2, 1, 0, 0, 1000) and starts the loop; NULL (and *phDev untouched) when
// the port does not open.
static HANDLE fnStartReadLoop(int iCom, HANDLE *phDev)
{
    char acName[32];
    snprintf(acName, sizeof acName, "\\\\.\\COM%d", iCom);
    HANDLE hDev = CreateFileA(acName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                              NULL);
    if (hDev == INVALID_HANDLE_VALUE)
        return NULL;
    COMMTIMEOUTS to = { 2, 1, 0, 0, 1000 };
    SetCommTimeouts(hDev, &to);
    lLoopRun = 1;
    HANDLE hThread = CreateThread(NULL, 0, fnReadLoopThread, hDev, 0, NULL);
    if (hThread == NULL) {
        CloseHandle(hDev);
        return NULL;
    }
    *phDev = hDev;
    return hThread;
}

// Stops the loop; the number of requests it made.
static DWORD fnStopReadLoop(HANDLE hThread, HANDLE hDev)
{
    DWORD dwRequests = 0;
    lLoopRun = 0;
    WaitForSingleObject(hThread, 5000);
    GetExitCodeThread(hThread, &dwRequests);
    CloseHandle(hThread);
    CloseHandle(hDev);
    return dwRequests;
}

static int fnReadLoop(int iCom)
{
    HANDLE hDev, hThread = fnStartReadLoop(iCom, &hDev);
    if (hThread == NULL) {
        fnOut("err COM%d did not open (%lu)", iCom, GetLastError());
        return 1;
    }
    fnOut("ready");
    char acLine[64];
    HANDLE hIn = GetStdHandle(STD_INPUT_HANDLE);
    while (fnReadLine(hIn, acLine, sizeof acLine) && strcmp(acLine, "quit") != 0) {
    }
    fnOut("loops %lu", (unsigned long)fnStopReadLoop(hThread, hDev));
    return 0;
}

// ------------------------------------------------------------ breakdown

enum { BD_BARE, BD_BARE_RX, BD_BARE_LOOP, BD_DECODE_RX, BD_DECODE, BD_READS1, BD_COUNT };
static const char *const apszBreakdown[BD_COUNT] = {
    "bare", "bare_rxthread", "bare_readloop", "decoder_rxthread", "decoder", "reads_slot1",
};

// The frame's exchanges made bare, each one timed: its reads and its writes
// go to separate lists (us per exchange).
static void fnBareExchangesTimed(int iDevice, const EXCHANGE *aEx, int n, std::vector<double> *pvRead,
                                 std::vector<double> *pvWrite)
{
    char acSlot[300];
    for (int i = 0; i < n; i++) {
        unsigned long long t0 = fnQpcNs();
        if (aEx[i].cKind == 'R')
            fnGetSlot(iDevice, aEx[i].iSlot, acSlot);
        else
            fnSetSlot(iDevice, aEx[i].iSlot, aEx[i].pszText, 0);
        double d = (double)(fnQpcNs() - t0) / 1000.0;
        (aEx[i].cKind == 'R' ? pvRead : pvWrite)->push_back(d);
    }
}

static int fnBreakdown(int iDevice, const char *pszDevFile, int iCom, int iRounds)
{
    if (fnDriverSetting("benchprobe breakdown") != 0)
        return 1;
    if (fnInitExtInfodriv(hMain, NULL) != 0 || fnHook(iDevice) != 0)
        return 1;
    iDeviceNo = iDevice;

    // Map bytes 0x01 <-> 0x03: one slot of each byte flips.
    BYTE abA[16], abB[16], abFrame[32];
    memset(abA, 0x01, sizeof abA);
    memset(abB, 0x03, sizeof abB);
    // Publish map A once, so that the infodriver holds what the decoder
    // takes as the previous map.
    fnPublishReset();
    fStartup = 1;
    fnTallyFrame(abA, abFrame, sizeof abFrame);
    fnParseRxData(abFrame, 21);
    fnPublishPending();
    const BYTE *pbCur = abA;

    static EXCHANGE aEx[MAX_EXCHANGES];
    std::vector<double> av[BD_COUNT], vRead, vWrite;
    for (int r = 0; r < iRounds; r++) {
        for (int k = 0; k < BD_COUNT; k++) {
            const BYTE *pbNext = pbCur == abA ? abB : abA;
            HANDLE hLoop = NULL, hDev = NULL;
            if (k == BD_BARE_RX || k == BD_DECODE_RX) {
                hCommPort = fnOpenPort(hMain, pszDevFile, "Configuration", 1, 38400, 8, 1, "O", 0, 0);
                if (hCommPort == -1) {
                    fnOut("err port of %s did not open", pszDevFile);
                    return 1;
                }
                EnableCommNotification(hCommPort, hMain, 1);
            } else if (k == BD_BARE_LOOP) {
                hLoop = fnStartReadLoop(iCom, &hDev);
                if (hLoop == NULL) {
                    fnOut("err COM%d did not open (%lu)", iCom, GetLastError());
                    return 1;
                }
            }
            Sleep(20);      // the thread settles into its requests
            int n = fnFrameExchanges(pbCur, pbNext, aEx);
            unsigned long long t0 = fnQpcNs();
            if (k == BD_DECODE_RX || k == BD_DECODE) {
                fnTallyFrame(pbNext, abFrame, sizeof abFrame);
                memcpy(bPreviousUncompressedData, pbCur, 16);
                fStartup = 0;
                fnParseRxData(abFrame, 21);
                fnPublishPending();
            } else if (k == BD_BARE) {
                fnBareExchangesTimed(iDevice, aEx, n, &vRead, &vWrite);
            } else if (k == BD_READS1) {
                // The single-exchange probe's loop: the same number of reads, all of slot 1.
                char acSlot[300];
                for (int i = 0; i < n; i++)
                    fnGetSlot(iDevice, 1, acSlot);
                pbNext = pbCur;
            } else {
                fnBareExchanges(iDevice, aEx, n);
            }
            av[k].push_back((double)(fnQpcNs() - t0) / 1000.0 / n);
            pbCur = pbNext;
            if (hCommPort != -1) {
                CloseComm32(hCommPort);
                hCommPort = -1;
            }
            if (hLoop != NULL)
                fnStopReadLoop(hLoop, hDev);
            // Whatever the port posted meanwhile is dropped here.
            MSG msg;
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
                if (msg.message != WM_COMMNOTIFY)
                    DispatchMessageA(&msg);
            }
        }
    }
    for (int k = 0; k < BD_COUNT; k++)
        fnStat(apszBreakdown[k], av[k]);
    fnStat("bare_each_read", vRead);
    fnStat("bare_each_write", vWrite);
    fnCleanupExtInfodriv();
    DestroyWindow(hMain);
    fnOut("done");
    return 0;
}

int main(int argc, char **argv)
{
    hStdOut = GetStdHandle(STD_OUTPUT_HANDLE);
    QueryPerformanceFrequency(&liFreq);
    if (argc >= 2 && strcmp(argv[1], "clock") == 0)
        return fnClock();
    if (argc >= 4 && strcmp(argv[1], "exchange") == 0) {
        int iDevice = atoi(argv[2]), iCount = atoi(argv[3]);
        if (iDevice < 1 || iDevice > 999 || iCount < 1 || iCount > 1000000) {
            fnOut("err bad device or count");
            return 2;
        }
        return fnExchange(iDevice, iCount);
    }
    if (argc >= 4 && strcmp(argv[1], "frame") == 0) {
        int iDevice = atoi(argv[2]);
        if (iDevice < 1 || iDevice > 999) {
            fnOut("err bad device");
            return 2;
        }
        return fnFrame(iDevice, argv[3]);
    }
    if (argc >= 3 && strcmp(argv[1], "floor") == 0) {
        int iDevice = atoi(argv[2]);
        if (iDevice < 1 || iDevice > 999) {
            fnOut("err bad device");
            return 2;
        }
        return fnFloor(iDevice);
    }
    if (argc >= 6 && strcmp(argv[1], "breakdown") == 0) {
        int iDevice = atoi(argv[2]), iCom = atoi(argv[4]), iRounds = atoi(argv[5]);
        if (iDevice < 1 || iDevice > 999 || iCom < 1 || iCom > 256 || iRounds < 1) {
            fnOut("err bad device, port or rounds");
            return 2;
        }
        return fnBreakdown(iDevice, argv[3], iCom, iRounds);
    }
    if (argc >= 3 && strcmp(argv[1], "readloop") == 0) {
        int iCom = atoi(argv[2]);
        if (iCom < 1 || iCom > 256) {
            fnOut("err bad port");
            return 2;
        }
        return fnReadLoop(iCom);
    }
    fnOut("usage: benchprobe clock | exchange <device> <count> | frame <device> <device file> | floor <device> |"
          " breakdown <device> <device file> <COM number> <rounds> | readloop <COM number>");
    return 2;
}
