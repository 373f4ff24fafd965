// Support for the smoke tests of the installed Windows programs: starting them with
// CreateProcessW (output captured, or left running), the install and data trees, a fresh
// folder per test, whole-file access that never blocks the programs' own sharing, and a
// reader of stored zip archives that checks each entry's CRC-32 independently.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace wt {

// Exit code of a program that did not end within its time limit (it is terminated).
constexpr DWORD kTimedOut = 0xEEEEEEEE;

struct RunResult {
  DWORD exitCode = kTimedOut;
  std::string out;  // standard output, bytes as written
  std::string err;  // standard error
};

// Runs a program to its end: the command line is built from the arguments by the Windows
// quoting rules, standard output and error are captured, standard input is empty.
RunResult Run(const std::wstring& program, const std::vector<std::wstring>& args,
              const std::wstring& currentFolder = L"", DWORD timeoutMs = 60000);

// A program left running (no window, no captured output); terminated when still running at
// destruction.
class Process {
 public:
  Process(const std::wstring& program, const std::vector<std::wstring>& args,
          const std::wstring& currentFolder = L"");
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  bool Started() const { return info_.hProcess != nullptr; }
  DWORD Pid() const { return info_.dwProcessId; }
  DWORD MainThreadId() const { return info_.dwThreadId; }
  bool Running() const;
  // The exit code, or kTimedOut when the process is still running after timeoutMs.
  DWORD Wait(DWORD timeoutMs);
  void Terminate();

 private:
  PROCESS_INFORMATION info_ = {};
};

// Waits until no process of that executable name (e.g. L"Logsweep.exe") runs; false on timeout.
bool WaitUntilNoProcessNamed(const std::wstring& exeName, DWORD timeoutMs);

// Polls the condition every 50 ms until it holds or timeoutMs have passed.
template <class Condition>
bool WaitFor(Condition condition, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(50);
  }
}

// The trees, each with a trailing backslash.
std::wstring InstallFolder();  // C:\Program Files (x86)\NORVANTE\TQ770\x86\ (the programs)
std::wstring CommonFolder();   // ...\TQ770\common\ (7za.exe)
std::wstring LogFolder();      // C:\ProgramData\NORVANTE\TQ770\log\ (created when missing)

// A new empty folder for the running test (under the temporary folder), trailing backslash.
std::wstring TestFolder();
// A name unique to this process and call, from a readable stem.
std::wstring UniqueName(const std::wstring& stem);

// Deletes every file (not folder) directly in the folder; false if one could not be deleted.
bool EmptyFolder(const std::wstring& folder);
bool FileExists(const std::wstring& path);
// Whole-file read with all sharing allowed (the programs keep their files open); "" when missing.
std::string ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// Lines split after each "\r\n" (the terminator kept); a last part without one is kept too.
std::vector<std::string> SplitLines(const std::string& text);

std::string Narrow(const std::wstring& text);  // UTF-8
std::wstring Widen(const std::string& text);   // from UTF-8

std::wstring ReadIni(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                     const wchar_t* missing = L"<missing>");

// Local date as the programs format it: "YYYY/MM/DD".
std::string TodayText();

// The stored entries of a zip archive, by name, each checked against its CRC-32; an entry that
// is not stored (method 0) or fails its check makes the archive unreadable (error set).
struct ZipContents {
  std::map<std::string, std::string> entries;
  std::string error;
};
ZipContents ReadZip(const std::string& bytes);

}  // namespace wt
