// Errors inside the layer are values: std::error_code in a category whose numbers are the
// Win32 error numbers. The Win32 face turns them into SetLastError and its return value.
#pragma once

#include <cerrno>
#include <system_error>
#include <utility>
#include <variant>

#include "pal/base.h"

namespace pal {

const std::error_category& Win32Category();

inline std::error_code Win32Error(DWORD code) { return {static_cast<int>(code), Win32Category()}; }

// Converts an errno value, taken right after the failing call, to its Win32 counterpart.
DWORD Win32FromErrno(int err);
inline std::error_code ErrnoError(int err = errno) { return Win32Error(Win32FromErrno(err)); }

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}  // NOLINT: implicit by design
  Result(std::error_code ec) : v_(ec) {}     // NOLINT
  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  T& operator*() { return value(); }
  T* operator->() { return &value(); }
  std::error_code error() const { return ok() ? std::error_code() : std::get<1>(v_); }

 private:
  std::variant<T, std::error_code> v_;
};

// Sets the thread's last error from an error code (0 when none) and returns `ret`.
template <class R>
R Fail(std::error_code ec, R ret) {
  SetLastError(static_cast<DWORD>(ec.value()));
  return ret;
}

}  // namespace pal
