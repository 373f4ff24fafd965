// Internal pieces shared by the start-up and the drain thread: file names, the state file's
// ended-period keys and the lock that keeps the console control handler and the drain thread
// from using the log files at the same time.
#pragma once

#include <mutex>

#include "Logsink.h"

// Guards the two streams, their names and bEnding once more than one thread runs.
std::mutex& LogsinkFilesLock();

// Formats a file name from the base name and a log ID; false when it does not fit.
bool FormatLogFileName(wchar_t (&out_szName)[LOGSINK_NAME_CAPACITY], const wchar_t* pszFormat,
                       int nLogID);

// Writes PermanentFile (the permanent file name in use), DailyFile and ArchiveFileDaily of
// the period with the given log ID.
void WriteEndedPeriodKeys(int nEndedLogID);

// The state file's names of an ended period.
struct EndedPeriodNames {
  wchar_t szPermanentFile[LOGSINK_NAME_CAPACITY];
  wchar_t szDailyFile[LOGSINK_NAME_CAPACITY];
  wchar_t szArchiveFileDaily[LOGSINK_NAME_CAPACITY];
};
// PermanentFile is the permanent file name in use; the others come from the log ID.
void FormatEndedPeriodNames(EndedPeriodNames* out_pNames, int nEndedLogID);

// Records that a period ended and the next one began: the ended period's three keys, then
// `ArchiveFile` when given, `Date` and `LogID`, all in one rewrite of the state file. A logger
// killed meanwhile leaves the state from before the switch or from after it. Written
// one by one, the new LogID beside the old Date would make the next start-up take the new
// period for the ended one, so that the period really ended would never be archived.
// Returns false when the file could not be written.
bool WritePeriodStartState(const EndedPeriodNames& names, const wchar_t* pszArchiveFile, const wchar_t* pszDate,
                           int nLogID);

// Closes whichever of the two log files is open.
void CloseLogFiles();
