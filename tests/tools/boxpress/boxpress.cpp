// boxpress.exe <caption> [timeout_ms=20000]
//
// Waits for a message box (top-level "#32770" window) with the given caption,
// prints "text: <its text>" (line breaks shown as \n), presses OK and
// waits until the box is gone. Exit 0 when done; 2 after printing "timeout"
// when no box appeared in time; 3 if the box did not go away; 1 on bad usage.
// Lets host-side tests check start-up failures unattended.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: boxpress <caption> [timeout_ms=20000]\n");
        return 1;
    }
    const char *pszCaption = argv[1];
    DWORD dwTimeout = argc > 2 ? (DWORD)strtoul(argv[2], NULL, 10) : 20000;

    DWORD dwStart = GetTickCount();
    HWND hBox;
    while ((hBox = FindWindowA("#32770", pszCaption)) == NULL) {
        if (GetTickCount() - dwStart > dwTimeout) {
            printf("timeout\n");
            fflush(stdout);
            return 2;
        }
        Sleep(20);
    }

    // Control 0xFFFF is the box's text; a line break shows as the two characters \n.
    char acText[2048] = "";
    GetDlgItemTextA(hBox, 0xFFFF, acText, sizeof acText);
    printf("text: ");
    for (const char *pc = acText; *pc != '\0'; pc++) {
        if (*pc == '\n' || *pc == '\r')
            printf("\\%c", *pc == '\n' ? 'n' : 'r');
        else
            putchar(*pc);
    }
    printf("\n");
    fflush(stdout);

    PostMessageA(hBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(hBox, IDOK));
    DWORD dwPressed = GetTickCount();
    while (IsWindow(hBox)) {
        if (GetTickCount() - dwPressed > dwTimeout)
            return 3;
        Sleep(20);
    }
    return 0;
}
