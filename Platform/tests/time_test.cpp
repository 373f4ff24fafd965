// System and local time, file times, tick counts; local time checked under libfaketime.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "pal_testing.h"

namespace {

SYSTEMTIME St(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(mo);
  st.wDay = static_cast<WORD>(d);
  st.wHour = static_cast<WORD>(h);
  st.wMinute = static_cast<WORD>(mi);
  st.wSecond = static_cast<WORD>(s);
  st.wMilliseconds = static_cast<WORD>(ms);
  return st;
}

ULONGLONG Ticks(const FILETIME& ft) { return (ULONGLONG{ft.dwHighDateTime} << 32) | ft.dwLowDateTime; }

TEST(Time, SystemTimeAndFileTime) {
  struct Case {
    const char* name;
    SYSTEMTIME st;
    ULONGLONG ticks;
    WORD weekday;
  };
  const Case kCases[] = {
      {"epoch_1601", St(1601, 1, 1), 0, 1},
      {"unix_epoch", St(1970, 1, 1), 116444736000000000ULL, 4},
      {"leap_day", St(2024, 2, 29, 12, 34, 56, 789), 133536836967890000ULL, 4},
      {"century_not_leap", St(2100, 3, 1), 157520160000000000ULL, 1},
      {"last_moment", St(30827, 12, 31, 23, 59, 59, 999), 9223149887999990000ULL, 5},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&c.st, &ft));
    EXPECT_EQ(Ticks(ft), c.ticks);
    SYSTEMTIME back{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(back.wYear, c.st.wYear);
    EXPECT_EQ(back.wMonth, c.st.wMonth);
    EXPECT_EQ(back.wDay, c.st.wDay);
    EXPECT_EQ(back.wHour, c.st.wHour);
    EXPECT_EQ(back.wMinute, c.st.wMinute);
    EXPECT_EQ(back.wSecond, c.st.wSecond);
    EXPECT_EQ(back.wMilliseconds, c.st.wMilliseconds);
    EXPECT_EQ(back.wDayOfWeek, c.weekday);
  }
  const SYSTEMTIME kInvalid[] = {St(2023, 2, 29), St(2024, 13, 1), St(2024, 4, 31), St(2024, 1, 1, 24),
                                 St(1600, 12, 31), St(2024, 0, 1), St(2024, 1, 1, 0, 60)};
  for (const SYSTEMTIME& st : kInvalid) {
    FILETIME ft{};
    SetLastError(0);
    EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  FILETIME beyond{0, 0x80000000u};
  SYSTEMTIME st{};
  EXPECT_FALSE(FileTimeToSystemTime(&beyond, &st));
}

std::string Show(const SYSTEMTIME& st) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d dow%d", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wDayOfWeek);
  return buf;
}

PAL_CHILD(print_clocks) {
  SYSTEMTIME local{}, utc{};
  GetLocalTime(&local);
  GetSystemTime(&utc);
  std::printf("local %s\nutc %s\n", Show(local).c_str(), Show(utc).c_str());
  _tzset();
  __time64_t now = _time64(nullptr);
  struct tm tm {};
  _localtime64_s(&tm, &now);
  std::printf("crt %02d:%02d dst%d\n", tm.tm_hour, tm.tm_min, tm.tm_isdst);
  // Windows converts with the bias in force now, even for a moment in another season.
  SYSTEMTIME winter = St(2024, 1, 15, 12, 0);
  FILETIME ft{}, lft{};
  SystemTimeToFileTime(&winter, &ft);
  FileTimeToLocalFileTime(&ft, &lft);
  SYSTEMTIME shown{};
  FileTimeToSystemTime(&lft, &shown);
  std::printf("winter %s\n", Show(shown).c_str());
  return 0;
}

TEST(Time, LocalTimeFollowsTheHostZoneAndTheFakedClock) {
  std::string self = std::filesystem::read_symlink("/proc/self/exe");
  std::string output;
  // The preloaded clock library must be allowed beside AddressSanitizer in sanitizer builds.
  // The library is preloaded directly: the faketime wrapper names a semaphore after its own pid
  // and refuses to start when a stale one of that name is left in /dev/shm.
  ASSERT_EQ(pal_testing::RunProgram({"/usr/bin/env", "TZ=America/New_York", "ASAN_OPTIONS=verify_asan_link_order=0",
                                     "LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
                                     "FAKETIME=2024-07-01 23:30:00", "FAKETIME_DONT_FAKE_MONOTONIC=1",
                                     self, "--pal-child", "print_clocks"},
                                    &output),
            0)
      << output;
  EXPECT_EQ(output,
            "local 2024-07-01 23:30 dow1\n"
            "utc 2024-07-02 03:30 dow2\n"
            "crt 23:30 dst1\n"
            "winter 2024-01-15 08:00 dow1\n");
}

TEST(Time, TickCountsAndSleep) {
  ULONGLONG start = GetTickCount64();
  LARGE_INTEGER c0{}, c1{}, freq{};
  QueryPerformanceCounter(&c0);
  Sleep(50);
  QueryPerformanceCounter(&c1);
  ULONGLONG elapsed = GetTickCount64() - start;
  EXPECT_GE(elapsed, 49u);
  EXPECT_LT(elapsed, 10000u);
  ASSERT_TRUE(QueryPerformanceFrequency(&freq));
  EXPECT_GE((c1.QuadPart - c0.QuadPart) * 1000 / freq.QuadPart, 49);
  EXPECT_EQ(static_cast<DWORD>(GetTickCount64()) - GetTickCount(), 0u);
}

}  // namespace
