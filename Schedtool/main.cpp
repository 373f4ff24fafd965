#include "Schedtool.h"

int wmain(int argc, wchar_t* argv[]) { return SchedtoolMain(argc, argv); }
