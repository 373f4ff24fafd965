// The Win32 face of the platform layer: the subset of the Windows API that the programs
// call, declared with Windows' names, types and return conventions. Each area lives in a
// header of its own under pal/; this header gathers them, as <windows.h> does on Windows.
#pragma once

#include "pal/base.h"
#include "pal/errors.h"
#include "pal/objects.h"
#include "pal/files.h"
#include "pal/ini.h"
#include "pal/text.h"
#include "pal/process.h"
#include "pal/time.h"
#include "pal/system.h"
#include "pal/library.h"
#include "pal/spooler.h"
#include "pal/color.h"
