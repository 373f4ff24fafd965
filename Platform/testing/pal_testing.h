// Test support shared by every test binary: a fresh machine root per test, and children
// started from the test binary itself (cross-process behaviour is tested in real processes).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace pal_testing {

// Registers a child entry point: `TEST_BINARY --pal-child NAME ARGS...` runs `fn(ARGS)`
// and exits with its result instead of running tests.
using ChildFn = std::function<int(const std::vector<std::string>& args)>;
bool RegisterChild(const std::string& name, ChildFn fn);
#define PAL_CHILD(name)                                                              \
  static int PalChild_##name(const std::vector<std::string>& args);                 \
  [[maybe_unused]] static const bool pal_child_registered_##name =                   \
      ::pal_testing::RegisterChild(#name, PalChild_##name);                          \
  static int PalChild_##name([[maybe_unused]] const std::vector<std::string>& args)

// Runs a registered child when argv asks for one; returns true (and sets *exit_code) if so.
bool MaybeRunChild(int argc, char** argv, int* exit_code);

// A fresh, empty machine root for one test: sets PAL_ROOT for this process (and so for
// its children), creates drive_c, and removes the whole tree at the end.
class ScopedMachineRoot {
 public:
  ScopedMachineRoot();
  ~ScopedMachineRoot();
  ScopedMachineRoot(const ScopedMachineRoot&) = delete;
  ScopedMachineRoot& operator=(const ScopedMachineRoot&) = delete;
  const std::string& path() const { return path_; }
  std::string drive_c() const { return path_ + "/drive_c"; }

 private:
  std::string path_;
  std::string previous_;
  bool had_previous_ = false;
};

// A child process running a registered child entry of this binary. Its standard input is a
// pipe the parent writes to (Signal); its standard output a pipe the parent reads lines
// from (ReadLine), so parent and child synchronise without sleeps.
class Child {
 public:
  Child(const std::string& name, const std::vector<std::string>& args = {});
  ~Child();  // kills the child if still running
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  // Reads one line the child wrote to its standard output (without the line feed); empty
  // on end of file. Gives up after `timeout_ms`.
  std::string ReadLine(int timeout_ms = 30000);
  // Writes one line to the child's standard input.
  void Signal(const std::string& line = "go");
  void Kill(int signal = 9);
  // Waits for the child's end; returns its exit status (0-255) or 128 + signal number.
  int Wait();

 private:
  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  std::string pending_;
  bool reaped_ = false;
  int status_ = 0;
};

// Runs a program and waits for it; returns its exit status (or 128 + signal).
// `output`, when given, receives standard output and standard error together.
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr,
               const std::string& cwd = "");

// Reads a whole file into a string (empty if missing).
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// Child-side helpers: announce on standard output, wait for a line on standard input.
void ChildSay(const std::string& line);
std::string ChildAwait();

// Folder of the running test binary's build tree programs (CMAKE_BINARY_DIR), from the
// TQ_BUILD_DIR environment variable or the compile-time default.
std::string BuildDir();

}  // namespace pal_testing
