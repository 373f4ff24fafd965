#include "StockInstallerMain.h"

int wmain(int argc, wchar_t* argv[]) { return StockInstallerMain(argc, argv); }
