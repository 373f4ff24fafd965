// CStringT on top of the Win32 text calls and the C run-time formatter of the layer.
#include <atlstr.h>

#include <algorithm>
#include <cwctype>
#include <cctype>

namespace ATL {
namespace {

// The layer's C run-time formatters, chosen by character type.
int CountFormatted(const wchar_t* fmt, va_list args) { return _vscwprintf(fmt, args); }
int CountFormatted(const char* fmt, va_list args) { return _vscprintf(fmt, args); }
int FormatInto(wchar_t* buf, size_t size, const wchar_t* fmt, va_list args) {
  return _vsnwprintf_s(buf, size, _TRUNCATE, fmt, args);
}
int FormatInto(char* buf, size_t size, const char* fmt, va_list args) {
  return _vsnprintf_s(buf, size, _TRUNCATE, fmt, args);
}

int CompareIgnoringCase(const wchar_t* a, const wchar_t* b) { return _wcsicmp(a, b); }
int CompareIgnoringCase(const char* a, const char* b) { return _stricmp(a, b); }

wchar_t Upper(wchar_t c) { return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c))); }
char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
wchar_t Lower(wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))); }
char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
bool Blank(wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; }
bool Blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Converts between the ANSI code page and wide characters the way ATL's conversion
// constructors do; an unconvertible input gives an empty string.
std::wstring Convert(const char* psz) {
  int n = MultiByteToWideChar(CP_ACP, 0, psz, -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  n = MultiByteToWideChar(CP_ACP, 0, psz, -1, out.data(), n);
  out.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return out;
}
std::string Convert(const wchar_t* psz) {
  int n = WideCharToMultiByte(CP_ACP, 0, psz, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<size_t>(n), '\0');
  n = WideCharToMultiByte(CP_ACP, 0, psz, -1, out.data(), n, nullptr, nullptr);
  out.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return out;
}

template <class XCHAR>
size_t Length(const XCHAR* psz) {
  return std::char_traits<XCHAR>::length(psz);
}

}  // namespace

template <class XCHAR>
CStringT<XCHAR>::CStringT(PCXSTR pch, int nLength) {
  if (nLength < 0) AtlThrow(E_INVALIDARG);
  if (pch == nullptr && nLength > 0) AtlThrow(E_INVALIDARG);
  if (nLength > 0) s_.assign(pch, static_cast<size_t>(nLength));
}

template <class XCHAR>
CStringT<XCHAR>::CStringT(XCHAR ch, int nRepeat) {
  if (nRepeat > 0) s_.assign(static_cast<size_t>(nRepeat), ch);
}

template <class XCHAR>
void CStringT<XCHAR>::Assign(PCXSTR psz) {
  if (psz == nullptr) {
    s_.clear();
  } else {
    s_.assign(psz);
  }
}

template <class XCHAR>
void CStringT<XCHAR>::Assign(PCYSTR psz) {
  if (psz == nullptr) {
    s_.clear();
  } else {
    s_ = Convert(psz);
  }
}

template <class XCHAR>
XCHAR CStringT<XCHAR>::GetAt(int iChar) const {
  if (iChar < 0 || iChar > GetLength()) AtlThrow(E_INVALIDARG);
  return s_.c_str()[iChar];
}

template <class XCHAR>
void CStringT<XCHAR>::SetAt(int iChar, XCHAR ch) {
  if (iChar < 0 || iChar >= GetLength()) AtlThrow(E_INVALIDARG);
  s_[static_cast<size_t>(iChar)] = ch;
}

template <class XCHAR>
typename CStringT<XCHAR>::PXSTR CStringT<XCHAR>::GetBuffer() {
  return s_.data();
}

template <class XCHAR>
typename CStringT<XCHAR>::PXSTR CStringT<XCHAR>::GetBuffer(int nMinBufferLength) {
  if (nMinBufferLength < 0) AtlThrow(E_INVALIDARG);
  size_t keep = s_.size();
  if (static_cast<size_t>(nMinBufferLength) > keep) {
    s_.resize(static_cast<size_t>(nMinBufferLength), XCHAR(0));
  }
  return s_.data();
}

template <class XCHAR>
typename CStringT<XCHAR>::PXSTR CStringT<XCHAR>::GetBufferSetLength(int nLength) {
  if (nLength < 0) AtlThrow(E_INVALIDARG);
  s_.resize(static_cast<size_t>(nLength), XCHAR(0));
  return s_.data();
}

template <class XCHAR>
void CStringT<XCHAR>::ReleaseBuffer(int nNewLength) {
  if (nNewLength < 0) {
    nNewLength = static_cast<int>(Length(s_.c_str()));
  }
  if (static_cast<size_t>(nNewLength) > s_.size()) AtlThrow(E_INVALIDARG);
  s_.resize(static_cast<size_t>(nNewLength));
}

template <class XCHAR>
void CStringT<XCHAR>::FormatV(PCXSTR pszFormat, va_list args) {
  s_.clear();
  AppendFormatV(pszFormat, args);
}

template <class XCHAR>
void CStringT<XCHAR>::AppendFormatV(PCXSTR pszFormat, va_list args) {
  if (pszFormat == nullptr) AtlThrow(E_INVALIDARG);
  va_list count_args;
  va_copy(count_args, args);
  int n = CountFormatted(pszFormat, count_args);
  va_end(count_args);
  if (n < 0) AtlThrow(E_INVALIDARG);
  size_t old = s_.size();
  s_.resize(old + static_cast<size_t>(n));
  // The string's own terminator slot gives the formatter its room for the NUL.
  FormatInto(s_.data() + old, static_cast<size_t>(n) + 1, pszFormat, args);
}

template <class XCHAR>
void CStringT<XCHAR>::Format(PCXSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  FormatV(pszFormat, args);
  va_end(args);
}

template <class XCHAR>
void CStringT<XCHAR>::AppendFormat(PCXSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  AppendFormatV(pszFormat, args);
  va_end(args);
}

template <class XCHAR>
int CStringT<XCHAR>::Insert(int iIndex, PCXSTR psz) {
  iIndex = std::clamp(iIndex, 0, GetLength());
  if (psz != nullptr) s_.insert(static_cast<size_t>(iIndex), psz);
  return GetLength();
}

template <class XCHAR>
int CStringT<XCHAR>::Delete(int iIndex, int nCount) {
  iIndex = std::max(iIndex, 0);
  if (nCount > 0 && iIndex < GetLength()) {
    s_.erase(static_cast<size_t>(iIndex), static_cast<size_t>(nCount));
  }
  return GetLength();
}

template <class XCHAR>
int CStringT<XCHAR>::Replace(PCXSTR pszOld, PCXSTR pszNew) {
  if (pszOld == nullptr || *pszOld == 0) return 0;
  std::basic_string<XCHAR> old_text(pszOld);
  std::basic_string<XCHAR> new_text;
  if (pszNew != nullptr) new_text = pszNew;
  int count = 0;
  size_t pos = 0;
  while ((pos = s_.find(old_text, pos)) != std::basic_string<XCHAR>::npos) {
    s_.replace(pos, old_text.size(), new_text);
    pos += new_text.size();
    ++count;
  }
  return count;
}

template <class XCHAR>
int CStringT<XCHAR>::Replace(XCHAR chOld, XCHAR chNew) {
  int count = 0;
  for (XCHAR& c : s_) {
    if (c == chOld) {
      c = chNew;
      ++count;
    }
  }
  return count;
}

template <class XCHAR>
int CStringT<XCHAR>::Compare(PCXSTR psz) const {
  int r = s_.compare(psz != nullptr ? psz : std::basic_string<XCHAR>().c_str());
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

template <class XCHAR>
int CStringT<XCHAR>::CompareNoCase(PCXSTR psz) const {
  int r = CompareIgnoringCase(s_.c_str(), psz != nullptr ? psz : std::basic_string<XCHAR>().c_str());
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

template <class XCHAR>
int CStringT<XCHAR>::Find(XCHAR ch, int iStart) const {
  if (iStart < 0 || iStart >= GetLength()) return -1;
  size_t pos = s_.find(ch, static_cast<size_t>(iStart));
  return pos == std::basic_string<XCHAR>::npos ? -1 : static_cast<int>(pos);
}

template <class XCHAR>
int CStringT<XCHAR>::Find(PCXSTR pszSub, int iStart) const {
  if (pszSub == nullptr || iStart < 0 || iStart > GetLength()) return -1;
  size_t pos = s_.find(pszSub, static_cast<size_t>(iStart));
  return pos == std::basic_string<XCHAR>::npos ? -1 : static_cast<int>(pos);
}

template <class XCHAR>
int CStringT<XCHAR>::ReverseFind(XCHAR ch) const {
  size_t pos = s_.rfind(ch);
  return pos == std::basic_string<XCHAR>::npos ? -1 : static_cast<int>(pos);
}

template <class XCHAR>
CStringT<XCHAR> CStringT<XCHAR>::Left(int nCount) const {
  nCount = std::clamp(nCount, 0, GetLength());
  return CStringT(s_.c_str(), nCount);
}

template <class XCHAR>
CStringT<XCHAR> CStringT<XCHAR>::Right(int nCount) const {
  nCount = std::clamp(nCount, 0, GetLength());
  return CStringT(s_.c_str() + (GetLength() - nCount), nCount);
}

template <class XCHAR>
CStringT<XCHAR> CStringT<XCHAR>::Mid(int iFirst) const {
  return Mid(iFirst, GetLength() - std::max(iFirst, 0));
}

template <class XCHAR>
CStringT<XCHAR> CStringT<XCHAR>::Mid(int iFirst, int nCount) const {
  iFirst = std::clamp(iFirst, 0, GetLength());
  nCount = std::clamp(nCount, 0, GetLength() - iFirst);
  return CStringT(s_.c_str() + iFirst, nCount);
}

template <class XCHAR>
CStringT<XCHAR>& CStringT<XCHAR>::MakeUpper() {
  for (XCHAR& c : s_) c = Upper(c);
  return *this;
}

template <class XCHAR>
CStringT<XCHAR>& CStringT<XCHAR>::MakeLower() {
  for (XCHAR& c : s_) c = Lower(c);
  return *this;
}

template <class XCHAR>
CStringT<XCHAR>& CStringT<XCHAR>::TrimLeft() {
  size_t i = 0;
  while (i < s_.size() && Blank(s_[i])) ++i;
  s_.erase(0, i);
  return *this;
}

template <class XCHAR>
CStringT<XCHAR>& CStringT<XCHAR>::TrimRight() {
  size_t n = s_.size();
  while (n > 0 && Blank(s_[n - 1])) --n;
  s_.resize(n);
  return *this;
}

template <class XCHAR>
CStringT<XCHAR>& CStringT<XCHAR>::Trim() {
  return TrimRight().TrimLeft();
}

template class CStringT<wchar_t>;
template class CStringT<char>;

}  // namespace ATL
