// The program around the work: single instance per logon session, class-library
// initialisation, the settings beside the executable and their ranges, the log folder.
#pragma once

#include <windows.h>

// Exit statuses set here; the work's own (0, -2, -3, -50, -99) come from DeleteOldLogFiles.
#define LOGSWEEP_BAD_SETTING (-1)
#define LOGSWEEP_INIT_FAILED (-90)
#define LOGSWEEP_ALREADY_RUNNING (-99)

// Settings: section "LOG" of QNVDbmon.ini beside the executable.
#define LOGSWEEP_MAX_NUM_DEFAULT 365
#define LOGSWEEP_MAX_NUM_MIN 1
#define LOGSWEEP_MAX_NUM_MAX 500
#define LOGSWEEP_MAX_SIZE_DEFAULT 2000
#define LOGSWEEP_MAX_SIZE_MIN 10
#define LOGSWEEP_MAX_SIZE_MAX 5000

// The full path of QNVDbmon.ini in the executable's folder, in one process-wide buffer
// that each call overwrites; NULL when the executable's path cannot be obtained or the
// result would not fit into 260 characters.
LPCWSTR GetSettingsFilePath();

// One run of the program; returns its exit status. Arguments are not read.
int LogsweepMain();
