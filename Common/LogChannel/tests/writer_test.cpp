#include <windows.h>

#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ChannelTestReader.h"
#include "LogChannel.h"
#include "LogChannelWriter.h"
#include "pal_testing.h"

// Reaches into a writer for what the tests must see: a fresh object (the process's own is
// created once) and the handles it keeps.
struct LogChannelWriterTestPeer {
  static std::unique_ptr<LogChannelWriter> Make() { return std::unique_ptr<LogChannelWriter>(new LogChannelWriter); }
  static HANDLE Mutex(const LogChannelWriter& writer) { return writer.m_hMutex.load(); }
  static bool HoldsNoRecordObjects(const LogChannelWriter& writer) {
    return writer.m_hBufferReady == nullptr && writer.m_hDataReady == nullptr && writer.m_hSection == nullptr &&
           writer.m_pView == nullptr;
  }
  // What the process's end would do to the one handle the writer keeps.
  static void CloseMutex(LogChannelWriter& writer) {
    CloseHandle(writer.m_hMutex.load());
    writer.m_hMutex = nullptr;
  }
};

namespace {

using Clock = std::chrono::steady_clock;
using Peer = LogChannelWriterTestPeer;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// True when no object of the channel is left in the machine: every handle to them, in
// this process included, is closed.
void ExpectChannelObjectsGone() {
  EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, kLogChannelMutexName), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, kLogChannelBufferReadyName), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, kLogChannelDataReadyName), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_WRITE, FALSE, kLogChannelBufferName), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(LogChannelWriterTest, NoLoggerAndNoMutexHolderReturnsAtOnceWithOneDebuggerLinePerRecord) {
  pal_testing::ScopedMachineRoot root;
  const std::string debug_file = root.path() + "/debugger.txt";
  setenv("PAL_DEBUG_OUTPUT", debug_file.c_str(), 1);
  std::unique_ptr<LogChannelWriter> writer = Peer::Make();

  const Clock::time_point start = Clock::now();
  writer->Write(1, L"[QNV]first\n");
  writer->Write(1, L"[QNV]second\n");
  EXPECT_LT(SecondsSince(start), 2.0);
  unsetenv("PAL_DEBUG_OUTPUT");

  // Each record tries to open the mutex again, and each failure says so once.
  EXPECT_EQ(pal_testing::ReadFile(debug_file), "OpenMutex fail : 2\nOpenMutex fail : 2\n");
  EXPECT_EQ(Peer::Mutex(*writer), nullptr);
  EXPECT_TRUE(Peer::HoldsNoRecordObjects(*writer));
  ExpectChannelObjectsGone();
}

TEST(LogChannelWriterTest, MutexWithoutLoggerDropsTheRecordAndReleasesTheMutex) {
  pal_testing::ScopedMachineRoot root;
  const std::string debug_file = root.path() + "/debugger.txt";
  setenv("PAL_DEBUG_OUTPUT", debug_file.c_str(), 1);
  // Some other writer process still holds the channel mutex; the logger is gone.
  HANDLE hMutex = CreateMutexW(nullptr, FALSE, kLogChannelMutexName);
  ASSERT_NE(hMutex, nullptr);
  std::unique_ptr<LogChannelWriter> writer = Peer::Make();

  const Clock::time_point start = Clock::now();
  writer->Write(1, L"[QNV]dropped\n");
  EXPECT_LT(SecondsSince(start), 2.0);
  unsetenv("PAL_DEBUG_OUTPUT");

  EXPECT_EQ(pal_testing::ReadFile(debug_file), "");
  EXPECT_NE(Peer::Mutex(*writer), nullptr);
  EXPECT_TRUE(Peer::HoldsNoRecordObjects(*writer));
  // Released: another thread gets the mutex without waiting.
  std::thread([hMutex] {
    EXPECT_EQ(WaitForSingleObject(hMutex, 0), WAIT_OBJECT_0);
    ReleaseMutex(hMutex);
  }).join();
  Peer::CloseMutex(*writer);
  CloseHandle(hMutex);
  ExpectChannelObjectsGone();
}

TEST(LogChannelWriterTest, RecordFieldsAsTheyArriveInTheBuffer) {
  pal_testing::ScopedMachineRoot root;
  ChannelTestCollector collector;
  ASSERT_TRUE(collector.ok());
  std::unique_ptr<LogChannelWriter> writer = Peer::Make();

  const std::wstring k4086 = L"[QNV]" + std::wstring(4081, L'a');
  const std::wstring k4087 = L"[QNV]" + std::wstring(4082, L'b');
  // Three wide characters that need one ANSI byte each: the limit counts bytes.
  const std::wstring kEuro4086 = L"[QNV]" + std::wstring(4081, L'\u20AC');
  struct Case {
    const char* name;
    int level;
    std::wstring text;
    int want_level;
    std::string want_text;
  };
  const Case kCases[] = {
      {"plain", 3, L"[QNV]hello\n", 3, "[QNV]hello\n"},
      {"level_257_keeps_low_byte", 257, L"[QNV]a", 1, "[QNV]a"},
      {"level_99_permanent", 99, L"[QNV]p", 99, "[QNV]p"},
      {"level_minus_1", -1, L"[QNV]m", 255, "[QNV]m"},
      {"empty_text", 1, L"", 1, ""},
      {"outside_code_page_becomes_question_mark", 1, L"[QNV]\u4E2D\u0416x", 1, "[QNV]??x"},
      {"code_page_1252_specials", 1, L"[QNV]\u20AC\u00E9\u2122", 1, "[QNV]\x80\xE9\x99"},
      {"4086_bytes_whole", 2, k4086, 2, "[QNV]" + std::string(4081, 'a')},
      {"4086_bytes_of_euro", 2, kEuro4086, 2, "[QNV]" + std::string(4081, '\x80')},
      {"4087_bytes_arrive_empty", 2, k4087, 2, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    writer->Write(c.level, c.text.c_str());
    std::vector<ChannelTestRecord> records = collector.WaitForCount(1);
    ASSERT_EQ(records.size(), 1u);
    const ChannelTestRecord& record = records[0];
    EXPECT_EQ(record.level, c.want_level);
    EXPECT_EQ(record.processId, GetCurrentProcessId());
    EXPECT_EQ(record.threadId, GetCurrentThreadId());
    EXPECT_EQ(record.text, c.want_text);
    // The NUL lies right behind the text: at offset 4095 for the longest one.
    EXPECT_EQ(record.raw[9 + c.want_text.size()], 0);
    ASSERT_TRUE(collector.TakeUntil(record.text));
  }
  // Little-endian ids at offsets 1 and 5, as the logger reads them.
  writer->Write(4, L"[QNV]ids");
  std::vector<ChannelTestRecord> records = collector.WaitForCount(1);
  ASSERT_EQ(records.size(), 1u);
  const DWORD pid = GetCurrentProcessId();
  const DWORD tid = GetCurrentThreadId();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(static_cast<DWORD>(records[0].raw[1 + i]), (pid >> (8 * i)) & 0xFF);
    EXPECT_EQ(static_cast<DWORD>(records[0].raw[5 + i]), (tid >> (8 * i)) & 0xFF);
  }
  EXPECT_TRUE(Peer::HoldsNoRecordObjects(*writer));
}

TEST(LogChannelWriterTest, StalledReaderDropsAfterTenSecondsAndDelaysTheNextWriterSlow) {
  pal_testing::ScopedMachineRoot root;
  ChannelTestReader::Options options;
  options.arm = false;  // the logger never frees the buffer
  ChannelTestReader reader(options);
  ASSERT_TRUE(reader.ok());
  LogChannelWriter& writer = LogChannelWriter::Instance();

  const Clock::time_point start = Clock::now();
  double first_done = 0;
  double second_done = 0;
  std::thread first([&] {
    writer.Write(1, L"[QNV]first\n");
    first_done = SecondsSince(start);
  });
  // Start the second writer only once the first holds the channel mutex.
  for (;;) {
    DWORD dwProbe = WAIT_FAILED;
    std::thread([&] {
      dwProbe = WaitForSingleObject(reader.mutex(), 0);
      if (dwProbe == WAIT_OBJECT_0) ReleaseMutex(reader.mutex());
    }).join();
    if (dwProbe == WAIT_TIMEOUT || SecondsSince(start) > 5.0) break;
    std::this_thread::yield();
  }
  std::thread second([&] {
    writer.Write(1, L"[QNV]second\n");
    second_done = SecondsSince(start);
  });
  first.join();
  second.join();

  EXPECT_GE(first_done, 9.9);
  EXPECT_LT(first_done, 12.0);
  EXPECT_GE(second_done, 19.8);
  EXPECT_LT(second_done, 23.0);
  // Neither writer touched the buffer or signalled data.
  EXPECT_FALSE(reader.Take(0));
  // The channel is consistent: once freed, the next record goes through.
  reader.Arm();
  writer.Write(1, L"[QNV]third\n");
  std::optional<ChannelTestRecord> record = reader.Take(5000);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->text, "[QNV]third\n");
}

// Waits for `flag` to reach `value` by polling, so that the waiter leaves the moment it
// changes instead of waiting for a wake-up; yields now and then on a busy machine.
void PollUntil(const std::atomic<int>& flag, int value) {
  for (int spins = 0; flag.load(std::memory_order_acquire) < value; ++spins) {
    if (spins % 1024 == 1023) std::this_thread::yield();
  }
}

// Plays the logger's start-up and end for the channel mutex, on command.
PAL_CHILD(mutex_owner) {
  HANDLE hMutex = nullptr;
  for (;;) {
    const std::string line = pal_testing::ChildAwait();
    if (line == "create") {
      hMutex = CreateMutexW(nullptr, FALSE, kLogChannelMutexName);
      pal_testing::ChildSay(hMutex != nullptr ? "ok" : "failed");
    } else if (line == "close") {
      CloseHandle(hMutex);
      pal_testing::ChildSay("ok");
    } else {
      return 0;
    }
  }
}

// Keeps the calling thread on one processor, so that two racing threads really run at once.
void PinToProcessor(int processor) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(processor % std::max(1u, std::thread::hardware_concurrency()), &set);
  pthread_setaffinity_np(pthread_self(), sizeof(set), &set);
}

TEST(LogChannelWriterTest, FirstRecordsOfConcurrentThreadsShareOneMutexHandle) {
  pal_testing::ScopedMachineRoot root;
  // Each round a fresh writer gets its first records from two threads at the same moment:
  // this one and a helper polling for the start, each on a processor of its own. The mutex
  // comes from another process, as the logger's does, so the first opening is not served
  // from anything this process already knows; the logger is otherwise away, which keeps a
  // round short. A non-atomic first opening leaks a handle within a few rounds here.
  constexpr int kRounds = 200;
  pal_testing::Child owner("mutex_owner");
  std::unique_ptr<LogChannelWriter> writer;
  std::atomic<int> go{0};
  std::atomic<int> done{0};
  cpu_set_t saved;
  pthread_getaffinity_np(pthread_self(), sizeof(saved), &saved);
  PinToProcessor(0);
  std::thread helper([&] {
    PinToProcessor(1);
    for (int round = 1; round <= kRounds; ++round) {
      PollUntil(go, round);
      writer->Write(1, L"[QNV]first");
      done.store(round, std::memory_order_release);
    }
  });
  int leaked_rounds = 0;
  for (int round = 1; round <= kRounds; ++round) {
    owner.Signal("create");
    ASSERT_EQ(owner.ReadLine(), "ok");
    writer = Peer::Make();
    go.store(round, std::memory_order_release);
    writer->Write(1, L"[QNV]first");
    PollUntil(done, round);
    EXPECT_NE(Peer::Mutex(*writer), nullptr);
    EXPECT_TRUE(Peer::HoldsNoRecordObjects(*writer));
    // With the writer's one handle and the owner's closed, nothing may keep the mutex
    // alive: a second handle opened by the losing thread would.
    Peer::CloseMutex(*writer);
    owner.Signal("close");
    ASSERT_EQ(owner.ReadLine(), "ok");
    HANDLE hLeft = OpenMutexW(SYNCHRONIZE, FALSE, kLogChannelMutexName);
    if (hLeft != nullptr) {
      ++leaked_rounds;  // from here on every round counts: the leaked handle stays
      CloseHandle(hLeft);
    }
  }
  helper.join();
  pthread_setaffinity_np(pthread_self(), sizeof(saved), &saved);
  owner.Signal("quit");
  EXPECT_EQ(owner.Wait(), 0);
  EXPECT_EQ(leaked_rounds, 0);
}

TEST(LogChannelWriterTest, AbandonedChannelMutexCountsAsAcquired) {
  pal_testing::ScopedMachineRoot root;
  ChannelTestCollector collector;
  ASSERT_TRUE(collector.ok());
  // A writer thread that ends while holding the channel mutex.
  std::thread([] {
    HANDLE hMutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kLogChannelMutexName);
    ASSERT_NE(hMutex, nullptr);
    ASSERT_EQ(WaitForSingleObject(hMutex, 0), WAIT_OBJECT_0);
    // Ends without ReleaseMutex; the handle stays open.
  }).join();
  std::unique_ptr<LogChannelWriter> writer = Peer::Make();
  writer->Write(1, L"[QNV]after abandonment");
  ASSERT_TRUE(collector.TakeUntil("[QNV]after abandonment", 5000));
  writer->Write(1, L"[QNV]and again");
  EXPECT_TRUE(collector.TakeUntil("[QNV]and again", 5000));
}

// A writer process: posts `count` records "[QNV]<pid>:<tid>:<n>:<filler>" once told to go.
PAL_CHILD(burst_writer) {
  const int count = std::stoi(args.at(0));
  const size_t filler = std::stoul(args.at(1));
  pal_testing::ChildSay("ready");
  pal_testing::ChildAwait();
  LogChannelWriter& writer = LogChannelWriter::Instance();
  for (int n = 0; n < count; ++n) {
    std::wstring text = L"[QNV]" + std::to_wstring(GetCurrentProcessId()) + L":" +
                        std::to_wstring(GetCurrentThreadId()) + L":" + std::to_wstring(n) + L":";
    text.append(filler, static_cast<wchar_t>(L'a' + n % 26));
    writer.Write(n % 6, text.c_str());
  }
  return 0;
}

void BurstFromThisProcess(int count, size_t filler) {
  LogChannelWriter& writer = LogChannelWriter::Instance();
  for (int n = 0; n < count; ++n) {
    std::wstring text = L"[QNV]" + std::to_wstring(GetCurrentProcessId()) + L":" +
                        std::to_wstring(GetCurrentThreadId()) + L":" + std::to_wstring(n) + L":";
    text.append(filler, static_cast<wchar_t>(L'a' + n % 26));
    writer.Write(n % 6, text.c_str());
  }
}

TEST(LogChannelWriterTest, TwoThreadsAndTwoProcessesWritingAtOnceNothingTorn) {
  pal_testing::ScopedMachineRoot root;
  ChannelTestCollector collector;
  ASSERT_TRUE(collector.ok());
  constexpr int kCount = 400;
  constexpr size_t kFiller = 2000;

  pal_testing::Child one("burst_writer", {std::to_string(kCount), std::to_string(kFiller)});
  pal_testing::Child two("burst_writer", {std::to_string(kCount), std::to_string(kFiller)});
  ASSERT_EQ(one.ReadLine(), "ready");
  ASSERT_EQ(two.ReadLine(), "ready");
  one.Signal();
  two.Signal();
  std::thread a([] { BurstFromThisProcess(kCount, kFiller); });
  std::thread b([] { BurstFromThisProcess(kCount, kFiller); });
  a.join();
  b.join();
  EXPECT_EQ(one.Wait(), 0);
  EXPECT_EQ(two.Wait(), 0);

  std::vector<ChannelTestRecord> records = collector.WaitForCount(4 * kCount);
  ASSERT_EQ(records.size(), static_cast<size_t>(4 * kCount));
  std::map<std::pair<DWORD, DWORD>, int> next_by_writer;
  std::set<DWORD> processes;
  for (const ChannelTestRecord& record : records) {
    unsigned long pid = 0, tid = 0;
    int n = -1, consumed = 0;
    ASSERT_EQ(sscanf(record.text.c_str(), "[QNV]%lu:%lu:%d:%n", &pid, &tid, &n, &consumed), 3) << record.text;
    // The writing thread's own ids, in the header and in its text alike.
    ASSERT_EQ(record.processId, pid);
    ASSERT_EQ(record.threadId, tid);
    ASSERT_EQ(record.level, n % 6);
    ASSERT_EQ(record.text.substr(static_cast<size_t>(consumed)), std::string(kFiller, static_cast<char>('a' + n % 26)));
    // Each writer's records arrive once each, in its order.
    int& next = next_by_writer[{record.processId, record.threadId}];
    ASSERT_EQ(n, next);
    ++next;
    processes.insert(record.processId);
  }
  EXPECT_EQ(next_by_writer.size(), 4u);
  EXPECT_EQ(processes.size(), 3u);
  for (const auto& [writer, next] : next_by_writer) EXPECT_EQ(next, kCount);
}

// A long-running writer process: posts one record per line it is given, says "done".
PAL_CHILD(line_writer) {
  for (;;) {
    const std::string line = pal_testing::ChildAwait();
    if (line.empty() || line == "quit") return 0;
    const std::wstring text = L"[QNV]" + std::wstring(line.begin(), line.end());
    LogChannelWriter::Instance().Write(3, text.c_str());
    pal_testing::ChildSay("done");
  }
}

TEST(LogChannelWriterTest, ReaderRestartedWhileAWriterProcessRunsGetsItsNextRecord) {
  pal_testing::ScopedMachineRoot root;
  pal_testing::Child writer("line_writer");
  {
    ChannelTestCollector first;
    ASSERT_TRUE(first.ok());
    writer.Signal("one");
    ASSERT_EQ(writer.ReadLine(), "done");
    ASSERT_TRUE(first.TakeUntil("[QNV]one", 5000));
  }
  // Reader away: the writer keeps the channel mutex alive, finds no events and drops.
  const Clock::time_point start = Clock::now();
  writer.Signal("while away");
  ASSERT_EQ(writer.ReadLine(), "done");
  EXPECT_LT(SecondsSince(start), 5.0);

  ChannelTestCollector second;
  ASSERT_TRUE(second.ok());
  EXPECT_FALSE(second.reader().events_existed());
  writer.Signal("three");
  ASSERT_EQ(writer.ReadLine(), "done");
  std::optional<std::vector<ChannelTestRecord>> before = second.TakeUntil("[QNV]three", 5000);
  ASSERT_TRUE(before);
  EXPECT_TRUE(before->empty());
  writer.Signal("quit");
  EXPECT_EQ(writer.Wait(), 0);
}

}  // namespace
