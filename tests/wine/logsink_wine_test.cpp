// The installed logger under Wine: single instance, usage, and records posted by another
// process (Logpost.exe) written in the log line format.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>

#include "wine_testing.h"

namespace {

class LogsinkWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A cleanup started by an earlier logger must not still be working in the folder.
    ASSERT_TRUE(wt::WaitUntilNoProcessNamed(L"Logsweep.exe", 30000));
    ASSERT_TRUE(wt::EmptyFolder(wt::LogFolder()));
  }
  void TearDown() override { EXPECT_TRUE(wt::WaitUntilNoProcessNamed(L"Logsweep.exe", 30000)); }

  static std::wstring Logsink() { return wt::InstallFolder() + L"Logsink.exe"; }
  static std::wstring Logpost() { return wt::InstallFolder() + L"Logpost.exe"; }

  // Posts one record through Logpost.exe (with a line feed after the text); returns the
  // writer's process and main-thread ids as the line shows them ("%04u").
  static std::pair<std::string, std::string> Post(const std::wstring& level, const std::wstring& text) {
    wt::Process writer(Logpost(), {L"--lf", level, text});
    EXPECT_EQ(writer.Wait(30000), 0u) << "Logpost " << wt::Narrow(level);
    char pid[16], tid[16];
    snprintf(pid, sizeof(pid), "%04lu", static_cast<unsigned long>(writer.Pid()));
    snprintf(tid, sizeof(tid), "%04lu", static_cast<unsigned long>(writer.MainThreadId()));
    return {pid, tid};
  }
};

// "NAME\tHH:MM:SS.mmm\tPID\tTID\ttext\r\n" with the name, ids and text given.
void ExpectLine(const std::string& line, const std::string& name, const std::pair<std::string, std::string>& ids,
                const std::string& text) {
  const std::string head = name + "\t";
  ASSERT_GE(line.size(), head.size() + 13) << line;
  EXPECT_EQ(line.substr(0, head.size()), head) << line;
  const std::string time = line.substr(head.size(), 12);
  bool timeShape = time.size() == 12 && time[2] == ':' && time[5] == ':' && time[8] == '.';
  for (size_t i : {0, 1, 3, 4, 6, 7, 9, 10, 11}) timeShape = timeShape && std::isdigit(static_cast<unsigned char>(time[i]));
  EXPECT_TRUE(timeShape) << line;
  EXPECT_EQ(line.substr(head.size() + 12), "\t" + ids.first + "\t" + ids.second + "\t" + text + "\r\n");
}

TEST_F(LogsinkWineTest, UsageWithoutTheLogOption) {
  const wt::RunResult run = wt::Run(Logsink(), {L"/L", L"upper-case option"}, wt::LogFolder());
  EXPECT_EQ(run.exitCode, 8u);
  EXPECT_EQ(run.err, "usage: Logsink.exe /l log_filename\r\n");
  EXPECT_FALSE(wt::FileExists(wt::LogFolder() + L"Logsink.dat"));
}

TEST_F(LogsinkWineTest, SecondInstanceRefusedRecordsWrittenAsLines) {
  const std::wstring base = wt::UniqueName(L"WineSink");
  const std::wstring daily = wt::LogFolder() + base + L"_0001.log";
  const std::wstring permanent = wt::LogFolder() + base + L"_0001.per";
  const std::string header = wt::TodayText() + " SystemVersion:2.0.0.60107\r\n";

  wt::Process logger(Logsink(), {L"/l", base}, wt::LogFolder());
  ASSERT_TRUE(logger.Started());
  ASSERT_TRUE(wt::WaitFor([&]() { return wt::ReadBytes(daily) == header; }, 20000))
      << "daily file: " << wt::ReadBytes(daily);
  EXPECT_EQ(wt::ReadBytes(permanent), header);

  // The second logger ends at once with 7 and opens no files of its own.
  const wt::RunResult second = wt::Run(Logsink(), {L"/l", base + L"X"}, wt::LogFolder());
  EXPECT_EQ(second.exitCode, 7u);
  EXPECT_FALSE(wt::FileExists(wt::LogFolder() + base + L"X_0001.log"));
  EXPECT_TRUE(logger.Running());

  // Kept: tagged records up to the output level (3), and the permanent one. Dropped: the
  // debug record and the record without the tag. The last record shows that every earlier
  // one has been taken, since the logger handles them in order.
  const auto error = Post(L"1", L"[QNV]first record");
  Post(L"4", L"[QNV]debug record, above the output level");
  Post(L"3", L"record without the tag");
  const auto kept = Post(L"99", L"[QNV]kept for good");
  const auto fatal = Post(L"FTL", L"[QNV]last record");
  ASSERT_TRUE(wt::WaitFor([&]() { return wt::SplitLines(wt::ReadBytes(daily)).size() >= 3; }, 20000))
      << wt::ReadBytes(daily);

  const std::vector<std::string> lines = wt::SplitLines(wt::ReadBytes(daily));
  ASSERT_EQ(lines.size(), 3u) << wt::ReadBytes(daily);
  EXPECT_EQ(lines[0], header);
  ExpectLine(lines[1], "ERR", error, "first record");
  ExpectLine(lines[2], "FTL", fatal, "last record");
  const std::vector<std::string> permanentLines = wt::SplitLines(wt::ReadBytes(permanent));
  ASSERT_EQ(permanentLines.size(), 2u) << wt::ReadBytes(permanent);
  ExpectLine(permanentLines[1], "PER", kept, "kept for good");

  // The state file of a first run: period 1 of today, and the permanent archive's name.
  const std::wstring state = wt::LogFolder() + L"Logsink.dat";
  EXPECT_EQ(wt::ReadIni(state, L"Data", L"LogID"), L"1");
  EXPECT_EQ(wt::Narrow(wt::ReadIni(state, L"Data", L"Date")), wt::TodayText());
  EXPECT_EQ(wt::ReadIni(state, L"Data", L"ArchiveFile"), base + L"_Permanent.zip");
  EXPECT_EQ(wt::ReadIni(state, L"Data", L"DailyFile"), L"<missing>");

  logger.Terminate();
}

}  // namespace
