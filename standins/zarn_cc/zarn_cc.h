// zarn_cc: private interface of the stand-in custom-control library
// ZARN_CC.DLL, for tests and tools that look inside a MOX_CC_Button.
#pragma once
#include <windows.h>

// Returns the control's colour state: 0 for none (a neutral status field),
// otherwise the digit of the last "/__<d>F__" text it was given.
#define MOXM_GETSTATE   (WM_USER + 0x4D0)

// Colours of each state's face, so that a test can check what is drawn.
#define MOX_CR_NONE     RGB(236, 236, 236)
#define MOX_CR_UNKNOWN  RGB(255, 191, 0)     // "/__1F__" amber
#define MOX_CR_HEALTHY  RGB(0, 150, 60)      // "/__2F__" green
#define MOX_CR_FAILED   RGB(200, 20, 20)     // "/__9F__" red
