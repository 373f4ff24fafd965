// Win32 objects subset; see the area's source files for the semantics kept.
#pragma once

#include "pal/base.h"

