// Console control events from signals. The signal handler only writes the signal number
// into a pipe; a thread of its own reads it and calls the handlers, so they may do anything
// (close files, take locks) that a signal handler may not.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
  int pipe_read = -1;
  int pipe_write = -1;
};

Console& GetConsole() {
  // Leaked on purpose: the dispatcher thread may run while static destructors do.
  static Console* console = new Console;
  return *console;
}

int g_pipe_write = -1;  // read by the signal handler

DWORD EventOf(int sig) {
  switch (sig) {
    case SIGINT: return CTRL_C_EVENT;
    case SIGHUP: return CTRL_CLOSE_EVENT;
    default: return CTRL_SHUTDOWN_EVENT;
  }
}

void OnSignal(int sig) {
  int saved = errno;
  unsigned char b = static_cast<unsigned char>(sig);
  (void)!write(g_pipe_write, &b, 1);
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

void* DispatcherMain(void*) {
  Console& console = GetConsole();
  for (;;) {
    unsigned char b = 0;
    ssize_t n = read(console.pipe_read, &b, 1);
    if (n == 1) {
      Dispatch(b);
    } else if (n < 0 && errno != EINTR) {
      return nullptr;
    }
  }
}

// Called with the console mutex held.
bool StartDispatcher(Console& console) {
  if (console.started) return true;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  console.pipe_read = fds[0];
  console.pipe_write = fds[1];
  g_pipe_write = fds[1];
  pthread_t thread;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  // The dispatcher must never take a signal itself: it may be blocked in a handler.
  sigset_t all;
  sigset_t old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  int err = pthread_create(&thread, &attr, DispatcherMain, nullptr);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  pthread_attr_destroy(&attr);
  if (err != 0) return false;
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
