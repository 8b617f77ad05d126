// Calendar time.
#pragma once

#include "win32/types.h"

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;     // 1..12
    WORD wDayOfWeek; // 0 = Sunday
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

void GetLocalTime(LPSYSTEMTIME time);  // local time zone
void GetSystemTime(LPSYSTEMTIME time); // UTC
