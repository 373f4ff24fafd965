// The drain loop allocates nothing per record: every heap allocation made on the drain
// thread is counted (malloc and friends replaced in this binary) while a writer process
// posts records through the real channel.
#include <unistd.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "LogChannelWriter.h"
#include "Logsink.h"
#include "logsink_testing.h"
#include "pal_testing.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t n, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
}

namespace {

std::atomic<pid_t> g_counted_thread{0};
std::atomic<long> g_allocations{0};

inline void Count() {
  pid_t counted = g_counted_thread.load(std::memory_order_relaxed);
  if (counted != 0 && gettid() == counted) g_allocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

extern "C" {
void* malloc(size_t size) {
  Count();
  return __libc_malloc(size);
}
void* calloc(size_t n, size_t size) {
  Count();
  return __libc_calloc(n, size);
}
void* realloc(void* p, size_t size) {
  Count();
  return __libc_realloc(p, size);
}
void* memalign(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
  Count();
  void* p = __libc_memalign(alignment, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
void* valloc(size_t size) {
  Count();
  return __libc_valloc(size);
}
}

namespace {

using namespace logsink_testing;

PAL_CHILD(poster) {
  for (;;) {
    std::string line = pal_testing::ChildAwait();
    if (line.empty() || line == "quit") return 0;
    int count = std::stoi(line);
    for (int i = 0; i < count; ++i) {
      wchar_t text[300];
      swprintf_s(text, L"[QNV]record %d %s\n", i, std::wstring(200, L'r').c_str());
      LogChannelWriter::Instance().Write(i % 10 == 0 ? 99 : 3, text);
    }
    pal_testing::ChildSay("posted");
  }
}

TEST(DrainAllocationTest, NoHeapAllocationPerRecord) {
  pal_testing::ScopedMachineRoot root;
  std::filesystem::create_directories(InstallDir(root.path()));
  const std::string daily = LogDir(root.path()) + "/Alloc_0001.log";
  static wchar_t kProgram[] = L"Logsink.exe";
  static wchar_t kOption[] = L"/l";
  static wchar_t kBase[] = L"C:\\ProgramData\\NORVANTE\\TQ770\\log\\Alloc";
  wchar_t* argv[] = {kProgram, kOption, kBase};
  ASSERT_EQ(LogsinkStartUp(3, argv), -1);
  SetConsoleCtrlHandler(ConsoleCtrlHandler, FALSE);
  DWORD tid = 0;
  HANDLE thread = CreateThread(nullptr, 0, DrainThread, nullptr, 0, &tid);
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(WaitChannelOpen());

  pal_testing::Child poster("poster");
  poster.Signal("200");  // warm-up: first use of every stream and object
  ASSERT_EQ(poster.ReadLine(), "posted");
  ASSERT_TRUE(WaitChannelIdle());
  size_t lines_before = ReadLines(daily).size();

  g_counted_thread = static_cast<pid_t>(tid);
  poster.Signal("5000");
  ASSERT_EQ(poster.ReadLine(60000), "posted");
  ASSERT_TRUE(WaitChannelIdle());
  g_counted_thread = 0;

  EXPECT_EQ(g_allocations.load(), 0);
  // The records really went through the drain thread meanwhile.
  EXPECT_EQ(ReadLines(daily).size() - lines_before, 4500u);
  poster.Signal("quit");
  poster.Wait();
}

}  // namespace
