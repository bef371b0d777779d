// bwcc: what the driver uses of the platform's control library BWCC32.DLL.
// BWCCRegister makes its dialog classes ("bordlg"/"BORDLG") and its shaded
// frame "BorShade" available to the calling program's dialog templates;
// TRUE when they are registered, also on a repeated call.
#pragma once
#include <windows.h>

#ifndef BWCC_API
#define BWCC_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

BWCC_API BOOL WINAPI BWCCRegister(HINSTANCE hInstance);

#ifdef __cplusplus
}
#endif
