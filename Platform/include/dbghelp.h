// Debug-help library subset.
#pragma once

#include <windows.h>

// Creates every folder of the path up to its last backslash (a trailing file name is
// ignored). TRUE when all of them exist afterwards.
BOOL WINAPI MakeSureDirectoryPathExists(PCSTR DirPath);
