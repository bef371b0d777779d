// common32: routines shared by the control system's applications --
// the application environment (custom-control libraries, workstation number,
// first-instance lookup), the debug list and trace helpers, the generic
// version-information dialogs, and small string/dialog/database helpers.
#pragma once
#include <windows.h>

// ---- application environment (written once by fnInitAllApp, main thread only)
extern HINSTANCE hZARN_CC;      // "ZARN_CC.DLL", null while not loaded
extern HINSTANCE hZARN_CC09;    // "ZARN_CC09.DLL", null while not loaded
extern int iWorkstation;        // 0: not set
extern int fV2;                 // 1: workstation number came from xnet.ini

int  fnInitAllApp(HWND hWnd);
void fnCleanUpAllApp(void);
void fnGetAppName(HINSTANCE hInstance, char *name);          // name: 256 bytes
int  fnFindFirstInstance(LPCSTR lpcszProgName);
int  fnFindFirstInstanceTitle(LPCSTR lpszTitle);
int  SingleAppExec(LPCSTR lpszAppPath, LPCSTR lpszAppName, int iWorkstation);
                // names of 64 characters or more, and command lines of 512, are refused (0)
void fnZARNNameWindow(HINSTANCE hInstance, char *name);      // name: 21 bytes

// ---- debug list and trace helpers
void fnDebugList(HWND hWnd, int iId, LPCSTR lpszString);
void fnDebugDump(LPCSTR header, const char *szBuf, int iLen);
int  fnLogToDisk(LPCSTR filename, LPCSTR buffer, int fNew);
void mbs(LPCSTR header, LPCSTR message);
void mbi(LPCSTR header, int message);
void mbl(LPCSTR header, long message);

// ---- generic version-information dialogs
INT_PTR CALLBACK AboutDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SplashProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
void DrawBitmap(HDC hDC, HBITMAP hBitmap, short xStart, short yStart);

// ---- small string, dialog and database helpers
extern const char szNull[];     // the shared empty text of absent split fields
int  fnSplitString(char *string, LPCSTR delim, unsigned count, char **outarray);
int  fnGetInt(HWND hDlg, int id);
int  fnGetString(HWND hDlg, int id, char *string, int iStringLen);
int  GetRouterSource(int iDeviceNo);
int  GetRouterDest(int iDeviceNo);
