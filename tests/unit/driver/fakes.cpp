// Doubles for the decoder and link tests; see fakes.h.
#include "fakes.h"
#include <stdlib.h>
#include <string.h>
#include "driver/mixtally.h"
#include "driver/infowatch.h"
#include "driver/portwatch.h"
#include "driver/publish.h"
#include "comms/comms.h"
#include "comms/portset.h"
#include "infodriver/exinfdrv.h"
#include "common/common32.h"

namespace fake {

static INT_PTR NextOpen()
{
    INT_PTR h = 11;
    if (!opens.empty()) {
        h = opens.front();
        opens.pop_front();
    }
    if (h != -1)
        iDead = 0;    // a new device
    return h;
}

std::vector<std::string> Written()
{
    std::vector<std::string> v;
    for (const SlotWrite &w : writes)
        v.push_back(std::to_string(w.iSlot) + "=" + w.text);
    return v;
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
        fnTimerMessage(h, wParam);
        return 0;
    }
    return DefWindowProcA(h, msg, wParam, lParam);
}

// The running infodriver's window (NULL: none runs) and the client's entry
// for the device (NULL: not hooked; may name a window that is gone).
static HWND hInfoWnd;
static HWND hHooked;

void InfodrivGone()
{
    DestroyWindow(hInfoWnd);
    hInfoWnd = NULL;
}

void InfodrivStart()
{
    hInfoWnd = MakeWindow("infodriver", ProbeProc, "DriverTestProbe", WS_OVERLAPPED, NULL, {0, 0, 5, 5});
}

// Real hidden windows: the main window runs fnTimer on WM_TIMER; the panel
// has probe controls 105, 110, 111 that journal every text they are given.
static HWND MainWindow()
{
    static HWND h;
    if (!h)
        h = MakeWindow("driver test", MainProc, "DriverTestMain", WS_OVERLAPPED, NULL, {0, 0, 10, 10});
    return h;
}

static HWND Panel()
{
    static HWND h;
    if (!h) {
        h = MakeWindow("panel", MainProc, "DriverTestMain", WS_OVERLAPPED, NULL, {0, 0, 10, 10});
        static const int aiIds[] = { IDC_NETTX, IDC_COMMS, IDC_ERRORS };
        for (int id : aiIds)
            MakeWindow("", ProbeProc, "DriverTestProbe", WS_CHILD, h, {0, 0, 5, 5}, id);
    }
    return h;
}

static void fnRemoveDeviceFile(void)
{
    DeleteFileA(DeviceFile().c_str());
}

// One file per process: CTest runs the tests of this program side by side,
// and some delete or rewrite the file that the others' reopens read.
std::string DeviceFile()
{
    static std::string s;
    if (s.empty()) {
        char acDir[MAX_PATH];
        GetTempPathA(sizeof acDir, acDir);
        s = std::string(acDir) + "mixtally_link_test_dev_201_" + std::to_string(GetCurrentProcessId()) + ".ini";
        atexit(fnRemoveDeviceFile);
    }
    return s;
}

// The platform's own timer, journalled.
static UINT_PTR WINAPI JournalSetTimer(HWND h, UINT_PTR id, UINT uMs, TIMERPROC pfn)
{
    timers.push_back(std::to_string((unsigned long long)id) + " " + std::to_string(uMs));
    return SetTimer(h, id, uMs, pfn);
}

void Reset()
{
    slots.clear();
    writes.clear();
    nSlotReads = 0;
    debugLines.clear();
    rx.clear();
    panelTexts.clear();
    iDead = 0;

    hWnd = MainWindow();
    hDlg = Panel();
    pfnLinkTicks = GetTickCount;
    dwTicksPerRead = 0;
    pfnLinkSetTimer = JournalSetTimer;
    fnLinkReset(hWnd);
    timers.clear();
    iDeviceNo = 201;
    // Start-up's open: keeps the device file for reopens, forgets a lost port.
    WritePrivateProfileStringA("Configuration", "Com", "7", DeviceFile().c_str());
    opens = { 6 };
    hCommPort = fnOpenMixerPort(hWnd, DeviceFile().c_str());
    line.clear();

    fnPublishReset();
    fStartup = 1;
    nRehooks = 0;
    fSilent = false;
    pfnDuringExchange = nullptr;
    fDrop = nullptr;
    uExtInfodrivMissRun = 0;
    if (!IsWindow(hInfoWnd))
        InfodrivStart();
    hHooked = hInfoWnd;
    fnInfodrivWatchReset();
}

}  // namespace fake

// ---- infodriver client
DWORD uExtInfodrivNoReply;
DWORD uExtInfodrivAnswered;
DWORD uExtInfodrivMissRun;

// An exchange reaches the store only through the hooked window of the
// infodriver that runs; a dangling or silent one gets no reply, nor does
// one that fDrop says to drop.
static bool Answered(int iSlot)
{
    if (fake::pfnDuringExchange) {
        auto pfn = fake::pfnDuringExchange;
        fake::pfnDuringExchange = nullptr;      // once: a nested exchange must not recurse
        pfn(iSlot);
    }
    if (fake::hHooked == fake::hInfoWnd && IsWindow(fake::hInfoWnd) && !fake::fSilent &&
        !(fake::fDrop && fake::fDrop(iSlot))) {
        uExtInfodrivAnswered++;
        uExtInfodrivMissRun = 0;
        return true;
    }
    uExtInfodrivNoReply++;
    uExtInfodrivMissRun++;
    return false;
}

int fnSetSlot(int iDeviceNo, int iIndex, LPCSTR szSlot, int)
{
    if (fake::hHooked == NULL || !Answered(iIndex))
        return 1;
    fake::writes.push_back({ iDeviceNo, iIndex, szSlot });
    fake::slots[iIndex] = szSlot;
    return 0;
}

int fnCheckSlot(int iDeviceNo, LPCSTR szSlot, int iSlot, int fNow)
{
    if (fake::hHooked == NULL)
        return 0;
    fake::nSlotReads++;
    if (!Answered(iSlot))
        return 0;
    auto it = fake::slots.find(iSlot);
    if (it != fake::slots.end() && it->second == szSlot)
        return 0;
    return fnSetSlot(iDeviceNo, iSlot, szSlot, fNow) == 0 ? 1 : 0;
}

HWND fnGetHWND(int)
{
    return fake::hHooked;
}

int fnRehookExtInfodriv(int)
{
    fake::nRehooks++;
    if (!IsWindow(fake::hInfoWnd))
        return 1;
    fake::hHooked = fake::hInfoWnd;
    return 0;
}

void fnForgetExtInfodriv(int)
{
    fake::hHooked = NULL;
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
        fake::nBoundsViolations++;
    fake::dwTicks += fake::dwTicksPerRead;
    int n = 0;
    while (n < wBytes && !fake::rx.empty()) {
        bDest[n++] = fake::rx.front();
        fake::rx.pop_front();
    }
    return n;
}

int WriteComm(INT_PTR hCom, const BYTE *bData, WORD wBytes)
{
    fake::line.push_back((hCom == hCommPort ? "write " : "write-wrong-port ") + Hex(bData, wBytes));
    return wBytes;
}

int FlushComm(INT_PTR hCom, ULONG ulFlags)
{
    fake::line.push_back((hCom == hCommPort ? "flush " : "flush-wrong-port ") + std::to_string(ulFlags));
    return 0;
}

void fnCommBreak(HWND, INT_PTR hCom, UINT uBaudRate, UINT uBreakLength)
{
    fake::line.push_back((hCom == hCommPort ? "break " : "break-wrong-port ") +
                         std::to_string(uBaudRate) + " " + std::to_string(uBreakLength));
}

int GetCommDead32(INT_PTR hCom)
{
    return hCom == hCommPort ? fake::iDead : 0;
}

void CloseComm32(INT_PTR hCom)
{
    fake::line.push_back("close " + std::to_string((long long)hCom));
}

int EnableCommNotification(INT_PTR hCom, HWND hWndMain, int iBNot)
{
    fake::line.push_back(std::string(hWndMain == hWnd ? "notify " : "notify-wrong-window ") +
                         std::to_string((long long)hCom) + " " + std::to_string(iBNot));
    return 1;
}

INT_PTR fnOpenPort(HWND, LPCSTR lpszFilename, LPCSTR lpszSection, int iDefPort, ULONG lDefSpeed,
                   int iDefDataBits, int iDefStopBits, LPCSTR lpszDefParity, int fDefHardware,
                   int fDefXOnXOff)
{
    fake::line.push_back("open " + std::string(lpszFilename) + " " + lpszSection + " " + std::to_string(iDefPort) +
                         " " + std::to_string(lDefSpeed) + " " + std::to_string(iDefDataBits) + " " +
                         std::to_string(iDefStopBits) + " " + lpszDefParity + " " + std::to_string(fDefHardware) +
                         " " + std::to_string(fDefXOnXOff));
    return fake::NextOpen();
}

int fnProfilePort(LPCSTR lpszFilename, LPCSTR lpszSection, int iDefPort)
{
    return (int)GetPrivateProfileIntA(lpszSection, "Com", iDefPort, lpszFilename);
}

// What start-up's open found in the device file: COM7, 38400 8 1 odd.
BOOL fnOpenedPortSettings(PORTSETTINGS *pps)
{
    pps->iPort = 7;
    pps->lSpeed = 38400;
    pps->iDataBits = 8;
    pps->iStopBits = ONESTOPBIT;
    pps->iParity = ODDPARITY;
    return TRUE;
}

INT_PTR fnReopenPort(const PORTSETTINGS *pps)
{
    fake::line.push_back("reopen COM" + std::to_string(pps->iPort) + " " + std::to_string(pps->lSpeed) + " " +
                         std::to_string(pps->iDataBits) + " " + std::to_string(pps->iStopBits) + " " +
                         std::to_string(pps->iParity));
    return fake::NextOpen();
}
