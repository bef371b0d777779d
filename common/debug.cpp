// debug: the bounded debug list box and the trace helpers (debug-output
// dump, line log file, quick message boxes).
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "common/common32.h"

#define DEBUG_LIST_MAX  500     // above this many lines the oldest goes

void fnDebugList(HWND hWnd, int iId, LPCSTR lpszString)
{
    // The list is looked up once: under Wine every lookup by control id asks
    // the server for the dialog's children, and a line takes six messages.
    // A list that does not exist takes the messages harmlessly, as before.
    HWND hList = GetDlgItem(hWnd, iId);
    LRESULT lCount = SendMessageA(hList, LB_GETCOUNT, 0, 0);
    // For an empty list this selects -1, which clears the selection.
    SendMessageA(hList, LB_SETCURSEL, (WPARAM)(lCount - 1), 0);
    if (lCount > DEBUG_LIST_MAX)
        SendMessageA(hList, LB_DELETESTRING, 0, 0);
    SendMessageA(hList, LB_ADDSTRING, 0, (LPARAM)lpszString);
    lCount = SendMessageA(hList, LB_GETCOUNT, 0, 0);
    // Selecting the newest line keeps it in view.
    SendMessageA(hList, LB_SETCURSEL, (WPARAM)(lCount - 1), 0);
}

void fnDebugDump(LPCSTR header, const char *szBuf, int iLen)
{
    OutputDebugStringA(header);
    for (int i = 0; i < iLen; i++) {
        unsigned char ch = (unsigned char)szBuf[i];
        char acPiece[8];
        if (ch >= 0x21 && ch <= 0x7D)
            snprintf(acPiece, sizeof acPiece, "%c", ch);
        else
            snprintf(acPiece, sizeof acPiece, "<%02x>", ch);
        OutputDebugStringA(acPiece);
    }
}

int fnLogToDisk(LPCSTR filename, LPCSTR buffer, int fNew)
{
    // Appended to where it exists, unless fNew; created (or emptied) otherwise.
    HANDLE hFile = INVALID_HANDLE_VALUE;
    if (!fNew) {
        hFile = CreateFileA(filename, GENERIC_WRITE, FILE_SHARE_READ, NULL,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (hFile != INVALID_HANDLE_VALUE)
            SetFilePointer(hFile, 0, NULL, FILE_END);
    }
    if (hFile == INVALID_HANDLE_VALUE)
        hFile = CreateFileA(filename, GENERIC_WRITE, FILE_SHARE_READ, NULL,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return 1;

    DWORD dwDone;
    WriteFile(hFile, buffer, (DWORD)strlen(buffer), &dwDone, NULL);
    WriteFile(hFile, "\r\n", 2, &dwDone, NULL);
    CloseHandle(hFile);
    return 0;
}

void mbs(LPCSTR header, LPCSTR message)
{
    MessageBoxA(NULL, message, header, MB_OK | MB_ICONINFORMATION);
}

void mbi(LPCSTR header, int message)
{
    char acText[64];
    snprintf(acText, sizeof acText, "Int: 0x%x , %d", (unsigned)message, message);
    MessageBoxA(NULL, acText, header, MB_OK | MB_ICONINFORMATION);
}

void mbl(LPCSTR header, long message)
{
    char acText[64];
    snprintf(acText, sizeof acText, "Long Int: 0x%lx , %ld", (unsigned long)message, message);
    MessageBoxA(NULL, acText, header, MB_OK | MB_ICONINFORMATION);
}
