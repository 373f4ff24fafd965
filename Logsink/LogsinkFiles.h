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

// Closes whichever of the two log files is open.
void CloseLogFiles();
