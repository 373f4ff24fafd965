#include <dbghelp.h>
#include <share.h>
#include <shlwapi.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "files_logic.h"
#include "machine.h"
#include "pal_testing.h"

namespace pal {
namespace {

using pal_testing::Child;
using pal_testing::ChildAwait;
using pal_testing::ChildSay;
using pal_testing::ScopedMachineRoot;

// ---- OS-free pieces ---------------------------------------------------------------------------

TEST(FilesLogicTest, WildcardsMatchLikeWindowsSearches) {
  struct Case {
    const char* name;
    std::wstring_view pattern;
    std::wstring_view file;
    bool want;
  };
  const Case kCases[] = {
      {"star_suffix", L"*.log", L"Logsink_0001.log", true},
      {"case_insensitive", L"*.log", L"OLD.LOG", true},
      {"latin1_case", L"caf\u00e9*", L"CAF\u00c9.txt", true},
      {"suffix_must_end", L"*.log", L"a.log.zip", false},
      {"dot_star_dot_matches_all", L"*.*", L"README", true},
      {"question_is_one", L"a?c", L"abc", true},
      {"question_not_zero", L"a?c", L"ac", false},
      {"star_backtracks", L"*a*b", L"xaxxaxb", true},
      {"star_empty", L"*", L"", true},
      {"literal", L"Data.ini", L"data.INI", true},
      {"literal_differs", L"Data.ini", L"Data.in", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MatchesWildcard(c.pattern, c.file), c.want);
  }
}

TEST(FilesLogicTest, StreamModesAndShareFlags) {
  struct Case {
    const char* name;
    std::wstring_view mode;
    bool valid;
    unsigned access;
    Disposition disposition;
    bool append;
    bool text;
  };
  const Case kCases[] = {
      {"append_text", L"at", true, kShareWrite, Disposition::kOpenAlways, true, true},
      {"append_default_text", L"a", true, kShareWrite, Disposition::kOpenAlways, true, true},
      {"write_binary", L"wb", true, kShareWrite, Disposition::kCreateAlways, false, false},
      {"read_update", L"r+b", true, kShareRead | kShareWrite, Disposition::kOpenExisting, false, false},
      {"write_exclusive", L"wx", true, kShareWrite, Disposition::kCreateNew, false, true},
      {"commit_flag", L"wc", true, kShareWrite, Disposition::kCreateAlways, false, true},
      {"text_and_binary", L"rtb", false, 0, Disposition::kOpenExisting, false, true},
      {"unknown_kind", L"q", false, 0, Disposition::kOpenExisting, false, true},
      {"encoded_stream", L"w, ccs=UTF-8", false, 0, Disposition::kOpenExisting, false, true},
      {"empty", L"", false, 0, Disposition::kOpenExisting, false, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::optional<StreamMode> m = ParseStreamMode(c.mode);
    ASSERT_EQ(m.has_value(), c.valid);
    if (!m) continue;
    EXPECT_EQ(m->access, c.access);
    EXPECT_EQ(m->disposition, c.disposition);
    EXPECT_EQ(m->append, c.append);
    EXPECT_EQ(m->text, c.text);
  }
  EXPECT_EQ(ShareFromFlag(_SH_DENYNO, kShareWrite), kShareRead | kShareWrite);  // never delete
  EXPECT_EQ(ShareFromFlag(_SH_DENYRW, kShareWrite), 0u);
  EXPECT_EQ(ShareFromFlag(_SH_DENYWR, kShareWrite), unsigned{kShareRead});
  EXPECT_EQ(ShareFromFlag(_SH_DENYRD, kShareWrite), unsigned{kShareWrite});
  EXPECT_EQ(ShareFromFlag(_SH_SECURE, kShareRead), unsigned{kShareRead});
  EXPECT_EQ(ShareFromFlag(_SH_SECURE, kShareWrite), 0u);
  EXPECT_FALSE(ShareFromFlag(0x50, kShareWrite).has_value());
}

TEST(FilesLogicTest, CrLfTranslationSurvivesChunkBoundaries) {
  EXPECT_EQ(ToCrLf("a\nb\r\n\n"), "a\r\nb\r\r\n\r\n");
  bool pending = false;
  std::string out = FromCrLf("one\r", &pending, false);
  EXPECT_TRUE(pending);
  out += FromCrLf("\ntwo\rx\r", &pending, false);
  out += FromCrLf("y", &pending, false);
  out += FromCrLf("end\r", &pending, true);
  EXPECT_EQ(out, "one\ntwo\rx\ryend\r");
  EXPECT_FALSE(pending);
}

TEST(FilesLogicTest, ShellPathHelpers) {
  struct RemoveCase {
    const wchar_t* in;
    const wchar_t* want;
    BOOL changed;
  };
  const RemoveCase kRemove[] = {
      {LR"(C:\a\b.txt)", LR"(C:\a)", TRUE},  {LR"(C:\a\)", LR"(C:\a)", TRUE},
      {LR"(C:\a)", LR"(C:\)", TRUE},         {LR"(C:\)", LR"(C:\)", FALSE},
      {LR"(name)", L"", TRUE},               {LR"(\name)", LR"(\)", TRUE},
  };
  for (const RemoveCase& c : kRemove) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.in)));
    wchar_t buffer[MAX_PATH];
    wcscpy(buffer, c.in);
    EXPECT_EQ(PathRemoveFileSpecW(buffer), c.changed);
    EXPECT_STREQ(buffer, c.want);
  }
  struct CombineCase {
    const wchar_t* dir;
    const wchar_t* file;
    const wchar_t* want;
  };
  const CombineCase kCombine[] = {
      {LR"(C:\a)", L"b.txt", LR"(C:\a\b.txt)"},
      {LR"(C:\a\)", L"b.txt", LR"(C:\a\b.txt)"},
      {LR"(C:\a\b)", LR"(..\c)", LR"(C:\a\c)"},
      {LR"(C:\a\b)", LR"(\c)", LR"(C:\c)"},
      {LR"(C:\a)", LR"(Z:\usr\x)", LR"(Z:\usr\x)"},
      {LR"(C:\a)", LR"(.\x\..\y\)", LR"(C:\a\y\)"},
  };
  for (const CombineCase& c : kCombine) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.dir) + L" + " + c.file));
    wchar_t buffer[MAX_PATH];
    ASSERT_EQ(PathCombineW(buffer, c.dir, c.file), buffer);
    EXPECT_STREQ(buffer, c.want);
  }
  wchar_t path[MAX_PATH] = LR"(C:\log)";
  EXPECT_TRUE(PathAppendW(path, LR"(\Logsink.dat)"));
  EXPECT_STREQ(path, LR"(C:\log\Logsink.dat)");
  std::wstring too_long(MAX_PATH, L'x');
  EXPECT_FALSE(PathAppendW(path, too_long.c_str()));
  EXPECT_STREQ(path, LR"(C:\log\Logsink.dat)");

  EXPECT_EQ(FullWindowsPath(LR"(a\..\..\b\.\c)", LR"(C:\work)"), LR"(C:\b\c)");
  EXPECT_EQ(FullWindowsPath(LR"(\x/y\)", LR"(Z:\tmp)"), LR"(Z:\x\y\)");
  EXPECT_EQ(FullWindowsPath(LR"(c:\A)", LR"(Z:\tmp)"), LR"(C:\A)");
}

// ---- On disk ----------------------------------------------------------------------------------

std::wstring Win(const std::wstring& tail) { return L"C:\\" + tail; }

class FilesTest : public testing::Test {
 protected:
  std::string Host(const std::string& tail) const { return root_.drive_c() + "/" + tail; }
  ScopedMachineRoot root_;
};

TEST_F(FilesTest, CreateFileDispositions) {
  struct Case {
    const char* name;
    DWORD disposition;
    bool exists;
    bool opens;
    DWORD last_error;
    std::string content_after;  // "-" when the file must not exist
  };
  const Case kCases[] = {
      {"create_new_fresh", CREATE_NEW, false, true, ERROR_SUCCESS, ""},
      {"create_new_existing", CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
      {"create_always_fresh", CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {"create_always_existing", CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
      {"open_existing_missing", OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, "-"},
      {"open_existing_existing", OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
      {"open_always_fresh", OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {"open_always_existing", OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
      {"truncate_existing", TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
      {"truncate_missing", TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, "-"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string host = Host(c.name);
    if (c.exists) pal_testing::WriteFile(host, "old");
    std::wstring path = Win(FromUtf8(c.name));
    SetLastError(12345);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, c.disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = GetLastError();
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
    EXPECT_EQ(error, c.last_error);
    if (h != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(CloseHandle(h));
    }
    struct stat st;
    if (c.content_after == "-") {
      EXPECT_NE(stat(host.c_str(), &st), 0);
    } else {
      EXPECT_EQ(pal_testing::ReadFile(host), c.content_after);
    }
  }
  HANDLE h = CreateFileW(LR"(C:\no\such\folder\x)", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  ASSERT_TRUE(CreateDirectoryW(LR"(C:\folder)", nullptr));
  h = CreateFileW(LR"(C:\folder)", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FilesTest, ShareModeConflicts) {
  constexpr DWORD R = GENERIC_READ, W = GENERIC_WRITE, D = DELETE;
  constexpr DWORD SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE, SD = FILE_SHARE_DELETE;
  struct Case {
    const char* name;
    DWORD first_access, first_share, second_access, second_share;
    bool second_opens;
  };
  const Case kCases[] = {
      {"exclusive_blocks_read", R | W, 0, R, SR | SW | SD, false},
      {"shared_read_read", R, SR, R, SR, true},
      {"reader_not_sharing_write_blocks_writer", R, SR, W, SR | SW, false},
      {"writer_blocks_reader_that_will_not_share_write", W, SR | SW, R, SR, false},
      {"writer_shares_with_sharing_reader", W, SR | SW, R, SR | SW, true},
      {"read_only_share_admits_reader", R | W, SR, R, SR | SW, true},
      {"read_only_share_blocks_writer", R | W, SR, W, SR | SW, false},
      {"delete_needs_delete_share", R, SR | SW, D, SR | SW | SD, false},
      {"delete_with_delete_share", R, SR | SW | SD, D, SR | SW | SD, true},
      {"attributes_only_never_conflicts", R | W, 0, FILE_READ_ATTRIBUTES, 0, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::wstring path = Win(FromUtf8(c.name));
    pal_testing::WriteFile(Host(c.name), "data");
    HANDLE first = CreateFileW(path.c_str(), c.first_access, c.first_share, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    HANDLE second = CreateFileW(path.c_str(), c.second_access, c.second_share, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.second_opens);
    if (second == INVALID_HANDLE_VALUE) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    } else {
      CloseHandle(second);
    }
    CloseHandle(first);
    // Once the holder is gone, anything goes again.
    second = CreateFileW(path.c_str(), c.second_access, c.second_share, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    CloseHandle(second);
  }
}

TEST_F(FilesTest, RefusedCreateAlwaysLeavesTheFileIntact) {
  pal_testing::WriteFile(Host("held.txt"), "keep me");
  HANDLE holder = CreateFileW(LR"(C:\held.txt)", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  HANDLE h = CreateFileW(LR"(C:\held.txt)", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(_wfsopen(LR"(C:\held.txt)", L"w", _SH_DENYNO), nullptr);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(pal_testing::ReadFile(Host("held.txt")), "keep me");
  CloseHandle(holder);
}

PAL_CHILD(hold_log_open) {
  // Holds a log the way the logger does, until killed.
  std::wstring path = FromUtf8(args.at(0));
  FILE* log = _wfsopen(path.c_str(), L"at", _SH_DENYNO);
  if (log == nullptr) return 2;
  std::fprintf(log, "first line\n");
  std::fflush(log);
  ChildSay("holding");
  ChildAwait();
  return 0;
}

TEST_F(FilesTest, LogHeldByAnotherProcessCannotBeDeletedUntilItsHolderDies) {
  ASSERT_TRUE(CreateDirectoryW(LR"(C:\logs)", nullptr));
  Child holder("hold_log_open", {"C:\\logs\\daily.log"});
  ASSERT_EQ(holder.ReadLine(), "holding");
  const wchar_t* log = LR"(C:\logs\daily.log)";
  EXPECT_FALSE(DeleteFileW(log));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileW(log, LR"(C:\logs\moved.log)"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  // Readers that share write access get in, and see the CR LF the holder wrote.
  HANDLE reader = CreateFileW(log, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  char buffer[64] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(reader, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "first line\r\n");
  CloseHandle(reader);
  // A reader that will not share write access does not.
  EXPECT_EQ(CreateFileW(log, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  holder.Kill(9);
  holder.Wait();
  EXPECT_TRUE(DeleteFileW(log)) << GetLastError();
  EXPECT_EQ(GetFileAttributesW(log), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FilesTest, TextStreamsWriteCrLfAndReadItBack) {
  for (int round = 0; round < 2; ++round) {
    FILE* f = _wfsopen(LR"(C:\text.log)", L"at", _SH_DENYNO);
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "2026/12/11 SystemVersion:%s\n", "2.0.0.60107");
    std::fputs("line\n", f);
    ASSERT_EQ(std::fclose(f), 0);
  }
  const std::string once = "2026/12/11 SystemVersion:2.0.0.60107\r\nline\r\n";
  EXPECT_EQ(pal_testing::ReadFile(Host("text.log")), once + once);

  FILE* in = _wfsopen(LR"(C:\text.log)", L"rt", _SH_DENYNO);
  ASSERT_NE(in, nullptr);
  std::string text;
  for (int c; (c = std::fgetc(in)) != EOF;) text += static_cast<char>(c);
  std::fclose(in);
  EXPECT_EQ(text, "2026/12/11 SystemVersion:2.0.0.60107\nline\n2026/12/11 SystemVersion:2.0.0.60107\nline\n");

  FILE* bin = _wfopen(LR"(C:\bin.dat)", L"wb");
  ASSERT_NE(bin, nullptr);
  std::fputs("a\nb", bin);
  std::fclose(bin);
  EXPECT_EQ(pal_testing::ReadFile(Host("bin.dat")), "a\nb");

  EXPECT_EQ(_wfsopen(LR"(C:\missing.txt)", L"r", _SH_DENYNO), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(_wfsopen(LR"(C:\text.log)", L"r", 0x99), nullptr);
  EXPECT_EQ(errno, EINVAL);

  FILE* exclusive = nullptr;
  ASSERT_EQ(_wfopen_s(&exclusive, LR"(C:\text.log)", L"a"), 0);
  EXPECT_EQ(_wfsopen(LR"(C:\text.log)", L"r", _SH_DENYNO), nullptr);
  EXPECT_EQ(errno, EACCES);
  std::fclose(exclusive);
}

TEST_F(FilesTest, HandleIoAndSizesBeyondFourGigabytes) {
  HANDLE h = CreateFileW(LR"(C:\big.bin)", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, "hello", 5, &written, nullptr));
  EXPECT_EQ(written, 5u);
  LONG high = 1;
  // Past 4 GiB: 0x1_0000_0010.
  EXPECT_EQ(SetFilePointer(h, 0x10, &high, FILE_BEGIN), 0x10u);
  EXPECT_EQ(high, 1);
  ASSERT_TRUE(SetEndOfFile(h));
  DWORD size_high = 0;
  EXPECT_EQ(GetFileSize(h, &size_high), 0x10u);
  EXPECT_EQ(size_high, 1u);
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  EXPECT_EQ(size.QuadPart, 0x100000010LL);
  EXPECT_EQ(SetFilePointer(h, -3, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), 131u);
  EXPECT_EQ(SetFilePointer(h, 1, nullptr, FILE_BEGIN), 1u);
  char buffer[8] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(h, buffer, 4, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "ello");
  CloseHandle(h);

  HANDLE ro = CreateFileW(LR"(C:\big.bin)", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(ro, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(WriteFile(ro, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(ro);
  EXPECT_FALSE(ReadFile(ro, buffer, 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  HANDLE temp = CreateFileW(LR"(C:\temp.bin)", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(temp, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(PathFileExistsW(LR"(C:\temp.bin)"));
  CloseHandle(temp);
  EXPECT_FALSE(PathFileExistsW(LR"(C:\temp.bin)"));
}

TEST_F(FilesTest, CopyMoveDeleteAndFolders) {
  pal_testing::WriteFile(Host("a.txt"), "A");
  pal_testing::WriteFile(Host("b.txt"), "B");
  EXPECT_FALSE(CopyFileW(LR"(C:\a.txt)", LR"(C:\b.txt)", TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_TRUE(CopyFileW(LR"(C:\a.txt)", LR"(C:\b.txt)", FALSE));
  EXPECT_EQ(pal_testing::ReadFile(Host("b.txt")), "A");
  EXPECT_FALSE(CopyFileW(LR"(C:\none.txt)", LR"(C:\c.txt)", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  EXPECT_FALSE(MoveFileW(LR"(C:\a.txt)", LR"(C:\b.txt)"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  pal_testing::WriteFile(Host("a.txt"), "new");
  EXPECT_TRUE(MoveFileExW(LR"(C:\a.txt)", LR"(C:\b.txt)", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(pal_testing::ReadFile(Host("b.txt")), "new");
  EXPECT_TRUE(MoveFileW(LR"(C:\b.txt)", LR"(C:\c.txt)"));
  EXPECT_EQ(GetFileAttributesW(LR"(C:\b.txt)"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  EXPECT_FALSE(DeleteFileW(LR"(C:\b.txt)"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileW(LR"(C:\nowhere\b.txt)"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  EXPECT_TRUE(CreateDirectoryW(LR"(C:\d)", nullptr));
  EXPECT_FALSE(CreateDirectoryW(LR"(C:\d)", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryW(LR"(C:\x\y)", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(DeleteFileW(LR"(C:\d)"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(PathIsDirectoryW(LR"(C:\d)"), static_cast<BOOL>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FALSE(PathIsDirectoryW(LR"(C:\c.txt)"));
  EXPECT_TRUE(PathFileExistsW(LR"(C:\c.txt)"));
  EXPECT_EQ(GetFileAttributesW(LR"(C:\c.txt)"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(MoveFileW(LR"(C:\c.txt)", LR"(C:\d\c.txt)"));
  EXPECT_FALSE(RemoveDirectoryW(LR"(C:\d)"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_FALSE(RemoveDirectoryW(LR"(C:\d\c.txt)"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_TRUE(DeleteFileW(LR"(C:\d\c.txt)"));
  EXPECT_TRUE(RemoveDirectoryW(LR"(C:\d)"));

  // Every folder up to the last backslash; the trailing name is not created.
  EXPECT_TRUE(MakeSureDirectoryPathExists(R"(C:\ProgramData\NORVANTE\TQ770\log\)"));
  EXPECT_TRUE(MakeSureDirectoryPathExists(R"(C:\ProgramData\NORVANTE\x\file.txt)"));
  EXPECT_TRUE(PathIsDirectoryW(LR"(C:\ProgramData\NORVANTE\TQ770\log)"));
  EXPECT_TRUE(PathIsDirectoryW(LR"(C:\ProgramData\NORVANTE\x)"));
  EXPECT_FALSE(PathFileExistsW(LR"(C:\ProgramData\NORVANTE\x\file.txt)"));
}

TEST_F(FilesTest, CurrentFolderIsAWindowsPath) {
  ASSERT_TRUE(CreateDirectoryW(LR"(C:\work)", nullptr));
  wchar_t saved[4096];
  ASSERT_GT(GetCurrentDirectoryW(4096, saved), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(LR"(C:\work)"));
  wchar_t buffer[MAX_PATH];
  EXPECT_EQ(GetCurrentDirectoryW(3, buffer), 8u);  // "C:\work" and its terminator
  EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, buffer), 7u);
  EXPECT_STREQ(buffer, LR"(C:\work)");
  wchar_t* part = nullptr;
  EXPECT_EQ(GetFullPathNameW(LR"(..\x\name.log)", MAX_PATH, buffer, &part), 13u);
  EXPECT_STREQ(buffer, LR"(C:\x\name.log)");
  EXPECT_STREQ(part, L"name.log");
  // Relative names now land in the current folder.
  FILE* f = _wfopen(L"rel.txt", L"w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(PathFileExistsW(LR"(C:\work\rel.txt)"));
  EXPECT_FALSE(SetCurrentDirectoryW(LR"(C:\work\rel.txt)"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  ASSERT_TRUE(SetCurrentDirectoryW(saved));
}

// ---- Searches ---------------------------------------------------------------------------------

ULONGLONG Ticks(const FILETIME& ft) { return (ULONGLONG{ft.dwHighDateTime} << 32) | ft.dwLowDateTime; }

ULONGLONG NowTicks() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (static_cast<ULONGLONG>(ts.tv_sec) + 11644473600ULL) * 10000000ULL + static_cast<ULONGLONG>(ts.tv_nsec) / 100;
}

std::vector<WIN32_FIND_DATAW> FindAll(const wchar_t* pattern, DWORD* error) {
  std::vector<WIN32_FIND_DATAW> out;
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(pattern, &data);
  if (h == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return out;
  }
  do {
    out.push_back(data);
  } while (FindNextFileW(h, &data));
  *error = GetLastError();
  EXPECT_TRUE(FindClose(h));
  return out;
}

std::vector<std::wstring> Names(const std::vector<WIN32_FIND_DATAW>& entries) {
  std::vector<std::wstring> names;
  for (const auto& e : entries) names.push_back(e.cFileName);
  return names;
}

TEST_F(FilesTest, SearchesMatchWildcardsWithoutCaseAndReportWindowsData) {
  ASSERT_TRUE(MakeSureDirectoryPathExists(R"(C:\logs\sub.log\)"));
  ULONGLONG before = NowTicks() - 20000000;  // file systems may round birth times down
  for (const char* name : {"b.log", "A.LOG", "c.txt", "a.log.zip"}) pal_testing::WriteFile(Host("logs/") + name, "12345");
  // A sparse file past 4 GiB.
  HANDLE big = CreateFileW(LR"(C:\logs\big.log)", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(big, INVALID_HANDLE_VALUE);
  LARGE_INTEGER five_gib;
  five_gib.QuadPart = 5LL << 30;
  ASSERT_TRUE(SetFilePointerEx(big, five_gib, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(big));
  CloseHandle(big);
  // An old last-write time must not pass for the creation time.
  struct timespec old_times[2] = {{946684800, 0}, {946684800, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, Host("logs/b.log").c_str(), old_times, 0), 0);
  ULONGLONG after = NowTicks() + 20000000;

  DWORD error = 0;
  std::vector<WIN32_FIND_DATAW> logs = FindAll(LR"(C:\logs\*.log)", &error);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_EQ(Names(logs), (std::vector<std::wstring>{L"A.LOG", L"b.log", L"big.log", L"sub.log"}));
  ASSERT_EQ(logs.size(), 4u);
  const WIN32_FIND_DATAW& a = logs[0];
  const WIN32_FIND_DATAW& b = logs[1];
  const WIN32_FIND_DATAW& large = logs[2];
  const WIN32_FIND_DATAW& folder = logs[3];
  EXPECT_EQ(a.nFileSizeLow, 5u);
  EXPECT_EQ(a.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(large.nFileSizeHigh, 1u);
  EXPECT_EQ(large.nFileSizeLow, 0x40000000u);
  EXPECT_EQ(folder.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(folder.nFileSizeLow, 0u);
  EXPECT_GE(Ticks(b.ftCreationTime), before);
  EXPECT_LE(Ticks(b.ftCreationTime), after);
  EXPECT_EQ(Ticks(b.ftLastWriteTime), (946684800ULL + 11644473600ULL) * 10000000ULL);

  std::vector<WIN32_FIND_DATAW> all = FindAll(LR"(C:\logs\*)", &error);
  ASSERT_GE(all.size(), 2u);
  EXPECT_STREQ(all[0].cFileName, L".");
  EXPECT_STREQ(all[1].cFileName, L"..");
  EXPECT_EQ(all.size(), 8u);
  for (const auto& e : FindAll(LR"(C:\*)", &error)) {
    EXPECT_STRNE(e.cFileName, L".") << "a drive root has no dot entries";
  }

  // An exact name finds the folder itself (how callers test that a folder exists).
  std::vector<WIN32_FIND_DATAW> exact = FindAll(LR"(C:\logs)", &error);
  ASSERT_EQ(exact.size(), 1u);
  EXPECT_STREQ(exact[0].cFileName, L"logs");

  EXPECT_TRUE(FindAll(LR"(C:\logs\*.per)", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(FindAll(LR"(C:\missing\*.log)", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  WIN32_FIND_DATAA narrow;
  HANDLE h = FindFirstFileA(R"(C:\logs\c.*)", &narrow);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(narrow.cFileName, "c.txt");
  EXPECT_FALSE(FindNextFileA(h, &narrow));
  FindClose(h);
}

}  // namespace
}  // namespace pal
