// idle: what the driver costs at rest -- its CPU (and per thread), the
// wineserver's share and the stand-in's over a window with an acknowledging
// mixer and no tally changes, its resident memory -- beside a floor: a bare
// loop of the driver's 1-byte reads on the same pty (benchprobe readloop).
#pragma once
#include "rig.h"

// Measures, and closes the driver: the wineserver is measured without it.
void fnIdleRun(RIG *prig);
void fnIdleReport(void);
