// wirelib32: STAND-IN for the control system's library "wirelib32.dll",
// which this machine does not have. It is a resource library: the generic
// About and splash dialogs load bitmaps from it by name (e.g. "LOGO").
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hInst, DWORD dwReason, LPVOID lpReserved)
{
    (void)lpReserved;
    if (dwReason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(hInst);
    return TRUE;
}
