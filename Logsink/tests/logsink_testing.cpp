#include "logsink_testing.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "LogChannel.h"
#include "pal_testing.h"

namespace fs = std::filesystem;

namespace logsink_testing {

std::string InstallDir(const std::string& root) {
  return root + "/drive_c/Program Files (x86)/NORVANTE/TQ770/x86";
}

std::string LogDir(const std::string& root) {
  std::string dir = root + "/drive_c/ProgramData/NORVANTE/TQ770/log";
  fs::create_directories(dir);
  return dir;
}

std::string StateFile(const std::string& root) { return LogDir(root) + "/Logsink.dat"; }

void InstallProgram(const std::string& root, const std::string& built_path,
                    const std::string& exe_name) {
  fs::create_directories(InstallDir(root));
  fs::copy_file(built_path, InstallDir(root) + "/" + exe_name, fs::copy_options::overwrite_existing);
  fs::permissions(InstallDir(root) + "/" + exe_name, fs::perms::owner_all | fs::perms::group_read |
                                                         fs::perms::group_exec | fs::perms::others_read |
                                                         fs::perms::others_exec);
}

void InstallLogger(const std::string& root, bool with_cleanup) {
  InstallProgram(root, LOGSINK_PATH, "Logsink.exe");
  if (with_cleanup) InstallProgram(root, FAKE_LOGSWEEP_PATH, "Logsweep.exe");
}

Process::Process(const std::vector<std::string>& argv, const std::string& cwd,
                 const std::vector<std::pair<std::string, std::string>>& env) {
  char templ[] = "/tmp/logsink_out.XXXXXX";
  int fd = mkstemp(templ);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  output_path_ = templ;
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<std::string> copy = argv;
    std::vector<char*> args;
    for (auto& s : copy) args.push_back(s.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fd);
}

Process::~Process() {
  if (!reaped_) {
    kill(pid_, SIGKILL);
    Wait();
  }
  unlink(output_path_.c_str());
}

void Process::Kill(int signal) {
  if (!reaped_) kill(pid_, signal);
}

int Process::Wait(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!reaped_) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (r < 0 && errno != EINTR) break;
    if (std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status_;
}

bool Process::Running() { return Wait(0) == -1; }

std::string Process::Output() const { return pal_testing::ReadFile(output_path_); }

Process* StartLogger(const std::string& root, const std::string& base,
                     const std::vector<std::pair<std::string, std::string>>& env) {
  auto* logger = new Process({InstallDir(root) + "/Logsink.exe", "/l", base}, LogDir(root), env);
  if (!WaitChannelOpen()) {
    delete logger;
    return nullptr;
  }
  return logger;
}

bool WaitChannelIdle(uint32_t timeout_ms) {
  HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kLogChannelMutexName);
  if (mutex == nullptr) return false;
  WaitForSingleObject(mutex, INFINITE);
  bool idle = false;
  HANDLE ready = OpenEventW(EVENT_ALL_ACCESS, FALSE, kLogChannelBufferReadyName);
  if (ready != nullptr) {
    if (WaitForSingleObject(ready, timeout_ms) == WAIT_OBJECT_0) {
      SetEvent(ready);
      idle = true;
    }
    CloseHandle(ready);
  }
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return idle;
}

bool WaitChannelOpen(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (WaitChannelIdle(1000)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

bool PostRaw(const unsigned char* record) {
  HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kLogChannelMutexName);
  if (mutex == nullptr) return false;
  WaitForSingleObject(mutex, INFINITE);
  bool posted = false;
  HANDLE ready = OpenEventW(EVENT_ALL_ACCESS, FALSE, kLogChannelBufferReadyName);
  HANDLE data = OpenEventW(EVENT_ALL_ACCESS, FALSE, kLogChannelDataReadyName);
  HANDLE section = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kLogChannelBufferName);
  void* view = section != nullptr ? MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0) : nullptr;
  if (ready != nullptr && data != nullptr && view != nullptr &&
      WaitForSingleObject(ready, kLogChannelBufferWaitMs) == WAIT_OBJECT_0) {
    memcpy(view, record, kLogChannelBufferSize);
    SetEvent(data);
    posted = true;
  }
  if (view != nullptr) UnmapViewOfFile(view);
  if (section != nullptr) CloseHandle(section);
  if (data != nullptr) CloseHandle(data);
  if (ready != nullptr) CloseHandle(ready);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return posted;
}

bool PostRecord(uint8_t level, const std::string& text, uint32_t pid, uint32_t tid) {
  unsigned char record[kLogChannelBufferSize] = {};
  record[0] = level;
  memcpy(record + 1, &pid, 4);
  memcpy(record + 5, &tid, 4);
  size_t n = std::min(text.size(), sizeof(record) - 10);
  memcpy(record + 9, text.data(), n);
  record[9 + n] = 0;
  return PostRaw(record);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::string content = pal_testing::ReadFile(path);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(content.substr(start));
      break;
    }
    lines.push_back(content.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string StateValue(const std::string& root, const std::string& key) {
  std::string content = pal_testing::ReadFile(StateFile(root));
  bool in_data = false;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      in_data = line == "[Data]";
      continue;
    }
    size_t eq = line.find('=');
    if (in_data && eq != std::string::npos && line.substr(0, eq) == key) return line.substr(eq + 1);
  }
  return "<missing>";
}

std::vector<std::pair<std::string, std::string>> FrozenClockEnv(const std::string& timestamp_file,
                                                                const std::string& tz) {
  return {{"LD_PRELOAD", "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1"},
          {"FAKETIME_TIMESTAMP_FILE", timestamp_file},
          {"FAKETIME_NO_CACHE", "1"},
          {"FAKETIME_DONT_FAKE_MONOTONIC", "1"},
          {"NO_FAKE_STAT", "1"},
          {"TZ", tz}};
}

}  // namespace logsink_testing
