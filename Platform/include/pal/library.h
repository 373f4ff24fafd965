// Win32 dynamic libraries: ELF shared objects loaded by their mapped Windows path.
// Differs from Windows: a name without a folder is looked up in the current folder only.
#pragma once

#include "pal/base.h"

// ERROR_MOD_NOT_FOUND when the file does not exist, ERROR_BAD_EXE_FORMAT when it is not a
// loadable shared object. Loading the same file twice returns the same module.
HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName);
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
// ERROR_PROC_NOT_FOUND when the module does not export the name.
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
// The module stays loaded until its last LoadLibrary is matched by a FreeLibrary.
BOOL WINAPI FreeLibrary(HMODULE hLibModule);
