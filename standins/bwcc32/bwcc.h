// bwcc: interface of the BWCC32 custom-control library (stand-in build).
// BWCCRegister makes the dialog classes "BORDLG"/"bordlg" and the shaded
// frame "BorShade" available to the dialog templates of the calling program.
#pragma once
#include <windows.h>

#ifdef BWCC32_BUILDING
#define BWCC32_API __declspec(dllexport)
#else
#define BWCC32_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Returns TRUE when the classes are registered (also on repeated calls).
BWCC32_API BOOL WINAPI BWCCRegister(HINSTANCE hInstance);

#ifdef __cplusplus
}
#endif

// Styles of a "BorShade" control (low four bits of the window style).
#define BSS_GROUP   1   // sunken frame around a group (also style 0)
#define BSS_HDIP    2   // horizontal sunken line through the middle
#define BSS_VDIP    3   // vertical sunken line through the middle
#define BSS_HBUMP   4   // horizontal raised line
#define BSS_VBUMP   5   // vertical raised line
#define BSS_RGROUP  6   // raised frame around a group
