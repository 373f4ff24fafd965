// Win32 colour management subset. The colour directory is
// C:\Windows\System32\spool\drivers\color; an installed profile is a file there.
// Associations with devices are kept per queue in the spooler database.
// Only the local machine is served: a machine name other than NULL or "" fails with
// ERROR_NOT_SUPPORTED.
#pragma once

#include "pal/base.h"

// Copies the colour directory's path, with its NUL, into pBuffer; *pdwSize is in bytes.
// A NULL buffer or a too-small size fails with ERROR_INSUFFICIENT_BUFFER and sets *pdwSize.
BOOL WINAPI GetColorDirectoryW(PCWSTR pMachineName, PWSTR pBuffer, PDWORD pdwSize);

// Copies the profile file into the colour directory (an existing one is replaced).
// ERROR_FILE_NOT_FOUND when the source file does not exist.
BOOL WINAPI InstallColorProfileW(PCWSTR pMachineName, PCWSTR pProfileName);

// Removes an installed profile, given by its file name or its path in the colour directory;
// the file is deleted when bDelete is TRUE. ERROR_FILE_NOT_FOUND when it is not installed,
// ERROR_INVALID_PARAMETER for a path outside the colour directory.
BOOL WINAPI UninstallColorProfileW(PCWSTR pMachineName, PCWSTR pProfileName, BOOL bDelete);

// Associates the installed profile of the same file name as pProfileName (any folder) with
// the queue pDeviceName. Associating a pair twice keeps one association.
// ERROR_FILE_NOT_FOUND when no such profile is installed, ERROR_INVALID_PRINTER_NAME when
// there is no such queue.
BOOL WINAPI AssociateColorProfileWithDeviceW(PCWSTR pMachineName, PCWSTR pProfileName,
                                             PCWSTR pDeviceName);
