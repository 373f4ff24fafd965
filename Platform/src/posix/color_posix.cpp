#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "color_files.h"
#include "result.h"

namespace pal::color {

bool HostFileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

DWORD HostCopyFile(const std::string& from, const std::string& to) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Win32FromErrno(errno);
  const std::string temp = to + ".tmp" + std::to_string(getpid());
  int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    int err = errno;
    close(in);
    return Win32FromErrno(err);
  }
  int err = 0;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n <= 0) break;
    for (ssize_t done = 0; done < n && err == 0;) {
      ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) err = errno;
      else done += w;
    }
    if (err != 0) break;
  }
  close(in);
  if (close(out) != 0 && err == 0) err = errno;
  if (err == 0 && rename(temp.c_str(), to.c_str()) != 0) err = errno;
  if (err != 0) {
    unlink(temp.c_str());
    return Win32FromErrno(err);
  }
  return 0;
}

DWORD HostRemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : Win32FromErrno(errno); }

DWORD HostMakeFolders(const std::string& path) {
  for (size_t pos = 1; pos != std::string::npos;) {
    pos = path.find('/', pos + 1);
    std::string partial = path.substr(0, pos);
    if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return Win32FromErrno(errno);
  }
  return 0;
}

}  // namespace pal::color
