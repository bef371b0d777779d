// throughput: how fast the driver follows the mixer frame by frame -- the
// fastest rate of frames of type (a) at which every frame's write arrives
// and no map is superseded (a paced ladder, then two halvings) -- beside the
// floor's rate of one changed map byte; and what it drains when frames come
// back to back (the flood), where it publishes only the newest of the maps
// waiting, with the flood's time split by the stand-in's stamps.
#pragma once
#include "rig.h"

void fnThroughputRun(RIG *prig);
void fnThroughputReport(void);
