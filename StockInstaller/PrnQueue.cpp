#include "PrnQueue.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "PrinterChannel.h"

namespace {

bool SameIdentity(const PrinterIdentity& a, const PrinterIdentity& b) {
  return std::memcmp(a.head, b.head, sizeof a.head) == 0 && std::memcmp(a.tail, b.tail, sizeof a.tail) == 0;
}

}  // namespace

BOOL CPrnQueue::Init(LPCSTR in_pszDriverName, LPCSTR in_pszModelName) {
  if (in_pszDriverName == nullptr || in_pszModelName == nullptr) return FALSE;
  DWORD dwNeeded = 0, dwReturned = 0;
  EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &dwNeeded, &dwReturned);
  if (dwNeeded == 0) return TRUE;
  try {
    std::vector<BYTE> buffer(dwNeeded);
    if (!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), dwNeeded, &dwNeeded, &dwReturned)) {
      m_log.Write("PrnQueue: EnumPrinters Error.");
      return FALSE;
    }
    if (MultiByteToWideChar(CP_ACP, 0, in_pszDriverName, -1, driverName, MAX_PATH) == 0) driverName[0] = L'\0';
    devices.clear();
    queueNames.clear();
    const PRINTER_INFO_2W* pInfo = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    BOOL bDriverFiles = FALSE;
    for (DWORD i = 0; i < dwReturned; ++i) {
      const PRINTER_INFO_2W& stInfo = pInfo[i];
      if (stInfo.pDriverName == nullptr || stInfo.pPrinterName == nullptr ||
          lstrcmpW(stInfo.pDriverName, driverName) != 0)
        continue;
      if (!bDriverFiles) bDriverFiles = TakeDriverFiles(stInfo.pPrinterName);
      QueueName stName = {};
      wcsncpy_s(stName.szName, stInfo.pPrinterName, MAX_PATH - 1);
      queueNames.push_back(stName);
      if ((stInfo.Attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE) != 0) continue;
      LPCWSTR pszPort = stInfo.pPortName != nullptr ? stInfo.pPortName : L"";
      BOOL bKnownPort = FALSE;
      for (const DeviceRecord& stDevice : devices)
        if (lstrcmpiW(stDevice.portName, pszPort) == 0) bKnownPort = TRUE;
      if (bKnownPort) continue;
      char szModel[MAX_PATH] = {};
      PrinterIdentity stIdentity = {};
      if (!GetDeviceInfo(stInfo.pPrinterName, szModel, &stIdentity)) continue;
      BOOL bKnownPrinter = FALSE;
      for (const DeviceRecord& stDevice : devices)
        if (SameIdentity(stDevice.identity, stIdentity)) bKnownPrinter = TRUE;
      if (bKnownPrinter) continue;
      if (lstrcmpA(szModel, in_pszModelName) != 0) continue;
      DeviceRecord stDevice = {};
      wcsncpy_s(stDevice.printerName, stInfo.pPrinterName, MAX_PATH - 1);
      stDevice.identity = stIdentity;
      wcsncpy_s(stDevice.portName, pszPort, MAX_PATH - 1);
      devices.push_back(stDevice);
    }
  } catch (const std::bad_alloc&) {
    devices.clear();
    queueNames.clear();
    m_log.Write("PrnQueue: Init error.");
    return FALSE;
  }
  return TRUE;
}

BOOL CPrnQueue::TakeDriverFiles(LPCWSTR in_pszQueueName) {
  HANDLE hPrinter = nullptr;
  if (!OpenPrinterW(const_cast<LPWSTR>(in_pszQueueName), &hPrinter, nullptr)) {
    m_log.Write("PrnQueue: Can't open printer.");
    return FALSE;
  }
  DWORD dwNeeded = 0;
  GetPrinterDriverW(hPrinter, nullptr, 2, nullptr, 0, &dwNeeded);
  if (dwNeeded == 0) {
    ClosePrinter(hPrinter);
    m_log.Write("PrnQueue: Can't get printer information.");
    return FALSE;
  }
  BYTE* pBuffer = new (std::nothrow) BYTE[dwNeeded];
  if (pBuffer == nullptr) {
    ClosePrinter(hPrinter);
    m_log.Write("PrnQueue: SetDrvModules error.");
    return FALSE;
  }
  BOOL bOk = GetPrinterDriverW(hPrinter, nullptr, 2, pBuffer, dwNeeded, &dwNeeded);
  if (bOk) {
    const DRIVER_INFO_2W* pInfo = reinterpret_cast<const DRIVER_INFO_2W*>(pBuffer);
    wcsncpy_s(configFile, pInfo->pConfigFile != nullptr ? pInfo->pConfigFile : L"", MAX_PATH - 1);
    wcsncpy_s(dataFile, pInfo->pDataFile != nullptr ? pInfo->pDataFile : L"", MAX_PATH - 1);
  }
  delete[] pBuffer;
  ClosePrinter(hPrinter);
  return bOk;
}

BOOL CPrnQueue::GetDeviceInfo(LPCWSTR in_pszQueueName, LPSTR out_pszModel, PrinterIdentity* out_pIdentity) {
  PrinterChannel* pChannel = new (std::nothrow) PrinterChannel();
  if (pChannel == nullptr) {
    m_log.Write("PrnQueue: GetPrinterInfo error 2.");
    return FALSE;
  }
  if (!pChannel->Create(in_pszQueueName) || !pChannel->Open()) {
    delete pChannel;
    m_log.Write("PrnQueue: GetPrinterInfo error 1.");
    return FALSE;
  }
  BOOL bOk = FALSE;
  DWORD dwModelLength = 0;
  if (pChannel->GetModel(out_pszModel, &dwModelLength) && (pChannel->IsChannelOpen() || pChannel->OpenChannel())) {
    BYTE reply[kReplyBufferSize] = {};
    DWORD dwSize = kReplyBufferSize;
    if (pChannel->GetStatus(reply, &dwSize) >= 1) {
      St2Status stStatus;
      if (ParseSt2Status(reply, dwSize, &stStatus) && stStatus.identityPresent) {
        *out_pIdentity = stStatus.identity;
        bOk = TRUE;
      }
    }
  }
  pChannel->Close();
  delete pChannel;
  return bOk;
}

CPrnQueue* CreatePrnQueueInfo(LPCSTR in_pszDriverName, LPCSTR in_pszModelName, CLogWrite* in_pLog) {
  if (in_pLog == nullptr) return nullptr;
  CPrnQueue* pQueue = new (std::nothrow) CPrnQueue(*in_pLog);
  if (pQueue == nullptr) return nullptr;
  if (!pQueue->Init(in_pszDriverName, in_pszModelName)) {
    delete pQueue;
    return nullptr;
  }
  return pQueue;
}

LPCWSTR FirstQueueName(const CPrnQueue& in_queue, CLogWrite& in_log) {
  if (in_queue.queueNames.empty()) {
    in_log.Write("PrnQueue: Over index 2.");
    return nullptr;
  }
  return in_queue.queueNames.front().szName;
}
