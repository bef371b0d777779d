// breakdown: where the driver's time goes, measured inside one process by
// benchprobe, in the driver's setting (shown main window, full debug list):
// the driver's own link, decoder and publisher timed around fnRxCommData
// for each kind of frame, with the pieces of a frame's handling timed alone
// (DRIVER COST PER FRAME); and one frame's exchanges made in turn bare,
// beside the port's receive thread, beside a bare read loop and through the
// decoder and publisher, round by round (WHERE AN EXCHANGE'S TIME GOES).
// Runs on COM14 with a stand-in of device 302.
#pragma once
#include "harness.h"

// Both measurements (the breakdown first).
void fnInProcessRun(harness::Install *pInst);
// The in-process cost of a case's frame, p50 ms (0 when not measured).
double fnInProcessP50(int iCase);
void fnInProcessReport(void);
void fnBreakdownReport(void);
// Only the breakdown, its table printed: for looking into where the time
// goes without a full run. Exit code.
int fnBreakdownOnly(void);
