// bwcc: the stand-in of the platform's control library BWCC32.DLL: the
// program's own declaration of BWCCRegister, exported here, and the styles
// of the shaded frame "BorShade" that the stand-in draws.
#pragma once
#include <windows.h>

#ifdef BWCC32_BUILDING
#define BWCC_API __declspec(dllexport)
#endif
// The entry point, as the program declares it.
#include "driver/bwcc.h"

// Styles of a "BorShade" control (low four bits of the window style).
#define BSS_GROUP   1   // sunken frame around a group (also style 0)
#define BSS_HDIP    2   // horizontal sunken line through the middle
#define BSS_VDIP    3   // vertical sunken line through the middle
#define BSS_HBUMP   4   // horizontal raised line
#define BSS_VBUMP   5   // vertical raised line
#define BSS_RGROUP  6   // raised frame around a group
