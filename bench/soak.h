// soak: the real driver under a scripted show for a number of minutes --
// about 25 changing frames a second, a link loss every minute, a maintenance
// command every 20 s -- with its resources counted from outside at launch,
// after a warm-up, every minute and at the end, and the growth per hour
// from the warm-up to the end. At the end slots 1..128 must hold the last
// map and slot 4094 "0". Runs on COM18 with device 304.
#pragma once

// The whole soak, its own table and JSON (soak-<stamp>.json). With fCheck,
// growth past loose bounds (what a leak per frame would break) fails it.
// Exit code.
int fnSoak(int iMinutes, int fCheck, const char *pszIso, const char *pszStamp);
