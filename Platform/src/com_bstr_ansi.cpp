// The narrow faces of the COM wrappers, converted in the ANSI code page.

#include <windows.h>

#include <new>

#include "com_bstr.h"
#include "comdef.h"

namespace {

BSTR WideFromAnsi(const char* s) {
  if (s == nullptr) return nullptr;
  int length = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
  if (length <= 0) _com_issue_error(HRESULT_FROM_WIN32(GetLastError()));
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
  if (result == nullptr) _com_issue_error(E_OUTOFMEMORY);
  MultiByteToWideChar(CP_ACP, 0, s, -1, result, length);
  return result;
}

}  // namespace

_bstr_t::_bstr_t(const char* s) { Own(WideFromAnsi(s)); }

_bstr_t& _bstr_t::operator=(const char* s) {
  *this = _bstr_t(s);
  return *this;
}

_bstr_t::operator const char*() const { return static_cast<char*>(*this); }

_bstr_t::operator char*() const {
  if (data_ == nullptr || data_->wide == nullptr) return nullptr;
  if (data_->narrow == nullptr) {
    int wide_length = static_cast<int>(SysStringLen(data_->wide));
    int bytes = WideCharToMultiByte(CP_ACP, 0, data_->wide, wide_length, nullptr, 0, nullptr,
                                    nullptr);
    char* narrow = new (std::nothrow) char[static_cast<size_t>(bytes) + 1];
    if (narrow == nullptr) _com_issue_error(E_OUTOFMEMORY);
    WideCharToMultiByte(CP_ACP, 0, data_->wide, wide_length, narrow, bytes, nullptr, nullptr);
    narrow[bytes] = '\0';
    data_->narrow = narrow;
  }
  return data_->narrow;
}

_variant_t::_variant_t(const char* s) {
  VariantInit(this);
  vt = VT_BSTR;
  bstrVal = WideFromAnsi(s);
}
