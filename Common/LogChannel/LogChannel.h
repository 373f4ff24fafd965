// The log channel: a one-record mailbox in named shared memory through which any process of
// the machine hands one text line at a time to the logger service. This header is the one
// definition both ends compile against: object names, access rights, the record layout and
// the level table. A change here changes the wire format for every writer in the field.
#pragma once

#include <windows.h>

#include <cstddef>

// Every name lives in the global namespace so that writers of every logon session reach the
// logger's objects.
#define LOGCHANNEL_NAME_PREFIX L"Global\\E0F47BF7-898A-4655-A6E0-59B9CE2F04EF_TQ770_"

// Single-instance guard of the logger; writers never open it.
inline constexpr const wchar_t* kLogChannelInstanceMutexName = LOGCHANNEL_NAME_PREFIX L"MUTEX_DOUBLE_BOOT";
// Serialises writers of all processes and threads; created by the logger, kept open by every
// writing process for the rest of its life.
inline constexpr const wchar_t* kLogChannelMutexName = LOGCHANNEL_NAME_PREFIX L"MUTEX_BUFFER";
// Auto-reset; signalled by the logger when the buffer is free.
inline constexpr const wchar_t* kLogChannelBufferReadyName = LOGCHANNEL_NAME_PREFIX L"BUFFER_READY";
// Auto-reset; signalled by a writer once the record, NUL included, is in the buffer.
inline constexpr const wchar_t* kLogChannelDataReadyName = LOGCHANNEL_NAME_PREFIX L"DATA_READY";
// The page-file section that holds the one record.
inline constexpr const wchar_t* kLogChannelBufferName = LOGCHANNEL_NAME_PREFIX L"BUFFER";

// Rights a writer asks for when it opens the logger's objects.
inline constexpr DWORD kLogChannelMutexAccess = MUTEX_ALL_ACCESS;
inline constexpr DWORD kLogChannelEventAccess = EVENT_ALL_ACCESS;
inline constexpr DWORD kLogChannelWriterMapAccess = FILE_MAP_WRITE;
// The logger maps its view for reading only.
inline constexpr DWORD kLogChannelReaderMapAccess = FILE_MAP_READ;
static_assert(kLogChannelMutexAccess == 0x1F0001 && kLogChannelEventAccess == 0x1F0003 &&
                  kLogChannelWriterMapAccess == 2 && kLogChannelReaderMapAccess == 4,
              "rights are part of the protocol");

inline constexpr DWORD kLogChannelBufferSize = 4096;
// Text bytes a record can carry; the terminating NUL then lies at offset 4095 at the latest.
inline constexpr int kLogChannelMaxTextBytes = 4086;
// How long a writer waits for the logger to free the buffer before it drops its record.
inline constexpr DWORD kLogChannelBufferWaitMs = 10000;

// Records whose text does not begin with these five bytes are dropped by the logger, which
// writes only what follows them.
inline constexpr char kLogChannelTag[] = "[QNV]";
inline constexpr size_t kLogChannelTagLength = 5;

// The whole channel buffer: packed, little-endian, no header or sequence number. Bytes after
// the text's NUL are undefined.
#pragma pack(push, 1)
struct ChannelRecord {
  BYTE level;
  DWORD processId;
  DWORD threadId;
  char text[kLogChannelBufferSize - 9];
};
#pragma pack(pop)

static_assert(offsetof(ChannelRecord, level) == 0, "level is the first byte");
static_assert(offsetof(ChannelRecord, processId) == 1, "process id follows the level, unaligned");
static_assert(offsetof(ChannelRecord, threadId) == 5, "thread id follows the process id");
static_assert(offsetof(ChannelRecord, text) == 9, "text starts at byte 9");
static_assert(sizeof(ChannelRecord) == kLogChannelBufferSize, "one record fills the page");
static_assert(sizeof(ChannelRecord::text) == kLogChannelMaxTextBytes + 1, "text area holds the NUL");

// Record levels. LOG_LEVEL_PERMANENT sends a record to the permanent log file whatever the
// logger's output level.
enum LogLevel : BYTE {
  LOG_LEVEL_FATAL = 0,
  LOG_LEVEL_ERROR = 1,
  LOG_LEVEL_WARNING = 2,
  LOG_LEVEL_INFO = 3,
  LOG_LEVEL_DEBUG = 4,
  LOG_LEVEL_TRACE = 5,
  LOG_LEVEL_PERMANENT = 99,
};

// The names the logger writes, by table index; index 6 is the permanent level's.
inline constexpr int kLogLevelNameCount = 7;
inline constexpr const char* kLogLevelNames[kLogLevelNameCount] = {"FTL", "ERR", "WAR", "INF",
                                                                   "DBG", "TRC", "PER"};
inline constexpr int kLogLevelPermanentNameIndex = 6;

// Index into kLogLevelNames for a record level, or -1 for a level without a name (6 to 98
// and 100 to 255 are not part of the table).
constexpr int LogLevelNameIndex(BYTE level) {
  if (level <= LOG_LEVEL_TRACE) return level;
  if (level == LOG_LEVEL_PERMANENT) return kLogLevelPermanentNameIndex;
  return -1;
}
