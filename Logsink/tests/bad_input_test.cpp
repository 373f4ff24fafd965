// The installed logger started on settings and state files that were written badly or
// tampered with: it runs with the documented default or the value as Windows reads it, the
// records still reach their files, and no earlier log line is lost.
#include <signal.h>
#include <windows.h>
#include <time.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "logsink_testing.h"
#include "pal_testing.h"

namespace fs = std::filesystem;
using namespace logsink_testing;
using namespace std::string_literals;

namespace {

std::string Today() {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  char text[16];
  strftime(text, sizeof text, "%Y/%m/%d", &tm);
  return text;
}

std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

// A key of the state file as the logger's own reader sees it; "<missing>" when absent.
std::string State(const char* key) {
  wchar_t value[MAX_PATH];
  std::wstring wide_key(key, key + std::strlen(key));
  GetPrivateProfileStringW(L"Data", wide_key.c_str(), L"<missing>", value, MAX_PATH,
                           L"C:\\ProgramData\\NORVANTE\\TQ770\\log\\Logsink.dat");
  std::string out;
  for (const wchar_t* p = value; *p != L'\0'; ++p) out += static_cast<char>(*p);
  return out;
}

// Posts records of levels 0 to 5 and 99 and returns the level names of the daily file's
// record lines; the permanent file must hold the level 99 record.
std::vector<std::string> DailyLevels(const std::string& root) {
  std::unique_ptr<Process> logger(StartLogger(root));
  if (logger == nullptr) {
    ADD_FAILURE() << "the logger did not start";
    return {};
  }
  for (int level : {0, 1, 2, 3, 4, 5, 99}) {
    EXPECT_TRUE(PostRecord(static_cast<uint8_t>(level), "[QNV]level " + std::to_string(level) + "\n"));
  }
  EXPECT_TRUE(WaitChannelIdle());
  logger->Kill(SIGTERM);
  EXPECT_EQ(logger->Wait(), 128 + SIGTERM);
  std::vector<std::string> permanent = ReadLines(LogDir(root) + "/Logsink_0001.per");
  EXPECT_EQ(permanent.size(), 2u);
  if (permanent.size() == 2) {
    EXPECT_TRUE(permanent[1].starts_with("PER\t")) << permanent[1];
  }
  std::vector<std::string> names;
  std::vector<std::string> daily = ReadLines(LogDir(root) + "/Logsink_0001.log");
  for (size_t i = 1; i < daily.size(); ++i) names.push_back(daily[i].substr(0, 3));
  return names;
}

TEST(LogsinkBadInput, SettingsFileValuesAsWindowsReadsThem) {
  const std::vector<std::string> kDefault{"FTL", "ERR", "WAR", "INF"};
  struct Case {
    const char* name;
    std::string ini;  // Logsink.ini beside the program
    bool folder;      // a folder of that name instead of a file
    std::vector<std::string> daily;
  };
  const Case kCases[] = {
      {"text_reads_as_zero", "[LOG]\r\nOutputLevel=verbose\r\n", false, {"FTL"}},
      {"empty_value_is_the_default", "[LOG]\r\nOutputLevel=\r\n", false, kDefault},
      {"leading_digits_count", "[LOG]\r\nOutputLevel= 1 (errors)\r\n", false, {"FTL", "ERR"}},
      {"hexadecimal", "[LOG]\r\nOutputLevel=0x4\r\n", false, {"FTL", "ERR", "WAR", "INF", "DBG"}},
      {"negative_keeps_only_permanent_records", "[LOG]\r\nOutputLevel=-1\r\n", false, {}},
      {"wraps_at_32_bits", "[LOG]\r\nOutputLevel=4294967298\r\n", false, {"FTL", "ERR", "WAR"}},
      {"utf16_file", Utf16("[LOG]\r\nOutputLevel=1\r\n"), false, {"FTL", "ERR"}},
      {"key_in_another_section", "[LOGS]\r\nOutputLevel=0\r\n", false, kDefault},
      {"binary_junk", "\x00\x01[LOG\xff\r\n=\x7f\x00OutputLevel"s, false, kDefault},
      {"a_folder", "", true, kDefault},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    pal_testing::ScopedMachineRoot root;
    InstallLogger(root.path());
    const std::string ini = InstallDir(root.path()) + "/Logsink.ini";
    if (c.folder) {
      fs::create_directories(ini);
    } else {
      pal_testing::WriteFile(ini, c.ini);
    }
    EXPECT_EQ(DailyLevels(root.path()), c.daily);
  }
}

// Each case starts with a daily file of the stored period already holding a line; that line
// is never lost, whatever the state file says.
TEST(LogsinkBadInput, TamperedStateFile) {
  const std::string today = Today();
  struct Case {
    const char* name;
    std::string state;  // Logsink.dat before the start
    bool folder;        // a folder of that name instead of a file
    std::string daily;  // the file that gets the record
    std::string log_id, ended_daily;
  };
  const Case kCases[] = {
      {"log_id_text_reads_as_zero", "[Data]\r\nLogID=seven\r\nDate=" + today + "\r\n", false, "Logsink_0000.log", "0",
       "<missing>"},
      {"log_id_empty_is_the_default", "[Data]\r\nLogID=\r\nDate=" + today + "\r\n", false, "Logsink_0001.log", "1",
       "<missing>"},
      {"log_id_negative", "[Data]\r\nLogID=-5\r\nDate=" + today + "\r\n", false, "Logsink_-005.log", "-5",
       "<missing>"},
      {"date_not_a_date_ends_the_period", "[Data]\r\nLogID=3\r\nDate=someday\r\n", false, "Logsink_0004.log", "4",
       "Logsink_0003.log"},
      // The period number wraps like a 32-bit counter rather than overflowing.
      {"log_id_at_its_largest_ends_the_period", "[Data]\r\nLogID=2147483647\r\nDate=1999/01/01\r\n", false,
       "Logsink_-2147483648.log", "-2147483648", "Logsink_2147483647.log"},
      {"keys_in_another_section", "[data2]\r\nLogID=3\r\nDate=1999/01/01\r\n", false, "Logsink_0001.log", "1",
       "<missing>"},
      {"binary_junk", "\x00\xff[Data\x01LogID=9\x00\r\n\x7f"s, false, "Logsink_0001.log", "1",
       "<missing>"},
      {"utf16_file", Utf16("[Data]\r\nLogID=5\r\nDate=" + today + "\r\n"), false, "Logsink_0005.log", "5",
       "<missing>"},
      // Neither read nor written: every start is a first run, and the lines still go on disk.
      {"a_folder", "", true, "Logsink_0001.log", "<missing>", "<missing>"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    pal_testing::ScopedMachineRoot root;
    InstallLogger(root.path());
    const std::string log = LogDir(root.path());
    if (c.folder) {
      fs::create_directories(StateFile(root.path()));
    } else {
      pal_testing::WriteFile(StateFile(root.path()), c.state);
    }
    pal_testing::WriteFile(log + "/" + c.daily, "earlier\r\n");

    std::unique_ptr<Process> logger(StartLogger(root.path()));
    ASSERT_NE(logger, nullptr);
    ASSERT_TRUE(PostRecord(3, "[QNV]after the start\n"));
    ASSERT_TRUE(WaitChannelIdle());
    logger->Kill(SIGTERM);
    EXPECT_EQ(logger->Wait(), 128 + SIGTERM);

    std::vector<std::string> lines = ReadLines(log + "/" + c.daily);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "earlier");
    EXPECT_EQ(lines[1], today + " SystemVersion:2.0.0.60107");
    EXPECT_TRUE(lines[2].ends_with("\tafter the start")) << lines[2];
    EXPECT_EQ(State("LogID"), c.log_id);
    EXPECT_EQ(State("DailyFile"), c.ended_daily);
    if (!c.folder) {
      EXPECT_EQ(State("Date"), today);
      // A UTF-16 state file stays UTF-16.
      EXPECT_EQ(pal_testing::ReadFile(StateFile(root.path())).starts_with("\xFF\xFE"), c.state.starts_with("\xFF\xFE"));
    }
  }
}

}  // namespace
