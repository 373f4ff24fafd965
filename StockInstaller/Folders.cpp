#include "Folders.h"

#include <shlobj.h>

#include <cstring>
#include <cwchar>

BOOL GetParentFolder(LPWSTR out_pszFolder, LPCWSTR in_pszPath) {
  if (out_pszFolder == nullptr || in_pszPath == nullptr) return FALSE;
  LPCWSTR pszSlash = wcsrchr(in_pszPath, L'\\');
  const size_t nLength = pszSlash != nullptr ? static_cast<size_t>(pszSlash - in_pszPath) : wcslen(in_pszPath);
  if (nLength >= MAX_PATH) return FALSE;
  std::memcpy(out_pszFolder, in_pszPath, nLength * sizeof(WCHAR));
  out_pszFolder[nLength] = L'\0';
  return TRUE;
}

BOOL GetDataFolder(LPWSTR out_pszFolder, LPCWSTR in_pszDriverName) {
  if (out_pszFolder == nullptr || in_pszDriverName == nullptr) return FALSE;
  out_pszFolder[0] = L'\0';
  WCHAR szPath[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, szPath, CSIDL_COMMON_APPDATA, FALSE)) return FALSE;
  if (wcscat_s(szPath, L"\\MORLI\\") != 0 || wcscat_s(szPath, in_pszDriverName) != 0) return FALSE;
  wcscpy_s(out_pszFolder, MAX_PATH, szPath);
  WIN32_FIND_DATAW stFind;
  HANDLE hFind = FindFirstFileW(szPath, &stFind);
  if (hFind == INVALID_HANDLE_VALUE) return FALSE;
  FindClose(hFind);
  // A file of that name is no data folder.
  return (stFind.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? TRUE : FALSE;
}
