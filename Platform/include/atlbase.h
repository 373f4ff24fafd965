// The ATL basics the class subsets rely on: ATL's exception type, its throw helper and its
// assertion macros. Failures that ATL reports by throwing (invalid arguments to CTime, for
// instance) throw CAtlException here too.
#pragma once

#include <windows.h>

#ifndef E_INVALIDARG
#define E_INVALIDARG ((HRESULT)0x80070057L)
#endif
#ifndef E_OUTOFMEMORY
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#endif
#ifndef E_FAIL
#define E_FAIL ((HRESULT)0x80004005L)
#endif

namespace ATL {

class CAtlException {
 public:
  explicit CAtlException(HRESULT hr = E_FAIL) noexcept : m_hr(hr) {}
  operator HRESULT() const noexcept { return m_hr; }
  HRESULT m_hr;
};

[[noreturn]] inline void AtlThrow(HRESULT hr) { throw CAtlException(hr); }

}  // namespace ATL

#ifndef ATLASSERT
#define ATLASSERT(expr) ((void)0)
#endif
#define ATLENSURE_THROW(expr, hr) \
  do {                            \
    if (!(expr)) ::ATL::AtlThrow(hr); \
  } while (0)
#define ATLENSURE(expr) ATLENSURE_THROW(expr, E_FAIL)

#ifndef _ATL_NO_AUTOMATIC_NAMESPACE
using namespace ATL;
#endif
