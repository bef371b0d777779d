// panel: the right-button popup menu and a time/date display.
#pragma once
#include <windows.h>

// The popup menu "&About", "&Exit" at a mouse message's point (client
// coordinates of hPopWnd); a choice reaches hMainWnd as WM_COMMAND with the
// caller's command id.
void PopupMenu(HWND hMainWnd, HWND hPopWnd, LPARAM lParam, UINT uAboutId, UINT uExitId);
void fnPutTime(HWND hWnd, int iIDTime, int iIDDate);
