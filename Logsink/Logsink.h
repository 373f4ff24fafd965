// Logsink, the logger service: start-up, log periods and their files, the state file, the
// cleanup kick, the console control handler and the drain thread that empties the log channel.
#pragma once

#include <windows.h>

#include <cstdio>

// Exit codes of the program.
#define LOGSINK_EXIT_OK 0
#define LOGSINK_EXIT_BUFFER_MUTEX 4
#define LOGSINK_EXIT_DOUBLE_BOOT 7
#define LOGSINK_EXIT_USAGE 8
#define LOGSINK_EXIT_LOG_FILE 9
#define LOGSINK_EXIT_STATE_PATH 12

// Results of KickCleanup.
#define LOGSINK_KICK_OK 0
#define LOGSINK_KICK_NO_PATH 10
#define LOGSINK_KICK_NO_PROCESS 11

// Section and keys of the state file "Logsink.dat".
#define LOGSINK_SECTION_DATA L"Data"
#define LOGSINK_KEY_LOG_ID L"LogID"
#define LOGSINK_KEY_DATE L"Date"
#define LOGSINK_KEY_PERMANENT_FILE L"PermanentFile"
#define LOGSINK_KEY_DAILY_FILE L"DailyFile"
#define LOGSINK_KEY_ARCHIVE_FILE_DAILY L"ArchiveFileDaily"
#define LOGSINK_KEY_ARCHIVE_FILE L"ArchiveFile"

// The version text of every header line.
#define LOGSINK_SYSTEM_VERSION "2.0.0.60107"

// Capacity, in wide characters with the terminator, of every file name.
#define LOGSINK_NAME_CAPACITY MAX_PATH
// Capacity of the state file path (an install path).
#define LOGSINK_PATH_CAPACITY 1024

// The process-wide values shared by the start-up, the drain thread and the console control
// handler. The streams are touched only under csFiles once the drain thread runs.
struct LogsinkState {
  HANDLE hInstanceMutex = nullptr;
  HANDLE hBufferMutex = nullptr;
  HANDLE hDrainThread = nullptr;
  FILE* pDailyFile = nullptr;
  FILE* pPermanentFile = nullptr;
  const wchar_t* pszBaseName = nullptr;
  wchar_t szDailyFileName[LOGSINK_NAME_CAPACITY] = {};
  wchar_t szPermanentFileName[LOGSINK_NAME_CAPACITY] = {};
  wchar_t szStateFilePath[LOGSINK_PATH_CAPACITY] = {};
  int nLogID = 1;
  // Set by the console control handler: the process is ending, the daily file is closed and
  // no file is opened or written any more.
  bool bEnding = false;
};

extern LogsinkState g_logsink;

// The whole program: start-up, then the drain thread until it ends. Returns the exit code.
int LogsinkMain(int argc, wchar_t* argv[]);

// Start-up up to the installed console control handler. Returns -1 when the logger is ready
// to drain, else the exit code to end with (every handle and file it took is released).
int LogsinkStartUp(int argc, wchar_t* argv[]);

// Starts Logsweep (install folder, x86) without window, arguments or wait. Returns 0, 10 when
// its path cannot be obtained, 11 when the process cannot be created.
int KickCleanup();

// Appends the header line "yyyy/mm/dd SystemVersion:..." to an open file and flushes it;
// does nothing for a null file.
void WriteFileHeader(FILE* pFile, int nYear, int nMonth, int nDay);

// For every console control event: closes the handles and the daily file and lets the
// default handling end the process.
BOOL WINAPI ConsoleCtrlHandler(DWORD dwCtrlType);

// The reading end of the log channel: creates its events and buffer, then drains records
// until the wait for data fails.
DWORD WINAPI DrainThread(LPVOID lpParameter);

// ---- Pieces of the drain thread, open to tests -------------------------------------------

// Where the drain thread takes the local time of processing from.
extern void(WINAPI* g_pfnLogsinkLocalTime)(LPSYSTEMTIME);

// Where the state file's and the cleanup program's paths come from (the install-path table).
extern int (*g_pfnLogsinkModulePath)(int, int, int, bool, wchar_t*);

// The first switch moment: 04:00 of the day of `now`, or of the next day when `now` is 04:00
// or later. The next switch moment after a switch at `now`: 04:00 of the following day.
// Both step a day as the run-time's local-time conversion does, so that on a night in which
// the clock moves the moment falls at 05:00 or 03:00. Returned as a local FILETIME value.
ULONGLONG LogsinkFirstSwitchTime(const SYSTEMTIME& now);
ULONGLONG LogsinkNextSwitchTime(const SYSTEMTIME& now);

// Output level from "Logsink.ini" beside the program (section LOG, key OutputLevel, 3).
int LogsinkReadOutputLevel();

// Filters one record of the channel buffer (4096 bytes), switches the period when it is due
// and writes the record's line. Returns true when a line was written.
bool LogsinkDrainRecord(const BYTE* pRecord, int nOutputLevel, ULONGLONG* io_pNextSwitchTime);

// Takes over channel events left by a logger that has ended (a writer in the middle of a
// record kept them alive). With the channel mutex if it comes free within moments, so that no
// writer is filling the buffer: a record already posted is left signalled for the drain loop
// (true), else the caller declares the buffer free (false).
bool LogsinkTakeOverChannel(HANDLE hBufferMutex, HANDLE hDataReady);

// Closes the period's files, records the ended period in the state file, opens the next
// period's files with their headers and kicks the cleanup. `now` is the switch moment.
void SwitchLogFiles(const SYSTEMTIME& now);

// The period number after nLogID. A state file may carry any int: past INT_MAX the number wraps
// to INT_MIN, as a 32-bit counter would, instead of overflowing.
inline int NextLogID(int nLogID) { return static_cast<int>(static_cast<unsigned>(nLogID) + 1u); }

// The name written for a record level: the level table's names for 0 to 6 and 99; for a level
// without a name, its number in three digits ("007", "255").
const char* LogsinkLevelName(BYTE level);
