#include "AddToDriver.h"

#include <cwchar>
#include <new>

#include "AddCustomCFGX.h"
#include "AddICCProfile.h"
#include "Folders.h"

namespace {

BOOL RunDriverSteps(CAddCustomCFGX& in_cfgx, CAddICCProfile& in_icc, CIniFile* in_pIniFile, CPrnQueue* in_pPrnQueue,
                    CLogWrite& in_log) {
  if (!in_cfgx.Init() || !in_cfgx.AddMedia()) {
    in_log.Write("AddToDriver: CFX error.");
    in_log.Write("AddToDriver: Error.");
    return FALSE;
  }
  if (!in_icc.Init()) {
    in_log.Write("AddToDriver: ICC profile error.");
    in_log.Write("AddToDriver: Error.");
    return FALSE;
  }
  const char* pszFailure = nullptr;
  if (!in_icc.InstallProfiles())
    pszFailure = "AddICCProfile: Can't install ICC profiles.";
  else if (!in_icc.AssociateProfiles())
    pszFailure = "AddICCProfile: Can't associate ICC profiles.";
  else if (!AddLocalMediaICCProfiles(in_icc))
    pszFailure = "AddICCProfile: Can't add ICC profiles to a INI file.";
  if (pszFailure != nullptr) {
    in_log.Write(pszFailure);
    in_log.Write("AddToDriver: ICC profile error.");
    in_log.Write("AddToDriver: Error.");
    return FALSE;
  }
  if (!CopyUserPaperFile(in_pIniFile, in_pPrnQueue, L"CustomMediaUserPaper", &in_log)) return FALSE;
  return CopyUserPaperFile(in_pIniFile, in_pPrnQueue, L"CustomMediaUserIni", &in_log);
}

}  // namespace

BOOL AddToDriver(CIniFile* in_pIniFile, CPrnQueue* in_pPrnQueue, CLogWrite* in_pLog) {
  if (in_pIniFile == nullptr || in_pPrnQueue == nullptr || in_pLog == nullptr) return FALSE;
  CAddCustomCFGX* pCfgx = new (std::nothrow) CAddCustomCFGX(*in_pIniFile, *in_pPrnQueue, *in_pLog);
  CAddICCProfile* pIcc = new (std::nothrow) CAddICCProfile(*in_pIniFile, *in_pPrnQueue, *in_pLog);
  BOOL bResult = FALSE;
  if (pCfgx == nullptr || pIcc == nullptr)
    in_pLog->Write("AddToDriver: Error.");
  else
    bResult = RunDriverSteps(*pCfgx, *pIcc, in_pIniFile, in_pPrnQueue, *in_pLog);
  // The configuration module is torn down here, on every path.
  delete pIcc;
  delete pCfgx;
  return bResult;
}

BOOL CopyUserPaperFile(CIniFile* in_pIniFile, CPrnQueue* in_pPrnQueue, LPCWSTR in_pszKey, CLogWrite* in_pLog) {
  if (in_pIniFile == nullptr || in_pLog == nullptr || in_pPrnQueue == nullptr || in_pszKey == nullptr) return FALSE;
  if (in_pPrnQueue->dataFile[0] == L'\0') return FALSE;
  WCHAR szName[MAX_PATH] = {};
  GetPrivateProfileStringW(L"CommonDrvInfo", in_pszKey, L"error", szName, MAX_PATH, in_pPrnQueue->dataFile);
  if (szName[0] == L'\0') return FALSE;
  WCHAR szFolder[MAX_PATH] = {};
  if (!GetParentFolder(szFolder, in_pIniFile->iniPath)) {
    in_pLog->Write("CopyUserPaperFile: Can't get folder.");
    return FALSE;
  }
  WCHAR szSource[MAX_PATH] = {};
  swprintf_s(szSource, L"%s\\%s", szFolder, szName);
  WCHAR szDriverName[80] = {};
  wcsncpy_s(szDriverName, in_pPrnQueue->driverName, _countof(szDriverName) - 1);
  WCHAR szDataFolder[MAX_PATH] = {};
  if (!GetDataFolder(szDataFolder, szDriverName)) {
    in_pLog->Write("CopyUserPaperFile: Can't get MORLI folder.");
    return FALSE;
  }
  WCHAR szDestination[MAX_PATH] = {};
  swprintf_s(szDestination, L"%s\\%s", szDataFolder, szName);
  if (!CopyFileW(szSource, szDestination, FALSE)) {
    in_pLog->Write("CopyUserPaperFile: Can't copy user paper file.");
    return FALSE;
  }
  return TRUE;
}

void DeleteTempFiles(CIniFile* in_pIniFile, CLogWrite* in_pLog) {
  if (in_pIniFile == nullptr || in_pLog == nullptr) return;
  WCHAR szFolder[MAX_PATH] = {};
  if (!GetParentFolder(szFolder, in_pIniFile->iniPath)) {
    in_pLog->Write("DeleteTempFiles: Can't get folder.");
    return;
  }
  for (LPCWSTR pszPattern : {L"*.ini", L"*.icc", L"*.paper"}) {
    WCHAR szSearch[MAX_PATH] = {};
    if (swprintf_s(szSearch, L"%s\\%s", szFolder, pszPattern) < 0) continue;
    WIN32_FIND_DATAW stFind;
    HANDLE hFind = FindFirstFileW(szSearch, &stFind);
    if (hFind == INVALID_HANDLE_VALUE) continue;
    BOOL bStop = FALSE;
    do {
      if (stFind.cFileName[0] == L'.' || (stFind.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
      WCHAR szFile[MAX_PATH] = {};
      if (swprintf_s(szFile, L"%s\\%s", szFolder, stFind.cFileName) < 0 || !DeleteFileW(szFile)) {
        in_pLog->Write("DeleteTempFiles: Can't delete file.");
        bStop = TRUE;
      }
    } while (!bStop && FindNextFileW(hFind, &stFind));
    FindClose(hFind);
    if (bStop) return;
  }
}
