// boxpress.exe <caption> [timeout_ms=20000] [button=ok]
//
// Waits for a message box (top-level "#32770" window) with the given caption,
// prints "text: <its text>" (line breaks shown as \n), presses the button and
// waits until the box is gone. Exit 0 when done; 2 after printing "timeout"
// when no box appeared in time; 3 if the box did not go away; 1 on bad usage.
// Lets host-side tests check start-up failures unattended.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int fnButtonId(const char *psz)
{
    static const struct {
        const char *pszName;
        int iId;
    } aButtons[] = {{"ok", IDOK},         {"cancel", IDCANCEL}, {"abort", IDABORT},
                    {"retry", IDRETRY},   {"ignore", IDIGNORE}, {"yes", IDYES},
                    {"no", IDNO}};
    for (const auto &b : aButtons)
        if (lstrcmpiA(psz, b.pszName) == 0)
            return b.iId;
    return 0;
}

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 4) {
        fprintf(stderr, "usage: boxpress <caption> [timeout_ms=20000] [button=ok]\n");
        return 1;
    }
    const char *pszCaption = argv[1];
    DWORD dwTimeout = argc > 2 ? (DWORD)strtoul(argv[2], NULL, 10) : 20000;
    int iButton = fnButtonId(argc > 3 ? argv[3] : "ok");
    if (iButton == 0) {
        fprintf(stderr, "boxpress: unknown button '%s'\n", argv[3]);
        return 1;
    }

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

    PostMessageA(hBox, WM_COMMAND, MAKEWPARAM(iButton, BN_CLICKED), (LPARAM)GetDlgItem(hBox, iButton));
    DWORD dwPressed = GetTickCount();
    while (IsWindow(hBox)) {
        if (GetTickCount() - dwPressed > dwTimeout)
            return 3;
        Sleep(20);
    }
    return 0;
}
