// Command line, usage and version check of Schedtool.

#include <stdio.h>
#include <wchar.h>

#include "Schedtool.h"

namespace {

const wchar_t kUsageText[] =
    L"[/a add_taskname /c command [/p parameters]] [/r remove_taskname] [/s]\n\t/s\tserver mode\n";

void PrintUsage(int argc, wchar_t* argv[]) {
  if (argc < 1 || argv[0] == NULL) return;
  wchar_t szName[_MAX_FNAME] = L"";
  wchar_t szExt[_MAX_EXT] = L"";
  _wsplitpath_s(argv[0], NULL, 0, NULL, 0, szName, _MAX_FNAME, szExt, _MAX_EXT);
  // %ls: wide in every run-time's fwprintf, whereas a bare %s in a wide format is wide only in
  // Microsoft's (mingw-w64 builds use a C99 fwprintf).
  fwprintf(stderr, L"usage: %ls%ls %ls\n", szName, szExt, kUsageText);
  fflush(stderr);
}

bool IsWindows7OrLater() {
  OSVERSIONINFOEXW stVersion = {};
  stVersion.dwOSVersionInfoSize = sizeof(stVersion);
  stVersion.dwMajorVersion = 6;
  stVersion.dwMinorVersion = 1;
  stVersion.wServicePackMajor = 0;
  DWORDLONG nConditionMask = 0;
  VER_SET_CONDITION(nConditionMask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  VER_SET_CONDITION(nConditionMask, VER_MINORVERSION, VER_GREATER_EQUAL);
  VER_SET_CONDITION(nConditionMask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&stVersion, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                            nConditionMask) != FALSE;
}

}  // namespace

const wchar_t* SchedtoolFindSwitch(int argc, wchar_t* argv[], const wchar_t* in_pszSwitch) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != NULL && wcscmp(argv[i], in_pszSwitch) == 0) {
      return (i + 1 < argc) ? argv[i + 1] : argv[i];
    }
  }
  return NULL;
}

void SchedtoolParseArgs(int argc, wchar_t* argv[], SCHEDTOOL_ARGS* out_pstArgs) {
  out_pstArgs->pszAddTask = SchedtoolFindSwitch(argc, argv, L"/a");
  out_pstArgs->pszCommand = SchedtoolFindSwitch(argc, argv, L"/c");
  out_pstArgs->pszParameters = SchedtoolFindSwitch(argc, argv, L"/p");
  out_pstArgs->bServerMode = SchedtoolFindSwitch(argc, argv, L"/s") != NULL;
  out_pstArgs->pszRemoveTask = SchedtoolFindSwitch(argc, argv, L"/r");
  out_pstArgs->bDaily = SchedtoolFindSwitch(argc, argv, L"/d") != NULL;
}

int SchedtoolMain(int argc, wchar_t* argv[]) {
  SCHEDTOOL_ARGS stArgs;
  SchedtoolParseArgs(argc, argv, &stArgs);

  // An add without a command would register whatever text stands in for the missing
  // value; the usage line says /c goes with /a.
  bool bAddWithoutCommand = stArgs.pszRemoveTask == NULL && stArgs.pszAddTask != NULL &&
                            stArgs.pszCommand == NULL;
  if ((stArgs.pszAddTask == NULL && stArgs.pszRemoveTask == NULL) || bAddWithoutCommand) {
    PrintUsage(argc, argv);
    return SCHEDTOOL_EXIT_USAGE;
  }

  if (!IsWindows7OrLater()) return SCHEDTOOL_EXIT_USAGE;

  if (stArgs.pszRemoveTask != NULL) return SchedtoolRemoveTask(stArgs.pszRemoveTask);
  return SchedtoolAddTask(stArgs.pszAddTask, stArgs.pszCommand, stArgs.pszParameters,
                          stArgs.bServerMode, stArgs.bDaily);
}
