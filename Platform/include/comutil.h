// The COM string and variant wrappers. Both raise _com_error (see comdef.h) with
// E_OUTOFMEMORY when a string cannot be allocated, and with the failing HRESULT when a
// variant cannot be copied or cleared.
#pragma once

#include "ole2.h"

// Throws _com_error(hr).
[[noreturn]] void WINAPI _com_issue_error(HRESULT hr);

class _variant_t;

// A reference-counted wide string whose copies share one BSTR. The narrow form is made on
// demand in the ANSI code page and kept with it.
class _bstr_t {
 public:
  _bstr_t() noexcept = default;
  _bstr_t(const _bstr_t& s) noexcept;
  _bstr_t(const wchar_t* s);
  _bstr_t(const char* s);
  // Takes `bstr` over (fCopy false) or copies it (fCopy true).
  _bstr_t(BSTR bstr, bool fCopy);
  ~_bstr_t();

  _bstr_t& operator=(const _bstr_t& s) noexcept;
  _bstr_t& operator=(const wchar_t* s);
  _bstr_t& operator=(const char* s);
  _bstr_t& operator+=(const _bstr_t& s);
  _bstr_t operator+(const _bstr_t& s) const;

  operator const wchar_t*() const noexcept;
  operator wchar_t*() const noexcept;
  operator const char*() const;
  operator char*() const;
  bool operator!() const noexcept;
  bool operator==(const _bstr_t& s) const noexcept;
  bool operator!=(const _bstr_t& s) const noexcept;

  // A new BSTR the caller owns (fCopy true), or the wrapped one itself (fCopy false).
  BSTR copy(bool fCopy = true) const;
  unsigned int length() const noexcept;
  // Wraps `s` without copying, releasing what was wrapped before.
  void Attach(BSTR s);
  // Gives the BSTR away; the wrapper is empty afterwards.
  BSTR Detach();
  // The wrapped BSTR's address, for use as an output argument (what was wrapped is freed).
  BSTR* GetAddress();
  BSTR& GetBSTR();

 private:
  struct Data;
  void Release() noexcept;
  void Own(BSTR s);
  Data* data_ = nullptr;
};

// A VARIANT that clears itself. A _variant_t may be passed where a VARIANT is taken by
// value: the callee sees the same contents without owning them.
class _variant_t : public ::tagVARIANT {
 public:
  _variant_t() noexcept;
  _variant_t(const VARIANT& var);
  _variant_t(const _variant_t& var);
  _variant_t(VARIANT& var, bool fCopy);
  _variant_t(short s, VARTYPE vt = VT_I2);
  _variant_t(long l, VARTYPE vt = VT_I4);
  _variant_t(int i);
  _variant_t(bool b);
  _variant_t(const _bstr_t& s);
  _variant_t(const wchar_t* s);
  _variant_t(const char* s);
  ~_variant_t();

  _variant_t& operator=(const VARIANT& var);
  _variant_t& operator=(const _variant_t& var);
  _variant_t& operator=(const wchar_t* s);
  _variant_t& operator=(const _bstr_t& s);

  void Clear();
  void Attach(VARIANT& var);
  VARIANT Detach();
};
