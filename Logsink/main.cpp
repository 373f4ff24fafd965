#include <windows.h>

#include "Logsink.h"

int wmain(int argc, wchar_t* argv[]) { return LogsinkMain(argc, argv); }
