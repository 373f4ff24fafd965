// Schedtool run as a user runs it: installed into a fresh machine root, started as a process.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <cctype>
#include <string>
#include <vector>

#include "pal_testing.h"

namespace {

namespace fs = std::filesystem;
using pal_testing::ReadFile;
using pal_testing::RunProgram;

constexpr int kFailed = 49;  // -1999 seen on Linux
const std::string kUsage =
    "usage: Schedtool.exe [/a add_taskname /c command [/p parameters]] [/r remove_taskname] [/s]\n"
    "\t/s\tserver mode\n\n";
const std::string kInstallFolder = "C:\\Program Files (x86)\\NORVANTE\\TQ770\\x86";
const std::string kLogFolder = "C:\\ProgramData\\NORVANTE\\TQ770\\log\\";

std::string XPath(const std::string& file, const std::string& expression) {
  std::string expanded;
  for (size_t i = 0; i < expression.size();) {
    if (expression.compare(i, 2, "t:") == 0) {
      size_t end = i + 2;
      while (end < expression.size() && std::isalnum(static_cast<unsigned char>(expression[end]))) ++end;
      expanded += "*[local-name()='" + expression.substr(i + 2, end - i - 2) +
                  "' and namespace-uri()='http://schemas.microsoft.com/windows/2004/02/mit/task']";
      i = end;
    } else {
      expanded += expression[i++];
    }
  }
  std::string output;
  int status = RunProgram({"/usr/bin/xmllint", "--xpath", "string(" + expanded + ")", file}, &output);
  if (status != 0) return "<xmllint " + std::to_string(status) + ": " + output + ">";
  if (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

class SchedtoolProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::path folder = fs::path(machine_.drive_c()) / "Program Files (x86)/NORVANTE/TQ770/x86";
    fs::create_directories(folder);
    exe_ = (folder / "Schedtool.exe").string();
    fs::copy_file(SCHEDTOOL_PATH, exe_);
  }
  void TearDown() override { unsetenv("PAL_WINVER"); }

  int Run(const std::vector<std::string>& args, std::string* output = nullptr) {
    std::vector<std::string> argv{exe_};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string captured;
    int status = RunProgram(argv, &captured);
    if (output != nullptr) *output = captured;
    return status;
  }
  std::string Task(const std::string& name) const {
    return machine_.drive_c() + "/Windows/System32/Tasks/" + name;
  }

  pal_testing::ScopedMachineRoot machine_;
  std::string exe_;
};

TEST_F(SchedtoolProgramTest, PrintsUsageAndRegistersNothing) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
  };
  const Case kCases[] = {
      {"no_arguments", {}},
      {"upper_case_add", {"/A", "T"}},
      {"add_without_command", {"/a", "T", "/p", "x"}},
      {"only_other_switches", {"/c", "Logsink.exe", "/s", "/d"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string output;
    EXPECT_EQ(Run(c.args, &output), 1);
    EXPECT_EQ(output, kUsage);
    EXPECT_FALSE(fs::exists(Task("T")));
  }
}

TEST_F(SchedtoolProgramTest, AddsServerBootTask) {
  std::string output;
  ASSERT_EQ(Run({"/a", "QNVLogsink", "/c", "Logsink.exe", "/s"}, &output), 0);
  EXPECT_EQ(output, "");
  const std::string file = Task("QNVLogsink");
  EXPECT_EQ(ReadFile(file).substr(0, 2), std::string("\xFF\xFE", 2));
  struct Case {
    const char* xpath;
    std::string want;
  };
  const Case kCases[] = {
      {"/t:Task/t:RegistrationInfo/t:Author", "NORVANTE Corporation"},
      {"/t:Task/t:Principals/t:Principal/t:UserId", "SYSTEM"},
      {"/t:Task/t:Principals/t:Principal/t:LogonType", "S4U"},
      {"/t:Task/t:Principals/t:Principal/t:RunLevel", "HighestAvailable"},
      {"/t:Task/t:Settings/t:StartWhenAvailable", "true"},
      {"/t:Task/t:Settings/t:ExecutionTimeLimit", "PT0S"},
      {"/t:Task/t:Settings/t:DisallowStartIfOnBatteries", "false"},
      {"/t:Task/t:Settings/t:StopIfGoingOnBatteries", "false"},
      {"count(/t:Task/t:Triggers/*)", "1"},
      {"/t:Task/t:Triggers/t:BootTrigger/@id", "QNVLogView"},
      {"count(/t:Task/t:Actions/*)", "1"},
      {"/t:Task/t:Actions/t:Exec/t:Command", kInstallFolder + "\\Logsink.exe"},
      {"count(/t:Task/t:Actions/t:Exec/t:Arguments)", "0"},
      {"/t:Task/t:Actions/t:Exec/t:WorkingDirectory", kLogFolder},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.xpath);
    EXPECT_EQ(XPath(file, c.xpath), c.want);
  }
}

TEST_F(SchedtoolProgramTest, AddsDailyTaskForTheRegisteringUserAndReplacesAnExistingOne) {
  ASSERT_EQ(Run({"/a", "QNVDaily", "/c", "Logsink.exe", "/s"}), 0);
  ASSERT_EQ(Run({"/d", "/p", "/l Logsink", "/c", "Other.exe", "/a", "QNVDaily"}), 0);
  const std::string file = Task("QNVDaily");
  struct Case {
    const char* xpath;
    std::string want;
  };
  const Case kCases[] = {
      {"count(/t:Task/t:Triggers/*)", "1"},
      {"/t:Task/t:Triggers/t:CalendarTrigger/@id", "QNVLogView"},
      {"/t:Task/t:Triggers/t:CalendarTrigger/t:StartBoundary", "2010-01-01T04:00:00"},
      {"/t:Task/t:Triggers/t:CalendarTrigger/t:ScheduleByDay/t:DaysInterval", "1"},
      {"/t:Task/t:Principals/t:Principal/t:LogonType", "InteractiveToken"},
      {"/t:Task/t:Principals/t:Principal/t:RunLevel", "HighestAvailable"},
      {"/t:Task/t:Actions/t:Exec/t:Command", kInstallFolder + "\\Other.exe"},
      {"/t:Task/t:Actions/t:Exec/t:Arguments", "/l Logsink"},
      {"/t:Task/t:Actions/t:Exec/t:WorkingDirectory", kLogFolder},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.xpath);
    EXPECT_EQ(XPath(file, c.xpath), c.want);
  }
  EXPECT_NE(XPath(file, "/t:Task/t:Principals/t:Principal/t:UserId"), "SYSTEM");
}

TEST_F(SchedtoolProgramTest, RemovesTasks) {
  ASSERT_EQ(Run({"/a", "Keep", "/c", "Logsink.exe"}), 0);
  ASSERT_EQ(Run({"/a", "Gone", "/c", "Logsink.exe"}), 0);
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int want;
  };
  const Case kCases[] = {
      {"remove_wins_over_add", {"/a", "Added", "/c", "Logsink.exe", "/r", "Gone"}, 0},
      {"missing_task", {"/r", "Gone"}, kFailed},
      {"switch_as_last_argument", {"/r"}, kFailed},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string output;
    EXPECT_EQ(Run(c.args, &output), c.want);
    EXPECT_EQ(output, "");
  }
  EXPECT_FALSE(fs::exists(Task("Gone")));
  EXPECT_FALSE(fs::exists(Task("Added")));
  EXPECT_TRUE(fs::exists(Task("Keep")));
}

TEST_F(SchedtoolProgramTest, OlderWindowsExitsBeforeTouchingTasks) {
  ASSERT_EQ(Run({"/a", "Keep", "/c", "Logsink.exe"}), 0);
  const std::string before = ReadFile(Task("Keep"));
  setenv("PAL_WINVER", "6.0", 1);
  std::string output;
  EXPECT_EQ(Run({"/r", "Keep"}, &output), 1);
  EXPECT_EQ(Run({"/a", "Keep", "/c", "Other.exe", "/d"}, &output), 1);
  EXPECT_EQ(output, "");
  EXPECT_EQ(ReadFile(Task("Keep")), before);
  setenv("PAL_WINVER", "6.1", 1);
  EXPECT_EQ(Run({"/r", "Keep"}), 0);
}

TEST_F(SchedtoolProgramTest, ActionPathLongerThanTheWorkingBufferRegistersNothing) {
  ASSERT_EQ(Run({"/a", "T", "/c", "Logsink.exe"}), 0);
  const std::string before = ReadFile(Task("T"));
  // The install folder's Windows path has 41 characters; with the backslash, a command of
  // 217 characters makes 259, the most the buffer holds.
  const std::string fits(217, 'f');
  EXPECT_EQ(Run({"/a", "Fits", "/c", fits}), 0);
  EXPECT_EQ(XPath(Task("Fits"), "string-length(/t:Task/t:Actions/t:Exec/t:Command)"), "259");
  EXPECT_EQ(Run({"/a", "T", "/c", fits + "x"}), kFailed);
  EXPECT_EQ(ReadFile(Task("T")), before) << "the task to be replaced stays as it was";
}

TEST_F(SchedtoolProgramTest, WrapperAllocationFailureExitsWithFailure) {
  // Every BSTR allocation of a run is made to fail in turn: each run either fails cleanly
  // with -1999 and stores nothing, or (once past the last allocation) registers the task.
  int registered_from = 0;
  for (int n = 1; n <= 40 && registered_from == 0; ++n) {
    SCOPED_TRACE(n);
    fs::remove(Task("T"));
    setenv("PAL_COM_FAIL_ALLOC", std::to_string(n).c_str(), 1);
    int status = Run({"/a", "T", "/c", "Logsink.exe", "/p", "/l Logsink", "/s"});
    unsetenv("PAL_COM_FAIL_ALLOC");
    if (status == 0) {
      registered_from = n;
    } else {
      EXPECT_EQ(status, kFailed);
      EXPECT_FALSE(fs::exists(Task("T")));
    }
  }
  EXPECT_GT(registered_from, 5) << "the run makes several allocations";
  EXPECT_EQ(XPath(Task("T"), "/t:Task/t:Actions/t:Exec/t:Arguments"), "/l Logsink");
}

}  // namespace
