// The class-library subset: the folder search with creation time and 64-bit length, file
// removal and renaming that raise CFileException*, and the application initialisation.
#include <afxwin.h>
#include <share.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "pal_testing.h"

namespace {

namespace fs = std::filesystem;

std::string Narrow(const CString& s) { return std::string(s.GetString(), s.GetString() + s.GetLength()); }

void MakeSparse(const std::string& path, unsigned long long size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
  ::close(fd);
}

struct Found {
  std::string path;
  ULONGLONG length;
  __time64_t created;
  bool directory;
  bool dots;
};

std::map<std::string, Found> Search(const wchar_t* pattern) {
  std::map<std::string, Found> found;
  CFileFind finder;
  for (BOOL more = finder.FindFile(pattern); more;) {
    more = finder.FindNextFile();
    CTime created;
    EXPECT_TRUE(finder.GetCreationTime(created));
    found[Narrow(finder.GetFileName())] = {Narrow(finder.GetFilePath()), finder.GetLength(), created.GetTime(),
                                           finder.IsDirectory() != FALSE, finder.IsDots() != FALSE};
  }
  return found;
}

TEST(CFileFind, EntriesWithPathLengthCreationTimeAndKind) {
  pal_testing::ScopedMachineRoot root;
  const std::string folder = root.drive_c() + "/logs";
  fs::create_directories(folder + "/dir.log");
  const __time64_t before = std::time(nullptr);
  MakeSparse(folder + "/big.log", 5ULL << 30);  // beyond 32 bits
  pal_testing::WriteFile(folder + "/small.LOG", "12345");
  pal_testing::WriteFile(folder + "/other.txt", "x");
  const __time64_t after = std::time(nullptr);

  std::map<std::string, Found> found = Search(L"C:\\logs\\*.log");
  ASSERT_EQ(found.size(), 3u);  // the pattern matches without regard to case
  EXPECT_EQ(found["big.log"].path, "C:\\logs\\big.log");
  EXPECT_EQ(found["big.log"].length, 5ULL << 30);
  EXPECT_EQ(found["small.LOG"].length, 5u);
  EXPECT_FALSE(found["small.LOG"].directory);
  EXPECT_TRUE(found["dir.log"].directory);
  EXPECT_FALSE(found["dir.log"].dots);
  EXPECT_GE(found["big.log"].created, before - 1);
  EXPECT_LE(found["big.log"].created, after + 1);

  // A folder search reports "." and ".." as dots.
  std::map<std::string, Found> all = Search(L"C:\\logs\\*");
  EXPECT_TRUE(all["."].dots);
  EXPECT_TRUE(all[".."].dots);
  EXPECT_EQ(all.size(), 6u);
}

// The creation time is the file's birth, not its last change.
TEST(CFileFind, CreationTimeStaysWhenTheFileIsWritten) {
  pal_testing::ScopedMachineRoot root;
  pal_testing::WriteFile(root.drive_c() + "/a.log", "a");
  struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};  // 2001
  ASSERT_EQ(::utimensat(AT_FDCWD, (root.drive_c() + "/a.log").c_str(), times, 0), 0);
  CFileFind finder;
  ASSERT_TRUE(finder.FindFile(L"C:\\a.log"));
  finder.FindNextFile();
  CTime created, written;
  ASSERT_TRUE(finder.GetCreationTime(created));
  ASSERT_TRUE(finder.GetLastWriteTime(written));
  EXPECT_EQ(written.GetTime(), 1000000000);
  EXPECT_GE(created.GetTime(), std::time(nullptr) - 60);
}

TEST(CFileFind, LastEntryAndEmptySearch) {
  pal_testing::ScopedMachineRoot root;
  pal_testing::WriteFile(root.drive_c() + "/only.log", "1");
  CFileFind finder;
  ASSERT_TRUE(finder.FindFile(L"C:\\*.log"));
  EXPECT_FALSE(finder.FindNextFile());  // the entry it made current is the last one
  EXPECT_EQ(Narrow(finder.GetFilePath()), "C:\\only.log");
  finder.Close();

  EXPECT_FALSE(finder.FindFile(L"C:\\*.none"));
  EXPECT_FALSE(finder.FindNextFile());
  EXPECT_FALSE(finder.FindFile(L"C:\\missing folder\\*.log"));
}

PAL_CHILD(afx_hold_open) {
  std::wstring path(args[0].begin(), args[0].end());
  FILE* file = _wfsopen(path.c_str(), L"at", _SH_DENYNO);
  if (file == nullptr) return 1;
  pal_testing::ChildSay("open");
  pal_testing::ChildAwait();
  fclose(file);
  return 0;
}

struct Raised {
  bool raised = false;
  int cause = CFileException::none;
  LONG os_error = 0;
  std::string file;
};

template <class F>
Raised Catch(F action) {
  Raised r;
  try {
    action();
  } catch (CFileException* e) {
    r = {true, e->m_cause, e->m_lOsError, Narrow(e->m_strFileName)};
    e->Delete();
  }
  return r;
}

TEST(CFile, RemoveAndRenameRaiseFileExceptions) {
  pal_testing::ScopedMachineRoot root;
  const std::string c = root.drive_c();
  pal_testing::WriteFile(c + "/held.log", "held");
  pal_testing::WriteFile(c + "/a.log", "a");
  pal_testing::WriteFile(c + "/b.log", "b");
  fs::create_directories(c + "/folder.log");
  pal_testing::Child holder("afx_hold_open", {"C:\\held.log"});
  ASSERT_EQ(holder.ReadLine(), "open");

  struct Case {
    const char* name;
    std::function<void()> action;
    Raised want;
  };
  const Case kCases[] = {
      {"remove_missing", [] { CFile::Remove(L"C:\\missing.log"); },
       {true, CFileException::fileNotFound, ERROR_FILE_NOT_FOUND, "C:\\missing.log"}},
      {"remove_held_open", [] { CFile::Remove(L"C:\\held.log"); },
       {true, CFileException::sharingViolation, ERROR_SHARING_VIOLATION, "C:\\held.log"}},
      {"rename_held_open", [] { CFile::Rename(L"C:\\held.log", L"C:\\moved.log"); },
       {true, CFileException::sharingViolation, ERROR_SHARING_VIOLATION, "C:\\held.log"}},
      {"rename_onto_existing", [] { CFile::Rename(L"C:\\a.log", L"C:\\b.log"); },
       {true, CFileException::accessDenied, ERROR_ALREADY_EXISTS, "C:\\a.log"}},
      {"rename_missing", [] { CFile::Rename(L"C:\\missing.log", L"C:\\c.log"); },
       {true, CFileException::fileNotFound, ERROR_FILE_NOT_FOUND, "C:\\missing.log"}},
      {"rename_to_free_name", [] { CFile::Rename(L"C:\\a.log", L"C:\\c.log"); }, {}},
      {"remove_file", [] { CFile::Remove(L"C:\\b.log"); }, {}},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    Raised got = Catch(k.action);
    EXPECT_EQ(got.raised, k.want.raised);
    EXPECT_EQ(got.cause, k.want.cause);
    EXPECT_EQ(got.os_error, k.want.os_error);
    EXPECT_EQ(got.file, k.want.file);
  }
  EXPECT_TRUE(fs::exists(c + "/held.log"));
  EXPECT_EQ(pal_testing::ReadFile(c + "/c.log"), "a");
  EXPECT_FALSE(fs::exists(c + "/a.log"));
  EXPECT_FALSE(fs::exists(c + "/b.log"));

  // A folder is not a file to remove.
  Raised folder = Catch([] { CFile::Remove(L"C:\\folder.log"); });
  EXPECT_TRUE(folder.raised);
  EXPECT_TRUE(fs::is_directory(c + "/folder.log"));

  holder.Signal();
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_FALSE(Catch([] { CFile::Remove(L"C:\\held.log"); }).raised);
}

TEST(CFileException, DescribesCauseAndFile) {
  CFileException e(CFileException::sharingViolation, ERROR_SHARING_VIOLATION, L"C:\\x.log");
  wchar_t text[128];
  ASSERT_TRUE(e.GetErrorMessage(text, 128));
  EXPECT_NE(std::wstring(text).find(L"C:\\x.log"), std::wstring::npos);
  wchar_t small[5];
  ASSERT_TRUE(e.GetErrorMessage(small, 5));
  EXPECT_EQ(std::wstring(small).size(), 4u);
  EXPECT_EQ(CFileException::OsErrorToException(ERROR_DISK_FULL), CFileException::diskFull);
  EXPECT_EQ(CFileException::OsErrorToException(12345), CFileException::genericException);
}

TEST(AfxWinInit, NeedsTheInstanceHandle) {
  EXPECT_FALSE(AfxWinInit(NULL, NULL, GetCommandLineW(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  HMODULE module = GetModuleHandleW(NULL);
  ASSERT_NE(module, nullptr);
  EXPECT_TRUE(AfxWinInit(module, NULL, GetCommandLineW(), 0));
  EXPECT_EQ(AfxGetInstanceHandle(), module);
}

}  // namespace
