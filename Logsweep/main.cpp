// Logsweep: archives the log files the logger has finished and trims the log folder.
// Started by the logger without arguments; any given are ignored.
#include <windows.h>

#include "startup.h"

int wmain(int argc, wchar_t* argv[]) {
  UNREFERENCED_PARAMETER(argc);
  UNREFERENCED_PARAMETER(argv);
  return LogsweepMain();
}
