// Logsweep as the logger starts it: installed into a fresh machine root, run as a process,
// its exit status and the files it leaves read back.
#include <windows.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "logsweep_testing.h"
#include "pal_testing.h"

extern char** environ;

namespace {

using namespace logsweep_testing;

// Exit statuses as the host reports them (a Windows code modulo 256).
constexpr int kExitOk = 0;
constexpr int kExitBadSetting = 255;     // -1
constexpr int kExitRemoveFailed = 254;   // -2
constexpr int kExitNoLogFiles = 206;     // -50
constexpr int kExitAlreadyRunning = 157; // -99

void WriteSettings(const std::string& folder, const std::string& max_num, const std::string& max_size) {
  std::string text = "[LOG]\r\n";
  if (!max_num.empty()) text += "MAX_NUM_OF_LOG_FILE=" + max_num + "\r\n";
  if (!max_size.empty()) text += "MAX_SIZE_OF_LOG_DIR=" + max_size + "\r\n";
  pal_testing::WriteFile(folder + "/QNVDbmon.ini", text);
}

int RunLogsweep(const std::string& program, const std::vector<std::string>& args = {}, const std::string& cwd = "") {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  return pal_testing::RunProgram(argv, nullptr, cwd);
}

// Every run of the table has one finished daily log to archive (through a stand-in archiver
// that leaves a mark) and two more logs; with a limit of 1 file the newest is a creation
// second younger, so that the limit shows in what is left.
TEST(Logsweep, SettingsRangesAndLogFolder) {
  struct Case {
    const char* name;
    bool settings_file;
    std::string max_num, max_size;
    bool log_folder;
    int want_exit;
  };
  const Case kCases[] = {
      {"no_settings_file", false, "", "", true, kExitOk},
      {"file_limit_1", true, "1", "", true, kExitOk},
      {"file_limit_500", true, "500", "", true, kExitOk},
      {"file_limit_0", true, "0", "", true, kExitBadSetting},
      {"file_limit_501", true, "501", "", true, kExitBadSetting},
      {"file_limit_negative", true, "-3", "", true, kExitBadSetting},
      {"file_limit_not_a_number", true, "many", "", true, kExitBadSetting},
      {"size_limit_10", true, "", "10", true, kExitOk},
      {"size_limit_5000", true, "", "5000", true, kExitOk},
      {"size_limit_9", true, "", "9", true, kExitBadSetting},
      {"size_limit_5001", true, "", "5001", true, kExitBadSetting},
      {"log_folder_missing", false, "", "", false, kExitBadSetting},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    pal_testing::ScopedMachineRoot root;
    const std::string program = InstallLogsweep();
    const std::string mark = root.path() + "/archiver-started";
    InstallFakeArchiver(0, mark);
    if (c.settings_file) WriteSettings(InstallFolder(), c.max_num, c.max_size);
    const std::string folder = LogFolder();
    WriteState({"DailyFile=L_0001.log", "ArchiveFileDaily=L_0001.zip"});
    MakeFile(folder + "/L_0001.log", 1);
    MakeFile(folder + "/a.log", 1);
    const bool one_file = c.max_num == "1";
    if (one_file) NextCreationSecond();
    MakeFile(folder + "/b.log", 1);
    if (!c.log_folder) std::filesystem::remove_all(folder);

    EXPECT_EQ(RunLogsweep(program), c.want_exit);
    if (c.want_exit == kExitBadSetting) {
      // Nothing archived, nothing removed.
      EXPECT_FALSE(Exists(mark));
      if (c.log_folder) {
        EXPECT_EQ(StateValue("DailyFile"), "L_0001.log");
        EXPECT_EQ(ListFolder(folder), (std::vector<std::string>{"L_0001.log", "Logsink.dat", "a.log", "b.log"}));
      }
    } else {
      // The stand-in archiver reports success without writing an archive: the log is
      // removed as archived, and no archive takes its name.
      EXPECT_TRUE(Exists(mark));
      EXPECT_EQ(StateValue("DailyFile"), "");
      EXPECT_FALSE(Exists(folder + "/L_0001.log"));
      EXPECT_EQ(Exists(folder + "/a.log"), !one_file);
      EXPECT_TRUE(Exists(folder + "/b.log"));
    }
  }
}

TEST(Logsweep, DefaultsAre365FilesAnd2000Megabytes) {
  pal_testing::ScopedMachineRoot root;
  const std::string program = InstallLogsweep();
  InstallArchiver();
  const std::string folder = LogFolder();
  for (int i = 0; i < 366; ++i) MakeFile(folder + "/f" + std::to_string(i) + ".log", 1);
  EXPECT_EQ(RunLogsweep(program), kExitOk);
  EXPECT_EQ(ListFolder(folder).size(), 365u);

  for (const std::string& name : ListFolder(folder)) std::filesystem::remove(folder + "/" + name);
  MakeFile(folder + "/old.log", 2 * 1048576ULL);
  NextCreationSecond();
  MakeFile(folder + "/new.log", 1999 * 1048576ULL);
  EXPECT_EQ(RunLogsweep(program), kExitOk);
  EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"new.log"});
}

// The settings beside the executable count; one in the working folder does not.
TEST(Logsweep, SettingsFileIsFoundBesideTheExecutable) {
  pal_testing::ScopedMachineRoot root;
  const std::string program = InstallLogsweep();
  InstallArchiver();
  MakeFile(LogFolder() + "/a.log", 1);
  const std::string cwd = root.path() + "/work";
  std::filesystem::create_directories(cwd);
  WriteSettings(cwd, "0", "");
  EXPECT_EQ(RunLogsweep(program, {}, cwd), kExitOk);
  WriteSettings(InstallFolder(), "0", "");
  EXPECT_EQ(RunLogsweep(program, {}, cwd), kExitBadSetting);
}

TEST(Logsweep, ArgumentsChangeNothing) {
  pal_testing::ScopedMachineRoot root;
  const std::string program = InstallLogsweep();
  InstallArchiver();
  WriteSettings(InstallFolder(), "1", "");
  const std::string folder = LogFolder();
  MakeFile(folder + "/a.log", 1);
  NextCreationSecond();
  MakeFile(folder + "/b.log", 1);
  EXPECT_EQ(RunLogsweep(program, {"MAX_NUM_OF_LOG_FILE=0", "/?", "C:\\elsewhere"}), kExitOk);
  EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"b.log"});
}

TEST(Logsweep, EmptyLogFolderGivesMinusFifty) {
  pal_testing::ScopedMachineRoot root;
  const std::string program = InstallLogsweep();
  InstallArchiver();
  LogFolder();
  EXPECT_EQ(RunLogsweep(program), kExitNoLogFiles);
}

// A second run in the same logon session leaves before it reads or touches anything.
TEST(Logsweep, SecondInstanceInTheSessionEndsWithMinus99) {
  pal_testing::ScopedMachineRoot root;
  const std::string program = InstallLogsweep();
  const std::string mark = root.path() + "/archiver-started";
  InstallFakeArchiver(0, mark);
  WriteSettings(InstallFolder(), "1", "");
  const std::string folder = LogFolder();
  WriteState({"DailyFile=L_0001.log", "ArchiveFileDaily=L_0001.zip"});
  MakeFile(folder + "/L_0001.log", 1);
  MakeFile(folder + "/b.log", 1);

  HANDLE hRunning = CreateMutexW(NULL, FALSE, L"Local\\995F0E86-9C9C-4B93-B287-619D14560385_TQ770_LOGSWEEP");
  ASSERT_NE(hRunning, nullptr);
  EXPECT_EQ(RunLogsweep(program), kExitAlreadyRunning);
  EXPECT_FALSE(Exists(mark));
  EXPECT_EQ(StateValue("DailyFile"), "L_0001.log");
  EXPECT_EQ(ListFolder(folder), (std::vector<std::string>{"L_0001.log", "Logsink.dat", "b.log"}));
  CloseHandle(hRunning);

  EXPECT_EQ(RunLogsweep(program), kExitOk);
  EXPECT_TRUE(Exists(mark));
}

// ---- With the logger ---------------------------------------------------------------------

bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 30000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// True while some Logsweep of this session holds its single-instance mutex.
bool LogsweepRunning() {
  HANDLE h = CreateMutexW(NULL, FALSE, L"Local\\995F0E86-9C9C-4B93-B287-619D14560385_TQ770_LOGSWEEP");
  bool running = GetLastError() == ERROR_ALREADY_EXISTS;
  if (h != nullptr) CloseHandle(h);
  return running;
}

// The logger, started after a day without it, closes the ended day and starts the cleanup:
// the day's files end up archived and the keys cleared; its current log cannot be trimmed.
TEST(Logsweep, LoggerStartAfterADayArchivesTheEndedDay) {
  if (std::string(LOGSINK_BUILD_PATH).empty()) GTEST_SKIP() << "Logsink is not part of this build";
  pal_testing::ScopedMachineRoot root;
  InstallLogsweep();
  InstallArchiver();
  const std::string logsink = InstallFolder() + "/Logsink.exe";
  std::filesystem::copy_file(LOGSINK_BUILD_PATH, logsink);
  const std::string folder = LogFolder();
  WriteState({"LogID=7", "Date=2001/02/03"});
  MakeFile(folder + "/Logsink_0007.log", 10, "day seven\n");
  MakeFile(folder + "/Logsink_0007.per", 10, "permanent\n");

  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    execl(logsink.c_str(), logsink.c_str(), "/l", "Logsink", static_cast<char*>(nullptr));
    _exit(127);
  }

  ASSERT_TRUE(WaitUntil([] { return StateValue("DailyFile").empty() && StateValue("LogID") == "8"; }));
  ASSERT_TRUE(WaitUntil([] { return !LogsweepRunning(); }));
  EXPECT_EQ(StateValue("PermanentFile"), "");
  EXPECT_EQ(StateValue("ArchiveFileDaily"), "Logsink_0007.zip");
  EXPECT_EQ(ZipMember(folder + "/Logsink_0007.log", "Logsink_0007.log"), "day seven\n");
  EXPECT_EQ(ZipEntries(folder + "/Logsink_Permanent.zip"), std::vector<std::string>{"Logsink_0007.per"});
  EXPECT_FALSE(Exists(folder + "/Logsink_0007.zip"));
  EXPECT_FALSE(Exists(folder + "/Logsink_0007.per"));
  EXPECT_TRUE(Exists(folder + "/Logsink_0008.log"));

  // Trimming to one file reaches the logger's current daily log, which stays.
  WriteSettings(InstallFolder(), "1", "");
  NextCreationSecond();
  MakeFile(folder + "/newest.log", 1);
  EXPECT_EQ(RunLogsweep(InstallFolder() + "/Logsweep.exe"), kExitRemoveFailed);
  EXPECT_TRUE(Exists(folder + "/Logsink_0008.log"));
  EXPECT_FALSE(Exists(folder + "/Logsink_0007.log"));
  EXPECT_TRUE(Exists(folder + "/newest.log"));

  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace
