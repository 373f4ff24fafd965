// The folders the media tool works in.
#pragma once

#include <windows.h>

// The path up to its last backslash, without it (a path without backslash is returned
// whole) into out_pszFolder of MAX_PATH characters. FALSE only when the result does not fit.
BOOL GetParentFolder(LPWSTR out_pszFolder, LPCWSTR in_pszPath);

// <common application data>\MORLI\<driver name> into out_pszFolder (MAX_PATH characters);
// TRUE only when that folder exists.
BOOL GetDataFolder(LPWSTR out_pszFolder, LPCWSTR in_pszDriverName);
