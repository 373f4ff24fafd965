// Shell path helpers. Only the backslash separates here, as in the shell's own functions;
// the layer's file calls accept both separators. Buffers are MAX_PATH wide characters.
#pragma once

#include <windows.h>

// FILE_ATTRIBUTE_DIRECTORY when the path names a folder, else FALSE.
BOOL WINAPI PathIsDirectoryW(LPCWSTR pszPath);
BOOL WINAPI PathFileExistsW(LPCWSTR pszPath);
// Cuts the last element and its backslash ("C:\a\b" -> "C:\a", "C:\a" -> "C:\"). TRUE when
// something was removed.
BOOL WINAPI PathRemoveFileSpecW(LPWSTR pszPath);
// Appends with exactly one backslash between, then resolves "." and ".." elements. FALSE
// (buffer unchanged) when the result would not fit into MAX_PATH.
BOOL WINAPI PathAppendW(LPWSTR pszPath, LPCWSTR pszMore);
// pszFile alone when it is fully qualified; the root of pszDir and pszFile when pszFile
// begins with a backslash; else both joined. NULL (and an empty pszDest) when too long.
LPWSTR WINAPI PathCombineW(LPWSTR pszDest, LPCWSTR pszDir, LPCWSTR pszFile);
