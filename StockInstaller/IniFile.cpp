#include "IniFile.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace {

constexpr WCHAR kMissing[] = L"error";

// The value of a key, or FALSE when it is missing (the default comes back).
BOOL ReadString(LPCWSTR in_pszSection, LPCWSTR in_pszKey, LPCWSTR in_pszPath, WCHAR (&out_szValue)[MAX_PATH]) {
  GetPrivateProfileStringW(in_pszSection, in_pszKey, kMissing, out_szValue, MAX_PATH, in_pszPath);
  return wcscmp(out_szValue, kMissing) != 0 ? TRUE : FALSE;
}

void CopyName(WCHAR (&out_szName)[kMediaNameChars], LPCWSTR in_pszValue) {
  wcsncpy_s(out_szName, in_pszValue, kMediaNameChars - 1);
}

}  // namespace

BOOL CIniFile::Load(LPCSTR in_pszPath) {
  if (in_pszPath == nullptr || in_pszPath[0] == '\0') {
    m_log.Write("IniFile: No INI file.");
    return FALSE;
  }
  if (MultiByteToWideChar(CP_ACP, 0, in_pszPath, -1, iniPath, MAX_PATH) == 0) {
    // Too long for a path of the tool: keep what fits, as a truncating conversion would.
    WCHAR szLong[4096] = {};
    MultiByteToWideChar(CP_ACP, 0, in_pszPath, -1, szLong, _countof(szLong));
    wcsncpy_s(iniPath, szLong, _TRUNCATE);
  }

  WCHAR szValue[MAX_PATH];
  if (!ReadString(L"Header", L"DeviceID", iniPath, szValue)) {
    m_log.Write("IniFile: No exist Device ID.");
    return FALSE;
  }
  if (WideCharToMultiByte(CP_ACP, 0, szValue, -1, deviceId, sizeof(deviceId), nullptr, nullptr) == 0)
    deviceId[0] = '\0';

  INT nLoaded = 0;
  for (UINT nSection = 1; nLoaded < kMaxMedia; ++nSection) {
    WCHAR szSection[64];
    swprintf_s(szSection, L"UINumber%u", nSection);
    if (!ReadString(szSection, L"MediaDefinition", iniPath, szValue)) break;
    if (ReadString(szSection, L"IsBaseMedia", iniPath, szValue) && wcscmp(szValue, L"true") == 0) continue;

    MediaRecord& stMedia = media[nLoaded];
    std::memset(&stMedia, 0, sizeof stMedia);
    struct NameKey {
      LPCWSTR pszKey;
      WCHAR (*pField)[kMediaNameChars];
    };
    const NameKey kNames[] = {
        {L"MediaName_ja", &stMedia.MediaName_ja},       {L"MediaName_fr", &stMedia.MediaName_fr},
        {L"MediaName_it", &stMedia.MediaName_it},       {L"MediaName_de", &stMedia.MediaName_de},
        {L"MediaName_es", &stMedia.MediaName_es},       {L"MediaName_pt", &stMedia.MediaName_pt},
        {L"MediaName_nl", &stMedia.MediaName_nl},       {L"MediaName_tr", &stMedia.MediaName_tr},
        {L"MediaName_ru", &stMedia.MediaName_ru},       {L"MediaName_zh_CN", &stMedia.MediaName_zh_CN},
        {L"MediaName_zh_TW", &stMedia.MediaName_zh_TW}, {L"MediaName_ko", &stMedia.MediaName_ko},
    };
    for (const NameKey& stName : kNames)
      if (ReadString(szSection, stName.pszKey, iniPath, szValue)) CopyName(*stName.pField, szValue);
    if (ReadString(szSection, L"MediaName_en", iniPath, szValue) ||
        ReadString(szSection, L"MediaName_us", iniPath, szValue))
      CopyName(stMedia.MediaName_en, szValue);

    INT nValue = static_cast<INT>(GetPrivateProfileIntW(szSection, L"BaseMediaID", -1, iniPath));
    if (nValue != -1) stMedia.BaseMediaID = nValue;
    nValue = static_cast<INT>(GetPrivateProfileIntW(szSection, L"MediaDefinition", -1, iniPath));
    if (nValue != -1) stMedia.MediaDefinition = nValue;
    if (ReadString(szSection, L"MediaName_prn", iniPath, szValue)) {
      char szPrn[MAX_PATH] = {};
      if (WideCharToMultiByte(CP_ACP, 0, szValue, -1, szPrn, sizeof(szPrn), nullptr, nullptr) == 0) szPrn[0] = '\0';
      std::memcpy(stMedia.MediaName_prn, szPrn, 11);
      stMedia.MediaName_prn[11] = '\0';
    }
    nValue = static_cast<INT>(GetPrivateProfileIntW(szSection, L"InkDuty_Normal", -1, iniPath));
    if (nValue != -1) stMedia.InkDuty_Normal = nValue;
    nValue = static_cast<INT>(GetPrivateProfileIntW(szSection, L"PaperLength", -1, iniPath));
    if (nValue != -1) stMedia.PaperLength = nValue;

    struct ProfileKey {
      LPCWSTR pszKey;
      WCHAR (*pField)[MAX_PATH];
    };
    const ProfileKey kProfiles[] = {{L"Profile_Draft", &stMedia.Profile_Draft},
                                    {L"Profile_Normal", &stMedia.Profile_Normal},
                                    {L"Profile_Quality", &stMedia.Profile_Quality}};
    for (const ProfileKey& stProfile : kProfiles) {
      if (!ReadString(szSection, stProfile.pszKey, iniPath, szValue)) continue;
      wcsncpy_s(*stProfile.pField, szValue, MAX_PATH - 1);
      BOOL bKnown = FALSE;
      for (const ProfileName& stKnown : profiles)
        if (lstrcmpiW(stKnown.szName, *stProfile.pField) == 0) bKnown = TRUE;
      if (!bKnown) {
        ProfileName stName = {};
        wcscpy_s(stName.szName, *stProfile.pField);
        profiles.push_back(stName);
      }
    }
    ++nLoaded;
  }
  mediaCount = nLoaded;
  return TRUE;
}

void CIniFile::RemoveMedia(INT in_nIndex) {
  if (in_nIndex < 0 || in_nIndex >= mediaCount) return;
  for (INT i = in_nIndex; i + 1 < kMaxMedia; ++i) media[i] = media[i + 1];
  std::memset(&media[kMaxMedia - 1], 0, sizeof(MediaRecord));
  --mediaCount;
}

CIniFile* CreateIniFileInfo(LPCSTR in_pszPath, LPSTR io_pszModelName, CLogWrite* in_pLog) {
  if (in_pLog == nullptr) return nullptr;
  CIniFile* pIniFile = nullptr;
  try {
    pIniFile = new CIniFile(*in_pLog);
    if (!pIniFile->Load(in_pszPath)) {
      delete pIniFile;
      return nullptr;
    }
  } catch (const std::bad_alloc&) {
    delete pIniFile;
    return nullptr;
  }
  if (io_pszModelName != nullptr) strncpy_s(io_pszModelName, 80, pIniFile->deviceId, 79);
  return pIniFile;
}
