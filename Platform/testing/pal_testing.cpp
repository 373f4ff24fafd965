#include "pal_testing.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace pal_testing {
namespace {

std::map<std::string, ChildFn>& Children() {
  static auto* children = new std::map<std::string, ChildFn>;
  return *children;
}

std::string SelfExe() {
  return std::filesystem::read_symlink("/proc/self/exe").string();
}

}  // namespace

bool RegisterChild(const std::string& name, ChildFn fn) {
  Children()[name] = std::move(fn);
  return true;
}

bool MaybeRunChild(int argc, char** argv, int* exit_code) {
  if (argc < 3 || std::strcmp(argv[1], "--pal-child") != 0) return false;
  auto it = Children().find(argv[2]);
  if (it == Children().end()) {
    std::cerr << "unknown child " << argv[2] << "\n";
    *exit_code = 99;
    return true;
  }
  std::vector<std::string> args(argv + 3, argv + argc);
  *exit_code = it->second(args);
  return true;
}

ScopedMachineRoot::ScopedMachineRoot() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/palroot.XXXXXX";
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
  std::filesystem::create_directories(path_ + "/drive_c");
  if (const char* prev = std::getenv("PAL_ROOT")) {
    had_previous_ = true;
    previous_ = prev;
  }
  setenv("PAL_ROOT", path_.c_str(), 1);
}

ScopedMachineRoot::~ScopedMachineRoot() {
  if (had_previous_) {
    setenv("PAL_ROOT", previous_.c_str(), 1);
  } else {
    unsetenv("PAL_ROOT");
  }
  if (std::getenv("PAL_KEEP_ROOT") == nullptr) {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
}

Child::Child(const std::string& name, const std::vector<std::string>& args) {
  int in_pipe[2];
  int out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::string exe = SelfExe();
  std::vector<std::string> argv_strings = {exe, "--pal-child", name};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    std::vector<char*> argv;
    for (auto& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  to_child_ = in_pipe[1];
  from_child_ = out_pipe[0];
}

Child::~Child() {
  if (!reaped_) {
    kill(pid_, SIGKILL);
    Wait();
  }
  if (to_child_ >= 0) close(to_child_);
  if (from_child_ >= 0) close(from_child_);
}

std::string Child::ReadLine(int timeout_ms) {
  for (;;) {
    size_t nl = pending_.find('\n');
    if (nl != std::string::npos) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return line;
    }
    pollfd pfd{from_child_, POLLIN, 0};
    int r = poll(&pfd, 1, timeout_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return "";
    char buf[4096];
    ssize_t n = read(from_child_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::string rest = pending_;
      pending_.clear();
      return rest;
    }
    pending_.append(buf, static_cast<size_t>(n));
  }
}

void Child::Signal(const std::string& line) {
  std::string data = line + "\n";
  ssize_t ignored = write(to_child_, data.data(), data.size());
  (void)ignored;
}

void Child::Kill(int signal) { kill(pid_, signal); }

int Child::Wait() {
  if (reaped_) return status_;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return status_;
}

int RunProgram(const std::vector<std::string>& argv_strings, std::string* output,
               const std::string& cwd) {
  int out_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(out_pipe[1], 1);
    dup2(out_pipe[1], 2);
    std::vector<char*> argv;
    std::vector<std::string> copy = argv_strings;
    for (auto& s : copy) argv.push_back(s.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  std::string collected;
  char buf[4096];
  for (;;) {
    ssize_t n = read(out_pipe[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    collected.append(buf, static_cast<size_t>(n));
  }
  close(out_pipe[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (output != nullptr) *output = collected;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

void ChildSay(const std::string& line) {
  std::string data = line + "\n";
  ssize_t ignored = write(1, data.data(), data.size());
  (void)ignored;
}

std::string ChildAwait() {
  std::string line;
  char c;
  for (;;) {
    ssize_t n = read(0, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') break;
    line += c;
  }
  return line;
}

std::string BuildDir() {
  if (const char* env = std::getenv("TQ_BUILD_DIR")) return env;
  return TQ_DEFAULT_BUILD_DIR;
}

}  // namespace pal_testing
