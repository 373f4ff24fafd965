// The data archiver against the real 7-Zip console archiver (archives read back with
// unzip, an independent reader) and against stand-ins that record their arguments or fail;
// trace lines read from the log channel.
#include "QNVDataArchiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ChannelTestReader.h"
#include "LogChannelWriter.h"
#include "QNVUtilityWin.h"
#include "pal_testing.h"

namespace {

namespace fs = std::filesystem;

std::string DriveC() { return std::string(std::getenv("PAL_ROOT")) + "/drive_c"; }

std::string EnginePath() {
  fs::create_directories(DriveC() + "/Program Files (x86)/NORVANTE/TQ770/common");
  return DriveC() + "/Program Files (x86)/NORVANTE/TQ770/common/7za.exe";
}

// The install tree's 7za.exe: the bridge to the host's 7-Zip archiver.
void InstallArchiver() {
  fs::create_symlink(pal_testing::BuildDir() + "/Substitutes/archiver/archiver_bridge", EnginePath());
}

// A stand-in that writes each argument on a line of `record` and exits with `status`.
void InstallStandIn(const std::string& record, int status) {
  pal_testing::WriteFile(EnginePath(), "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '" + record +
                                           "'; done\nexit " + std::to_string(status) + "\n");
  fs::permissions(EnginePath(), fs::perms::owner_all);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> ZipEntries(const std::string& archive) {
  std::string output;
  if (pal_testing::RunProgram({"/usr/bin/unzip", "-Z1", archive}, &output) != 0) return {};
  std::vector<std::string> names = Lines(output);
  std::sort(names.begin(), names.end());
  return names;
}

// The channel texts that `action` produced, collected up to a closing mark of this test.
template <class F>
std::vector<std::string> TracesOf(F action) {
  ChannelTestCollector collector;
  EXPECT_TRUE(collector.ok());
  action();
  LogChannelWriter::Instance().Write(1, L"[QNV]end of traces");
  std::optional<std::vector<ChannelTestRecord>> before = collector.TakeUntil("[QNV]end of traces");
  EXPECT_TRUE(before.has_value());
  std::vector<std::string> texts;
  if (before) {
    for (const ChannelTestRecord& record : *before) {
      EXPECT_EQ(record.level, 1);
      texts.push_back(record.text);
    }
  }
  return texts;
}

// "[QNV]QNVDataArchiver.cpp(<line>)\t<condition>\t<code>\n" -> "<condition>\t<code>".
std::string CheckOf(const std::string& line) {
  const std::string head = "[QNV]QNVDataArchiver.cpp(";
  if (line.rfind(head, 0) != 0 || line.empty() || line.back() != '\n') return "malformed: " + line;
  size_t close = line.find(")\t", head.size());
  if (close == std::string::npos) return "malformed: " + line;
  for (size_t i = head.size(); i < close; ++i) {
    if (line[i] < '0' || line[i] > '9') return "malformed: " + line;
  }
  return line.substr(close + 2, line.size() - close - 3);
}

std::vector<std::string> ChecksOf(const std::vector<std::string>& lines) {
  std::vector<std::string> checks;
  for (const std::string& line : lines) checks.push_back(CheckOf(line));
  return checks;
}

// Paths with blanks reach the archiver whole; the archive is created, then updated.
TEST(QNVDataArchiver, AddsFilesToOneArchiveReadBackByUnzip) {
  pal_testing::ScopedMachineRoot root;
  InstallArchiver();
  const std::string folder = DriveC() + "/data with blanks";
  fs::create_directories(folder);
  pal_testing::WriteFile(folder + "/first log.per", "first\r\n");
  pal_testing::WriteFile(folder + "/second.per", "second\r\n");
  const std::wstring win = L"C:\\data with blanks\\";

  CQNVDataArchiver archiver;
  EXPECT_EQ(archiver.AddToArchive(win + L"all logs.zip", win + L"first log.per"), QNVERROR_NO_ERROR);
  EXPECT_EQ(ZipEntries(folder + "/all logs.zip"), std::vector<std::string>{"first log.per"});
  EXPECT_EQ(archiver.AddToArchive(win + L"all logs.zip", win + L"second.per"), QNVERROR_NO_ERROR);
  EXPECT_EQ(ZipEntries(folder + "/all logs.zip"), (std::vector<std::string>{"first log.per", "second.per"}));
  std::string member;
  pal_testing::RunProgram({"/usr/bin/unzip", "-p", folder + "/all logs.zip", "first log.per"}, &member);
  EXPECT_EQ(member, "first\r\n");

  // And back: the folder argument ends with a backslash, which must not eat its quote.
  EXPECT_EQ(archiver.ExtractFromArchive(win + L"all logs.zip", L"C:\\out dir\\"), QNVERROR_NO_ERROR);
  EXPECT_EQ(pal_testing::ReadFile(DriveC() + "/out dir/second.per"), "second\r\n");
}

// The exact argument vectors of both command lines, seen by a stand-in archiver.
TEST(QNVDataArchiver, CommandLinesReachTheArchiverAsTheirArguments) {
  pal_testing::ScopedMachineRoot root;
  const std::string record = root.path() + "/arguments";
  InstallStandIn(record, 0);
  CQNVDataArchiver archiver;
  EXPECT_EQ(archiver.AddToArchive(L"C:\\a b\\x.zip", L"C:\\a b\\x.log"), QNVERROR_NO_ERROR);
  EXPECT_EQ(Lines(pal_testing::ReadFile(record)),
            (std::vector<std::string>{"a", "-tzip", "C:\\a b\\x.zip", "C:\\a b\\x.log"}));
  fs::remove(record);
  EXPECT_EQ(archiver.ExtractFromArchive(L"C:\\a b\\x.zip", L"C:\\to"), QNVERROR_NO_ERROR);
  EXPECT_EQ(Lines(pal_testing::ReadFile(record)),
            (std::vector<std::string>{"x", "C:\\a b\\x.zip", "-y", "-oC:\\to"}));
}

TEST(QNVDataArchiver, RefusedArgumentsStartNothingAndTraceOnce) {
  struct Case {
    const char* name;
    std::wstring archive, file;
    std::string check;
  };
  const Case kCases[] = {
      {"empty_file", L"C:\\x.zip", L"", "(in_strArchiveDataFilePath.length() > 0) && (in_strTargetPath.length() > 0)\t-1004"},
      {"empty_archive", L"", L"C:\\x.log", "(in_strArchiveDataFilePath.length() > 0) && (in_strTargetPath.length() > 0)\t-1004"},
      {"quote_in_file", L"C:\\x.zip", L"C:\\x\" \"C:\\y.log", "(in_strArchiveDataFilePath.find(L'\"') == std::wstring::npos) && (in_strTargetPath.find(L'\"') == std::wstring::npos)\t-1004"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    pal_testing::ScopedMachineRoot root;
    const std::string record = root.path() + "/arguments";
    InstallStandIn(record, 0);
    int result = 0;
    std::vector<std::string> traces = TracesOf([&] { result = CQNVDataArchiver().AddToArchive(c.archive, c.file); });
    EXPECT_EQ(result, QNVERROR_INVALID_PARAM);
    EXPECT_EQ(ChecksOf(traces), std::vector<std::string>{c.check});
    EXPECT_FALSE(fs::exists(record));
  }
}

TEST(QNVDataArchiver, MissingArchiverGivesExecFailedWithTwoTraces) {
  pal_testing::ScopedMachineRoot root;
  int result = 0;
  std::vector<std::string> traces =
      TracesOf([&] { result = CQNVDataArchiver().AddToArchive(L"C:\\x.zip", L"C:\\x.log"); });
  EXPECT_EQ(result, QNVERROR_EXEC_FAILED);
  EXPECT_EQ(ChecksOf(traces), (std::vector<std::string>{"bChk\t-1017", "nErrCode == QNVERROR_NO_ERROR\t-1017"}));
}

// An archiver that fails must not pass for a file in the archive.
TEST(QNVDataArchiver, FailingArchiverIsAFailure) {
  pal_testing::ScopedMachineRoot root;
  InstallStandIn(root.path() + "/arguments", 2);
  int result = 0;
  std::vector<std::string> traces =
      TracesOf([&] { result = CQNVDataArchiver().AddToArchive(L"C:\\x.zip", L"C:\\x.log"); });
  EXPECT_EQ(result, QNVERROR_FAILED);
  EXPECT_EQ(ChecksOf(traces), (std::vector<std::string>{"(bChk != FALSE) && (dwExitCode == 0)\t-1999",
                                                        "nErrCode == QNVERROR_NO_ERROR\t-1999"}));
  // The real archiver fails on a missing file the same way.
  fs::remove(EnginePath());
  InstallArchiver();
  EXPECT_EQ(CQNVDataArchiver().AddToArchive(L"C:\\x.zip", L"C:\\missing.log"), QNVERROR_FAILED);
}

TEST(QNVDataArchiver, EmptyCommandLineIsRefused) {
  pal_testing::ScopedMachineRoot root;
  int result = 0;
  std::vector<std::string> traces = TracesOf([&] { result = CQNVDataArchiver().ExecuteCommandLine(L""); });
  EXPECT_EQ(result, QNVERROR_INVALID_PARAM);
  EXPECT_EQ(ChecksOf(traces), std::vector<std::string>{"in_strCommandLine.length() > 0\t-1004"});
}

// The call returns only after the archiver has ended.
TEST(QNVDataArchiver, WaitsForTheArchiverToEnd) {
  pal_testing::ScopedMachineRoot root;
  const std::string done = root.path() + "/done";
  pal_testing::WriteFile(EnginePath(), "#!/bin/sh\nsleep 0.5\ntouch '" + done + "'\n");
  fs::permissions(EnginePath(), fs::perms::owner_all);
  EXPECT_EQ(CQNVDataArchiver().AddToArchive(L"C:\\x.zip", L"C:\\x.log"), QNVERROR_NO_ERROR);
  EXPECT_TRUE(fs::exists(done));
}

TEST(QNVDataArchiver, EnginePathIsInTheInstallTree) {
  pal_testing::ScopedMachineRoot root;
  std::wstring path = L"unchanged";
  EXPECT_EQ(CQNVDataArchiver().GetArchiveEnginePath(path), QNVERROR_NO_ERROR);
  EXPECT_EQ(path, L"C:\\Program Files (x86)\\NORVANTE\\TQ770\\common\\7za.exe");
}

}  // namespace
