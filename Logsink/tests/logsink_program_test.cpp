// The installed logger run as a user runs it: started in the log folder with "/l", fed
// through the channel, stopped with a console control event; its files, state file and exit
// codes read back.
#include <signal.h>
#include <windows.h>
#include <time.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "LogChannel.h"
#include "logsink_testing.h"
#include "pal_testing.h"

namespace fs = std::filesystem;
using namespace logsink_testing;

namespace {

std::string Today() {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  char text[16];
  strftime(text, sizeof text, "%Y/%m/%d", &tm);
  return text;
}

std::string Header(const std::string& date) { return date + " SystemVersion:2.0.0.60107"; }

class LoggerTest : public testing::Test {
 protected:
  void SetUp() override { InstallLogger(root_.path()); }
  std::string Log(const std::string& name) { return LogDir(root_.path()) + "/" + name; }
  // Starts of the cleanup recorded so far; the logger does not wait for its child, so this
  // waits a while for `expected` starts before it answers.
  int CleanupStarts(int expected = 0) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int starts = 0;
    for (;;) {
      std::string record = pal_testing::ReadFile(Log("logsweep_started.txt"));
      starts = static_cast<int>(std::count(record.begin(), record.end(), '\n'));
      if (starts >= expected || std::chrono::steady_clock::now() > deadline) return starts;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  std::string LoggerExe() { return InstallDir(root_.path()) + "/Logsink.exe"; }
  // Stops a logger with a console control event and waits for its end.
  static void Stop(Process& logger) {
    logger.Kill(SIGTERM);
    ASSERT_EQ(logger.Wait(), 128 + SIGTERM);
  }

  pal_testing::ScopedMachineRoot root_;
};

TEST_F(LoggerTest, FirstRunThenSameDayRestart) {
  {
    std::unique_ptr<Process> logger(StartLogger(root_.path()));
    ASSERT_NE(logger, nullptr);
    ASSERT_TRUE(PostRecord(3, "[QNV]first\n"));
    ASSERT_TRUE(WaitChannelIdle());
    Stop(*logger);
  }
  std::vector<std::string> daily = ReadLines(Log("Logsink_0001.log"));
  ASSERT_EQ(daily.size(), 2u);
  EXPECT_EQ(daily[0], Header(Today()));
  EXPECT_TRUE(daily[1].ends_with("\t1234\t0088\tfirst")) << daily[1];
  EXPECT_EQ(ReadLines(Log("Logsink_0001.per")), std::vector<std::string>{Header(Today())});
  EXPECT_EQ(StateValue(root_.path(), "LogID"), "1");
  EXPECT_EQ(StateValue(root_.path(), "Date"), Today());
  EXPECT_EQ(StateValue(root_.path(), "ArchiveFile"), "Logsink_Permanent.zip");
  EXPECT_EQ(StateValue(root_.path(), "PermanentFile"), "<missing>");
  EXPECT_EQ(StateValue(root_.path(), "DailyFile"), "<missing>");
  EXPECT_EQ(StateValue(root_.path(), "ArchiveFileDaily"), "<missing>");
  EXPECT_EQ(CleanupStarts(1), 1);

  {
    std::unique_ptr<Process> logger(StartLogger(root_.path()));
    ASSERT_NE(logger, nullptr);
    ASSERT_TRUE(PostRecord(1, "[QNV]second\n"));
    ASSERT_TRUE(WaitChannelIdle());
    Stop(*logger);
  }
  daily = ReadLines(Log("Logsink_0001.log"));
  ASSERT_EQ(daily.size(), 4u);
  EXPECT_EQ(daily[2], Header(Today()));
  EXPECT_TRUE(daily[3].starts_with("ERR\t")) << daily[3];
  EXPECT_EQ(ReadLines(Log("Logsink_0001.per")).size(), 2u);
  EXPECT_EQ(StateValue(root_.path(), "LogID"), "1");
  EXPECT_EQ(StateValue(root_.path(), "PermanentFile"), "<missing>");
  EXPECT_FALSE(fs::exists(Log("Logsink_0002.log")));
  EXPECT_EQ(CleanupStarts(2), 2);
}

TEST_F(LoggerTest, LaterDateRestartEndsTheStoredPeriod) {
  // A date written by hand without leading zeros counts as another date.
  pal_testing::WriteFile(StateFile(root_.path()), "[Data]\r\nLogID=7\r\nDate=2026/1/2\r\n");
  std::unique_ptr<Process> logger(StartLogger(root_.path(), "Tour"));
  ASSERT_NE(logger, nullptr);
  Stop(*logger);
  EXPECT_EQ(StateValue(root_.path(), "PermanentFile"), "Tour_0007.per");
  EXPECT_EQ(StateValue(root_.path(), "DailyFile"), "Tour_0007.log");
  EXPECT_EQ(StateValue(root_.path(), "ArchiveFileDaily"), "Tour_0007.zip");
  EXPECT_EQ(StateValue(root_.path(), "ArchiveFile"), "Tour_Permanent.zip");
  EXPECT_EQ(StateValue(root_.path(), "LogID"), "8");
  EXPECT_EQ(StateValue(root_.path(), "Date"), Today());
  EXPECT_EQ(ReadLines(Log("Tour_0008.log")), std::vector<std::string>{Header(Today())});
  EXPECT_EQ(ReadLines(Log("Tour_0008.per")), std::vector<std::string>{Header(Today())});
  EXPECT_FALSE(fs::exists(Log("Tour_0007.log")));
  EXPECT_EQ(CleanupStarts(1), 1);
}

TEST_F(LoggerTest, SecondInstanceEndsWithSevenAndLeavesTheFirstOnesFilesAlone) {
  std::unique_ptr<Process> logger(StartLogger(root_.path()));
  ASSERT_NE(logger, nullptr);
  ASSERT_TRUE(PostRecord(3, "[QNV]kept\n"));
  ASSERT_TRUE(WaitChannelIdle());
  std::string daily = pal_testing::ReadFile(Log("Logsink_0001.log"));
  std::string state = pal_testing::ReadFile(StateFile(root_.path()));

  EXPECT_EQ(pal_testing::RunProgram({LoggerExe(), "/l", "Logsink"}, nullptr, LogDir(root_.path())), 7);
  EXPECT_EQ(pal_testing::RunProgram({LoggerExe(), "/l", "Other"}, nullptr, LogDir(root_.path())), 7);

  EXPECT_EQ(pal_testing::ReadFile(Log("Logsink_0001.log")), daily);
  EXPECT_EQ(pal_testing::ReadFile(StateFile(root_.path())), state);
  EXPECT_FALSE(fs::exists(Log("Other_0001.log")));
  EXPECT_EQ(CleanupStarts(1), 1);
  // The first one still drains.
  ASSERT_TRUE(PostRecord(3, "[QNV]still here\n"));
  ASSERT_TRUE(WaitChannelIdle());
  EXPECT_TRUE(ReadLines(Log("Logsink_0001.log")).back().ends_with("still here"));
  Stop(*logger);
}

TEST_F(LoggerTest, CommandLinesWithoutUsableBaseNameEndWithUsage) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
  };
  const Case kCases[] = {
      {"no_arguments", {}},
      {"upper_case_option", {"/L", "Logsink"}},
      {"option_elsewhere", {"-l", "Logsink", "l"}},
      {"name_too_long_for_its_files", {"/l", std::string(246, 'n')}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {LoggerExe()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string output;
    EXPECT_EQ(pal_testing::RunProgram(argv, &output, LogDir(root_.path())), 8);
    EXPECT_EQ(output, "usage: Logsink.exe /l log_filename\n");
    EXPECT_FALSE(fs::exists(StateFile(root_.path())));
    EXPECT_EQ(CleanupStarts(), 0);
  }
  // The longest base name whose file names still fit runs.
  std::unique_ptr<Process> logger(StartLogger(root_.path(), std::string(245, 'n')));
  ASSERT_NE(logger, nullptr);
  EXPECT_TRUE(fs::exists(Log(std::string(245, 'n') + "_0001.log")));
  Stop(*logger);
}

TEST_F(LoggerTest, OptionAsLastArgumentIsItsOwnBaseName) {
  // "/l" names a file at the root of the current drive.
  std::unique_ptr<Process> logger(StartLogger(root_.path(), "/l"));
  ASSERT_NE(logger, nullptr);
  EXPECT_TRUE(fs::exists(root_.drive_c() + "/l_0001.log"));
  EXPECT_EQ(StateValue(root_.path(), "ArchiveFile"), "/l_Permanent.zip");
  Stop(*logger);
}

TEST_F(LoggerTest, LogFileThatCannotBeOpenedEndsWithNine) {
  std::string output;
  EXPECT_EQ(pal_testing::RunProgram({LoggerExe(), "/l", "C:\\no\\such\\folder\\Logsink"}, &output,
                                    LogDir(root_.path())),
            9);
  EXPECT_EQ(StateValue(root_.path(), "LogID"), "<missing>");
  EXPECT_EQ(CleanupStarts(), 0);
}

TEST_F(LoggerTest, StartUpFailuresEndWithTheirCodes) {
  // A name held by an object of another kind: the mutex cannot be created at all.
  struct Case {
    const wchar_t* squatted;
    int code;
  };
  const Case kCases[] = {{kLogChannelMutexName, 4}, {kLogChannelInstanceMutexName, 7}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.code);
    pal_testing::ScopedMachineRoot root;
    InstallLogger(root.path());
    HANDLE squatter = CreateEventW(nullptr, FALSE, FALSE, c.squatted);
    ASSERT_NE(squatter, nullptr);
    EXPECT_EQ(pal_testing::RunProgram({InstallDir(root.path()) + "/Logsink.exe", "/l", "Logsink"},
                                      nullptr, LogDir(root.path())),
              c.code);
    CloseHandle(squatter);
    EXPECT_FALSE(fs::exists(StateFile(root.path())));
  }
}

TEST_F(LoggerTest, MissingCleanupProgramIsReportedAfterTheHeader) {
  fs::remove(InstallDir(root_.path()) + "/Logsweep.exe");
  std::unique_ptr<Process> logger(StartLogger(root_.path()));
  ASSERT_NE(logger, nullptr);
  ASSERT_TRUE(PostRecord(3, "[QNV]goes on\n"));
  ASSERT_TRUE(WaitChannelIdle());
  Stop(*logger);
  std::vector<std::string> daily = ReadLines(Log("Logsink_0001.log"));
  ASSERT_EQ(daily.size(), 3u);
  EXPECT_EQ(daily[1], "Failed to kick Logsweep when logger start up. Error=11");
  EXPECT_TRUE(daily[2].ends_with("goes on"));
}

TEST_F(LoggerTest, OutputLevelFiltersTheDailyFile) {
  struct Case {
    const char* ini;  // Logsink.ini beside the program, or none
    std::vector<std::string> daily_names;
  };
  const Case kCases[] = {
      {nullptr, {"FTL", "ERR", "WAR", "INF"}},
      {"[LOG]\r\nOutputLevel=0\r\n", {"FTL"}},
      {"[LOG]\r\nOutputLevel=6\r\n", {"FTL", "ERR", "WAR", "INF", "DBG", "TRC", "PER"}},
      {"[log]\r\noutputlevel = 255\r\n",
       {"FTL", "ERR", "WAR", "INF", "DBG", "TRC", "PER", "007", "098", "100", "255"}},
  };
  const int kLevels[] = {0, 1, 2, 3, 4, 5, 6, 7, 98, 99, 100, 255};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.ini != nullptr ? c.ini : "no settings file");
    pal_testing::ScopedMachineRoot root;
    InstallLogger(root.path());
    if (c.ini != nullptr) pal_testing::WriteFile(InstallDir(root.path()) + "/Logsink.ini", c.ini);
    std::unique_ptr<Process> logger(StartLogger(root.path()));
    ASSERT_NE(logger, nullptr);
    for (int level : kLevels) {
      ASSERT_TRUE(PostRecord(static_cast<uint8_t>(level), "[QNV]level " + std::to_string(level) + "\n"));
    }
    ASSERT_TRUE(WaitChannelIdle());
    Stop(*logger);
    std::vector<std::string> names;
    std::vector<std::string> daily = ReadLines(LogDir(root.path()) + "/Logsink_0001.log");
    for (size_t i = 1; i < daily.size(); ++i) names.push_back(daily[i].substr(0, 3));
    EXPECT_EQ(names, c.daily_names);
    // Level 99 always goes to the permanent file, as "PER".
    std::vector<std::string> permanent = ReadLines(LogDir(root.path()) + "/Logsink_0001.per");
    ASSERT_EQ(permanent.size(), 2u);
    EXPECT_TRUE(permanent[1].starts_with("PER\t")) << permanent[1];
    EXPECT_TRUE(permanent[1].ends_with("\tlevel 99")) << permanent[1];
  }
}

TEST_F(LoggerTest, LineFormatTagAndUnterminatedText) {
  std::unique_ptr<Process> logger(StartLogger(root_.path()));
  ASSERT_NE(logger, nullptr);
  ASSERT_TRUE(PostRecord(1, "[QNV]abc\n", 1234, 88));
  ASSERT_TRUE(PostRecord(3, "[qnv]lower case tag\n"));
  ASSERT_TRUE(PostRecord(3, " [QNV]blank before the tag\n"));
  ASSERT_TRUE(PostRecord(3, "[QNV]", 7, 123456));  // the tag alone: no line end
  ASSERT_TRUE(PostRecord(2, "[QNV]tab\tinside\n", 4000000000u, 5));
  // A buffer without any NUL: the text ends with the buffer.
  unsigned char raw[4096];
  memset(raw, 'x', sizeof raw);
  raw[0] = 3;
  const uint32_t pid = 1234;
  const uint32_t tid = 88;
  memcpy(raw + 1, &pid, 4);
  memcpy(raw + 5, &tid, 4);
  memcpy(raw + 9, "[QNV]", 5);
  ASSERT_TRUE(PostRaw(raw));
  ASSERT_TRUE(PostRecord(3, "\n[QNV]after\n"));  // no tag at the start: dropped
  ASSERT_TRUE(PostRecord(3, "[QNV]\n"));
  ASSERT_TRUE(PostRecord(3, "[QNV]after\n"));
  ASSERT_TRUE(WaitChannelIdle());
  Stop(*logger);

  std::vector<std::string> daily = ReadLines(Log("Logsink_0001.log"));
  ASSERT_EQ(daily.size(), 5u);
  const std::string t = R"(\d\d:\d\d:\d\d\.\d\d\d)";
  EXPECT_TRUE(std::regex_match(daily[1], std::regex("ERR\t" + t + "\t1234\t0088\tabc"))) << daily[1];
  EXPECT_TRUE(std::regex_match(
      daily[2], std::regex("INF\t" + t + "\t0007\t123456\tWAR\t" + t + "\t4000000000\t0005\ttab\tinside")))
      << daily[2];
  // Level, time and ids take 27 characters before the text.
  const std::string fields = "INF\t" + t + "\t1234\t0088\t";
  ASSERT_EQ(daily[3].size(), 27u + (4096 - 14) + 27u);
  EXPECT_TRUE(std::regex_match(daily[3].substr(0, 27), std::regex(fields)));
  EXPECT_EQ(daily[3].substr(27, 4096 - 14), std::string(4096 - 14, 'x'));
  EXPECT_TRUE(std::regex_match(daily[3].substr(27 + 4096 - 14), std::regex(fields)));
  EXPECT_TRUE(std::regex_match(daily[4], std::regex("INF\t" + t + "\t1234\t0088\tafter"))) << daily[4];
  // Every line end on disk is CR LF.
  std::string raw_daily = pal_testing::ReadFile(Log("Logsink_0001.log"));
  EXPECT_EQ(std::count(raw_daily.begin(), raw_daily.end(), '\n'), 5);
  EXPECT_EQ(raw_daily.find("\n"), raw_daily.find("\r\n") + 1);
}

TEST_F(LoggerTest, ConsoleEventsEndTheLoggerWithEverythingOnDisk) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    pal_testing::ScopedMachineRoot root;
    InstallLogger(root.path());
    std::unique_ptr<Process> logger(StartLogger(root.path()));
    ASSERT_NE(logger, nullptr);
    for (int i = 0; i < 50; ++i) {
      ASSERT_TRUE(PostRecord(i % 2 == 0 ? 3 : 99, "[QNV]record " + std::to_string(i) + "\n"));
    }
    ASSERT_TRUE(WaitChannelIdle());
    logger->Kill(signal);
    int status = logger->Wait();
    EXPECT_EQ(status, 128 + signal);
    EXPECT_EQ(ReadLines(LogDir(root.path()) + "/Logsink_0001.log").size(), 26u);
    EXPECT_EQ(ReadLines(LogDir(root.path()) + "/Logsink_0001.per").size(), 26u);
    // Its objects are gone with it: a new logger starts cleanly.
    std::unique_ptr<Process> next(StartLogger(root.path()));
    ASSERT_NE(next, nullptr);
    Stop(*next);
  }
}

// The period switch of the running program, on a frozen clock moved by the test, across the
// night on which daylight saving begins.
TEST_F(LoggerTest, PeriodSwitchOnAFrozenClockAcrossDaylightSavingNight) {
  const std::string clock_file = root_.path() + "/faketime";
  pal_testing::WriteFile(clock_file, "2026-03-28 03:59:59\n");
  std::unique_ptr<Process> logger(
      StartLogger(root_.path(), "Logsink", FrozenClockEnv(clock_file, "Europe/Berlin")));
  ASSERT_NE(logger, nullptr);
  ASSERT_TRUE(PostRecord(3, "[QNV]before\n"));
  ASSERT_TRUE(WaitChannelIdle());
  pal_testing::WriteFile(clock_file, "2026-03-28 04:00:00\n");
  ASSERT_TRUE(PostRecord(5, "[QNV]dropped, never switches\n"));
  ASSERT_TRUE(WaitChannelIdle());
  EXPECT_FALSE(fs::exists(Log("Logsink_0002.log")));
  ASSERT_TRUE(PostRecord(99, "[QNV]switches\n"));
  ASSERT_TRUE(WaitChannelIdle());
  EXPECT_EQ(StateValue(root_.path(), "LogID"), "2");
  EXPECT_EQ(StateValue(root_.path(), "DailyFile"), "Logsink_0001.log");
  EXPECT_EQ(StateValue(root_.path(), "PermanentFile"), "Logsink_0001.per");
  EXPECT_EQ(StateValue(root_.path(), "ArchiveFileDaily"), "Logsink_0001.zip");
  EXPECT_EQ(CleanupStarts(2), 2);
  // On the night the clock moves forward, 04:00 plus one day is 05:00.
  pal_testing::WriteFile(clock_file, "2026-03-29 04:30:00\n");
  ASSERT_TRUE(PostRecord(3, "[QNV]still period two\n"));
  ASSERT_TRUE(WaitChannelIdle());
  pal_testing::WriteFile(clock_file, "2026-03-29 05:00:00\n");
  ASSERT_TRUE(PostRecord(3, "[QNV]period three\n"));
  ASSERT_TRUE(WaitChannelIdle());
  Stop(*logger);

  EXPECT_EQ(ReadLines(Log("Logsink_0001.log")),
            (std::vector<std::string>{Header("2026/03/28"), "INF\t03:59:59.000\t1234\t0088\tbefore"}));
  EXPECT_EQ(ReadLines(Log("Logsink_0002.log")),
            (std::vector<std::string>{Header("2026/03/28"), "INF\t04:30:00.000\t1234\t0088\tstill period two"}));
  EXPECT_EQ(ReadLines(Log("Logsink_0002.per")),
            (std::vector<std::string>{Header("2026/03/28"), "PER\t04:00:00.000\t1234\t0088\tswitches"}));
  EXPECT_EQ(ReadLines(Log("Logsink_0003.log")),
            (std::vector<std::string>{Header("2026/03/29"), "INF\t05:00:00.000\t1234\t0088\tperiod three"}));
  EXPECT_EQ(StateValue(root_.path(), "LogID"), "3");
  EXPECT_EQ(StateValue(root_.path(), "Date"), "2026/03/29");
  EXPECT_EQ(CleanupStarts(3), 3);
}

}  // namespace
