// calendar: the standard calendar text of a local time.
#include <stdio.h>
#include <time.h>
#include "common/calendar.h"

int fnCalendarText(time_t tTime, char *acText, int iSize)
{
    static const char szDays[] = "SunMonTueWedThuFriSat";
    static const char szMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    struct tm *ptm = localtime(&tTime);
    if (!ptm || ptm->tm_wday < 0 || ptm->tm_wday > 6 || ptm->tm_mon < 0 || ptm->tm_mon > 11)
        return 0;
    int iNeed = snprintf(acText, (size_t)iSize, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n",
                         szDays + 3 * ptm->tm_wday, szMonths + 3 * ptm->tm_mon, ptm->tm_mday,
                         ptm->tm_hour, ptm->tm_min, ptm->tm_sec, 1900 + ptm->tm_year);
    return iNeed == CALENDAR_TEXT_LEN - 1 && iNeed < iSize;
}
