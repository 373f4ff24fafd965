// The drain thread: the only reader of the log channel and, once running, the only writer
// of the log files and the state file.
#include <atltime.h>
#include <share.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "Logsink.h"
#include "LogChannel.h"
#include "LogsinkFiles.h"

void(WINAPI* g_pfnLogsinkLocalTime)(LPSYSTEMTIME) = GetLocalTime;

namespace {

// Bytes of the text that follow the tag, up to the end of the buffer.
constexpr size_t kMessageOffset = offsetof(ChannelRecord, text) + kLogChannelTagLength;
constexpr size_t kMessageRoom = kLogChannelBufferSize - kMessageOffset;

// Names for levels 0..255, built once: the table's names where it has one, the number
// otherwise, so that formatting a line never allocates.
struct LevelNameTable {
  char names[256][4];
  LevelNameTable() {
    for (int level = 0; level < 256; ++level) {
      const char* known = nullptr;
      if (level < kLogLevelNameCount) known = kLogLevelNames[level];
      if (level == LOG_LEVEL_PERMANENT) known = kLogLevelNames[kLogLevelPermanentNameIndex];
      if (known != nullptr) {
        strcpy_s(names[level], known);
      } else {
        sprintf_s(names[level], "%03d", level);
      }
    }
  }
};

ULONGLONG ToFileTimeValue(const SYSTEMTIME& st) {
  FILETIME ft = {};
  SystemTimeToFileTime(&st, &ft);
  ULARGE_INTEGER value;
  value.LowPart = ft.dwLowDateTime;
  value.HighPart = ft.dwHighDateTime;
  return value.QuadPart;
}

// 04:00 of the day of `now`, plus `nDays` days stepped through the run-time's local-time
// conversion, as a local FILETIME value.
ULONGLONG SwitchMoment(const SYSTEMTIME& now, LONG nDays) {
  SYSTEMTIME st = now;
  st.wHour = 4;
  st.wMinute = 0;
  st.wSecond = 0;
  st.wMilliseconds = 0;
  if (nDays != 0) {
    CTime tSwitch(st, -1);
    tSwitch += CTimeSpan(nDays, 0, 0, 0);
    tSwitch.GetAsSystemTime(st);
  }
  return ToFileTimeValue(st);
}

void ReportToDebugger(const char* pszText) {
  OutputDebugStringA(pszText);
}

// Formats a report about a file that could not be opened, names it in ANSI text.
void FormatOpenFailure(char (&out_szText)[LOGSINK_NAME_CAPACITY * 2 + 96], const wchar_t* pszName,
                       int nError) {
  char szName[LOGSINK_NAME_CAPACITY * 2];
  if (WideCharToMultiByte(CP_ACP, 0, pszName, -1, szName, sizeof(szName), nullptr, nullptr) <= 0) {
    szName[0] = '\0';
  }
  sprintf_s(out_szText, "Failed to open log file %s. Error=%d\n", szName, nError);
}

// Opens a log file of the current period in text append mode, shared; null and the
// run-time's error code when it cannot (ERANGE when its name did not fit).
FILE* OpenLogFile(const wchar_t* pszName, bool bNameFits, int* out_pnError) {
  FILE* pFile = bNameFits ? _wfsopen(pszName, L"at", _SH_DENYNO) : nullptr;
  *out_pnError = pFile != nullptr ? 0 : (bNameFits ? errno : ERANGE);
  return pFile;
}

// Reports a log file that could not be opened into the other log file, when that one is
// open, and to the debugger output.
void ReportOpenFailure(const wchar_t* pszName, int nError, FILE* pOther) {
  char szText[LOGSINK_NAME_CAPACITY * 2 + 96];
  FormatOpenFailure(szText, pszName, nError);
  if (pOther != nullptr) {
    fputs(szText, pOther);
    fflush(pOther);
  }
  ReportToDebugger(szText);
}

// A file that could not be opened at a switch is tried again with each record bound for it;
// once open it gets its header like any newly opened log file.
FILE* ReopenIfMissing(FILE** ppFile, const wchar_t* pszName, const SYSTEMTIME& now) {
  if (*ppFile == nullptr && !g_logsink.bEnding && pszName[0] != L'\0') {
    *ppFile = _wfsopen(pszName, L"at", _SH_DENYNO);
    if (*ppFile != nullptr) {
      WriteFileHeader(*ppFile, now.wYear, now.wMonth, now.wDay);
    }
  }
  return *ppFile;
}

// A full disk fails every write until space returns: the failure is reported once when it
// begins, and the stream's error state is cleared so that the next line is tried afresh (the
// failed line itself is gone).
void NoteWriteResult(const wchar_t* pszName, bool bWritten, FILE* pFile) {
  static bool s_bFailing = false;
  if (bWritten) {
    s_bFailing = false;
    return;
  }
  const int nError = errno;
  clearerr(pFile);
  if (s_bFailing) return;
  s_bFailing = true;
  char szName[LOGSINK_NAME_CAPACITY * 2];
  if (WideCharToMultiByte(CP_ACP, 0, pszName, -1, szName, sizeof(szName), nullptr, nullptr) <= 0) {
    szName[0] = '\0';
  }
  char szText[LOGSINK_NAME_CAPACITY * 2 + 96];
  sprintf_s(szText, "Failed to write log file %s. Error=%d\n", szName, nError);
  ReportToDebugger(szText);
}

}  // namespace

std::mutex& LogsinkFilesLock() {
  static std::mutex lock;
  return lock;
}

void CloseLogFiles() {
  if (g_logsink.pDailyFile != nullptr) {
    fclose(g_logsink.pDailyFile);
    g_logsink.pDailyFile = nullptr;
  }
  if (g_logsink.pPermanentFile != nullptr) {
    fclose(g_logsink.pPermanentFile);
    g_logsink.pPermanentFile = nullptr;
  }
}

const char* LogsinkLevelName(BYTE level) {
  static const LevelNameTable table;
  return table.names[level];
}

ULONGLONG LogsinkFirstSwitchTime(const SYSTEMTIME& now) {
  return SwitchMoment(now, now.wHour >= 4 ? 1 : 0);
}

ULONGLONG LogsinkNextSwitchTime(const SYSTEMTIME& now) {
  return SwitchMoment(now, 1);
}

int LogsinkReadOutputLevel() {
  wchar_t szModule[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, szModule, MAX_PATH);
  wchar_t szDrive[_MAX_DRIVE] = {};
  wchar_t szDir[_MAX_DIR] = {};
  _wsplitpath_s(szModule, szDrive, _MAX_DRIVE, szDir, _MAX_DIR, nullptr, 0, nullptr, 0);
  wchar_t szFolder[MAX_PATH];
  swprintf_s(szFolder, L"%s%s", szDrive, szDir);
  wchar_t szIni[MAX_PATH];
  swprintf_s(szIni, L"%s\\%s", szFolder, L"Logsink.ini");
  return static_cast<int>(GetPrivateProfileIntW(L"LOG", L"OutputLevel", 3, szIni));
}

void SwitchLogFiles(const SYSTEMTIME& now) {
  if (g_logsink.pDailyFile != nullptr) {
    fclose(g_logsink.pDailyFile);
    g_logsink.pDailyFile = nullptr;
  }
  if (g_logsink.pPermanentFile != nullptr) {
    fclose(g_logsink.pPermanentFile);
    g_logsink.pPermanentFile = nullptr;
  }

  // The state file learns of the switch in one write, once the new period's files exist: a
  // logger killed before that write finds the ending period still current when it starts
  // again, and ends it then.
  EndedPeriodNames ended;
  FormatEndedPeriodNames(&ended, g_logsink.nLogID);
  g_logsink.nLogID = NextLogID(g_logsink.nLogID);

  bool bDailyFits = FormatLogFileName(g_logsink.szDailyFileName, L"%s_%04d.log", g_logsink.nLogID);
  bool bPermanentFits =
      FormatLogFileName(g_logsink.szPermanentFileName, L"%s_%04d.per", g_logsink.nLogID);
  int nDailyError = 0;
  int nPermanentError = 0;
  g_logsink.pDailyFile = OpenLogFile(g_logsink.szDailyFileName, bDailyFits, &nDailyError);
  g_logsink.pPermanentFile =
      OpenLogFile(g_logsink.szPermanentFileName, bPermanentFits, &nPermanentError);

  WriteFileHeader(g_logsink.pDailyFile, now.wYear, now.wMonth, now.wDay);
  WriteFileHeader(g_logsink.pPermanentFile, now.wYear, now.wMonth, now.wDay);
  // After the headers, so that the report is a line of the period like any other.
  if (g_logsink.pDailyFile == nullptr) {
    ReportOpenFailure(g_logsink.szDailyFileName, nDailyError, g_logsink.pPermanentFile);
  }
  if (g_logsink.pPermanentFile == nullptr) {
    ReportOpenFailure(g_logsink.szPermanentFileName, nPermanentError, g_logsink.pDailyFile);
  }

  // A name that does not fit is never tried again.
  if (!bDailyFits) g_logsink.szDailyFileName[0] = L'\0';
  if (!bPermanentFits) g_logsink.szPermanentFileName[0] = L'\0';

  wchar_t szDate[16];
  swprintf_s(szDate, L"%04d/%02d/%02d", now.wYear, now.wMonth, now.wDay);
  WritePeriodStartState(ended, nullptr, szDate, g_logsink.nLogID);
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, g_logsink.szStateFilePath);

  int nKick = KickCleanup();
  if (nKick != LOGSINK_KICK_OK && g_logsink.pDailyFile != nullptr) {
    fprintf(g_logsink.pDailyFile, "Failed to kick Logsweep when switching log files. Error=%d\n",
            nKick);
    fflush(g_logsink.pDailyFile);
  }
}

bool LogsinkDrainRecord(const BYTE* pRecord, int nOutputLevel, ULONGLONG* io_pNextSwitchTime) {
  const ChannelRecord* pRec = reinterpret_cast<const ChannelRecord*>(pRecord);
  if (memcmp(pRec->text, kLogChannelTag, kLogChannelTagLength) != 0) return false;
  const BYTE level = pRec->level;
  if (static_cast<int>(level) > nOutputLevel && level != LOG_LEVEL_PERMANENT) return false;

  SYSTEMTIME now;
  g_pfnLogsinkLocalTime(&now);

  std::lock_guard<std::mutex> lock(LogsinkFilesLock());
  if (g_logsink.bEnding) return false;
  if (ToFileTimeValue(now) >= *io_pNextSwitchTime) {
    SwitchLogFiles(now);
    *io_pNextSwitchTime = LogsinkNextSwitchTime(now);
  }

  FILE* pFile = (level == LOG_LEVEL_PERMANENT)
                    ? ReopenIfMissing(&g_logsink.pPermanentFile, g_logsink.szPermanentFileName, now)
                    : ReopenIfMissing(&g_logsink.pDailyFile, g_logsink.szDailyFileName, now);
  if (pFile == nullptr) return false;

  // A writer that does not follow the protocol may leave no NUL: the text then ends with
  // the buffer.
  const char* pszMessage = reinterpret_cast<const char*>(pRecord) + kMessageOffset;
  const void* pNul = memchr(pszMessage, '\0', kMessageRoom);
  const int nMessage = static_cast<int>(
      pNul != nullptr ? static_cast<const char*>(pNul) - pszMessage : kMessageRoom);
  DWORD dwProcessId;
  DWORD dwThreadId;
  memcpy(&dwProcessId, pRecord + offsetof(ChannelRecord, processId), sizeof(dwProcessId));
  memcpy(&dwThreadId, pRecord + offsetof(ChannelRecord, threadId), sizeof(dwThreadId));
  fprintf(pFile, "%s\t%02d:%02d:%02d.%03d\t%04u\t%04u\t%.*s", LogsinkLevelName(level), now.wHour,
          now.wMinute, now.wSecond, now.wMilliseconds, static_cast<unsigned>(dwProcessId),
          static_cast<unsigned>(dwThreadId), nMessage, pszMessage);
  const bool bWritten = fflush(pFile) == 0 && !ferror(pFile);
  NoteWriteResult(pFile == g_logsink.pPermanentFile ? g_logsink.szPermanentFileName
                                                    : g_logsink.szDailyFileName,
                  bWritten, pFile);
  return bWritten;
}

bool LogsinkTakeOverChannel(HANDLE hBufferMutex, HANDLE hDataReady) {
  // A writer that is filling the buffer finishes within moments and gives the mutex back; one
  // that waits for the buffer holds it until it is signalled free (or for its 10 s), so the
  // wait here is short and the take-over goes on without the mutex after it.
  const DWORD dwWait = hBufferMutex != nullptr ? WaitForSingleObject(hBufferMutex, 200) : WAIT_TIMEOUT;
  const bool bOwned = dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED;
  // A posted record is complete (its NUL was stored before data-ready): it stays signalled
  // for the drain loop, whose buffer-ready after it frees the buffer.
  const bool bPosted = WaitForSingleObject(hDataReady, 0) == WAIT_OBJECT_0;
  if (bPosted) SetEvent(hDataReady);
  if (bOwned) ReleaseMutex(hBufferMutex);
  return bPosted;
}

DWORD WINAPI DrainThread(LPVOID lpParameter) {
  (void)lpParameter;
  HANDLE hBufferReady = nullptr;
  HANDLE hDataReady = nullptr;
  HANDLE hSection = nullptr;
  const BYTE* pView = nullptr;

  SECURITY_DESCRIPTOR sd;
  SECURITY_ATTRIBUTES sa;
  if (InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
      SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE)) {
    sa.nLength = sizeof(SECURITY_ATTRIBUTES);
    sa.lpSecurityDescriptor = &sd;
    sa.bInheritHandle = TRUE;

    // Events that exist already mean another logger drains the channel, unless this process
    // holds the single-instance mutex: then they are left over from a logger that has ended,
    // kept alive by a writer that was in the middle of a record, and this logger takes them
    // over. Giving up would leave the machine without a logger until that writer lets go.
    HANDLE hBufferMutex = nullptr;
    bool bSoleLogger = false;
    {
      std::lock_guard<std::mutex> lock(LogsinkFilesLock());
      bSoleLogger = g_logsink.hInstanceMutex != nullptr;
      hBufferMutex = g_logsink.hBufferMutex;
    }
    bool bTakeOver = false;
    hBufferReady = CreateEventW(&sa, FALSE, FALSE, kLogChannelBufferReadyName);
    bool bExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    bool bReady = hBufferReady != nullptr && (!bExisted || bSoleLogger);
    bTakeOver = bReady && bExisted;
    if (bReady) {
      hDataReady = CreateEventW(&sa, FALSE, FALSE, kLogChannelDataReadyName);
      bExisted = GetLastError() == ERROR_ALREADY_EXISTS;
      bReady = hDataReady != nullptr && (!bExisted || bSoleLogger);
      bTakeOver = bTakeOver || (bReady && bExisted);
    }
    if (bReady) {
      hSection = CreateFileMappingW(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0,
                                    kLogChannelBufferSize, kLogChannelBufferName);
      bReady = hSection != nullptr;
    }
    if (bReady) {
      pView = static_cast<const BYTE*>(
          MapViewOfFile(hSection, kLogChannelReaderMapAccess, 0, 0, kLogChannelBufferSize));
      bReady = pView != nullptr;
    }
    if (bReady) {
      const int nOutputLevel = LogsinkReadOutputLevel();
      if (!bTakeOver || !LogsinkTakeOverChannel(hBufferMutex, hDataReady)) SetEvent(hBufferReady);
      SYSTEMTIME now;
      g_pfnLogsinkLocalTime(&now);
      ULONGLONG nNextSwitchTime = LogsinkFirstSwitchTime(now);
      while (WaitForSingleObject(hDataReady, INFINITE) == WAIT_OBJECT_0) {
        LogsinkDrainRecord(pView, nOutputLevel, &nNextSwitchTime);
        SetEvent(hBufferReady);
      }
    }
  }

  if (pView != nullptr) UnmapViewOfFile(pView);
  if (hSection != nullptr) CloseHandle(hSection);
  if (hDataReady != nullptr) CloseHandle(hDataReady);
  if (hBufferReady != nullptr) CloseHandle(hBufferReady);
  return 0;
}
