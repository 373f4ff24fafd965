// Win32 files subset: CreateFile and handle I/O, copy/delete/move, folders, attributes, the
// current folder, file searches, and the C run-time's _wfsopen family.
//
// Share modes are enforced among every process that uses this layer on the same machine:
// an open that needs an access some holder does not share, or that refuses to share an
// access some holder has, fails with ERROR_SHARING_VIOLATION; DeleteFileW and MoveFileW
// fail the same way while any holder does not share delete access. A holder that dies
// (also by kill -9) releases its share at once. Host programs outside the layer are not
// held back.
//
// Differs from Windows: a file deleted while open with FILE_SHARE_DELETE disappears from
// its folder at once (no delete-pending state); file names are case-sensitive, as the
// host's are, while search wildcards match case-insensitively.
#pragma once

#include <cstdio>

#include "pal/base.h"

#ifndef GENERIC_READ
#define GENERIC_READ 0x80000000L
#endif
#ifndef GENERIC_WRITE
#define GENERIC_WRITE 0x40000000L
#endif
#ifndef GENERIC_EXECUTE
#define GENERIC_EXECUTE 0x20000000L
#endif
#ifndef GENERIC_ALL
#define GENERIC_ALL 0x10000000L
#endif
#ifndef DELETE
#define DELETE 0x00010000L
#endif
#ifndef SYNCHRONIZE
#define SYNCHRONIZE 0x00100000L
#endif
#define FILE_READ_DATA 0x0001u
#define FILE_WRITE_DATA 0x0002u
#define FILE_APPEND_DATA 0x0004u
#define FILE_READ_EA 0x0008u
#define FILE_WRITE_EA 0x0010u
#define FILE_EXECUTE 0x0020u
#define FILE_READ_ATTRIBUTES 0x0080u
#define FILE_WRITE_ATTRIBUTES 0x0100u
#define FILE_ALL_ACCESS 0x001F01FFu
#define FILE_GENERIC_READ 0x00120089u
#define FILE_GENERIC_WRITE 0x00120116u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#define FILE_FLAG_RANDOM_ACCESS 0x10000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define INVALID_FILE_SIZE 0xFFFFFFFFu

#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_COPY_ALLOWED 0x00000002u
#define MOVEFILE_WRITE_THROUGH 0x00000008u

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

typedef struct _WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *PWIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *PWIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

typedef WIN32_FIND_DATAW WIN32_FIND_DATA;
typedef LPWIN32_FIND_DATAW LPWIN32_FIND_DATA;

// Opens or creates a file. Dispositions as on Windows: CREATE_NEW fails with
// ERROR_FILE_EXISTS, OPEN_EXISTING and TRUNCATE_EXISTING with ERROR_FILE_NOT_FOUND (or
// ERROR_PATH_NOT_FOUND when the folder is missing); CREATE_ALWAYS and OPEN_ALWAYS succeed
// with last error ERROR_ALREADY_EXISTS when the file was there. The share check comes
// before any truncation, so a refused CREATE_ALWAYS leaves the file intact. A folder opens
// only with FILE_FLAG_BACKUP_SEMANTICS (else ERROR_ACCESS_DENIED). Other flags are accepted
// and ignored, except FILE_FLAG_DELETE_ON_CLOSE.
HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);

// Synchronous I/O only (lpOverlapped must be NULL). Reading without read access or writing
// without write access fails with ERROR_ACCESS_DENIED; a read at the end returns TRUE with 0.
BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod);
BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                             PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod);
BOOL WINAPI SetEndOfFile(HANDLE hFile);
DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize);
BOOL WINAPI FlushFileBuffers(HANDLE hFile);

// Copies contents (not the share state). With bFailIfExists an existing target fails with
// ERROR_FILE_EXISTS; otherwise it is replaced.
BOOL WINAPI CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists);
// Fails with ERROR_SHARING_VIOLATION while the file is held open without delete sharing,
// ERROR_ACCESS_DENIED on a folder.
BOOL WINAPI DeleteFileW(LPCWSTR lpFileName);
// MoveFileW fails with ERROR_ALREADY_EXISTS when the target exists; MoveFileExW replaces it
// with MOVEFILE_REPLACE_EXISTING. Moves between host file systems copy files only with
// MOVEFILE_COPY_ALLOWED (MoveFileW always allows it), else ERROR_NOT_SAME_DEVICE.
BOOL WINAPI MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName);
BOOL WINAPI MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags);

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName);
// Files report FILE_ATTRIBUTE_ARCHIVE (plus READONLY when the owner may not write),
// folders FILE_ATTRIBUTE_DIRECTORY; a missing one INVALID_FILE_ATTRIBUTES.
DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName);
DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName);

// The current folder as a Windows path (C:\... or Z:\...). Too small a buffer returns the
// size needed including the terminator.
DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer);
BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName);
// Lexical: the absolute Windows path with "." and ".." resolved.
DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer,
                              LPWSTR* lpFilePart);

// Searches a folder for a name pattern ("*" and "?" matched case-insensitively, "*.*"
// matches every name) or looks up one exact name, which may be a folder. Entries come in
// the order of their upper-cased names, "." and ".." first for searches below a drive root.
// No match: ERROR_FILE_NOT_FOUND; missing folder: ERROR_PATH_NOT_FOUND; FindNextFileW at
// the end: ERROR_NO_MORE_FILES. Creation time is the host's birth time.
HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData);
BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData);
HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
BOOL WINAPI FindClose(HANDLE hFindFile);

// C run-time streams on the same share rules. Modes "r", "w", "a" with "+", "t" (default:
// text, "\n" is CR LF on disk and CR LF reads back as "\n"), "b", "x" (with "w": fail if the
// file exists); "c", "n", "N", "S", "R", "T", "D" accepted. Share flags from <share.h>; the
// _SH_DENYNO family never shares delete access, as on Windows. Failures return NULL with
// errno (EACCES for a sharing violation, ENOENT for a missing file) and the Win32 last error.
FILE* _wfsopen(const wchar_t* filename, const wchar_t* mode, int shflag);
FILE* _wfopen(const wchar_t* filename, const wchar_t* mode);
// Opens without sharing, except that a read-only stream shares read access.
int _wfopen_s(FILE** pFile, const wchar_t* filename, const wchar_t* mode);
