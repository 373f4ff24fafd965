// The installed media tool under Wine, on its early paths (this machine has no printer
// queue of the driver): the output protocol, the exit code, the tool log and the clean-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "wine_testing.h"

namespace {

std::vector<std::string> FilesIn(const std::wstring& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(wt::Narrow(found.cFileName));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(StockInstallerWineTest, EarlyFailuresPrintOnlyEndAndExitWithMinusOne) {
  ASSERT_TRUE(wt::WaitUntilNoProcessNamed(L"Logsweep.exe", 30000));
  const std::wstring sample = wt::LogFolder() + L"..\\sample\\media\\";
  const std::vector<std::string> sampleFiles = FilesIn(sample);
  ASSERT_FALSE(sampleFiles.empty()) << "sample media not installed";

  struct Case {
    const char* name;
    std::function<void(const std::wstring& work)> arrange;
    bool withArgument;
    std::string log;
    std::vector<std::string> workFilesAfter;
  };
  const Case cases[] = {
      {"no argument", [](const std::wstring&) {}, false, "Start.\r\nNot found a ini file.\r\nEnd.\r\n", {}},
      {"no DeviceID: nothing cleaned",
       [](const std::wstring& work) {
         wt::WriteBytes(work + L"media.ini", "[Header]\r\nModel=TQ770\r\n");
         wt::WriteBytes(work + L"a.icc", "x");
       },
       true, "Start.\r\nIniFile: No exist Device ID.\r\nCreateIniFileInfo error.\r\nEnd.\r\n",
       {"a.icc", "media.ini"}},
      {"no queue of the driver: the work folder is cleaned",
       [&](const std::wstring& work) {
         for (const std::string& name : sampleFiles)
           CopyFileW((sample + wt::Widen(name)).c_str(), (work + wt::Widen(name)).c_str(), FALSE);
         wt::WriteBytes(work + L"notes.txt", "stays");
       },
       true,
       "Start.\r\nPrnQueue: Over index 2.\r\nAddCustomCFGX: Printer queue is not found.\r\n"
       "AdjustIniFileInfo error.\r\nEnd.\r\n",
       {"notes.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring work = wt::TestFolder();
    c.arrange(work);
    std::vector<std::wstring> args;
    if (c.withArgument) args.push_back(work + L"media.ini");
    const wt::RunResult run = wt::Run(wt::InstallFolder() + L"StockInstaller.exe", args, work);
    EXPECT_EQ(run.exitCode, 0xFFFFFFFFu);
    EXPECT_EQ(run.out, "End\r\n");
    EXPECT_EQ(wt::ReadBytes(wt::LogFolder() + L"StockInstaller.log"), c.log);
    EXPECT_EQ(FilesIn(work), c.workFilesAfter);
  }
}

}  // namespace
