// Windows build: the class-library subset shared with the Linux layer, on the compiler's own
// Windows headers.
#pragma once

#include <windows.h>

// winbase.h spells GetCurrentTime() as a macro for GetTickCount(); CTime has a static member
// of that name, as in ATL.
#undef GetCurrentTime

#include "../../include/atltime.h"
