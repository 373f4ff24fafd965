// Processes and threads: children started with posix_spawn and watched through pidfds,
// threads with waitable handles, the module path, the environment.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cmdline.h"
#include "handle.h"
#include "machine.h"
#include "pal/errors.h"
#include "pal/process.h"
#include "process_internal.h"
#include "text_codepage.h"

extern char** environ;

namespace pal {
namespace {

constexpr DWORD kErrorDirectory = 267;
// waitid() on a pidfd (P_PIDFD); the C library headers of this host do not name it.
const idtype_t kPidfdIdType = static_cast<idtype_t>(3);

// Waits for `fd` to become readable; INFINITE has no limit. Restarts after signals with
// the time that is left.
bool PollReadable(int fd, DWORD timeout_ms) {
  const bool infinite = timeout_ms == INFINITE;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    int wait_ms = -1;
    if (!infinite) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      long long elapsed = (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
      long long left = static_cast<long long>(timeout_ms) - elapsed;
      if (left < 0) left = 0;
      wait_ms = left > INT_MAX ? INT_MAX : static_cast<int>(left);
    }
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, wait_ms);
    if (r > 0) return true;
    if (r == 0 && (!infinite && wait_ms < INT_MAX)) return false;
    if (r < 0 && errno != EINTR) return false;
  }
}

// ---- Children ------------------------------------------------------------------------------

// One started child, shared by its process and thread handles.
class Child {
 public:
  Child(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
  ~Child() {
    std::lock_guard lock(mutex_);
    if (status_) {
      close(pidfd_);
      return;
    }
    // Nobody will wait any more: reap it when it ends, so that it leaves no zombie.
    int fd = pidfd_;
    std::thread([fd] {
      siginfo_t info{};
      while (waitid(kPidfdIdType, static_cast<id_t>(fd), &info, WEXITED) != 0 &&
             errno == EINTR) {
      }
      close(fd);
    }).detach();
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }

  WaitResult Wait(DWORD timeout_ms) {
    if (Reaped()) return WaitResult::kSignaled;
    if (!PollReadable(pidfd_, timeout_ms)) return WaitResult::kTimeout;
    return WaitResult::kSignaled;
  }

  // STILL_ACTIVE while running, else the exit status (128 + signal for a killed child; the
  // code given to TerminateProcess when that call killed it).
  DWORD ExitCode() {
    std::lock_guard lock(mutex_);
    if (!status_) {
      siginfo_t info{};
      if (waitid(kPidfdIdType, static_cast<id_t>(pidfd_), &info, WEXITED | WNOHANG) != 0 ||
          info.si_pid == 0) {
        return STILL_ACTIVE;
      }
      if (info.si_code == CLD_EXITED) {
        status_ = static_cast<DWORD>(info.si_status);
      } else if (terminate_code_ && info.si_status == SIGKILL) {
        status_ = *terminate_code_;
      } else {
        status_ = 128 + static_cast<DWORD>(info.si_status);
      }
    }
    return *status_;
  }

  bool Terminate(UINT code) {
    std::lock_guard lock(mutex_);
    if (status_) return true;
    if (syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0) != 0) return false;
    terminate_code_ = code;
    return true;
  }

 private:
  bool Reaped() {
    std::lock_guard lock(mutex_);
    return status_.has_value();
  }

  const pid_t pid_;
  const int pidfd_;
  std::mutex mutex_;
  std::optional<DWORD> status_;
  std::optional<DWORD> terminate_code_;
};

class ProcessObject final : public HandleObject {
 public:
  explicit ProcessObject(std::shared_ptr<Child> child)
      : HandleObject(HandleKind::kProcess), child_(std::move(child)) {}
  WaitResult Wait(DWORD timeout_ms) override { return child_->Wait(timeout_ms); }
  Child& child() { return *child_; }

 private:
  std::shared_ptr<Child> child_;
};

// ---- Threads -------------------------------------------------------------------------------

class ThreadState {
 public:
  void Finish(DWORD code) {
    std::lock_guard lock(mutex_);
    if (done_) return;
    done_ = true;
    code_ = code;
    ended_.notify_all();
  }
  bool WaitEnd(DWORD timeout_ms) {
    std::unique_lock lock(mutex_);
    if (timeout_ms == INFINITE) {
      ended_.wait(lock, [&] { return done_; });
      return true;
    }
    return ended_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return done_; });
  }
  DWORD ExitCode() {
    std::lock_guard lock(mutex_);
    return done_ ? code_ : STILL_ACTIVE;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  bool done_ = false;
  DWORD code_ = 0;
};

class ThreadObject final : public HandleObject {
 public:
  explicit ThreadObject(std::shared_ptr<ThreadState> state)
      : HandleObject(HandleKind::kThread), state_(std::move(state)) {}
  explicit ThreadObject(std::shared_ptr<Child> child)
      : HandleObject(HandleKind::kThread), child_(std::move(child)) {}

  WaitResult Wait(DWORD timeout_ms) override {
    if (child_) return child_->Wait(timeout_ms);
    return state_->WaitEnd(timeout_ms) ? WaitResult::kSignaled : WaitResult::kTimeout;
  }
  DWORD ExitCode() { return child_ ? child_->ExitCode() : state_->ExitCode(); }

 private:
  std::shared_ptr<ThreadState> state_;
  std::shared_ptr<Child> child_;  // the main thread of a child process
};

// Where a new thread reports its kernel id to CreateThread, which waits for it.
struct StartReport {
  std::mutex mutex;
  std::condition_variable cv;
  bool started = false;
  pid_t tid = 0;
};

struct ThreadStart {
  std::function<DWORD()> body;
  std::shared_ptr<ThreadState> state;
  StartReport* report;  // on the creator's stack; not touched after the report
};

thread_local ThreadState* t_current_thread = nullptr;

void* ThreadMain(void* arg) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(arg));
  std::shared_ptr<ThreadState> state = std::move(start->state);
  std::function<DWORD()> body = std::move(start->body);
  {
    std::lock_guard lock(start->report->mutex);
    start->report->tid = gettid();
    start->report->started = true;
    start->report->cv.notify_all();
  }
  start.reset();
  t_current_thread = state.get();
  // Runs also when ExitThread unwinds the stack, so the handle is always signalled.
  struct Finisher {
    ThreadState* state;
    DWORD code = 0;
    ~Finisher() { state->Finish(code); }
  } finisher{state.get()};
  finisher.code = body();
  return nullptr;
}

// ---- Program lookup ------------------------------------------------------------------------

bool IsRegularFile(const std::string& host) {
  struct stat st {};
  return stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::string& host) {
  struct stat st {};
  return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool HasExtension(std::wstring_view path) {
  size_t name = path.find_last_of(L"\\/");
  std::wstring_view last = name == std::wstring_view::npos ? path : path.substr(name + 1);
  return last.find(L'.') != std::wstring_view::npos;
}

std::string SelfExe() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

// Finds the host file of a program name the way Windows looks for it: with ".exe" added
// when the name has no extension (then, for host programs, the name as it is); a bare name
// is looked for beside the running program, in the current folder and along PATH.
std::optional<std::string> FindProgram(std::wstring_view name, bool add_extension) {
  std::vector<std::wstring> names;
  if (add_extension && !HasExtension(name)) names.push_back(std::wstring(name) + L".exe");
  names.emplace_back(name);
  const bool bare = name.find_first_of(L"\\/:") == std::wstring_view::npos;
  for (const std::wstring& n : names) {
    if (!bare) {
      auto host = ToHostPath(n);
      if (host.ok() && IsRegularFile(*host)) return *host;
      continue;
    }
    std::vector<std::string> folders;
    std::string self = SelfExe();
    if (!self.empty()) folders.push_back(self.substr(0, self.rfind('/')));
    folders.push_back(".");
    if (const char* path = std::getenv("PATH")) {
      std::string p = path;
      for (size_t pos = 0; pos <= p.size();) {
        size_t end = p.find(':', pos);
        if (end == std::string::npos) end = p.size();
        if (end > pos) folders.push_back(p.substr(pos, end - pos));
        pos = end + 1;
      }
    }
    for (const std::string& folder : folders) {
      std::string candidate = folder + "/" + ToUtf8(n);
      if (IsRegularFile(candidate)) return candidate;
    }
  }
  return std::nullopt;
}

struct FoundProgram {
  std::string host;
  // Set when the program's name took in blanks of an unquoted command line: the text of
  // the name, and where the arguments begin.
  std::optional<std::wstring> spaced_name;
  size_t arguments_at = 0;
};

// Without an application name, an unquoted program path may contain blanks: Windows tries
// the text up to each blank in turn ("C:\Program", "C:\Program Files", ...) until a file
// exists.
std::optional<FoundProgram> FindProgramInCommandLine(std::wstring_view line) {
  size_t start = 0;
  while (start < line.size() && (line[start] == L' ' || line[start] == L'\t')) ++start;
  line.remove_prefix(start);
  if (!line.empty() && line[0] == L'"') {
    size_t close = line.find(L'"', 1);
    auto host = FindProgram(line.substr(1, close == std::wstring_view::npos ? std::wstring_view::npos : close - 1), true);
    if (!host) return std::nullopt;
    return FoundProgram{*host, std::nullopt, 0};
  }
  bool first_token = true;
  for (size_t pos = 0; pos <= line.size(); ++pos) {
    if (pos < line.size() && line[pos] != L' ' && line[pos] != L'\t') continue;
    if (pos == 0) continue;
    if (auto host = FindProgram(line.substr(0, pos), true)) {
      if (first_token) return FoundProgram{*host, std::nullopt, 0};
      return FoundProgram{*host, std::wstring(line.substr(0, pos)), start + pos};
    }
    first_token = false;
  }
  return std::nullopt;
}

bool IsInsideDriveC(const std::string& host) {
  char resolved[PATH_MAX];
  if (realpath(host.c_str(), resolved) == nullptr) return false;
  char root[PATH_MAX];
  if (realpath(DriveCRoot().c_str(), root) == nullptr) return false;
  std::string r = root;
  return std::strncmp(resolved, r.c_str(), r.size()) == 0 && (resolved[r.size()] == '/' || resolved[r.size()] == '\0');
}

bool IsDrivePath(std::wstring_view s) {
  return s.size() >= 3 && ((s[0] | 0x20) >= L'a' && (s[0] | 0x20) <= L'z') && s[1] == L':' &&
         (s[2] == L'\\' || s[2] == L'/');
}

struct SpawnRequest {
  std::optional<std::wstring> application_name;
  std::wstring command_line;
  std::optional<std::wstring> current_directory;
  bool hidden = false;
};

struct SpawnedChild {
  std::shared_ptr<Child> child;
  pid_t pid = 0;
};

}  // namespace

std::wstring MapArgumentForHost(std::wstring_view arg) {
  // A switch that carries a path ("-oC:\dir") keeps its switch letters.
  size_t at = 0;
  if (!arg.empty() && arg[0] == L'-') {
    at = 1;
    while (at < arg.size() && at < 8 && !IsDrivePath(arg.substr(at)) &&
           (((arg[at] | 0x20) >= L'a' && (arg[at] | 0x20) <= L'z') || arg[at] == L'-')) {
      ++at;
    }
  }
  if (!IsDrivePath(arg.substr(at))) return std::wstring(arg);
  auto host = ToHostPath(arg.substr(at));
  if (!host.ok()) return std::wstring(arg);
  return std::wstring(arg.substr(0, at)) + FromUtf8(*host);
}

namespace {

Result<SpawnedChild> SpawnProgram(const SpawnRequest& request) {
  std::optional<std::string> program;
  std::vector<std::wstring> args;
  if (request.application_name) {
    program = FindProgram(*request.application_name, false);
    args = request.command_line.empty() ? std::vector<std::wstring>{*request.application_name}
                                        : SplitCommandLine(request.command_line);
  } else if (auto found = FindProgramInCommandLine(request.command_line)) {
    program = found->host;
    if (found->spaced_name) {
      // Splitting at the name's blanks, as the child's own run-time would on Windows, would
      // hand it pieces of its own path as arguments; it gets its name whole instead.
      args = SplitCommandLine(L"x " + request.command_line.substr(found->arguments_at));
      args[0] = *found->spaced_name;
    } else {
      args = SplitCommandLine(request.command_line);
    }
  }
  if (!program) return Win32Error(ERROR_FILE_NOT_FOUND);

  // A host program (outside drive C, like the archiver) cannot map Windows paths itself.
  if (!IsInsideDriveC(*program)) {
    for (size_t i = 1; i < args.size(); ++i) args[i] = MapArgumentForHost(args[i]);
  }
  std::vector<std::string> utf8_args;
  utf8_args.reserve(args.size());
  for (const std::wstring& a : args) utf8_args.push_back(ToUtf8(a));
  std::vector<char*> argv;
  for (std::string& a : utf8_args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::unique_ptr<posix_spawn_file_actions_t, int (*)(posix_spawn_file_actions_t*)> actions_guard(
      &actions, posix_spawn_file_actions_destroy);
  std::string folder;
  if (request.current_directory) {
    auto host = ToHostPath(*request.current_directory);
    if (!host.ok()) return host.error();
    folder = *host;
    if (!IsFolder(folder)) return Win32Error(kErrorDirectory);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  }
  if (request.hidden) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  // Whatever a descriptor's flags, the child gets only its standard streams: the layer's
  // lock-holding descriptors must never outlive their handles in a child.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  std::unique_ptr<posix_spawnattr_t, int (*)(posix_spawnattr_t*)> attr_guard(&attr, posix_spawnattr_destroy);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD, SIGUSR1, SIGUSR2, SIGALRM}) {
    sigaddset(&defaults, sig);
  }
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = 0;
  int err = posix_spawn(&pid, program->c_str(), &actions, &attr, argv.data(), environ);
  if (err != 0) return ErrnoError(err);
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) {
    int e = errno;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return ErrnoError(e);
  }
  SpawnedChild spawned;
  spawned.child = std::make_shared<Child>(pid, pidfd);
  spawned.pid = pid;
  return spawned;
}

}  // namespace
}  // namespace pal

// ---- The Win32 face ------------------------------------------------------------------------

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment,
                           LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  if (lpStartupInfo == nullptr || lpProcessInformation == nullptr ||
      (lpApplicationName == nullptr && (lpCommandLine == nullptr || lpCommandLine[0] == L'\0'))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (dwCreationFlags & CREATE_SUSPENDED) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  pal::SpawnRequest request;
  if (lpApplicationName != nullptr) request.application_name = std::wstring(lpApplicationName);
  if (lpCommandLine != nullptr) request.command_line = lpCommandLine;
  if (lpCurrentDirectory != nullptr) request.current_directory = std::wstring(lpCurrentDirectory);
  request.hidden = (dwCreationFlags & CREATE_NO_WINDOW) != 0 ||
                   ((lpStartupInfo->dwFlags & STARTF_USESHOWWINDOW) != 0 && lpStartupInfo->wShowWindow == SW_HIDE);
  auto spawned = pal::SpawnProgram(request);
  if (!spawned.ok()) return pal::Fail(spawned.error(), FALSE);
  lpProcessInformation->hProcess = pal::IssueHandle(std::make_unique<pal::ProcessObject>(spawned->child));
  lpProcessInformation->hThread = pal::IssueHandle(std::make_unique<pal::ThreadObject>(spawned->child));
  lpProcessInformation->dwProcessId = static_cast<DWORD>(spawned->pid);
  // A child's main thread id is its process id.
  lpProcessInformation->dwThreadId = static_cast<DWORD>(spawned->pid);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

namespace {

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

}  // namespace

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  if (lpExitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (hProcess == kCurrentProcess) {
    *lpExitCode = STILL_ACTIVE;
    return TRUE;
  }
  auto process = pal::LookupHandleAs<pal::ProcessObject>(hProcess, pal::HandleKind::kProcess);
  if (process == nullptr) return FALSE;
  *lpExitCode = process->child().ExitCode();
  return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
  if (hProcess == kCurrentProcess) ExitProcess(uExitCode);
  auto process = pal::LookupHandleAs<pal::ProcessObject>(hProcess, pal::HandleKind::kProcess);
  if (process == nullptr) return FALSE;
  if (!process->child().Terminate(uExitCode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

void WINAPI ExitProcess(UINT uExitCode) {
  // Streams are flushed as the run-time does at process end; static destructors do not run,
  // as they do not for ExitProcess on Windows (other threads may still use those objects).
  std::fflush(nullptr);
  _exit(static_cast<int>(uExitCode));
}

DWORD WINAPI GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

DWORD WINAPI GetProcessId(HANDLE Process) {
  if (Process == kCurrentProcess) return GetCurrentProcessId();
  auto process = pal::LookupHandleAs<pal::ProcessObject>(Process, pal::HandleKind::kProcess);
  return process == nullptr ? 0 : static_cast<DWORD>(process->child().pid());
}

HANDLE WINAPI GetCurrentProcess() { return kCurrentProcess; }
HANDLE WINAPI GetCurrentThread() { return kCurrentThread; }
DWORD WINAPI GetCurrentThreadId() { return static_cast<DWORD>(gettid()); }

namespace {

HANDLE CreateThreadImpl(SIZE_T stack_size, std::function<DWORD()> body, DWORD flags, DWORD* thread_id) {
  if (flags & CREATE_SUSPENDED) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto state = std::make_shared<pal::ThreadState>();
  pal::StartReport report;
  auto start = std::make_unique<pal::ThreadStart>(pal::ThreadStart{std::move(body), state, &report});
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  if (stack_size != 0) {
    pthread_attr_setstacksize(&attr, stack_size < static_cast<SIZE_T>(PTHREAD_STACK_MIN) ? static_cast<SIZE_T>(PTHREAD_STACK_MIN) : stack_size);
  }
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int err = pthread_create(&thread, &attr, pal::ThreadMain, start.get());
  pthread_attr_destroy(&attr);
  if (err != 0) return pal::Fail(pal::ErrnoError(err), static_cast<HANDLE>(nullptr));
  (void)start.release();  // the thread owns it now
  std::unique_lock lock(report.mutex);
  report.cv.wait(lock, [&] { return report.started; });
  pid_t tid = report.tid;
  lock.unlock();
  if (thread_id != nullptr) *thread_id = static_cast<DWORD>(tid);
  return pal::IssueHandle(std::make_unique<pal::ThreadObject>(state));
}

}  // namespace

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (lpStartAddress == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return CreateThreadImpl(dwStackSize, [=] { return lpStartAddress(lpParameter); }, dwCreationFlags, lpThreadId);
}

uintptr_t _beginthreadex(void* security, unsigned stack_size, unsigned(__stdcall* start_address)(void*),
                         void* arglist, unsigned initflag, unsigned* thrdaddr) {
  if (start_address == nullptr) {
    errno = EINVAL;
    return 0;
  }
  DWORD id = 0;
  HANDLE h = CreateThreadImpl(stack_size, [=] { return static_cast<DWORD>(start_address(arglist)); }, initflag, &id);
  if (h != nullptr && thrdaddr != nullptr) *thrdaddr = id;
  return reinterpret_cast<uintptr_t>(h);
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  if (lpExitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (hThread == kCurrentThread) {
    *lpExitCode = STILL_ACTIVE;
    return TRUE;
  }
  auto thread = pal::LookupHandleAs<pal::ThreadObject>(hThread, pal::HandleKind::kThread);
  if (thread == nullptr) return FALSE;
  *lpExitCode = thread->ExitCode();
  return TRUE;
}

void WINAPI ExitThread(DWORD dwExitCode) {
  if (pal::t_current_thread != nullptr) pal::t_current_thread->Finish(dwExitCode);
  pthread_exit(nullptr);
}

// ---- Command line, module, environment -----------------------------------------------------

LPWSTR WINAPI GetCommandLineW() {
  static std::once_flag once;
  static std::wstring* line = nullptr;
  std::call_once(once, [] {
    std::vector<std::wstring> args;
    FILE* f = std::fopen("/proc/self/cmdline", "rbe");
    if (f != nullptr) {
      std::string arg;
      for (int c; (c = std::fgetc(f)) != EOF;) {
        if (c == '\0') {
          args.push_back(pal::FromUtf8(arg));
          arg.clear();
        } else {
          arg.push_back(static_cast<char>(c));
        }
      }
      std::fclose(f);
    }
    // Leaked on purpose: the pointer stays valid for the whole process, as on Windows.
    line = new std::wstring(pal::JoinCommandLine(args));
  });
  return line->data();
}

LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs) {
  if (pNumArgs == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::vector<std::wstring> args;
  if (lpCmdLine == nullptr || lpCmdLine[0] == L'\0') {
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    args.emplace_back(path, n);
  } else {
    args = pal::SplitCommandLine(lpCmdLine);
  }
  size_t chars = 0;
  for (const std::wstring& a : args) chars += a.size() + 1;
  size_t table = (args.size() + 1) * sizeof(LPWSTR);
  auto block = static_cast<char*>(std::malloc(table + chars * sizeof(wchar_t)));
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto argv = reinterpret_cast<LPWSTR*>(block);
  auto text = reinterpret_cast<wchar_t*>(block + table);
  for (size_t i = 0; i < args.size(); ++i) {
    argv[i] = text;
    std::wmemcpy(text, args[i].c_str(), args[i].size() + 1);
    text += args[i].size() + 1;
  }
  argv[args.size()] = nullptr;
  *pNumArgs = static_cast<int>(args.size());
  return argv;
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  void* p = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes == 0 ? 1 : uBytes) : std::malloc(uBytes == 0 ? 1 : uBytes);
  if (p == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return p;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

namespace {

HMODULE MainModule() {
  static HMODULE main = static_cast<HMODULE>(dlopen(nullptr, RTLD_NOW));
  return main;
}

std::optional<std::wstring> ModulePath(HMODULE module) {
  if (module != nullptr && module != MainModule()) return std::nullopt;
  std::string self = pal::SelfExe();
  if (self.empty()) return std::nullopt;
  return pal::ToWindowsPath(self);
}

}  // namespace

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
  if (lpModuleName == nullptr) return MainModule();
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  auto path = ModulePath(hModule);
  if (!path) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (nSize == 0 || lpFilename == nullptr) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path->size() >= nSize) {
    std::wmemcpy(lpFilename, path->c_str(), nSize - 1);
    lpFilename[nSize - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::wmemcpy(lpFilename, path->c_str(), path->size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path->size());
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  auto path = ModulePath(hModule);
  if (!path) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (nSize == 0 || lpFilename == nullptr) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::string ansi = pal::AnsiFromWide(*path);
  if (ansi.size() >= nSize) {
    std::memcpy(lpFilename, ansi.c_str(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, ansi.c_str(), ansi.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(ansi.size());
}

namespace {
std::mutex g_environment_mutex;
}  // namespace

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) {
  if (lpName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::wstring value;
  {
    std::lock_guard lock(g_environment_mutex);
    const char* v = std::getenv(pal::ToUtf8(lpName).c_str());
    if (v == nullptr) {
      SetLastError(ERROR_ENVVAR_NOT_FOUND);
      return 0;
    }
    value = pal::FromUtf8(v);
  }
  if (lpBuffer == nullptr || value.size() >= nSize) return static_cast<DWORD>(value.size() + 1);
  std::wmemcpy(lpBuffer, value.c_str(), value.size() + 1);
  if (value.empty()) SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(value.size());
}

BOOL WINAPI SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue) {
  if (lpName == nullptr || lpName[0] == L'\0' || std::wcschr(lpName, L'=') != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(g_environment_mutex);
  std::string name = pal::ToUtf8(lpName);
  int r = lpValue == nullptr ? unsetenv(name.c_str()) : setenv(name.c_str(), pal::ToUtf8(lpValue).c_str(), 1);
  if (r != 0) return pal::Fail(pal::ErrnoError(), FALSE);
  return TRUE;
}
