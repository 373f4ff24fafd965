// Logsink start-up: single instance, channel mutex, state file, the period's files, the
// cleanup kick and the console control handler; then the drain thread runs until the end.
#include <share.h>
#include <windows.h>

#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "Logsink.h"
#include "LogChannel.h"
#include "LogsinkFiles.h"
#include "QNVUtilityWin.h"

LogsinkState g_logsink;
int (*g_pfnLogsinkModulePath)(int, int, int, bool, wchar_t*) = QNVUtilGetModulePathForSDK;

namespace {

// Longest suffix a start-up formats after the base name ("_Permanent.zip").
constexpr size_t kLongestSuffix = 14;

void PrintUsage(const wchar_t* pszProgram) {
  wchar_t szName[_MAX_FNAME] = {};
  wchar_t szExt[_MAX_EXT] = {};
  _wsplitpath_s(pszProgram, nullptr, 0, nullptr, 0, szName, _MAX_FNAME, szExt, _MAX_EXT);
  wchar_t szUsage[_MAX_FNAME + _MAX_EXT + 64];
  swprintf_s(szUsage, L"usage: %s%s %s\n", szName, szExt, L"/l log_filename");
  char szAnsi[sizeof(szUsage) / sizeof(wchar_t) * 2];
  int n = WideCharToMultiByte(CP_ACP, 0, szUsage, -1, szAnsi, sizeof(szAnsi), nullptr, nullptr);
  if (n > 0) {
    fputs(szAnsi, stderr);
    fflush(stderr);
  }
}

// A security descriptor that lets every account use the object (present, NULL DACL).
void BuildOpenSecurity(SECURITY_DESCRIPTOR* pSd, SECURITY_ATTRIBUTES* pSa) {
  InitializeSecurityDescriptor(pSd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(pSd, TRUE, nullptr, FALSE);
  pSa->nLength = sizeof(SECURITY_ATTRIBUTES);
  pSa->lpSecurityDescriptor = pSd;
  pSa->bInheritHandle = FALSE;
}

void CloseMutexes() {
  if (g_logsink.hInstanceMutex != nullptr) {
    CloseHandle(g_logsink.hInstanceMutex);
    g_logsink.hInstanceMutex = nullptr;
  }
  if (g_logsink.hBufferMutex != nullptr) {
    CloseHandle(g_logsink.hBufferMutex);
    g_logsink.hBufferMutex = nullptr;
  }
}

void WriteStateKey(const wchar_t* pszKey, const wchar_t* pszValue) {
  WritePrivateProfileStringW(LOGSINK_SECTION_DATA, pszKey, pszValue, g_logsink.szStateFilePath);
}

}  // namespace

void WriteFileHeader(FILE* pFile, int nYear, int nMonth, int nDay) {
  if (pFile == nullptr) return;
  fprintf(pFile, "%04d/%02d/%02d SystemVersion:%s\n", nYear, nMonth, nDay, LOGSINK_SYSTEM_VERSION);
  fflush(pFile);
}

void FormatEndedPeriodNames(EndedPeriodNames* out_pNames, int nEndedLogID) {
  wcscpy_s(out_pNames->szPermanentFile, g_logsink.szPermanentFileName);
  FormatLogFileName(out_pNames->szDailyFile, L"%s_%04d.log", nEndedLogID);
  FormatLogFileName(out_pNames->szArchiveFileDaily, L"%s_%04d.zip", nEndedLogID);
}

void WriteEndedPeriodKeys(int nEndedLogID) {
  EndedPeriodNames names;
  FormatEndedPeriodNames(&names, nEndedLogID);
  WriteStateKey(LOGSINK_KEY_PERMANENT_FILE, names.szPermanentFile);
  WriteStateKey(LOGSINK_KEY_DAILY_FILE, names.szDailyFile);
  WriteStateKey(LOGSINK_KEY_ARCHIVE_FILE_DAILY, names.szArchiveFileDaily);
}

bool WritePeriodStartState(const EndedPeriodNames& names, const wchar_t* pszArchiveFile, const wchar_t* pszDate,
                           int nLogID) {
  wchar_t szLogID[16];
  swprintf_s(szLogID, L"%d", nLogID);
  struct Key {
    const wchar_t* pszName;
    const wchar_t* pszValue;
    bool bWritten;
  } keys[] = {
      {LOGSINK_KEY_PERMANENT_FILE, names.szPermanentFile, false},
      {LOGSINK_KEY_DAILY_FILE, names.szDailyFile, false},
      {LOGSINK_KEY_ARCHIVE_FILE_DAILY, names.szArchiveFileDaily, false},
      {LOGSINK_KEY_ARCHIVE_FILE, pszArchiveFile, pszArchiveFile == nullptr},
      {LOGSINK_KEY_DATE, pszDate, false},
      {LOGSINK_KEY_LOG_ID, szLogID, false},
  };

  // The section as it is, so that its other lines (and the order of all) stay; a section the
  // buffer cuts is read again into a larger one.
  std::vector<wchar_t> current(2048);
  for (;;) {
    const DWORD nRead = GetPrivateProfileSectionW(LOGSINK_SECTION_DATA, current.data(),
                                                  static_cast<DWORD>(current.size()), g_logsink.szStateFilePath);
    if (nRead + 2 < current.size()) break;
    current.resize(current.size() * 2);
  }

  std::vector<wchar_t> lines;
  auto append = [&lines](const wchar_t* pszText) { lines.insert(lines.end(), pszText, pszText + wcslen(pszText)); };
  for (const wchar_t* pszLine = current.data(); *pszLine != L'\0'; pszLine += wcslen(pszLine) + 1) {
    const wchar_t* pszEquals = wcschr(pszLine, L'=');
    const size_t nName = pszEquals != nullptr ? static_cast<size_t>(pszEquals - pszLine) : wcslen(pszLine);
    Key* pKey = nullptr;
    for (Key& key : keys) {
      if (!key.bWritten && wcslen(key.pszName) == nName && _wcsnicmp(key.pszName, pszLine, nName) == 0) {
        pKey = &key;
        break;
      }
    }
    if (pKey != nullptr) {
      // The key keeps its spelling in the file, as a single write would leave it.
      lines.insert(lines.end(), pszLine, pszLine + nName);
      append(L"=");
      append(pKey->pszValue);
      pKey->bWritten = true;
    } else {
      append(pszLine);
    }
    lines.push_back(L'\0');
  }
  for (Key& key : keys) {
    if (key.bWritten) continue;
    append(key.pszName);
    append(L"=");
    append(key.pszValue);
    lines.push_back(L'\0');
  }
  lines.push_back(L'\0');
  return WritePrivateProfileSectionW(LOGSINK_SECTION_DATA, lines.data(), g_logsink.szStateFilePath) != FALSE;
}

bool FormatLogFileName(wchar_t (&out_szName)[LOGSINK_NAME_CAPACITY], const wchar_t* pszFormat,
                       int nLogID) {
  return _snwprintf_s(out_szName, _TRUNCATE, pszFormat, g_logsink.pszBaseName, nLogID) >= 0;
}

namespace {

// Starts Logsweep; its process handle goes to `out_phProcess` when given, else it is closed.
int StartCleanup(HANDLE* out_phProcess) {
  wchar_t szPath[LOGSINK_PATH_CAPACITY] = {};
  if (g_pfnLogsinkModulePath(5, 2, 1, true, szPath) != QNVERROR_NO_ERROR) {
    return LOGSINK_KICK_NO_PATH;
  }
  // Quoted: the path lies below "Program Files (x86)", and unquoted the blanks would let
  // Windows try "C:\Program.exe" and the other prefixes first.
  wchar_t szCommandLine[LOGSINK_PATH_CAPACITY + 3];
  swprintf_s(szCommandLine, L"\"%s\"", szPath);
  STARTUPINFOW stStartupInfo;
  memset(&stStartupInfo, 0, sizeof(stStartupInfo));
  stStartupInfo.cb = sizeof(stStartupInfo);
  PROCESS_INFORMATION stProcessInfo;
  memset(&stProcessInfo, 0, sizeof(stProcessInfo));
  int nResult = LOGSINK_KICK_OK;
  if (!CreateProcessW(nullptr, szCommandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &stStartupInfo, &stProcessInfo)) {
    nResult = LOGSINK_KICK_NO_PROCESS;
  }
  if (out_phProcess != nullptr) {
    *out_phProcess = stProcessInfo.hProcess;
  } else if (stProcessInfo.hProcess != nullptr) {
    CloseHandle(stProcessInfo.hProcess);
  }
  if (stProcessInfo.hThread != nullptr) CloseHandle(stProcessInfo.hThread);
  return nResult;
}

// How long a start-up waits for the cleanup of a period still named in the state file.
constexpr DWORD kPendingCleanupWaitMs = 60000;

// The state file names one ended period. One still named when the next period ends was never
// taken by a cleanup: the logger ended between recording its switch and starting the cleanup,
// and the next start-up falls on a later date. Written over, that period would never be
// archived; so a cleanup runs for it first (bounded: a cleanup that has read the names goes
// on with them, and takes the next period on in a later pass).
void CleanUpPendingPeriod() {
  wchar_t szPermanent[MAX_PATH] = {};
  wchar_t szDaily[MAX_PATH] = {};
  GetPrivateProfileStringW(LOGSINK_SECTION_DATA, LOGSINK_KEY_PERMANENT_FILE, L"", szPermanent, MAX_PATH,
                           g_logsink.szStateFilePath);
  GetPrivateProfileStringW(LOGSINK_SECTION_DATA, LOGSINK_KEY_DAILY_FILE, L"", szDaily, MAX_PATH,
                           g_logsink.szStateFilePath);
  if (szPermanent[0] == L'\0' && szDaily[0] == L'\0') return;
  HANDLE hProcess = nullptr;
  if (StartCleanup(&hProcess) == LOGSINK_KICK_OK && hProcess != nullptr) {
    WaitForSingleObject(hProcess, kPendingCleanupWaitMs);
  }
  if (hProcess != nullptr) CloseHandle(hProcess);
}

}  // namespace

int KickCleanup() { return StartCleanup(nullptr); }

BOOL WINAPI ConsoleCtrlHandler(DWORD dwCtrlType) {
  (void)dwCtrlType;
  // Taken so that the drain thread is never inside a write or a switch while the daily file
  // is closed; once bEnding is set it touches no file again.
  std::lock_guard<std::mutex> lock(LogsinkFilesLock());
  g_logsink.bEnding = true;
  CloseMutexes();
  if (g_logsink.hDrainThread != nullptr) {
    CloseHandle(g_logsink.hDrainThread);
    g_logsink.hDrainThread = nullptr;
  }
  if (g_logsink.pDailyFile != nullptr) {
    fclose(g_logsink.pDailyFile);
    g_logsink.pDailyFile = nullptr;
  }
  return FALSE;
}

int LogsinkStartUp(int argc, wchar_t* argv[]) {
  SECURITY_DESCRIPTOR sd;
  SECURITY_ATTRIBUTES sa;
  BuildOpenSecurity(&sd, &sa);

  g_logsink.hInstanceMutex = CreateMutexW(&sa, FALSE, kLogChannelInstanceMutexName);
  DWORD dwError = GetLastError();
  if (dwError == ERROR_ALREADY_EXISTS && g_logsink.hInstanceMutex != nullptr) {
    CloseHandle(g_logsink.hInstanceMutex);
    g_logsink.hInstanceMutex = nullptr;
  }
  if (dwError == ERROR_ALREADY_EXISTS || g_logsink.hInstanceMutex == nullptr) {
    return LOGSINK_EXIT_DOUBLE_BOOT;
  }

  // When a writer process still holds the channel mutex, the handle returned is to that same
  // object and is kept: the mutex must outlive the writers that happen to hold it now, or the
  // writers that come after them could not open it while this logger runs.
  g_logsink.hBufferMutex = CreateMutexW(&sa, FALSE, kLogChannelMutexName);
  if (g_logsink.hBufferMutex == nullptr) {
    CloseMutexes();
    return LOGSINK_EXIT_BUFFER_MUTEX;
  }

  if (g_pfnLogsinkModulePath(15, 2, 2, true, g_logsink.szStateFilePath) != QNVERROR_NO_ERROR) {
    CloseMutexes();
    return LOGSINK_EXIT_STATE_PATH;
  }

  g_logsink.nLogID = static_cast<int>(GetPrivateProfileIntW(
      LOGSINK_SECTION_DATA, LOGSINK_KEY_LOG_ID, 1, g_logsink.szStateFilePath));
  wchar_t szStoredDate[MAX_PATH] = {};
  GetPrivateProfileStringW(LOGSINK_SECTION_DATA, LOGSINK_KEY_DATE, L"", szStoredDate, MAX_PATH,
                           g_logsink.szStateFilePath);

  _tzset();
  __time64_t nNow = 0;
  _time64(&nNow);
  struct tm stToday = {};
  _localtime64_s(&stToday, &nNow);
  const int nYear = stToday.tm_year + 1900;
  const int nMonth = stToday.tm_mon + 1;
  const int nDay = stToday.tm_mday;
  wchar_t szToday[MAX_PATH];
  swprintf_s(szToday, L"%04d/%02d/%02d", nYear, nMonth, nDay);

  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], L"/l") == 0) {
      g_logsink.pszBaseName = (i + 1 < argc) ? argv[i + 1] : argv[i];
      break;
    }
  }
  // A base name whose file names would not fit is refused like a missing one, before the
  // state file is touched.
  if (g_logsink.pszBaseName == nullptr ||
      wcslen(g_logsink.pszBaseName) + kLongestSuffix >= LOGSINK_NAME_CAPACITY) {
    PrintUsage(argc > 0 ? argv[0] : L"Logsink.exe");
    CloseMutexes();
    return LOGSINK_EXIT_USAGE;
  }

  const bool bPeriodEnded = szStoredDate[0] != L'\0' && wcscmp(szStoredDate, szToday) != 0;
  EndedPeriodNames ended = {};
  if (bPeriodEnded) {
    CleanUpPendingPeriod();
    FormatLogFileName(g_logsink.szPermanentFileName, L"%s_%04d.per", g_logsink.nLogID);
    FormatEndedPeriodNames(&ended, g_logsink.nLogID);
    WriteEndedPeriodKeys(g_logsink.nLogID);
    g_logsink.nLogID = NextLogID(g_logsink.nLogID);
  }

  wchar_t szArchiveFile[LOGSINK_NAME_CAPACITY];
  swprintf_s(szArchiveFile, L"%s_Permanent.zip", g_logsink.pszBaseName);
  WriteStateKey(LOGSINK_KEY_ARCHIVE_FILE, szArchiveFile);

  FormatLogFileName(g_logsink.szDailyFileName, L"%s_%04d.log", g_logsink.nLogID);
  g_logsink.pDailyFile = _wfsopen(g_logsink.szDailyFileName, L"at", _SH_DENYNO);
  if (g_logsink.pDailyFile == nullptr) {
    CloseMutexes();
    return LOGSINK_EXIT_LOG_FILE;
  }
  FormatLogFileName(g_logsink.szPermanentFileName, L"%s_%04d.per", g_logsink.nLogID);
  g_logsink.pPermanentFile = _wfsopen(g_logsink.szPermanentFileName, L"at", _SH_DENYNO);
  if (g_logsink.pPermanentFile == nullptr) {
    fclose(g_logsink.pDailyFile);
    g_logsink.pDailyFile = nullptr;
    CloseMutexes();
    return LOGSINK_EXIT_LOG_FILE;
  }

  WriteFileHeader(g_logsink.pDailyFile, nYear, nMonth, nDay);
  WriteFileHeader(g_logsink.pPermanentFile, nYear, nMonth, nDay);

  if (bPeriodEnded) {
    // The new LogID must never be seen with the old Date (see WritePeriodStartState); the
    // ended period's keys go along, in case a cleanup still running from an earlier logger
    // cleared them after they were written above.
    WritePeriodStartState(ended, szArchiveFile, szToday, g_logsink.nLogID);
  } else {
    // No period ended: the log ID is the stored one (or the first), so a kill between the
    // two writes leaves a state that names this same period. Written key by key, the keys a
    // running cleanup empties are not read and put back.
    wchar_t szLogID[16];
    swprintf_s(szLogID, L"%d", g_logsink.nLogID);
    WriteStateKey(LOGSINK_KEY_DATE, szToday);
    WriteStateKey(LOGSINK_KEY_LOG_ID, szLogID);
  }
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, g_logsink.szStateFilePath);

  int nKick = KickCleanup();
  if (nKick != LOGSINK_KICK_OK) {
    fprintf(g_logsink.pDailyFile, "Failed to kick Logsweep when logger start up. Error=%d\n", nKick);
    fflush(g_logsink.pDailyFile);
  }

  SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE);
  return -1;
}

int LogsinkMain(int argc, wchar_t* argv[]) {
  int nExit = LogsinkStartUp(argc, argv);
  if (nExit >= 0) return nExit;

  HANDLE hThread = CreateThread(nullptr, 0, DrainThread, nullptr, 0, nullptr);
  {
    // The console control handler may already be running and closing handles.
    std::lock_guard<std::mutex> lock(LogsinkFilesLock());
    g_logsink.hDrainThread = hThread;
  }
  if (hThread != nullptr) {
    WaitForSingleObject(hThread, INFINITE);
    std::lock_guard<std::mutex> lock(LogsinkFilesLock());
    CloseMutexes();
    if (g_logsink.hDrainThread != nullptr) {
      CloseHandle(g_logsink.hDrainThread);
      g_logsink.hDrainThread = nullptr;
    }
  }
  std::lock_guard<std::mutex> lock(LogsinkFilesLock());
  CloseLogFiles();
  return LOGSINK_EXIT_OK;
}
