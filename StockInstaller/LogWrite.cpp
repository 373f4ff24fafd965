#include "LogWrite.h"

#include <dbghelp.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <new>

CLogWrite* CreateLogWrite(LPCSTR in_pszModelName) {
  if (in_pszModelName == nullptr) return nullptr;
  char szAppData[MAX_PATH] = {};
  if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, szAppData) != 0) return nullptr;
  char szFolder[MAX_PATH] = {};
  if (_snprintf_s(szFolder, _TRUNCATE, "%s\\%s\\%s\\log\\", szAppData, "NORVANTE", in_pszModelName) < 0)
    return nullptr;
  MakeSureDirectoryPathExists(szFolder);
  CLogWrite* pLog = new (std::nothrow) CLogWrite();
  if (pLog == nullptr) return nullptr;
  if (_snprintf_s(pLog->m_szPath, _TRUNCATE, "%sStockInstaller.log", szFolder) < 0) {
    delete pLog;
    return nullptr;
  }
  WCHAR szWidePath[MAX_PATH] = {};
  if (MultiByteToWideChar(CP_ACP, 0, pLog->m_szPath, -1, szWidePath, MAX_PATH) > 0) DeleteFileW(szWidePath);
  pLog->m_bEnabled = 1;
  return pLog;
}

void CLogWrite::Write(LPCSTR in_pszMessage) {
  if (in_pszMessage == nullptr) in_pszMessage = "";
  char szDebug[1040];
  _snprintf_s(szDebug, _TRUNCATE, "StockInstaller: Log Write(%s)\n", in_pszMessage);
  OutputDebugStringA(szDebug);
  if (!m_bEnabled) return;
  HANDLE hFile = CreateFileA(m_szPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
  if (hFile == INVALID_HANDLE_VALUE) {
    _snprintf_s(szDebug, _TRUNCATE, "StockInstaller: CreateFile(%s) failed[%d]\n", m_szPath,
                static_cast<int>(GetLastError()));
    OutputDebugStringA(szDebug);
    return;
  }
  SetFilePointer(hFile, 0, nullptr, FILE_END);
  DWORD dwWritten = 0;
  WriteFile(hFile, in_pszMessage, static_cast<DWORD>(std::strlen(in_pszMessage)), &dwWritten, nullptr);
  WriteFile(hFile, "\r\n", 2, &dwWritten, nullptr);
  CloseHandle(hFile);
}
