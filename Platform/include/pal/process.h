// Processes, threads and the console.
//
// Process and thread handles are waitable (WaitForSingleObject) and closed with CloseHandle.
// Exit codes: a Windows exit code is 32 bits, a Linux exit status 8; a child's code as
// GetExitCodeProcess reports it is its exit status, i.e. its Windows code modulo 256
// (ExitProcess(-99) is seen as 157). A child ended by a signal reports 128 + the signal.
#pragma once

#include "pal/base.h"

// ---- Processes -----------------------------------------------------------------------------

#define STILL_ACTIVE 259
#define DEBUG_PROCESS 0x00000001
#define CREATE_SUSPENDED 0x00000004
#define DETACHED_PROCESS 0x00000008
#define CREATE_NEW_CONSOLE 0x00000010
#define NORMAL_PRIORITY_CLASS 0x00000020
#define CREATE_NEW_PROCESS_GROUP 0x00000200
#define CREATE_UNICODE_ENVIRONMENT 0x00000400
#define CREATE_DEFAULT_ERROR_MODE 0x04000000
#define CREATE_NO_WINDOW 0x08000000

#define STARTF_USESHOWWINDOW 0x00000001
#define STARTF_USESTDHANDLES 0x00000100
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOW 5

#ifndef SYNCHRONIZE
#define SYNCHRONIZE 0x00100000L
#endif
#define PROCESS_TERMINATE 0x0001
#define PROCESS_QUERY_INFORMATION 0x0400
#define PROCESS_ALL_ACCESS 0x001FFFFF

typedef HANDLE HLOCAL;

typedef struct _STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOW, *LPSTARTUPINFOW;

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

// Starts a program. The program is lpApplicationName (a path, no extension added), else the
// start of the command line: a quoted name, or an unquoted one that may contain blanks, tried
// up to each blank in turn ("C:\Program Files (x86)\...\Logsweep.exe" unquoted works, as on
// Windows). Its Windows path (C:\..., Z:\..., relative) is mapped to the host; a name without
// an extension is tried with ".exe" first, then as it is (host programs have none); a bare
// name is looked for beside the running program, in the current folder and along PATH.
// The child gets the command line split by Windows' rules (see CommandLineToArgvW) as argv,
// except that a name found by taking in blanks stays one argument. A program outside drive C
// (a host program, such as the archiver behind 7za.exe) cannot map Windows paths itself: its
// arguments that are absolute Windows paths, or a switch glued to one ("-oC:\dir"), are
// passed as host paths. The child inherits this process's environment (lpEnvironment is
// ignored) and current folder, or runs in lpCurrentDirectory. CREATE_NO_WINDOW, or
// STARTF_USESHOWWINDOW with SW_HIDE, gives it a hidden console: its standard streams are
// /dev/null; STARTF_USESTDHANDLES is not supported. Only the standard streams are inherited,
// whatever bInheritHandles says, so no handle of the layer outlives its owner in a child.
// Fails with FALSE and ERROR_FILE_NOT_FOUND (no such program), ERROR_ACCESS_DENIED,
// ERROR_BAD_EXE_FORMAT, ERROR_DIRECTORY (bad current folder), ERROR_NOT_SUPPORTED
// (CREATE_SUSPENDED). hThread of the result is waitable too and ends with the process.
BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment,
                           LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation);

// STILL_ACTIVE while the process runs, then its exit status.
BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
// Kills the process (SIGKILL); GetExitCodeProcess on this handle then reports uExitCode,
// while a Linux parent of the child would see the signal.
BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode);
[[noreturn]] void WINAPI ExitProcess(UINT uExitCode);
DWORD WINAPI GetCurrentProcessId();
DWORD WINAPI GetProcessId(HANDLE Process);
// Pseudo-handles, as on Windows: usable in this process, not closed.
HANDLE WINAPI GetCurrentProcess();
HANDLE WINAPI GetCurrentThread();
// The kernel's thread id.
DWORD WINAPI GetCurrentThreadId();

// ---- Threads -------------------------------------------------------------------------------

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
typedef LPTHREAD_START_ROUTINE PTHREAD_START_ROUTINE;

// Starts a thread; the handle is signalled when it ends. CREATE_SUSPENDED is not supported
// (ERROR_INVALID_PARAMETER). lpThreadId receives the kernel thread id.
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId);
// The run-time's thread start: a handle as from CreateThread, as an integer; 0 on failure.
uintptr_t _beginthreadex(void* security, unsigned stack_size,
                         unsigned(__stdcall* start_address)(void*), void* arglist,
                         unsigned initflag, unsigned* thrdaddr);
BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
// Ends the calling thread (one started by CreateThread/_beginthreadex) with the code; the
// stack unwinds, so destructors run.
[[noreturn]] void WINAPI ExitThread(DWORD dwExitCode);

// ---- Command line, module, environment -----------------------------------------------------

// The command line this process was started with, rebuilt from argv (set by the layer's
// main; arguments that need it are quoted by Windows' rules).
LPWSTR WINAPI GetCommandLineW();
// Splits by Windows' rules: blanks separate outside quotes; a quote toggles quoting; inside
// quotes "" is a literal quote; 2n backslashes before a quote are n backslashes and the quote
// toggles, 2n+1 are n and a literal quote; other backslashes are literal. The first token
// (the program) ends at the first blank outside quotes, and backslashes there are always
// literal. An empty command line gives the program's own path. The result is one block freed
// with LocalFree.
LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs);
HLOCAL WINAPI LocalFree(HLOCAL hMem);
HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// NULL module: the Windows path of the running program (from /proc/self/exe). Writes at most
// nSize characters; when the path does not fit, it is cut to nSize - 1, terminated, nSize is
// returned and the last error is ERROR_INSUFFICIENT_BUFFER, as Windows does. Another module
// handle fails with ERROR_MOD_NOT_FOUND.
DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
// NULL: a handle standing for the running program; any other name fails (ERROR_MOD_NOT_FOUND).
HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName);

// Windows' size protocol: the length without terminator when it fits, else the size needed
// with terminator; 0 and ERROR_ENVVAR_NOT_FOUND when unset.
DWORD WINAPI GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize);
BOOL WINAPI SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue);

// ---- Console -------------------------------------------------------------------------------

#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1
#define CTRL_CLOSE_EVENT 2
#define CTRL_LOGOFF_EVENT 5
#define CTRL_SHUTDOWN_EVENT 6

typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD CtrlType);

// Adds or removes a handler. SIGINT is CTRL_C_EVENT, SIGHUP CTRL_CLOSE_EVENT, SIGTERM
// CTRL_SHUTDOWN_EVENT. On a signal the handlers run, last added first, on a thread of their
// own, until one returns TRUE. When every handler returns FALSE the process ends as the
// signal's default handling ends it: killed by that signal, so a parent sees the signal (a
// shell reports 128 + its number, 143 for SIGTERM) and GetExitCodeProcess 128 + number.
// Close and shut-down end the process after the handlers even when one returns TRUE, as on
// Windows. From the first call on, the calling thread and the threads it starts later keep
// these signals blocked (the handlers' thread takes them), so no system call of theirs is
// interrupted; children started with CreateProcessW get a clean signal mask. A NULL handler with TRUE ignores Ctrl+C.
BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add);
