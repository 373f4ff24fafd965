// The whole logging road measured: records per second from 1, 2 and 4 writer processes
// through Logsink into its daily file (each line flushed, 200-byte texts), next to two
// baselines written for this benchmark, both a minimal two-process handoff over a 4096-byte
// shared page with futex-based auto-reset events, the same line format and the same write
// and flush per record:
//   (a) the writer opens the page and both events for every record (shm_open, mmap, close,
//       munmap), as the channel's writer rule asks;
//   (b) everything stays open.
// Usage: logsink_bench [records per writer]
#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "LogChannelWriter.h"
#include "logsink_testing.h"
#include "pal_testing.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// ---- Baseline: futex events on shared pages -------------------------------------------------

void FutexWait(std::atomic<uint32_t>* word, uint32_t expected) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT, expected, nullptr, nullptr, 0);
}
void FutexWake(std::atomic<uint32_t>* word) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

// Auto-reset event: 1 signalled, 0 not.
void SetEventWord(std::atomic<uint32_t>* word) {
  word->store(1, std::memory_order_release);
  FutexWake(word);
}
void WaitEventWord(std::atomic<uint32_t>* word) {
  for (;;) {
    uint32_t one = 1;
    if (word->compare_exchange_strong(one, 0, std::memory_order_acquire)) return;
    FutexWait(word, 0);
  }
}

void* MapShared(const std::string& name, size_t size, bool create) {
  int fd = shm_open(name.c_str(), O_RDWR | (create ? O_CREAT : 0), 0600);
  if (fd < 0) return nullptr;
  if (create && ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    return nullptr;
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  return p == MAP_FAILED ? nullptr : p;
}

struct BaselineNames {
  std::string page, buffer_ready, data_ready;
};

BaselineNames NamesFor(pid_t owner) {
  std::string base = "/tq770_bench_" + std::to_string(owner);
  return {base + "_page", base + "_bufready", base + "_dataready"};
}

void BaselineWriter(const BaselineNames& names, long records, bool reopen) {
  char text[201];
  memset(text, 'w', 200);
  text[199] = '\n';
  text[200] = '\0';
  memcpy(text, "[QNV]", 5);
  unsigned char* page = nullptr;
  std::atomic<uint32_t>* ready = nullptr;
  std::atomic<uint32_t>* data = nullptr;
  for (long i = 0; i < records; ++i) {
    if (page == nullptr) {
      page = static_cast<unsigned char*>(MapShared(names.page, 4096, false));
      ready = static_cast<std::atomic<uint32_t>*>(MapShared(names.buffer_ready, 4096, false));
      data = static_cast<std::atomic<uint32_t>*>(MapShared(names.data_ready, 4096, false));
    }
    WaitEventWord(ready);
    uint32_t pid = static_cast<uint32_t>(getpid());
    uint32_t tid = static_cast<uint32_t>(gettid());
    page[0] = 3;
    memcpy(page + 1, &pid, 4);
    memcpy(page + 5, &tid, 4);
    memcpy(page + 9, text, sizeof text);
    SetEventWord(data);
    if (reopen) {
      munmap(page, 4096);
      munmap(ready, 4096);
      munmap(data, 4096);
      page = nullptr;
    }
  }
}

double RunBaseline(long records, bool reopen, const std::string& log_path) {
  BaselineNames names = NamesFor(getpid());
  auto* page = static_cast<unsigned char*>(MapShared(names.page, 4096, true));
  auto* ready = static_cast<std::atomic<uint32_t>*>(MapShared(names.buffer_ready, 4096, true));
  auto* data = static_cast<std::atomic<uint32_t>*>(MapShared(names.data_ready, 4096, true));
  ready->store(0);
  data->store(0);
  FILE* log = fopen(log_path.c_str(), "a");
  SetEventWord(ready);
  auto start = Clock::now();
  pid_t child = fork();
  if (child == 0) {
    BaselineWriter(names, records, reopen);
    _exit(0);
  }
  for (long i = 0; i < records; ++i) {
    WaitEventWord(data);
    SYSTEMTIME now;
    GetLocalTime(&now);
    DWORD pid, tid;
    memcpy(&pid, page + 1, 4);
    memcpy(&tid, page + 5, 4);
    const char* message = reinterpret_cast<const char*>(page) + 14;
    const void* nul = memchr(message, 0, 4096 - 14);
    int length = static_cast<int>(static_cast<const char*>(nul) - message);
    fprintf(log, "%s\t%02d:%02d:%02d.%03d\t%04u\t%04u\t%.*s", "INF", now.wHour, now.wMinute,
            now.wSecond, now.wMilliseconds, pid, tid, length, message);
    fflush(log);
    SetEventWord(ready);
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  waitpid(child, nullptr, 0);
  fclose(log);
  munmap(page, 4096);
  munmap(ready, 4096);
  munmap(data, 4096);
  shm_unlink(names.page.c_str());
  shm_unlink(names.buffer_ready.c_str());
  shm_unlink(names.data_ready.c_str());
  return records / seconds;
}

// ---- The whole road through Logsink -------------------------------------------------------

PAL_CHILD(bench_writer) {
  const long records = std::stol(args.at(0));
  std::wstring text = L"[QNV]" + std::wstring(194, L'w') + L"\n";  // 200 bytes with the tag
  LogChannelWriter::Instance();
  pal_testing::ChildSay("ready");
  pal_testing::ChildAwait();
  for (long i = 0; i < records; ++i) LogChannelWriter::Instance().Write(3, text.c_str());
  pal_testing::ChildSay("done");
  return 0;
}

double RunLogsink(const std::string& root, int writers, long records_per_writer) {
  std::vector<std::unique_ptr<pal_testing::Child>> children;
  for (int i = 0; i < writers; ++i) {
    children.push_back(std::make_unique<pal_testing::Child>(
        "bench_writer", std::vector<std::string>{std::to_string(records_per_writer)}));
  }
  for (auto& c : children) c->ReadLine();
  auto start = Clock::now();
  for (auto& c : children) c->Signal();
  for (auto& c : children) c->ReadLine(600000);
  logsink_testing::WaitChannelIdle();
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (auto& c : children) c->Wait();
  (void)root;
  return static_cast<double>(writers) * records_per_writer / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  int exit_code = 0;
  if (pal_testing::MaybeRunChild(argc, argv, &exit_code)) return exit_code;
  const long records = argc > 1 ? std::stol(argv[1]) : 20000;
  if (argc > 2 && std::string(argv[2]) == "--baselines") {
    printf("(a) %.0f records/s\n", RunBaseline(records, true, "/tmp/tq770_baseline_a.log"));
    printf("(b) %.0f records/s\n", RunBaseline(records, false, "/tmp/tq770_baseline_b.log"));
    unlink("/tmp/tq770_baseline_a.log");
    unlink("/tmp/tq770_baseline_b.log");
    return 0;
  }

  pal_testing::ScopedMachineRoot root;
  logsink_testing::InstallLogger(root.path(), false);
  const std::string log_dir = logsink_testing::LogDir(root.path());
  // The baselines first, in a process that has not yet used the platform layer.
  double baseline_a = RunBaseline(records, true, log_dir + "/baseline_a.log");
  double baseline_b = RunBaseline(records, false, log_dir + "/baseline_b.log");

  std::unique_ptr<logsink_testing::Process> logger(logsink_testing::StartLogger(root.path()));
  if (logger == nullptr) {
    fprintf(stderr, "Logsink did not open its channel\n");
    return 1;
  }
  double road[3];
  const int kWriters[3] = {1, 2, 4};
  for (int i = 0; i < 3; ++i) road[i] = RunLogsink(root.path(), kWriters[i], records / kWriters[i]);
  logger->Kill(SIGTERM);
  logger->Wait();
  std::uintmax_t daily_size = fs::file_size(log_dir + "/Logsink_0001.log");

  printf("records per run: %ld (200-byte texts, every line flushed; daily file %ju bytes)\n",
         records, daily_size);
  printf("%-44s %12s %10s %10s\n", "road", "records/s", "vs (a)", "vs (b)");
  for (int i = 0; i < 3; ++i) {
    char name[64];
    snprintf(name, sizeof name, "Logsink, %d writer process%s", kWriters[i], kWriters[i] > 1 ? "es" : "");
    printf("%-44s %12.0f %10.2f %10.2f\n", name, road[i], road[i] / baseline_a, road[i] / baseline_b);
  }
  printf("%-44s %12.0f %10.2f %10.2f\n", "(a) futex handoff, page+events opened per record",
         baseline_a, 1.0, baseline_a / baseline_b);
  printf("%-44s %12.0f %10.2f %10.2f\n", "(b) futex handoff, everything kept open", baseline_b,
         baseline_b / baseline_a, 1.0);
  return 0;
}
