// Schedtool: adds or removes the scheduled task that runs a program of the x86 install
// folder, at system start or every day at 04:00, in the log folder.
#pragma once

#include <windows.h>

// Exit code when the usage line was printed or Windows is older than 6.1.
#define SCHEDTOOL_EXIT_USAGE 1

// The switches of a command line: each text NULL when its switch is absent.
struct SCHEDTOOL_ARGS {
  const wchar_t* pszAddTask;     // /a  name of the task to add
  const wchar_t* pszCommand;     // /c  program file in the x86 install folder
  const wchar_t* pszParameters;  // /p  its command-line arguments
  const wchar_t* pszRemoveTask;  // /r  name of the task to remove
  bool bServerMode;              // /s  run under the local system account
  bool bDaily;                   // /d  daily at 04:00 instead of at system start
};

// Looks `in_pszSwitch` up among the arguments after the program path, exactly and
// case-sensitively; the first equal argument wins, values of other switches included.
// Returns the argument that follows it or, when it is the last one, the switch text itself;
// NULL when the switch is absent.
const wchar_t* SchedtoolFindSwitch(int argc, wchar_t* argv[], const wchar_t* in_pszSwitch);

void SchedtoolParseArgs(int argc, wchar_t* argv[], SCHEDTOOL_ARGS* out_pstArgs);

// Registers the task (replacing one of the same name). QNVERROR_NO_ERROR, QNVERROR_FAILED
// when an install path cannot be obtained or is too long, a Task Scheduler call fails or a
// COM wrapper raises an error, QNVERROR_COM_FAILED when COM or the scheduler object cannot
// be set up. A path check failure leaves an existing task of that name untouched.
int SchedtoolAddTask(const wchar_t* in_pszTaskName, const wchar_t* in_pszCommand,
                     const wchar_t* in_pszParameters, bool in_bServerMode, bool in_bDaily);

// Deletes the task. QNVERROR_NO_ERROR, QNVERROR_COM_FAILED when COM cannot be set up,
// QNVERROR_FAILED otherwise (also when there is no such task).
int SchedtoolRemoveTask(const wchar_t* in_pszTaskName);

// The whole program: switches, usage, version check, then add or remove. Returns the exit
// code.
int SchedtoolMain(int argc, wchar_t* argv[]);
