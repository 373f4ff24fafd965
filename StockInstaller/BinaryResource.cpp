#include "BinaryResource.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

namespace {

constexpr INT kMediaTableId = 3000;
constexpr DWORD kDirectoryOffset = 32;
constexpr DWORD kDirectoryEntrySize = 28;

// Reads little-endian fields only where they lie inside the bytes.
bool Fits(DWORD in_nSize, DWORD in_nOffset, DWORD in_nLength) {
  return in_nOffset <= in_nSize && in_nLength <= in_nSize - in_nOffset;
}
DWORD Read16(const BYTE* in_p) { return static_cast<DWORD>(in_p[0]) | static_cast<DWORD>(in_p[1]) << 8; }
DWORD Read32(const BYTE* in_p) { return Read16(in_p) | Read16(in_p + 2) << 16; }

}  // namespace

void BinaryResource::Free() {
  delete[] pData;
  pData = nullptr;
  nSize = 0;
  bValueAt52 = FALSE;
  bValueAt18 = FALSE;
}

BOOL BinaryResource::LoadBytes(const BYTE* in_pBytes, DWORD in_nSize) {
  Free();
  if (in_pBytes == nullptr || in_nSize == 0) return FALSE;
  pData = new (std::nothrow) BYTE[in_nSize];
  if (pData == nullptr) return FALSE;
  std::memcpy(pData, in_pBytes, in_nSize);
  nSize = in_nSize;
  if (Fits(nSize, 4, 4)) {
    const DWORD dwFlags = Read32(pData + 4);
    bValueAt52 = (dwFlags & 4) != 0;
    bValueAt18 = (dwFlags & 2) != 0;
  }
  return TRUE;
}

BOOL BinaryResource::Load(HANDLE in_hPrinter) {
  Free();
  DWORD dwNeeded = 0;
  if (GetPrinterDriverW(in_hPrinter, nullptr, 2, nullptr, 0, &dwNeeded) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER || dwNeeded < sizeof(DRIVER_INFO_2W))
    return FALSE;
  std::vector<BYTE> info(dwNeeded);
  if (!GetPrinterDriverW(in_hPrinter, nullptr, 2, info.data(), dwNeeded, &dwNeeded)) return FALSE;
  LPCWSTR pszInfoDataFile = reinterpret_cast<DRIVER_INFO_2W*>(info.data())->pDataFile;
  if (pszInfoDataFile == nullptr) return FALSE;
  WCHAR szDataFile[MAX_PATH] = {};
  wcsncpy_s(szDataFile, pszInfoDataFile, MAX_PATH - 1);

  WCHAR szKey[64];
  swprintf_s(szKey, L"%s%03d", L"BinaryResFileID", 0);
  WCHAR szValue[MAX_PATH] = {};
  GetPrivateProfileStringW(L"DependDrvInfo", szKey, L"", szValue, MAX_PATH, szDataFile);
  if (szValue[0] == L'\0') {
    swprintf_s(szKey, L"%s000", L"BinaryResFileID");
    GetPrivateProfileStringW(L"DependDrvInfo", szKey, L"", szValue, MAX_PATH, szDataFile);
  }
  if (szValue[0] == L'\0') return FALSE;

  LPWSTR pszSlash = wcsrchr(szDataFile, L'\\');
  if (pszSlash == nullptr) return FALSE;
  pszSlash[1] = L'\0';
  WCHAR szPath[MAX_PATH] = {};
  if (swprintf_s(szPath, L"%s%s", szDataFile, szValue) < 0) return FALSE;

  HANDLE hFile = CreateFileW(szPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return FALSE;
  const DWORD dwSize = GetFileSize(hFile, nullptr);
  BOOL bOk = FALSE;
  if (dwSize != 0 && dwSize != INVALID_FILE_SIZE) {
    BYTE* pBytes = new (std::nothrow) BYTE[dwSize];
    DWORD dwRead = 0;
    if (pBytes != nullptr && ReadFile(hFile, pBytes, dwSize, &dwRead, nullptr) && dwRead == dwSize) {
      pData = pBytes;
      nSize = dwSize;
      const DWORD dwFlags = Fits(nSize, 4, 4) ? Read32(pData + 4) : 0;
      bValueAt52 = (dwFlags & 4) != 0;
      bValueAt18 = (dwFlags & 2) != 0;
      bOk = TRUE;
    } else {
      delete[] pBytes;
    }
  }
  CloseHandle(hFile);
  return bOk;
}

INT ParseNumberText(const char* in_pszText, DWORD in_nLength) {
  if (in_pszText == nullptr) return 0;
  const DWORD nLimit = in_nLength < 30 ? in_nLength : 30;
  DWORD i = 0;
  bool bNegative = false;
  unsigned nBase = 10;
  if (i < nLimit && in_pszText[i] == '-') {
    bNegative = true;
    ++i;
  } else if (i + 1 < nLimit && in_pszText[i] == '0' && (in_pszText[i + 1] == 'x' || in_pszText[i + 1] == 'X')) {
    nBase = 16;
    i += 2;
  } else if (i < nLimit && in_pszText[i] == '+') {
    ++i;
  }
  // Wraps like 32-bit arithmetic instead of overflowing.
  UINT nValue = 0;
  for (; i < nLimit; ++i) {
    const char c = in_pszText[i];
    unsigned nDigit;
    if (c >= '0' && c <= '9')
      nDigit = static_cast<unsigned>(c - '0');
    else if (nBase == 16 && c >= 'a' && c <= 'f')
      nDigit = static_cast<unsigned>(c - 'a' + 10);
    else if (nBase == 16 && c >= 'A' && c <= 'F')
      nDigit = static_cast<unsigned>(c - 'A' + 10);
    else
      break;
    nValue = nValue * nBase + nDigit;
  }
  return static_cast<INT>(bNegative ? 0u - nValue : nValue);
}

namespace {

// The media table's directory entry, or none when the directory does not hold it within the
// loaded bytes.
const BYTE* FindMediaTable(const BinaryResource& in_resource) {
  const BYTE* pData = in_resource.pData;
  const DWORD nSize = in_resource.nSize;
  if (pData == nullptr || !Fits(nSize, 2, 2)) return nullptr;
  const DWORD nEntries = Read16(pData + 2);
  for (DWORD i = 0; i < nEntries; ++i) {
    const DWORD nEntry = kDirectoryOffset + i * kDirectoryEntrySize;
    if (!Fits(nSize, nEntry, kDirectoryEntrySize)) return nullptr;
    if (static_cast<INT>(Read32(pData + nEntry)) == kMediaTableId) return pData + nEntry;
  }
  return nullptr;
}

}  // namespace

BOOL HasMediaTable(const BinaryResource& in_resource) { return FindMediaTable(in_resource) != nullptr; }

INT ConvertBaseMediaId(const BinaryResource& in_resource, INT in_nBaseMediaId) {
  const BYTE* pData = in_resource.pData;
  const DWORD nSize = in_resource.nSize;
  const BYTE* pTable = FindMediaTable(in_resource);
  if (pTable == nullptr) return -1;
  const DWORD nElementSize = Read32(pTable + 8);
  const DWORD nElements = Read16(pTable + 12);
  const DWORD nFirst = Read32(pTable + 16);
  const DWORD nWanted = static_cast<DWORD>(in_nBaseMediaId) & 0xFFFF;
  for (DWORD i = 0; i < nElements; ++i) {
    // 64-bit arithmetic: a huge element size or offset must not wrap into the buffer.
    const unsigned long long nOffset = static_cast<unsigned long long>(nFirst) +
                                       static_cast<unsigned long long>(i) * nElementSize;
    if (nOffset + 2 > nSize) return -1;
    const DWORD nElement = static_cast<DWORD>(nOffset);
    INT nBase;
    if (in_resource.bValueAt52) {
      if (nElementSize < 54 || !Fits(nSize, nElement, 54)) return -1;
      nBase = static_cast<INT>(Read16(pData + nElement + 52));
    } else if (in_resource.bValueAt18) {
      if (nElementSize < 20 || !Fits(nSize, nElement, 20)) return -1;
      nBase = static_cast<INT>(Read16(pData + nElement + 18));
    } else {
      if (nElementSize <= 20 || !Fits(nSize, nElement, 21)) return -1;
      const DWORD nRoom = nSize - nElement - 20 < nElementSize - 20 ? nSize - nElement - 20 : nElementSize - 20;
      nBase = ParseNumberText(reinterpret_cast<const char*>(pData + nElement + 20), nRoom);
    }
    if (nBase != 999 && (static_cast<DWORD>(nBase) & 0xFFFF) == nWanted)
      return static_cast<INT>(Read16(pData + nElement));
  }
  return -1;
}
