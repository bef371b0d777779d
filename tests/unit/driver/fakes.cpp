// Doubles for the decoder and link tests; see fakes.h.
#include "fakes.h"
#include <string.h>
#include "driver/mixtally.h"
#include "comms/comms.h"
#include "comms/portset.h"
#include "infodriver/exinfdrv.h"
#include "common/common32.h"

// The application shell's state, which the decoder and the link read.
HINSTANCE hInstance;
HWND hWnd;
HWND hDlg;
int iDeviceNo;
INT_PTR hCommPort = -1;
int fDebug;
const char ProgName[] = "mixtally";

namespace fake {

std::map<int, std::string> slots;
std::vector<SlotWrite> writes;
int nSlotReads;
std::vector<std::string> debugLines;
std::deque<BYTE> rx;
std::vector<std::string> line;
std::map<int, std::vector<std::string>> panelTexts;
static int cBoundsViolations;

int BoundsViolations() { return cBoundsViolations; }
void ResetBoundsViolations() { cBoundsViolations = 0; }

std::string Hex(const BYTE *pb, size_t n)
{
    static const char acHex[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        if (i)
            s += ' ';
        s += acHex[pb[i] >> 4];
        s += acHex[pb[i] & 15];
    }
    return s;
}

void Receive(const std::vector<BYTE> &bytes)
{
    rx.insert(rx.end(), bytes.begin(), bytes.end());
}

static LRESULT CALLBACK ProbeProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_SETTEXT && lParam)
        panelTexts[GetDlgCtrlID(h)].push_back((const char *)lParam);
    return DefWindowProcA(h, msg, wParam, lParam);
}

static LRESULT CALLBACK MainProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_TIMER) {
        fnTimer(h, wParam);
        return 0;
    }
    return DefWindowProcA(h, msg, wParam, lParam);
}

static void RegisterOnce()
{
    static bool fDone;
    if (fDone)
        return;
    fDone = true;
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = ProbeProc;
    wc.lpszClassName = "DriverTestProbe";
    RegisterClassA(&wc);
    wc.lpfnWndProc = MainProc;
    wc.lpszClassName = "DriverTestMain";
    RegisterClassA(&wc);
}

HWND MainWindow()
{
    static HWND h;
    RegisterOnce();
    if (!h)
        h = CreateWindowExA(0, "DriverTestMain", "driver test", WS_OVERLAPPED, 0, 0, 10, 10,
                            NULL, NULL, NULL, NULL);
    return h;
}

HWND Panel()
{
    static HWND h;
    RegisterOnce();
    if (!h) {
        h = CreateWindowExA(0, "DriverTestMain", "panel", WS_OVERLAPPED, 0, 0, 10, 10,
                            NULL, NULL, NULL, NULL);
        static const int aiIds[] = { IDC_NETTX, IDC_COMMS, IDC_ERRORS };
        for (int id : aiIds)
            CreateWindowExA(0, "DriverTestProbe", "", WS_CHILD, 0, 0, 5, 5, h,
                            (HMENU)(INT_PTR)id, NULL, NULL);
    }
    return h;
}

void Reset()
{
    slots.clear();
    writes.clear();
    nSlotReads = 0;
    debugLines.clear();
    rx.clear();
    line.clear();
    panelTexts.clear();

    hWnd = MainWindow();
    hDlg = Panel();
    for (UINT id = 1; id <= 3; id++)
        KillTimer(hWnd, id);
    iDeviceNo = 201;
    hCommPort = 6;

    memset(bPreviousUncompressedData, 0xFF, sizeof bPreviousUncompressedData);
    fStartup = 1;
    uNetTX = 0;
    memset(InBuf, 0, sizeof InBuf);
    uRxCount = 0;
    uExpectedCount = 0;
    iCommsFail = -1;
    uErrors = 0;
}

}  // namespace fake

// ---- infodriver client
int fnSetSlot(int iDeviceNo, int iIndex, LPCSTR szSlot, int fNow)
{
    (void)fNow;
    fake::writes.push_back({ iDeviceNo, iIndex, szSlot });
    fake::slots[iIndex] = szSlot;
    return 0;
}

int fnCheckSlot(int iDeviceNo, LPCSTR szSlot, int iSlot, int fNow)
{
    fake::nSlotReads++;
    auto it = fake::slots.find(iSlot);
    if (it != fake::slots.end() && it->second == szSlot)
        return 0;
    fnSetSlot(iDeviceNo, iSlot, szSlot, fNow);
    return 1;
}

// ---- debug list
void fnDebugList(HWND hWnd, int iId, LPCSTR lpszString)
{
    if (hWnd == hDlg && iId == IDC_DEBUGLIST)
        fake::debugLines.push_back(lpszString);
    else
        fake::debugLines.push_back("<wrong list> " + std::string(lpszString));
}

// ---- serial layer
int ReadComm(INT_PTR hCom, BYTE *bDest, WORD wBytes)
{
    if (hCom != hCommPort)
        return 0;
    if (bDest >= InBuf && bDest < InBuf + INBUF_SIZE && bDest + wBytes > InBuf + INBUF_SIZE)
        fake::cBoundsViolations++;
    int n = 0;
    while (n < wBytes && !fake::rx.empty()) {
        bDest[n++] = fake::rx.front();
        fake::rx.pop_front();
    }
    return n;
}

int WriteComm(INT_PTR hCom, const BYTE *bData, WORD wBytes)
{
    fake::line.push_back((hCom == hCommPort ? "write " : "write-wrong-port ") + fake::Hex(bData, wBytes));
    return wBytes;
}

int FlushComm(INT_PTR hCom, ULONG ulFlags)
{
    fake::line.push_back((hCom == hCommPort ? "flush " : "flush-wrong-port ") + std::to_string(ulFlags));
    return 0;
}

void fnCommBreak(HWND hWnd, INT_PTR hCom, UINT uBaudRate, UINT uBreakLength)
{
    (void)hWnd;
    fake::line.push_back((hCom == hCommPort ? "break " : "break-wrong-port ") +
                         std::to_string(uBaudRate) + " " + std::to_string(uBreakLength));
}
