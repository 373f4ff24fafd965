// Shell special folders. The folders are fixed places on drive C of the machine root.
#pragma once

#include <windows.h>

#define CSIDL_WINDOWS 0x0024
#define CSIDL_SYSTEM 0x0025
#define CSIDL_PROGRAM_FILES 0x0026
#define CSIDL_PROGRAM_FILESX86 0x002a
#define CSIDL_COMMON_APPDATA 0x0023
#define CSIDL_FLAG_CREATE 0x8000
#define CSIDL_FLAG_MASK 0xFF00

#define SHGFP_TYPE_CURRENT 0
#define SHGFP_TYPE_DEFAULT 1

// CSIDL_PROGRAM_FILES "C:\Program Files", CSIDL_PROGRAM_FILESX86 "C:\Program Files (x86)",
// CSIDL_COMMON_APPDATA "C:\ProgramData", CSIDL_WINDOWS "C:\Windows", CSIDL_SYSTEM
// "C:\Windows\System32". pszPath holds MAX_PATH characters. These folders exist on every
// Windows machine, so the path is answered even when the machine root lacks the folder;
// fCreate (CSIDL_FLAG_CREATE for SHGetFolderPath) creates it. Another CSIDL: FALSE / E_FAIL.
BOOL WINAPI SHGetSpecialFolderPathW(HWND hwnd, LPWSTR pszPath, int csidl, BOOL fCreate);
HRESULT WINAPI SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath);
HRESULT WINAPI SHGetFolderPathA(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPSTR pszPath);
