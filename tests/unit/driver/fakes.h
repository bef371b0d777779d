// Doubles of what the tally decoder and the link supervision call outside
// their own modules: the infodriver client (an in-memory slot store), the
// serial layer (a byte queue to read, a journal of what goes to the line)
// and the debug list. The panel and the main window are real (hidden)
// windows, so SetDlgItemText and the window timers are the platform's own.
#pragma once
#include <windows.h>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace fake {

struct SlotWrite {
    int iDevice;
    int iSlot;
    std::string text;
};

extern std::map<int, std::string> slots;      // the infodriver's slot texts
extern std::vector<SlotWrite> writes;         // every fnSetSlot, in order
extern int nSlotReads;                        // fnCheckSlot reads
extern std::vector<std::string> debugLines;   // fnDebugList lines
extern std::deque<BYTE> rx;                   // bytes ReadComm hands out
extern std::vector<std::string> line;         // "write 02 ff 80", "flush 8", "break 38400 2"
extern std::map<int, std::vector<std::string>> panelTexts;  // texts set per control id

void Reset();
// ReadComm calls whose destination starts inside the link's frame buffer and
// runs past its end.
int BoundsViolations();
void ResetBoundsViolations();
void Receive(const std::vector<BYTE> &bytes);
std::string Hex(const BYTE *pb, size_t n);

// Real hidden windows: hMain runs fnTimer on WM_TIMER; the panel has probe
// controls 105, 110, 111 that journal every text they are given.
HWND MainWindow();
HWND Panel();
// Pumps messages until pred() holds or the deadline passes; returns pred().
template <class F> bool PumpUntil(F pred, DWORD dwTimeoutMs = 10000)
{
    DWORD dwStart = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - dwStart > dwTimeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

}  // namespace fake
