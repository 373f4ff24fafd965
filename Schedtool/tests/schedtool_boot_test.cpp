// A task registered with Schedtool runs: the start-up task starts a working logger in the log
// folder, and a daily task runs on demand with its arguments.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

#include "logsink_testing.h"
#include "pal_testing.h"

namespace {

namespace fs = std::filesystem;
using pal_testing::RunProgram;

class SchedtoolBootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Tasks outlive taskrun; as their subreaper this test can stop and reap them.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    logsink_testing::InstallLogger(machine_.path());
    logsink_testing::InstallProgram(machine_.path(), SCHEDTOOL_PATH, "Schedtool.exe");
    schedtool_ = logsink_testing::InstallDir(machine_.path()) + "/Schedtool.exe";
    logsink_testing::LogDir(machine_.path());  // the install step makes the data tree
  }
  void TearDown() override {
    for (pid_t pid : started_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }

  // Runs taskrun and returns the pids of the tasks it reports as started.
  std::vector<pid_t> TaskRun(const std::vector<std::string>& args, int* status, std::string* output) {
    std::vector<std::string> argv{TASKRUN_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    *status = RunProgram(argv, output);
    std::vector<pid_t> pids;
    std::istringstream lines(*output);
    for (std::string line; std::getline(lines, line);) {
      size_t at = line.rfind(" pid ");
      if (line.rfind("started \\", 0) == 0 && at != std::string::npos) {
        pids.push_back(static_cast<pid_t>(std::stoi(line.substr(at + 5))));
      }
    }
    started_.insert(started_.end(), pids.begin(), pids.end());
    return pids;
  }

  pal_testing::ScopedMachineRoot machine_;
  std::string schedtool_;
  std::vector<pid_t> started_;
};

TEST_F(SchedtoolBootTest, StartUpTaskStartsAWorkingLoggerInTheLogFolder) {
  ASSERT_EQ(RunProgram({schedtool_, "/a", "QNVLogsink", "/c", "Logsink.exe", "/p", "/l Logsink", "/s"}), 0);
  // A daily task is not started by a system start.
  ASSERT_EQ(RunProgram({schedtool_, "/a", "QNVDaily", "/c", "Logsink.exe", "/p", "/l Other", "/d"}), 0);

  int status = -1;
  std::string output;
  std::vector<pid_t> pids = TaskRun({"boot"}, &status, &output);
  ASSERT_EQ(status, 0) << output;
  ASSERT_EQ(pids.size(), 1u) << output;
  EXPECT_NE(output.find("started \\QNVLogsink pid"), std::string::npos) << output;

  const std::string log_dir = logsink_testing::LogDir(machine_.path());
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pids[0]) + "/cwd"), fs::path(log_dir));
  ASSERT_TRUE(logsink_testing::WaitChannelOpen());
  ASSERT_TRUE(logsink_testing::PostRecord(3, "[QNV]posted to the logger of the start-up task"));
  ASSERT_TRUE(logsink_testing::WaitChannelIdle());

  bool found = false;
  for (const auto& entry : fs::directory_iterator(log_dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("Logsink", 0) != 0 || entry.path().extension() != ".log") continue;
    for (const std::string& line : logsink_testing::ReadLines(entry.path().string())) {
      found = found || line.find("posted to the logger of the start-up task") != std::string::npos;
    }
  }
  EXPECT_TRUE(found) << "a daily file of base name Logsink in the log folder holds the record";

  kill(pids[0], SIGTERM);
  int wait_status = 0;
  ASSERT_EQ(waitpid(pids[0], &wait_status, 0), pids[0]);
  started_.clear();
}

TEST_F(SchedtoolBootTest, DailyTaskRunsOnDemandWithItsArguments) {
  ASSERT_EQ(RunProgram({schedtool_, "/a", "Victim", "/c", "Logsink.exe"}), 0);
  // The daily task runs Schedtool itself, removing the task "Victim".
  ASSERT_EQ(RunProgram({schedtool_, "/a", "Remover", "/c", "Schedtool.exe", "/p", "/r Victim", "/d"}), 0);
  const std::string victim = machine_.drive_c() + "/Windows/System32/Tasks/Victim";
  ASSERT_TRUE(fs::exists(victim));

  int status = -1;
  std::string output;
  TaskRun({"run", "Remover", "--wait"}, &status, &output);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("exit code 0"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(victim));

  TaskRun({"run", "\\Remover", "--wait"}, &status, &output);
  EXPECT_EQ(status, 49) << "the second run finds no task to remove: -1999";
  EXPECT_NE(output.find("exit code 49"), std::string::npos) << output;

  TaskRun({"run", "Absent"}, &status, &output);
  EXPECT_EQ(status, 2);
  EXPECT_NE(output.find("no such task"), std::string::npos) << output;
}

}  // namespace
