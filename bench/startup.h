// startup: how long the driver takes to come up -- from the launch (the
// spawn of the Wine loader) to the stand-in's "hooked", to the first byte on
// the line and to the first poll, over a number of launches.
#pragma once
#include "rig.h"

// Launches the driver cRuns times, closing each but the last,
// which is left running with its link up (an acknowledge answered). 0, or
// -1 when a driver did not come up (said).
int fnStartupRun(RIG *prig, int cRuns);
void fnStartupReport(void);
