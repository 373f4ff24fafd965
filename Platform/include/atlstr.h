// ATL's string class subset: CStringT over wide characters (CString, CStringW) and over ANSI
// characters (CStringA). Conversions between the two use the ANSI code page, formatting
// follows the Microsoft C run-time conventions (in a wide format %s takes a wide string).
// Differs from ATL: the buffer is not shared copy-on-write between copies; every copy owns
// its characters. GetBuffer's pointer stays valid until the next change of the string.
#pragma once

#include <cstdarg>
#include <string>

#include "atlbase.h"

namespace ATL {

template <class XCHAR>
class CStringT {
 public:
  using XCHAR_T = XCHAR;
  using YCHAR = std::conditional_t<sizeof(XCHAR) == 1, wchar_t, char>;
  using PCXSTR = const XCHAR*;
  using PXSTR = XCHAR*;
  using PCYSTR = const YCHAR*;

  CStringT() = default;
  CStringT(const CStringT&) = default;
  CStringT(CStringT&&) noexcept = default;
  CStringT(PCXSTR psz) { Assign(psz); }  // NOLINT: implicit as in ATL
  CStringT(PCYSTR psz) { Assign(psz); }  // NOLINT: converts through the ANSI code page
  CStringT(PCXSTR pch, int nLength);
  CStringT(XCHAR ch, int nRepeat = 1);
  CStringT(const CStringT<YCHAR>& other) : CStringT(other.GetString()) {}  // NOLINT

  CStringT& operator=(const CStringT&) = default;
  CStringT& operator=(CStringT&&) noexcept = default;
  CStringT& operator=(PCXSTR psz) { Assign(psz); return *this; }
  CStringT& operator=(PCYSTR psz) { Assign(psz); return *this; }
  CStringT& operator=(XCHAR ch) { s_.assign(1, ch); return *this; }
  CStringT& operator=(const CStringT<YCHAR>& other) { Assign(other.GetString()); return *this; }

  CStringT& operator+=(const CStringT& str) { s_ += str.s_; return *this; }
  CStringT& operator+=(PCXSTR psz) { if (psz != nullptr) s_ += psz; return *this; }
  CStringT& operator+=(XCHAR ch) { s_ += ch; return *this; }

  int GetLength() const { return static_cast<int>(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  void Empty() { s_.clear(); }
  PCXSTR GetString() const { return s_.c_str(); }
  operator PCXSTR() const { return s_.c_str(); }  // NOLINT: implicit as in ATL
  XCHAR GetAt(int iChar) const;
  XCHAR operator[](int iChar) const { return GetAt(iChar); }
  void SetAt(int iChar, XCHAR ch);

  // A writable buffer of at least nMinBufferLength characters plus the terminator;
  // ReleaseBuffer ends the string at nNewLength, or at the first NUL when -1.
  PXSTR GetBuffer();
  PXSTR GetBuffer(int nMinBufferLength);
  PXSTR GetBufferSetLength(int nLength);
  void ReleaseBuffer(int nNewLength = -1);

  // Formats with the C run-time conventions of the character type; the string is replaced
  // (Format) or extended (AppendFormat).
  void Format(PCXSTR pszFormat, ...);
  void AppendFormat(PCXSTR pszFormat, ...);
  void FormatV(PCXSTR pszFormat, va_list args);
  void AppendFormatV(PCXSTR pszFormat, va_list args);

  void Append(PCXSTR psz) { *this += psz; }
  void AppendChar(XCHAR ch) { s_ += ch; }
  int Insert(int iIndex, PCXSTR psz);
  int Delete(int iIndex, int nCount = 1);
  int Replace(PCXSTR pszOld, PCXSTR pszNew);
  int Replace(XCHAR chOld, XCHAR chNew);

  int Compare(PCXSTR psz) const;
  int CompareNoCase(PCXSTR psz) const;
  int Find(XCHAR ch, int iStart = 0) const;
  int Find(PCXSTR pszSub, int iStart = 0) const;
  int ReverseFind(XCHAR ch) const;

  CStringT Left(int nCount) const;
  CStringT Right(int nCount) const;
  CStringT Mid(int iFirst) const;
  CStringT Mid(int iFirst, int nCount) const;
  CStringT& MakeUpper();
  CStringT& MakeLower();
  CStringT& Trim();
  CStringT& TrimLeft();
  CStringT& TrimRight();

  friend CStringT operator+(const CStringT& a, const CStringT& b) { CStringT r(a); r += b; return r; }
  friend CStringT operator+(const CStringT& a, PCXSTR b) { CStringT r(a); r += b; return r; }
  friend CStringT operator+(PCXSTR a, const CStringT& b) { CStringT r(a); r += b; return r; }
  friend CStringT operator+(const CStringT& a, XCHAR b) { CStringT r(a); r += b; return r; }
  friend bool operator==(const CStringT& a, const CStringT& b) { return a.s_ == b.s_; }
  friend bool operator==(const CStringT& a, PCXSTR b) { return a.Compare(b) == 0; }
  friend bool operator==(PCXSTR a, const CStringT& b) { return b.Compare(a) == 0; }
  friend bool operator!=(const CStringT& a, const CStringT& b) { return a.s_ != b.s_; }
  friend bool operator!=(const CStringT& a, PCXSTR b) { return a.Compare(b) != 0; }
  friend bool operator!=(PCXSTR a, const CStringT& b) { return b.Compare(a) != 0; }
  friend bool operator<(const CStringT& a, const CStringT& b) { return a.s_ < b.s_; }

 private:
  void Assign(PCXSTR psz);
  void Assign(PCYSTR psz);

  std::basic_string<XCHAR> s_;
};

extern template class CStringT<wchar_t>;
extern template class CStringT<char>;

}  // namespace ATL

using CStringW = ATL::CStringT<wchar_t>;
using CStringA = ATL::CStringT<char>;
using CString = CStringW;
