#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "ChannelTestReader.h"
#include "QNVUtilityWin.h"
#include "pal_testing.h"

namespace {

const char kMarker[] = "[QNV]-- end of case --";

// For "<prefix>(<line>)<rest>": the rest, when the line is a positive decimal number.
std::optional<std::string> AfterSourceLine(const std::string& in_strText, const std::string& in_strPrefix) {
  if (in_strText.compare(0, in_strPrefix.size(), in_strPrefix) != 0) return std::nullopt;
  size_t at = in_strPrefix.size();
  if (at >= in_strText.size() || in_strText[at] != '(') return std::nullopt;
  const size_t digits = ++at;
  while (at < in_strText.size() && in_strText[at] >= '0' && in_strText[at] <= '9') ++at;
  if (at == digits || in_strText[digits] == '0' || at >= in_strText.size() || in_strText[at] != ')') {
    return std::nullopt;
  }
  return in_strText.substr(at + 1);
}

std::string Narrow(const std::wstring& in_strText) { return std::string(in_strText.begin(), in_strText.end()); }

class PathTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The shell folders, as on every installed machine.
    std::filesystem::create_directories(root_.drive_c() + "/Program Files (x86)");
    std::filesystem::create_directories(root_.drive_c() + "/Program Files");
    std::filesystem::create_directories(root_.drive_c() + "/ProgramData");
    ASSERT_TRUE(collector_.ok());
  }

  // The trace lines the last call produced: everything before a marker sent afterwards.
  std::vector<ChannelTestRecord> TracesSoFar() {
    QNVUtilTrace(QNV_TRACE_LEVEL, QNV_TRACE_CAPACITY, L"%s", L"[QNV]-- end of case --");
    std::optional<std::vector<ChannelTestRecord>> before = collector_.TakeUntil(kMarker);
    if (!before) {
      ADD_FAILURE() << "marker never arrived";
      return {};
    }
    return *before;
  }

  pal_testing::ScopedMachineRoot root_;
  ChannelTestCollector collector_;
};

constexpr const wchar_t* kX86 = L"C:\\Program Files (x86)\\NORVANTE\\TQ770\\";
constexpr const wchar_t* kData = L"C:\\ProgramData\\NORVANTE\\TQ770\\";

TEST_F(PathTableTest, EveryIndexFolderTypeFlagAndPlatform) {
  struct Case {
    const char* name;
    int id;
    int platform;
    int folder;
    bool request;
    int want;
    std::wstring path;      // expected output; empty: output untouched
    const char* trace;      // expected message of the one trace line, or null for none
  };
  const std::wstring x86 = kX86;
  const std::wstring data = kData;
  const Case kCases[] = {
      {"sdk_x86", 1, 2, 1, true, 0, x86 + L"x86\\VTA_SDK.dll", nullptr},
      {"sdk_platform_1_is_x64", 1, 1, 1, true, 0, x86 + L"x64\\VTA_SDK.dll", nullptr},
      {"sdk_platform_0_is_x64", 1, 0, 1, true, 0, x86 + L"x64\\VTA_SDK.dll", nullptr},
      {"sdk_platform_64_is_x64", 1, 64, 1, true, 0, x86 + L"x64\\VTA_SDK.dll", nullptr},
      {"unassigned_2", 2, 2, 1, true, -1004, L"", "Param (2)"},
      {"archiver", 3, 2, 1, true, 0, x86 + L"common\\7za.exe", nullptr},
      {"archiver_any_platform", 3, 7, 1, true, 0, x86 + L"common\\7za.exe", nullptr},
      {"archiver_data_folder_type", 3, 2, 2, true, -1999, L"", nullptr},
      {"logger", 4, 2, 1, true, 0, x86 + L"x86\\Logsink.exe", nullptr},
      {"logger_x64_selector_keeps_x86", 4, 1, 1, true, 0, x86 + L"x86\\Logsink.exe", nullptr},
      {"logger_flag_false", 4, 2, 1, false, -1999, L"", nullptr},
      {"cleanup", 5, 2, 1, true, 0, x86 + L"x86\\Logsweep.exe", nullptr},
      {"printer_id_info", 6, 2, 2, true, 0, data + L"maintenance\\QNV_PrinterIdInfo.dat", nullptr},
      {"printer_id_info_install_type", 6, 2, 1, true, -1999, L"", nullptr},
      {"pattern_nc", 7, 2, 1, true, 0, x86 + L"common\\pattern\\QNV_NC_1.prn", nullptr},
      {"pattern_nc_other_platform", 7, 0, 1, true, 0, x86 + L"common\\pattern\\QNV_NC_1.prn", nullptr},
      {"pattern_bd", 8, 0, 1, true, 0, x86 + L"common\\pattern\\QNV_BD_1.prn", nullptr},
      {"pattern_9_same_as_7", 9, 5, 1, true, 0, x86 + L"common\\pattern\\QNV_NC_1.prn", nullptr},
      {"maintenance_folder", 10, 2, 2, true, 0, data + L"maintenance\\", nullptr},
      {"print_folder", 11, 2, 2, true, 0, data + L"print\\", nullptr},
      {"printer_folder", 12, 2, 2, true, 0, data + L"printer\\", nullptr},
      {"sysinfo_folder", 13, 2, 2, true, 0, data + L"sysinfo\\", nullptr},
      {"log_folder", 14, 2, 2, true, 0, data + L"log\\", nullptr},
      {"log_folder_install_type", 14, 2, 1, true, -1999, L"", nullptr},
      {"state_file", 15, 2, 2, true, 0, data + L"log\\Logsink.dat", nullptr},
      {"state_file_install_type", 15, 2, 1, true, -1999, L"", nullptr},
      {"state_file_flag_false", 15, 2, 2, false, -1999, L"", nullptr},
      {"database", 16, 2, 2, true, 0, data + L"DB\\DatabaseTest.db", nullptr},
      {"error_table_folder", 17, 2, 1, true, 0, x86 + L"common\\error_table\\", nullptr},
      {"error_table_data_type", 17, 2, 2, true, -1999, L"", nullptr},
      {"index_0", 0, 2, 1, true, -1004, L"", "Param (0)"},
      {"index_negative", -5, 2, 2, true, -1004, L"", "Param (-5)"},
      {"index_18", 18, 2, 1, true, -1004, L"", "Param (18)"},
      {"index_int_min", INT32_MIN, 2, 1, true, -1004, L"", "Param (-2147483648)"},
      // An invalid index is reported before the folder type is looked at.
      {"invalid_index_wrong_type", 2, 2, 7, false, -1004, L"", "Param (2)"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    wchar_t szPath[QNV_MODULE_PATH_CAPACITY];
    wmemset(szPath, L'#', QNV_MODULE_PATH_CAPACITY);
    szPath[QNV_MODULE_PATH_CAPACITY - 1] = L'\0';
    const std::wstring untouched = szPath;

    EXPECT_EQ(QNVUtilGetModulePathForSDK(c.id, c.platform, c.folder, c.request, szPath), c.want);
    EXPECT_EQ(std::wstring(szPath), c.path.empty() ? untouched : c.path);

    std::vector<ChannelTestRecord> traces = TracesSoFar();
    if (c.trace == nullptr) {
      EXPECT_TRUE(traces.empty()) << traces.front().text;
      continue;
    }
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(AfterSourceLine(traces[0].text, "[QNV]QNVUtilityWin.cpp"),
              std::string("\tQNVUtilGetModulePathForSDK\t") + c.trace + "\n");
    EXPECT_EQ(traces[0].level, 1);
  }
}

TEST_F(PathTableTest, InstallFolderIsThe32BitProgramFilesFolderOnA64BitHost) {
  SYSTEM_INFO stInfo = {};
  GetNativeSystemInfo(&stInfo);
  ASSERT_NE(stInfo.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL) << "test needs a 64-bit host";
  wchar_t szFolder[MAX_PATH] = {};
  ASSERT_EQ(QNVUtilGetProgramFilesFolder(szFolder), 0);
  EXPECT_STREQ(szFolder, L"C:\\Program Files (x86)");
}

TEST_F(PathTableTest, FolderPathsEndInABackslashAndFilePathsDoNot) {
  const int kFolders[] = {10, 11, 12, 13, 14, 17};
  for (int id = 1; id <= 17; ++id) {
    if (id == 2) continue;
    SCOPED_TRACE(id);
    wchar_t szPath[QNV_MODULE_PATH_CAPACITY] = {};
    int nType = QNV_FOLDER_INSTALL;
    if (QNVUtilGetModulePathForSDK(id, 2, nType, true, szPath) != 0) {
      nType = QNV_FOLDER_DATA;
      ASSERT_EQ(QNVUtilGetModulePathForSDK(id, 2, nType, true, szPath), 0);
    }
    const bool bFolder = std::find(std::begin(kFolders), std::end(kFolders), id) != std::end(kFolders);
    const std::wstring path = szPath;
    EXPECT_EQ(path.back() == L'\\', bFolder) << Narrow(path);
    EXPECT_EQ(path.find(L"\\\\"), std::wstring::npos);
  }
}

}  // namespace
