// Win32 process subset; see the area's source files for the semantics kept.
#pragma once

#include "pal/base.h"

