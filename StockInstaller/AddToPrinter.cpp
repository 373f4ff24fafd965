#include "AddToPrinter.h"

#include <cstring>
#include <new>

#include "Protocol.h"
#include "St2Status.h"

namespace {

constexpr DWORD kCompareLength = 15;
constexpr char kReplyOk[] = "@BDC PS\r\nap:OK;";
constexpr char kReplyNotAvailable[] = "@BDC PS\r\nap:NA;";
constexpr DWORD kEmptySlotReplyLength = 18;
constexpr int kWriteTries = 5;
constexpr int kReadyPolls = 10;
constexpr DWORD kReadyPollIntervalMs = 1000;
constexpr DWORD kReadyTimeoutMs = 19999;

void WriteResults(const char* in_pszLine, INT in_nCount) {
  for (INT i = 0; i < in_nCount; ++i) WriteProtocolLine(in_pszLine);
}

void EmptyRecord(SlotRecord* out_pRecord) {
  std::memset(out_pRecord, 0, sizeof *out_pRecord);
  out_pRecord->slot = 0xFF;
}

bool SameMedia(const SlotRecord& a, const SlotRecord& b) {
  return a.slot == b.slot && a.mediaDefinition == b.mediaDefinition && a.baseMedia == b.baseMedia &&
         a.inkDuty == b.inkDuty && a.paperLength == b.paperLength &&
         std::strncmp(a.shortName, b.shortName, sizeof a.shortName) == 0;
}

}  // namespace

SlotRecord MakeSlotRecord(BYTE in_nSlot, const MediaRecord* in_pMedia) {
  SlotRecord stRecord;
  std::memset(&stRecord, 0, sizeof stRecord);
  stRecord.slot = in_nSlot;
  if (in_pMedia != nullptr) {
    stRecord.mediaDefinition = static_cast<DWORD>(in_pMedia->MediaDefinition);
    stRecord.baseMedia = static_cast<BYTE>(in_pMedia->BaseMediaID & 0xFF);
    stRecord.inkDuty = static_cast<BYTE>(in_pMedia->InkDuty_Normal & 0xFF);
    stRecord.paperLength = static_cast<WORD>(static_cast<DWORD>(in_pMedia->PaperLength) * 100u);
    std::memcpy(stRecord.shortName, in_pMedia->MediaName_prn, 11);
    stRecord.shortName[11] = '\0';
  }
  return stRecord;
}

BOOL CPrinterExchange::Exchange(const BYTE* in_pCommand, DWORD in_nLength, BYTE* out_reply, DWORD* out_pnLength) {
  std::memset(out_reply, 0, kReplyBufferSize);
  *out_pnLength = 0;
  if (!m_channel.IsStarted()) return FALSE;
  if (!m_channel.IsChannelOpen() && !m_channel.OpenChannel()) return FALSE;
  m_channel.ClearPending();
  if (m_channel.Send(in_pCommand, in_nLength) <= 0) return FALSE;
  return m_channel.Receive(in_pCommand, in_nLength, out_reply, out_pnLength) > 0 ? TRUE : FALSE;
}

BOOL CPrinterExchange::QuerySlot(BYTE in_nSlot) {
  if (in_nSlot >= kMaxMedia) return FALSE;
  const BYTE command[] = {'a', 'p', 0x03, 0x00, 0x01, 0x01, in_nSlot};
  BYTE reply[kReplyBufferSize];
  DWORD dwLength = 0;
  if (!Exchange(command, sizeof command, reply, &dwLength)) return FALSE;
  char szPositive[] = "@BDC PS\r\nap:00:";
  szPositive[13] = static_cast<char>('0' + in_nSlot);
  if (std::memcmp(reply, szPositive, kCompareLength) == 0) {
    if (dwLength == kEmptySlotReplyLength) {
      EmptyRecord(&current);
    } else {
      // The reply buffer holds 512 bytes, so a short reply reads as zeros here.
      std::memcpy(&current, reply + kCompareLength, sizeof current);
      current.shortName[11] = '\0';
    }
    return TRUE;
  }
  if (std::memcmp(reply, kReplyNotAvailable, kCompareLength) == 0) {
    EmptyRecord(&current);
    return TRUE;
  }
  return FALSE;
}

BOOL CPrinterExchange::WriteSlot(BYTE in_nSlot) {
  if (in_nSlot >= kMaxMedia) return FALSE;
  BYTE command[7 + sizeof(SlotRecord)] = {'a', 'p', 0x1E, 0x00, 0x00, 0x00, 0x01};
  std::memcpy(command + 7, &table[in_nSlot], sizeof(SlotRecord));
  BYTE reply[kReplyBufferSize];
  DWORD dwLength = 0;
  if (!Exchange(command, sizeof command, reply, &dwLength)) return FALSE;
  return std::memcmp(reply, kReplyOk, kCompareLength) == 0 ? TRUE : FALSE;
}

BOOL CPrinterExchange::DeleteSlot(BYTE in_nSlot) {
  if (in_nSlot >= kMaxMedia) return FALSE;
  const BYTE command[] = {'a', 'p', 0x04, 0x00, 0x00, 0x01, 0x01, in_nSlot};
  BYTE reply[kReplyBufferSize];
  DWORD dwLength = 0;
  if (!Exchange(command, sizeof command, reply, &dwLength)) return FALSE;
  return std::memcmp(reply, kReplyOk, kCompareLength) == 0 ? TRUE : FALSE;
}

BOOL CPrinterExchange::WaitUntilReady() {
  const DWORD dwStart = GetTickCount();
  for (int nPoll = 0; nPoll < kReadyPolls; ++nPoll) {
    if (m_channel.IsChannelOpen() || m_channel.OpenChannel()) {
      BYTE reply[kReplyBufferSize] = {};
      DWORD dwSize = kReplyBufferSize;
      St2Status stStatus;
      if (m_channel.GetStatus(reply, &dwSize) > 0 && ParseSt2Status(reply, dwSize, &stStatus) &&
          stStatus.status == 4)
        return TRUE;
    }
    if (GetTickCount() - dwStart > kReadyTimeoutMs) return FALSE;
    // No pause after the last poll: it would only delay the failure.
    if (nPoll + 1 < kReadyPolls) Sleep(kReadyPollIntervalMs);
  }
  return FALSE;
}

BOOL CPrinterExchange::Run(const DeviceRecord& in_device) {
  mediaCount = m_iniFile.mediaCount;
  for (INT i = 0; i < kMaxMedia; ++i) {
    table[i] = MakeSlotRecord(static_cast<BYTE>(i), i < mediaCount ? &m_iniFile.media[i] : nullptr);
    actions[i] = kActionNotMatched;
  }
  if (!m_channel.Create(in_device.printerName) || !m_channel.Open()) {
    m_channel.Close();
    return FALSE;
  }

  BOOL bOk = TRUE;
  for (INT s = 0; s < kMaxMedia && bOk; ++s) {
    if (!QuerySlot(static_cast<BYTE>(s))) {
      bOk = FALSE;
      break;
    }
    if (current.slot == 0xFF) continue;
    if (s >= mediaCount) actions[s] = kActionDelete;
    for (INT j = 0; j < mediaCount; ++j) {
      if (table[j].mediaDefinition != current.mediaDefinition) continue;
      std::memcpy(table[j].printerData, current.printerData, sizeof current.printerData);
      actions[j] = std::memcmp(&current, &table[j], sizeof current) == 0 ? kActionNone : kActionWrite;
      break;
    }
  }
  if (bOk) {
    for (INT i = 0; i < kMaxMedia; ++i)
      if (actions[i] == kActionNotMatched) actions[i] = i < mediaCount ? kActionWrite : kActionNone;
    bOk = WaitUntilReady();
  }
  if (!bOk) {
    WriteResults("Result=NG\n", kMaxMedia);
    m_channel.Close();
    return TRUE;
  }

  for (INT j = 0; j < mediaCount; ++j) {
    int nTries = 0;
    while ((actions[j] & kActionWrite) != 0) {
      if (nTries == kWriteTries) {
        WriteResults("Result=NG\n", kMaxMedia - j);
        m_channel.Close();
        return TRUE;
      }
      ++nTries;
      const BYTE nSlot = static_cast<BYTE>(j);
      if (WriteSlot(nSlot) && QuerySlot(nSlot) && SameMedia(current, table[j]))
        actions[j] = kActionNone;
      else
        actions[j] |= kActionFailed;
    }
    WriteProtocolLine("Result=OK\n");
  }
  for (INT k = kMaxMedia - 1; k >= mediaCount; --k) {
    if ((actions[k] & kActionDelete) != 0) {
      if (!DeleteSlot(static_cast<BYTE>(k))) {
        actions[k] |= kActionFailed;
        WriteResults("Result=NG\n", k - mediaCount + 1);
        m_channel.Close();
        return TRUE;
      }
      actions[k] = kActionNone;
    }
    WriteProtocolLine("Result=OK\n");
  }
  m_channel.Close();
  return TRUE;
}

BOOL AddToPrinter(CIniFile* in_pIniFile, const DeviceRecord* in_pDevice, CLogWrite* in_pLog) {
  if (in_pIniFile == nullptr || in_pDevice == nullptr || in_pLog == nullptr) return FALSE;
  CPrinterExchange* pExchange = new (std::nothrow) CPrinterExchange(*in_pIniFile, *in_pLog);
  if (pExchange == nullptr) return FALSE;
  BOOL bResult = pExchange->Run(*in_pDevice);
  delete pExchange;
  return bResult;
}
