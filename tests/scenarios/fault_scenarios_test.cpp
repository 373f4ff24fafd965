// Fault scenarios: the logger and the cleanup killed at bad moments and started again. Each
// ends with nothing lost: every line that was flushed is still in a log file or an archive,
// the state file names what the programs will do next, and no log is deleted unarchived.
#include <windows.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "logsink_testing.h"
#include "logsweep_testing.h"
#include "pal_testing.h"

namespace fs = std::filesystem;

namespace {

bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 30000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Starts a program in its own process group, so that it can be killed with its children.
pid_t StartInGroup(const std::string& program, const std::vector<std::string>& args,
                   const std::string& cwd) {
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(null_fd, 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  setpgid(pid, pid);
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// True while a Logsweep installed in this machine root runs. Looked up among the processes,
// not by its single-instance mutex: creating that mutex to look would make a Logsweep that
// starts at that moment take itself for a second instance and quit with its work undone.
bool LogsweepRunning(const std::string& root) {
  const std::string program = fs::weakly_canonical(logsink_testing::InstallDir(root) + "/Logsweep.exe").string();
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::error_code ec;
    if (fs::read_symlink(entry.path() / "exe", ec).string() != program || ec) continue;
    // "pid (name) state ...": a process that has ended but is not reaped yet does not count.
    const std::string stat = pal_testing::ReadFile((entry.path() / "stat").string());
    const size_t close = stat.rfind(')');
    if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z') return true;
  }
  return false;
}

// Writes a file of `size` bytes that compresses poorly, so that archiving it takes a while.
std::string WriteNoise(const std::string& path, size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string text;
  text.reserve(size);
  while (text.size() < size) {
    text += std::to_string(random());
    text += (random() % 8 == 0) ? "\r\n" : " ";
  }
  pal_testing::WriteFile(path, text);
  return text;
}

}  // namespace

// ---- The cleanup killed while the archiver runs ----------------------------------------------

// Logsweep is killed while 7-Zip writes the day's archive, once alone (the archiver runs on to
// its end) and once with the archiver (a half-written archive stays behind). The next run
// archives the day exactly once: the log's place then holds an archive with exactly the log,
// and at no moment is the log gone without a complete archive of it.
TEST(FaultScenario, LogsweepKilledWhileArchivingArchivesTheLogExactlyOnce) {
  for (bool kill_archiver_too : {false, true}) {
    SCOPED_TRACE(kill_archiver_too ? "archiver killed too" : "archiver runs on");
    pal_testing::ScopedMachineRoot root;
    using namespace logsweep_testing;
    const std::string logsweep = InstallLogsweep();
    InstallArchiver();
    const std::string folder = LogFolder();
    WriteState({"LogID=8", "Date=2026/03/14", "DailyFile=Logsink_0007.log",
                "ArchiveFileDaily=Logsink_0007.zip"});
    const std::string log = folder + "/Logsink_0007.log";
    const std::string zip = folder + "/Logsink_0007.zip";
    const std::string text = WriteNoise(log, 24 << 20, kill_archiver_too ? 2 : 1);

    pid_t pid = StartInGroup(logsweep, {}, folder);
    ASSERT_TRUE(WaitUntil([&] {
      std::error_code ec;
      return fs::file_size(zip, ec) > 0 && !ec;
    })) << "the archiver never started writing";
    kill(kill_archiver_too ? -pid : pid, SIGKILL);
    EXPECT_EQ(WaitExit(pid), 128 + SIGKILL);
    // The log is untouched until its archive is complete.
    EXPECT_TRUE(pal_testing::ReadFile(log) == text);
    EXPECT_EQ(StateValue("DailyFile"), "Logsink_0007.log");
    if (!kill_archiver_too) {
      // The orphaned archiver finishes on its own.
      std::this_thread::sleep_for(std::chrono::seconds(1));
      kill(-pid, SIGKILL);
    }

    pid = StartInGroup(logsweep, {}, folder);
    EXPECT_EQ(WaitExit(pid), 0);
    EXPECT_EQ(StateValue("DailyFile"), "");
    EXPECT_FALSE(Exists(zip));
    EXPECT_EQ(ZipEntries(log), std::vector<std::string>{"Logsink_0007.log"});
    EXPECT_TRUE(ZipMember(log, "Logsink_0007.log") == text);
  }
}

// ---- The logger killed around a period switch -------------------------------------------------

// The logger is killed at assorted moments around its switch to the next period (its clock is
// frozen and moved past 04:00, then a record triggers the switch), started again, and more
// records follow. Every line the logger acknowledged is in the log of its period, once, read
// plainly or from the archive that took the log's place; the state file names the current
// period; every ended period is archived, its daily log replaced by its archive and its
// permanent file moved into the permanent archive, with no archive left half done.
TEST(FaultScenario, LoggerKilledDuringPeriodSwitchLosesNoFlushedLine) {
  pal_testing::ScopedMachineRoot root;
  using namespace logsink_testing;
  InstallProgram(root.path(), LOGSINK_BUILD_PATH, "Logsink.exe");
  InstallProgram(root.path(), LOGSWEEP_BUILD_PATH, "Logsweep.exe");
  logsweep_testing::InstallArchiver();
  const std::string folder = LogDir(root.path());
  const std::string clock_file = root.path() + "/clock.txt";
  const auto env = FrozenClockEnv(clock_file, "UTC");
  auto set_clock = [&](int day, const char* time) {
    char text[64];
    std::snprintf(text, sizeof text, "2026-03-%02d %s\n", day, time);
    pal_testing::WriteFile(clock_file, text);
  };
  // The cleanup a start-up kicked has done its work: nothing named for archiving, no Logsweep
  // left running (periods are a day long, so it is done long before the next switch).
  auto cleanup_done = [&] {
    const std::string daily = StateValue(root.path(), "DailyFile");
    return (daily.empty() || daily == "<missing>") && !LogsweepRunning(root.path());
  };

  std::vector<std::string> acknowledged;  // lines the logger had taken before a kill
  std::mt19937 random(7);
  int day = 10;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    set_clock(day, "12:00:00");
    std::unique_ptr<Process> logger(StartLogger(root.path(), "Logsink", env));
    ASSERT_NE(logger, nullptr);
    ASSERT_TRUE(WaitUntil(cleanup_done, 60000)) << pal_testing::ReadFile(StateFile(root.path()));
    for (int i = 0; i < 3; ++i) {
      const std::string line = "round " + std::to_string(round) + " line " + std::to_string(i);
      ASSERT_TRUE(PostRecord(3, "[QNV]" + line + "\n"));
      ASSERT_TRUE(WaitChannelIdle());
      acknowledged.push_back(line);
    }
    // The next record falls into the next period: kill the logger while it switches.
    set_clock(++day, "04:00:00");
    // Nothing acknowledges this record: it may or may not be written.
    ASSERT_TRUE(PostRecord(3, "[QNV]round " + std::to_string(round) + " switching\n"));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    logger->Kill(SIGKILL);
    EXPECT_EQ(logger->Wait(), 128 + SIGKILL);
  }

  // One last start of the logger, on the next day, which ends the period in use at the last
  // kill and kicks the cleanup for it. A start on a later date comes hours after the last
  // one, when the cleanup that switch kicked has long ended: the state file holds one ended
  // period, and a second one ending before a cleanup has read the first would take its place.
  ASSERT_TRUE(WaitUntil([&] { return !LogsweepRunning(root.path()); }, 60000));
  set_clock(++day, "12:00:00");
  std::unique_ptr<Process> logger(StartLogger(root.path(), "Logsink", env));
  ASSERT_NE(logger, nullptr);
  ASSERT_TRUE(PostRecord(3, "[QNV]last\n"));
  ASSERT_TRUE(WaitChannelIdle());
  acknowledged.push_back("last");
  ASSERT_TRUE(WaitUntil(cleanup_done, 60000)) << "the ended period was never archived";
  logger->Kill(SIGTERM);
  logger->Wait();

  // The state file names the current period: today's date, and a log ID whose daily log exists.
  char today[16];
  std::snprintf(today, sizeof today, "2026/03/%02d", day);
  EXPECT_EQ(StateValue(root.path(), "Date"), today);
  const int current = std::stoi(StateValue(root.path(), "LogID"));
  auto name = [](int id, const char* suffix) {
    char text[32];
    std::snprintf(text, sizeof text, "Logsink_%04d%s", id, suffix);
    return std::string(text);
  };
  EXPECT_TRUE(fs::exists(folder + "/" + name(current, ".log"))) << current;
  EXPECT_GT(current, 8);  // every kill ended a period, at its switch or at the next start

  // Every ended period is archived: its daily log replaced by an archive of it, its permanent
  // file in the permanent archive, no day archive left beside its log.
  const std::vector<std::string> permanent = logsweep_testing::ZipEntries(folder + "/Logsink_Permanent.zip");
  // On failure: what the state file and the folder held.
  std::string listing = pal_testing::ReadFile(StateFile(root.path()));
  for (const auto& entry : fs::directory_iterator(folder)) {
    listing += entry.path().filename().string() + " " + std::to_string(entry.file_size()) + "\n";
  }
  SCOPED_TRACE(listing);
  for (int id = 1; id < current; ++id) {
    SCOPED_TRACE(name(id, ".log"));
    EXPECT_EQ(logsweep_testing::ZipEntries(folder + "/" + name(id, ".log")),
              std::vector<std::string>{name(id, ".log")});
    EXPECT_FALSE(fs::exists(folder + "/" + name(id, ".zip")));
    EXPECT_FALSE(fs::exists(folder + "/" + name(id, ".per")));
    EXPECT_EQ(std::count(permanent.begin(), permanent.end(), name(id, ".per")), 1);
  }

  // Every acknowledged line appears exactly once over all logs, read plainly or from the
  // archive that took a log's place.
  std::string all;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string file = entry.path().filename().string();
    if (file.size() < 4 || file.substr(file.size() - 4) != ".log") continue;
    std::vector<std::string> members = logsweep_testing::ZipEntries(entry.path().string());
    if (members.empty()) {
      all += pal_testing::ReadFile(entry.path().string());
    } else {
      for (const std::string& m : members) all += logsweep_testing::ZipMember(entry.path().string(), m);
    }
  }
  ASSERT_EQ(acknowledged.size(), 25u);
  for (const std::string& line : acknowledged) {
    const std::string field = "\t" + line + "\r\n";
    size_t first = all.find(field);
    EXPECT_NE(first, std::string::npos) << line;
    if (first != std::string::npos) {
      EXPECT_EQ(all.find(field, first + 1), std::string::npos) << line;
    }
  }
}

// The logger recorded its switch to period 7 and was killed before it started the cleanup; it
// is started again on a later date, which ends period 7 as well. Both ended periods are
// archived: the one still named in the state file before period 7's names take its place.
TEST(FaultScenario, LaterStartArchivesAPeriodNoCleanupTookBeforeEndingTheNext) {
  pal_testing::ScopedMachineRoot root;
  using namespace logsink_testing;
  InstallProgram(root.path(), LOGSINK_BUILD_PATH, "Logsink.exe");
  InstallProgram(root.path(), LOGSWEEP_BUILD_PATH, "Logsweep.exe");
  logsweep_testing::InstallArchiver();
  const std::string folder = LogDir(root.path());
  pal_testing::WriteFile(StateFile(root.path()),
                         "[Data]\r\nArchiveFile=Logsink_Permanent.zip\r\nDate=2026/03/11\r\nLogID=7\r\n"
                         "PermanentFile=Logsink_0006.per\r\nDailyFile=Logsink_0006.log\r\n"
                         "ArchiveFileDaily=Logsink_0006.zip\r\n");
  for (const char* file : {"Logsink_0006.log", "Logsink_0006.per", "Logsink_0007.log", "Logsink_0007.per"}) {
    pal_testing::WriteFile(folder + "/" + file, std::string("lines of ") + file + "\r\n");
  }

  const std::string clock_file = root.path() + "/clock.txt";
  pal_testing::WriteFile(clock_file, "2026-03-13 12:00:00\n");
  std::unique_ptr<Process> logger(StartLogger(root.path(), "Logsink", FrozenClockEnv(clock_file, "UTC")));
  ASSERT_NE(logger, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return StateValue(root.path(), "DailyFile").empty() && !LogsweepRunning(root.path()); },
                        60000));
  logger->Kill(SIGTERM);
  logger->Wait();

  EXPECT_EQ(StateValue(root.path(), "LogID"), "8");
  for (const char* log : {"Logsink_0006.log", "Logsink_0007.log"}) {
    SCOPED_TRACE(log);
    EXPECT_EQ(logsweep_testing::ZipMember(folder + "/" + log, log), std::string("lines of ") + log + "\r\n");
  }
  EXPECT_EQ(logsweep_testing::ZipEntries(folder + "/Logsink_Permanent.zip"),
            (std::vector<std::string>{"Logsink_0006.per", "Logsink_0007.per"}));
}

// ---- A full disk under the logger ---------------------------------------------------------------

namespace {

// A small file system mounted over a folder for the life of the object (needs root; the test
// is skipped where mounting is not allowed).
class SmallDisk {
 public:
  SmallDisk(const std::string& folder, const std::string& size) : folder_(folder) {
    mounted_ = pal_testing::RunProgram({"/bin/mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", folder}) == 0;
  }
  ~SmallDisk() {
    if (mounted_) pal_testing::RunProgram({"/bin/umount", "-l", folder_});
  }
  bool mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

// Fills the file system of `path` up to the last byte; returns false when it could not.
bool FillDisk(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  char block[4096] = {};
  while (write(fd, block, sizeof block) > 0) {
  }
  while (write(fd, block, 1) > 0) {
  }
  const bool full = errno == ENOSPC;
  close(fd);
  return full;
}

int CountOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace

// The log folder's file system fills up under a running logger: it keeps running and taking
// records, reports the failure once, and once space returns writes the following records,
// each whole and once.
TEST(FaultScenario, FullDiskUnderTheLoggerIsReportedOnceAndLoggingResumes) {
  pal_testing::ScopedMachineRoot root;
  using namespace logsink_testing;
  InstallLogger(root.path());
  const std::string folder = LogDir(root.path());
  SmallDisk disk(folder, "256k");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  const std::string debug_output = root.path() + "/debug_output.txt";
  std::unique_ptr<Process> logger(StartLogger(root.path(), "Logsink", {{"PAL_DEBUG_OUTPUT", debug_output}}));
  ASSERT_NE(logger, nullptr);
  ASSERT_TRUE(PostRecord(3, "[QNV]before the disk filled\n"));
  ASSERT_TRUE(WaitChannelIdle());

  const std::string filler = folder + "/filler.bin";
  ASSERT_TRUE(FillDisk(filler));
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(PostRecord(3, "[QNV]while full " + std::to_string(i) + " " + std::string(300, 'x') + "\n"));
  }
  ASSERT_TRUE(WaitChannelIdle());
  EXPECT_TRUE(logger->Running());

  fs::remove(filler);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(PostRecord(3, "[QNV]after " + std::to_string(i) + "\n"));
  }
  ASSERT_TRUE(WaitChannelIdle());
  EXPECT_TRUE(logger->Running());
  logger->Kill(SIGTERM);
  logger->Wait();

  const std::string log = pal_testing::ReadFile(folder + "/Logsink_0001.log");
  EXPECT_EQ(CountOf(log, "\tbefore the disk filled\r\n"), 1) << log;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(CountOf(log, "\tafter " + std::to_string(i) + "\r\n"), 1) << log;
  }
  // Logging resumes on a line of its own.
  for (const std::string& line : ReadLines(folder + "/Logsink_0001.log")) {
    if (line.find("\tafter ") != std::string::npos) {
      EXPECT_EQ(line.rfind("INF\t", 0), 0u) << line;
    }
  }
  // Reported to the debugger output, outside the full disk, once for the whole outage.
  EXPECT_EQ(CountOf(pal_testing::ReadFile(debug_output), "Failed to write log file"), 1)
      << pal_testing::ReadFile(debug_output);
}
