// COM support: the error object that the COM wrappers throw, and the wrappers themselves.
#pragma once

#include "comutil.h"

struct IErrorInfo;

class _com_error {
 public:
  explicit _com_error(HRESULT hr, IErrorInfo* perrinfo = nullptr, bool fAddRef = false) noexcept;
  _com_error(const _com_error& that) noexcept;
  virtual ~_com_error();
  _com_error& operator=(const _com_error& that) noexcept;

  HRESULT Error() const noexcept { return hr_; }
  // The Win32 code inside a FACILITY_WIN32 result, else 0.
  WORD WCode() const noexcept;
  // A description of the result: a known message, or "Unknown error 0x%08lX".
  const wchar_t* ErrorMessage() const;

 private:
  HRESULT hr_;
  mutable wchar_t message_[64] = {};
};
