// Colour management declarations; the Win32 subset lives in pal/color.h.
#pragma once

#include <windows.h>
