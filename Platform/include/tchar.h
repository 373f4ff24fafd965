// Generic-text names. The programs are built Unicode, so every name maps to its wide form.
#pragma once

#include <windows.h>

typedef wchar_t _TCHAR;
typedef wchar_t _TSCHAR;

#define _tmain wmain
#define _tcscpy_s wcscpy_s
#define _tcsncpy_s wcsncpy_s
#define _tcscat_s wcscat_s
#define _tcscpy wcscpy
#define _tcsncpy wcsncpy
#define _tcscat wcscat
#define _tcslen wcslen
#define _tcsnlen wcsnlen
#define _tcscmp wcscmp
#define _tcsncmp wcsncmp
#define _tcsicmp _wcsicmp
#define _tcsnicmp _wcsnicmp
#define _tcschr wcschr
#define _tcsrchr wcsrchr
#define _tcsstr wcsstr
#define _tcstol wcstol
#define _tcstoul wcstoul
#define _tstoi _wtoi
#define _ttoi _wtoi
#define _ttol _wtol
#define _itot_s _itow_s
#define _tcsupr_s _wcsupr_s
#define _tcslwr_s _wcslwr_s
#define _stprintf_s swprintf_s
#define _sntprintf_s _snwprintf_s
#define _sntprintf _snwprintf
#define _vstprintf_s vswprintf_s
#define _vsntprintf_s _vsnwprintf_s
#define _vsntprintf _vsnwprintf
#define _sctprintf _scwprintf
#define _vsctprintf _vscwprintf
#define _tprintf wprintf
#define _ftprintf fwprintf
#define _vftprintf vfwprintf
#define _fputts fputws
#define _tsplitpath_s _wsplitpath_s
#define _tmakepath_s _wmakepath_s
#define _tfsopen _wfsopen
#define _tfopen _wfopen
