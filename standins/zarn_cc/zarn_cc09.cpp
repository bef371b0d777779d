// zarn_cc09: STAND-IN for the control system's second custom-control
// library ZARN_CC09.DLL. The program only loads and frees it; here it holds
// nothing but a version query.
#include <windows.h>

// Version of this library as 0xMMmm (major, minor).
extern "C" __declspec(dllexport) DWORD WINAPI ZarnCc09Version(void)
{
    return 0x0900;
}
