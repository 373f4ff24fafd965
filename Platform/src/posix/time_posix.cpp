// Clock readings go through clock_gettime, time and localtime_r only: libfaketime
// intercepts exactly these, so tests can move the clock of a process they start.
#include <sched.h>
#include <unistd.h>
#include <time.h>

#include <cerrno>
#include <cstdint>

#include "pal/errors.h"
#include "pal/time.h"
#include "time_convert.h"

namespace pal {
namespace {

timespec Now(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return ts;
}

SYSTEMTIME FromTm(const struct tm& tm, long nanoseconds) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(tm.tm_year + 1900);
  st.wMonth = static_cast<WORD>(tm.tm_mon + 1);
  st.wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  st.wDay = static_cast<WORD>(tm.tm_mday);
  st.wHour = static_cast<WORD>(tm.tm_hour);
  st.wMinute = static_cast<WORD>(tm.tm_min);
  st.wSecond = static_cast<WORD>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
  st.wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
  return st;
}

// The offset of local time from UTC now, in seconds (east positive).
long CurrentBias() {
  time_t now = time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  return tm.tm_gmtoff;
}

}  // namespace
}  // namespace pal

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
  timespec ts = pal::Now(CLOCK_REALTIME);
  struct tm tm {};
  localtime_r(&ts.tv_sec, &tm);
  *lpSystemTime = pal::FromTm(tm, ts.tv_nsec);
}

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
  timespec ts = pal::Now(CLOCK_REALTIME);
  struct tm tm {};
  gmtime_r(&ts.tv_sec, &tm);
  *lpSystemTime = pal::FromTm(tm, ts.tv_nsec);
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
  timespec ts = pal::Now(CLOCK_REALTIME);
  int64_t ticks = pal::kUnixEpochAsFileTime + static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
  *lpSystemTimeAsFileTime = pal::FromTicks(static_cast<uint64_t>(ticks));
}

// Windows converts with the bias in force now, not the one of the converted moment; so do we.
BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
  if (lpFileTime == nullptr || lpLocalFileTime == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t ticks = static_cast<int64_t>(pal::ToTicks(*lpFileTime)) + pal::CurrentBias() * 10000000LL;
  if (ticks < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpLocalFileTime = pal::FromTicks(static_cast<uint64_t>(ticks));
  return TRUE;
}

BOOL WINAPI LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, LPFILETIME lpFileTime) {
  if (lpFileTime == nullptr || lpLocalFileTime == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t ticks = static_cast<int64_t>(pal::ToTicks(*lpLocalFileTime)) - pal::CurrentBias() * 10000000LL;
  if (ticks < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpFileTime = pal::FromTicks(static_cast<uint64_t>(ticks));
  return TRUE;
}

ULONGLONG WINAPI GetTickCount64() {
  timespec ts = pal::Now(CLOCK_MONOTONIC);
  return static_cast<ULONGLONG>(ts.tv_sec) * 1000 + static_cast<ULONGLONG>(ts.tv_nsec) / 1000000;
}

DWORD WINAPI GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

void WINAPI Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    sched_yield();
    return;
  }
  if (dwMilliseconds == INFINITE) {
    for (;;) pause();
  }
  timespec want{static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000};
  timespec rest{};
  while (nanosleep(&want, &rest) != 0 && errno == EINTR) want = rest;
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
  timespec ts = pal::Now(CLOCK_MONOTONIC);
  lpPerformanceCount->QuadPart = static_cast<LONGLONG>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
  return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
  lpFrequency->QuadPart = 1000000000LL;
  return TRUE;
}

void _tzset() { tzset(); }

__time64_t _time64(__time64_t* destTime) {
  time_t now = time(nullptr);
  if (destTime != nullptr) *destTime = now;
  return now;
}

errno_t _localtime64_s(struct tm* tmDest, const __time64_t* sourceTime) {
  if (tmDest == nullptr || sourceTime == nullptr || *sourceTime < 0) {
    if (tmDest != nullptr) *tmDest = tm{-1, -1, -1, -1, -1, -1, -1, -1, -1, 0, nullptr};
    return EINVAL;
  }
  time_t t = static_cast<time_t>(*sourceTime);
  return localtime_r(&t, tmDest) != nullptr ? 0 : EINVAL;
}

errno_t _gmtime64_s(struct tm* tmDest, const __time64_t* sourceTime) {
  if (tmDest == nullptr || sourceTime == nullptr || *sourceTime < 0) {
    if (tmDest != nullptr) *tmDest = tm{-1, -1, -1, -1, -1, -1, -1, -1, -1, 0, nullptr};
    return EINVAL;
  }
  time_t t = static_cast<time_t>(*sourceTime);
  return gmtime_r(&t, tmDest) != nullptr ? 0 : EINVAL;
}

errno_t localtime_s(struct tm* tmDest, const time_t* sourceTime) {
  __time64_t t = sourceTime != nullptr ? *sourceTime : 0;
  return _localtime64_s(tmDest, sourceTime != nullptr ? &t : nullptr);
}

errno_t gmtime_s(struct tm* tmDest, const time_t* sourceTime) {
  __time64_t t = sourceTime != nullptr ? *sourceTime : 0;
  return _gmtime64_s(tmDest, sourceTime != nullptr ? &t : nullptr);
}

__time64_t _mktime64(struct tm* timeptr) { return mktime(timeptr); }
