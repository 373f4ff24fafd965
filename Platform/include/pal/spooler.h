// Win32 print spooler subset: local queues and their drivers, read from the machine's spooler
// database (files below C:\Windows\System32\spool\database, managed by the spooler
// administration tool). Sizes are in bytes and follow Windows' two-call protocol: a call
// with a too-small buffer fails with ERROR_INSUFFICIENT_BUFFER and reports the size needed.
// Differs from Windows: the strings inside the returned structures are wchar_t (32 bits).
#pragma once

#include "pal/base.h"

#define PRINTER_ENUM_DEFAULT 0x00000001
#define PRINTER_ENUM_LOCAL 0x00000002
#define PRINTER_ENUM_CONNECTIONS 0x00000004
#define PRINTER_ENUM_NAME 0x00000008

#define PRINTER_ATTRIBUTE_QUEUED 0x00000001
#define PRINTER_ATTRIBUTE_DIRECT 0x00000002
#define PRINTER_ATTRIBUTE_DEFAULT 0x00000004
#define PRINTER_ATTRIBUTE_SHARED 0x00000008
#define PRINTER_ATTRIBUTE_NETWORK 0x00000010
#define PRINTER_ATTRIBUTE_HIDDEN 0x00000020
#define PRINTER_ATTRIBUTE_LOCAL 0x00000040
#define PRINTER_ATTRIBUTE_WORK_OFFLINE 0x00000400

#define PRINTER_ACCESS_ADMINISTER 0x00000004
#define PRINTER_ACCESS_USE 0x00000008
#define PRINTER_ALL_ACCESS 0x000F000C

#ifndef REG_NONE
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#endif

struct _devicemodeW;
typedef struct _devicemodeW DEVMODEW, *PDEVMODEW, *LPDEVMODEW;
typedef void* PSECURITY_DESCRIPTOR;

typedef struct _PRINTER_INFO_2W {
  LPWSTR pServerName;
  LPWSTR pPrinterName;
  LPWSTR pShareName;
  LPWSTR pPortName;
  LPWSTR pDriverName;
  LPWSTR pComment;
  LPWSTR pLocation;
  LPDEVMODEW pDevMode;
  LPWSTR pSepFile;
  LPWSTR pPrintProcessor;
  LPWSTR pDatatype;
  LPWSTR pParameters;
  PSECURITY_DESCRIPTOR pSecurityDescriptor;
  DWORD Attributes;
  DWORD Priority;
  DWORD DefaultPriority;
  DWORD StartTime;
  DWORD UntilTime;
  DWORD Status;
  DWORD cJobs;
  DWORD AveragePPM;
} PRINTER_INFO_2W, *PPRINTER_INFO_2W, *LPPRINTER_INFO_2W;

typedef struct _DRIVER_INFO_2W {
  DWORD cVersion;
  LPWSTR pName;
  LPWSTR pEnvironment;
  LPWSTR pDriverPath;
  LPWSTR pDataFile;
  LPWSTR pConfigFile;
} DRIVER_INFO_2W, *PDRIVER_INFO_2W, *LPDRIVER_INFO_2W;

typedef struct _PRINTER_DEFAULTSW {
  LPWSTR pDatatype;
  LPDEVMODEW pDevMode;
  ACCESS_MASK DesiredAccess;
} PRINTER_DEFAULTSW, *PPRINTER_DEFAULTSW, *LPPRINTER_DEFAULTSW;

#ifdef UNICODE
typedef PRINTER_INFO_2W PRINTER_INFO_2;
typedef PPRINTER_INFO_2W PPRINTER_INFO_2;
typedef LPPRINTER_INFO_2W LPPRINTER_INFO_2;
typedef DRIVER_INFO_2W DRIVER_INFO_2;
typedef PDRIVER_INFO_2W PDRIVER_INFO_2;
typedef LPDRIVER_INFO_2W LPDRIVER_INFO_2;
typedef PRINTER_DEFAULTSW PRINTER_DEFAULTS;
#endif

// Lists the local queues (Flags must include PRINTER_ENUM_LOCAL, Name must be NULL; level 2
// only, else ERROR_INVALID_LEVEL) in the order they were added. With no queue it succeeds
// with *pcReturned 0 and *pcbNeeded 0.
BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned);

// Opens a queue by its exact name; ERROR_INVALID_PRINTER_NAME when there is none. The handle
// reads the queue as it was when opened.
BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault);

BOOL WINAPI ClosePrinter(HANDLE hPrinter);

// The queue's driver (level 2 only). pEnvironment must be NULL or "Windows x64". Paths are
// full Windows paths in the driver folder. ERROR_UNKNOWN_PRINTER_DRIVER when the queue's
// driver is not installed.
BOOL WINAPI GetPrinterDriverW(HANDLE hPrinter, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo,
                              DWORD cbBuf, LPDWORD pcbNeeded);

// Reads a printer data value. Returns a Win32 error code (not a BOOL): ERROR_FILE_NOT_FOUND
// for a missing value, ERROR_MORE_DATA when nSize is too small (with *pcbNeeded set).
// REG_SZ values are returned with their terminating NUL.
DWORD WINAPI GetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, LPDWORD pType, LPBYTE pData,
                             DWORD nSize, LPDWORD pcbNeeded);

#define ERROR_INVALID_LEVEL 124L
