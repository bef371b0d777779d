// benchprobe: the Windows side of the benchmark command (bench/mixbench;
// bench/README.md says what each mode measures). Modes:
//   clock                 "freq <Hz>", then "qpc_ns <QPC in ns>" for every line on stdin.
//   exchange <dev> <n>    n bare fnGetSlot and n bare fnSetSlot against the stand-in of <dev>;
//                         "stat getslot|setslot <n> <p50_us> <p99_us> <max_us> <mean_us>".
//   frame <dev> <file>    the driver's link, decoder and publisher in this process, in the
//                         driver's setting; "stat ..." lines for pieces timed alone, "ready",
//                         then per frame decoded and published "F <first_ns> <last_ns> <end_ns>
//                         <busy_ns> <notifications> <writes>": QPC around fnRxCommData of the
//                         notifications that carried it, and the slot writes it caused.
//   floor <dev>           "ready", then for every "<old map> <new map>" (32 hex digits each,
//                         map byte 0 first) the publisher's exchanges for that change made
//                         bare; "B <start_ns> <end_ns> <exchanges>".
//   breakdown <dev> <file> <COM> <rounds>
//                         the exchanges of a frame of 16 changed map bytes under each
//                         condition in turn, round by round; "stat <condition> ..." in us per
//                         exchange.
//   readloop <COM>        a bare loop of overlapped 1-byte reads with the driver's time-outs;
//                         "ready", then "loops <requests>" at the end.
// The modes that read stdin end at EOF or "quit". Everything is printed
// straight to the stdout handle, one line per write. A benchmark aid only;
// it is not part of the product.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "driver/mixtally.h"
#include "driver/publish.h"
#include "comms/comms.h"
#include "comms/portset.h"
#include "infodriver/exinfdrv.h"
#include "common/common32.h"
#include "standins/standin_util.h"

static HWND hMain;                 // main thread

static const char szMark[] = "-- benchprobe mark --";

// What a mode is given on its command line.
struct PROBEARGS {
    int iDevice, iCount, iCom;
    const char *pszDevFile;
};

static unsigned long long fnQpcNs(void)
{
    return fnQpcIn(1000000000ull);
}

static double fnUsSince(unsigned long long ullStartNs)
{
    return (double)(fnQpcNs() - ullStartNs) / 1000.0;
}

// One line of stdin without its line end; 0 at the end of input or at "quit".
static int fnReadLine(char *pszLine, size_t cbLine)
{
    HANDLE hIn = GetStdHandle(STD_INPUT_HANDLE);
    size_t n = 0;
    char c;
    DWORD dw = 0;
    while (ReadFile(hIn, &c, 1, &dw, NULL) && dw == 1 && c != '\n')
        if (c != '\r' && n + 1 < cbLine)
            pszLine[n++] = c;
    if (dw != 1 && n == 0)
        return 0;
    pszLine[n] = 0;
    return strcmp(pszLine, "quit") != 0;
}

// Reads stdin to its end or "quit".
static void fnWaitQuit(void)
{
    char acLine[64];
    while (fnReadLine(acLine, sizeof acLine)) {
    }
}

static void fnStat(const char *pszName, std::vector<double> &v)
{
    std::sort(v.begin(), v.end());
    double dSum = std::accumulate(v.begin(), v.end(), 0.0);
    size_t n = v.size();
    fnOut("stat %s %u %.1f %.1f %.1f %.1f", pszName, (unsigned)n, v[n / 2], v[(n * 99) / 100],
          v[n - 1], dSum / (double)n);
}

// cRounds calls of fn, each timed on its own (us), then their "stat" line.
template <class F> static void fnTimed(const char *pszName, int cRounds, F fn)
{
    std::vector<double> v;
    for (int i = 0; i < cRounds; i++) {
        unsigned long long t0 = fnQpcNs();
        fn(i);
        v.push_back(fnUsSince(t0));
    }
    fnStat(pszName, v);
}

static int fnClock(const PROBEARGS *)
{
    LARGE_INTEGER liFreq;
    char acLine[64];
    QueryPerformanceFrequency(&liFreq);
    fnOut("freq %lld", (long long)liFreq.QuadPart);
    while (fnReadLine(acLine, sizeof acLine))
        fnOut("qpc_ns %llu", fnQpcNs());
    return 0;
}

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

// A hidden window of our own, hooked to the infodriver of iDevice: the bare
// client of the single exchanges and of the floor. 0, or 1 (said on stdout).
static int fnPlainClient(const char *pszTitle, int iDevice)
{
    fnRegisterClass("benchprobe", fnPlainProc, GetModuleHandleA(NULL));
    hMain = CreateWindowExA(0, "benchprobe", pszTitle, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                            NULL, NULL, GetModuleHandleA(NULL), NULL);
    if (hMain == NULL || fnInitExtInfodriv(hMain, NULL) != 0) {
        fnOut("err no window");
        return 1;
    }
    if (fnHook(iDevice) != 0)
        return 1;
    char acSlot[300];
    for (int i = 0; i < 50; i++)        // warm-up: first sends map pages, fill caches
        fnGetSlot(iDevice, 1, acSlot);
    return 0;
}

static void fnClosePort(void)
{
    if (hCommPort != -1)
        CloseComm32(hCommPort);
    hCommPort = -1;
}

// The end of a mode that hooked: unhooked, its window and port closed.
static int fnDone(void)
{
    fnCleanupExtInfodriv();
    fnClosePort();
    if (IsWindow(hMain))
        DestroyWindow(hMain);
    fnOut("done");
    return 0;
}

static int fnExchange(const PROBEARGS *pa)
{
    char acSlot[300];
    fnTimed("getslot", pa->iCount, [&](int) { fnGetSlot(pa->iDevice, 1, acSlot); });
    // Slot 4000 lies outside what the driver uses.
    fnTimed("setslot", pa->iCount, [&](int i) { fnSetSlot(pa->iDevice, 4000, (i & 1) ? "1" : "0", 0); });
    return 0;
}

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
    if (lCount <= 0 || SendMessageA(hList, LB_GETTEXTLEN, (WPARAM)(lCount - 1), 0) != (LRESULT)(sizeof szMark - 1))
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
    default:
        return fnPlainProc(hWnd, uMsg, wParam, lParam);
    }
}

// The pieces a frame's handling is made of, each timed on its own, so that
// the per-frame cost can be split: one debug-list line (the list full), one
// debug-output line, one bare slot read.
static void fnProfileParts(int iDevice)
{
    static const char szLine[] = "Parse: 15 24 91 ff ff ff 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 ";
    const int cRounds = 200;
    char acSlot[300];
    // Drawn, as with the debug view on.
    SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, WM_SETREDRAW, TRUE, 0);
    fnTimed("debuglist", cRounds, [](int) { fnDebugList(hDlg, IDC_DEBUGLIST, szLine); });
    SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, WM_SETREDRAW, FALSE, 0);
    // The same with the list hidden: what the drawing costs.
    HWND hList = GetDlgItem(hDlg, IDC_DEBUGLIST);
    ShowWindow(hList, SW_HIDE);
    // Interleaved with it, the same line with each of its six messages
    // addressed by control id instead of to the list's handle.
    std::vector<double> v, vById;
    for (int i = 0; i < cRounds; i++) {
        unsigned long long t0 = fnQpcNs();
        fnDebugList(hDlg, IDC_DEBUGLIST, szLine);
        v.push_back(fnUsSince(t0));
        t0 = fnQpcNs();
        LRESULT lCount = SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, LB_GETCOUNT, 0, 0);
        SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, LB_SETCURSEL, (WPARAM)(lCount - 1), 0);
        if (lCount > 500)
            SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, LB_DELETESTRING, 0, 0);
        SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, LB_ADDSTRING, 0, (LPARAM)szLine);
        lCount = SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, LB_GETCOUNT, 0, 0);
        SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, LB_SETCURSEL, (WPARAM)(lCount - 1), 0);
        vById.push_back(fnUsSince(t0));
    }
    fnStat("debuglist_hidden", v);
    fnStat("debuglist_hidden_by_id", vById);
    // What the list's lookup by control id costs (under Wine a list of the
    // dialog's children from the server each time).
    fnTimed("getdlgitem", cRounds, [](int) { GetDlgItem(hDlg, IDC_DEBUGLIST); });
    ShowWindow(hList, SW_SHOWNA);
    UpdateWindow(hMain);
    fnTimed("outputdebugstring", cRounds, [](int) { OutputDebugStringA(szLine); });
    fnTimed("getslot", cRounds, [&](int) { fnGetSlot(iDevice, 1, acSlot); });
}

static DWORD WINAPI fnStdinThread(LPVOID)
{
    fnWaitQuit();
    PostMessageA(hMain, WM_CLOSE, 0, 0);
    return 0;
}

// The driver's setting: a shown main window of the driver's size (no debug
// view: 60 pixels of panel), the panel and its debug list partly inside,
// drawing suspended as the driver does while its debug view is off, and the
// list already full, so that every new line costs a deletion as in a driver
// that has run a while; the infodriver of iDevice hooked. 0, or 1 (said on
// stdout).
static int fnDriverSetting(const char *pszTitle, int iDevice)
{
    HINSTANCE hInst = GetModuleHandleA(NULL);
    fnRegisterClass("benchprobe_frame", fnFrameProc, hInst, 0, 0, (HBRUSH)GetStockObject(WHITE_BRUSH));
    fnRegisterClass("benchprobe_panel", fnPlainProc, hInst, 0, 0, (HBRUSH)GetStockObject(WHITE_BRUSH));
    hMain = CreateWindowExA(0, "benchprobe_frame", pszTitle, WS_CAPTION | WS_SYSMENU,
                            0, 0, 564, GetSystemMetrics(SM_CYMENU) + GetSystemMetrics(SM_CYCAPTION) + 60,
                            NULL, NULL, hInst, NULL);
    if (hMain == NULL) {
        fnOut("err no window");
        return 1;
    }
    hDlg = CreateWindowExA(0, "benchprobe_panel", "", WS_CHILD | WS_VISIBLE, 0, 0, 560, 440, hMain, NULL, hInst, NULL);
    CreateWindowExA(0, "LISTBOX", "", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | LBS_NOTIFY,
                    0, 32, 420, 300, hDlg, (HMENU)(INT_PTR)IDC_DEBUGLIST, hInst, NULL);
    SendDlgItemMessageA(hDlg, IDC_DEBUGLIST, WM_SETREDRAW, FALSE, 0);
    ShowWindow(hMain, SW_SHOWNOACTIVATE);
    for (int i = 0; i < 501; i++)
        fnDebugList(hDlg, IDC_DEBUGLIST, "-- benchprobe fill --");
    if (fnInitExtInfodriv(hMain, NULL) != 0 || fnHook(iDevice) != 0)
        return 1;
    iDeviceNo = iDevice;
    fnPublishReset();
    fStartup = 1;
    return 0;
}

// The port of the device file opened and notifying as the driver's is. 0, or
// 1 (said on stdout).
static int fnOpenDriverPort(const char *pszDevFile)
{
    hCommPort = fnOpenPort(hMain, pszDevFile, "Configuration", 1, 38400, 8, 1, "O", 0, 0);
    if (hCommPort == -1) {
        fnOut("err port of %s did not open", pszDevFile);
        return 1;
    }
    EnableCommNotification(hCommPort, hMain, 1);
    return 0;
}

static int fnFrame(const PROBEARGS *pa)
{
    fnProfileParts(pa->iDevice);
    fnDebugList(hDlg, IDC_DEBUGLIST, szMark);
    if (fnOpenDriverPort(pa->pszDevFile) != 0)
        return 1;
    // One ReadComm on the silent port: what the link pays per byte it takes.
    BYTE b;
    fnTimed("readcomm", 200, [&](int) { ReadComm(hCommPort, &b, 1); });
    uNetTXBefore = uNetTX;
    if (CreateThread(NULL, 0, fnStdinThread, NULL, 0, NULL) == NULL) {
        fnOut("err no stdin thread");
        return 1;
    }
    fnOut("ready");
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

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
            aEx[n++] = { 'R', iSlot, NULL };
            if (((pbOld[x] ^ pbNew[x]) >> i) & 1)
                aEx[n++] = { 'W', iSlot, ((pbNew[x] >> i) & 1) ? "1" : "0" };
        }
    }
    return n;
}

// The same exchanges made bare, through the client and nothing else; with
// pvRead, each one timed, its reads and its writes to separate lists (us).
static void fnBareExchanges(int iDevice, const EXCHANGE *aEx, int n, std::vector<double> *pvRead = NULL,
                            std::vector<double> *pvWrite = NULL)
{
    char acSlot[300];
    for (int i = 0; i < n; i++) {
        unsigned long long t0 = pvRead != NULL ? fnQpcNs() : 0;
        if (aEx[i].cKind == 'R')
            fnGetSlot(iDevice, aEx[i].iSlot, acSlot);
        else
            fnSetSlot(iDevice, aEx[i].iSlot, aEx[i].pszText, 0);
        if (pvRead != NULL)
            (aEx[i].cKind == 'R' ? pvRead : pvWrite)->push_back(fnUsSince(t0));
    }
}

// A tally frame of map pb, as the mixer sends it (every map byte carried),
// in a zero-filled buffer as the link hands it to the decoder.
static void fnTallyFrame(const BYTE *pb, BYTE *abFrame, size_t cbFrame)
{
    static const BYTE abHead[6] = { 21, 0x24, 0x91, 0xFF, 0xFF, 0xFF };
    memset(abFrame, 0, cbFrame);
    memcpy(abFrame, abHead, sizeof abHead);
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

static int fnFloor(const PROBEARGS *pa)
{
    fnOut("ready");
    char acLine[128];
    static EXCHANGE aEx[MAX_EXCHANGES];
    while (fnReadLine(acLine, sizeof acLine)) {
        BYTE abOld[16], abNew[16];
        if (strlen(acLine) != 65 || !fnParseMap(acLine, abOld) || !fnParseMap(acLine + 33, abNew)) {
            fnOut("err bad maps '%s'", acLine);
            continue;
        }
        int n = fnFrameExchanges(abOld, abNew, aEx);
        unsigned long long t0 = fnQpcNs();
        fnBareExchanges(pa->iDevice, aEx, n);
        fnOut("B %llu %llu %d", t0, fnQpcNs(), n);
    }
    return 0;
}

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
// the port does not open (said on stdout).
static HANDLE fnStartReadLoop(int iCom, HANDLE *phDev)
{
    char acName[32];
    snprintf(acName, sizeof acName, "\\\\.\\COM%d", iCom);
    HANDLE hDev = CreateFileA(acName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
    if (hDev == INVALID_HANDLE_VALUE) {
        fnOut("err COM%d did not open (%lu)", iCom, GetLastError());
        return NULL;
    }
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

static int fnReadLoop(const PROBEARGS *pa)
{
    HANDLE hDev, hThread = fnStartReadLoop(pa->iCom, &hDev);
    if (hThread == NULL)
        return 1;
    fnOut("ready");
    fnWaitQuit();
    fnOut("loops %lu", (unsigned long)fnStopReadLoop(hThread, hDev));
    return 0;
}

enum { BD_BARE, BD_BARE_RX, BD_BARE_LOOP, BD_DECODE_RX, BD_DECODE, BD_READS1, BD_COUNT };
static const char *const apszBreakdown[BD_COUNT] = {
    "bare", "bare_rxthread", "bare_readloop", "decoder_rxthread", "decoder", "reads_slot1",
};

static int fnBreakdown(const PROBEARGS *pa)
{
    int iDevice = pa->iDevice;
    // Map bytes 0x01 <-> 0x03: one slot of each byte flips.
    BYTE abA[16], abB[16], abFrame[32];
    memset(abA, 0x01, sizeof abA);
    memset(abB, 0x03, sizeof abB);
    // Publish map A once, so that the infodriver holds what the decoder
    // takes as the previous map.
    fnTallyFrame(abA, abFrame, sizeof abFrame);
    fnParseRxData(abFrame, 21);
    fnPublishPending();
    const BYTE *pbCur = abA;
    static EXCHANGE aEx[MAX_EXCHANGES];
    std::vector<double> av[BD_COUNT], vRead, vWrite;
    for (int r = 0; r < pa->iCount; r++) {
        for (int k = 0; k < BD_COUNT; k++) {
            const BYTE *pbNext = pbCur == abA ? abB : abA;
            HANDLE hLoop = NULL, hDev = NULL;
            if ((k == BD_BARE_RX || k == BD_DECODE_RX) && fnOpenDriverPort(pa->pszDevFile) != 0)
                return 1;
            if (k == BD_BARE_LOOP && (hLoop = fnStartReadLoop(pa->iCom, &hDev)) == NULL)
                return 1;
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
                fnBareExchanges(iDevice, aEx, n, &vRead, &vWrite);
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
            fnClosePort();
            if (hLoop != NULL)
                fnStopReadLoop(hLoop, hDev);
            // Whatever the port posted meanwhile is dropped here.
            MSG msg;
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
                if (msg.message != WM_COMMNOTIFY)
                    DispatchMessageA(&msg);
        }
    }
    for (int k = 0; k < BD_COUNT; k++)
        fnStat(apszBreakdown[k], av[k]);
    fnStat("bare_each_read", vRead);
    fnStat("bare_each_write", vWrite);
    return 0;
}

int main(int argc, char **argv)
{
    // The words after a mode's name: d a device 1..999, n a count 1..1000000,
    // c a COM number 1..256, f a device file. A mode's setting: 'p' the plain
    // client, 'd' the driver's, hooked; torn down by fnDone after the mode.
    static const struct {
        const char *pszName, *pszWords;
        char cSetting;
        int (*pfn)(const PROBEARGS *pa);
    } aModes[] = {
        { "clock", "", 0, fnClock }, { "exchange", "dn", 'p', fnExchange }, { "frame", "df", 'd', fnFrame },
        { "floor", "d", 'p', fnFloor }, { "breakdown", "dfcn", 'd', fnBreakdown }, { "readloop", "c", 0, fnReadLoop },
    };
    for (const auto &m : aModes) {
        int cWords = (int)strlen(m.pszWords);
        if (argc < 2 + cWords || strcmp(argv[1], m.pszName) != 0)
            continue;
        PROBEARGS pa = { 0, 0, 0, NULL };
        for (int i = 0; i < cWords; i++) {
            const char *pszWord = argv[2 + i];
            char c = m.pszWords[i];
            if (c == 'f') {
                pa.pszDevFile = pszWord;
                continue;
            }
            int iValue = atoi(pszWord), iMax = c == 'd' ? 999 : c == 'c' ? 256 : 1000000;
            if (iValue < 1 || iValue > iMax) {
                fnOut("err bad argument '%s' of %s", pszWord, m.pszName);
                return 2;
            }
            *(c == 'd' ? &pa.iDevice : c == 'c' ? &pa.iCom : &pa.iCount) = iValue;
        }
        std::string sTitle = std::string("benchprobe ") + m.pszName;
        if ((m.cSetting == 'p' && fnPlainClient(sTitle.c_str(), pa.iDevice) != 0) ||
            (m.cSetting == 'd' && fnDriverSetting(sTitle.c_str(), pa.iDevice) != 0))
            return 1;
        int iExit = m.pfn(&pa);
        return iExit == 0 && m.cSetting ? fnDone() : iExit;
    }
    fnOut("usage: benchprobe clock | exchange <device> <count> | frame <device> <device file> | floor <device> |"
          " breakdown <device> <device file> <COM number> <rounds> | readloop <COM number>");
    return 2;
}
