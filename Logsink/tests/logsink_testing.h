// Test support for the logger: an installed machine root, a running Logsink, and a channel
// client that posts raw records and waits until the logger has drained them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace logsink_testing {

// Host folders of a machine root.
std::string InstallDir(const std::string& root);  // ...\NORVANTE\TQ770\x86
std::string LogDir(const std::string& root);      // ...\ProgramData\NORVANTE\TQ770\log\ (created)
std::string StateFile(const std::string& root);   // the logger's state file

// Copies a built program into the install folder under its Windows name, as the install
// step does (copied, not linked, executable).
void InstallProgram(const std::string& root, const std::string& built_path,
                    const std::string& exe_name);
// Logsink.exe, and unless `with_cleanup` is false a stand-in Logsweep.exe that records each
// start as a line in "logsweep_started.txt" in its current folder.
void InstallLogger(const std::string& root, bool with_cleanup = true);

// A program started in the background; standard output and error go to a file.
class Process {
 public:
  Process(const std::vector<std::string>& argv, const std::string& cwd,
          const std::vector<std::pair<std::string, std::string>>& env = {});
  ~Process();  // kills the process if still running
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  pid_t pid() const { return pid_; }
  void Kill(int signal);
  // The exit status (0-255) or 128 + signal; -1 when still running after `timeout_ms`.
  int Wait(int timeout_ms = 30000);
  bool Running();
  std::string Output() const;

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = -1;
  std::string output_path_;
};

// Starts the installed Logsink with "/l base" in the log folder, the way the scheduled task
// does, and waits until its channel is open. Extra environment entries are added.
Process* StartLogger(const std::string& root, const std::string& base = "Logsink",
                     const std::vector<std::pair<std::string, std::string>>& env = {});

// True once the logger has taken every record posted so far: takes the channel mutex,
// consumes buffer-ready and signals it again. False when the channel is not open or stays
// busy for `timeout_ms`.
bool WaitChannelIdle(uint32_t timeout_ms = 15000);

// Waits until WaitChannelIdle succeeds, at most `timeout_ms`.
bool WaitChannelOpen(int timeout_ms = 15000);

// Posts one whole 4096-byte buffer as a writer does, unchanged; returns false when the
// channel is not open or not free within 10 s. PostRecord builds the record from its parts
// (text copied with its NUL).
bool PostRaw(const unsigned char* record);
bool PostRecord(uint8_t level, const std::string& text, uint32_t pid = 1234, uint32_t tid = 88);

// Lines of a log file (CR LF separated; the last one without its line end if it has none).
std::vector<std::string> ReadLines(const std::string& path);

// Value of a key of the state file, or "<missing>".
std::string StateValue(const std::string& root, const std::string& key);

// A libfaketime environment with the clock frozen at the time written into `timestamp_file`
// ("YYYY-MM-DD hh:mm:ss", local time), read again on every clock reading.
std::vector<std::pair<std::string, std::string>> FrozenClockEnv(const std::string& timestamp_file,
                                                                const std::string& tz);

}  // namespace logsink_testing
