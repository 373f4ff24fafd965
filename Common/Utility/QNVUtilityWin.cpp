#include "QNVUtilityWin.h"

#include <rpc.h>
#include <shlobj.h>
#include <stdarg.h>
#include <stdlib.h>
#include <wchar.h>

#include <algorithm>
#include <map>
#include <string>

#include "LogChannelWriter.h"

// ---------------------------------------------------------------------------------------
// Diagnostic trace

int QNVUtilTrace(int level, int capacity, const wchar_t* format, ...) {
  if (format == nullptr || capacity <= 0) return 0;
  wchar_t* pszLine = static_cast<wchar_t*>(malloc(sizeof(wchar_t) * static_cast<size_t>(capacity)));
  if (pszLine == nullptr) return 0;

  // A cut line is sent as it is; whatever a failed format leaves behind stays terminated.
  pszLine[0] = L'\0';
  va_list args;
  va_start(args, format);
  const int nResult = _vsnwprintf_s(pszLine, static_cast<size_t>(capacity), _TRUNCATE, format, args);
  va_end(args);
  pszLine[capacity - 1] = L'\0';

  LogChannelWriter::Instance().Write(level, pszLine);
  free(pszLine);
  return nResult;
}

wchar_t* QNVUtilFormatAlloc(const wchar_t* format, ...) {
  if (format == nullptr) return nullptr;
  const size_t nCapacity = QNV_TRACE_CAPACITY;
  wchar_t* pszMessage = static_cast<wchar_t*>(malloc(sizeof(wchar_t) * nCapacity));
  if (pszMessage == nullptr) return nullptr;
  va_list args;
  va_start(args, format);
  _vsnwprintf_s(pszMessage, nCapacity, _TRUNCATE, format, args);
  va_end(args);
  return pszMessage;
}

const wchar_t* QNVUtilSourceFileName(const wchar_t* in_pszSourcePath) {
  if (in_pszSourcePath == nullptr) return L"";
  const wchar_t* pszName = in_pszSourcePath;
  for (const wchar_t* p = in_pszSourcePath; *p != L'\0'; ++p) {
    if (*p == L'\\' || *p == L'/') pszName = p + 1;
  }
  return pszName;
}

// ---------------------------------------------------------------------------------------
// Install-path table

namespace {

struct QnvPathEntry {
  int nPathId;
  int nFolderType;
  const wchar_t* pszTemplate;     // `%s` is the base folder
  const wchar_t* pszTemplateX64;  // non-null only where the platform selector matters
};

const QnvPathEntry kPathTable[] = {
    {1, QNV_FOLDER_INSTALL, L"%s\\NORVANTE\\TQ770\\x86\\VTA_SDK.dll", L"%s\\NORVANTE\\TQ770\\x64\\VTA_SDK.dll"},
    {3, QNV_FOLDER_INSTALL, L"%s\\NORVANTE\\TQ770\\common\\7za.exe", nullptr},
    {4, QNV_FOLDER_INSTALL, L"%s\\NORVANTE\\TQ770\\x86\\Logsink.exe", nullptr},
    {5, QNV_FOLDER_INSTALL, L"%s\\NORVANTE\\TQ770\\x86\\Logsweep.exe", nullptr},
    {6, QNV_FOLDER_DATA, L"%s\\NORVANTE\\TQ770\\maintenance\\QNV_PrinterIdInfo.dat", nullptr},
    {7, QNV_FOLDER_INSTALL, L"%s\\NORVANTE\\TQ770\\common\\pattern\\QNV_NC_1.prn", nullptr},
    {8, QNV_FOLDER_INSTALL, L"%s\\NORVANTE\\TQ770\\common\\pattern\\QNV_BD_1.prn", nullptr},
    {9, QNV_FOLDER_INSTALL, L"%s\\NORVANTE\\TQ770\\common\\pattern\\QNV_NC_1.prn", nullptr},
    {10, QNV_FOLDER_DATA, L"%s\\NORVANTE\\TQ770\\maintenance\\", nullptr},
    {11, QNV_FOLDER_DATA, L"%s\\NORVANTE\\TQ770\\print\\", nullptr},
    {12, QNV_FOLDER_DATA, L"%s\\NORVANTE\\TQ770\\printer\\", nullptr},
    {13, QNV_FOLDER_DATA, L"%s\\NORVANTE\\TQ770\\sysinfo\\", nullptr},
    {14, QNV_FOLDER_DATA, L"%s\\NORVANTE\\TQ770\\log\\", nullptr},
    {15, QNV_FOLDER_DATA, L"%s\\NORVANTE\\TQ770\\log\\Logsink.dat", nullptr},
    {16, QNV_FOLDER_DATA, L"%s\\NORVANTE\\TQ770\\DB\\DatabaseTest.db", nullptr},
    {17, QNV_FOLDER_INSTALL, L"%s\\NORVANTE\\TQ770\\common\\error_table\\", nullptr},
};

const QnvPathEntry* FindPathEntry(int in_nPathId) {
  for (const QnvPathEntry& stEntry : kPathTable) {
    if (stEntry.nPathId == in_nPathId) return &stEntry;
  }
  return nullptr;
}

}  // namespace

int QNVUtilGetProgramFilesFolder(wchar_t* out_pszPath) {
  if (out_pszPath == nullptr) return QNVERROR_INVALID_PARAM;
  SYSTEM_INFO stSystemInfo = {};
  GetNativeSystemInfo(&stSystemInfo);
  // The programs are 32-bit builds: on a 64-bit machine they live in the x86 folder.
  const int nFolder = stSystemInfo.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL
                          ? CSIDL_PROGRAM_FILES
                          : CSIDL_PROGRAM_FILESX86;
  if (!SHGetSpecialFolderPathW(nullptr, out_pszPath, nFolder, FALSE)) return QNVERROR_FAILED;
  return QNVERROR_NO_ERROR;
}

int QNVUtilGetModulePathForSDK(int in_nPathId, int in_nPlatform, int in_nFolderType, bool in_bRequest,
                               wchar_t* out_pszPath) {
  int nErrCode = QNVERROR_FAILED;
  wchar_t szInstallFolder[QNV_MODULE_PATH_CAPACITY] = {};
  wchar_t szDataFolder[MAX_PATH] = {};

  // Both folders are looked up before the index is examined: a failing lookup wins even
  // over an invalid index.
  if (QNVUtilGetProgramFilesFolder(szInstallFolder) != QNVERROR_NO_ERROR) return nErrCode;
  if (!SHGetSpecialFolderPathW(nullptr, szDataFolder, CSIDL_COMMON_APPDATA, FALSE)) return nErrCode;

  const QnvPathEntry* pEntry = FindPathEntry(in_nPathId);
  if (pEntry == nullptr) {
    wchar_t* pszMessage = QNVUtilFormatAlloc(L"Param (%d)", in_nPathId);
    QNV_TRACE_MESSAGE_LINE(L"QNVUtilGetModulePathForSDK", pszMessage != nullptr ? pszMessage : L"");
    free(pszMessage);
    return QNVERROR_INVALID_PARAM;
  }
  if (pEntry->nFolderType != in_nFolderType || !in_bRequest) return nErrCode;
  if (out_pszPath == nullptr) return QNVERROR_INVALID_PARAM;

  const wchar_t* pszTemplate = pEntry->pszTemplate;
  if (pEntry->pszTemplateX64 != nullptr && in_nPlatform != QNV_PLATFORM_X86) pszTemplate = pEntry->pszTemplateX64;
  const wchar_t* pszBase = pEntry->nFolderType == QNV_FOLDER_INSTALL ? szInstallFolder : szDataFolder;
  _snwprintf_s(out_pszPath, QNV_MODULE_PATH_CAPACITY, _TRUNCATE, pszTemplate, pszBase);
  return QNVERROR_NO_ERROR;
}

// ---------------------------------------------------------------------------------------
// Language and identifier helpers

namespace {

struct QnvLangCode {
  const wchar_t* pszCode;
  int nLangId;
};

const QnvLangCode kLangCodes[] = {
    {L"en", 9},     {L"it", 16},     {L"ja", 17}, {L"fr", 12},    {L"de", 7},  {L"nl", 19},
    {L"es", 10},    {L"pt", 22},     {L"tr", 31}, {L"ru", 25},    {L"zh-TW", 1028},
    {L"ko", 18},    {L"el", 8},      {L"da", 6},  {L"fi", 11},    {L"nb", 20}, {L"sv", 29},
    {L"pl", 21},    {L"cs", 5},      {L"zh-CN", 2052},            {L"hu", 14}, {L"ro", 24},
    {L"ar", 1},     {L"fa", 41},     {L"th", 30}, {L"id", 33},    {L"ms", 62}, {L"vi", 42},
    {L"zh-HK", 3076},
};

// Culture names by primary language (the id's low byte). Four languages choose further by
// the full id; those are handled in QNVUtilLangIdToCultureName.
const wchar_t* PrimaryCultureName(DWORD in_nPrimary) {
  switch (in_nPrimary) {
    case 1: return L"ar-SA";
    case 5: return L"cs-CZ";
    case 6: return L"da-DK";
    case 7: return L"de-DE";
    case 8: return L"el-GR";
    case 11: return L"fi-FI";
    case 12: return L"fr-FR";
    case 14: return L"hu-HU";
    case 16: return L"it-IT";
    case 17: return L"ja-JP";
    case 18: return L"ko-KR";
    case 19: return L"nl-NL";
    case 20: return L"nb-NO";
    case 21: return L"pl-PL";
    case 24: return L"ro-RO";
    case 25: return L"ru-RU";
    case 29: return L"sv-SE";
    case 30: return L"th-TH";
    case 31: return L"tr-TR";
    case 33: return L"id-ID";
    case 41: return L"fa";
    case 42: return L"vi-VN";
    case 57: return L"id-IN";
    case 62: return L"ms-MY";
    default: return nullptr;
  }
}

struct QnvRegionGroup {
  int nGroup;
  std::initializer_list<int> geoIds;
};

std::map<int, int> BuildRegionMap() {
  const QnvRegionGroup kGroups[] = {
      {1, {122}},
      {2, {39, 244, 161832256}},
      {3, {11, 246, 66, 72, 99, 54, 51, 124, 46, 65, 225, 182, 192, 185, 18, 32, 249, 187, 26, 106, 166, 273,
           31706, 161832015, 161832258}},
      {4, {68, 242, 14, 94, 145, 223, 84, 21, 176, 147, 118, 193, 217, 61, 77, 110, 177, 221, 108, 59, 98,
           19618, 163, 269, 212, 6, 35, 75, 70, 109, 140, 141, 191, 200, 143, 235, 8, 7, 93, 88, 214, 90, 220,
           125, 253, 306, 81, 25, 15126, 152, 10028789}},
      {5, {3, 5, 29, 241, 203, 17, 126, 136, 139, 164, 197, 261, 121, 205, 224, 184, 117, 4, 159, 234, 240,
           73, 71, 89, 57, 87, 49, 86, 100, 196, 50, 43, 233, 213, 62, 264, 260, 208, 210, 216, 343, 41, 232,
           38, 28, 331, 149, 156, 157, 160, 162, 168, 148, 142, 204, 146, 198, 69, 119, 276, 173, 334, 245, 67,
           19, 9, 254, 239, 129, 175, 209, 263}},
      {6, {12, 183}},
      {7, {111, 40, 215, 227, 190, 201, 37, 251, 167, 27, 138, 7299303}},
      {8, {151, 104}},
      {9, {237}},
      {10, {134}},
      {11, {154, 45}},
      {12, {113, 23, 42, 178, 165, 34}},
  };
  std::map<int, int> mapRegion;
  for (const QnvRegionGroup& stGroup : kGroups) {
    for (int nGeoId : stGroup.geoIds) mapRegion.emplace(nGeoId, stGroup.nGroup);
  }
  return mapRegion;
}

const std::map<int, int>& RegionMap() {
  // Built once per process on first use; the initialisation of a local static is
  // thread-safe, and the map is read-only afterwards.
  static const std::map<int, int> s_mapRegion = BuildRegionMap();
  return s_mapRegion;
}

}  // namespace

int QNVUtilLangCodeToLangId(const wchar_t* in_strLangCode, int* out_pnLangId) {
  int nErrCode = QNVERROR_INVALID_PARAM;
  if (out_pnLangId == nullptr) return nErrCode;
  *out_pnLangId = 0;
  QNV_CHECK_BAIL(in_strLangCode != 0);

  nErrCode = QNVERROR_FAILED;
  for (const QnvLangCode& stCode : kLangCodes) {
    if (wcscmp(stCode.pszCode, in_strLangCode) == 0) {
      *out_pnLangId = stCode.nLangId;
      nErrCode = QNVERROR_NO_ERROR;
      break;
    }
  }

QNV_BAIL_EXIT:
  return nErrCode;
}

int QNVUtilLangIdToCultureName(DWORD in_nLangId, wchar_t* out_pszName) {
  if (out_pszName == nullptr) return QNVERROR_INVALID_PARAM;
  const DWORD nPrimary = in_nLangId & 0xFF;
  const wchar_t* pszName = nullptr;
  switch (nPrimary) {
    case 4:
      if (in_nLangId == 1028) pszName = L"zh-TW";
      else if (in_nLangId == 2052) pszName = L"zh-CN";
      else if (in_nLangId == 3076) pszName = L"zh-HK";
      break;
    case 9: pszName = in_nLangId == 1033 ? L"en-US" : L"en"; break;
    case 10: pszName = in_nLangId == 2058 ? L"es-MX" : L"es-ES"; break;
    case 22: pszName = in_nLangId == 1046 ? L"pt-BR" : L"pt-PT"; break;
    default: pszName = PrimaryCultureName(nPrimary); break;
  }
  if (pszName == nullptr) return QNVERROR_FAILED;
  wcscpy_s(out_pszName, QNV_CULTURE_NAME_CAPACITY, pszName);
  return QNVERROR_NO_ERROR;
}

int QNVUtilGetRegionGroup(int in_nGeoId) {
  const std::map<int, int>& mapRegion = RegionMap();
  auto it = mapRegion.find(in_nGeoId);
  return it != mapRegion.end() ? it->second : 0;
}

int QNVUtilGetUserRegion(QNV_USER_REGION* out_pstRegion) {
  if (out_pstRegion == nullptr) return QNVERROR_INVALID_PARAM;
  out_pstRegion->nRecordType = QNV_USER_REGION_RECORD_TYPE;
  out_pstRegion->nGeoId = GetUserGeoID(GEOCLASS_NATION);
  out_pstRegion->nRegionGroup = QNVUtilGetRegionGroup(out_pstRegion->nGeoId);
  return QNVERROR_NO_ERROR;
}

int QNVUtilCreateUuidString(wchar_t* out_pszUuid, int in_nSize, bool in_bNoHyphen) {
  if (out_pszUuid == nullptr || in_nSize < 1) return QNVERROR_INVALID_PARAM;

  int nErrCode = QNVERROR_NO_ERROR;
  RPC_WSTR pszText = nullptr;
  try {
    UUID stUuid;
    UuidCreate(&stUuid);
    if (UuidToStringW(&stUuid, &pszText) != RPC_S_OK || pszText == nullptr) throw QNVERROR_FAILED;
    std::wstring strText(reinterpret_cast<const wchar_t*>(pszText));
    if (in_bNoHyphen) std::erase(strText, L'-');
    const size_t nCopy = std::min(strText.size(), static_cast<size_t>(in_nSize) - 1);
    wmemcpy(out_pszUuid, strText.data(), nCopy);
    out_pszUuid[nCopy] = L'\0';
  } catch (...) {
    nErrCode = QNVERROR_FAILED;
  }
  if (pszText != nullptr) RpcStringFreeW(&pszText);
  return nErrCode;
}

bool QNVUtilIsFileReadable(const wchar_t* in_pszPath) {
  if (in_pszPath == nullptr) return false;
  HANDLE hFile = CreateFileW(in_pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return false;
  CloseHandle(hFile);
  return true;
}
