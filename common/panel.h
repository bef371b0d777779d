// panel: the right-button popup menu, a time/date display and the
// millisecond delay used by the serial layer's line break.
#pragma once
#include <windows.h>

// The popup menu "&About", "&Exit" at a mouse message's point (client
// coordinates of hPopWnd); a choice reaches hMainWnd as WM_COMMAND with the
// caller's command id.
void PopupMenu(HWND hMainWnd, HWND hPopWnd, LPARAM lParam, UINT uAboutId, UINT uExitId);
void fnPutTime(HWND hWnd, int iIDTime, int iIDDate);
void fnMSDelay(HWND hWnd, UINT uDelay);
