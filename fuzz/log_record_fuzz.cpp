// Fuzz target for the drain thread's handling of one channel record: whatever bytes a writer
// leaves in the 4096-byte buffer (no tag, no NUL, any level, any ids) are filtered and turned
// into at most one line. Beyond not reading past the buffer it checks what the line holds: the
// level's name, the ids, and exactly the text after the tag up to its NUL or the buffer's end.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "LogChannel.h"
#include "Logsink.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void WINAPI FixedTime(LPSYSTEMTIME st) {
  *st = {};
  st->wYear = 2026;
  st->wMonth = 3;
  st->wDay = 14;
  st->wHour = 12;
  st->wMinute = 34;
  st->wSecond = 56;
  st->wMilliseconds = 789;
}

std::string ReadAll(FILE* file) {
  std::string out;
  std::rewind(file);
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) out.append(chunk, got);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks the output level; the rest is the buffer, zero-filled past the input
  // as the page is when a writer never wrote there, and held in an allocation of exactly the
  // buffer's size.
  if (size == 0) return 0;
  const int nOutputLevel = data[0] % 8;
  BYTE* record = static_cast<BYTE*>(std::calloc(kLogChannelBufferSize, 1));
  std::memcpy(record, data + 1, std::min<size_t>(size - 1, kLogChannelBufferSize));

  FILE* daily = std::tmpfile();
  FILE* permanent = std::tmpfile();
  Check(daily != nullptr && permanent != nullptr);
  g_logsink.pDailyFile = daily;
  g_logsink.pPermanentFile = permanent;
  g_logsink.bEnding = false;
  g_pfnLogsinkLocalTime = FixedTime;
  ULONGLONG nNextSwitch = ~0ULL;  // no period switch inside a run

  const bool written = LogsinkDrainRecord(record, nOutputLevel, &nNextSwitch);

  const BYTE level = record[0];
  const bool tagged = std::memcmp(record + 9, kLogChannelTag, kLogChannelTagLength) == 0;
  const bool wanted = tagged && (level <= nOutputLevel || level == LOG_LEVEL_PERMANENT);
  Check(written == wanted);
  Check(nNextSwitch == ~0ULL);

  const std::string dailyText = ReadAll(daily);
  const std::string permanentText = ReadAll(permanent);
  if (!wanted) {
    Check(dailyText.empty() && permanentText.empty());
  } else {
    const std::string& line = level == LOG_LEVEL_PERMANENT ? permanentText : dailyText;
    Check((level == LOG_LEVEL_PERMANENT ? dailyText : permanentText).empty());
    DWORD pid;
    DWORD tid;
    std::memcpy(&pid, record + 1, 4);
    std::memcpy(&tid, record + 5, 4);
    char head[64];
    std::snprintf(head, sizeof(head), "%s\t12:34:56.789\t%04u\t%04u\t", LogsinkLevelName(level), pid,
                  tid);
    const char* text = reinterpret_cast<const char*>(record) + 9 + kLogChannelTagLength;
    const size_t room = kLogChannelBufferSize - 9 - kLogChannelTagLength;
    const std::string message(text, strnlen(text, room));
    Check(line == head + message);
  }

  g_logsink.pDailyFile = nullptr;
  g_logsink.pPermanentFile = nullptr;
  std::fclose(daily);
  std::fclose(permanent);
  std::free(record);
  return 0;
}
