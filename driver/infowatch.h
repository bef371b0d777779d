// infowatch: keeps the driver's infodriver in view. An infodriver that goes
// (its window is gone, or an exchange got no reply) is marked lost once --
// debug line, one error, the Network TX field turns red -- and hooked again
// quietly on every poll tick; when one answers, the driver republishes what
// it owns (slots 1..128 from the last decoded map, 4094 from the link state).
// Main window thread only.
#pragma once
#include <windows.h>

// Set from the loss until a republication has been answered in full.
// Written and read on the main window thread only.
extern int fInfodrivLost;

// The poll tick: notices a vanished window (no exchange needed, so a quiet
// link notices too) and, while lost, tries to hook again.
void fnInfodrivWatchTick(void);
// After slot exchanges: marks the infodriver lost if one got no reply.
void fnInfodrivWatchExchanges(void);
