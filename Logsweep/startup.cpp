#include "startup.h"

#include <afxwin.h>
#include <shlwapi.h>

#include "QNVUtilityWin.h"
#include "retention.h"

namespace {

const int kLogFolderPathId = 14;
const WCHAR kMutexPrefix[] = L"Local\\995F0E86-9C9C-4B93-B287-619D14560385_";
const WCHAR kModelWord[] = L"TQ770";
const WCHAR kMutexSuffix[] = L"_LOGSWEEP";

WCHAR g_szSettingsFilePath[MAX_PATH];

// Without a settings path the documented defaults apply, as with a missing file.
int ReadSetting(LPCWSTR pszKey, int nDefault) {
  LPCWSTR pszSettings = GetSettingsFilePath();
  if (pszSettings == NULL) return nDefault;
  return static_cast<int>(::GetPrivateProfileIntW(L"LOG", pszKey, nDefault, pszSettings));
}

int RunWithSingleInstance() {
  HMODULE hModule = ::GetModuleHandleW(NULL);
  if (!AfxWinInit(hModule, NULL, ::GetCommandLineW(), 0)) return LOGSWEEP_INIT_FAILED;

  WCHAR szLogFolder[QNV_MODULE_PATH_CAPACITY] = {0};
  const bool bHaveLogFolder =
      QNVUtilGetModulePathForSDK(kLogFolderPathId, QNV_PLATFORM_X86, QNV_FOLDER_DATA, true, szLogFolder) ==
      QNVERROR_NO_ERROR;

  const int nMaxFileNum = ReadSetting(L"MAX_NUM_OF_LOG_FILE", LOGSWEEP_MAX_NUM_DEFAULT);
  const int nMaxDirSizeMB = ReadSetting(L"MAX_SIZE_OF_LOG_DIR", LOGSWEEP_MAX_SIZE_DEFAULT);

  if (nMaxFileNum < LOGSWEEP_MAX_NUM_MIN || nMaxFileNum > LOGSWEEP_MAX_NUM_MAX) return LOGSWEEP_BAD_SETTING;
  if (nMaxDirSizeMB < LOGSWEEP_MAX_SIZE_MIN || nMaxDirSizeMB > LOGSWEEP_MAX_SIZE_MAX) return LOGSWEEP_BAD_SETTING;
  if (!bHaveLogFolder || !::PathIsDirectoryW(szLogFolder)) return LOGSWEEP_BAD_SETTING;

  return DeleteOldLogFiles(szLogFolder, L"*.log", nMaxFileNum, nMaxDirSizeMB);
}

}  // namespace

LPCWSTR GetSettingsFilePath() {
  WCHAR szModulePath[MAX_PATH] = {0};
  const DWORD nLength = ::GetModuleFileNameW(NULL, szModulePath, MAX_PATH);
  if (nLength == 0 || nLength >= MAX_PATH) return NULL;

  WCHAR szDrive[_MAX_DRIVE] = {0};
  WCHAR szDir[_MAX_DIR] = {0};
  if (_wsplitpath_s(szModulePath, szDrive, _MAX_DRIVE, szDir, _MAX_DIR, NULL, 0, NULL, 0) != 0) return NULL;
  if (_snwprintf_s(g_szSettingsFilePath, MAX_PATH, _TRUNCATE, L"%s%s%s", szDrive, szDir, L"QNVDbmon.ini") < 0) {
    return NULL;
  }
  return g_szSettingsFilePath;
}

int LogsweepMain() {
  WCHAR szMutexName[256] = {0};
  swprintf_s(szMutexName, 256, L"%s%s%s", kMutexPrefix, kModelWord, kMutexSuffix);

  SECURITY_DESCRIPTOR stSecurityDescriptor;
  ::InitializeSecurityDescriptor(&stSecurityDescriptor, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&stSecurityDescriptor, TRUE, NULL, FALSE);
  SECURITY_ATTRIBUTES stSecurityAttributes;
  stSecurityAttributes.nLength = sizeof(stSecurityAttributes);
  stSecurityAttributes.lpSecurityDescriptor = &stSecurityDescriptor;
  stSecurityAttributes.bInheritHandle = FALSE;

  HANDLE hMutex = ::CreateMutexW(&stSecurityAttributes, FALSE, szMutexName);
  if (hMutex == NULL) return LOGSWEEP_ALREADY_RUNNING;
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(hMutex);
    return LOGSWEEP_ALREADY_RUNNING;
  }

  const int nResult = RunWithSingleInstance();
  ::CloseHandle(hMutex);
  return nResult;
}
