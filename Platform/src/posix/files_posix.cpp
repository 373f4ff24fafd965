// Files on POSIX. Share modes are kept in open-file-description locks on reserved bytes far
// beyond any real data of the file itself: each open handle holds a read lock on one byte
// per access it has ("has read", "has write", "has delete") and one per access it does not
// share ("denies read"...). A new open probes the bytes it cares about for locks of other
// descriptions, and takes its own, under one lock per machine root so that check and take
// are a single step. The kernel drops the locks with the last descriptor of a handle, also
// when its process is killed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

#include "files_internal.h"
#include "files_logic.h"
#include "handle.h"
#include "machine.h"
#include "result.h"
#include "text_codepage.h"

namespace pal {
namespace {

constexpr off_t kMarkerBase = LLONG_MAX - 64;
constexpr off_t HasMarker(unsigned bit) { return kMarkerBase + (bit == kShareRead ? 0 : bit == kShareWrite ? 1 : 2); }
constexpr off_t DenyMarker(unsigned bit) { return HasMarker(bit) + 3; }
constexpr unsigned kAllBits[] = {kShareRead, kShareWrite, kShareDelete};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Fd& operator=(Fd&& o) noexcept {
    reset(std::exchange(o.fd_, -1));
    return *this;
  }
  ~Fd() { reset(); }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);  // never retried: the descriptor is gone even on EINTR
    fd_ = fd;
  }

 private:
  int fd_;
};

int OpenRetry(const char* path, int flags, mode_t mode = 0666) {
  int fd;
  do {
    fd = open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::string ParentOf(const std::string& host) {
  size_t slash = host.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return host.substr(0, slash);
}

// ENOENT means a missing file, or a missing folder on the way to it.
std::error_code MissingError(const std::string& host) {
  struct stat st;
  std::string parent = ParentOf(host);
  if (stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Win32Error(ERROR_PATH_NOT_FOUND);
  return Win32Error(ERROR_FILE_NOT_FOUND);
}

std::error_code PathError(int err, const std::string& host) {
  if (err == ENOENT) return MissingError(host);
  if (err == ENOTDIR) return Win32Error(ERROR_PATH_NOT_FOUND);
  return ErrnoError(err);
}

// Serialises share checks with the opens, deletes and renames that depend on them, across
// every process and thread of the machine (each holder has its own open file description,
// so threads exclude each other too). Without a writable machine root the checks still run,
// only without that atomicity.
class MachineShareLock {
 public:
  MachineShareLock() {
    std::string path = MachineRoot() + "/.pal-files.lock";
    fd_ = Fd(OpenRetry(path.c_str(), O_RDWR | O_CREAT, 0666));
    if (fd_.valid()) {
      while (flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  MachineShareLock(const MachineShareLock&) = delete;
  MachineShareLock& operator=(const MachineShareLock&) = delete;

 private:
  Fd fd_;  // closing the descriptor releases the lock
};

bool MarkerHeld(int fd, off_t offset) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = offset;
  probe.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &probe) != 0) return false;
  return probe.l_type != F_UNLCK;
}

bool TakeMarker(int fd, off_t offset) {
  struct flock lock {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = offset;
  lock.l_len = 1;
  // Never waits: only a foreign program's whole-file write lock could stand in the way, and
  // the probes already treat such a lock as a holder that shares nothing.
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Would an open with `access` and `share` clash with the holders of the file behind `fd`?
bool ShareConflict(int fd, unsigned access, unsigned share) {
  for (unsigned bit : kAllBits) {
    if ((access & bit) != 0 && MarkerHeld(fd, DenyMarker(bit))) return true;
    if ((share & bit) == 0 && MarkerHeld(fd, HasMarker(bit))) return true;
  }
  return false;
}

// A descriptor that can carry the marker locks (they need read mode), for probing a path.
Fd ProbeFd(const std::string& host) { return Fd(OpenRetry(host.c_str(), O_RDONLY | O_NONBLOCK)); }

struct FileCore {
  Fd fd;
  unsigned access = 0;
  bool is_directory = false;
  bool delete_on_close = false;
  std::string host_path;
  dev_t dev = 0;
  ino_t ino = 0;

  ~FileCore() {
    if (!delete_on_close) return;
    MachineShareLock lock;
    struct stat st;
    if (stat(host_path.c_str(), &st) == 0 && st.st_dev == dev && st.st_ino == ino) {
      if (is_directory) {
        rmdir(host_path.c_str());
      } else {
        unlink(host_path.c_str());
      }
    }
  }
};

struct OpenRequest {
  std::string host;
  unsigned access = 0;
  unsigned share = 0;
  Disposition disposition = Disposition::kOpenExisting;
  bool append_only = false;
  bool directory_ok = false;
  bool delete_on_close = false;
};

struct Opened {
  std::shared_ptr<FileCore> core;
  bool existed = false;
};

Result<Opened> OpenShared(const OpenRequest& request) {
  if (request.disposition == Disposition::kTruncateExisting && (request.access & kShareWrite) == 0) {
    return Win32Error(ERROR_INVALID_PARAMETER);
  }
  const char* path = request.host.c_str();
  int mode = (request.access & kShareWrite) != 0 ? O_RDWR : O_RDONLY;
  if (request.append_only) mode |= O_APPEND;

  MachineShareLock lock;
  Fd fd;
  bool existed = true;
  auto open_existing = [&](int flags) {
    fd = Fd(OpenRetry(path, flags));
    if (!fd.valid() && errno == EACCES && (flags & O_ACCMODE) == O_RDWR) {
      // Writable but not readable to us: the handle works, it only cannot carry markers.
      fd = Fd(OpenRetry(path, (flags & ~O_ACCMODE) | O_WRONLY));
    }
    if (!fd.valid() && errno == EISDIR && request.directory_ok) {
      fd = Fd(OpenRetry(path, O_RDONLY | O_DIRECTORY));
    }
  };
  switch (request.disposition) {
    case Disposition::kCreateNew:
      open_existing(mode | O_CREAT | O_EXCL);
      existed = false;
      if (!fd.valid() && errno == EEXIST) return Win32Error(ERROR_FILE_EXISTS);
      break;
    case Disposition::kCreateAlways:
    case Disposition::kOpenAlways:
      for (int attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
        open_existing(mode | O_CREAT | O_EXCL);
        if (fd.valid()) {
          existed = false;
        } else if (errno == EEXIST) {
          open_existing(mode);
          if (!fd.valid() && errno != ENOENT) break;
        } else {
          break;
        }
      }
      break;
    case Disposition::kOpenExisting:
    case Disposition::kTruncateExisting:
      open_existing(mode);
      break;
  }
  if (!fd.valid()) {
    int err = errno;
    if (err == EISDIR) return Win32Error(ERROR_ACCESS_DENIED);
    return PathError(err, request.host);
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return ErrnoError();
  bool is_directory = S_ISDIR(st.st_mode);
  if (is_directory && !request.directory_ok) return Win32Error(ERROR_ACCESS_DENIED);

  int accmode = fcntl(fd.get(), F_GETFL) & O_ACCMODE;
  // Opens without data access (attributes only) take no part in sharing, as on Windows.
  bool can_mark = (accmode == O_RDONLY || accmode == O_RDWR) && request.access != 0;
  if (can_mark) {
    if (existed && ShareConflict(fd.get(), request.access, request.share)) {
      return Win32Error(ERROR_SHARING_VIOLATION);
    }
    for (unsigned bit : kAllBits) {
      if ((request.access & bit) != 0) TakeMarker(fd.get(), HasMarker(bit));
      if ((request.share & bit) == 0) TakeMarker(fd.get(), DenyMarker(bit));
    }
  }
  if (existed && !is_directory &&
      (request.disposition == Disposition::kCreateAlways ||
       request.disposition == Disposition::kTruncateExisting)) {
    if (ftruncate(fd.get(), 0) != 0) return ErrnoError();
  }
  auto core = std::make_shared<FileCore>();
  core->fd = std::move(fd);
  core->access = request.access;
  core->is_directory = is_directory;
  core->delete_on_close = request.delete_on_close;
  core->host_path = request.host;
  core->dev = st.st_dev;
  core->ino = st.st_ino;
  return Opened{std::move(core), existed};
}

class FileObject final : public HandleObject {
 public:
  explicit FileObject(std::shared_ptr<FileCore> core) : HandleObject(HandleKind::kFile), core_(std::move(core)) {}
  FileCore& core() { return *core_; }

 private:
  std::shared_ptr<FileCore> core_;
};

unsigned AccessFromMask(DWORD desired) {
  unsigned access = 0;
  if ((desired & (GENERIC_READ | GENERIC_ALL | GENERIC_EXECUTE | FILE_READ_DATA | FILE_EXECUTE)) != 0) {
    access |= kShareRead;
  }
  if ((desired & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0) {
    access |= kShareWrite;
  }
  if ((desired & (DELETE | GENERIC_ALL)) != 0) access |= kShareDelete;
  return access;
}

FILETIME ToFileTime(int64_t seconds, uint32_t nanoseconds) {
  constexpr int64_t kEpochDelta = 11644473600LL;  // 1601-01-01 to 1970-01-01
  uint64_t ticks = static_cast<uint64_t>(seconds + kEpochDelta) * 10000000ULL + nanoseconds / 100;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

DWORD AttributesFromMode(mode_t mode) {
  if (S_ISDIR(mode)) return FILE_ATTRIBUTE_DIRECTORY;
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
  if ((mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

Result<std::string> MapPath(LPCWSTR path) {
  if (path == nullptr) return Win32Error(ERROR_INVALID_PARAMETER);
  if (*path == L'\0') return Win32Error(ERROR_PATH_NOT_FOUND);
  return ToHostPath(path);
}

std::wstring Wide(LPCSTR ansi) { return ansi != nullptr ? WideFromAnsi(ansi) : std::wstring(); }

}  // namespace

// ---- Services for the other areas ------------------------------------------------------------

Result<std::string> ReadWholeHostFile(const std::string& host_path) {
  Fd fd(OpenRetry(host_path.c_str(), O_RDONLY));
  if (!fd.valid()) return PathError(errno, host_path);
  std::string data;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (errno == EISDIR) return Win32Error(ERROR_ACCESS_DENIED);
      return ErrnoError();
    }
    if (n == 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  return data;
}

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::error_code RewriteHostFile(const std::string& host_path, const FileEdit& edit) {
  std::string folder = ParentOf(host_path);
  Fd folder_fd(OpenRetry(folder.c_str(), O_RDONLY | O_DIRECTORY));
  if (!folder_fd.valid()) {
    return errno == ENOENT || errno == ENOTDIR ? Win32Error(ERROR_PATH_NOT_FOUND) : ErrnoError();
  }
  while (flock(folder_fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return ErrnoError();
  }
  std::optional<std::string> current;
  struct stat st {};
  bool existed = stat(host_path.c_str(), &st) == 0;
  if (existed) {
    Result<std::string> read = ReadWholeHostFile(host_path);
    if (!read.ok()) return read.error();
    current = std::move(*read);
  }
  std::optional<std::string> next = edit(current);
  if (!next.has_value()) return {};

  size_t slash = host_path.find_last_of('/');
  std::string name = slash == std::string::npos ? host_path : host_path.substr(slash + 1);
  // One fixed temporary name per file: only the lock holder writes it, and a leftover of a
  // killed writer is simply overwritten by the next one.
  std::string temp = (slash == std::string::npos ? std::string() : host_path.substr(0, slash + 1)) + "." +
                     name + ".tmp~";
  Fd out(OpenRetry(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, existed ? (st.st_mode & 07777) : 0666));
  if (!out.valid()) return ErrnoError();
  if (existed) fchmod(out.get(), st.st_mode & 07777);
  // No fsync: the rename is atomic for every process, which is what is promised; a power
  // cut is left to the file system (ext4 flushes a file renamed over another on its own).
  if (!WriteAll(out.get(), next->data(), next->size())) {
    std::error_code ec = ErrnoError();
    unlink(temp.c_str());
    return ec;
  }
  out.reset();
  if (rename(temp.c_str(), host_path.c_str()) != 0) {
    std::error_code ec = ErrnoError();
    unlink(temp.c_str());
    return ec;
  }
  return {};
}

}  // namespace pal

using pal::Disposition;
using pal::Fd;
using pal::Result;

// ---- CreateFile and handle I/O ----------------------------------------------------------------

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE) {
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
    return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE);
  }
  Result<std::string> host = pal::MapPath(lpFileName);
  if (!host.ok()) return pal::Fail(host.error(), INVALID_HANDLE_VALUE);
  pal::OpenRequest request;
  request.host = *host;
  request.access = pal::AccessFromMask(dwDesiredAccess);
  request.share = dwShareMode & (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  request.disposition = static_cast<Disposition>(dwCreationDisposition);
  request.append_only = (dwDesiredAccess & FILE_APPEND_DATA) != 0 &&
                     (dwDesiredAccess & (FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL)) == 0;
  request.directory_ok = (dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0;
  request.delete_on_close = (dwFlagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
  if (request.delete_on_close) request.access |= pal::kShareDelete;
  Result<pal::Opened> opened = pal::OpenShared(request);
  if (!opened.ok()) return pal::Fail(opened.error(), INVALID_HANDLE_VALUE);
  HANDLE h = pal::IssueHandle(std::make_unique<pal::FileObject>(std::move(opened->core)));
  bool reports_existing = opened->existed && (dwCreationDisposition == CREATE_ALWAYS ||
                                              dwCreationDisposition == OPEN_ALWAYS);
  SetLastError(reports_existing ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  if (lpFileName == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE);
  std::wstring wide = pal::Wide(lpFileName);
  return CreateFileW(wide.c_str(), dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                     dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

namespace {

std::shared_ptr<pal::FileObject> LookupFile(HANDLE h) {
  return pal::LookupHandleAs<pal::FileObject>(h, pal::HandleKind::kFile);
}

}  // namespace

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  auto file = LookupFile(hFile);
  if (file == nullptr) return FALSE;
  if (lpOverlapped != nullptr || (lpBuffer == nullptr && nNumberOfBytesToRead > 0)) {
    return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  }
  if ((file->core().access & pal::kShareRead) == 0) return pal::Fail(pal::Win32Error(ERROR_ACCESS_DENIED), FALSE);
  if (file->core().is_directory) return pal::Fail(pal::Win32Error(ERROR_INVALID_FUNCTION), FALSE);
  ssize_t n;
  do {
    n = read(file->core().fd.get(), lpBuffer, nNumberOfBytesToRead);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return pal::Fail(pal::ErrnoError(), FALSE);
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  auto file = LookupFile(hFile);
  if (file == nullptr) return FALSE;
  if (lpOverlapped != nullptr || (lpBuffer == nullptr && nNumberOfBytesToWrite > 0)) {
    return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  }
  if ((file->core().access & pal::kShareWrite) == 0) return pal::Fail(pal::Win32Error(ERROR_ACCESS_DENIED), FALSE);
  const char* data = static_cast<const char*>(lpBuffer);
  DWORD done = 0;
  while (done < nNumberOfBytesToWrite) {
    ssize_t n = write(file->core().fd.get(), data + done, nNumberOfBytesToWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
      return pal::Fail(pal::ErrnoError(), FALSE);
    }
    done += static_cast<DWORD>(n);
  }
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
  return TRUE;
}

namespace {

bool SeekTo(HANDLE h, LONGLONG distance, DWORD method, LONGLONG* result) {
  auto file = LookupFile(h);
  if (file == nullptr) return false;
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
  if (whence < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  off_t base = 0;
  int fd = file->core().fd.get();
  if (whence == SEEK_CUR) base = lseek(fd, 0, SEEK_CUR);
  if (whence == SEEK_END) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
      SetLastError(static_cast<DWORD>(pal::ErrnoError().value()));
      return false;
    }
    base = st.st_size;
  }
  LONGLONG target = base + distance;
  if (target < 0) {
    SetLastError(131 /* ERROR_NEGATIVE_SEEK */);
    return false;
  }
  if (lseek(fd, target, SEEK_SET) < 0) {
    SetLastError(static_cast<DWORD>(pal::ErrnoError().value()));
    return false;
  }
  *result = target;
  return true;
}

}  // namespace

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
  LONGLONG distance = lDistanceToMove;
  if (lpDistanceToMoveHigh != nullptr) {
    distance = static_cast<LONGLONG>((static_cast<ULONGLONG>(static_cast<DWORD>(*lpDistanceToMoveHigh)) << 32) |
                                     static_cast<DWORD>(lDistanceToMove));
  }
  LONGLONG result = 0;
  if (!SeekTo(hFile, distance, dwMoveMethod, &result)) return INVALID_SET_FILE_POINTER;
  if (lpDistanceToMoveHigh != nullptr) *lpDistanceToMoveHigh = static_cast<LONG>(result >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(result & 0xFFFFFFFF);
}

BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                             PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod) {
  LONGLONG result = 0;
  if (!SeekTo(hFile, liDistanceToMove.QuadPart, dwMoveMethod, &result)) return FALSE;
  if (lpNewFilePointer != nullptr) lpNewFilePointer->QuadPart = result;
  return TRUE;
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  auto file = LookupFile(hFile);
  if (file == nullptr) return FALSE;
  if ((file->core().access & pal::kShareWrite) == 0) return pal::Fail(pal::Win32Error(ERROR_ACCESS_DENIED), FALSE);
  int fd = file->core().fd.get();
  off_t position = lseek(fd, 0, SEEK_CUR);
  if (position < 0 || ftruncate(fd, position) != 0) return pal::Fail(pal::ErrnoError(), FALSE);
  return TRUE;
}

BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
  auto file = LookupFile(hFile);
  if (file == nullptr) return FALSE;
  struct stat st;
  if (fstat(file->core().fd.get(), &st) != 0) return pal::Fail(pal::ErrnoError(), FALSE);
  if (lpFileSize != nullptr) lpFileSize->QuadPart = st.st_size;
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(hFile, &size)) return INVALID_FILE_SIZE;
  if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = static_cast<DWORD>(size.QuadPart >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size.QuadPart & 0xFFFFFFFF);
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
  auto file = LookupFile(hFile);
  if (file == nullptr) return FALSE;
  if ((file->core().access & pal::kShareWrite) == 0) return pal::Fail(pal::Win32Error(ERROR_ACCESS_DENIED), FALSE);
  if (fsync(file->core().fd.get()) != 0) return pal::Fail(pal::ErrnoError(), FALSE);
  return TRUE;
}

// ---- Copy, delete, move -----------------------------------------------------------------------

BOOL WINAPI CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
  Result<std::string> from = pal::MapPath(lpExistingFileName);
  if (!from.ok()) return pal::Fail(from.error(), FALSE);
  Result<std::string> to = pal::MapPath(lpNewFileName);
  if (!to.ok()) return pal::Fail(to.error(), FALSE);

  pal::OpenRequest source_spec;
  source_spec.host = *from;
  source_spec.access = pal::kShareRead;
  source_spec.share = pal::kShareRead | pal::kShareWrite | pal::kShareDelete;
  Result<pal::Opened> source = pal::OpenShared(source_spec);
  if (!source.ok()) return pal::Fail(source.error(), FALSE);
  struct stat st;
  if (fstat(source->core->fd.get(), &st) != 0) return pal::Fail(pal::ErrnoError(), FALSE);

  pal::OpenRequest target_spec;
  target_spec.host = *to;
  target_spec.access = pal::kShareWrite;
  target_spec.share = 0;
  target_spec.disposition = bFailIfExists ? Disposition::kCreateNew : Disposition::kCreateAlways;
  Result<pal::Opened> target = pal::OpenShared(target_spec);
  if (!target.ok()) return pal::Fail(target.error(), FALSE);

  int in = source->core->fd.get();
  int out = target->core->fd.get();
  char buffer[65536];
  for (;;) {
    ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return pal::Fail(pal::ErrnoError(), FALSE);
    if (n == 0) break;
    if (!pal::WriteAll(out, buffer, static_cast<size_t>(n))) return pal::Fail(pal::ErrnoError(), FALSE);
  }
  // Windows keeps the source's last-write time on the copy.
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  futimens(out, times);
  if (!target->existed) fchmod(out, st.st_mode & 0777);
  return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
  Result<std::string> host = pal::MapPath(lpFileName);
  if (!host.ok()) return pal::Fail(host.error(), FALSE);
  pal::MachineShareLock lock;
  struct stat st;
  if (lstat(host->c_str(), &st) != 0) return pal::Fail(pal::PathError(errno, *host), FALSE);
  if (S_ISDIR(st.st_mode)) return pal::Fail(pal::Win32Error(ERROR_ACCESS_DENIED), FALSE);
  if (S_ISREG(st.st_mode)) {
    Fd probe = pal::ProbeFd(*host);
    if (probe.valid() && pal::MarkerHeld(probe.get(), pal::DenyMarker(pal::kShareDelete))) {
      return pal::Fail(pal::Win32Error(ERROR_SHARING_VIOLATION), FALSE);
    }
  }
  if (unlink(host->c_str()) != 0) return pal::Fail(pal::PathError(errno, *host), FALSE);
  return TRUE;
}

namespace {

// Moves a file between host file systems: copy, then remove the source.
std::error_code CopyAcross(const std::string& from, const std::string& to, bool replace) {
  pal::Fd in(pal::OpenRetry(from.c_str(), O_RDONLY));
  if (!in.valid()) return pal::ErrnoError();
  struct stat st;
  if (fstat(in.get(), &st) != 0) return pal::ErrnoError();
  if (!S_ISREG(st.st_mode)) return pal::Win32Error(ERROR_ACCESS_DENIED);
  pal::Fd out(pal::OpenRetry(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | (replace ? 0 : O_EXCL), st.st_mode & 0777));
  if (!out.valid()) return errno == EEXIST ? pal::Win32Error(ERROR_ALREADY_EXISTS) : pal::PathError(errno, to);
  char buffer[65536];
  for (;;) {
    ssize_t n = read(in.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return pal::ErrnoError();
    if (n == 0) break;
    if (!pal::WriteAll(out.get(), buffer, static_cast<size_t>(n))) return pal::ErrnoError();
  }
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  futimens(out.get(), times);
  if (unlink(from.c_str()) != 0) return pal::ErrnoError();
  return {};
}

}  // namespace

BOOL WINAPI MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
  Result<std::string> from = pal::MapPath(lpExistingFileName);
  if (!from.ok()) return pal::Fail(from.error(), FALSE);
  Result<std::string> to = pal::MapPath(lpNewFileName);
  if (!to.ok()) return pal::Fail(to.error(), FALSE);
  const bool replace = (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0;

  pal::MachineShareLock lock;
  struct stat src;
  if (lstat(from->c_str(), &src) != 0) return pal::Fail(pal::PathError(errno, *from), FALSE);
  if (S_ISREG(src.st_mode)) {
    Fd probe = pal::ProbeFd(*from);
    if (probe.valid() && pal::MarkerHeld(probe.get(), pal::DenyMarker(pal::kShareDelete))) {
      return pal::Fail(pal::Win32Error(ERROR_SHARING_VIOLATION), FALSE);
    }
  }
  struct stat dst;
  if (lstat(to->c_str(), &dst) == 0) {
    bool same = dst.st_dev == src.st_dev && dst.st_ino == src.st_ino;
    if (!same) {
      if (!replace) return pal::Fail(pal::Win32Error(ERROR_ALREADY_EXISTS), FALSE);
      if (S_ISDIR(dst.st_mode) || S_ISDIR(src.st_mode)) return pal::Fail(pal::Win32Error(ERROR_ACCESS_DENIED), FALSE);
      Fd probe = pal::ProbeFd(*to);
      if (probe.valid() && pal::MarkerHeld(probe.get(), pal::DenyMarker(pal::kShareDelete))) {
        return pal::Fail(pal::Win32Error(ERROR_ACCESS_DENIED), FALSE);
      }
    }
  }
  int rc = renameat2(AT_FDCWD, from->c_str(), AT_FDCWD, to->c_str(), replace ? 0 : RENAME_NOREPLACE);
  if (rc != 0 && errno == EINVAL && !replace) {
    // File systems without RENAME_NOREPLACE: the existence check above has to do.
    rc = rename(from->c_str(), to->c_str());
  }
  if (rc == 0) return TRUE;
  int err = errno;
  if (err == EEXIST) return pal::Fail(pal::Win32Error(ERROR_ALREADY_EXISTS), FALSE);
  if (err == EXDEV) {
    if ((dwFlags & MOVEFILE_COPY_ALLOWED) == 0) return pal::Fail(pal::Win32Error(17 /* ERROR_NOT_SAME_DEVICE */), FALSE);
    std::error_code ec = CopyAcross(*from, *to, replace);
    if (ec) return pal::Fail(ec, FALSE);
    return TRUE;
  }
  if (err == ENOENT) return pal::Fail(pal::Win32Error(ERROR_PATH_NOT_FOUND), FALSE);
  return pal::Fail(pal::ErrnoError(err), FALSE);
}

BOOL WINAPI MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName) {
  return MoveFileExW(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

// ---- Folders and attributes -------------------------------------------------------------------

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  Result<std::string> host = pal::MapPath(lpPathName);
  if (!host.ok()) return pal::Fail(host.error(), FALSE);
  if (mkdir(host->c_str(), 0777) != 0) {
    int err = errno;
    if (err == EEXIST) return pal::Fail(pal::Win32Error(ERROR_ALREADY_EXISTS), FALSE);
    if (err == ENOENT || err == ENOTDIR) return pal::Fail(pal::Win32Error(ERROR_PATH_NOT_FOUND), FALSE);
    return pal::Fail(pal::ErrnoError(err), FALSE);
  }
  return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  if (lpPathName == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  return CreateDirectoryW(pal::Wide(lpPathName).c_str(), lpSecurityAttributes);
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName) {
  Result<std::string> host = pal::MapPath(lpPathName);
  if (!host.ok()) return pal::Fail(host.error(), FALSE);
  if (rmdir(host->c_str()) != 0) {
    int err = errno;
    if (err == ENOTDIR) {
      struct stat st;
      if (stat(host->c_str(), &st) == 0) return pal::Fail(pal::Win32Error(ERROR_DIRECTORY), FALSE);
    }
    if (err == EEXIST || err == ENOTEMPTY) return pal::Fail(pal::Win32Error(ERROR_DIR_NOT_EMPTY), FALSE);
    return pal::Fail(pal::PathError(err, *host), FALSE);
  }
  return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
  Result<std::string> host = pal::MapPath(lpFileName);
  if (!host.ok()) return pal::Fail(host.error(), INVALID_FILE_ATTRIBUTES);
  struct stat st;
  if (stat(host->c_str(), &st) != 0) return pal::Fail(pal::PathError(errno, *host), INVALID_FILE_ATTRIBUTES);
  return pal::AttributesFromMode(st.st_mode);
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  if (lpFileName == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), INVALID_FILE_ATTRIBUTES);
  return GetFileAttributesW(pal::Wide(lpFileName).c_str());
}

DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return pal::Fail(pal::ErrnoError(), DWORD{0});
    buffer.resize(buffer.size() * 2);
  }
  std::wstring path = pal::ToWindowsPath(buffer.data());
  if (lpBuffer == nullptr || nBufferLength <= path.size()) return static_cast<DWORD>(path.size() + 1);
  std::wmemcpy(lpBuffer, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName) {
  Result<std::string> host = pal::MapPath(lpPathName);
  if (!host.ok()) return pal::Fail(host.error(), FALSE);
  if (chdir(host->c_str()) != 0) {
    int err = errno;
    if (err == ENOTDIR) {
      struct stat st;
      if (stat(host->c_str(), &st) == 0) return pal::Fail(pal::Win32Error(ERROR_DIRECTORY), FALSE);
    }
    return pal::Fail(pal::PathError(err, *host), FALSE);
  }
  return TRUE;
}

DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart) {
  if (lpFileName == nullptr || *lpFileName == L'\0') return pal::Fail(pal::Win32Error(ERROR_INVALID_NAME), DWORD{0});
  DWORD needed = GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return 0;
  std::wstring current(needed, L'\0');
  current.resize(GetCurrentDirectoryW(needed, current.data()));
  std::wstring full = pal::FullWindowsPath(lpFileName, current);
  if (lpBuffer == nullptr || nBufferLength <= full.size()) return static_cast<DWORD>(full.size() + 1);
  std::wmemcpy(lpBuffer, full.c_str(), full.size() + 1);
  if (lpFilePart != nullptr) {
    size_t last = full.rfind(L'\\');
    *lpFilePart = (last == std::wstring::npos || last + 1 == full.size()) ? nullptr : lpBuffer + last + 1;
  }
  return static_cast<DWORD>(full.size());
}

// ---- File searches ----------------------------------------------------------------------------

namespace pal {
namespace {

class FindObject final : public HandleObject {
 public:
  FindObject() : HandleObject(HandleKind::kFind) {}
  std::vector<WIN32_FIND_DATAW> entries;
  size_t next = 0;
  std::mutex mutex;
};

bool FillFindData(int dirfd, const std::string& name, const std::wstring& wide_name, WIN32_FIND_DATAW* data) {
  struct statx sx {};
  if (statx(dirfd, name.c_str(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0 &&
      statx(dirfd, name.c_str(), AT_STATX_SYNC_AS_STAT | AT_SYMLINK_NOFOLLOW,
            STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    return false;
  }
  *data = WIN32_FIND_DATAW{};
  data->dwFileAttributes = AttributesFromMode(sx.stx_mode);
  bool is_dir = S_ISDIR(sx.stx_mode);
  // Without a birth time the host's best stand-in is the last status change.
  const struct statx_timestamp& born = (sx.stx_mask & STATX_BTIME) != 0 ? sx.stx_btime : sx.stx_ctime;
  data->ftCreationTime = ToFileTime(born.tv_sec, born.tv_nsec);
  data->ftLastAccessTime = ToFileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  data->ftLastWriteTime = ToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  uint64_t size = is_dir ? 0 : sx.stx_size;
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  size_t n = std::min<size_t>(wide_name.size(), MAX_PATH - 1);
  std::wmemcpy(data->cFileName, wide_name.data(), n);
  data->cFileName[n] = L'\0';
  return true;
}

std::wstring UpperName(const wchar_t* name) {
  std::wstring out(name);
  for (wchar_t& c : out) c = FoldCase(c);
  return out;
}

bool IsDriveRoot(const std::string& host_dir) {
  char* real = realpath(host_dir.c_str(), nullptr);
  if (real == nullptr) return false;
  std::string resolved(real);
  free(real);
  if (resolved == "/") return true;
  char* drive_c = realpath(DriveCRoot().c_str(), nullptr);
  bool root = drive_c != nullptr && resolved == drive_c;
  free(drive_c);
  return root;
}

Result<std::unique_ptr<FindObject>> StartSearch(LPCWSTR pattern_path) {
  if (pattern_path == nullptr) return Win32Error(ERROR_INVALID_PARAMETER);
  std::wstring_view full(pattern_path);
  size_t sep = full.find_last_of(L"\\/");
  std::wstring folder;
  std::wstring pattern;
  if (sep == std::wstring_view::npos) {
    if (full.size() >= 2 && full[1] == L':') {
      folder = std::wstring(full.substr(0, 2)) + L"\\";
      pattern = full.substr(2);
    } else {
      pattern = full;
    }
  } else {
    folder = full.substr(0, sep + 1);
    pattern = full.substr(sep + 1);
  }
  if (pattern.empty()) return Win32Error(ERROR_FILE_NOT_FOUND);
  std::string host_folder = ".";
  if (!folder.empty()) {
    Result<std::string> mapped = ToHostPath(folder);
    if (!mapped.ok()) return mapped.error();
    host_folder = mapped->empty() ? "." : *mapped;
  }
  Fd dirfd(OpenRetry(host_folder.c_str(), O_RDONLY | O_DIRECTORY));
  if (!dirfd.valid()) {
    return errno == EACCES ? Win32Error(ERROR_ACCESS_DENIED) : Win32Error(ERROR_PATH_NOT_FOUND);
  }
  auto find = std::make_unique<FindObject>();
  WIN32_FIND_DATAW data;
  if (!HasWildcard(pattern)) {
    std::string name = ToUtf8(pattern);
    if (pattern != L"." && pattern != L".." && FillFindData(dirfd.get(), name, pattern, &data)) {
      find->entries.push_back(data);
      return find;
    }
  }
  int scan_fd = dup(dirfd.get());
  DIR* dir = scan_fd >= 0 ? fdopendir(scan_fd) : nullptr;
  if (dir == nullptr) {
    if (scan_fd >= 0) close(scan_fd);
    return ErrnoError();
  }
  std::vector<std::pair<std::wstring, WIN32_FIND_DATAW>> found;
  bool dots = !IsDriveRoot(host_folder);
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    bool is_dot = name == "." || name == "..";
    if (is_dot && !dots) continue;
    std::wstring wide_name = FromUtf8(name);
    if (!MatchesWildcard(pattern, wide_name)) continue;
    if (!FillFindData(dirfd.get(), name, wide_name, &data)) continue;
    // The folder's own entries sort first, as Windows lists them.
    found.emplace_back((is_dot ? std::wstring(1, L'\0') : std::wstring()) + UpperName(data.cFileName), data);
  }
  closedir(dir);
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  if (found.empty()) return Win32Error(ERROR_FILE_NOT_FOUND);
  for (auto& [key, entry] : found) find->entries.push_back(entry);
  return find;
}

void ToAnsiFindData(const WIN32_FIND_DATAW& wide, WIN32_FIND_DATAA* ansi) {
  ansi->dwFileAttributes = wide.dwFileAttributes;
  ansi->ftCreationTime = wide.ftCreationTime;
  ansi->ftLastAccessTime = wide.ftLastAccessTime;
  ansi->ftLastWriteTime = wide.ftLastWriteTime;
  ansi->nFileSizeHigh = wide.nFileSizeHigh;
  ansi->nFileSizeLow = wide.nFileSizeLow;
  ansi->dwReserved0 = 0;
  ansi->dwReserved1 = 0;
  std::string name = AnsiFromWide(wide.cFileName);
  size_t n = std::min<size_t>(name.size(), MAX_PATH - 1);
  std::memcpy(ansi->cFileName, name.data(), n);
  ansi->cFileName[n] = '\0';
  ansi->cAlternateFileName[0] = '\0';
}

}  // namespace
}  // namespace pal

HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
  Result<std::unique_ptr<pal::FindObject>> find = pal::StartSearch(lpFileName);
  if (!find.ok()) return pal::Fail(find.error(), INVALID_HANDLE_VALUE);
  if (lpFindFileData != nullptr) *lpFindFileData = (*find)->entries[0];
  (*find)->next = 1;
  return pal::IssueHandle(std::move(*find));
}

BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
  auto find = pal::LookupHandleAs<pal::FindObject>(hFindFile, pal::HandleKind::kFind);
  if (find == nullptr) return FALSE;
  std::lock_guard lock(find->mutex);
  if (find->next >= find->entries.size()) return pal::Fail(pal::Win32Error(ERROR_NO_MORE_FILES), FALSE);
  if (lpFindFileData != nullptr) *lpFindFileData = find->entries[find->next];
  ++find->next;
  return TRUE;
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (lpFileName == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE);
  WIN32_FIND_DATAW wide;
  HANDLE h = FindFirstFileW(pal::Wide(lpFileName).c_str(), &wide);
  if (h != INVALID_HANDLE_VALUE && lpFindFileData != nullptr) pal::ToAnsiFindData(wide, lpFindFileData);
  return h;
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  WIN32_FIND_DATAW wide;
  if (!FindNextFileW(hFindFile, &wide)) return FALSE;
  if (lpFindFileData != nullptr) pal::ToAnsiFindData(wide, lpFindFileData);
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
  if (pal::LookupHandleAs<pal::FindObject>(hFindFile, pal::HandleKind::kFind) == nullptr) return FALSE;
  return pal::RetireHandle(hFindFile) ? TRUE : pal::Fail(pal::Win32Error(ERROR_INVALID_HANDLE), FALSE);
}

// ---- Run-time streams -------------------------------------------------------------------------

namespace pal {
namespace {

struct StreamCookie {
  std::shared_ptr<FileCore> core;
  bool text = true;
  bool pending_cr = false;
  std::string carry;  // translated input that did not fit the caller's buffer
};

ssize_t StreamRead(void* cookie, char* buf, size_t size) {
  auto* s = static_cast<StreamCookie*>(cookie);
  int fd = s->core->fd.get();
  if (!s->text) {
    ssize_t n;
    do {
      n = read(fd, buf, size);
    } while (n < 0 && errno == EINTR);
    return n;
  }
  while (s->carry.empty()) {
    char raw[8192];
    ssize_t n;
    do {
      n = read(fd, raw, std::min(size, sizeof raw));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -1;
    s->carry = FromCrLf(std::string_view(raw, static_cast<size_t>(n)), &s->pending_cr, n == 0);
    if (n == 0) break;
  }
  size_t take = std::min(size, s->carry.size());
  std::memcpy(buf, s->carry.data(), take);
  s->carry.erase(0, take);
  return static_cast<ssize_t>(take);
}

ssize_t StreamWrite(void* cookie, const char* buf, size_t size) {
  auto* s = static_cast<StreamCookie*>(cookie);
  if (!s->text) {
    if (!WriteAll(s->core->fd.get(), buf, size)) return -1;
    return static_cast<ssize_t>(size);
  }
  // Translated on the stack: a logger writes and flushes a line per record and must not
  // allocate for it. A stream buffer's worth (8 KiB) doubled still fits in one write.
  char translated[16384];
  size_t used = 0;
  for (size_t i = 0; i < size; ++i) {
    if (used + 2 > sizeof translated) {
      if (!WriteAll(s->core->fd.get(), translated, used)) return -1;
      used = 0;
    }
    if (buf[i] == '\n') translated[used++] = '\r';
    translated[used++] = buf[i];
  }
  if (used > 0 && !WriteAll(s->core->fd.get(), translated, used)) return -1;
  return static_cast<ssize_t>(size);
}

int StreamSeek(void* cookie, off64_t* offset, int whence) {
  auto* s = static_cast<StreamCookie*>(cookie);
  s->carry.clear();
  s->pending_cr = false;
  off64_t result = lseek64(s->core->fd.get(), *offset, whence);
  if (result < 0) return -1;
  *offset = result;
  return 0;
}

int StreamClose(void* cookie) {
  delete static_cast<StreamCookie*>(cookie);
  return 0;
}

int ErrnoFromWin32(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_SHARING_VIOLATION:
    case ERROR_ACCESS_DENIED:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_DISK_FULL: return ENOSPC;
    case ERROR_INVALID_PARAMETER: return EINVAL;
    default: return EIO;
  }
}

FILE* FailStream(std::error_code ec) {
  SetLastError(static_cast<DWORD>(ec.value()));
  errno = ErrnoFromWin32(static_cast<DWORD>(ec.value()));
  return nullptr;
}

}  // namespace
}  // namespace pal

FILE* _wfsopen(const wchar_t* filename, const wchar_t* mode, int shflag) {
  if (filename == nullptr || mode == nullptr) return pal::FailStream(pal::Win32Error(ERROR_INVALID_PARAMETER));
  std::optional<pal::StreamMode> parsed = pal::ParseStreamMode(mode);
  if (!parsed) return pal::FailStream(pal::Win32Error(ERROR_INVALID_PARAMETER));
  std::optional<unsigned> share = pal::ShareFromFlag(shflag, parsed->access);
  if (!share) return pal::FailStream(pal::Win32Error(ERROR_INVALID_PARAMETER));
  Result<std::string> host = pal::MapPath(filename);
  if (!host.ok()) return pal::FailStream(host.error());
  pal::OpenRequest request;
  request.host = *host;
  request.access = parsed->access;
  request.share = *share;
  request.disposition = parsed->disposition;
  request.append_only = parsed->append;
  Result<pal::Opened> opened = pal::OpenShared(request);
  if (!opened.ok()) return pal::FailStream(opened.error());
  auto cookie = std::make_unique<pal::StreamCookie>();
  cookie->core = std::move(opened->core);
  cookie->text = parsed->text;
  cookie_io_functions_t functions{pal::StreamRead, pal::StreamWrite, pal::StreamSeek, pal::StreamClose};
  FILE* stream = fopencookie(cookie.get(), parsed->host_mode, functions);
  if (stream == nullptr) return pal::FailStream(pal::ErrnoError());
  cookie.release();  // owned by the stream from here on; fclose frees it
  return stream;
}

FILE* _wfopen(const wchar_t* filename, const wchar_t* mode) { return _wfsopen(filename, mode, 0x40); }

int _wfopen_s(FILE** pFile, const wchar_t* filename, const wchar_t* mode) {
  if (pFile == nullptr) return EINVAL;
  *pFile = _wfsopen(filename, mode, 0x80);
  return *pFile != nullptr ? 0 : errno;
}
