// The tool's run from its command line: media-definition path, an unread second argument,
// "/ND" third to keep the work folder's files. Returns 0 or -1.
#pragma once

#include <windows.h>

int StockInstallerMain(int argc, wchar_t* argv[]);
