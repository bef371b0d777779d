// about: the driver's modal About box (dialog template "ABOUT").
#pragma once
#include <windows.h>

void About(HWND hWndMain, HINSTANCE hInst);
INT_PTR CALLBACK _AboutDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
