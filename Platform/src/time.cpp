#include <cstdint>

#include "pal/errors.h"
#include "pal/time.h"
#include "time_convert.h"

namespace pal {
namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days since 1601-01-01 (a Monday) of a proleptic Gregorian date.
int64_t DaysFrom1601(int y, int m, int d) {
  int64_t years = y - 1601;
  int64_t days = years * 365 + years / 4 - years / 100 + years / 400;
  for (int i = 1; i < m; ++i) days += DaysInMonth(y, i);
  return days + d - 1;
}

constexpr uint64_t kTicksPerMs = 10000;
constexpr uint64_t kTicksPerDay = 86400000ULL * kTicksPerMs;

}  // namespace

std::optional<uint64_t> FileTimeFromSystemTime(const SYSTEMTIME& st) {
  if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
      st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 ||
      st.wSecond > 59 || st.wMilliseconds > 999) {
    return std::nullopt;
  }
  uint64_t days = static_cast<uint64_t>(DaysFrom1601(st.wYear, st.wMonth, st.wDay));
  uint64_t ms = ((st.wHour * 60ULL + st.wMinute) * 60ULL + st.wSecond) * 1000ULL + st.wMilliseconds;
  return days * kTicksPerDay + ms * kTicksPerMs;
}

std::optional<SYSTEMTIME> SystemTimeFromFileTime(uint64_t ticks) {
  if (ticks >= 0x8000000000000000ULL) return std::nullopt;
  uint64_t days = ticks / kTicksPerDay;
  uint64_t ms = (ticks % kTicksPerDay) / kTicksPerMs;
  SYSTEMTIME st{};
  st.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  // Walk 400-year cycles (146097 days), then years, then months.
  int64_t year = 1601 + static_cast<int64_t>(days / 146097) * 400;
  int64_t rest = static_cast<int64_t>(days % 146097);
  for (;;) {
    int len = IsLeap(static_cast<int>(year)) ? 366 : 365;
    if (rest < len) break;
    rest -= len;
    ++year;
  }
  int month = 1;
  while (rest >= DaysInMonth(static_cast<int>(year), month)) rest -= DaysInMonth(static_cast<int>(year), month++);
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(rest + 1);
  st.wHour = static_cast<WORD>(ms / 3600000);
  st.wMinute = static_cast<WORD>(ms / 60000 % 60);
  st.wSecond = static_cast<WORD>(ms / 1000 % 60);
  st.wMilliseconds = static_cast<WORD>(ms % 1000);
  return st;
}

}  // namespace pal

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime) {
  if (lpSystemTime == nullptr || lpFileTime == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto ticks = pal::FileTimeFromSystemTime(*lpSystemTime);
  if (!ticks) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpFileTime = pal::FromTicks(*ticks);
  return TRUE;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
  if (lpFileTime == nullptr || lpSystemTime == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto st = pal::SystemTimeFromFileTime(pal::ToTicks(*lpFileTime));
  if (!st) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpSystemTime = *st;
  return TRUE;
}

LONG WINAPI CompareFileTime(const FILETIME* a, const FILETIME* b) {
  uint64_t x = pal::ToTicks(*a);
  uint64_t y = pal::ToTicks(*b);
  return x < y ? -1 : (x > y ? 1 : 0);
}
