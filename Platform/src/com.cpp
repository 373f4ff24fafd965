// COM run-time: apartments, process security, object creation, BSTR and VARIANT.

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <new>

#include "com_bstr.h"
#include "com_object.h"
#include "comdef.h"
#include "objbase.h"
#include "oleauto.h"
#include "taskschd.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

struct ThreadApartment {
  int depth = 0;
  DWORD model = 0;
};
thread_local ThreadApartment t_apartment;

std::atomic<bool> g_security_set{false};

// Index of the BSTR allocation that is made to fail (PAL_COM_FAIL_ALLOC), 0 for none.
long FailingAllocation() {
  static const long index = [] {
    const char* env = std::getenv("PAL_COM_FAIL_ALLOC");
    return env != nullptr ? std::strtol(env, nullptr, 10) : 0L;
  }();
  return index;
}
std::atomic<long> g_allocations{0};

bool AllocationAllowed() {
  long fail_at = FailingAllocation();
  return fail_at <= 0 || ++g_allocations != fail_at;
}

// A BSTR is preceded by the byte length of its characters.
constexpr size_t kPrefix = sizeof(uint32_t);
constexpr size_t kMaxChars = (0x7FFFFFFFu - kPrefix) / sizeof(OLECHAR) - 1;

}  // namespace

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  constexpr DWORD kKnownFlags =
      COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;
  if (pvReserved != nullptr || (dwCoInit & ~kKnownFlags) != 0) return E_INVALIDARG;
  DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
  if (t_apartment.depth > 0) {
    if (t_apartment.model != model) return RPC_E_CHANGED_MODE;
    ++t_apartment.depth;
    return S_FALSE;
  }
  t_apartment.depth = 1;
  t_apartment.model = model;
  return S_OK;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
  return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void WINAPI CoUninitialize() {
  if (t_apartment.depth > 0) --t_apartment.depth;
}

HRESULT WINAPI CoInitializeSecurity(PSECURITY_DESCRIPTOR, LONG cAuthSvc,
                                    SOLE_AUTHENTICATION_SERVICE* asAuthSvc, void* pReserved1,
                                    DWORD dwAuthnLevel, DWORD dwImpLevel, void*, DWORD,
                                    void* pReserved3) {
  if (t_apartment.depth == 0) return CO_E_NOTINITIALIZED;
  if (cAuthSvc < -1 || (cAuthSvc > 0 && asAuthSvc == nullptr) || pReserved1 != nullptr ||
      pReserved3 != nullptr || dwAuthnLevel > RPC_C_AUTHN_LEVEL_PKT_PRIVACY ||
      dwImpLevel > RPC_C_IMP_LEVEL_DELEGATE) {
    return E_INVALIDARG;
  }
  if (g_security_set.exchange(true)) return RPC_E_TOO_LATE;
  return S_OK;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (t_apartment.depth == 0) return CO_E_NOTINITIALIZED;
  if (!IsEqualCLSID(rclsid, CLSID_TaskScheduler) || (dwClsContext & CLSCTX_INPROC_SERVER) == 0) {
    return REGDB_E_CLASSNOTREG;
  }
  if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
  return pal::CreateTaskService(riid, ppv);
}

BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  if (ui > kMaxChars || !AllocationAllowed()) return nullptr;
  void* block = std::malloc(kPrefix + (size_t{ui} + 1) * sizeof(OLECHAR));
  if (block == nullptr) return nullptr;
  auto bytes = static_cast<uint32_t>(ui * sizeof(OLECHAR));
  std::memcpy(block, &bytes, kPrefix);
  auto* text = reinterpret_cast<OLECHAR*>(static_cast<char*>(block) + kPrefix);
  if (strIn != nullptr) {
    std::wmemcpy(text, strIn, ui);
  } else {
    std::wmemset(text, L'\0', ui);
  }
  text[ui] = L'\0';
  return text;
}

BSTR WINAPI SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  size_t length = std::wcslen(psz);
  if (length > kMaxChars) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(length));
}

INT WINAPI SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (pbstr == nullptr) return FALSE;
  BSTR fresh = SysAllocString(psz);
  if (fresh == nullptr && psz != nullptr) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

void WINAPI SysFreeString(BSTR bstrString) {
  if (bstrString != nullptr) std::free(reinterpret_cast<char*>(bstrString) - kPrefix);
}

UINT WINAPI SysStringByteLen(BSTR bstr) {
  if (bstr == nullptr) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<char*>(bstr) - kPrefix, kPrefix);
  return bytes;
}

UINT WINAPI SysStringLen(BSTR pbstr) {
  return SysStringByteLen(pbstr) / static_cast<UINT>(sizeof(OLECHAR));
}

void WINAPI VariantInit(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return;
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
  pvarg->llVal = 0;
}

namespace {

bool KnownType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8:
    case VT_DATE: case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL:
    case VT_UNKNOWN: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8:
    case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

}  // namespace

HRESULT WINAPI VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  if (!KnownType(pvarg->vt)) return DISP_E_BADVARTYPE;
  if (pvarg->vt == VT_BSTR) {
    SysFreeString(pvarg->bstrVal);
  } else if ((pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) && pvarg->punkVal != nullptr) {
    pvarg->punkVal->Release();
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (!KnownType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if (pvargDest == pvargSrc) return S_OK;
  HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  VARIANT copy = *pvargSrc;
  if (copy.vt == VT_BSTR && copy.bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
    if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
  } else if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal != nullptr) {
    copy.punkVal->AddRef();
  }
  *pvargDest = copy;
  return S_OK;
}

// ---- _com_error ----

void WINAPI _com_issue_error(HRESULT hr) { throw _com_error(hr); }

_com_error::_com_error(HRESULT hr, IErrorInfo*, bool) noexcept : hr_(hr) {}
_com_error::_com_error(const _com_error& that) noexcept : hr_(that.hr_) {}
_com_error::~_com_error() = default;
_com_error& _com_error::operator=(const _com_error& that) noexcept {
  hr_ = that.hr_;
  return *this;
}

WORD _com_error::WCode() const noexcept {
  return HRESULT_FACILITY(hr_) == FACILITY_WIN32 ? static_cast<WORD>(HRESULT_CODE(hr_)) : 0;
}

const wchar_t* _com_error::ErrorMessage() const {
  switch (hr_) {
    case E_OUTOFMEMORY:
      return L"Not enough memory resources are available to complete this operation.";
    case E_INVALIDARG:
      return L"The parameter is incorrect.";
    case E_FAIL:
      return L"Unspecified error";
    default:
      break;
  }
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  const wchar_t kLead[] = L"Unknown error 0x";
  std::wmemcpy(message_, kLead, std::wcslen(kLead));
  size_t at = std::wcslen(kLead);
  auto value = static_cast<uint32_t>(hr_);
  for (int shift = 28; shift >= 0; shift -= 4) message_[at++] = kDigits[(value >> shift) & 0xF];
  message_[at] = L'\0';
  return message_;
}

// ---- _bstr_t ----

void _bstr_t::Release() noexcept {
  if (data_ != nullptr && --data_->refs == 0) delete data_;
  data_ = nullptr;
}

// Wraps an owned BSTR in fresh data; frees it again if the data cannot be allocated.
void _bstr_t::Own(BSTR s) {
  Data* data = new (std::nothrow) Data;
  if (data == nullptr) {
    SysFreeString(s);
    _com_issue_error(E_OUTOFMEMORY);
  }
  data->wide = s;
  Release();
  data_ = data;
}

_bstr_t::_bstr_t(const _bstr_t& s) noexcept : data_(s.data_) {
  if (data_ != nullptr) ++data_->refs;
}

_bstr_t::_bstr_t(const wchar_t* s) {
  BSTR copy = SysAllocString(s);
  if (copy == nullptr && s != nullptr) _com_issue_error(E_OUTOFMEMORY);
  Own(copy);
}

_bstr_t::_bstr_t(BSTR bstr, bool fCopy) {
  if (!fCopy) {
    Own(bstr);
    return;
  }
  BSTR copy = bstr != nullptr ? SysAllocStringLen(bstr, SysStringLen(bstr)) : nullptr;
  if (copy == nullptr && bstr != nullptr) _com_issue_error(E_OUTOFMEMORY);
  Own(copy);
}

_bstr_t::~_bstr_t() { Release(); }

_bstr_t& _bstr_t::operator=(const _bstr_t& s) noexcept {
  if (s.data_ != data_) {
    if (s.data_ != nullptr) ++s.data_->refs;
    Release();
    data_ = s.data_;
  }
  return *this;
}

_bstr_t& _bstr_t::operator=(const wchar_t* s) {
  *this = _bstr_t(s);
  return *this;
}

_bstr_t& _bstr_t::operator+=(const _bstr_t& s) {
  UINT left = length();
  UINT right = s.length();
  BSTR joined = SysAllocStringLen(nullptr, left + right);
  if (joined == nullptr) _com_issue_error(E_OUTOFMEMORY);
  if (left > 0) std::wmemcpy(joined, data_->wide, left);
  if (right > 0) std::wmemcpy(joined + left, s.data_->wide, right);
  Own(joined);
  return *this;
}

_bstr_t _bstr_t::operator+(const _bstr_t& s) const {
  _bstr_t result(*this);
  result += s;
  return result;
}

_bstr_t::operator const wchar_t*() const noexcept {
  return data_ != nullptr ? data_->wide : nullptr;
}
_bstr_t::operator wchar_t*() const noexcept { return data_ != nullptr ? data_->wide : nullptr; }

bool _bstr_t::operator!() const noexcept { return data_ == nullptr || data_->wide == nullptr; }

bool _bstr_t::operator==(const _bstr_t& s) const noexcept {
  UINT n = length();
  if (n != s.length()) return false;
  return n == 0 || std::wmemcmp(data_->wide, s.data_->wide, n) == 0;
}
bool _bstr_t::operator!=(const _bstr_t& s) const noexcept { return !(*this == s); }

BSTR _bstr_t::copy(bool fCopy) const {
  if (data_ == nullptr || data_->wide == nullptr) return nullptr;
  if (!fCopy) return data_->wide;
  BSTR result = SysAllocStringLen(data_->wide, SysStringLen(data_->wide));
  if (result == nullptr) _com_issue_error(E_OUTOFMEMORY);
  return result;
}

unsigned int _bstr_t::length() const noexcept {
  return data_ != nullptr ? SysStringLen(data_->wide) : 0;
}

void _bstr_t::Attach(BSTR s) { Own(s); }

BSTR _bstr_t::Detach() {
  if (data_ == nullptr) return nullptr;
  if (data_->refs == 1) {
    BSTR s = data_->wide;
    data_->wide = nullptr;
    Release();
    return s;
  }
  // Shared with other copies: they keep theirs, the caller gets a string of its own.
  BSTR s = copy(true);
  Release();
  return s;
}

BSTR* _bstr_t::GetAddress() {
  Own(nullptr);
  return &data_->wide;
}

BSTR& _bstr_t::GetBSTR() {
  if (data_ == nullptr) Own(nullptr);
  return data_->wide;
}

// ---- _variant_t ----

_variant_t::_variant_t() noexcept { VariantInit(this); }

_variant_t::_variant_t(const VARIANT& var) {
  VariantInit(this);
  HRESULT hr = VariantCopy(this, &var);
  if (FAILED(hr)) _com_issue_error(hr);
}

_variant_t::_variant_t(const _variant_t& var) : _variant_t(static_cast<const VARIANT&>(var)) {}

_variant_t::_variant_t(VARIANT& var, bool fCopy) {
  VariantInit(this);
  if (fCopy) {
    HRESULT hr = VariantCopy(this, &var);
    if (FAILED(hr)) _com_issue_error(hr);
  } else {
    *static_cast<VARIANT*>(this) = var;
    var.vt = VT_EMPTY;
  }
}

_variant_t::_variant_t(short s, VARTYPE vt) {
  VariantInit(this);
  if (vt == VT_BOOL) {
    this->vt = VT_BOOL;
    boolVal = s != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  } else {
    this->vt = VT_I2;
    iVal = s;
  }
}

_variant_t::_variant_t(long l, VARTYPE vt) {
  VariantInit(this);
  if (vt == VT_ERROR) {
    this->vt = VT_ERROR;
    scode = static_cast<SCODE>(l);
  } else if (vt == VT_BOOL) {
    this->vt = VT_BOOL;
    boolVal = l != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  } else {
    this->vt = VT_I4;
    lVal = static_cast<LONG>(l);
  }
}

_variant_t::_variant_t(int i) {
  VariantInit(this);
  vt = VT_INT;
  intVal = i;
}

_variant_t::_variant_t(bool b) {
  VariantInit(this);
  vt = VT_BOOL;
  boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
}

_variant_t::_variant_t(const _bstr_t& s) {
  VariantInit(this);
  BSTR copy = s.copy(true);
  vt = VT_BSTR;
  bstrVal = copy;
}

_variant_t::_variant_t(const wchar_t* s) {
  VariantInit(this);
  BSTR copy = SysAllocString(s);
  if (copy == nullptr && s != nullptr) _com_issue_error(E_OUTOFMEMORY);
  vt = VT_BSTR;
  bstrVal = copy;
}

_variant_t::~_variant_t() { VariantClear(this); }

_variant_t& _variant_t::operator=(const VARIANT& var) {
  if (&var != this) {
    HRESULT hr = VariantCopy(this, &var);
    if (FAILED(hr)) _com_issue_error(hr);
  }
  return *this;
}

_variant_t& _variant_t::operator=(const _variant_t& var) {
  return *this = static_cast<const VARIANT&>(var);
}

_variant_t& _variant_t::operator=(const wchar_t* s) {
  _variant_t fresh(s);
  Clear();
  *static_cast<VARIANT*>(this) = fresh.Detach();
  return *this;
}

_variant_t& _variant_t::operator=(const _bstr_t& s) {
  _variant_t fresh(s);
  Clear();
  *static_cast<VARIANT*>(this) = fresh.Detach();
  return *this;
}

void _variant_t::Clear() {
  HRESULT hr = VariantClear(this);
  if (FAILED(hr)) _com_issue_error(hr);
}

void _variant_t::Attach(VARIANT& var) {
  Clear();
  *static_cast<VARIANT*>(this) = var;
  var.vt = VT_EMPTY;
}

VARIANT _variant_t::Detach() {
  VARIANT result = *this;
  VariantInit(this);
  return result;
}
