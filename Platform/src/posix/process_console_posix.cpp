// Console control events from signals. The signals are taken by a thread of their own with
// sigwaitinfo, which then calls the handlers, so they may do anything (close files, take
// locks) that a signal handler may not. The thread that installs the first handler, and the
// threads it starts afterwards, keep the signals blocked, so that no other thread's system
// call is ever interrupted; should a thread that does not block them receive one, a small
// handler passes it on to the signal thread.
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "pal/errors.h"
#include "pal/process.h"

namespace pal {
namespace {

struct Console {
  std::mutex mutex;
  std::vector<PHANDLER_ROUTINE> handlers;  // in registration order
  bool ignore_ctrl_c = false;
  bool started = false;
};

Console& GetConsole() {
  // Leaked on purpose: the dispatcher thread may run while static destructors do.
  static Console* console = new Console;
  return *console;
}

std::atomic<pid_t> g_signal_thread{0};  // read by the signal handler

sigset_t ConsoleSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGTERM);
  return set;
}

DWORD EventOf(int sig) {
  switch (sig) {
    case SIGINT: return CTRL_C_EVENT;
    case SIGHUP: return CTRL_CLOSE_EVENT;
    default: return CTRL_SHUTDOWN_EVENT;
  }
}

void OnSignal(int sig) {
  int saved = errno;
  syscall(SYS_tgkill, getpid(), g_signal_thread.load(), sig);
  errno = saved;
}

// Ends the process the way the signal's default action does, so the parent sees it.
[[noreturn]] void EndBySignal(int sig) {
  std::fflush(nullptr);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(sig, &dfl, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  kill(getpid(), sig);
  // Not reached unless the signal is blocked elsewhere in a way we cannot undo.
  _exit(128 + sig);
}

void Dispatch(int sig) {
  Console& console = GetConsole();
  const DWORD event = EventOf(sig);
  std::vector<PHANDLER_ROUTINE> handlers;
  {
    std::lock_guard lock(console.mutex);
    if (event == CTRL_C_EVENT && console.ignore_ctrl_c) return;
    handlers = console.handlers;
  }
  bool handled = false;
  for (auto it = handlers.rbegin(); it != handlers.rend() && !handled; ++it) handled = (*it)(event) != FALSE;
  // Ctrl+C handled: the process goes on. Close and shut-down end the process after the
  // handlers, whatever they return, as Windows does.
  if (handled && event == CTRL_C_EVENT) return;
  EndBySignal(sig);
}

struct DispatcherStart {
  std::mutex mutex;
  std::condition_variable cv;
  pid_t tid = 0;
};

void* DispatcherMain(void* arg) {
  {
    auto* start = static_cast<DispatcherStart*>(arg);
    std::lock_guard lock(start->mutex);
    start->tid = gettid();
    start->cv.notify_all();
  }
  const sigset_t set = ConsoleSignals();
  for (;;) {
    int sig = sigwaitinfo(&set, nullptr);
    if (sig > 0) Dispatch(sig);
  }
}

// Called with the console mutex held.
bool StartDispatcher(Console& console) {
  if (console.started) return true;
  const sigset_t set = ConsoleSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  pthread_t thread;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  // The signal thread takes nothing but the signals it waits for.
  sigset_t all;
  sigset_t old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  DispatcherStart start;
  int err = pthread_create(&thread, &attr, DispatcherMain, &start);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  pthread_attr_destroy(&attr);
  if (err != 0) return false;
  {
    std::unique_lock lock(start.mutex);
    start.cv.wait(lock, [&] { return start.tid != 0; });
    g_signal_thread = start.tid;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGHUP, SIGTERM}) sigaction(sig, &sa, nullptr);
  console.started = true;
  return true;
}

}  // namespace
}  // namespace pal

BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add) {
  pal::Console& console = pal::GetConsole();
  std::lock_guard lock(console.mutex);
  if (HandlerRoutine == nullptr) {
    console.ignore_ctrl_c = Add != FALSE;
  } else if (Add) {
    console.handlers.push_back(HandlerRoutine);
  } else {
    auto it = std::find(console.handlers.rbegin(), console.handlers.rend(), HandlerRoutine);
    if (it == console.handlers.rend()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    console.handlers.erase(std::next(it).base());
  }
  if (!pal::StartDispatcher(console)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}
