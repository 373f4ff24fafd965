// System: debugger output, version checks, processor information, user locale and region.
#pragma once

#include "pal/base.h"

// ---- Result codes (also defined by the COM headers; whichever comes first wins) ------------

#ifndef S_OK
#define S_OK ((HRESULT)0L)
#endif
#ifndef S_FALSE
#define S_FALSE ((HRESULT)1L)
#endif
#ifndef E_FAIL
#define E_FAIL ((HRESULT)0x80004005L)
#endif
#ifndef SUCCEEDED
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#endif
#ifndef FAILED
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#endif

// ---- Debugger output -----------------------------------------------------------------------

// Without a debugger the text is dropped, as on Windows. PAL_DEBUG_OUTPUT names a file that
// plays the debugger: the text is appended to it ("-" is standard error) in one write per
// call, so lines from concurrent processes never interleave. Wide text is written as UTF-8,
// narrow text as it is; nothing is added to it.
void WINAPI OutputDebugStringW(LPCWSTR lpOutputString);
void WINAPI OutputDebugStringA(LPCSTR lpOutputString);

// ---- Version -------------------------------------------------------------------------------

typedef struct _OSVERSIONINFOEXW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
} OSVERSIONINFOEXW, *POSVERSIONINFOEXW, *LPOSVERSIONINFOEXW;

#define VER_MINORVERSION 0x0000001
#define VER_MAJORVERSION 0x0000002
#define VER_BUILDNUMBER 0x0000004
#define VER_PLATFORMID 0x0000008
#define VER_SERVICEPACKMINOR 0x0000010
#define VER_SERVICEPACKMAJOR 0x0000020
#define VER_SUITENAME 0x0000040
#define VER_PRODUCT_TYPE 0x0000080

#define VER_EQUAL 1
#define VER_GREATER 2
#define VER_GREATER_EQUAL 3
#define VER_LESS 4
#define VER_LESS_EQUAL 5
#define VER_AND 6
#define VER_OR 7

#define VER_PLATFORM_WIN32_NT 2
#define VER_NT_WORKSTATION 0x0000001
#define ERROR_OLD_WIN_VERSION 1150L

#define VER_SET_CONDITION(mask, type, cond) ((mask) = VerSetConditionMask((mask), (type), (cond)))

// The emulated Windows is 10.0 (build 19045, no service pack, workstation) unless PAL_WINVER
// ("major.minor", e.g. "6.1") says otherwise. Version, minor version and service pack are
// compared together, major first, as Windows does; FALSE with ERROR_OLD_WIN_VERSION when the
// condition does not hold.
BOOL WINAPI VerifyVersionInfoW(LPOSVERSIONINFOEXW lpVersionInformation, DWORD dwTypeMask,
                               DWORDLONG dwlConditionMask);
ULONGLONG WINAPI VerSetConditionMask(ULONGLONG ConditionMask, DWORD TypeMask, BYTE Condition);

// ---- Processor -----------------------------------------------------------------------------

#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_ARM 5
#define PROCESSOR_ARCHITECTURE_IA64 6
#define PROCESSOR_ARCHITECTURE_AMD64 9
#define PROCESSOR_ARCHITECTURE_ARM64 12
#define PROCESSOR_ARCHITECTURE_UNKNOWN 0xffff

typedef struct _SYSTEM_INFO {
  union {
    DWORD dwOemId;
    struct {
      WORD wProcessorArchitecture;
      WORD wReserved;
    };
  };
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;

// The architecture follows the host (x86_64: AMD64, i686: INTEL, aarch64: ARM64).
void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO lpSystemInfo);
void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);
// Always FALSE in *Wow64Process: programs run natively.
BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process);

// ---- User locale and region ----------------------------------------------------------------

#define GEOCLASS_NATION 16
#define GEOCLASS_REGION 14
#define GEOID_NOT_AVAILABLE (-1)

// The user's nation: PAL_GEOID (a decimal GeoID) or 244, the United States.
// Other classes: GEOID_NOT_AVAILABLE.
GEOID WINAPI GetUserGeoID(DWORD GeoClass);
// 1033 (English, United States) unless PAL_LANGID gives another id (decimal or 0x hex).
LANGID WINAPI GetUserDefaultUILanguage();
LANGID WINAPI GetUserDefaultLangID();
LANGID WINAPI GetSystemDefaultLangID();
LCID WINAPI GetUserDefaultLCID();

#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
#define PRIMARYLANGID(lgid) ((WORD)(lgid) & 0x3ff)
#define SUBLANGID(lgid) ((WORD)(lgid) >> 10)
