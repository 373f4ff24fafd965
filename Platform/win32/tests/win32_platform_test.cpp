// The class-library subset and the COM support pieces on the Windows run-time. Formatting goes
// through the C run-time's Microsoft-convention functions (mingw's C99 printf family would
// read a wide %s as a narrow string), file operations through Win32's own share rules, and
// the declarations added to the compiler's headers must match the system's interfaces.
#include <windows.h>
#include <afx.h>
#include <comdef.h>
#include <taskschd.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// A fresh folder under the temporary folder, removed with its files at the end.
class ScopedFolder {
 public:
  explicit ScopedFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + name + L"_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~ScopedFolder() { RemoveTree(path_); }
  std::wstring operator/(const wchar_t* name) const { return path_ + L"\\" + name; }
  const std::wstring& path() const { return path_; }

 private:
  static void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring full = folder + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(full);
        } else {
          DeleteFileW(full.c_str());
        }
      } while (FindNextFileW(find, &data));
      FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
  }
  std::wstring path_;
};

void WriteBytes(const std::wstring& path, const char* bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, bytes, static_cast<DWORD>(strlen(bytes)), &written, nullptr);
  CloseHandle(file);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct Raised {
  bool raised = false;
  int cause = CFileException::none;
  LONG os_error = 0;
};

template <class F>
Raised Catch(F action) {
  Raised r;
  try {
    action();
  } catch (CFileException* e) {
    r = {true, e->m_cause, e->m_lOsError};
    e->Delete();
  }
  return r;
}

TEST(Win32CString, FormatFollowsTheMicrosoftConventions) {
  CString s;
  s.Format(L"%s_%04d.log", L"base", 7);
  EXPECT_EQ(std::wstring(s), L"base_0007.log");
  s.AppendFormat(L"|%S|%I64d|%lu", "narrow", -1234567890123LL, 4000000000UL);
  EXPECT_EQ(std::wstring(s), L"base_0007.log|narrow|-1234567890123|4000000000");
  CStringA a;
  a.Format("%s=%S", "key", L"wide");
  EXPECT_EQ(std::string(a), "key=wide");
  // The length is counted and written by the same run-time, also past any fixed buffer.
  std::wstring long_text(5000, L'y');
  s.Format(L"<%s>", long_text.c_str());
  EXPECT_EQ(s.GetLength(), 5002);
  EXPECT_EQ(std::wstring(s.Mid(4999)), L"yy>");
}

TEST(Win32CTime, FormatUsesTheRunTimeCodes) {
  const CTime t(static_cast<__time64_t>(1772600767));  // 2026-03-04 05:06:07 UTC
  struct Case {
    const wchar_t* format;
    const wchar_t* want;
  };
  const Case kCases[] = {
      {L"%Y/%m/%d %H:%M:%S", L"2026/03/04 05:06:07"},
      {L"%c", L"03/04/26 05:06:07"},
      {L"%x|%X", L"03/04/26|05:06:07"},
      {L"%#d.%#m.%#H", L"4.3.5"},
      {L"%A %a %B %b %j %p %%", L"Wednesday Wed March Mar 063 AM %"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.format)));
    EXPECT_EQ(std::wstring(t.FormatGmt(c.format)), c.want);
  }
  std::wstring too_long(200, L'x');
  EXPECT_EQ(std::wstring(t.FormatGmt(too_long.c_str())), L"");

  // Local fields go through the run-time's own conversions and come back unchanged.
  CTime local(2026, 7, 15, 13, 14, 15);
  EXPECT_EQ(local.GetYear(), 2026);
  EXPECT_EQ(local.GetMonth(), 7);
  EXPECT_EQ(local.GetDay(), 15);
  EXPECT_EQ(local.GetHour(), 13);
  EXPECT_EQ(local.GetSecond(), 15);
  EXPECT_EQ(local.GetDayOfWeek(), 4);  // a Wednesday
  EXPECT_THROW(CTime(1899, 12, 31, 0, 0, 0), CAtlException);
}

TEST(Win32ComSupport, BstrNarrowFormsUseTheAnsiCodePage) {
  ASSERT_EQ(GetACP(), 1252u) << "the expected bytes below are Windows-1252";
  _bstr_t wide(L"caf\u00e9 \u20ac \u4e2d");
  EXPECT_STREQ(static_cast<const char*>(wide), "caf\xe9 \x80 ?");
  _bstr_t narrow("na\xefve");
  EXPECT_STREQ(static_cast<const wchar_t*>(narrow), L"na\u00efve");
  EXPECT_EQ(narrow.length(), 5u);

  // A BSTR carries its length: characters after an embedded NUL are converted too.
  _bstr_t with_nul(SysAllocStringLen(L"a\0b\u00e9", 4), false);
  const char* bytes = with_nul;
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::string(bytes, 4), std::string("a\0b\xe9", 4));

  _bstr_t none(static_cast<const char*>(nullptr));
  EXPECT_EQ(static_cast<const wchar_t*>(none), nullptr);
  EXPECT_EQ(static_cast<const char*>(none), nullptr);
  _bstr_t empty("");
  EXPECT_STREQ(static_cast<const char*>(empty), "");
}

TEST(Win32CFile, RemoveAndRenameRaiseFileExceptionsWithTheSystemsShareRules) {
  ScopedFolder folder(L"tq_win32_cfile");
  WriteBytes(folder / L"held.log", "held");
  WriteBytes(folder / L"a.log", "a");
  WriteBytes(folder / L"b.log", "b");
  HANDLE held = CreateFileW((folder / L"held.log").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  const std::wstring held_log = folder / L"held.log";
  const std::wstring a_log = folder / L"a.log";
  const std::wstring b_log = folder / L"b.log";
  const std::wstring c_log = folder / L"c.log";
  const std::wstring missing = folder / L"missing.log";
  struct Case {
    const char* name;
    Raised got;
    Raised want;
  };
  const Case kCases[] = {
      {"remove_missing", Catch([&] { CFile::Remove(missing.c_str()); }),
       {true, CFileException::fileNotFound, ERROR_FILE_NOT_FOUND}},
      {"remove_held_open", Catch([&] { CFile::Remove(held_log.c_str()); }),
       {true, CFileException::sharingViolation, ERROR_SHARING_VIOLATION}},
      {"rename_onto_existing", Catch([&] { CFile::Rename(a_log.c_str(), b_log.c_str()); }),
       {true, CFileException::accessDenied, ERROR_ALREADY_EXISTS}},
      {"rename_missing", Catch([&] { CFile::Rename(missing.c_str(), c_log.c_str()); }),
       {true, CFileException::fileNotFound, ERROR_FILE_NOT_FOUND}},
      {"rename_to_free_name", Catch([&] { CFile::Rename(a_log.c_str(), c_log.c_str()); }), {}},
      {"remove_file", Catch([&] { CFile::Remove(b_log.c_str()); }), {}},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(k.got.raised, k.want.raised);
    EXPECT_EQ(k.got.cause, k.want.cause);
    EXPECT_EQ(k.got.os_error, k.want.os_error);
  }
  EXPECT_TRUE(Exists(held_log));
  EXPECT_TRUE(Exists(c_log));
  EXPECT_FALSE(Exists(a_log));
  EXPECT_FALSE(Exists(b_log));

  CloseHandle(held);
  EXPECT_FALSE(Catch([&] { CFile::Remove(held_log.c_str()); }).raised);
  EXPECT_FALSE(Exists(held_log));
}

TEST(Win32CFileFind, ListsEntriesWithPathsLengthsAndKinds) {
  ScopedFolder folder(L"tq_win32_find");
  WriteBytes(folder / L"a.log", "abc");
  WriteBytes(folder / L"b.txt", "");
  CreateDirectoryW((folder / L"sub").c_str(), nullptr);

  std::set<std::wstring> names;
  CFileFind all;
  for (BOOL more = all.FindFile((folder / L"*.*").c_str()); more;) {
    more = all.FindNextFile();
    const std::wstring name(all.GetFileName());
    names.insert(name);
    EXPECT_EQ(all.IsDots() != FALSE, name == L"." || name == L"..") << name;
    if (all.IsDots()) continue;
    EXPECT_EQ(std::wstring(all.GetFilePath()), folder / name.c_str());
    EXPECT_EQ(all.IsDirectory() != FALSE, name == L"sub") << name;
    if (name == L"a.log") {
      EXPECT_EQ(all.GetLength(), 3u);
      CTime created;
      EXPECT_TRUE(all.GetCreationTime(created));
      EXPECT_LE((CTime::GetCurrentTime() - created).GetTotalSeconds(), 600);
    }
  }
  EXPECT_EQ(names, (std::set<std::wstring>{L".", L"..", L"a.log", L"b.txt", L"sub"}));

  // The wildcard matches without regard to case, as Windows does.
  CFileFind logs;
  ASSERT_TRUE(logs.FindFile((folder / L"*.LOG").c_str()));
  EXPECT_FALSE(logs.FindNextFile());
  EXPECT_EQ(std::wstring(logs.GetFileName()), L"a.log");

  CFileFind none;
  EXPECT_FALSE(none.FindFile((folder / L"*.zip").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Win32TaskScheduler, BootTriggerDeclarationMatchesTheSystemInterface) {
  wchar_t text[64] = {};
  ASSERT_GT(StringFromGUID2(IID_IBootTrigger, text, 64), 0);
  EXPECT_STREQ(text, L"{2A9C35DA-D357-41F4-BBC1-207AC1B1F3CB}");
  EXPECT_TRUE(IsEqualIID(__uuidof(IBootTrigger), IID_IBootTrigger));
}

}  // namespace
