// Costs of the kernel-object calls on the log channel's paths. Objects that another process
// holds are held by a helper process started from this binary, as the logger holds them.
//
//   platform_bench [benchmark flags]      runs in a fresh machine root below $TMPDIR or /tmp
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <windows.h>

namespace {

constexpr const wchar_t* kReady = L"Global\\bench_ready";
constexpr const wchar_t* kBufferReady = L"Global\\bench_BUFFER_READY";
constexpr const wchar_t* kDataReady = L"Global\\bench_DATA_READY";
constexpr const wchar_t* kBuffer = L"Global\\bench_BUFFER";
constexpr const wchar_t* kPing = L"Global\\bench_PING";
constexpr const wchar_t* kPong = L"Global\\bench_PONG";
constexpr const wchar_t* kMutex = L"Global\\bench_MUTEX";

// The helper process: creates the channel objects like the logger, then answers pings.
int RunHelper() {
  HANDLE buffer_ready = CreateEventW(nullptr, FALSE, FALSE, kBufferReady);
  HANDLE data_ready = CreateEventW(nullptr, FALSE, FALSE, kDataReady);
  HANDLE buffer = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kBuffer);
  HANDLE ping = CreateEventW(nullptr, FALSE, FALSE, kPing);
  HANDLE pong = CreateEventW(nullptr, FALSE, FALSE, kPong);
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, kReady);
  if (!buffer_ready || !data_ready || !buffer || !ping || !pong || !ready) return 1;
  SetEvent(ready);
  for (;;) {
    if (WaitForSingleObject(ping, INFINITE) != WAIT_OBJECT_0) return 2;
    SetEvent(pong);
  }
}

class Helper {
 public:
  Helper() {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, kReady);
    pid_ = fork();
    if (pid_ == 0) {
      std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
      execl(self.c_str(), self.c_str(), "--helper", static_cast<char*>(nullptr));
      _exit(127);
    }
    WaitForSingleObject(ready_, 10000);
  }
  ~Helper() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    CloseHandle(ready_);
  }

 private:
  HANDLE ready_;
  pid_t pid_;
};

Helper* g_helper = nullptr;

// What a log writer does for every record besides the mutex and the handshake.
void BM_PerRecordOpenMapClose(benchmark::State& state) {
  for (auto _ : state) {
    HANDLE buffer_ready = OpenEventW(EVENT_ALL_ACCESS, FALSE, kBufferReady);
    HANDLE data_ready = OpenEventW(EVENT_ALL_ACCESS, FALSE, kDataReady);
    HANDLE buffer = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kBuffer);
    void* view = MapViewOfFile(buffer, FILE_MAP_WRITE, 0, 0, 0);
    if (view == nullptr) {
      state.SkipWithError("objects missing");
      break;
    }
    benchmark::DoNotOptimize(view);
    UnmapViewOfFile(view);
    CloseHandle(buffer);
    CloseHandle(data_ready);
    CloseHandle(buffer_ready);
  }
}
BENCHMARK(BM_PerRecordOpenMapClose);

// The same amount of work done with plain POSIX shared memory, for comparison.
void BM_PlainShmOpenMapClose(benchmark::State& state) {
  const std::string prefix = "/bench_plain_" + std::to_string(getpid()) + "_";
  for (const char* name : {"a", "b", "c"}) {
    int fd = shm_open((prefix + name).c_str(), O_CREAT | O_RDWR, 0600);
    if (fd < 0 || ftruncate(fd, 4096) != 0) state.SkipWithError("shm_open failed");
    close(fd);
  }
  for (auto _ : state) {
    int fds[3];
    void* maps[3];
    int i = 0;
    for (const char* name : {"a", "b", "c"}) {
      fds[i] = shm_open((prefix + name).c_str(), O_RDWR, 0);
      maps[i] = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fds[i], 0);
      benchmark::DoNotOptimize(maps[i]);
      ++i;
    }
    for (i = 0; i < 3; ++i) {
      munmap(maps[i], 4096);
      close(fds[i]);
    }
  }
  for (const char* name : {"a", "b", "c"}) shm_unlink((prefix + name).c_str());
}
BENCHMARK(BM_PlainShmOpenMapClose);

void BM_MutexUncontended(benchmark::State& state) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutex);
  for (auto _ : state) {
    WaitForSingleObject(mutex, INFINITE);
    ReleaseMutex(mutex);
  }
  CloseHandle(mutex);
}
BENCHMARK(BM_MutexUncontended);

// One round trip: this process signals, the helper process wakes and signals back.
void BM_EventPingPongAcrossProcesses(benchmark::State& state) {
  HANDLE ping = OpenEventW(EVENT_ALL_ACCESS, FALSE, kPing);
  HANDLE pong = OpenEventW(EVENT_ALL_ACCESS, FALSE, kPong);
  for (auto _ : state) {
    SetEvent(ping);
    if (WaitForSingleObject(pong, 10000) != WAIT_OBJECT_0) {
      state.SkipWithError("no answer");
      break;
    }
  }
  CloseHandle(ping);
  CloseHandle(pong);
}
BENCHMARK(BM_EventPingPongAcrossProcesses)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--helper") == 0) return RunHelper();
  const char* tmp = getenv("TMPDIR");
  std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/palbench.XXXXXX";
  std::vector<char> root(templ.begin(), templ.end());
  root.push_back('\0');
  if (mkdtemp(root.data()) == nullptr) return 1;
  setenv("PAL_ROOT", root.data(), 1);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  int rc = 0;
  {
    Helper helper;
    g_helper = &helper;
    benchmark::RunSpecifiedBenchmarks();
    g_helper = nullptr;
  }
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(root.data(), ec);
  return rc;
}
