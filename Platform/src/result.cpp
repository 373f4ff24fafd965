#include "result.h"

#include <string>

#include "pal/errors.h"

namespace pal {
namespace {

class Win32ErrorCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "win32"; }
  std::string message(int code) const override { return "Win32 error " + std::to_string(code); }
};

thread_local DWORD t_last_error = 0;

}  // namespace

const std::error_category& Win32Category() {
  static const Win32ErrorCategory category;
  return category;
}

DWORD Win32FromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EBUSY: return ERROR_BUSY;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case EXDEV: return 17 /* ERROR_NOT_SAME_DEVICE */;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case EIO: return ERROR_GEN_FAILURE;
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    default: return ERROR_GEN_FAILURE;
  }
}

}  // namespace pal

DWORD WINAPI GetLastError() { return pal::t_last_error; }
void WINAPI SetLastError(DWORD code) { pal::t_last_error = code; }
