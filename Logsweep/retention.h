// One run's work on the log folder: archiving the files the logger has just finished, then
// trimming the folder's log files to a number and a total size, oldest first.
#pragma once

#include <windows.h>

#include <map>

// Seconds since the epoch of an entry's creation time, read through local time.
typedef __time64_t LOGSWEEP_CREATION_KEY;

// Status values of the work (they become the program's exit status).
#define LOGSWEEP_OK 0
#define LOGSWEEP_REMOVE_FAILED (-2)
#define LOGSWEEP_NO_STATE_FILE (-3)
#define LOGSWEEP_NO_LOG_FILES (-50)
#define LOGSWEEP_UNEXPECTED (-99)

// Looks up an install path; the signature of QNVUtilGetModulePathForSDK, which is what the
// program uses. Tests pass a failing lookup.
typedef int (*PFN_GET_MODULE_PATH)(int in_nPathId, int in_nPlatform, int in_nFolderType, bool in_bRequest,
                                   wchar_t* out_pszPath);

// Archives the pair named by two keys of section "Data" of the logger state file: the file
// `in_pszFileKey` names is added to the archive `in_pszArchiveKey` names, both taken
// relative to `in_pszLogFolder` (which ends with a backslash). After a successful archiver
// run the file key is emptied and the file removed; with `in_bMoveArchive` the archive then
// takes the file's name. A pair with an empty value, with a value that is not a plain file
// name (a folder separator, a drive, "." or ".."), or whose two values are the same name is
// left alone, and so is a pair whose archiving failed: its key stays for the next run.
// Failures to remove or move are ignored.
void ArchiveLogFile(LPCWSTR in_pszFileKey, LPCWSTR in_pszArchiveKey, LPCWSTR in_pszStateFilePath,
                    LPCWSTR in_pszLogFolder, BOOL in_bMoveArchive);

// How many of the oldest entries have to go. `in_mapSizeByCreation` holds the sizes of the
// entries ordered from oldest to newest (equal keys in the order the search returned them).
// The newest entries stay, as many as both rules allow: at most `in_nMaxFileNum` entries,
// and the newest entries whose running total stays within `in_nMaxDirSizeMB` megabytes
// (1,048,576 bytes) -- the newest entry always stays, whatever its size.
size_t CountLogFilesToRemove(const std::multimap<LOGSWEEP_CREATION_KEY, ULONGLONG>& in_mapSizeByCreation,
                             int in_nMaxFileNum, int in_nMaxDirSizeMB);

// The whole work: archives the permanent pair ("PermanentFile" into "ArchiveFile"), then the
// daily pair ("DailyFile" into "ArchiveFileDaily", moved to the daily log's name), flushes
// the state file, and removes the oldest entries of `in_pszLogFolder` that match
// `in_pszPattern` beyond the limits. Returns LOGSWEEP_OK; LOGSWEEP_NO_STATE_FILE when the
// state file path cannot be resolved (nothing done); LOGSWEEP_NO_LOG_FILES when nothing
// matches (after archiving); LOGSWEEP_REMOVE_FAILED when any removal failed (the others
// are still done); LOGSWEEP_UNEXPECTED on running out of memory or another exception.
int DeleteOldLogFiles(LPCWSTR in_pszLogFolder, LPCWSTR in_pszPattern, int in_nMaxFileNum, int in_nMaxDirSizeMB);
int DeleteOldLogFiles(LPCWSTR in_pszLogFolder, LPCWSTR in_pszPattern, int in_nMaxFileNum, int in_nMaxDirSizeMB,
                      PFN_GET_MODULE_PATH in_pfnGetModulePath);
