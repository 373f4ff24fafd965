#include "AddICCProfile.h"

#include <icm.h>

#include <cstring>
#include <cwchar>

#include "Folders.h"

namespace {

constexpr char kInvalidName[] = "AddICCProfile: Invalid profile name.";

}  // namespace

BOOL IsBareProfileName(LPCWSTR in_pszName) {
  if (in_pszName == nullptr || in_pszName[0] == L'\0') return FALSE;
  if (wcspbrk(in_pszName, L"\\/:") != nullptr) return FALSE;
  for (LPCWSTR p = in_pszName; *p != L'\0'; ++p)
    if (*p != L'.') return TRUE;
  return FALSE;
}

void FormatProfileMessage(char (&out_szMessage)[MAX_PATH], LPCWSTR in_pszFormat, LPCWSTR in_pszFile,
                          DWORD in_nError) {
  WCHAR szWide[520] = {};
  _snwprintf_s(szWide, _TRUNCATE, in_pszFormat, in_pszFile, static_cast<int>(in_nError));
  // Every wide character of the ANSI code page becomes one byte, so 520 bytes hold it all.
  char szWhole[1040] = {};
  if (WideCharToMultiByte(CP_ACP, 0, szWide, -1, szWhole, sizeof(szWhole), nullptr, nullptr) == 0)
    szWhole[0] = '\0';
  strncpy_s(out_szMessage, szWhole, _TRUNCATE);
}

BOOL CAddICCProfile::Init() {
  wcsncpy_s(m_szDriverName, m_prnQueue.driverName, _countof(m_szDriverName) - 1);
  wcsncpy_s(m_szIniPath, m_iniFile.iniPath, MAX_PATH - 1);
  if (m_szDriverName[0] == L'\0' || m_szIniPath[0] == L'\0') {
    m_log.Write("AddICCProfile: Can't get informations.");
    return FALSE;
  }
  if (!GetParentFolder(m_szMediaFolder, m_szIniPath)) {
    m_log.Write("AddICCProfile: Can't get base folder.");
    return FALSE;
  }
  DWORD dwSize = MAX_PATH;
  if (!GetColorDirectoryW(nullptr, m_szColourFolder, &dwSize)) {
    m_log.Write("AddICCProfile: Can't get color directory.");
    return FALSE;
  }
  if (m_prnQueue.dataFile[0] == L'\0') {
    m_log.Write("AddICCProfile: Can't get VIF file.");
    return FALSE;
  }
  WCHAR szFileName[MAX_PATH] = {};
  GetPrivateProfileStringW(L"CommonDrvInfo", L"CustomMediaICCProf", L"error", szFileName, MAX_PATH,
                           m_prnQueue.dataFile);
  if (szFileName[0] == L'\0') {
    m_log.Write("AddICCProfile: Can't get file name.");
    return FALSE;
  }
  WCHAR szDataFolder[MAX_PATH] = {};
  if (!GetDataFolder(szDataFolder, m_szDriverName)) {
    m_log.Write("AddICCProfile: Can't get MORLI folder.");
    return FALSE;
  }
  if (swprintf_s(m_szIccIniPath, L"%s\\%s", szDataFolder, szFileName) < 0) m_szIccIniPath[0] = L'\0';

  HANDLE hFile = CreateFileW(m_szIccIniPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) {
    m_log.Write("AddICCProfile: Can't open ini file.");
    m_log.Write("AddICCProfile: Can't remake ini file.");
    return FALSE;
  }
  const BYTE kByteOrderMark[] = {0xFF, 0xFE};
  DWORD dwWritten = 0;
  if (!WriteFile(hFile, kByteOrderMark, sizeof kByteOrderMark, &dwWritten, nullptr) ||
      dwWritten < sizeof kByteOrderMark) {
    CloseHandle(hFile);
    m_log.Write("AddICCProfile: Can't writ data.");
    m_log.Write("AddICCProfile: Can't remake ini file.");
    return FALSE;
  }
  SetEndOfFile(hFile);
  CloseHandle(hFile);
  return TRUE;
}

BOOL CAddICCProfile::InstallProfiles() {
  for (const ProfileName& stProfile : m_iniFile.profiles) {
    // An empty value names no profile for that resolution: nothing to install.
    if (stProfile.szName[0] == L'\0') continue;
    if (!IsBareProfileName(stProfile.szName)) {
      m_log.Write(kInvalidName);
      continue;
    }
    BOOL bRemoved = UninstallColorProfileW(nullptr, stProfile.szName, TRUE);
    const DWORD dwError = bRemoved ? 0 : GetLastError();
    char szMessage[MAX_PATH];
    if (bRemoved || dwError == ERROR_FILE_NOT_FOUND || dwError == 0) {
      WCHAR szPath[MAX_PATH] = {};
      swprintf_s(szPath, L"%s\\%s", m_szMediaFolder, stProfile.szName);
      if (!InstallColorProfileW(nullptr, szPath)) {
        FormatProfileMessage(szMessage, L"StockInstaller: InstallColorProfile() failed for file '%s' with error %d\n",
                             szPath, GetLastError());
        m_log.Write(szMessage);
        return FALSE;
      }
    } else {
      FormatProfileMessage(szMessage, L"StockInstaller: UninstallColorProfile() failed for file '%s' with error %d\n",
                           stProfile.szName, dwError);
      m_log.Write(szMessage);
    }
  }
  return TRUE;
}

BOOL CAddICCProfile::AssociateProfiles() {
  for (const QueueName& stQueue : m_prnQueue.queueNames) {
    for (const ProfileName& stProfile : m_iniFile.profiles) {
      if (stProfile.szName[0] == L'\0') continue;
      if (!IsBareProfileName(stProfile.szName)) {
        m_log.Write(kInvalidName);
        continue;
      }
      WCHAR szPath[MAX_PATH] = {};
      swprintf_s(szPath, L"%s\\%s", m_szMediaFolder, stProfile.szName);
      if (!AssociateColorProfileWithDeviceW(nullptr, szPath, stQueue.szName)) return FALSE;
    }
  }
  return TRUE;
}

BOOL AddLocalMediaICCProfiles(CAddICCProfile& in_profiles) {
  CPrnQueue& prnQueue = in_profiles.PrnQueue();
  CIniFile& iniFile = in_profiles.IniFile();
  CLogWrite& log = in_profiles.Log();
  if (prnQueue.dataFile[0] == L'\0') {
    log.Write("AddLocalMediaICCProfiles: Can't get VIF file.");
    return FALSE;
  }
  WCHAR szDraft[10] = {}, szStandard[10] = {}, szQuality[10] = {};
  GetPrivateProfileStringW(L"QNVProfiles", L"ResDraft", L"error", szDraft, _countof(szDraft), prnQueue.dataFile);
  GetPrivateProfileStringW(L"QNVProfiles", L"ResStandard", L"error", szStandard, _countof(szStandard),
                           prnQueue.dataFile);
  GetPrivateProfileStringW(L"QNVProfiles", L"ResHighQuality", L"error", szQuality, _countof(szQuality),
                           prnQueue.dataFile);
  if (szDraft[0] == L'\0' || szStandard[0] == L'\0' || szQuality[0] == L'\0') {
    log.Write("AddLocalMediaICCProfiles: Can't get ressolution key.");
    return FALSE;
  }
  for (INT i = 0; i < iniFile.mediaCount && i < kMaxMedia; ++i) {
    const MediaRecord& stMedia = iniFile.media[i];
    const UINT nNumber = static_cast<UINT>(stMedia.MediaDefinition) & 0xFFFF;
    const struct {
      LPCWSTR pszResolution;
      LPCWSTR pszProfile;
    } kKeys[] = {{szDraft, stMedia.Profile_Draft},
                 {szStandard, stMedia.Profile_Normal},
                 {szQuality, stMedia.Profile_Quality}};
    for (const auto& stKey : kKeys) {
      WCHAR szKey[80];
      swprintf_s(szKey, L"%u_%s", nNumber, stKey.pszResolution);
      // A name the installation refused is not handed on to the driver either.
      LPCWSTR pszValue = stKey.pszProfile[0] == L'\0' || IsBareProfileName(stKey.pszProfile) ? stKey.pszProfile : L"";
      if (!WritePrivateProfileStringW(L"QNVProfiles", szKey, pszValue, in_profiles.IccIniPath())) return FALSE;
    }
  }
  return TRUE;
}
