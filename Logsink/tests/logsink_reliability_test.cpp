// The logger under load and under a crash: several writer processes (the real channel
// writer) posting while the logger runs, and while it is killed and started again.
#include <signal.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "LogChannel.h"
#include "LogChannelWriter.h"
#include "logsink_testing.h"
#include "pal_testing.h"

namespace fs = std::filesystem;
using namespace logsink_testing;

namespace {

// Posts "w<id> seq <n> <padding>" records: `count` of them, or until the file `stop` exists
// when count is 0. Prints "max_ms <longest Write in ms> posted <n>" at the end.
PAL_CHILD(writer) {
  const int id = std::stoi(args.at(0));
  const long count = std::stol(args.at(1));
  const std::string stop = args.size() > 2 ? args[2] : "";
  const std::wstring padding(100, L'x');
  double max_ms = 0;
  long n = 0;
  for (; count == 0 ? !fs::exists(stop) : n < count; ++n) {
    wchar_t text[256];
    swprintf_s(text, L"[QNV]w%d seq %ld %s\n", id, n, padding.c_str());
    auto start = std::chrono::steady_clock::now();
    LogChannelWriter::Instance().Write(3, text);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (ms > max_ms) max_ms = ms;
  }
  pal_testing::ChildSay("max_ms " + std::to_string(static_cast<long>(max_ms)) + " posted " +
                        std::to_string(n));
  return 0;
}

const std::regex kRecordLine(R"(INF\t\d\d:\d\d:\d\d\.\d\d\d\t\d{4,}\t\d{4,}\tw(\d) seq (\d+) x{100})");
const std::regex kHeaderLine(R"(\d{4}/\d\d/\d\d SystemVersion:2\.0\.0\.60107)");

// Every line is a header or one whole record; returns the sequence numbers seen per writer.
std::map<int, std::vector<long>> CheckLines(const std::vector<std::string>& lines) {
  std::map<int, std::vector<long>> seen;
  for (const std::string& line : lines) {
    std::smatch m;
    if (std::regex_match(line, m, kRecordLine)) {
      seen[std::stoi(m[1])].push_back(std::stol(m[2]));
    } else {
      EXPECT_TRUE(std::regex_match(line, kHeaderLine)) << "torn or foreign line: " << line;
    }
  }
  return seen;
}

long MaxMs(const std::string& report) {
  std::smatch m;
  std::regex re(R"(max_ms (\d+) posted (\d+))");
  if (!std::regex_match(report, m, re)) return -1;
  return std::stol(m[1]);
}

TEST(LoggerLoadTest, EightWritersTenThousandRecordsEachAppearExactlyOnce) {
  pal_testing::ScopedMachineRoot root;
  InstallLogger(root.path());
  std::unique_ptr<Process> logger(StartLogger(root.path()));
  ASSERT_NE(logger, nullptr);
  constexpr int kWriters = 8;
  constexpr long kRecords = 10000;
  std::vector<std::unique_ptr<pal_testing::Child>> writers;
  for (int i = 0; i < kWriters; ++i) {
    writers.push_back(std::make_unique<pal_testing::Child>(
        "writer", std::vector<std::string>{std::to_string(i), std::to_string(kRecords)}));
  }
  for (auto& w : writers) {
    std::string report = w->ReadLine(300000);
    EXPECT_NE(MaxMs(report), -1) << report;
    EXPECT_EQ(w->Wait(), 0);
  }
  ASSERT_TRUE(WaitChannelIdle());
  logger->Kill(SIGTERM);
  logger->Wait();

  auto seen = CheckLines(ReadLines(LogDir(root.path()) + "/Logsink_0001.log"));
  ASSERT_EQ(seen.size(), static_cast<size_t>(kWriters));
  for (auto& [id, seqs] : seen) {
    SCOPED_TRACE(id);
    ASSERT_EQ(seqs.size(), static_cast<size_t>(kRecords));
    for (long n = 0; n < kRecords; ++n) ASSERT_EQ(seqs[static_cast<size_t>(n)], n);
  }
}

// Starts the logger until one keeps the channel (the first normally does: a start that finds
// the channel's events still held by a writer inside its 10 s wait takes them over).
std::unique_ptr<Process> RestartLogger(const std::string& root) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
  while (std::chrono::steady_clock::now() < deadline) {
    auto logger = std::make_unique<Process>(
        std::vector<std::string>{InstallDir(root) + "/Logsink.exe", "/l", "Logsink"}, LogDir(root));
    while (logger->Running()) {
      if (WaitChannelIdle(200)) return logger;
    }
    EXPECT_EQ(logger->Wait(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return nullptr;
}

TEST(LoggerCrashTest, WritersSurviveAKilledAndRestartedLogger) {
  pal_testing::ScopedMachineRoot root;
  InstallLogger(root.path());
  const std::string daily = LogDir(root.path()) + "/Logsink_0001.log";
  const std::string stop = root.path() + "/stop";
  std::unique_ptr<Process> logger(StartLogger(root.path()));
  ASSERT_NE(logger, nullptr);
  constexpr int kWriters = 4;
  std::vector<std::unique_ptr<pal_testing::Child>> writers;
  for (int i = 0; i < kWriters; ++i) {
    writers.push_back(std::make_unique<pal_testing::Child>(
        "writer", std::vector<std::string>{std::to_string(i), "0", stop}));
  }
  auto wait_for_lines = [&](size_t from_line) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      std::vector<std::string> lines = ReadLines(daily);
      std::map<int, int> after;
      for (size_t i = from_line; i < lines.size(); ++i) {
        std::smatch m;
        if (std::regex_match(lines[i], m, kRecordLine)) ++after[std::stoi(m[1])];
      }
      bool all = after.size() == static_cast<size_t>(kWriters);
      for (auto& [id, n] : after) all = all && n >= 20;
      if (all) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  };
  ASSERT_TRUE(wait_for_lines(0));

  logger->Kill(SIGKILL);
  EXPECT_EQ(logger->Wait(), 128 + SIGKILL);
  size_t lines_before = ReadLines(daily).size();
  std::unique_ptr<Process> restarted = RestartLogger(root.path());
  ASSERT_NE(restarted, nullptr);
  // Records flow again from every writer, none of which was restarted.
  EXPECT_TRUE(wait_for_lines(lines_before));

  pal_testing::WriteFile(stop, "");
  for (auto& w : writers) {
    std::string report = w->ReadLine(60000);
    long max_ms = MaxMs(report);
    ASSERT_NE(max_ms, -1) << report;
    // The buffer wait is 10 s; another writer may still have held the channel for part of it.
    EXPECT_LT(max_ms, 10000 + 2500) << report;
    EXPECT_EQ(w->Wait(), 0);
  }
  // The writers that held the channel mutex when the logger restarted are gone; the channel
  // stays open for the writers that come after them.
  ASSERT_TRUE(WaitChannelIdle());
  ASSERT_TRUE(PostRecord(3, "[QNV]w9 seq 0 " + std::string(100, 'x') + "\n"));
  ASSERT_TRUE(WaitChannelIdle());
  restarted->Kill(SIGTERM);
  restarted->Wait();

  auto seen = CheckLines(ReadLines(daily));
  EXPECT_EQ(seen[9].size(), 1u);
  for (auto& [id, seqs] : seen) {
    SCOPED_TRACE(id);
    for (size_t i = 1; i < seqs.size(); ++i) ASSERT_LT(seqs[i - 1], seqs[i]) << "record twice or out of order";
  }
}

// A writer inside its wait for the buffer: it holds the channel mutex and the channel's
// events and section open, then waits up to 10 s for the buffer and posts one record.
PAL_CHILD(waiting_writer) {
  HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kLogChannelMutexName);
  if (mutex == nullptr) return 2;
  WaitForSingleObject(mutex, INFINITE);
  HANDLE ready = OpenEventW(EVENT_ALL_ACCESS, FALSE, kLogChannelBufferReadyName);
  HANDLE data = OpenEventW(EVENT_ALL_ACCESS, FALSE, kLogChannelDataReadyName);
  HANDLE section = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kLogChannelBufferName);
  auto* view = section != nullptr ? static_cast<unsigned char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0)) : nullptr;
  if (ready == nullptr || data == nullptr || view == nullptr) return 3;
  pal_testing::ChildSay("holding");
  if (WaitForSingleObject(ready, kLogChannelBufferWaitMs) != WAIT_OBJECT_0) return 4;
  const char text[] = "[QNV]posted across the restart\n";
  memset(view, 0, 9);
  view[0] = 3;
  memcpy(view + 9, text, sizeof text);
  SetEvent(data);
  UnmapViewOfFile(view);
  CloseHandle(section);
  CloseHandle(data);
  CloseHandle(ready);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return 0;
}

// The logger is killed while a record is being handed over (the buffer is taken and never
// posted, as by a writer that died) and a second writer waits for the buffer, keeping the
// channel's events alive. The logger started next is the only one (it holds the single-
// instance mutex): it takes the events over instead of ending at once, the waiting writer's
// record is logged, and later records flow.
TEST(LoggerCrashTest, RestartedLoggerTakesOverEventsAWaitingWriterHolds) {
  pal_testing::ScopedMachineRoot root;
  InstallLogger(root.path());
  std::unique_ptr<Process> logger(StartLogger(root.path()));
  ASSERT_NE(logger, nullptr);
  {
    HANDLE ready = OpenEventW(EVENT_ALL_ACCESS, FALSE, kLogChannelBufferReadyName);
    ASSERT_NE(ready, nullptr);
    ASSERT_EQ(WaitForSingleObject(ready, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(ready);
  }
  pal_testing::Child writer("waiting_writer");
  ASSERT_EQ(writer.ReadLine(), "holding");
  logger->Kill(SIGKILL);
  ASSERT_EQ(logger->Wait(), 128 + SIGKILL);

  std::unique_ptr<Process> restarted(StartLogger(root.path()));
  ASSERT_NE(restarted, nullptr) << "the restarted logger did not open the channel";
  EXPECT_EQ(writer.Wait(), 0);
  ASSERT_TRUE(PostRecord(3, "[QNV]after the restart\n"));
  ASSERT_TRUE(WaitChannelIdle());
  EXPECT_TRUE(restarted->Running());
  restarted->Kill(SIGTERM);
  restarted->Wait();

  std::vector<std::string> lines = ReadLines(LogDir(root.path()) + "/Logsink_0001.log");
  auto has = [&](const std::string& message) {
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
             return line.size() > message.size() && line.compare(line.size() - message.size(), message.size(), message) == 0 &&
                    line.rfind("INF\t", 0) == 0;
           }) == 1;
  };
  EXPECT_TRUE(has("\tposted across the restart"));
  EXPECT_TRUE(has("\tafter the restart"));
}

}  // namespace
