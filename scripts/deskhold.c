/* Keeps the Wine virtual desktop alive for the whole test run.
 *
 * wineserver closes a desktop about a second after its last user other than
 * explorer.exe has gone; the next program that opens a window then starts a
 * new explorer.exe, which inherits (and holds open) that program's stdio
 * pipes. One idle process that owns a hidden window keeps the desktop's user
 * count above zero, so explorer.exe started by set-up stays. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE hInst, HINSTANCE hPrev, LPSTR lpCmd, int nShow)
{
    MSG msg;
    (void)hInst; (void)hPrev; (void)lpCmd; (void)nShow;
    if (!CreateWindowExA(0, "STATIC", "mixtally desktop holder", WS_POPUP,
                         0, 0, 1, 1, NULL, NULL, NULL, NULL))
        return 1;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
