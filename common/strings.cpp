// strings: splitting a text into fields in place, reading edit controls,
// and the router size lookups.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "common/common32.h"

const char szNull[] = "";

#define EDIT_LINE_MAX   256

int fnSplitString(char *string, LPCSTR delim, unsigned count, char **outarray)
{
    if (count == 0)
        return 0;
    size_t uLen = strlen(string);
    if (uLen == 0) {
        for (unsigned i = 0; i < count; i++)
            outarray[i] = (char *)szNull;
        return 0;
    }

    // One delimiter character splits at every occurrence; several are used
    // one per boundary, and past the last one the terminator is compared,
    // which never matches inside the text.
    size_t uDelim = strlen(delim);
    unsigned y = 1;
    outarray[0] = string;
    for (size_t x = 0; x < uLen && y < count; x++) {
        char chDelim = uDelim < 2 ? delim[0] : delim[y - 1];
        if (string[x] == chDelim) {
            string[x] = 0;
            if (x + 1 < uLen) {
                outarray[y] = string + x + 1;
                y++;
            } else {
                outarray[y] = (char *)szNull;
            }
        }
    }
    for (unsigned i = y; i < count; i++)
        outarray[i] = (char *)szNull;
    return (int)y;
}

// Reads line 0 of an edit control, at most 256 characters; returns the
// number of characters, the text terminated in acLine (257 bytes).
static int fnGetEditLine(HWND hDlg, int id, char *acLine)
{
    // EM_GETLINE takes the buffer's size in its first word.
    *(WORD *)acLine = EDIT_LINE_MAX;
    LRESULT lGot = SendDlgItemMessageA(hDlg, id, EM_GETLINE, 0, (LPARAM)acLine);
    if (lGot < 0)
        lGot = 0;
    if (lGot > EDIT_LINE_MAX)
        lGot = EDIT_LINE_MAX;
    acLine[lGot] = 0;
    return (int)lGot;
}

int fnGetInt(HWND hDlg, int id)
{
    char acLine[EDIT_LINE_MAX + 2];
    if (fnGetEditLine(hDlg, id, acLine) == 0)
        return 0;
    // strtol stops at the first non-digit and saturates instead of
    // overflowing; long is 32 bits on Windows.
    return (int)strtol(acLine, NULL, 10);
}

int fnGetString(HWND hDlg, int id, char *string, int iStringLen)
{
    char acLine[EDIT_LINE_MAX + 2];
    if (fnGetEditLine(hDlg, id, acLine) == 0)
        return 1;
    if (iStringLen <= 0)
        return 1;   // nowhere to copy to
    strncpy(string, acLine, (size_t)iStringLen);   // zero-fills the rest
    string[iStringLen - 1] = 0;                    // a long line is cut
    return 0;
}

static int fnRouterSize(int iDeviceNo, LPCSTR lpszRouterKey, LPCSTR lpszDbKey)
{
    char acFile[32];
    snprintf(acFile, sizeof acFile, "grd_%03d.ini", iDeviceNo);
    int iSize = GetPrivateProfileIntA("Router", lpszRouterKey, 0, acFile);
    if (iSize)
        return iSize;
    snprintf(acFile, sizeof acFile, "dev_%03d.ini", iDeviceNo);
    return GetPrivateProfileIntA("Database", lpszDbKey, 0, acFile);
}

int GetRouterSource(int iDeviceNo)
{
    return fnRouterSize(iDeviceNo, "Sources", "DatabaseSize_0");
}

int GetRouterDest(int iDeviceNo)
{
    return fnRouterSize(iDeviceNo, "Destinations", "DatabaseSize_1");
}
