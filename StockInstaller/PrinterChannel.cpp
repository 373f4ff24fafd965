#include "PrinterChannel.h"

#include <cstring>
#include <new>
#include <vector>

#include "SnmpMessage.h"

namespace {

template <class Fn>
Fn Bind(HMODULE in_hModule, const char* in_pszName) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(in_hModule, in_pszName)));
}

// The queue's driver information (level 2), or an empty buffer.
std::vector<BYTE> ReadDriverInfo(LPCWSTR in_pszQueueName) {
  std::vector<BYTE> buffer;
  HANDLE hPrinter = nullptr;
  if (!OpenPrinterW(const_cast<LPWSTR>(in_pszQueueName), &hPrinter, nullptr)) return buffer;
  DWORD dwNeeded = 0;
  if (!GetPrinterDriverW(hPrinter, nullptr, 2, nullptr, 0, &dwNeeded) &&
      GetLastError() == ERROR_INSUFFICIENT_BUFFER && dwNeeded >= sizeof(DRIVER_INFO_2W)) {
    buffer.resize(dwNeeded);
    if (!GetPrinterDriverW(hPrinter, nullptr, 2, buffer.data(), dwNeeded, &dwNeeded)) buffer.clear();
  }
  ClosePrinter(hPrinter);
  return buffer;
}

}  // namespace

BOOL FindPrinterLibraryPath(LPCWSTR in_pszQueueName, LPWSTR out_pszPath, DWORD in_nPathChars) {
  if (in_pszQueueName == nullptr || out_pszPath == nullptr || in_nPathChars == 0) return FALSE;
  out_pszPath[0] = L'\0';
  WCHAR szFileName[260] = {};
  std::vector<BYTE> info = ReadDriverInfo(in_pszQueueName);
  if (!info.empty() && reinterpret_cast<DRIVER_INFO_2W*>(info.data())->cVersion >= 4) {
    wcscpy_s(szFileName, kVersion4LibraryName);
  } else {
    HANDLE hPrinter = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(in_pszQueueName), &hPrinter, nullptr)) return FALSE;
    DWORD dwType = 0, dwNeeded = 0;
    DWORD dwResult = GetPrinterDataW(hPrinter, const_cast<LPWSTR>(L"LKAPIB6Name"), &dwType,
                                     reinterpret_cast<LPBYTE>(szFileName), sizeof(szFileName) - sizeof(WCHAR), &dwNeeded);
    ClosePrinter(hPrinter);
    if (dwResult != ERROR_SUCCESS || szFileName[0] == L'\0') return FALSE;
  }

  info = ReadDriverInfo(in_pszQueueName);
  if (info.empty()) return FALSE;
  LPCWSTR pszDataFile = reinterpret_cast<DRIVER_INFO_2W*>(info.data())->pDataFile;
  if (pszDataFile == nullptr) return FALSE;
  LPCWSTR pszSlash = wcsrchr(pszDataFile, L'\\');
  if (pszSlash == nullptr) return FALSE;
  const size_t nFolder = static_cast<size_t>(pszSlash - pszDataFile) + 1;
  const size_t nTotal = nFolder + wcslen(szFileName) + 1;
  if (nTotal > 520 || nTotal > in_nPathChars) return FALSE;
  std::memcpy(out_pszPath, pszDataFile, nFolder * sizeof(WCHAR));
  wcscpy_s(out_pszPath + nFolder, in_nPathChars - nFolder, szFileName);
  return TRUE;
}

BOOL ExtractModel(const char* in_pszDeviceId, DWORD in_nLength, char* out_pszModel, DWORD in_nSize,
                  DWORD* out_pnLength) {
  if (out_pnLength != nullptr) *out_pnLength = 0;
  if (out_pszModel == nullptr || in_nSize == 0) return FALSE;
  out_pszModel[0] = '\0';
  if (in_pszDeviceId == nullptr || in_nLength < 4) return FALSE;
  DWORD nStart = in_nLength;
  for (DWORD i = 0; i + 4 <= in_nLength; ++i) {
    if (std::memcmp(in_pszDeviceId + i, "MDL:", 4) == 0) {
      nStart = i + 4;
      break;
    }
  }
  if (nStart == in_nLength) return FALSE;
  DWORD nLength = 0;
  while (nStart + nLength < in_nLength && in_pszDeviceId[nStart + nLength] != ';' &&
         in_pszDeviceId[nStart + nLength] != '\0' && nLength + 1 < in_nSize)
    ++nLength;
  std::memcpy(out_pszModel, in_pszDeviceId + nStart, nLength);
  out_pszModel[nLength] = '\0';
  if (out_pnLength != nullptr) *out_pnLength = nLength;
  return nLength > 0 ? TRUE : FALSE;
}

PrinterChannel::~PrinterChannel() { Close(); }

BOOL PrinterChannel::Create(LPCWSTR in_pszQueueName) {
  Close();
  if (in_pszQueueName == nullptr) return FALSE;
  wcsncpy_s(m_szQueueNameW, in_pszQueueName, _TRUNCATE);
  if (WideCharToMultiByte(CP_ACP, 0, m_szQueueNameW, -1, m_szQueueNameA, sizeof(m_szQueueNameA), nullptr, nullptr) ==
      0)
    m_szQueueNameA[0] = '\0';
  m_nCapacity = 65535;
  return TRUE;
}

BOOL PrinterChannel::Open() {
  if (m_hModule != nullptr) return m_bStarted;
  if (!FindPrinterLibraryPath(m_szQueueNameW, m_szLibraryPath, _countof(m_szLibraryPath))) return FALSE;
  m_hModule = LoadLibraryW(m_szLibraryPath);
  if (m_hModule == nullptr) return FALSE;
  m_pfnInitialize = Bind<PFN_LKInitialize>(m_hModule, "LKInitialize");
  m_pfnRelease = Bind<PFN_LKRelease>(m_hModule, "LKRelease");
  m_pfnGetAvailableChannel = Bind<PFN_LKGetAvailableChannel>(m_hModule, "LKGetAvailableChannel");
  m_pfnOpenChannel = Bind<PFN_LKOpenChannel>(m_hModule, "LKOpenChannel");
  m_pfnCloseChannel = Bind<PFN_LKCloseChannel>(m_hModule, "LKCloseChannel");
  m_pfnSend = Bind<PFN_LKSend>(m_hModule, "LKSend");
  m_pfnReceive = Bind<PFN_LKReceive>(m_hModule, "LKReceive");
  m_pfnGetStatus = Bind<PFN_LKGetStatus>(m_hModule, "LKGetStatus");
  m_pfnGetDeviceID = Bind<PFN_LKGetDeviceID>(m_hModule, "LKGetDeviceID");
  if (!m_pfnInitialize || !m_pfnRelease || !m_pfnGetAvailableChannel || !m_pfnOpenChannel || !m_pfnCloseChannel ||
      !m_pfnSend || !m_pfnReceive || !m_pfnGetStatus || !m_pfnGetDeviceID) {
    FreeLibrary(m_hModule);
    m_hModule = nullptr;
    return FALSE;
  }
  m_bStarted = m_pfnInitialize() == 0;
  return m_bStarted;
}

BOOL PrinterChannel::OpenChannel() {
  if (!m_bStarted || m_nChannel > 0) return FALSE;
  DWORD dwSize = 0;
  if (m_pfnGetAvailableChannel(1, m_szQueueNameA, nullptr, &dwSize) != -4 || dwSize == 0) return FALSE;
  std::vector<BYTE> entries(dwSize);
  DWORD dwFilled = dwSize;
  INT nCount = m_pfnGetAvailableChannel(1, m_szQueueNameA, entries.data(), &dwFilled);
  if (nCount <= 0) return FALSE;
  // Only entries inside the buffer count, whatever number the library claims.
  const DWORD nEntries = static_cast<DWORD>(nCount) < dwSize / 8 ? static_cast<DWORD>(nCount) : dwSize / 8;
  DWORD dwKind = 0;
  for (DWORD i = 0; i < nEntries && dwKind == 0; ++i) {
    DWORD dwEntryKind;
    std::memcpy(&dwEntryKind, entries.data() + i * 8, sizeof dwEntryKind);
    if (dwEntryKind == kChannelKindSnmp || dwEntryKind == kChannelKindStream) dwKind = dwEntryKind;
  }
  if (dwKind == 0) return FALSE;
  m_pRxBuffer = new (std::nothrow) BYTE[m_nCapacity]();
  if (m_pRxBuffer == nullptr) return FALSE;
  m_nPending = 0;
  m_nKind = dwKind;
  INT nChannel = m_pfnOpenChannel(1, m_szQueueNameA, dwKind);
  if (nChannel > 0) {
    m_nChannel = nChannel;
    return TRUE;
  }
  m_nKind = 0;
  delete[] m_pRxBuffer;
  m_pRxBuffer = nullptr;
  return FALSE;
}

INT PrinterChannel::Send(const BYTE* in_pCommand, DWORD in_nLength) {
  if (m_nChannel <= 0 || m_pfnSend == nullptr || in_pCommand == nullptr) return 0;
  if (m_nKind == kChannelKindSnmp) {
    std::vector<BYTE> request = BuildSnmpRequest(in_pCommand, in_nLength);
    return m_pfnSend(m_nChannel, request.data(), static_cast<DWORD>(request.size()));
  }
  return m_pfnSend(m_nChannel, in_pCommand, in_nLength);
}

INT PrinterChannel::Receive(const BYTE* in_pCommand, DWORD in_nCommandLength, BYTE* out_pReply,
                            DWORD* out_pnLength) {
  if (out_pnLength == nullptr) return 0;
  *out_pnLength = 0;
  if (m_nChannel <= 0 || m_pRxBuffer == nullptr || out_pReply == nullptr) return 0;
  if (m_nPending == 0) {
    std::memset(m_pRxBuffer, 0, m_nCapacity);
    m_nPending = m_nCapacity;
    // A library that reports more than the buffer holds is not believed.
    if (m_pfnReceive(m_nChannel, m_pRxBuffer, &m_nPending, kReceiveTimeoutMs) <= 0 || m_nPending > m_nCapacity) {
      m_nPending = 0;
      return 0;
    }
  }
  const BYTE* pData = m_pRxBuffer;
  DWORD nData = m_nPending;
  if (m_nKind == kChannelKindSnmp) {
    if (!ExtractSnmpValue(in_pCommand, in_nCommandLength, m_pRxBuffer, m_nPending, &pData, &nData)) {
      m_nPending = 0;
      return 1;
    }
  }
  *out_pnLength = nData;
  if (nData > kReplyBufferSize) return -4;
  std::memcpy(out_pReply, pData, nData);
  m_nPending = 0;
  return static_cast<INT>(nData);
}

BOOL PrinterChannel::GetModel(char* out_pszModel, DWORD* out_pnLength) {
  if (out_pnLength != nullptr) *out_pnLength = 0;
  if (out_pszModel == nullptr) return FALSE;
  out_pszModel[0] = '\0';
  if (!m_bStarted) return FALSE;
  DWORD dwSize = 0;
  INT nResult = m_pfnGetDeviceID(1, m_szQueueNameA, nullptr, &dwSize);
  if ((nResult != 0 && nResult != -4) || dwSize == 0) return FALSE;
  std::vector<char> id(static_cast<size_t>(dwSize) + 1, '\0');
  DWORD dwFilled = dwSize;
  if (m_pfnGetDeviceID(1, m_szQueueNameA, id.data(), &dwFilled) != 0) return FALSE;
  if (dwFilled > dwSize) dwFilled = dwSize;
  return ExtractModel(id.data(), dwFilled, out_pszModel, MAX_PATH, out_pnLength);
}

INT PrinterChannel::GetStatus(BYTE* out_pBuffer, DWORD* io_pnSize) {
  if (m_nChannel <= 0 || m_pfnGetStatus == nullptr || out_pBuffer == nullptr || io_pnSize == nullptr) return 0;
  *io_pnSize = kReplyBufferSize;
  INT nResult = m_pfnGetStatus(m_nChannel, out_pBuffer, io_pnSize);
  // A reply longer than the buffer cannot have been written into it.
  if (nResult > 0 && *io_pnSize > kReplyBufferSize) {
    *io_pnSize = 0;
    return 0;
  }
  return nResult;
}

void PrinterChannel::CloseChannel() {
  if (m_nChannel > 0) {
    m_pfnCloseChannel(m_nChannel);
    m_nChannel = 0;
    m_nKind = 0;
    delete[] m_pRxBuffer;
    m_pRxBuffer = nullptr;
    m_nPending = 0;
  }
}

void PrinterChannel::Close() {
  CloseChannel();
  if (m_hModule != nullptr) {
    if (m_bStarted) {
      m_pfnRelease();
      m_bStarted = FALSE;
    }
    FreeLibrary(m_hModule);
    m_hModule = nullptr;
  }
}
