// Windows build: the class-library subset shared with the Linux layer, on the compiler's own
// Windows headers.
#pragma once

#include "../../include/atlstr.h"
