// The installed cleanup run on a settings file and a logger state file that were written
// badly or tampered with: it uses the value as Windows reads it (or refuses a value out of
// range), never removes a log it has not archived, and leaves the state file as it found it
// apart from the two keys it clears after archiving.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "logsweep_testing.h"
#include "pal_testing.h"

namespace {

using namespace logsweep_testing;
using namespace std::string_literals;

constexpr int kExitOk = 0;
constexpr int kExitBadSetting = 255;  // -1

std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

// A key of the state file as the programs' own reader sees it; "<missing>" when absent.
std::string State(const char* key) {
  wchar_t value[MAX_PATH];
  std::wstring wide_key(key, key + std::strlen(key));
  GetPrivateProfileStringW(L"Data", wide_key.c_str(), L"<missing>", value, MAX_PATH,
                           L"C:\\ProgramData\\NORVANTE\\TQ770\\log\\Logsink.dat");
  std::string out;
  for (const wchar_t* p = value; *p != L'\0'; ++p) out += static_cast<char>(*p);
  return out;
}

int RunLogsweep(const std::string& program) { return pal_testing::RunProgram({program}, nullptr); }

// Two logs, the newer a creation second younger, so that a file limit of 1 shows.
TEST(LogsweepBadInput, SettingsFileValuesAsWindowsReadsThem) {
  const std::vector<std::string> kBoth{"a.log", "b.log"};
  const std::vector<std::string> kNewest{"b.log"};
  struct Case {
    const char* name;
    std::string ini;  // QNVDbmon.ini beside the program
    bool folder;      // a folder of that name instead of a file
    int exit;
    std::vector<std::string> left;
  };
  const Case kCases[] = {
      {"empty_values_are_the_defaults", "[LOG]\r\nMAX_NUM_OF_LOG_FILE=\r\nMAX_SIZE_OF_LOG_DIR=\r\n", false, kExitOk,
       kBoth},
      {"leading_digits_count", "[LOG]\r\nMAX_NUM_OF_LOG_FILE= 1 file\r\n", false, kExitOk, kNewest},
      {"hexadecimal_500", "[LOG]\r\nMAX_NUM_OF_LOG_FILE=0x1F4\r\n", false, kExitOk, kBoth},
      {"wraps_at_32_bits_to_1", "[LOG]\r\nMAX_NUM_OF_LOG_FILE=4294967297\r\n", false, kExitOk, kNewest},
      {"exponent_is_no_number", "[LOG]\r\nMAX_SIZE_OF_LOG_DIR=1e3\r\n", false, kExitBadSetting, kBoth},
      {"quoted_value", "[LOG]\r\nMAX_NUM_OF_LOG_FILE=\"1\"\r\n", false, kExitOk, kNewest},
      {"utf16_file_out_of_range", Utf16("[LOG]\r\nMAX_NUM_OF_LOG_FILE=0\r\n"), false, kExitBadSetting, kBoth},
      {"utf16_file_in_range", Utf16("[LOG]\r\nMAX_NUM_OF_LOG_FILE=1\r\n"), false, kExitOk, kNewest},
      {"binary_junk_gives_the_defaults", "\x00\xff[LOG\r\nMAX_NUM_OF_LOG_FILE\x00=0\x01"s, false,
       kExitOk, kBoth},
      {"a_folder_gives_the_defaults", "", true, kExitOk, kBoth},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    pal_testing::ScopedMachineRoot root;
    const std::string program = InstallLogsweep();
    InstallArchiver();
    const std::string ini = InstallFolder() + "/QNVDbmon.ini";
    if (c.folder) {
      std::filesystem::create_directories(ini);
    } else {
      pal_testing::WriteFile(ini, c.ini);
    }
    const std::string folder = LogFolder();
    MakeFile(folder + "/a.log", 1);
    NextCreationSecond();
    MakeFile(folder + "/b.log", 1);
    EXPECT_EQ(RunLogsweep(program), c.exit);
    EXPECT_EQ(ListFolder(folder), c.left);
  }
}

// The real archiver; the finished day L_0001.log is on disk in every case.
TEST(LogsweepBadInput, TamperedStateFile) {
  struct Case {
    const char* name;
    std::string state;   // Logsink.dat
    bool folder;         // a folder of that name instead of a file
    bool archived;       // L_0001.log replaced by its archive
    std::string daily;   // DailyFile afterwards
  };
  const Case kCases[] = {
      {"binary_junk", "\x00\xff[Data\x01" "DailyFile=L_0001.log\x00\r\n\x7f"s, false, false,
       "<missing>"},
      {"keys_in_another_section", "[Data2]\r\nDailyFile=L_0001.log\r\nArchiveFileDaily=L_0001.zip\r\n", false, false,
       "<missing>"},
      {"archive_key_missing", "[Data]\r\nDailyFile=L_0001.log\r\n", false, false, "L_0001.log"},
      {"archive_key_empty", "[Data]\r\nDailyFile=L_0001.log\r\nArchiveFileDaily=\r\n", false, false, "L_0001.log"},
      // The archiver cannot read a missing file: the key stays for the next run (7-Zip leaves
      // an empty L_0009.zip behind).
      {"file_missing", "[Data]\r\nDailyFile=L_0009.log\r\nArchiveFileDaily=L_0009.zip\r\n", false, false,
       "L_0009.log"},
      {"utf16_file", Utf16("[Data]\r\nDailyFile=L_0001.log\r\nArchiveFileDaily=L_0001.zip\r\n"), false, true, ""},
      {"a_folder", "", true, false, "<missing>"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    pal_testing::ScopedMachineRoot root;
    const std::string program = InstallLogsweep();
    InstallArchiver();
    const std::string folder = LogFolder();
    if (c.folder) {
      std::filesystem::create_directories(StateFile());
    } else {
      pal_testing::WriteFile(StateFile(), c.state);
    }
    MakeFile(folder + "/L_0001.log", 6, "day 1\n");

    EXPECT_EQ(RunLogsweep(program), kExitOk);
    EXPECT_EQ(State("DailyFile"), c.daily);
    if (c.archived) {
      EXPECT_EQ(ZipMember(folder + "/L_0001.log", "L_0001.log"), "day 1\n");
    } else {
      EXPECT_EQ(pal_testing::ReadFile(folder + "/L_0001.log"), "day 1\n");
      // Nothing was cleared or added.
      if (!c.folder) {
        EXPECT_EQ(pal_testing::ReadFile(StateFile()), c.state);
      }
    }
    EXPECT_FALSE(Exists(folder + "/L_0001.zip"));
  }
}

}  // namespace
