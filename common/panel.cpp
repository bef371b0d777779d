// panel: right-button popup menu, time/date display.
#include <windows.h>
#include <time.h>
#include <string.h>
#include "common/panel.h"
#include "common/calendar.h"

void PopupMenu(HWND hMainWnd, HWND hPopWnd, LPARAM lParam, UINT uAboutId, UINT uExitId)
{
    // Mouse messages pack x and y as signed 16-bit values: a click left of
    // the client origin arrives as a negative x.
    POINT pt;
    pt.x = (short)LOWORD(lParam);
    pt.y = (short)HIWORD(lParam);
    ClientToScreen(hPopWnd, &pt);

    HMENU hMenu = CreatePopupMenu();
    if (!hMenu)
        return;
    AppendMenuA(hMenu, MF_STRING, uAboutId, "&About");
    AppendMenuA(hMenu, MF_STRING, uExitId, "&Exit");
    TrackPopupMenu(hMenu, 0, pt.x, pt.y, 0, hMainWnd, NULL);
    DestroyMenu(hMenu);
}

void fnPutTime(HWND hWnd, int iIDTime, int iIDDate)
{
    char acCal[CALENDAR_TEXT_LEN];     // "Www Mmm dd hh:mm:ss yyyy\n"
    if (!fnCalendarText(time(NULL), acCal, sizeof acCal))
        return;

    char szTime[9];
    memcpy(szTime, acCal + 11, 8);
    szTime[8] = 0;
    SetDlgItemTextA(hWnd, iIDTime, szTime);

    char szDate[12];
    memcpy(szDate, acCal + 8, 2);
    szDate[2] = '-';
    memcpy(szDate + 3, acCal + 4, 3);
    szDate[6] = '-';
    memcpy(szDate + 7, acCal + 20, 4);
    szDate[11] = 0;
    SetDlgItemTextA(hWnd, iIDDate, szDate);
}
