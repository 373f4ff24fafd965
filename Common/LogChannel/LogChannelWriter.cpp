#include "LogChannelWriter.h"

#include <cwchar>

#include "LogChannel.h"

LogChannelWriter& LogChannelWriter::Instance() {
  // Never destroyed: a trace from another object's static destructor must still find it.
  // Its destruction would do nothing anyway; the mutex handle goes with the process.
  static LogChannelWriter* const s_pWriter = new LogChannelWriter;
  return *s_pWriter;
}

void LogChannelWriter::Write(int level, const wchar_t* text) {
  const int nLength = text != nullptr ? static_cast<int>(wcslen(text)) : 0;

  bool bLocked = false;
  if (!Open(&bLocked)) {
    // Only the holder of the channel mutex may touch the per-record fields.
    if (bLocked) Close();
    return;
  }

  // Anything but a signalled buffer (timeout, failure) leaves the buffer untouched: the
  // logger may still be draining the previous record from it.
  if (WaitForSingleObject(m_hBufferReady, kLogChannelBufferWaitMs) != WAIT_OBJECT_0) {
    Close();
    return;
  }

  ChannelRecord* pRecord = reinterpret_cast<ChannelRecord*>(m_pView);
  pRecord->level = static_cast<BYTE>(level & 0xFF);
  pRecord->processId = GetCurrentProcessId();
  pRecord->threadId = GetCurrentThreadId();
  // A text too long for the area fails to convert as a whole and goes out empty rather
  // than cut: a cut record could be mistaken for a complete one.
  int nBytes = 0;
  if (nLength > 0) {
    nBytes = WideCharToMultiByte(CP_ACP, 0, text, nLength, pRecord->text, kLogChannelMaxTextBytes,
                                 nullptr, nullptr);
  }
  pRecord->text[nBytes] = '\0';

  // The NUL is stored before data-ready, so the logger never reads a half-filled buffer.
  SetEvent(m_hDataReady);
  Close();
}

bool LogChannelWriter::Lock() {
  HANDLE hMutex = m_hMutex.load(std::memory_order_acquire);
  if (hMutex == nullptr) {
    SECURITY_DESCRIPTOR stSecurityDescriptor;
    if (!InitializeSecurityDescriptor(&stSecurityDescriptor, SECURITY_DESCRIPTOR_REVISION)) return false;
    if (!SetSecurityDescriptorDacl(&stSecurityDescriptor, TRUE, nullptr, FALSE)) return false;

    HANDLE hOpened = OpenMutexW(kLogChannelMutexAccess, FALSE, kLogChannelMutexName);
    if (hOpened == nullptr) {
      wchar_t szMessage[100];
      swprintf_s(szMessage, 100, L"OpenMutex fail : %lu\n", GetLastError());
      OutputDebugStringW(szMessage);
      return false;
    }
    // Two threads may open the mutex for their first record at the same moment; the first
    // to store its handle wins and the other gives its own back, so the process keeps one.
    HANDLE hExpected = nullptr;
    if (m_hMutex.compare_exchange_strong(hExpected, hOpened, std::memory_order_acq_rel)) {
      SetKernelObjectSecurity(hOpened, DACL_SECURITY_INFORMATION, &stSecurityDescriptor);
      hMutex = hOpened;
    } else {
      CloseHandle(hOpened);
      hMutex = hExpected;
    }
  }

  // An abandoned mutex is owned all the same; a failed wait is not, and going on without
  // ownership would let two threads fill the per-record fields at once.
  const DWORD dwWait = WaitForSingleObject(hMutex, INFINITE);
  return dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED;
}

bool LogChannelWriter::Open(bool* out_bLocked) {
  *out_bLocked = Lock();
  if (!*out_bLocked) return false;

  m_hBufferReady = OpenEventW(kLogChannelEventAccess, FALSE, kLogChannelBufferReadyName);
  if (m_hBufferReady == nullptr) return false;
  m_hDataReady = OpenEventW(kLogChannelEventAccess, FALSE, kLogChannelDataReadyName);
  if (m_hDataReady == nullptr) return false;
  m_hSection = OpenFileMappingW(kLogChannelWriterMapAccess, FALSE, kLogChannelBufferName);
  if (m_hSection == nullptr) return false;
  m_pView = static_cast<BYTE*>(MapViewOfFile(m_hSection, kLogChannelWriterMapAccess, 0, 0, 0));
  return m_pView != nullptr;
}

void LogChannelWriter::Close() {
  if (m_pView != nullptr) UnmapViewOfFile(m_pView);
  if (m_hSection != nullptr) CloseHandle(m_hSection);
  if (m_hDataReady != nullptr) CloseHandle(m_hDataReady);
  if (m_hBufferReady != nullptr) CloseHandle(m_hBufferReady);
  m_pView = nullptr;
  m_hSection = nullptr;
  m_hDataReady = nullptr;
  m_hBufferReady = nullptr;

  HANDLE hMutex = m_hMutex.load(std::memory_order_acquire);
  if (hMutex != nullptr) ReleaseMutex(hMutex);
}
