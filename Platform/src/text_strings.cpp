// The run-time's string calls and Windows' lstr calls.
#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <string>

#include "pal/text.h"
#include "text_codepage.h"

namespace pal {
namespace {

template <class Char>
size_t Length(const Char* s) {
  size_t n = 0;
  while (s[n] != Char(0)) ++n;
  return n;
}

template <class Char>
errno_t CopyN(Char* dest, size_t size, const Char* src, size_t count) {
  if (dest == nullptr || size == 0) return EINVAL;
  if (src == nullptr) {
    dest[0] = Char(0);
    return EINVAL;
  }
  size_t n = 0;
  while (n < count && src[n] != Char(0)) ++n;
  if (n >= size) {
    if (count == _TRUNCATE) {
      std::memmove(dest, src, (size - 1) * sizeof(Char));
      dest[size - 1] = Char(0);
      return STRUNCATE;
    }
    dest[0] = Char(0);
    return ERANGE;
  }
  std::memmove(dest, src, n * sizeof(Char));
  dest[n] = Char(0);
  return 0;
}

template <class Char>
errno_t CatN(Char* dest, size_t size, const Char* src, size_t count) {
  if (dest == nullptr || size == 0) return EINVAL;
  size_t used = 0;
  while (used < size && dest[used] != Char(0)) ++used;
  if (used == size || src == nullptr) {
    // An unterminated destination or null source: the run-time empties the destination.
    dest[0] = Char(0);
    return EINVAL;
  }
  errno_t err = CopyN(dest + used, size - used, src, count);
  if (err == ERANGE) dest[0] = Char(0);
  return err;
}

template <class Char>
int CompareIgnoringAsciiCase(const Char* a, const Char* b, size_t count) {
  auto fold = [](Char c) -> int {
    int v = static_cast<int>(static_cast<std::make_unsigned_t<Char>>(c));
    return (v >= 'A' && v <= 'Z') ? v + 32 : v;
  };
  for (size_t i = 0; i < count; ++i) {
    int x = fold(a[i]);
    int y = fold(b[i]);
    if (x != y) return x - y;
    if (x == 0) return 0;
  }
  return 0;
}

template <class Char>
long long ParseDecimal(const Char* s, long long min, long long max) {
  if (s == nullptr) {
    errno = EINVAL;
    return 0;
  }
  while (*s == Char(' ') || (*s >= Char('\t') && *s <= Char('\r'))) ++s;
  bool negative = false;
  if (*s == Char('+') || *s == Char('-')) negative = *s++ == Char('-');
  unsigned long long v = 0;
  bool overflow = false;
  const unsigned long long limit = negative ? static_cast<unsigned long long>(-(min + 1)) + 1
                                            : static_cast<unsigned long long>(max);
  for (; *s >= Char('0') && *s <= Char('9'); ++s) {
    v = v * 10 + static_cast<unsigned>(*s - Char('0'));
    if (v > limit) {
      overflow = true;
      v = limit;
    }
  }
  if (overflow) {
    errno = ERANGE;
    return negative ? min : max;
  }
  return negative ? static_cast<long long>(0 - v) : static_cast<long long>(v);
}

template <class Char>
errno_t IntToText(int value, Char* buffer, size_t size, int radix) {
  if (buffer == nullptr || size == 0) return EINVAL;
  if (radix < 2 || radix > 36) {
    buffer[0] = Char(0);
    return EINVAL;
  }
  bool negative = radix == 10 && value < 0;
  unsigned v = negative ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  Char digits[40];
  size_t n = 0;
  do {
    digits[n++] = Char("0123456789abcdefghijklmnopqrstuvwxyz"[v % radix]);
    v /= radix;
  } while (v != 0);
  if (n + (negative ? 1 : 0) + 1 > size) {
    buffer[0] = Char(0);
    return ERANGE;
  }
  size_t pos = 0;
  if (negative) buffer[pos++] = Char('-');
  while (n > 0) buffer[pos++] = digits[--n];
  buffer[pos] = Char(0);
  return 0;
}

errno_t ChangeCase(wchar_t* s, size_t size, bool upper) {
  if (s == nullptr || size == 0) return EINVAL;
  size_t n = 0;
  while (n < size && s[n] != L'\0') ++n;
  if (n == size) {
    s[0] = L'\0';
    return EINVAL;
  }
  for (size_t i = 0; i < n; ++i) {
    if (upper && s[i] >= L'a' && s[i] <= L'z') s[i] -= 32;
    if (!upper && s[i] >= L'A' && s[i] <= L'Z') s[i] += 32;
  }
  return 0;
}

// Windows orders strings linguistically: case-insensitively first, and lower case before
// upper case only when the texts are otherwise equal. This reproduces that for the
// letters FoldCase knows, which is all the programs compare.
int LinguisticCompare(std::wstring_view a, std::wstring_view b, bool ignore_case) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    wchar_t x = FoldCase(a[i]);
    wchar_t y = FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  if (ignore_case) return 0;
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return FoldCase(a[i]) == a[i] ? -1 : 1;  // the lower-case one first
  }
  return 0;
}

int LstrCompare(const wchar_t* a, const wchar_t* b, bool ignore_case) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  return LinguisticCompare(a, b, ignore_case);
}

int LstrCompareA(const char* a, const char* b, bool ignore_case) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  return LinguisticCompare(WideFromAnsi(a), WideFromAnsi(b), ignore_case);
}

}  // namespace
}  // namespace pal

errno_t wcscpy_s(wchar_t* dest, size_t size, const wchar_t* src) {
  return pal::CopyN(dest, size, src, SIZE_MAX - 1);
}
errno_t wcsncpy_s(wchar_t* dest, size_t size, const wchar_t* src, size_t count) {
  return pal::CopyN(dest, size, src, count);
}
errno_t wcscat_s(wchar_t* dest, size_t size, const wchar_t* src) {
  return pal::CatN(dest, size, src, SIZE_MAX - 1);
}
errno_t wcsncat_s(wchar_t* dest, size_t size, const wchar_t* src, size_t count) {
  return pal::CatN(dest, size, src, count);
}
errno_t strcpy_s(char* dest, size_t size, const char* src) {
  return pal::CopyN(dest, size, src, SIZE_MAX - 1);
}
errno_t strncpy_s(char* dest, size_t size, const char* src, size_t count) {
  return pal::CopyN(dest, size, src, count);
}
errno_t strcat_s(char* dest, size_t size, const char* src) {
  return pal::CatN(dest, size, src, SIZE_MAX - 1);
}

int _wcsicmp(const wchar_t* a, const wchar_t* b) {
  return pal::CompareIgnoringAsciiCase(a, b, SIZE_MAX);
}
int _wcsnicmp(const wchar_t* a, const wchar_t* b, size_t count) {
  return pal::CompareIgnoringAsciiCase(a, b, count);
}
int _stricmp(const char* a, const char* b) { return pal::CompareIgnoringAsciiCase(a, b, SIZE_MAX); }
int _strnicmp(const char* a, const char* b, size_t count) {
  return pal::CompareIgnoringAsciiCase(a, b, count);
}

int _wtoi(const wchar_t* str) { return static_cast<int>(pal::ParseDecimal(str, INT_MIN, INT_MAX)); }
long _wtol(const wchar_t* str) {
  // The run-time's long is 32 bits.
  return static_cast<long>(pal::ParseDecimal(str, INT32_MIN, INT32_MAX));
}
long long _wtoi64(const wchar_t* str) { return pal::ParseDecimal(str, LLONG_MIN, LLONG_MAX); }
errno_t _itow_s(int value, wchar_t* buffer, size_t size, int radix) {
  return pal::IntToText(value, buffer, size, radix);
}
errno_t _itoa_s(int value, char* buffer, size_t size, int radix) {
  return pal::IntToText(value, buffer, size, radix);
}
errno_t _wcsupr_s(wchar_t* str, size_t size) { return pal::ChangeCase(str, size, true); }
errno_t _wcslwr_s(wchar_t* str, size_t size) { return pal::ChangeCase(str, size, false); }

errno_t _wsplitpath_s(const wchar_t* path, wchar_t* drive, size_t drive_size, wchar_t* dir,
                      size_t dir_size, wchar_t* fname, size_t fname_size, wchar_t* ext,
                      size_t ext_size) {
  struct Out {
    wchar_t* buffer;
    size_t size;
  };
  Out outs[4] = {{drive, drive_size}, {dir, dir_size}, {fname, fname_size}, {ext, ext_size}};
  auto reset = [&] {
    for (Out& o : outs) {
      if (o.buffer != nullptr && o.size > 0) o.buffer[0] = L'\0';
    }
  };
  bool bad = path == nullptr;
  for (const Out& o : outs) bad = bad || ((o.buffer == nullptr) != (o.size == 0));
  if (bad) {
    reset();
    errno = EINVAL;
    return EINVAL;
  }
  std::wstring_view rest(path);
  std::wstring_view parts[4];
  if (rest.size() >= 2 && rest[1] == L':') {
    parts[0] = rest.substr(0, 2);
    rest.remove_prefix(2);
  }
  size_t last_sep = rest.find_last_of(L"\\/");
  if (last_sep != std::wstring_view::npos) {
    parts[1] = rest.substr(0, last_sep + 1);
    rest.remove_prefix(last_sep + 1);
  }
  size_t dot = rest.find_last_of(L'.');
  if (dot != std::wstring_view::npos) {
    parts[3] = rest.substr(dot);
    rest = rest.substr(0, dot);
  }
  parts[2] = rest;
  for (int i = 0; i < 4; ++i) {
    if (outs[i].buffer != nullptr && parts[i].size() >= outs[i].size) {
      reset();
      errno = ERANGE;
      return ERANGE;
    }
  }
  for (int i = 0; i < 4; ++i) {
    if (outs[i].buffer == nullptr) continue;
    parts[i].copy(outs[i].buffer, parts[i].size());
    outs[i].buffer[parts[i].size()] = L'\0';
  }
  return 0;
}

errno_t _wmakepath_s(wchar_t* path, size_t size, const wchar_t* drive, const wchar_t* dir,
                     const wchar_t* fname, const wchar_t* ext) {
  if (path == nullptr || size == 0) {
    errno = EINVAL;
    return EINVAL;
  }
  std::wstring out;
  if (drive != nullptr && drive[0] != L'\0') {
    out += drive[0];
    out += L':';
  }
  if (dir != nullptr && dir[0] != L'\0') {
    out += dir;
    if (out.back() != L'\\' && out.back() != L'/') out += L'\\';
  }
  if (fname != nullptr) out += fname;
  if (ext != nullptr && ext[0] != L'\0') {
    if (ext[0] != L'.') out += L'.';
    out += ext;
  }
  if (out.size() >= size) {
    path[0] = L'\0';
    errno = ERANGE;
    return ERANGE;
  }
  out.copy(path, out.size());
  path[out.size()] = L'\0';
  return 0;
}

int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b) { return pal::LstrCompare(a, b, false); }
int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b) { return pal::LstrCompare(a, b, true); }
int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) { return pal::LstrCompareA(a, b, false); }
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) { return pal::LstrCompareA(a, b, true); }
int WINAPI lstrlenW(LPCWSTR s) { return s == nullptr ? 0 : static_cast<int>(pal::Length(s)); }
int WINAPI lstrlenA(LPCSTR s) { return s == nullptr ? 0 : static_cast<int>(pal::Length(s)); }
LPWSTR WINAPI lstrcpyW(LPWSTR dest, LPCWSTR src) {
  if (dest == nullptr || src == nullptr) return nullptr;
  return wcscpy(dest, src);
}
LPWSTR WINAPI lstrcpynW(LPWSTR dest, LPCWSTR src, int n) {
  if (dest == nullptr || src == nullptr || n <= 0) return nullptr;
  int i = 0;
  for (; i < n - 1 && src[i] != L'\0'; ++i) dest[i] = src[i];
  dest[i] = L'\0';
  return dest;
}
LPWSTR WINAPI lstrcatW(LPWSTR dest, LPCWSTR src) {
  if (dest == nullptr || src == nullptr) return nullptr;
  return wcscat(dest, src);
}
