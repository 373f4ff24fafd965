// The spooler database's files: one per record, replaced atomically, with an flock-based
// lock file serialising writers of every process of the machine.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "machine.h"
#include "pal/errors.h"
#include "result.h"
#include "spooler_db.h"

namespace pal::spooler {
namespace {

std::string DatabaseFolder() {
  Result<std::string> host = ToHostPath(L"C:\\Windows\\System32\\spool\\database");
  return host ? host.value() : std::string();
}

std::string TableFolder(Table table) {
  return DatabaseFolder() + (table == Table::kDrivers ? "/drivers" : "/printers");
}

int MakeFolders(const std::string& path) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

bool ReadWhole(const std::string& path, std::string* out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out->clear();
  char buffer[8192];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

}  // namespace

std::vector<StoredEntry> ReadTable(Table table) {
  std::vector<StoredEntry> entries;
  std::string folder = TableFolder(table);
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return entries;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.size() < 5 || name[0] == '.' || name.substr(name.size() - 4) != ".ini") continue;
    std::string bytes;
    std::string path = folder + "/" + name;
    if (ReadWhole(path, &bytes)) entries.push_back({path, DecodeFileText(bytes)});
  }
  closedir(dir);
  return entries;
}

DWORD WriteEntry(Table table, const std::wstring& name, const std::wstring& text) {
  std::string folder = TableFolder(table);
  if (int err = MakeFolders(folder); err != 0) return Win32FromErrno(err);
  std::string path = folder + "/" + ToUtf8(name) + ".ini";
  std::string temp = path + ".tmp" + std::to_string(getpid());
  std::string bytes = EncodeFileText(text);
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return Win32FromErrno(errno);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      close(fd);
      unlink(temp.c_str());
      return Win32FromErrno(err);
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
  if (rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
    unlink(temp.c_str());
    return Win32FromErrno(err);
  }
  return 0;
}

DWORD DeleteEntryFile(const std::string& file) {
  return unlink(file.c_str()) == 0 ? 0 : Win32FromErrno(errno);
}

StoreLock::StoreLock() {
  std::string folder = DatabaseFolder();
  if (MakeFolders(folder) != 0) return;
  fd_ = open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) return;
  while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

StoreLock::~StoreLock() {
  if (fd_ >= 0) close(fd_);  // releases the lock
}

}  // namespace pal::spooler
