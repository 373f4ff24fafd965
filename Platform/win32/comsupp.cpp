// The parts of the COM support library that the compiler's comutil.h declares but does not
// define: conversions between ANSI strings and BSTRs, in the ANSI code page. They report a
// conversion failure by raising _com_error, as the support library does; a null input gives
// a null result.
#include <windows.h>
#include <comdef.h>

#include <new>

namespace _com_util {

BSTR WINAPI ConvertStringToBSTR(const char* pSrc) {
  if (pSrc == nullptr) return nullptr;
  int length = MultiByteToWideChar(CP_ACP, 0, pSrc, -1, nullptr, 0);
  if (length <= 0) _com_issue_error(HRESULT_FROM_WIN32(GetLastError()));
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
  if (result == nullptr) _com_issue_error(E_OUTOFMEMORY);
  if (MultiByteToWideChar(CP_ACP, 0, pSrc, -1, result, length) <= 0) {
    HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
    SysFreeString(result);
    _com_issue_error(hr);
  }
  return result;
}

char* WINAPI ConvertBSTRToString(BSTR pSrc) {
  if (pSrc == nullptr) return nullptr;
  // A BSTR carries its length and may hold NUL characters; all of them are converted.
  int wide_length = static_cast<int>(SysStringLen(pSrc));
  int bytes = 0;
  if (wide_length > 0) {
    bytes = WideCharToMultiByte(CP_ACP, 0, pSrc, wide_length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) _com_issue_error(HRESULT_FROM_WIN32(GetLastError()));
  }
  // The support library's callers release the result with delete[].
  char* result = new (std::nothrow) char[static_cast<size_t>(bytes) + 1];
  if (result == nullptr) _com_issue_error(E_OUTOFMEMORY);
  if (bytes > 0 &&
      WideCharToMultiByte(CP_ACP, 0, pSrc, wide_length, result, bytes, nullptr, nullptr) <= 0) {
    HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
    delete[] result;
    _com_issue_error(hr);
  }
  result[bytes] = '\0';
  return result;
}

}  // namespace _com_util
