// calendar: the standard calendar text of a local time,
// "Www Mmm dd hh:mm:ss yyyy\n" with a space before a one-digit day, as the
// C standard's asctime writes it (the platform's C runtime's ctime writes a
// zero there instead, so it is not used).
#pragma once
#include <time.h>

#define CALENDAR_TEXT_LEN 26    // 24 characters, line feed, terminator

// Returns 1 with the text in acText, 0 when the time can't be converted.
int fnCalendarText(time_t tTime, char *acText, int iSize);
