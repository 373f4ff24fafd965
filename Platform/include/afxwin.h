// Application state of the class library, as much of it as a console program initialises.
#pragma once

#include <afx.h>

// Records the program's instance handle (also as resource handle), command line and show
// state for the class library. Returns FALSE, with ERROR_INVALID_PARAMETER, when no
// instance handle is given; a further call replaces the recorded values.
BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow);

// The values AfxWinInit recorded; NULL before it has succeeded.
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
