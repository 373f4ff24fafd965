// Win32 ini subset; see the area's source files for the semantics kept.
#pragma once

#include "pal/base.h"

