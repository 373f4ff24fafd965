// Print spooler declarations; the Win32 subset lives in pal/spooler.h.
#pragma once

#include <windows.h>
