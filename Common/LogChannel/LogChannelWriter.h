// The writing end of the log channel: one object per process hands one text record at a
// time to the logger. It never reports anything to its caller: a record reaches the channel
// within the time limits (the wait for the channel mutex plus 10 seconds for the buffer) or
// is dropped. Between records it keeps only its handle to the channel mutex, so the logger
// may be started, stopped or restarted while the writing process runs.
#pragma once

#include <windows.h>

#include <atomic>

class LogChannelWriter {
 public:
  // The process's writer, created on first use (safe when several threads arrive at once).
  static LogChannelWriter& Instance();

  // Posts `text` with the low 8 bits of `level`. Blocks while another writer of any process
  // holds the channel, then up to 10000 ms for the logger to free the buffer. A text whose
  // ANSI form needs more than 4086 bytes goes out empty (and the logger drops it). When the
  // channel mutex cannot be opened, one "OpenMutex fail : <error>\n" line goes to the
  // debugger output and the record is dropped; the next Write tries to open it again.
  // A null text is posted as an empty one.
  void Write(int level, const wchar_t* text);

  // Destruction leaves the mutex handle to the system at process end.
  ~LogChannelWriter() = default;
  LogChannelWriter(const LogChannelWriter&) = delete;
  LogChannelWriter& operator=(const LogChannelWriter&) = delete;

 private:
  friend struct LogChannelWriterTestPeer;
  LogChannelWriter() = default;

  // True when the calling thread holds the channel mutex.
  bool Lock();
  // Lock plus the per-record objects; true when the record can be written. `out_bLocked`
  // tells whether the channel mutex was taken, so that only its holder calls Close.
  bool Open(bool* out_bLocked);
  // Releases everything Open took, the channel mutex last.
  void Close();

  // Opened once and kept; shared by every thread of the process, hence atomic.
  std::atomic<HANDLE> m_hMutex{nullptr};
  // Valid during one Write, touched only by the thread that holds the channel mutex.
  HANDLE m_hBufferReady = nullptr;
  HANDLE m_hDataReady = nullptr;
  HANDLE m_hSection = nullptr;
  BYTE* m_pView = nullptr;
};
