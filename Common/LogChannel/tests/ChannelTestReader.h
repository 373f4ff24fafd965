// A minimal reading end of the log channel for tests: it plays the logger's side of the
// handshake (creates the channel mutex as the logger's start-up does, creates the two events
// and the section, signals buffer-ready once, waits for data-ready, reads the record in
// place and frees the buffer again) and hands each record to the test.
//
//   ChannelTestReader reader;                 // channel open, buffer free
//   LogChannelWriter::Instance().Write(1, L"[QNV]x");
//   std::optional<ChannelTestRecord> r = reader.Take();
//
// A writer blocks until the buffer is freed again, so a test that writes several records
// from one thread reads them with ChannelTestCollector, which drains on a thread of its own.
//
// Header-only so that any test binary can use it by linking qnv_log_channel_testing.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "LogChannel.h"

struct ChannelTestRecord {
  int level = 0;
  DWORD processId = 0;
  DWORD threadId = 0;
  std::string text;  // up to the first NUL, never beyond the buffer
  std::array<unsigned char, kLogChannelBufferSize> raw{};
};

class ChannelTestReader {
 public:
  struct Options {
    // Create the channel mutex, as the logger's start-up does. Off: writers find none
    // (unless some process still holds it).
    bool create_mutex = true;
    // Signal buffer-ready once at start. Off: a stalled logger, writers time out.
    bool arm = true;
  };

  ChannelTestReader() : ChannelTestReader(Options{}) {}
  explicit ChannelTestReader(Options options) {
    SECURITY_DESCRIPTOR stDescriptor;
    InitializeSecurityDescriptor(&stDescriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&stDescriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES stMutexAttributes = {sizeof(SECURITY_ATTRIBUTES), &stDescriptor, FALSE};
    SECURITY_ATTRIBUTES stAttributes = {sizeof(SECURITY_ATTRIBUTES), &stDescriptor, TRUE};

    if (options.create_mutex) {
      mutex_ = CreateMutexW(&stMutexAttributes, FALSE, kLogChannelMutexName);
      if (mutex_ == nullptr) return;
    }
    buffer_ready_ = CreateEventW(&stAttributes, FALSE, FALSE, kLogChannelBufferReadyName);
    if (buffer_ready_ == nullptr) return;
    events_existed_ = GetLastError() == ERROR_ALREADY_EXISTS;
    data_ready_ = CreateEventW(&stAttributes, FALSE, FALSE, kLogChannelDataReadyName);
    if (data_ready_ == nullptr) return;
    events_existed_ = events_existed_ || GetLastError() == ERROR_ALREADY_EXISTS;
    section_ = CreateFileMappingW(INVALID_HANDLE_VALUE, &stAttributes, PAGE_READWRITE, 0, kLogChannelBufferSize,
                                  kLogChannelBufferName);
    if (section_ == nullptr) return;
    view_ = static_cast<const unsigned char*>(MapViewOfFile(section_, kLogChannelReaderMapAccess, 0, 0,
                                                            kLogChannelBufferSize));
    if (view_ == nullptr) return;
    ok_ = true;
    if (options.arm) Arm();
  }

  ~ChannelTestReader() { Shutdown(); }
  ChannelTestReader(const ChannelTestReader&) = delete;
  ChannelTestReader& operator=(const ChannelTestReader&) = delete;

  // True when every object was created and mapped.
  bool ok() const { return ok_; }
  // True when the events were there before this reader (another reader or a stale logger).
  bool events_existed() const { return events_existed_; }
  HANDLE mutex() const { return mutex_; }

  // Frees the buffer (signals buffer-ready).
  void Arm() { SetEvent(buffer_ready_); }

  // Waits up to `timeout_ms` for a record and reads it from the view. With `rearm`, frees
  // the buffer afterwards, as the logger does after writing the record out; without, the
  // channel stays busy (a stalled logger).
  std::optional<ChannelTestRecord> Take(DWORD timeout_ms = 30000, bool rearm = true) {
    if (!ok_ || WaitForSingleObject(data_ready_, timeout_ms) != WAIT_OBJECT_0) return std::nullopt;
    ChannelTestRecord stRecord;
    std::memcpy(stRecord.raw.data(), view_, kLogChannelBufferSize);
    const ChannelRecord* pRecord = reinterpret_cast<const ChannelRecord*>(stRecord.raw.data());
    stRecord.level = pRecord->level;
    stRecord.processId = pRecord->processId;
    stRecord.threadId = pRecord->threadId;
    stRecord.text.assign(pRecord->text, strnlen(pRecord->text, sizeof(pRecord->text)));
    if (rearm) Arm();
    return stRecord;
  }

  // Closes everything, as the logger does when its drain thread ends; the objects vanish
  // unless another process still holds them.
  void Shutdown() {
    if (view_ != nullptr) UnmapViewOfFile(view_);
    if (section_ != nullptr) CloseHandle(section_);
    if (data_ready_ != nullptr) CloseHandle(data_ready_);
    if (buffer_ready_ != nullptr) CloseHandle(buffer_ready_);
    if (mutex_ != nullptr) CloseHandle(mutex_);
    view_ = nullptr;
    section_ = data_ready_ = buffer_ready_ = mutex_ = nullptr;
    ok_ = false;
  }

 private:
  HANDLE mutex_ = nullptr;
  HANDLE buffer_ready_ = nullptr;
  HANDLE data_ready_ = nullptr;
  HANDLE section_ = nullptr;
  const unsigned char* view_ = nullptr;
  bool ok_ = false;
  bool events_existed_ = false;
};

// A ChannelTestReader drained by a thread of its own into a list the test inspects.
class ChannelTestCollector {
 public:
  ChannelTestCollector() : ChannelTestCollector(ChannelTestReader::Options{}) {}
  explicit ChannelTestCollector(ChannelTestReader::Options options) : reader_(options) {
    if (reader_.ok()) thread_ = std::thread([this] { Run(); });
  }
  ~ChannelTestCollector() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  ChannelTestCollector(const ChannelTestCollector&) = delete;
  ChannelTestCollector& operator=(const ChannelTestCollector&) = delete;

  bool ok() const { return reader_.ok(); }
  ChannelTestReader& reader() { return reader_; }

  // Waits until at least `count` records have arrived (or `timeout_ms` passed) and returns
  // every record so far.
  std::vector<ChannelTestRecord> WaitForCount(size_t count, int timeout_ms = 30000) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return records_.size() >= count; });
    return records_;
  }

  // Waits for a record whose text is exactly `text`; returns the records that arrived
  // before it and forgets them and it, or nullopt after `timeout_ms`.
  std::optional<std::vector<ChannelTestRecord>> TakeUntil(const std::string& text, int timeout_ms = 30000) {
    std::unique_lock lock(mutex_);
    std::optional<std::vector<ChannelTestRecord>> before;
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
      for (size_t i = 0; i < records_.size(); ++i) {
        if (records_[i].text == text) {
          before.emplace(records_.begin(), records_.begin() + static_cast<std::ptrdiff_t>(i));
          records_.erase(records_.begin(), records_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
          return true;
        }
      }
      return false;
    });
    return before;
  }

  std::vector<ChannelTestRecord> Snapshot() {
    std::lock_guard lock(mutex_);
    return records_;
  }

 private:
  void Run() {
    while (!stop_) {
      std::optional<ChannelTestRecord> record = reader_.Take(50);
      if (!record) continue;
      std::lock_guard lock(mutex_);
      records_.push_back(std::move(*record));
      changed_.notify_all();
    }
  }

  ChannelTestReader reader_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ChannelTestRecord> records_;
  std::thread thread_;
};
