// ATL's time classes: CTime, an absolute time in seconds since 1970 (UTC), read and built in
// local time through the C run-time's conversions (the host's TZ applies, daylight saving
// as the run-time decides it), and CTimeSpan, a signed span in seconds.
// A CTime built from local fields with nDST -1 lets the run-time decide whether daylight
// saving is in force, as mktime does with tm_isdst -1. Invalid fields throw CAtlException
// (E_INVALIDARG), as in ATL.
#pragma once

#include <ctime>

#include "atlbase.h"
#include "atlstr.h"


namespace ATL {

class CTimeSpan {
 public:
  CTimeSpan() noexcept = default;
  CTimeSpan(__time64_t time) noexcept : m_timeSpan(time) {}  // NOLINT: implicit as in ATL
  CTimeSpan(LONG lDays, int nHours, int nMins, int nSecs) noexcept;

  LONGLONG GetDays() const noexcept { return m_timeSpan / 86400; }
  LONGLONG GetTotalHours() const noexcept { return m_timeSpan / 3600; }
  LONG GetHours() const noexcept { return static_cast<LONG>(GetTotalHours() - GetDays() * 24); }
  LONGLONG GetTotalMinutes() const noexcept { return m_timeSpan / 60; }
  LONG GetMinutes() const noexcept { return static_cast<LONG>(GetTotalMinutes() - GetTotalHours() * 60); }
  LONGLONG GetTotalSeconds() const noexcept { return m_timeSpan; }
  LONG GetSeconds() const noexcept { return static_cast<LONG>(GetTotalSeconds() - GetTotalMinutes() * 60); }
  __time64_t GetTimeSpan() const noexcept { return m_timeSpan; }

  CTimeSpan operator+(CTimeSpan span) const noexcept { return CTimeSpan(m_timeSpan + span.m_timeSpan); }
  CTimeSpan operator-(CTimeSpan span) const noexcept { return CTimeSpan(m_timeSpan - span.m_timeSpan); }
  CTimeSpan& operator+=(CTimeSpan span) noexcept { m_timeSpan += span.m_timeSpan; return *this; }
  CTimeSpan& operator-=(CTimeSpan span) noexcept { m_timeSpan -= span.m_timeSpan; return *this; }
  bool operator==(CTimeSpan span) const noexcept { return m_timeSpan == span.m_timeSpan; }
  bool operator!=(CTimeSpan span) const noexcept { return m_timeSpan != span.m_timeSpan; }
  bool operator<(CTimeSpan span) const noexcept { return m_timeSpan < span.m_timeSpan; }
  bool operator>(CTimeSpan span) const noexcept { return m_timeSpan > span.m_timeSpan; }
  bool operator<=(CTimeSpan span) const noexcept { return m_timeSpan <= span.m_timeSpan; }
  bool operator>=(CTimeSpan span) const noexcept { return m_timeSpan >= span.m_timeSpan; }

 private:
  __time64_t m_timeSpan = 0;
};

class CTime {
 public:
  // The current time from the run-time clock.
  static CTime WINAPI GetCurrentTime() noexcept;

  CTime() noexcept = default;
  CTime(__time64_t time) noexcept : m_time(time) {}  // NOLINT: implicit as in ATL
  // Local date and time; throws CAtlException(E_INVALIDARG) for a year before 1900, fields out
  // of range, or a time the run-time cannot represent.
  CTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec, int nDST = -1);
  // The local time of the structure (milliseconds and day of week ignored), as above.
  CTime(const SYSTEMTIME& st, int nDST = -1);

  CTime& operator=(__time64_t time) noexcept { m_time = time; return *this; }
  CTime& operator+=(CTimeSpan span) noexcept { m_time += span.GetTimeSpan(); return *this; }
  CTime& operator-=(CTimeSpan span) noexcept { m_time -= span.GetTimeSpan(); return *this; }
  CTimeSpan operator-(CTime time) const noexcept { return CTimeSpan(m_time - time.m_time); }
  CTime operator-(CTimeSpan span) const noexcept { return CTime(m_time - span.GetTimeSpan()); }
  CTime operator+(CTimeSpan span) const noexcept { return CTime(m_time + span.GetTimeSpan()); }
  bool operator==(CTime time) const noexcept { return m_time == time.m_time; }
  bool operator!=(CTime time) const noexcept { return m_time != time.m_time; }
  bool operator<(CTime time) const noexcept { return m_time < time.m_time; }
  bool operator>(CTime time) const noexcept { return m_time > time.m_time; }
  bool operator<=(CTime time) const noexcept { return m_time <= time.m_time; }
  bool operator>=(CTime time) const noexcept { return m_time >= time.m_time; }

  // Broken-down local or UTC time; null when the time cannot be converted.
  struct tm* GetLocalTm(struct tm* ptm) const;
  struct tm* GetGmtTm(struct tm* ptm) const;
  // The local time with milliseconds 0; false when the time cannot be converted.
  bool GetAsSystemTime(SYSTEMTIME& st) const;

  __time64_t GetTime() const noexcept { return m_time; }
  int GetYear() const;
  int GetMonth() const;
  int GetDay() const;
  int GetHour() const;
  int GetMinute() const;
  int GetSecond() const;
  int GetDayOfWeek() const;  // 1 = Sunday

  // strftime-style codes of the Microsoft C run-time in the "C" locale (%c is
  // "%m/%d/%y %H:%M:%S", %z is the zone's name, '#' drops leading zeros); an empty
  // string when the result would not fit into 128 characters.
  CString Format(LPCTSTR pszFormat) const;
  CString FormatGmt(LPCTSTR pszFormat) const;

 private:
  __time64_t m_time = 0;
};

}  // namespace ATL
