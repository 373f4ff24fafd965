// Schedtool given task names that no task can carry: names that would reach out of the task
// store, empty names and names with characters a task name cannot hold. Adding fails with
// -1999 and stores nothing; removing fails with -1999 and deletes nothing, inside the store or
// beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pal_testing.h"

namespace {

namespace fs = std::filesystem;
using pal_testing::ReadFile;
using pal_testing::RunProgram;
using pal_testing::WriteFile;

constexpr int kFailed = 49;  // -1999 seen on Linux

TEST(SchedtoolBadInput, TaskNamesOutsideTheStoreOrNotNamesAtAll) {
  pal_testing::ScopedMachineRoot machine;
  const fs::path folder = fs::path(machine.drive_c()) / "Program Files (x86)/NORVANTE/TQ770/x86";
  fs::create_directories(folder);
  const std::string exe = (folder / "Schedtool.exe").string();
  fs::copy_file(SCHEDTOOL_PATH, exe);
  const std::string tasks = machine.drive_c() + "/Windows/System32/Tasks";
  ASSERT_EQ(RunProgram({exe, "/a", "Kept", "/c", "Logsink.exe"}, nullptr), 0);
  const std::string kept = ReadFile(tasks + "/Kept");
  // Files a name with folder parts would reach.
  WriteFile(machine.drive_c() + "/Windows/System32/victim", "victim");
  WriteFile(machine.drive_c() + "/victim", "victim");

  const std::vector<std::string> kNames = {
      "",
      "..",
      "..\\victim",
      "..\\..\\..\\victim",
      "Folder\\..\\..\\victim",
      "../victim",
      "C:\\victim",
      "a:b",
      "bad|name",
      "star*",
      "line\nend",
  };
  for (const std::string& name : kNames) {
    SCOPED_TRACE(name);
    std::string output;
    EXPECT_EQ(RunProgram({exe, "/a", name, "/c", "Logsink.exe"}, &output), kFailed);
    EXPECT_EQ(RunProgram({exe, "/r", name}, &output), kFailed);
    EXPECT_EQ(output, "");
  }
  EXPECT_EQ(ReadFile(machine.drive_c() + "/Windows/System32/victim"), "victim");
  EXPECT_EQ(ReadFile(machine.drive_c() + "/victim"), "victim");
  std::vector<std::string> stored;
  for (const auto& entry : fs::recursive_directory_iterator(tasks))
    stored.push_back(fs::relative(entry.path(), tasks).string());
  EXPECT_EQ(stored, std::vector<std::string>{"Kept"});
  EXPECT_EQ(ReadFile(tasks + "/Kept"), kept);
}

}  // namespace
