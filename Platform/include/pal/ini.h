// Private-profile (INI) files, with Windows' reading rules: section and key names match
// case-insensitively and the first match wins; blanks around names and values are trimmed
// and one pair of enclosing quotes is removed from a value; lines starting with ';' are
// comments. A file that begins with the UTF-16LE byte order mark is read and written as
// UTF-16LE, any other as ANSI (Windows-1252).
//
// Writes create the file, section or key, replace a value in place and keep every other
// line. Beyond Windows: each write replaces the whole file atomically (a temporary file
// renamed over it) under a lock shared by every process of the machine, so concurrent
// writers lose no key and a writer killed mid-write leaves the old or the new file, never a
// torn one. Share modes of handles open on the file are not consulted. Nothing is cached:
// the all-NULL flush call changes nothing and returns zero, as Windows documents for it.
#pragma once

#include "pal/base.h"

// Copies the value (or the default, NULL meaning "") into the buffer and returns the
// number of characters copied without the terminator. A value that does not fit is cut to
// nSize-1 characters and nSize-1 is returned. With a NULL key the buffer receives every key
// of the section, with a NULL section every section name, each NUL-terminated and the list
// ended by a second NUL; when the list does not fit it is cut and nSize-2 is returned.
DWORD WINAPI GetPrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpDefault,
                                      LPWSTR lpReturnedString, DWORD nSize, LPCWSTR lpFileName);
DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                      LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);

// The leading decimal number of the value ("0x" hexadecimal too, a '-' sign allowed), 0 for
// a value without one, or nDefault when the key is missing.
UINT WINAPI GetPrivateProfileIntW(LPCWSTR lpAppName, LPCWSTR lpKeyName, INT nDefault,
                                  LPCWSTR lpFileName);
UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault,
                                  LPCSTR lpFileName);

// The section's lines as "key=value" strings (comments left out), double-NUL terminated;
// cut to nSize-2 when they do not fit.
DWORD WINAPI GetPrivateProfileSectionW(LPCWSTR lpAppName, LPWSTR lpReturnedString, DWORD nSize,
                                       LPCWSTR lpFileName);
// As GetPrivateProfileStringW with a NULL section.
DWORD WINAPI GetPrivateProfileSectionNamesW(LPWSTR lpszReturnBuffer, DWORD nSize,
                                            LPCWSTR lpFileName);

// Sets key=value in the section. A NULL value deletes the key, a NULL key the whole
// section; all three NULL is the flush call (TRUE). Failures: FALSE with the file error
// (ERROR_PATH_NOT_FOUND when the folder is missing, ERROR_ACCESS_DENIED, ...).
BOOL WINAPI WritePrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString,
                                       LPCWSTR lpFileName);
// Replaces every key of the section with the "key=value" strings of lpString (each
// NUL-terminated, the list ended by a second NUL), in one atomic rewrite of the file; a
// missing section is added at the end, a NULL lpString deletes the section. Comment lines
// inside the section go with its keys. Fails as WritePrivateProfileStringW does.
BOOL WINAPI WritePrivateProfileSectionW(LPCWSTR lpAppName, LPCWSTR lpString, LPCWSTR lpFileName);

BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                       LPCSTR lpFileName);
