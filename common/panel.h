// panel: the right-button popup menu, a time/date display and the
// millisecond delay used by the serial layer's line break.
#pragma once
#include <windows.h>

void PopupMenu(HWND hMainWnd, HWND hPopWnd, LPARAM lParam);
void fnPutTime(HWND hWnd, int iIDTime, int iIDDate);
void fnMSDelay(HWND hWnd, UINT uDelay);
