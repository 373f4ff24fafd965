// The installed cleanup under Wine, with the stand-in archiver: archiving the ended period,
// trimming, and its exit statuses. Each test runs a copy of Logsweep.exe from a folder of its
// own, so that its settings file (read beside the program) is the test's.
#include <gtest/gtest.h>

#include <functional>

#include "wine_testing.h"

namespace {

const wchar_t kInstanceMutex[] = L"Local\\995F0E86-9C9C-4B93-B287-619D14560385_TQ770_LOGSWEEP";

class LogsweepWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(wt::WaitUntilNoProcessNamed(L"Logsweep.exe", 30000));
    ASSERT_TRUE(wt::EmptyFolder(wt::LogFolder()));
    folder_ = wt::TestFolder();
    ASSERT_TRUE(CopyFileW((wt::InstallFolder() + L"Logsweep.exe").c_str(), (folder_ + L"Logsweep.exe").c_str(), FALSE));
  }

  void Settings(const std::string& logSection) {
    ASSERT_TRUE(wt::WriteBytes(folder_ + L"QNVDbmon.ini", "[LOG]\r\n" + logSection));
  }
  // The state file as the logger leaves it after the end of period 1 of base name "Day".
  void EndedPeriod(const std::string& daily, const std::string& permanent) {
    ASSERT_TRUE(wt::WriteBytes(Log(L"Day_0001.log"), daily));
    ASSERT_TRUE(wt::WriteBytes(Log(L"Day_0001.per"), permanent));
    ASSERT_TRUE(wt::WriteBytes(Log(L"Logsink.dat"),
                               "[Data]\r\nLogID=2\r\nDate=2026/01/02\r\nPermanentFile=Day_0001.per\r\n"
                               "DailyFile=Day_0001.log\r\nArchiveFileDaily=Day_0001.zip\r\n"
                               "ArchiveFile=Day_Permanent.zip\r\n"));
  }
  int RunLogsweep() {
    const wt::RunResult run = wt::Run(folder_ + L"Logsweep.exe", {}, folder_);
    return static_cast<int>(run.exitCode);
  }
  static std::wstring Log(const std::wstring& name) { return wt::LogFolder() + name; }
  static std::wstring State(const wchar_t* key) { return wt::ReadIni(Log(L"Logsink.dat"), L"Data", key); }

  std::wstring folder_;
};

// Holds a file open the way the logger holds its current log: others may read and write, but
// not delete it.
class HeldOpen {
 public:
  explicit HeldOpen(const std::wstring& path, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << wt::Narrow(path);
  }
  ~HeldOpen() { Release(); }
  void Release() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

TEST_F(LogsweepWineTest, ArchivesTheEndedPeriodThenTrimsTheOldest) {
  // Creation times count in whole seconds: the two oldest logs come a second before the rest.
  ASSERT_TRUE(wt::WriteBytes(Log(L"old1.log"), "1"));
  ASSERT_TRUE(wt::WriteBytes(Log(L"old2.log"), "2"));
  Sleep(1100);
  ASSERT_TRUE(wt::WriteBytes(Log(L"old3.log"), "3"));
  const std::string daily = "2026/01/01 SystemVersion:2.0.0.60107\r\nERR\t09:05:03.007\t1234\t0088\tabc\r\n";
  const std::string permanent = "2026/01/01 SystemVersion:2.0.0.60107\r\n";
  EndedPeriod(daily, permanent);
  // An earlier period's permanent file already in the permanent archive stays there.
  ASSERT_TRUE(wt::WriteBytes(Log(L"Day_0000.per"), "period 0\r\n"));
  ASSERT_EQ(wt::Run(wt::CommonFolder() + L"7za.exe", {L"a", L"-tzip", Log(L"Day_Permanent.zip"), Log(L"Day_0000.per")})
                .exitCode,
            0u);
  ASSERT_TRUE(DeleteFileW(Log(L"Day_0000.per").c_str()));
  Settings("MAX_NUM_OF_LOG_FILE=2\r\n");

  EXPECT_EQ(RunLogsweep(), 0);

  // The permanent file went into the permanent archive; the day's archive carries the daily
  // log's name; both keys are cleared, the archive keys stay.
  EXPECT_FALSE(wt::FileExists(Log(L"Day_0001.per")));
  EXPECT_FALSE(wt::FileExists(Log(L"Day_0001.zip")));
  const wt::ZipContents permanentZip = wt::ReadZip(wt::ReadBytes(Log(L"Day_Permanent.zip")));
  EXPECT_EQ(permanentZip.error, "");
  EXPECT_EQ(permanentZip.entries,
            (std::map<std::string, std::string>{{"Day_0000.per", "period 0\r\n"}, {"Day_0001.per", permanent}}));
  const wt::ZipContents dailyZip = wt::ReadZip(wt::ReadBytes(Log(L"Day_0001.log")));
  EXPECT_EQ(dailyZip.error, "");
  EXPECT_EQ(dailyZip.entries, (std::map<std::string, std::string>{{"Day_0001.log", daily}}));
  EXPECT_EQ(State(L"PermanentFile"), L"");
  EXPECT_EQ(State(L"DailyFile"), L"");
  EXPECT_EQ(State(L"ArchiveFile"), L"Day_Permanent.zip");
  EXPECT_EQ(State(L"ArchiveFileDaily"), L"Day_0001.zip");

  // Four "*.log" entries and a limit of two: the two oldest go.
  EXPECT_FALSE(wt::FileExists(Log(L"old1.log")));
  EXPECT_FALSE(wt::FileExists(Log(L"old2.log")));
  EXPECT_TRUE(wt::FileExists(Log(L"old3.log")));
  EXPECT_TRUE(wt::FileExists(Log(L"Day_0001.log")));
}

// A daily log the archiver cannot read (held open for writing, which 7-Zip does not share):
// the archiver warns, so the log and its key stay, and the next run archives it.
TEST_F(LogsweepWineTest, ArchiverWarningKeepsTheLogForTheNextRun) {
  const std::string daily = "2026/01/01 SystemVersion:2.0.0.60107\r\n";
  EndedPeriod(daily, "");
  {
    HeldOpen writer(Log(L"Day_0001.log"), FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    EXPECT_EQ(RunLogsweep(), 0);
    EXPECT_EQ(State(L"DailyFile"), L"Day_0001.log");
    EXPECT_EQ(wt::ReadBytes(Log(L"Day_0001.log")), daily);
    EXPECT_EQ(State(L"PermanentFile"), L"");  // the other pair went through
  }
  EXPECT_EQ(RunLogsweep(), 0);
  EXPECT_EQ(State(L"DailyFile"), L"");
  EXPECT_EQ(wt::ReadZip(wt::ReadBytes(Log(L"Day_0001.log"))).entries,
            (std::map<std::string, std::string>{{"Day_0001.log", daily}}));
}

TEST_F(LogsweepWineTest, EndsWithTheDocumentedStatus) {
  struct Case {
    const char* name;
    std::string settings;
    std::function<void()> arrange;  // after the ended period is in place
    int status;
    bool archived;  // whether the ended period was archived
  };
  HANDLE mutex = nullptr;
  std::vector<std::unique_ptr<HeldOpen>> held;
  const Case cases[] = {
      {"file limit 0", "MAX_NUM_OF_LOG_FILE=0\r\n", [] {}, -1, false},
      {"file limit 501", "MAX_NUM_OF_LOG_FILE=501\r\n", [] {}, -1, false},
      {"size limit 9", "MAX_SIZE_OF_LOG_DIR=9\r\n", [] {}, -1, false},
      {"size limit 5001", "MAX_SIZE_OF_LOG_DIR=5001\r\n", [] {}, -1, false},
      {"another instance in the session", "",
       [&] { mutex = CreateMutexW(nullptr, FALSE, kInstanceMutex); },
       -99, false},
      {"no log left after archiving", "", [] { DeleteFileW(Log(L"Day_0001.log").c_str()); }, -50, true},
      {"logs that cannot be removed", "MAX_NUM_OF_LOG_FILE=1\r\n",
       [&] {
         wt::WriteBytes(Log(L"a.log"), "a");
         wt::WriteBytes(Log(L"b.log"), "b");
         held.push_back(std::make_unique<HeldOpen>(Log(L"a.log")));
         held.push_back(std::make_unique<HeldOpen>(Log(L"b.log")));
       },
       -2, true},
      {"limits at their bounds", "MAX_NUM_OF_LOG_FILE=500\r\nMAX_SIZE_OF_LOG_DIR=10\r\n", [] {}, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(wt::EmptyFolder(wt::LogFolder()));
    EndedPeriod("daily\r\n", "permanent\r\n");
    Settings(c.settings);
    c.arrange();
    EXPECT_EQ(RunLogsweep(), c.status);
    EXPECT_EQ(State(L"PermanentFile"), c.archived ? L"" : L"Day_0001.per");
    EXPECT_EQ(wt::FileExists(Log(L"Day_0001.per")), !c.archived);
    if (mutex != nullptr) CloseHandle(mutex);
    mutex = nullptr;
    held.clear();
  }
}

}  // namespace
