#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "Folders.h"
#include "LogWrite.h"
#include "pal_testing.h"

namespace {

const char kLogHostPath[] = "/ProgramData/NORVANTE/TQ770/log/StockInstaller.log";
const char kLogWindowsPath[] = "C:\\ProgramData\\NORVANTE\\TQ770\\log\\StockInstaller.log";

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    debug_ = root_.path() + "/debugger.txt";
    setenv("PAL_DEBUG_OUTPUT", debug_.c_str(), 1);
  }
  void TearDown() override { unsetenv("PAL_DEBUG_OUTPUT"); }
  std::string Log() const { return pal_testing::ReadFile(root_.drive_c() + kLogHostPath); }

  pal_testing::ScopedMachineRoot root_;
  std::string debug_;
};

TEST_F(LogTest, EachRunStartsANewFileOfCrLfLines) {
  {
    std::unique_ptr<CLogWrite> log(CreateLogWrite("TQ770"));
    ASSERT_NE(log, nullptr);
    EXPECT_STREQ(log->Path(), kLogWindowsPath);
    log->Write("Start.");
    log->Write("First run.");
  }
  EXPECT_EQ(Log(), "Start.\r\nFirst run.\r\n");
  std::unique_ptr<CLogWrite> log(CreateLogWrite("TQ770"));
  ASSERT_NE(log, nullptr);
  log->Write("Start.");
  log->Write("End.");
  EXPECT_EQ(Log(), "Start.\r\nEnd.\r\n");
  EXPECT_EQ(pal_testing::ReadFile(debug_),
            "StockInstaller: Log Write(Start.)\nStockInstaller: Log Write(First run.)\n"
            "StockInstaller: Log Write(Start.)\nStockInstaller: Log Write(End.)\n");
}

// Holds the log open without any sharing until told to let go.
PAL_CHILD(hold_log) {
  HANDLE file = CreateFileA(kLogWindowsPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  pal_testing::ChildSay("held");
  pal_testing::ChildAwait();
  CloseHandle(file);
  return 0;
}

TEST_F(LogTest, LogHeldByAnotherProcessReachesOnlyTheDebugger) {
  std::unique_ptr<CLogWrite> log(CreateLogWrite("TQ770"));
  ASSERT_NE(log, nullptr);
  pal_testing::Child holder("hold_log");
  ASSERT_EQ(holder.ReadLine(), "held");
  log->Write("Start.");
  log->Write("Next.");
  holder.Signal();
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_EQ(Log(), "");
  const std::string want_failed = std::string("StockInstaller: CreateFile(") + kLogWindowsPath + ") failed[32]\n";
  EXPECT_EQ(pal_testing::ReadFile(debug_), "StockInstaller: Log Write(Start.)\n" + want_failed +
                                                "StockInstaller: Log Write(Next.)\n" + want_failed);
  log->Write("Free again.");
  EXPECT_EQ(Log(), "Free again.\r\n");
}

TEST(ParentFolderTest, Table) {
  struct Case {
    const char* name;
    std::wstring path;
    bool ok;
    std::wstring want;
  } cases[] = {
      {"file_in_folder", L"C:\\work\\media.ini", true, L"C:\\work"},
      {"no_backslash", L"media.ini", true, L"media.ini"},
      {"trailing_backslash", L"C:\\work\\", true, L"C:\\work"},
      {"forward_slash_is_no_separator", L"C:\\a/b", true, L"C:"},
      {"parent_of_259_fits", L"C:\\" + std::wstring(256, L'a') + L"\\f", true, L"C:\\" + std::wstring(256, L'a')},
      {"parent_of_260_does_not", L"C:\\" + std::wstring(257, L'a') + L"\\f", false, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WCHAR folder[MAX_PATH];
    EXPECT_EQ(GetParentFolder(folder, c.path.c_str()) != FALSE, c.ok);
    if (c.ok) {
      EXPECT_EQ(std::wstring(folder), c.want);
    }
  }
}

TEST(DataFolderTest, SucceedsOnlyForAnExistingFolder) {
  pal_testing::ScopedMachineRoot root;
  std::filesystem::create_directories(root.drive_c() + "/ProgramData/MORLI");
  WCHAR folder[MAX_PATH];
  EXPECT_FALSE(GetDataFolder(folder, L"NORVANTE TQ770"));
  EXPECT_STREQ(folder, L"C:\\ProgramData\\MORLI\\NORVANTE TQ770");
  pal_testing::WriteFile(root.drive_c() + "/ProgramData/MORLI/NORVANTE TQ770", "a file, not a folder");
  EXPECT_FALSE(GetDataFolder(folder, L"NORVANTE TQ770"));
  std::filesystem::remove(root.drive_c() + "/ProgramData/MORLI/NORVANTE TQ770");
  std::filesystem::create_directories(root.drive_c() + "/ProgramData/MORLI/NORVANTE TQ770");
  EXPECT_TRUE(GetDataFolder(folder, L"NORVANTE TQ770"));
  EXPECT_STREQ(folder, L"C:\\ProgramData\\MORLI\\NORVANTE TQ770");
  EXPECT_FALSE(GetDataFolder(folder, std::wstring(300, L'x').c_str()));
}

}  // namespace
