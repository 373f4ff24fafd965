// Time: system and local time, file times, tick counts, sleeping, and the run-time clock.
//
// Local time follows the host's TZ. Every reading comes from clock_gettime/time and the C
// library's local-time conversion, so a process run under libfaketime sees the faked time
// everywhere (tick counts and the performance counter included).
#pragma once

#include <ctime>

#include "pal/base.h"

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);
void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime);
void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);

// FILETIME: 100 ns units since 1601-01-01. Fails with ERROR_INVALID_PARAMETER for a field
// out of range (month 13, 30 February, hour 24...) or a year before 1601 or after 30827.
// wDayOfWeek is ignored on input and filled on output.
BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);
BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
// UTC <-> local with the bias in force now, as Windows does: a winter moment converted in
// summer is shifted by the summer bias.
BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime);
BOOL WINAPI LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, LPFILETIME lpFileTime);
// -1, 0 or 1.
LONG WINAPI CompareFileTime(const FILETIME* lpFileTime1, const FILETIME* lpFileTime2);

// Milliseconds since an arbitrary start (the monotonic clock); GetTickCount wraps at 2^32.
DWORD WINAPI GetTickCount();
ULONGLONG WINAPI GetTickCount64();
// Sleeps at least dwMilliseconds (restarted after signals); 0 yields.
void WINAPI Sleep(DWORD dwMilliseconds);
// Nanoseconds of the monotonic clock; the frequency is 1 000 000 000.
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);

// ---- The run-time clock --------------------------------------------------------------------
// time_t is 64 bits on this host, as __time64_t is on Windows. The "_s" conversions take
// their arguments in the Microsoft order (result first) and return 0 or EINVAL.

typedef int64_t __time64_t;
typedef int errno_t;
void _tzset();
__time64_t _time64(__time64_t* destTime);
errno_t _localtime64_s(struct tm* tmDest, const __time64_t* sourceTime);
errno_t _gmtime64_s(struct tm* tmDest, const __time64_t* sourceTime);
errno_t localtime_s(struct tm* tmDest, const time_t* sourceTime);
errno_t gmtime_s(struct tm* tmDest, const time_t* sourceTime);
// mktime: tm_isdst -1 lets the time zone rules decide, as the run-time does.
__time64_t _mktime64(struct tm* timeptr);
