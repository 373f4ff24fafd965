#include <atlstr.h>
#include <atltime.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "atltime_host.h"

namespace {

// Sets TZ for the duration of a test and restores the previous value.
class ScopedTz {
 public:
  explicit ScopedTz(const char* tz) {
    if (const char* prev = getenv("TZ")) {
      had_ = true;
      prev_ = prev;
    }
    setenv("TZ", tz, 1);
    _tzset();
  }
  ~ScopedTz() {
    if (had_) {
      setenv("TZ", prev_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    _tzset();
  }

 private:
  bool had_ = false;
  std::string prev_;
};

SYSTEMTIME Local(WORD y, WORD mo, WORD d, WORD h, WORD mi = 0, WORD s = 0, WORD ms = 0) {
  SYSTEMTIME st = {};
  st.wYear = y;
  st.wMonth = mo;
  st.wDay = d;
  st.wHour = h;
  st.wMinute = mi;
  st.wSecond = s;
  st.wMilliseconds = ms;
  return st;
}

// A local time plus one day of seconds, the way a daily schedule is stepped: across a night
// in which the clock moves, the wall-clock hour moves with it.
TEST(CTimeTest, AddingADayFollowsTheDaylightSavingRules) {
  struct Case {
    const char* name;
    const char* tz;
    SYSTEMTIME from;
    WORD want_day;
    WORD want_hour;
  };
  const Case kCases[] = {
      {"ordinary_day", "Europe/Berlin", Local(2026, 3, 10, 4), 11, 4},
      {"spring_forward_eu", "Europe/Berlin", Local(2026, 3, 28, 4), 29, 5},
      {"fall_back_eu", "Europe/Berlin", Local(2026, 10, 24, 4), 25, 3},
      {"spring_forward_us", "America/New_York", Local(2026, 3, 7, 4), 8, 5},
      {"fall_back_us", "America/New_York", Local(2026, 10, 31, 4), 1, 3},
      {"day_after_the_change", "Europe/Berlin", Local(2026, 3, 29, 4), 30, 4},
      {"utc_never_moves", "UTC", Local(2026, 3, 28, 4), 29, 4},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ScopedTz tz(c.tz);
    CTime start(c.from, -1);
    CTime next = start + CTimeSpan(1, 0, 0, 0);
    SYSTEMTIME got = {};
    ASSERT_TRUE(next.GetAsSystemTime(got));
    EXPECT_EQ(got.wDay, c.want_day);
    EXPECT_EQ(got.wHour, c.want_hour);
    EXPECT_EQ(got.wMinute, 0);
    EXPECT_EQ(got.wMilliseconds, 0);
    EXPECT_EQ(next - start, CTimeSpan(86400));
  }
}

TEST(CTimeTest, LocalFieldsRoundTripAndIgnoreMilliseconds) {
  ScopedTz tz("Europe/Berlin");
  CTime t(Local(2026, 7, 15, 13, 45, 59, 999));
  EXPECT_EQ(t.GetYear(), 2026);
  EXPECT_EQ(t.GetMonth(), 7);
  EXPECT_EQ(t.GetDay(), 15);
  EXPECT_EQ(t.GetHour(), 13);
  EXPECT_EQ(t.GetMinute(), 45);
  EXPECT_EQ(t.GetSecond(), 59);
  EXPECT_EQ(t.GetDayOfWeek(), 4);  // a Wednesday; Sunday is 1
  // 13:45:59 CEST is 11:45:59 UTC.
  EXPECT_EQ(t.GetTime(), 1784115959);
  SYSTEMTIME back = {};
  ASSERT_TRUE(t.GetAsSystemTime(back));
  EXPECT_EQ(back.wDayOfWeek, 3);
  EXPECT_EQ(back.wMilliseconds, 0);
  EXPECT_EQ(back.wSecond, 59);
}

TEST(CTimeTest, FieldsOutOfRangeThrow) {
  EXPECT_THROW(CTime(1899, 12, 31, 0, 0, 0), CAtlException);
  EXPECT_THROW(CTime(2026, 13, 1, 0, 0, 0), CAtlException);
  EXPECT_THROW(CTime(2026, 1, 0, 0, 0, 0), CAtlException);
  EXPECT_THROW(CTime(2026, 1, 1, 24, 0, 0), CAtlException);
  EXPECT_THROW(CTime(2026, 1, 1, 0, 60, 0), CAtlException);
  EXPECT_NO_THROW(CTime(2026, 12, 31, 23, 59, 59));
}

TEST(CTimeSpanTest, PartsOfASpan) {
  CTimeSpan span(2, 3, 4, 5);
  EXPECT_EQ(span.GetTotalSeconds(), 2 * 86400 + 3 * 3600 + 4 * 60 + 5);
  EXPECT_EQ(span.GetDays(), 2);
  EXPECT_EQ(span.GetHours(), 3);
  EXPECT_EQ(span.GetMinutes(), 4);
  EXPECT_EQ(span.GetSeconds(), 5);
  EXPECT_EQ(span.GetTotalHours(), 51);
}

TEST(CTimeTest, FormatUsesTheRunTimeCodes) {
  ScopedTz tz("UTC");
  CTime t(2026, 3, 4, 5, 6, 7);
  struct Case {
    const wchar_t* format;
    const wchar_t* want;
  };
  const Case kCases[] = {
      {L"%Y/%m/%d %H:%M:%S", L"2026/03/04 05:06:07"},
      {L"%c", L"03/04/26 05:06:07"},
      {L"%x|%X", L"03/04/26|05:06:07"},
      {L"%#d.%#m.%#H", L"4.3.5"},
      {L"%#c", L"Wednesday, March 4, 2026 05:06:07"},
      {L"%A %a %B %b %j %p %%", L"Wednesday Wed March Mar 063 AM %"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.format)));
    EXPECT_EQ(std::wstring(t.Format(c.format)), c.want);
  }
  std::wstring too_long(200, L'x');
  EXPECT_EQ(std::wstring(t.Format(too_long.c_str())), L"");
}

TEST(CStringTest, FormatFollowsTheRunTimeConventions) {
  CString s;
  s.Format(L"%s_%04d.log", L"base", 7);
  EXPECT_EQ(std::wstring(s), L"base_0007.log");
  s.AppendFormat(L"|%S|%d", "narrow", -5);
  EXPECT_EQ(std::wstring(s), L"base_0007.log|narrow|-5");
  CStringA a;
  a.Format("%s=%u", "key", 42u);
  EXPECT_EQ(std::string(a), "key=42");
  std::wstring long_text(5000, L'y');
  s.Format(L"<%s>", long_text.c_str());
  EXPECT_EQ(s.GetLength(), 5002);
}

TEST(CStringTest, ConversionsUseTheAnsiCodePage) {
  CStringA a(L"\u20ac caf\u00e9 \u4e2d");
  EXPECT_EQ(std::string(a), "\x80 caf\xe9 ?");
  CStringW w("\x80 caf\xe9");
  EXPECT_EQ(std::wstring(w), L"\u20ac caf\u00e9");
}

TEST(CStringTest, BufferAccessAndEditing) {
  CString s(L"abc");
  wchar_t* buf = s.GetBuffer(10);
  wcscpy(buf, L"hello  ");
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetLength(), 7);
  s.TrimRight();
  EXPECT_EQ(std::wstring(s), L"hello");
  s.GetBufferSetLength(2);
  s.ReleaseBuffer(2);
  EXPECT_EQ(std::wstring(s), L"he");

  CString path(L"C:\\dir\\file.ext");
  EXPECT_EQ(path.ReverseFind(L'\\'), 6);
  EXPECT_EQ(std::wstring(path.Left(6)), L"C:\\dir");
  EXPECT_EQ(std::wstring(path.Mid(7)), L"file.ext");
  EXPECT_EQ(std::wstring(path.Right(3)), L"ext");
  EXPECT_EQ(std::wstring(path.Mid(3, 100)), L"dir\\file.ext");
  EXPECT_EQ(path.Find(L"file"), 7);
  EXPECT_EQ(path.Find(L'z'), -1);
  EXPECT_EQ(path.CompareNoCase(L"c:\\DIR\\FILE.EXT"), 0);
  EXPECT_NE(path.Compare(L"c:\\DIR\\FILE.EXT"), 0);
  EXPECT_EQ(path.Replace(L"\\", L"/"), 2);
  EXPECT_EQ(std::wstring(path), L"C:/dir/file.ext");
  EXPECT_TRUE(CString(L"x") + L"y" == L"xy");
  EXPECT_THROW(s.SetAt(5, L'x'), CAtlException);
}

}  // namespace
