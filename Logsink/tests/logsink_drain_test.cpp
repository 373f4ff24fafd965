// The drain thread's record processing in this process, on a clock the test sets: the
// switch moment, the switch itself, and files that cannot be opened at a switch.
#include <stdlib.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Logsink.h"
#include "LogsinkFiles.h"
#include "QNVUtilityWin.h"
#include "logsink_testing.h"
#include "pal_testing.h"

namespace fs = std::filesystem;
using namespace logsink_testing;

namespace {

SYSTEMTIME g_now;
void WINAPI FakeLocalTime(LPSYSTEMTIME st) { *st = g_now; }

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

ULONGLONG FileTimeValue(const SYSTEMTIME& st) {
  FILETIME ft;
  EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
  return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

class ScopedTz {
 public:
  explicit ScopedTz(const char* tz) {
    const char* prev = getenv("TZ");
    had_ = prev != nullptr;
    if (had_) prev_ = prev;
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
  bool had_;
  std::string prev_;
};

TEST(SwitchMomentTest, FirstAndNextMoments) {
  struct Case {
    const char* name;
    const char* tz;
    SYSTEMTIME now;
    bool first;  // first moment after start-up, or next after a switch
    SYSTEMTIME want;
  };
  const Case kCases[] = {
      {"started_at_two", "Europe/Berlin", Local(2026, 3, 10, 2), true, Local(2026, 3, 10, 4)},
      {"started_just_before", "Europe/Berlin", Local(2026, 3, 10, 3, 59, 59, 999), true,
       Local(2026, 3, 10, 4)},
      {"started_at_four", "Europe/Berlin", Local(2026, 3, 10, 4), true, Local(2026, 3, 11, 4)},
      {"started_in_the_evening", "Europe/Berlin", Local(2026, 12, 31, 23, 30), true,
       Local(2027, 1, 1, 4)},
      {"switch_after_quiet_night", "Europe/Berlin", Local(2026, 3, 11, 2), false,
       Local(2026, 3, 12, 4)},
      {"clock_moves_forward", "Europe/Berlin", Local(2026, 3, 28, 4, 0, 0, 1), false,
       Local(2026, 3, 29, 5)},
      {"clock_moves_back", "Europe/Berlin", Local(2026, 10, 24, 7), false, Local(2026, 10, 25, 3)},
      {"started_before_the_move_back", "America/New_York", Local(2026, 10, 31, 22), true,
       Local(2026, 11, 1, 3)},
      {"started_on_the_forward_night", "America/New_York", Local(2026, 3, 8, 1), true,
       Local(2026, 3, 8, 4)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ScopedTz tz(c.tz);
    ULONGLONG got = c.first ? LogsinkFirstSwitchTime(c.now) : LogsinkNextSwitchTime(c.now);
    EXPECT_EQ(got, FileTimeValue(c.want));
  }
}

TEST(LevelNameTest, NamedAndNumberedLevels) {
  const struct {
    int level;
    const char* name;
  } kCases[] = {{0, "FTL"}, {1, "ERR"}, {2, "WAR"}, {3, "INF"}, {4, "DBG"}, {5, "TRC"}, {6, "PER"},
                {7, "007"}, {98, "098"}, {99, "PER"}, {100, "100"}, {255, "255"}};
  for (const auto& c : kCases) {
    EXPECT_STREQ(LogsinkLevelName(static_cast<BYTE>(c.level)), c.name) << c.level;
  }
}

// A logger started in this process (start-up only; the test plays the drain loop).
class DrainTest : public testing::Test {
 protected:
  void SetUp() override {
    debug_output_ = root_.path() + "/debugger.txt";
    setenv("PAL_DEBUG_OUTPUT", debug_output_.c_str(), 1);
    fs::create_directories(InstallDir(root_.path()));
    LogDir(root_.path());
    g_logsink = LogsinkState();
    static wchar_t kProgram[] = L"Logsink.exe";
    static wchar_t kOption[] = L"/l";
    static wchar_t kBase[] = L"C:\\ProgramData\\NORVANTE\\TQ770\\log\\Drain";
    wchar_t* argv[] = {kProgram, kOption, kBase};
    ASSERT_EQ(LogsinkStartUp(3, argv), -1);
    g_pfnLogsinkLocalTime = FakeLocalTime;
  }

  void TearDown() override {
    SetConsoleCtrlHandler(ConsoleCtrlHandler, FALSE);
    g_pfnLogsinkLocalTime = GetLocalTime;
    std::lock_guard<std::mutex> lock(LogsinkFilesLock());
    CloseLogFiles();
    if (g_logsink.hInstanceMutex != nullptr) CloseHandle(g_logsink.hInstanceMutex);
    if (g_logsink.hBufferMutex != nullptr) CloseHandle(g_logsink.hBufferMutex);
    g_logsink = LogsinkState();
    unsetenv("PAL_DEBUG_OUTPUT");
  }

  // Runs the drain thread's set-up clock at `start` and returns the first switch moment.
  ULONGLONG StartClock(const SYSTEMTIME& start) {
    g_now = start;
    return LogsinkFirstSwitchTime(start);
  }

  bool Drain(const SYSTEMTIME& at, BYTE level, const std::string& message, bool tagged = true) {
    g_now = at;
    unsigned char record[4096] = {};
    record[0] = level;
    const DWORD pid = 42;
    const DWORD tid = 7;
    memcpy(record + 1, &pid, 4);
    memcpy(record + 5, &tid, 4);
    std::string text = (tagged ? "[QNV]" : "") + message + "\n";
    memcpy(record + 9, text.c_str(), text.size() + 1);
    return LogsinkDrainRecord(record, 3, &next_switch_);
  }

  std::vector<std::string> Lines(const std::string& name) {
    return ReadLines(LogDir(root_.path()) + "/" + name);
  }

  pal_testing::ScopedMachineRoot root_;
  std::string debug_output_;
  ULONGLONG next_switch_ = 0;
};

TEST_F(DrainTest, FirstAcceptedRecordAtFourSwitchesAndLeadsTheNewFile) {
  next_switch_ = StartClock(Local(2026, 3, 10, 2));
  EXPECT_TRUE(Drain(Local(2026, 3, 10, 3, 59, 59, 999), 3, "last of period one"));
  EXPECT_FALSE(Drain(Local(2026, 3, 10, 4), 4, "debug level is dropped"));
  EXPECT_FALSE(Drain(Local(2026, 3, 10, 9), 0, "untagged", false));
  EXPECT_FALSE(fs::exists(LogDir(root_.path()) + "/Drain_0002.log"));
  EXPECT_TRUE(Drain(Local(2026, 3, 10, 9, 1, 2, 3), 2, "first of period two"));
  EXPECT_TRUE(Drain(Local(2026, 3, 10, 9, 1, 2, 4), 99, "permanent of period two"));

  std::vector<std::string> first = Lines("Drain_0001.log");
  ASSERT_GE(first.size(), 2u);
  EXPECT_EQ(first.back(), "INF\t03:59:59.999\t0042\t0007\tlast of period one");
  EXPECT_EQ(Lines("Drain_0002.log"),
            (std::vector<std::string>{"2026/03/10 SystemVersion:2.0.0.60107",
                                      "Failed to kick Logsweep when switching log files. Error=11",
                                      "WAR\t09:01:02.003\t0042\t0007\tfirst of period two"}));
  EXPECT_EQ(Lines("Drain_0002.per"),
            (std::vector<std::string>{"2026/03/10 SystemVersion:2.0.0.60107",
                                      "PER\t09:01:02.004\t0042\t0007\tpermanent of period two"}));
  EXPECT_EQ(StateValue(root_.path(), "LogID"), "2");
  EXPECT_EQ(StateValue(root_.path(), "Date"), "2026/03/10");
  EXPECT_EQ(StateValue(root_.path(), "DailyFile"), "C:\\ProgramData\\NORVANTE\\TQ770\\log\\Drain_0001.log");
  EXPECT_EQ(next_switch_, FileTimeValue(Local(2026, 3, 11, 4)));
}

TEST_F(DrainTest, QuietNightSwitchesAtTheNextRecordAndSchedulesTheFollowingDay) {
  next_switch_ = StartClock(Local(2026, 3, 10, 2));
  EXPECT_TRUE(Drain(Local(2026, 3, 10, 3), 3, "day D"));
  EXPECT_TRUE(Drain(Local(2026, 3, 11, 2), 3, "day D+1 before four"));
  EXPECT_TRUE(Drain(Local(2026, 3, 11, 4), 3, "day D+1 at four: no switch"));
  EXPECT_TRUE(Drain(Local(2026, 3, 12, 3, 59, 59, 999), 3, "still period two"));
  EXPECT_TRUE(Drain(Local(2026, 3, 12, 4), 3, "period three"));
  EXPECT_EQ(Lines("Drain_0002.log").size(), 5u);
  EXPECT_EQ(Lines("Drain_0002.log")[0], "2026/03/11 SystemVersion:2.0.0.60107");
  EXPECT_EQ(Lines("Drain_0003.log").back(), "INF\t04:00:00.000\t0042\t0007\tperiod three");
  EXPECT_EQ(StateValue(root_.path(), "LogID"), "3");
  EXPECT_EQ(StateValue(root_.path(), "Date"), "2026/03/12");
}

TEST_F(DrainTest, FileThatCannotBeOpenedAtASwitchIsReportedAndTriedAgain) {
  const std::string blocked = LogDir(root_.path()) + "/Drain_0002.log";
  fs::create_directories(blocked);  // a folder where the daily file should be
  next_switch_ = StartClock(Local(2026, 3, 10, 2));
  EXPECT_FALSE(Drain(Local(2026, 3, 10, 4), 3, "daily file missing"));
  EXPECT_TRUE(Drain(Local(2026, 3, 10, 4, 0, 1), 99, "permanent goes on"));
  EXPECT_FALSE(Drain(Local(2026, 3, 10, 4, 0, 2), 3, "still missing"));
  fs::remove(blocked);
  EXPECT_TRUE(Drain(Local(2026, 3, 10, 5), 3, "daily file back"));

  std::vector<std::string> permanent = Lines("Drain_0002.per");
  ASSERT_EQ(permanent.size(), 3u);
  EXPECT_TRUE(permanent[1].starts_with("Failed to open log file C:\\ProgramData\\NORVANTE\\TQ770\\log\\Drain_0002.log. Error="))
      << permanent[1];
  EXPECT_EQ(permanent[2], "PER\t04:00:01.000\t0042\t0007\tpermanent goes on");
  EXPECT_EQ(Lines("Drain_0002.log"),
            (std::vector<std::string>{"2026/03/10 SystemVersion:2.0.0.60107",
                                      "INF\t05:00:00.000\t0042\t0007\tdaily file back"}));
  EXPECT_NE(pal_testing::ReadFile(debug_output_).find("Failed to open log file"), std::string::npos);
  // The switch itself went through: the state file names the ended period.
  EXPECT_EQ(StateValue(root_.path(), "LogID"), "2");
}

// What a cleanup reading the state file at any moment finds: the log ID of a period with the
// date that period began and, beside them, the names of the period before it. A reader in
// another thread reads the section over and over while the logger switches period after
// period; written key by key, a read between two writes would find a new LogID with the
// Date of the period before, which a start-up would take as the ended period.
TEST_F(DrainTest, StateFileNeverHoldsAHalfRecordedSwitch) {
  constexpr int kSwitches = 40;
  auto period_date = [](int period) {  // period 2 began on 2026/01/01, each one a day later
    char text[32];
    std::snprintf(text, sizeof text, "2026/%02d/%02d", 1 + (period - 2) / 28, 1 + (period - 2) % 28);
    return std::string(text);
  };
  auto name = [](int id, const char* suffix) {
    char text[64];
    std::snprintf(text, sizeof text, "C:\\ProgramData\\NORVANTE\\TQ770\\log\\Drain_%04d%s", id, suffix);
    return std::string(text);
  };
  const std::string state_path = StateFile(root_.path());
  const std::wstring state(state_path.begin(), state_path.end());  // ASCII
  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::vector<std::string> mixed;
  std::thread reader([&] {
    while (!done) {
      wchar_t section[2048] = {};
      GetPrivateProfileSectionW(L"Data", section, 2048, state.c_str());
      std::map<std::string, std::string> keys;
      for (const wchar_t* line = section; *line != L'\0'; line += wcslen(line) + 1) {
        const std::string text(line, line + wcslen(line));  // ASCII
        keys[text.substr(0, text.find('='))] = text.substr(text.find('=') + 1);
      }
      ++reads;
      const int id = keys.count("LogID") ? std::stoi(keys["LogID"]) : 0;
      if (id < 2) continue;
      if (keys["Date"] != period_date(id) || keys["DailyFile"] != name(id - 1, ".log") ||
          keys["PermanentFile"] != name(id - 1, ".per") || keys["ArchiveFileDaily"] != name(id - 1, ".zip")) {
        std::string all;
        for (const wchar_t* c = section; *c != L'\0' || c[1] != L'\0'; ++c) all += *c == L'\0' ? '|' : static_cast<char>(*c);
        mixed.push_back(all);
      }
    }
  });
  next_switch_ = StartClock(Local(2025, 12, 31, 12));
  for (int period = 2; period < 2 + kSwitches; ++period) {
    const WORD month = static_cast<WORD>(1 + (period - 2) / 28);
    const WORD day = static_cast<WORD>(1 + (period - 2) % 28);
    Drain(Local(2026, month, day, 4), 3, "first of period " + std::to_string(period));
  }
  done = true;
  reader.join();
  EXPECT_TRUE(mixed.empty()) << mixed.size() << " of " << reads << " reads, the first: "
                             << (mixed.empty() ? std::string() : mixed.front());
  EXPECT_GT(reads, kSwitches);
  EXPECT_EQ(StateValue(root_.path(), "LogID"), std::to_string(1 + kSwitches));
  EXPECT_EQ(StateValue(root_.path(), "Date"), period_date(1 + kSwitches));
}

int g_failing_path_index = 0;
int PathTableFailingOne(int id, int platform, int folder_type, bool request, wchar_t* out) {
  if (id == g_failing_path_index) return QNVERROR_FAILED;
  return QNVUtilGetModulePathForSDK(id, platform, folder_type, request, out);
}

// Install paths that cannot be obtained: the state file's ends the start-up with 12 before
// anything is read or written; the cleanup program's is reported with 10 and logging goes on.
TEST(StartUpTest, InstallPathsThatCannotBeObtained) {
  pal_testing::ScopedMachineRoot root;
  fs::create_directories(InstallDir(root.path()));
  const std::string log_dir = LogDir(root.path());
  static wchar_t kProgram[] = L"Logsink.exe";
  static wchar_t kOption[] = L"/l";
  static wchar_t kBase[] = L"C:\\ProgramData\\NORVANTE\\TQ770\\log\\Paths";
  wchar_t* argv[] = {kProgram, kOption, kBase};
  g_pfnLogsinkModulePath = PathTableFailingOne;

  g_failing_path_index = 15;
  g_logsink = LogsinkState();
  EXPECT_EQ(LogsinkStartUp(3, argv), 12);
  EXPECT_EQ(g_logsink.hInstanceMutex, nullptr);
  EXPECT_EQ(g_logsink.hBufferMutex, nullptr);
  EXPECT_TRUE(fs::is_empty(log_dir));

  // The instance mutex was released with the failure: the next start-up gets past it.
  g_failing_path_index = 5;
  g_logsink = LogsinkState();
  EXPECT_EQ(LogsinkStartUp(3, argv), -1);
  SetConsoleCtrlHandler(ConsoleCtrlHandler, FALSE);
  {
    std::lock_guard<std::mutex> lock(LogsinkFilesLock());
    CloseLogFiles();
  }
  CloseHandle(g_logsink.hInstanceMutex);
  CloseHandle(g_logsink.hBufferMutex);
  g_logsink = LogsinkState();
  g_pfnLogsinkModulePath = QNVUtilGetModulePathForSDK;
  std::vector<std::string> daily = ReadLines(log_dir + "/Paths_0001.log");
  ASSERT_EQ(daily.size(), 2u);
  EXPECT_EQ(daily[1], "Failed to kick Logsweep when logger start up. Error=10");
}

}  // namespace
