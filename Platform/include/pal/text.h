// Text: the ANSI code page, and the Microsoft C run-time's string and formatting calls.
//
// The ANSI code page (CP_ACP) is Windows-1252; CP_UTF8 is also understood. Conversions keep
// Windows' contract: a size query with no output buffer, 0 with ERROR_INSUFFICIENT_BUFFER
// when the output does not fit, a length of -1 counting the terminator.
//
// The printf family follows the Microsoft run-time, not the C standard: in a wide format
// "%s" and "%c" take WIDE arguments and "%S"/"%C" narrow ones; in a narrow format the reverse.
// "%hs"/"%ls" (and "%hc"/"%lc", "%ws") name the width explicitly. Integer sizes follow LLP64:
// "l" is 32 bits, "ll" and "I64" 64 bits, "I" and "z" the pointer size. Glibc's own swprintf
// follows the standard instead and must never see these formats.
//
// Differs from glibc, as on Windows: fwprintf, vfwprintf, wprintf, vwprintf and fputws are
// replaced by the layer's own, with the conventions above; wide text goes to the stream
// converted to the ANSI code page ('?' for what it lacks), as the run-time's text streams do.
#pragma once

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "pal/base.h"

// ---- Code pages ----------------------------------------------------------------------------

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_COMPOSITECHECK 0x00000200
#define WC_DEFAULTCHAR 0x00000040
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define WC_ERR_INVALID_CHARS 0x00000080

// Returns 1252. There is no separate OEM table: GetOEMCP and CP_OEMCP are 1252 as well.
UINT WINAPI GetACP();
UINT WINAPI GetOEMCP();

// Converts wide text to the code page. cchWideChar -1: up to and including the terminator.
// cbMultiByte 0: returns the size needed. lpDefaultChar replaces characters the code page
// lacks ('?' by default) and *lpUsedDefaultChar tells whether that happened (CP_UTF8 accepts
// neither: ERROR_INVALID_PARAMETER). No best-fit mapping: U+0100 becomes '?', not 'A'.
// Output too small: 0, ERROR_INSUFFICIENT_BUFFER. Another code page: ERROR_INVALID_PARAMETER.
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                               LPBOOL lpUsedDefaultChar);
// The reverse. Bytes 1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the same
// code points, as Windows does; invalid UTF-8 becomes U+FFFD, or fails with
// ERROR_NO_UNICODE_TRANSLATION under MB_ERR_INVALID_CHARS.
int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar);

// ---- Run-time conventions ------------------------------------------------------------------

typedef int errno_t;
#define _TRUNCATE ((size_t)-1)
#define STRUNCATE 80
#define _MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256

// ---- Formatting ----------------------------------------------------------------------------
// The "_s" calls write at most `count` characters including the terminator and return the
// number written without it. With a buffer too small they empty the buffer, set errno ERANGE
// and return -1 (the Microsoft run-time would call its invalid-parameter handler and end the
// process; returning keeps callers alive). _snwprintf_s/_snprintf_s with max_count _TRUNCATE
// write what fits, terminate, and return -1 when anything was cut. _snwprintf/_vsnwprintf
// write at most `count` characters and do NOT terminate when the text fills them; they return
// -1 when the text is longer. _scwprintf/_vscwprintf/_vscprintf return the length only.

int swprintf_s(wchar_t* buffer, size_t count, const wchar_t* format, ...);
int vswprintf_s(wchar_t* buffer, size_t count, const wchar_t* format, va_list args);
int _snwprintf_s(wchar_t* buffer, size_t count, size_t max_count, const wchar_t* format, ...);
int _vsnwprintf_s(wchar_t* buffer, size_t count, size_t max_count, const wchar_t* format,
                  va_list args);
int _snwprintf(wchar_t* buffer, size_t count, const wchar_t* format, ...);
int _vsnwprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list args);
int _scwprintf(const wchar_t* format, ...);
int _vscwprintf(const wchar_t* format, va_list args);

int sprintf_s(char* buffer, size_t count, const char* format, ...);
int vsprintf_s(char* buffer, size_t count, const char* format, va_list args);
int _snprintf_s(char* buffer, size_t count, size_t max_count, const char* format, ...);
int _vsnprintf_s(char* buffer, size_t count, size_t max_count, const char* format, va_list args);
int _snprintf(char* buffer, size_t count, const char* format, ...);
int _vsnprintf(char* buffer, size_t count, const char* format, va_list args);
int _scprintf(const char* format, ...);
int _vscprintf(const char* format, va_list args);

// The fixed-size array forms of the Microsoft headers.
template <size_t N>
int swprintf_s(wchar_t (&buffer)[N], const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vswprintf_s(buffer, N, format, args);
  va_end(args);
  return n;
}
template <size_t N>
int _snwprintf_s(wchar_t (&buffer)[N], size_t max_count, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf_s(buffer, N, max_count, format, args);
  va_end(args);
  return n;
}
template <size_t N>
int sprintf_s(char (&buffer)[N], const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsprintf_s(buffer, N, format, args);
  va_end(args);
  return n;
}
template <size_t N>
int _snprintf_s(char (&buffer)[N], size_t max_count, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = _vsnprintf_s(buffer, N, max_count, format, args);
  va_end(args);
  return n;
}

// ---- Run-time multibyte conversions --------------------------------------------------------
// The run-time's conversions between wide and multibyte text use the ANSI code page here,
// as they do on Windows after setlocale(LC_ALL, ""). A wide character the code page lacks
// fails the conversion with EILSEQ ((size_t)-1), as in the run-time.
//
// Differs from glibc, as on Windows: mbstowcs and wcstombs are replaced by the layer's own
// for every program linked with it (glibc's "C" locale knows only ASCII).
errno_t mbstowcs_s(size_t* converted, wchar_t* dest, size_t dest_size, const char* src, size_t count);
errno_t wcstombs_s(size_t* converted, char* dest, size_t dest_size, const wchar_t* src, size_t count);

// ---- Strings -------------------------------------------------------------------------------
// The "_s" copies return 0, EINVAL for a null argument or zero size (destination emptied
// when it exists), ERANGE when the text does not fit (destination emptied), and STRUNCATE
// when a _TRUNCATE count cut the text.

errno_t wcscpy_s(wchar_t* dest, size_t size, const wchar_t* src);
errno_t wcsncpy_s(wchar_t* dest, size_t size, const wchar_t* src, size_t count);
errno_t wcscat_s(wchar_t* dest, size_t size, const wchar_t* src);
errno_t wcsncat_s(wchar_t* dest, size_t size, const wchar_t* src, size_t count);
errno_t strcpy_s(char* dest, size_t size, const char* src);
errno_t strncpy_s(char* dest, size_t size, const char* src, size_t count);
errno_t strcat_s(char* dest, size_t size, const char* src);
template <size_t N>
errno_t wcscpy_s(wchar_t (&dest)[N], const wchar_t* src) { return wcscpy_s(dest, N, src); }
template <size_t N>
errno_t wcsncpy_s(wchar_t (&dest)[N], const wchar_t* src, size_t count) {
  return wcsncpy_s(dest, N, src, count);
}
template <size_t N>
errno_t wcscat_s(wchar_t (&dest)[N], const wchar_t* src) { return wcscat_s(dest, N, src); }
template <size_t N>
errno_t strcpy_s(char (&dest)[N], const char* src) { return strcpy_s(dest, N, src); }
template <size_t N>
errno_t strncpy_s(char (&dest)[N], const char* src, size_t count) {
  return strncpy_s(dest, N, src, count);
}
template <size_t N>
errno_t strcat_s(char (&dest)[N], const char* src) { return strcat_s(dest, N, src); }

// Case-insensitive comparisons fold ASCII letters only, as the run-time's "C" locale does.
int _wcsicmp(const wchar_t* a, const wchar_t* b);
int _wcsnicmp(const wchar_t* a, const wchar_t* b, size_t count);
int _stricmp(const char* a, const char* b);
int _strnicmp(const char* a, const char* b, size_t count);

// Leading blanks, a sign and decimal digits; 0 when there are none. Out-of-range values
// saturate (INT_MAX / INT_MIN) and set errno ERANGE, as the run-time does.
int _wtoi(const wchar_t* str);
long _wtol(const wchar_t* str);
long long _wtoi64(const wchar_t* str);
errno_t _itow_s(int value, wchar_t* buffer, size_t size, int radix);
errno_t _itoa_s(int value, char* buffer, size_t size, int radix);
template <size_t N>
errno_t _itow_s(int value, wchar_t (&buffer)[N], int radix) { return _itow_s(value, buffer, N, radix); }
errno_t _wcsupr_s(wchar_t* str, size_t size);
errno_t _wcslwr_s(wchar_t* str, size_t size);

// Splits "C:\dir\name.ext" into "C:", "\dir\", "name", ".ext". Any output may be null with
// a size of 0. A part too long for its buffer: ERANGE and every output emptied.
errno_t _wsplitpath_s(const wchar_t* path, wchar_t* drive, size_t drive_size, wchar_t* dir,
                      size_t dir_size, wchar_t* fname, size_t fname_size, wchar_t* ext,
                      size_t ext_size);
// Joins the parts, adding ':' after a drive letter, '\' after a folder without one and '.'
// before an extension without one.
errno_t _wmakepath_s(wchar_t* path, size_t size, const wchar_t* drive, const wchar_t* dir,
                     const wchar_t* fname, const wchar_t* ext);

// Windows' lstr calls: null pointers are tolerated (length 0; null sorts before any text).
// lstrcmp/lstrcmpi order like Windows' word comparison for the letters of Western scripts:
// case-insensitively first, and (lstrcmp) lower case before upper case between texts that
// differ only in case; the result is -1, 0 or 1. Case folding covers Latin, Greek, Cyrillic.
int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b);
int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b);
int WINAPI lstrcmpA(LPCSTR a, LPCSTR b);
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b);
int WINAPI lstrlenW(LPCWSTR s);
int WINAPI lstrlenA(LPCSTR s);
LPWSTR WINAPI lstrcpyW(LPWSTR dest, LPCWSTR src);
// Copies at most n - 1 characters and always terminates (n > 0).
LPWSTR WINAPI lstrcpynW(LPWSTR dest, LPCWSTR src, int n);
LPWSTR WINAPI lstrcatW(LPWSTR dest, LPCWSTR src);
