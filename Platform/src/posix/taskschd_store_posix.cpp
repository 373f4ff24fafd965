// The task files on the host: one file per task below the machine's Tasks folder.

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>

#include "machine.h"
#include "pal/errors.h"
#include "taskschd_store.h"

namespace pal::tasks {
namespace {

// Temporary files carry '|', which no task name can hold, so listings can skip them.
constexpr char kTempMark = '|';

Result<std::string> HostPath(const std::vector<std::wstring>& components) {
  return ToHostPath(TaskFilePath(components));
}

std::error_code MakeFolders(const std::string& folder) {
  std::string path;
  size_t at = 0;
  while (at != std::string::npos) {
    at = folder.find('/', at + 1);
    path = folder.substr(0, at);
    if (path.empty()) continue;
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return ErrnoError();
  }
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) return ErrnoError();
  if (!S_ISDIR(st.st_mode)) return Win32Error(ERROR_PATH_NOT_FOUND);
  return {};
}

std::error_code WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoError();
    }
    done += static_cast<size_t>(n);
  }
  return {};
}

bool IsMissing(int err) { return err == ENOENT || err == ENOTDIR || err == EISDIR; }

}  // namespace

std::error_code StoreTask(const std::vector<std::wstring>& components, const std::string& xml,
                          StoreMode mode) {
  Result<std::string> target = HostPath(components);
  if (!target) return target.error();
  const std::string& path = *target;
  std::string folder = path.substr(0, path.rfind('/'));
  if (std::error_code ec = MakeFolders(folder)) return ec;

  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Win32Error(ERROR_ACCESS_DENIED);

  static std::atomic<unsigned> counter{0};
  std::string temp = path + kTempMark + std::to_string(getpid()) + "-" + std::to_string(++counter);
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return ErrnoError();
  std::error_code ec = WriteAll(fd, xml);
  if (!ec && fsync(fd) != 0) ec = ErrnoError();
  close(fd);
  if (!ec) {
    // Either kind of replacement is one rename, so a reader sees the old or the new task.
    int rc;
    if (mode == StoreMode::kCreate) {
      rc = renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
      if (rc != 0 && errno == EEXIST) ec = Win32Error(ERROR_ALREADY_EXISTS);
    } else if (mode == StoreMode::kUpdate && stat(path.c_str(), &st) != 0) {
      rc = -1;
      ec = Win32Error(ERROR_FILE_NOT_FOUND);
    } else {
      rc = rename(temp.c_str(), path.c_str());
    }
    if (rc != 0 && !ec) ec = ErrnoError();
  }
  if (ec) unlink(temp.c_str());
  return ec;
}

Result<std::string> LoadTask(const std::vector<std::wstring>& components) {
  Result<std::string> path = HostPath(components);
  if (!path) return path.error();
  int fd = open(path->c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return IsMissing(errno) ? Win32Error(ERROR_FILE_NOT_FOUND) : ErrnoError();
  std::string bytes;
  char buffer[8192];
  while (true) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      close(fd);
      return IsMissing(err) ? Win32Error(ERROR_FILE_NOT_FOUND) : ErrnoError(err);
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return bytes;
}

std::error_code RemoveTask(const std::vector<std::wstring>& components) {
  Result<std::string> path = HostPath(components);
  if (!path) return path.error();
  if (unlink(path->c_str()) != 0) {
    return IsMissing(errno) || errno == EPERM ? Win32Error(ERROR_FILE_NOT_FOUND) : ErrnoError();
  }
  return {};
}

bool FolderExists(const std::vector<std::wstring>& components) {
  Result<std::string> path = HostPath(components);
  struct stat st;
  return path && stat(path->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::wstring> ListTasks() {
  std::vector<std::wstring> names;
  Result<std::string> root = HostPath({});
  if (!root) return names;
  std::function<void(const std::string&, const std::wstring&)> walk =
      [&](const std::string& folder, const std::wstring& prefix) {
        DIR* dir = opendir(folder.c_str());
        if (dir == nullptr) return;
        while (dirent* entry = readdir(dir)) {
          std::string name = entry->d_name;
          if (name == "." || name == ".." || name.find(kTempMark) != std::string::npos) continue;
          std::string full = folder + "/" + name;
          struct stat st;
          if (stat(full.c_str(), &st) != 0) continue;
          std::wstring task = prefix + FromUtf8(name);
          if (S_ISDIR(st.st_mode)) {
            walk(full, task + L"\\");
          } else if (S_ISREG(st.st_mode)) {
            names.push_back(task);
          }
        }
        closedir(dir);
      };
  walk(*root, L"");
  std::sort(names.begin(), names.end());
  return names;
}

std::wstring CurrentUserName() {
  struct passwd pw;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    return FromUtf8(found->pw_name);
  }
  return L"user" + std::to_wstring(geteuid());
}

}  // namespace pal::tasks
