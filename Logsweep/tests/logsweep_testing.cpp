#include "logsweep_testing.h"

#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "pal_testing.h"

namespace fs = std::filesystem;

namespace logsweep_testing {
namespace {

std::string DriveC() {
  const char* root = std::getenv("PAL_ROOT");
  if (root == nullptr) throw std::runtime_error("PAL_ROOT is not set");
  return std::string(root) + "/drive_c";
}

std::string InstallBase() { return DriveC() + "/Program Files (x86)/NORVANTE/TQ770"; }

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

std::string InstallFolder() {
  fs::create_directories(InstallBase() + "/x86");
  return InstallBase() + "/x86";
}

std::string LogFolder() {
  std::string folder = DriveC() + "/ProgramData/NORVANTE/TQ770/log";
  fs::create_directories(folder);
  return folder;
}

std::string StateFile() { return LogFolder() + "/Logsink.dat"; }

std::string EnginePath() {
  fs::create_directories(InstallBase() + "/common");
  return InstallBase() + "/common/7za.exe";
}

void InstallArchiver() {
  std::error_code ec;
  fs::remove(EnginePath(), ec);
  fs::create_symlink(pal_testing::BuildDir() + "/Substitutes/archiver/archiver_bridge", EnginePath());
}

void InstallFakeArchiver(int exit_status, const std::string& trace_file) {
  std::error_code ec;
  fs::remove(EnginePath(), ec);
  std::string script = "#!/bin/sh\n";
  if (!trace_file.empty()) script += "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" + trace_file + "'; done\n";
  script += "exit " + std::to_string(exit_status) + "\n";
  pal_testing::WriteFile(EnginePath(), script);
  fs::permissions(EnginePath(), fs::perms::owner_all);
}

std::string InstallLogsweep() {
  std::string target = InstallFolder() + "/Logsweep.exe";
  fs::copy_file(LOGSWEEP_PATH, target, fs::copy_options::overwrite_existing);
  return target;
}

void MakeFile(const std::string& path, unsigned long long size, const std::string& head) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  size_t n = std::min<unsigned long long>(head.size(), size);
  bool ok = ::write(fd, head.data(), n) == static_cast<ssize_t>(n) && ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  ::close(fd);
  if (!ok) throw std::runtime_error("cannot size " + path);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> ZipEntries(const std::string& archive) {
  std::string output;
  if (pal_testing::RunProgram({"/usr/bin/unzip", "-Z1", archive}, &output) != 0) return {};
  std::vector<std::string> names;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    if (end > start) names.push_back(output.substr(start, end - start));
    start = end + 1;
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ZipMember(const std::string& archive, const std::string& member) {
  std::string output;
  if (pal_testing::RunProgram({"/usr/bin/unzip", "-p", archive, member}, &output) != 0) return "";
  return output;
}

void NextCreationSecond() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto next = ceil<seconds>(now + milliseconds(1));
  // File stamps come from the kernel's coarse clock, which may trail by a tick.
  std::this_thread::sleep_until(next + milliseconds(30));
}

std::string StateValue(const std::string& key) {
  WCHAR szValue[260] = {0};
  std::wstring strPath = L"C:\\ProgramData\\NORVANTE\\TQ770\\log\\Logsink.dat";
  ::GetPrivateProfileStringW(L"Data", Wide(key).c_str(), L"", szValue, 260, strPath.c_str());
  std::string value;
  for (const WCHAR* p = szValue; *p != 0; ++p) value += static_cast<char>(*p);
  return value;
}

void WriteState(const std::vector<std::string>& lines) {
  std::string text = "[Data]\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  pal_testing::WriteFile(StateFile(), text);
}

}  // namespace logsweep_testing
