// The driver's printer communication library for one print queue: found beside the driver's
// data file, loaded and started, then used to open a data channel to the printer, exchange
// command bytes (inside SNMP requests on channel kind 4, as they are on kind 0x10000005),
// read the printer's model from its IEEE 1284 device ID and ask for its status.
#pragma once

#include <windows.h>

// The library's entries. Printer names are ANSI; sizes are in bytes.
typedef INT(WINAPI* PFN_LKInitialize)();
typedef INT(WINAPI* PFN_LKRelease)();
typedef INT(WINAPI* PFN_LKGetAvailableChannel)(INT nType, LPCSTR pszPrinter, LPBYTE pBuffer, LPDWORD pdwSize);
typedef INT(WINAPI* PFN_LKOpenChannel)(INT nType, LPCSTR pszPrinter, DWORD dwKind);
typedef INT(WINAPI* PFN_LKCloseChannel)(INT nChannel);
typedef INT(WINAPI* PFN_LKSend)(INT nChannel, const BYTE* pData, DWORD dwLength);
typedef INT(WINAPI* PFN_LKReceive)(INT nChannel, LPBYTE pBuffer, LPDWORD pdwLength, DWORD dwTimeout);
typedef INT(WINAPI* PFN_LKGetStatus)(INT nChannel, LPBYTE pBuffer, LPDWORD pdwSize);
typedef INT(WINAPI* PFN_LKGetDeviceID)(INT nType, LPCSTR pszPrinter, LPSTR pBuffer, LPDWORD pdwSize);

inline constexpr DWORD kChannelKindSnmp = 4;
inline constexpr DWORD kChannelKindStream = 0x10000005;
inline constexpr DWORD kReplyBufferSize = 512;
inline constexpr DWORD kReceiveTimeoutMs = 10000;
// File name of the library of drivers of version 4 and later.
inline constexpr WCHAR kVersion4LibraryName[] = L"M5T1QA2000.DLL";

// Full path of the queue's communication library (at most 520 characters with terminator):
// "M5T1QA2000.DLL" for drivers of version 4 or more, else the queue's printer data value
// "LKAPIB6Name"; in the folder of the driver's data file. FALSE when there is none.
BOOL FindPrinterLibraryPath(LPCWSTR in_pszQueueName, LPWSTR out_pszPath, DWORD in_nPathChars);

// The text after the first "MDL:" of a device ID, up to the first ";" or the end of the
// `in_nLength` bytes (never beyond), at most out_nSize - 1 bytes, terminated. FALSE when
// there is no "MDL:" or the model is empty.
BOOL ExtractModel(const char* in_pszDeviceId, DWORD in_nLength, char* out_pszModel, DWORD in_nSize,
                  DWORD* out_pnLength);

class PrinterChannel {
 public:
  PrinterChannel() = default;
  virtual ~PrinterChannel();
  PrinterChannel(const PrinterChannel&) = delete;
  PrinterChannel& operator=(const PrinterChannel&) = delete;

  // Keeps the queue name (at most 259 characters) in wide and ANSI form.
  BOOL Create(LPCWSTR in_pszQueueName);
  // Finds, loads and binds the library and starts it; TRUE when started.
  BOOL Open();
  // Opens a data channel on the first kind the library offers among 4 and 0x10000005; a
  // failed open tries no other kind. Fails when a channel is already open.
  BOOL OpenChannel();
  // Sends the command (wrapped in an SNMP GetRequest on kind 4); the library's result.
  INT Send(const BYTE* in_pCommand, DWORD in_nLength);
  // Receives the reply to `in_pCommand` into out_pReply (512 bytes). Above 0: its length;
  // 0: failure; -4: the reply is longer than 512 bytes and stays pending for the next call.
  INT Receive(const BYTE* in_pCommand, DWORD in_nCommandLength, BYTE* out_pReply, DWORD* out_pnLength);
  // The model of the printer's device ID into out_pszModel (260 bytes).
  BOOL GetModel(char* out_pszModel, DWORD* out_pnLength);
  // The printer's status reply (buffer of 512 bytes); the library's result.
  INT GetStatus(BYTE* out_pBuffer, DWORD* io_pnSize);
  // Closes the channel, releases and unloads the library.
  void Close();

  BOOL IsStarted() const { return m_bStarted; }
  BOOL IsChannelOpen() const { return m_nChannel > 0; }
  DWORD Kind() const { return m_nKind; }
  DWORD Pending() const { return m_nPending; }
  void ClearPending() { m_nPending = 0; }
  LPCSTR QueueNameA() const { return m_szQueueNameA; }
  LPCWSTR LibraryPath() const { return m_szLibraryPath; }

 private:
  void CloseChannel();

  PFN_LKInitialize m_pfnInitialize = nullptr;
  PFN_LKRelease m_pfnRelease = nullptr;
  PFN_LKGetAvailableChannel m_pfnGetAvailableChannel = nullptr;
  PFN_LKOpenChannel m_pfnOpenChannel = nullptr;
  PFN_LKCloseChannel m_pfnCloseChannel = nullptr;
  PFN_LKSend m_pfnSend = nullptr;
  PFN_LKReceive m_pfnReceive = nullptr;
  PFN_LKGetStatus m_pfnGetStatus = nullptr;
  PFN_LKGetDeviceID m_pfnGetDeviceID = nullptr;

  WCHAR m_szLibraryPath[520] = {};
  HMODULE m_hModule = nullptr;
  WCHAR m_szQueueNameW[MAX_PATH] = {};
  char m_szQueueNameA[MAX_PATH] = {};
  BOOL m_bStarted = FALSE;
  INT m_nChannel = 0;
  DWORD m_nKind = 0;
  BYTE* m_pRxBuffer = nullptr;
  DWORD m_nCapacity = 65535;
  DWORD m_nPending = 0;
};
