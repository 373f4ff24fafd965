// Test support for the cleanup: the machine root's folders, an installed Logsweep, the
// archiver in place (real or a failing stand-in), files with chosen sizes, archive listings
// by an independent reader.
#pragma once

#include <string>
#include <vector>

namespace logsweep_testing {

// Host folders of the machine root in PAL_ROOT.
std::string InstallFolder();  // ...\NORVANTE\TQ770\x86
std::string LogFolder();      // ...\NORVANTE\TQ770\log (created)
std::string StateFile();      // ...\log\Logsink.dat
std::string EnginePath();     // ...\common\7za.exe

// Puts the archiver at the engine path, as the install step does (the bridge to the host's 7za).
void InstallArchiver();
// Puts a shell script at the engine path instead: it appends its arguments, one per line,
// to `trace_file` when given, then exits with `exit_status`.
void InstallFakeArchiver(int exit_status, const std::string& trace_file = "");
// Copies the built Logsweep to its install path; returns that host path.
std::string InstallLogsweep();

// Creates (or replaces) a file of `size` bytes; beyond its first bytes the file is sparse.
void MakeFile(const std::string& path, unsigned long long size, const std::string& head = "x");
bool Exists(const std::string& path);
// The entries of a folder (names only), sorted.
std::vector<std::string> ListFolder(const std::string& folder);

// Names inside a zip archive as `unzip -Z1` lists them; empty when unzip rejects the file.
std::vector<std::string> ZipEntries(const std::string& archive);
// One member of a zip archive, extracted by unzip to a string.
std::string ZipMember(const std::string& archive, const std::string& member);

// Sleeps until the wall clock has entered a new second, so that files created afterwards
// have a later creation second than those created before.
void NextCreationSecond();

// A key of section "Data" of the state file, as written there ("" when missing).
std::string StateValue(const std::string& key);
// Writes the state file with the given "key=value" lines in section "Data".
void WriteState(const std::vector<std::string>& lines);

}  // namespace logsweep_testing
