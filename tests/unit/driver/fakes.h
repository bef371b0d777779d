// Doubles of what the tally decoder, the link supervision and the infodriver
// watch call outside their own modules: the infodriver client (an in-memory
// slot store behind a real window that can go, come back or stop answering), the
// serial layer (a byte queue to read, a journal of what goes to the line)
// and the debug list. The panel and the main window are real (hidden)
// windows, so SetDlgItemText and the window timers are the platform's own.
#pragma once
#include <windows.h>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>
#include "support/wintest.h"

namespace fake {

struct SlotWrite {
    int iDevice;
    int iSlot;
    std::string text;
};

inline std::map<int, std::string> slots;      // the infodriver's slot texts
inline std::vector<SlotWrite> writes;         // every fnSetSlot, in order
inline int nSlotReads;                        // fnCheckSlot reads
inline std::vector<std::string> debugLines;   // fnDebugList lines
inline std::deque<BYTE> rx;                   // bytes ReadComm hands out
inline std::vector<std::string> line;         // "write 02 ff 80", "flush 8", "break 38400 2",
                                              // "close 6", "open <file> ...", "reopen COM7 ...",
                                              // "notify 11 1"
inline std::map<int, std::vector<std::string>> panelTexts;  // texts set per control id
inline std::vector<std::string> timers;       // every SetTimer of the link: "<id> <ms>"
// A clock for the link (pfnLinkTicks = fake::Ticks) that moves only when told,
// and by dwTicksPerRead at every ReadComm (a drain that takes its time).
inline DWORD dwTicks, dwTicksPerRead;
inline DWORD WINAPI Ticks(void) { return dwTicks; }
inline int iDead;                             // GetCommDead32 of the open port
inline std::deque<INT_PTR> opens;             // results of the next opens and reopens; none left: 11
// Runs once, inside the next slot exchange (before its answer): what a
// program that sends the driver a message during an exchange makes happen.
inline std::function<void(int iSlot)> pfnDuringExchange;
// Exchanges for which it holds get no reply (a flaky infodriver).
inline std::function<bool(int iSlot)> fDrop;

void Reset();
// The device file start-up opened port 7 (index 6) from: [Configuration] Com=7.
// fnOpenedPortSettings reports 38400 8 1 odd for it.
std::string DeviceFile();
// ReadComm calls whose destination starts inside the link's frame buffer and
// runs past its end.
inline int nBoundsViolations;
inline void Receive(const std::vector<BYTE> &bytes) { rx.insert(rx.end(), bytes.begin(), bytes.end()); }
// The writes as "slot=text", in order.
std::vector<std::string> Written();

// The infodriver behind the client doubles: its process ends (its window is
// destroyed, the hooked handle dangles), a new one starts (a new window, not
// yet hooked), or it stays but answers nothing.
inline int nRehooks;                          // fnRehookExtInfodriv calls
inline bool fSilent;
void InfodrivGone();
void InfodrivStart();

}  // namespace fake
