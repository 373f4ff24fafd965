// Brings the ten media slots of one printer in line with the custom media: media i belongs
// in slot i, slots beyond the last media are emptied. One result line per slot goes to the
// standard output.
#pragma once

#include <windows.h>

#include "IniFile.h"
#include "LogWrite.h"
#include "PrinterChannel.h"
#include "PrnQueue.h"

#pragma pack(push, 1)
// The record of one slot as sent to and read back from the printer.
struct SlotRecord {
  BYTE slot;  // 0xFF in a record read back: the slot is empty
  DWORD mediaDefinition;
  BYTE baseMedia;
  BYTE printerData[6];  // kept by the printer, sent back unchanged
  BYTE inkDuty;
  WORD paperLength;  // PaperLength * 100
  char shortName[12];
};
#pragma pack(pop)
static_assert(sizeof(SlotRecord) == 27, "the printer's slot record has 27 bytes");

inline constexpr DWORD kActionNotMatched = 0x10000;
inline constexpr DWORD kActionNone = 0;
inline constexpr DWORD kActionWrite = 1;
inline constexpr DWORD kActionDelete = 2;
inline constexpr DWORD kActionFailed = 0x20000;

// The wanted record of slot `in_nSlot` for a media (or an empty one without media).
SlotRecord MakeSlotRecord(BYTE in_nSlot, const MediaRecord* in_pMedia);

class CPrinterExchange {
 public:
  CPrinterExchange(CIniFile& in_iniFile, CLogWrite& in_log) : m_iniFile(in_iniFile), m_log(in_log) {}
  virtual ~CPrinterExchange() = default;

  // FALSE only when the device's library cannot be loaded and started; otherwise ten
  // result lines were written.
  BOOL Run(const DeviceRecord& in_device);

  BOOL QuerySlot(BYTE in_nSlot);
  BOOL WriteSlot(BYTE in_nSlot);
  BOOL DeleteSlot(BYTE in_nSlot);

  SlotRecord current = {};
  SlotRecord table[kMaxMedia] = {};
  INT mediaCount = 0;
  DWORD actions[kMaxMedia] = {};

 private:
  // Sends a command and receives its reply into out_reply (512 bytes, zeroed first).
  BOOL Exchange(const BYTE* in_pCommand, DWORD in_nLength, BYTE* out_reply, DWORD* out_pnLength);
  BOOL WaitUntilReady();

  CIniFile& m_iniFile;
  PrinterChannel m_channel;
  [[maybe_unused]] CLogWrite& m_log;
};

BOOL AddToPrinter(CIniFile* in_pIniFile, const DeviceRecord* in_pDevice, CLogWrite* in_pLog);
