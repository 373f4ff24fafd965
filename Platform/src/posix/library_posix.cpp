// Libraries are ELF shared objects opened with dlopen by their mapped host path.
#include <dlfcn.h>
#include <sys/stat.h>

#include <string>

#include "machine.h"
#include "pal/errors.h"
#include "pal/library.h"
#include "result.h"

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
  if (lpLibFileName == nullptr || *lpLibFileName == 0)
    return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), static_cast<HMODULE>(nullptr));
  pal::Result<std::string> host = pal::ToHostPath(lpLibFileName);
  if (!host) return pal::Fail(host.error(), static_cast<HMODULE>(nullptr));
  std::string path = host.value();
  // dlopen would search the library path for a name without a slash.
  if (path.find('/') == std::string::npos) path = "./" + path;
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return pal::Fail(pal::Win32Error(ERROR_MOD_NOT_FOUND), static_cast<HMODULE>(nullptr));
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) return pal::Fail(pal::Win32Error(ERROR_BAD_EXE_FORMAT), static_cast<HMODULE>(nullptr));
  return static_cast<HMODULE>(module);
}

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  if (lpLibFileName == nullptr) return LoadLibraryW(nullptr);
  // ANSI names of the layer are Windows-1252; the Latin-1 subset maps one to one.
  std::wstring wide;
  for (const char* p = lpLibFileName; *p != 0; ++p) wide += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  return LoadLibraryW(wide.c_str());
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (hModule == nullptr || lpProcName == nullptr)
    return pal::Fail(pal::Win32Error(ERROR_INVALID_HANDLE), static_cast<FARPROC>(nullptr));
  dlerror();
  void* symbol = dlsym(hModule, lpProcName);
  if (symbol == nullptr) return pal::Fail(pal::Win32Error(ERROR_PROC_NOT_FOUND), static_cast<FARPROC>(nullptr));
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  if (hLibModule == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_HANDLE), FALSE);
  if (dlclose(hLibModule) != 0) return pal::Fail(pal::Win32Error(ERROR_INVALID_HANDLE), FALSE);
  return TRUE;
}
