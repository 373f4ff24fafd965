// Processes, threads and console control events, with real child processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <cstdio>
#include <string>
#include <vector>

#include "machine.h"
#include "pal_testing.h"
#include "process_internal.h"

namespace {

using pal_testing::ChildSay;

std::wstring SelfPath() {
  wchar_t buf[4096];
  DWORD n = GetModuleFileNameW(nullptr, buf, 4096);
  return std::wstring(buf, n);
}

std::wstring ChildLine(const std::wstring& name, const std::wstring& args = L"") {
  return L"\"" + SelfPath() + L"\" --pal-child " + name + (args.empty() ? L"" : L" " + args);
}

struct Started {
  BOOL ok = FALSE;
  DWORD error = 0;
  PROCESS_INFORMATION pi{};
};

Started Start(std::wstring line, DWORD flags = 0, const wchar_t* folder = nullptr, STARTUPINFOW si = {}) {
  si.cb = sizeof si;
  Started s;
  SetLastError(0);
  s.ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, folder, &si, &s.pi);
  s.error = GetLastError();
  return s;
}

DWORD WaitAndGetCode(const PROCESS_INFORMATION& pi) {
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

PAL_CHILD(exit_with) { ExitProcess(static_cast<UINT>(std::stol(args.at(0)))); }

PAL_CHILD(sleep_forever) {
  for (;;) Sleep(1000);
}

// Writes its arguments and current folder, one per line, into the host file args[0].
PAL_CHILD(record_args) {
  std::string out;
  for (size_t i = 1; i < args.size(); ++i) out += args[i] + "\n";
  char cwd[4096] = {};
  out += std::string("cwd=") + (getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?") + "\n";
  pal_testing::WriteFile(args.at(0), out);
  return 0;
}

PAL_CHILD(print_visible) {
  std::printf("visible\n");
  std::fprintf(stderr, "visible-err\n");
  return 0;
}

// Starts print_visible the way args[0] says and waits for it.
PAL_CHILD(spawn_printer) {
  STARTUPINFOW si{};
  DWORD flags = 0;
  if (args.at(0) == "no_window") flags = CREATE_NO_WINDOW;
  if (args.at(0) == "sw_hide") {
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
  }
  std::fflush(stdout);
  Started s = Start(ChildLine(L"print_visible"), flags, nullptr, si);
  if (!s.ok) return 90;
  return static_cast<int>(WaitAndGetCode(s.pi));
}

TEST(Process, ExitCodeIsTheWindowsCodeModulo256) {
  // -99 as a Windows code is 0xFFFFFF9D; a Linux parent sees its low byte.
  Started s = Start(ChildLine(L"exit_with", L"-99"));
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_NE(s.pi.dwProcessId, 0u);
  EXPECT_EQ(WaitAndGetCode(s.pi), 157u);

  auto host = pal::ToHostPath(SelfPath());
  ASSERT_TRUE(host.ok());
  for (auto [code, want] : {std::pair{"-99", 157}, {"-1", 255}, {"-1999", 49}, {"7", 7}}) {
    EXPECT_EQ(pal_testing::RunProgram({*host, "--pal-child", "exit_with", code}), want) << code;
  }
}

TEST(Process, RunningChildIsStillActiveUntilTerminated) {
  Started s = Start(ChildLine(L"sleep_forever"));
  ASSERT_TRUE(s.ok) << s.error;
  DWORD code = 0;
  EXPECT_EQ(WaitForSingleObject(s.pi.hProcess, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(GetExitCodeProcess(s.pi.hProcess, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  // The thread handle is waitable too, and ends with the process.
  EXPECT_EQ(WaitForSingleObject(s.pi.hThread, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(TerminateProcess(s.pi.hProcess, 3));
  EXPECT_EQ(WaitForSingleObject(s.pi.hThread, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitAndGetCode(s.pi), 3u);
}

TEST(Process, ChildGetsParsedArgumentsAndFolder) {
  pal_testing::ScopedMachineRoot root;
  std::string out = root.path() + "/args.txt";
  mkdir((root.drive_c() + "/work dir").c_str(), 0777);
  // The test binary lies outside drive C, so it is a host program: Windows paths among its
  // arguments reach it as host paths, switches with a glued path included.
  Started s = Start(ChildLine(L"record_args", pal::FromUtf8(out) + LR"( "two words" a\"b "" C:\x\y.txt -oC:\out plain)"),
                    0, L"C:\\work dir");
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_EQ(WaitAndGetCode(s.pi), 0u);
  EXPECT_EQ(pal_testing::ReadFile(out), "two words\na\"b\n\n" + root.drive_c() + "/x/y.txt\n-o" + root.drive_c() +
                                            "/out\nplain\ncwd=" + root.drive_c() + "/work dir\n");
}

TEST(Process, ArgumentMappingForHostPrograms) {
  pal_testing::ScopedMachineRoot root;
  struct Case {
    std::wstring in;
    std::string want;
  };
  const Case kCases[] = {
      {LR"(C:\a\b.zip)", root.drive_c() + "/a/b.zip"},
      {LR"(Z:\usr\bin)", "/usr/bin"},
      {LR"(-oC:\out dir)", "-o" + root.drive_c() + "/out dir"},
      {L"-tzip", "-tzip"},
      {L"a", "a"},
      {LR"(relative\path)", "relative\\path"},
      {LR"(Q:\other)", "Q:\\other"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(pal::ToUtf8(pal::MapArgumentForHost(c.in)), c.want) << pal::ToUtf8(c.in);
  }
}

TEST(Process, ProgramLookupLikeWindows) {
  pal_testing::ScopedMachineRoot root;
  auto self = pal::ToHostPath(SelfPath());
  ASSERT_TRUE(self.ok());
  std::string folder = root.drive_c() + "/Program Files (x86)/Tool Dir";
  std::filesystem::create_directories(folder);
  ASSERT_EQ(symlink(self->c_str(), (folder + "/tool.exe").c_str()), 0);

  struct Case {
    const char* name;
    std::wstring line;
    BOOL ok;
    DWORD want;  // exit code or error
  };
  const Case kCases[] = {
      {"unquoted_path_with_blanks", LR"(C:\Program Files (x86)\Tool Dir\tool.exe --pal-child exit_with 11)", TRUE, 11},
      {"extension_added", LR"("C:\Program Files (x86)\Tool Dir\tool" --pal-child exit_with 12)", TRUE, 12},
      {"forward_slashes", LR"("C:/Program Files (x86)/Tool Dir/tool.exe" --pal-child exit_with 13)", TRUE, 13},
      {"missing_program", LR"(C:\Program Files (x86)\Tool Dir\none.exe)", FALSE, ERROR_FILE_NOT_FOUND},
      {"missing_folder", LR"("C:\nowhere\x.exe")", FALSE, ERROR_FILE_NOT_FOUND},
      {"other_drive", LR"(Q:\x.exe)", FALSE, ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Started s = Start(c.line);
    ASSERT_EQ(s.ok, c.ok) << s.error;
    if (c.ok) {
      EXPECT_EQ(WaitAndGetCode(s.pi), c.want);
    } else {
      EXPECT_EQ(s.error, c.want);
      EXPECT_EQ(s.pi.hProcess, nullptr);
    }
  }

  // A bad current folder fails before anything starts.
  Started bad = Start(ChildLine(L"exit_with", L"0"), 0, L"C:\\no such folder");
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(bad.error, 267u);  // ERROR_DIRECTORY
}

TEST(Process, HiddenChildOutputGoesNowhere) {
  auto self = pal::ToHostPath(SelfPath());
  ASSERT_TRUE(self.ok());
  struct Case {
    const char* mode;
    bool visible;
  };
  for (const Case& c : {Case{"shown", true}, Case{"no_window", false}, Case{"sw_hide", false}}) {
    SCOPED_TRACE(c.mode);
    std::string output;
    EXPECT_EQ(pal_testing::RunProgram({*self, "--pal-child", "spawn_printer", c.mode}, &output), 0);
    EXPECT_EQ(output.find("visible") != std::string::npos, c.visible) << output;
    EXPECT_EQ(output.find("visible-err") != std::string::npos, c.visible) << output;
  }
}

TEST(Process, ChildDoesNotInheritDescriptors) {
  pal_testing::ScopedMachineRoot root;
  std::string out = root.path() + "/fds.txt";
  int fd = ::open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(fd, 3);
  Started s = Start(L"/bin/sh -c \"ls /proc/self/fd > " + pal::FromUtf8(out) + L"\"");
  ::close(fd);
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_EQ(WaitAndGetCode(s.pi), 0u);
  // Only the standard streams (and the descriptor ls itself opens to list the folder).
  std::string listing = pal_testing::ReadFile(out);
  int count = 0;
  for (char ch : listing) count += ch == '\n';
  EXPECT_EQ(count, 4) << listing;
}

DWORD WINAPI ReturnParameter(LPVOID p) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(p)); }

std::atomic<DWORD> g_reported_tid{0};
HANDLE g_release = nullptr;

DWORD WINAPI ReportAndExitEarly(LPVOID) {
  g_reported_tid = GetCurrentThreadId();
  WaitForSingleObject(g_release, INFINITE);
  ExitThread(42);
}

unsigned __stdcall RunTimeThread(void* p) { return *static_cast<unsigned*>(p) + 1; }

TEST(Thread, HandlesAreWaitableAndCarryTheExitCode) {
  HANDLE h = CreateThread(nullptr, 0, ReturnParameter, reinterpret_cast<LPVOID>(uintptr_t{77}), 0, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(WaitForSingleObject(h, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(h, &code));
  EXPECT_EQ(code, 77u);
  EXPECT_TRUE(CloseHandle(h));

  g_release = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(g_release, nullptr);
  DWORD id = 0;
  h = CreateThread(nullptr, 256 * 1024, ReportAndExitEarly, nullptr, 0, &id);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(WaitForSingleObject(h, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(GetExitCodeThread(h, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(id, g_reported_tid.load());
  EXPECT_NE(id, GetCurrentThreadId());
  SetEvent(g_release);
  EXPECT_EQ(WaitForSingleObject(h, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(GetExitCodeThread(h, &code));
  EXPECT_EQ(code, 42u);
  CloseHandle(h);
  CloseHandle(g_release);

  unsigned value = 9;
  unsigned tid = 0;
  auto rt = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RunTimeThread, &value, 0, &tid));
  ASSERT_NE(rt, nullptr);
  EXPECT_NE(tid, 0u);
  EXPECT_EQ(WaitForSingleObject(rt, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(GetExitCodeThread(rt, &code));
  EXPECT_EQ(code, 10u);
  CloseHandle(rt);
}

DWORD g_main_tid = 0;
BOOL g_answer = FALSE;

BOOL WINAPI FirstHandler(DWORD event) {
  ChildSay("first " + std::to_string(event) + " " + (GetCurrentThreadId() != g_main_tid ? "other" : "main"));
  return g_answer;
}
BOOL WINAPI SecondHandler(DWORD event) {
  ChildSay("second " + std::to_string(event) + " " + (GetCurrentThreadId() != g_main_tid ? "other" : "main"));
  return FALSE;
}

// Registers both handlers; args[0] says what the first one answers.
PAL_CHILD(console_handlers) {
  g_main_tid = GetCurrentThreadId();
  g_answer = args.at(0) == "true" ? TRUE : FALSE;
  SetConsoleCtrlHandler(FirstHandler, TRUE);
  SetConsoleCtrlHandler(SecondHandler, TRUE);
  ChildSay("ready");
  for (;;) {
    if (pal_testing::ChildAwait() == "ping") ChildSay("pong");
  }
}

TEST(Console, SignalsRunHandlersLastFirstOnTheirOwnThread) {
  struct Case {
    const char* name;
    const char* answer;
    int signal;
    int event;
    bool survives;
  };
  const Case kCases[] = {
      {"term_all_false_ends", "false", SIGTERM, CTRL_SHUTDOWN_EVENT, false},
      {"hup_is_close", "false", SIGHUP, CTRL_CLOSE_EVENT, false},
      {"int_handled_goes_on", "true", SIGINT, CTRL_C_EVENT, true},
      {"term_handled_still_ends", "true", SIGTERM, CTRL_SHUTDOWN_EVENT, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    pal_testing::Child child("console_handlers", {c.answer});
    ASSERT_EQ(child.ReadLine(), "ready");
    child.Kill(c.signal);
    std::string ev = std::to_string(c.event);
    EXPECT_EQ(child.ReadLine(), "second " + ev + " other");
    EXPECT_EQ(child.ReadLine(), "first " + ev + " other");
    if (c.survives) {
      child.Signal("ping");
      EXPECT_EQ(child.ReadLine(), "pong");
      child.Kill(SIGKILL);
    } else {
      EXPECT_EQ(child.Wait(), 128 + c.signal);
    }
  }
}

TEST(Console, RemovingHandlers) {
  EXPECT_FALSE(SetConsoleCtrlHandler(FirstHandler, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Module, FileNameIsTheWindowsPathOfTheProgram) {
  char host[4096];
  ssize_t n = readlink("/proc/self/exe", host, sizeof host);
  ASSERT_GT(n, 0);
  std::wstring want = pal::ToWindowsPath(std::string(host, n));
  EXPECT_EQ(SelfPath(), want);
  EXPECT_EQ(want.rfind(L"Z:\\", 0), 0u);

  wchar_t small[6];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 6), 6u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::wstring(small), want.substr(0, 5));

  char narrow[4096];
  EXPECT_EQ(GetModuleFileNameA(GetModuleHandleW(nullptr), narrow, sizeof narrow), want.size());
  EXPECT_EQ(pal::FromUtf8(narrow), want);
  EXPECT_EQ(GetModuleFileNameW(reinterpret_cast<HMODULE>(0x1234), small, 6), 0u);
}

TEST(Environment, SizeProtocol) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"PAL_TEST_VAR", L"value\u00e9"));
  wchar_t buf[16];
  EXPECT_EQ(GetEnvironmentVariableW(L"PAL_TEST_VAR", buf, 16), 6u);
  EXPECT_STREQ(buf, L"value\u00e9");
  EXPECT_EQ(GetEnvironmentVariableW(L"PAL_TEST_VAR", buf, 6), 7u);  // needed, with terminator
  ASSERT_TRUE(SetEnvironmentVariableW(L"PAL_TEST_VAR", nullptr));
  SetLastError(0);
  EXPECT_EQ(GetEnvironmentVariableW(L"PAL_TEST_VAR", buf, 16), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
}

TEST(Process, CurrentIds) {
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
  EXPECT_EQ(GetCurrentThreadId(), static_cast<DWORD>(gettid()));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(GetCurrentProcess(), &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
}

}  // namespace

namespace {

// An installed program (inside drive C) maps its own paths: its arguments arrive as given,
// wide, and it knows its Windows path.
TEST(Process, ProgramOnDriveCGetsWideArgumentsUnchanged) {
  pal_testing::ScopedMachineRoot root;
  std::string probe = pal_testing::BuildDir() + "/Platform/pal_main_probe";
  std::filesystem::create_directories(root.drive_c() + "/bin");
  std::filesystem::create_directories(root.drive_c() + "/out");
  std::filesystem::copy_file(probe, root.drive_c() + "/bin/probe.exe");
  std::filesystem::permissions(root.drive_c() + "/bin/probe.exe", std::filesystem::perms::owner_all);

  Started s = Start(LR"(C:\bin\probe C:\x "a b" )" L"\u20AC", 0, L"C:\\out");
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_EQ(WaitAndGetCode(s.pi), 4u);
  EXPECT_EQ(pal_testing::ReadFile(root.drive_c() + "/out/probe.txt"),
            "arg 0 12 C:\\bin\\probe\n"
            "arg 1 4 C:\\x\n"
            "arg 2 3 a b\n"
            "arg 3 1 \x80\n"
            "module C:\\bin\\probe.exe\n"
            "command C:\\bin\\probe C:\\x \"a b\" \x80\n");
}

}  // namespace
