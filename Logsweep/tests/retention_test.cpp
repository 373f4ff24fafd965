// The work of one run: the removal rules as a table, then real log folders in a fresh
// machine root (files with chosen sizes, creation seconds apart), and the archiving of the
// pairs the state file names, checked with an independent zip reader.
#include "retention.h"

#include <afx.h>
#include <share.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "QNVUtilityWin.h"
#include "logsweep_testing.h"
#include "pal_testing.h"

namespace {

using namespace logsweep_testing;
using Entries = std::vector<std::pair<LOGSWEEP_CREATION_KEY, ULONGLONG>>;

constexpr ULONGLONG kMB = 1048576;
constexpr wchar_t kLogFolder[] = L"C:\\ProgramData\\NORVANTE\\TQ770\\log\\";

TEST(CountLogFilesToRemove, RulesTable) {
  struct Case {
    const char* name;
    Entries entries;  // in search order
    int max_files;
    int max_mb;
    size_t want;
  };
  const Case kCases[] = {
      {"empty_folder", {}, 1, 10, 0},
      {"within_both_limits", {{100, kMB}, {200, kMB}, {300, kMB}}, 5, 10, 0},
      {"exactly_the_file_limit", {{1, 1}, {2, 1}, {3, 1}}, 3, 10, 0},
      {"file_limit_one", {{1, 1}, {2, 1}, {3, 1}, {4, 1}}, 1, 10, 3},
      {"count_rule_alone", {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}}, 3, 5000, 2},
      {"newest_alone_above_size_limit", {{1, kMB}, {2, kMB}, {3, 11 * kMB}}, 365, 10, 2},
      {"total_exactly_at_limit_stays", {{1, 1}, {2, 4 * kMB}, {3, 6 * kMB}}, 365, 10, 1},
      {"one_byte_over_limit", {{1, 1}, {2, 4 * kMB + 1}, {3, 6 * kMB}}, 365, 10, 2},
      {"larger_of_both_excesses", {{1, 2 * kMB}, {2, 2 * kMB}, {3, 2 * kMB}, {4, 2 * kMB}, {5, 2 * kMB},
                                   {6, 2 * kMB}, {7, 2 * kMB}, {8, 2 * kMB}, {9, 2 * kMB}, {10, 2 * kMB}},
       8, 10, 5},
      // Equal keys: the later-returned entry counts as newer and is visited first.
      {"same_second_big_one_returned_first", {{100, 9 * kMB}, {100, kMB}, {100, kMB}, {100, kMB}}, 365, 10, 1},
      {"same_second_big_one_returned_last", {{100, kMB}, {100, kMB}, {100, kMB}, {100, 9 * kMB}}, 365, 10, 2},
      {"4500_mb_under_5000", {{1, 1500 * kMB}, {2, 1500 * kMB}, {3, 1500 * kMB}}, 365, 5000, 0},
      {"4500_mb_under_4000", {{1, 1500 * kMB}, {2, 1500 * kMB}, {3, 1500 * kMB}}, 365, 4000, 1},
      {"sizes_beyond_32_bits", {{1, 1}, {2, 3ULL << 30}, {3, 3ULL << 30}}, 365, 5000, 2},
      {"zero_sized_entries_count_only", {{1, 0}, {2, 0}, {3, 0}}, 2, 10, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::multimap<LOGSWEEP_CREATION_KEY, ULONGLONG> sizes;
    for (const auto& entry : c.entries) sizes.insert(entry);
    EXPECT_EQ(CountLogFilesToRemove(sizes, c.max_files, c.max_mb), c.want);
  }
}

struct FolderEntry {
  std::string name;
  ULONGLONG size = 1;
  bool directory = false;
};

// Creates the generations of entries, each a creation second after the one before.
void Prepare(const std::vector<std::vector<FolderEntry>>& generations) {
  const std::string folder = LogFolder();
  for (size_t g = 0; g < generations.size(); ++g) {
    if (g > 0) NextCreationSecond();
    for (const FolderEntry& entry : generations[g]) {
      if (entry.directory) {
        std::filesystem::create_directory(folder + "/" + entry.name);
      } else {
        MakeFile(folder + "/" + entry.name, entry.size);
      }
    }
  }
}

TEST(DeleteOldLogFiles, FolderTable) {
  struct Case {
    const char* name;
    std::vector<std::vector<FolderEntry>> generations;
    int max_files;
    int max_mb;
    int want_status;
    std::vector<std::string> want_left;
  };
  const Case kCases[] = {
      {"within_both_limits", {{{"a.log"}, {"b.log"}}}, 5, 10, 0, {"a.log", "b.log"}},
      {"file_limit_one", {{{"a.log"}}, {{"b.log"}}, {{"c.log"}}}, 1, 10, 0, {"c.log"}},
      {"newest_alone_above_size_limit",
       {{{"a.log", kMB}, {"b.log", kMB}}, {{"c.log", 11 * kMB}}}, 365, 10, 0, {"c.log"}},
      {"total_exactly_at_limit",
       {{{"a.log", 1}}, {{"b.log", 4 * kMB}}, {{"c.log", 6 * kMB}}}, 365, 10, 0, {"b.log", "c.log"}},
      {"4500_mb_of_sparse_files_under_5000",
       {{{"a.log", 1500 * kMB}, {"b.log", 1500 * kMB}}, {{"c.log", 1500 * kMB}}}, 365, 5000, 0,
       {"a.log", "b.log", "c.log"}},
      {"entry_beyond_4_gib", {{{"a.log", 600 * kMB}}, {{"b.log", 4500 * kMB}}}, 365, 5000, 0, {"b.log"}},
      {"only_log_entries_are_touched",
       {{{"Logsink_0001.per"}, {"Logsink_0001.zip"}, {"Logsink_Permanent.zip"}, {"Logsink.dat"}, {"a.log.txt"}},
        {{"b.log"}}},
       1, 10, 0,
       {"Logsink.dat", "Logsink_0001.per", "Logsink_0001.zip", "Logsink_Permanent.zip", "a.log.txt", "b.log"}},
      {"directory_named_like_a_log_counts_and_stays",
       {{{"x.log", 0, true}, {"a.log"}}, {{"b.log"}}}, 1, 10, -2, {"b.log", "x.log"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    pal_testing::ScopedMachineRoot root;
    Prepare(c.generations);
    EXPECT_EQ(DeleteOldLogFiles(kLogFolder, L"*.log", c.max_files, c.max_mb), c.want_status);
    EXPECT_EQ(ListFolder(LogFolder()), c.want_left);
  }
}

// The search order decides between entries of the same creation second.
TEST(DeleteOldLogFiles, SameSecondFirstReturnedIsOlder) {
  pal_testing::ScopedMachineRoot root;
  const std::string folder = LogFolder();
  for (int attempt = 0;; ++attempt) {
    ASSERT_LT(attempt, 5);
    MakeFile(folder + "/first.log", 1);
    MakeFile(folder + "/second.log", 1);
    struct statx a, b;
    ASSERT_EQ(statx(AT_FDCWD, (folder + "/first.log").c_str(), 0, STATX_BTIME, &a), 0);
    ASSERT_EQ(statx(AT_FDCWD, (folder + "/second.log").c_str(), 0, STATX_BTIME, &b), 0);
    if (a.stx_btime.tv_sec == b.stx_btime.tv_sec) break;
    std::filesystem::remove(folder + "/first.log");
    std::filesystem::remove(folder + "/second.log");
  }
  std::vector<std::string> order;
  CFileFind finder;
  for (BOOL more = finder.FindFile(L"C:\\ProgramData\\NORVANTE\\TQ770\\log\\*.log"); more;) {
    more = finder.FindNextFile();
    CString name = finder.GetFileName();
    order.push_back(std::string(name.GetString(), name.GetString() + name.GetLength()));
  }
  finder.Close();
  ASSERT_EQ(order.size(), 2u);

  EXPECT_EQ(DeleteOldLogFiles(kLogFolder, L"*.log", 1, 10), 0);
  EXPECT_EQ(ListFolder(folder), std::vector<std::string>{order[1]});
}

PAL_CHILD(hold_log_open) {
  std::wstring path(args[0].begin(), args[0].end());
  FILE* file = _wfsopen(path.c_str(), L"at", _SH_DENYNO);
  if (file == nullptr) return 1;
  pal_testing::ChildSay("open");
  pal_testing::ChildAwait();
  fclose(file);
  return 0;
}

// A log held open the way the logger holds its current daily log cannot be removed; the
// other entries due are removed all the same.
TEST(DeleteOldLogFiles, HeldOpenEntryGivesMinusTwoAndOthersGo) {
  pal_testing::ScopedMachineRoot root;
  Prepare({{{"a.log"}}, {{"b.log"}}, {{"c.log"}}});
  pal_testing::Child holder("hold_log_open", {"C:\\ProgramData\\NORVANTE\\TQ770\\log\\a.log"});
  ASSERT_EQ(holder.ReadLine(), "open");
  EXPECT_EQ(DeleteOldLogFiles(kLogFolder, L"*.log", 1, 10), -2);
  EXPECT_EQ(ListFolder(LogFolder()), (std::vector<std::string>{"a.log", "c.log"}));
  holder.Signal();
  EXPECT_EQ(holder.Wait(), 0);
}

int FailingLookup(int, int, int, bool, wchar_t*) { return QNVERROR_FAILED; }

TEST(DeleteOldLogFiles, UnresolvedStateFileTouchesNothing) {
  pal_testing::ScopedMachineRoot root;
  InstallArchiver();
  WriteState({"DailyFile=L_0001.log", "ArchiveFileDaily=L_0001.zip"});
  Prepare({{{"L_0001.log"}, {"a.log"}}, {{"b.log"}}});
  EXPECT_EQ(DeleteOldLogFiles(kLogFolder, L"*.log", 1, 10, FailingLookup), -3);
  EXPECT_EQ(ListFolder(LogFolder()), (std::vector<std::string>{"L_0001.log", "Logsink.dat", "a.log", "b.log"}));
  EXPECT_EQ(StateValue("DailyFile"), "L_0001.log");
}

// The archiving happens before the search, which then finds no log at all.
TEST(DeleteOldLogFiles, NoLogEntryAfterArchivingGivesMinusFifty) {
  pal_testing::ScopedMachineRoot root;
  InstallArchiver();
  WriteState({"PermanentFile=L_0003.per", "ArchiveFile=L_Permanent.zip"});
  MakeFile(LogFolder() + "/L_0003.per", 10, "permanent\n");
  EXPECT_EQ(DeleteOldLogFiles(kLogFolder, L"*.log", 365, 2000), -50);
  EXPECT_EQ(ZipEntries(LogFolder() + "/L_Permanent.zip"), std::vector<std::string>{"L_0003.per"});
  EXPECT_FALSE(Exists(LogFolder() + "/L_0003.per"));
  EXPECT_EQ(StateValue("PermanentFile"), "");
}

TEST(ArchiveLogFile, PermanentArchiveCollectsAndDailyArchiveTakesTheLogName) {
  pal_testing::ScopedMachineRoot root;
  InstallArchiver();
  const std::string folder = LogFolder();
  // Blanks in the names: each path must reach the archiver as one argument.
  for (int id : {6, 7}) {
    char per[64], log[64], zip[64];
    std::snprintf(per, sizeof per, "Log sink_%04d.per", id);
    std::snprintf(log, sizeof log, "Log sink_%04d.log", id);
    std::snprintf(zip, sizeof zip, "Log sink_%04d.zip", id);
    MakeFile(folder + "/" + per, 13, std::string("permanent ") + std::to_string(id) + "\r\n");
    MakeFile(folder + "/" + log, 9, std::string("daily ") + std::to_string(id) + "\r\n");
    WriteState({std::string("PermanentFile=") + per, "ArchiveFile=Log sink_Permanent.zip",
                std::string("DailyFile=") + log, std::string("ArchiveFileDaily=") + zip});
    ASSERT_EQ(DeleteOldLogFiles(kLogFolder, L"*.log", 365, 2000), 0);

    EXPECT_EQ(StateValue("PermanentFile"), "");
    EXPECT_EQ(StateValue("DailyFile"), "");
    EXPECT_EQ(StateValue("ArchiveFile"), "Log sink_Permanent.zip");
    EXPECT_EQ(StateValue("ArchiveFileDaily"), zip);
    EXPECT_FALSE(Exists(folder + "/" + per));
    EXPECT_FALSE(Exists(folder + "/" + zip));
    EXPECT_EQ(ZipEntries(folder + "/" + log), std::vector<std::string>{log});
    EXPECT_EQ(ZipMember(folder + "/" + log, log), "daily " + std::to_string(id) + "\r\n");
  }
  EXPECT_EQ(ZipEntries(folder + "/Log sink_Permanent.zip"),
            (std::vector<std::string>{"Log sink_0006.per", "Log sink_0007.per"}));
  EXPECT_EQ(ZipMember(folder + "/Log sink_Permanent.zip", "Log sink_0006.per"), "permanent 6\r\n");
}

TEST(ArchiveLogFile, FailingArchiverKeepsFileAndKeyForTheNextRun) {
  pal_testing::ScopedMachineRoot root;
  const std::string folder = LogFolder();
  MakeFile(folder + "/L_0002.log", 6, "day 2\n");
  MakeFile(folder + "/L_0002.per", 6, "per 2\n");
  WriteState({"PermanentFile=L_0002.per", "ArchiveFile=L_Permanent.zip", "DailyFile=L_0002.log",
              "ArchiveFileDaily=L_0002.zip"});

  InstallFakeArchiver(2);
  EXPECT_EQ(DeleteOldLogFiles(kLogFolder, L"*.log", 365, 2000), 0);
  EXPECT_EQ(pal_testing::ReadFile(folder + "/L_0002.log"), "day 2\n");
  EXPECT_EQ(pal_testing::ReadFile(folder + "/L_0002.per"), "per 2\n");
  EXPECT_EQ(StateValue("DailyFile"), "L_0002.log");
  EXPECT_EQ(StateValue("PermanentFile"), "L_0002.per");

  InstallArchiver();
  EXPECT_EQ(DeleteOldLogFiles(kLogFolder, L"*.log", 365, 2000), 0);
  EXPECT_EQ(StateValue("DailyFile"), "");
  EXPECT_EQ(StateValue("PermanentFile"), "");
  EXPECT_EQ(ZipMember(folder + "/L_0002.log", "L_0002.log"), "day 2\n");
  EXPECT_EQ(ZipMember(folder + "/L_Permanent.zip", "L_0002.per"), "per 2\n");
}

// A run that ended after it had archived the day's log and cleared its key, but before the
// archive took the log's name, leaves the archive under its ".zip" name (with or without the
// log beside it). The next run finishes the job: one archive of the log, under the log's name.
TEST(ArchiveLogFile, DayArchiveLeftUnderItsZipNameIsFinishedByTheNextRun) {
  for (bool log_left : {false, true}) {
    SCOPED_TRACE(log_left ? "log still there" : "log already removed");
    pal_testing::ScopedMachineRoot root;
    InstallArchiver();
    const std::string folder = LogFolder();
    MakeFile(folder + "/L_0004.log", 7, "day 4\r\n");
    WriteState({"DailyFile=L_0004.log", "ArchiveFileDaily=L_0004.zip"});
    ASSERT_EQ(DeleteOldLogFiles(kLogFolder, L"*.log", 365, 2000), 0);
    // The state that run would have left had it ended before its last step.
    std::filesystem::rename(folder + "/L_0004.log", folder + "/L_0004.zip");
    if (log_left) MakeFile(folder + "/L_0004.log", 7, "day 4\r\n");
    ASSERT_EQ(StateValue("DailyFile"), "");

    EXPECT_EQ(DeleteOldLogFiles(kLogFolder, L"*.log", 365, 2000), 0);
    EXPECT_FALSE(Exists(folder + "/L_0004.zip"));
    EXPECT_EQ(ZipEntries(folder + "/L_0004.log"), std::vector<std::string>{"L_0004.log"});
    EXPECT_EQ(ZipMember(folder + "/L_0004.log", "L_0004.log"), "day 4\r\n");
    // Once finished, a later run leaves it alone.
    EXPECT_EQ(DeleteOldLogFiles(kLogFolder, L"*.log", 365, 2000), 0);
    EXPECT_EQ(ZipEntries(folder + "/L_0004.log"), std::vector<std::string>{"L_0004.log"});
  }
}

// Values that would reach outside the log folder are never used: the pair is skipped, its
// key stays and the archiver is not even started.
TEST(ArchiveLogFile, ValuesOtherThanPlainNamesAreSkipped) {
  struct Case {
    const char* name;
    std::string file;
    std::string archive;
  };
  const Case kCases[] = {
      {"parent_with_backslash", "..\\victim.log", "L_0001.zip"},
      {"parent_with_slash", "../victim.log", "L_0001.zip"},
      {"absolute_path", "C:\\ProgramData\\NORVANTE\\TQ770\\victim.log", "L_0001.zip"},
      {"drive_relative", "C:victim.log", "L_0001.zip"},
      {"host_path", "Z:\\etc\\hostname", "L_0001.zip"},
      {"dot", ".", "L_0001.zip"},
      {"dot_dot", "..", "L_0001.zip"},
      {"archive_outside", "L_0001.log", "..\\evil.zip"},
      {"archive_is_the_file", "L_0001.log", "L_0001.log"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    pal_testing::ScopedMachineRoot root;
    const std::string trace = root.path() + "/archiver-started";
    InstallFakeArchiver(0, trace);
    const std::string folder = LogFolder();
    MakeFile(folder + "/../victim.log", 7, "victim\n");
    MakeFile(folder + "/L_0001.log", 4, "log\n");
    WriteState({"DailyFile=" + c.file, "ArchiveFileDaily=" + c.archive});

    EXPECT_EQ(DeleteOldLogFiles(kLogFolder, L"*.log", 365, 2000), 0);
    EXPECT_FALSE(Exists(trace));
    EXPECT_EQ(StateValue("DailyFile"), c.file);
    EXPECT_EQ(pal_testing::ReadFile(folder + "/../victim.log"), "victim\n");
    EXPECT_EQ(pal_testing::ReadFile(folder + "/L_0001.log"), "log\n");
    EXPECT_FALSE(Exists(folder + "/../evil.zip"));
  }
}

}  // namespace
