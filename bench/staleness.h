// staleness: how far behind the mixer the tally falls where the driver
// cannot publish every map -- from the last frame's last byte to the moment
// the stand-in holds the whole last map: a burst of whole-map changes
// against an infodriver that answers late, a flood of small changes, and a
// flaky infodriver that withholds replies at random.
#pragma once
#include "rig.h"

void fnStalenessRun(RIG *prig);
void fnStalenessReport(void);
