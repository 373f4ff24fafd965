// The driver step of a run (custom media into the driver configuration, ICC profiles, user
// paper files) and the clean-up of the work folder.
#pragma once

#include <windows.h>

#include "IniFile.h"
#include "LogWrite.h"
#include "PrnQueue.h"

// Runs the sub-steps in order and stops at the first failure, leaving what was done.
BOOL AddToDriver(CIniFile* in_pIniFile, CPrnQueue* in_pPrnQueue, CLogWrite* in_pLog);

// Copies the work-folder file named by [CommonDrvInfo] <in_pszKey> of the driver's data file
// into the driver data folder, replacing one there.
BOOL CopyUserPaperFile(CIniFile* in_pIniFile, CPrnQueue* in_pPrnQueue, LPCWSTR in_pszKey, CLogWrite* in_pLog);

// Deletes every "*.ini", "*.icc" and "*.paper" file (not folders, not names beginning with
// ".") of the media-definition file's folder, the media-definition file included; stops at
// the first file that cannot be deleted.
void DeleteTempFiles(CIniFile* in_pIniFile, CLogWrite* in_pLog);
