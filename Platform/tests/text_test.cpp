// Code pages and the run-time's string calls.
#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <string>

namespace {

std::string ToAnsi(const std::wstring& wide, BOOL* used = nullptr, const char* default_char = nullptr) {
  char out[64] = {};
  int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), out, sizeof out,
                              default_char, used);
  EXPECT_GT(n, 0) << GetLastError();
  return std::string(out, n > 0 ? n : 0);
}

std::wstring FromAnsi(const std::string& ansi, UINT cp = CP_ACP, DWORD flags = 0) {
  wchar_t out[64] = {};
  int n = MultiByteToWideChar(cp, flags, ansi.c_str(), static_cast<int>(ansi.size()), out, 64);
  return std::wstring(out, n > 0 ? n : 0);
}

TEST(CodePage, AnsiIsWindows1252) {
  EXPECT_EQ(GetACP(), 1252u);
  struct Case {
    const char* name;
    std::wstring wide;
    std::string ansi;
  };
  const Case kCases[] = {
      {"ascii", L"abc 123", "abc 123"},
      {"euro_at_0x80", L"\u20AC", "\x80"},
      {"quotes_and_dashes", L"\u201C\u201D\u2013\u2014", "\x93\x94\x96\x97"},
      {"latin1_range", L"\u00E9\u00FF\u00A0", "\xE9\xFF\xA0"},
      {"s_caron_and_y_diaeresis", L"\u0160\u0178", "\x8A\x9F"},
      {"undefined_byte_as_c1_control", L"\u0081", "\x81"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    BOOL used = TRUE;
    EXPECT_EQ(ToAnsi(c.wide, &used), c.ansi);
    EXPECT_FALSE(used);
    EXPECT_EQ(FromAnsi(c.ansi), c.wide);
  }
  // Every byte survives the round trip.
  for (int b = 1; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    ASSERT_EQ(ToAnsi(FromAnsi(one)), one) << b;
  }
}

TEST(CodePage, CharactersTheCodePageLacksBecomeTheDefault) {
  BOOL used = FALSE;
  EXPECT_EQ(ToAnsi(L"a\u0100b\u4E2D", &used), "a?b?");
  EXPECT_TRUE(used);
  EXPECT_EQ(ToAnsi(L"\u4E2D", &used, "#"), "#");
  EXPECT_TRUE(used);
}

TEST(CodePage, SizeProtocol) {
  // -1 counts the terminator; no output buffer asks for the size.
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"abc", -1, nullptr, 0, nullptr, nullptr), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u20AC", 1, nullptr, 0, nullptr, nullptr), 3);

  char small[3] = {'x', 'x', 'x'};
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"abc", -1, small, sizeof small, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  wchar_t wsmall[3];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wsmall, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  char exact[4];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"abc", -1, exact, sizeof exact, nullptr, nullptr), 4);
  EXPECT_STREQ(exact, "abc");

  // UTF-8 has no default character: asking for one is a parameter error.
  BOOL used = FALSE;
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"a", 1, exact, 4, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"a", 0, exact, 4, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CodePage, Utf8) {
  char out[16];
  int n = WideCharToMultiByte(CP_UTF8, 0, L"\u00E9\u20AC\U0001F600", 3, out, sizeof out, nullptr, nullptr);
  EXPECT_EQ(std::string(out, n), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(FromAnsi("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", CP_UTF8), L"\u00E9\u20AC\U0001F600");

  struct Case {
    const char* name;
    std::string bytes;
    std::wstring want;
  };
  const Case kInvalid[] = {
      {"lone_continuation", "a\x80z", L"a\uFFFDz"},
      {"overlong_slash", "\xC0\xAF", L"\uFFFD\uFFFD"},
      {"surrogate", "\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},
      {"truncated_sequence", "\xE2\x82", L"\uFFFD"},
      {"beyond_u10ffff", "\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
  };
  for (const Case& c : kInvalid) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FromAnsi(c.bytes, CP_UTF8), c.want);
    wchar_t buf[8];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.bytes.data(), static_cast<int>(c.bytes.size()), buf, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  }
}

TEST(SafeStrings, CopyAndConcatenateResults) {
  wchar_t buf[6];
  EXPECT_EQ(wcscpy_s(buf, L"hello"), 0);
  EXPECT_STREQ(buf, L"hello");
  // Too long: ERANGE and an emptied destination.
  EXPECT_EQ(wcscpy_s(buf, L"hello!"), ERANGE);
  EXPECT_STREQ(buf, L"");
  EXPECT_EQ(wcscpy_s(buf, nullptr), EINVAL);
  EXPECT_EQ(wcscpy_s(nullptr, 4, L"x"), EINVAL);
  // _TRUNCATE cuts and says so.
  EXPECT_EQ(wcsncpy_s(buf, L"hello world", _TRUNCATE), STRUNCATE);
  EXPECT_STREQ(buf, L"hello");
  EXPECT_EQ(wcsncpy_s(buf, L"hello world", 3), 0);
  EXPECT_STREQ(buf, L"hel");
  EXPECT_EQ(wcscat_s(buf, L"lo"), 0);
  EXPECT_STREQ(buf, L"hello");
  EXPECT_EQ(wcscat_s(buf, L"!"), ERANGE);
  EXPECT_STREQ(buf, L"");

  char narrow[4];
  EXPECT_EQ(strcpy_s(narrow, "abc"), 0);
  EXPECT_EQ(strcat_s(narrow, "d"), ERANGE);
  EXPECT_STREQ(narrow, "");
  EXPECT_EQ(strncpy_s(narrow, "abcdef", _TRUNCATE), STRUNCATE);
  EXPECT_STREQ(narrow, "abc");
}

TEST(SafeStrings, Comparisons) {
  EXPECT_EQ(_wcsicmp(L"Logsink.DAT", L"logsink.dat"), 0);
  EXPECT_LT(_wcsicmp(L"abc", L"ABD"), 0);
  EXPECT_EQ(_wcsnicmp(L"ABCx", L"abcy", 3), 0);
  EXPECT_EQ(_stricmp("MiXeD", "mixed"), 0);
  EXPECT_GT(_strnicmp("b", "A", 1), 0);

  // lstrcmp orders like Windows' word comparison: case decides only between equal texts,
  // lower case first; ordinal comparison would put "B" before "a".
  EXPECT_LT(lstrcmpW(L"a", L"B"), 0);
  EXPECT_LT(lstrcmpW(L"a", L"A"), 0);
  EXPECT_NE(lstrcmpW(L"Driver", L"driver"), 0);
  EXPECT_EQ(lstrcmpW(L"Driver", L"Driver"), 0);
  EXPECT_EQ(lstrcmpiW(L"\u00C9T\u00C9", L"\u00E9t\u00E9"), 0);
  EXPECT_EQ(lstrcmpiW(L"USB001", L"usb001"), 0);
  EXPECT_LT(lstrcmpiW(L"usb001", L"USB002"), 0);
  EXPECT_EQ(lstrcmpA("TQ-770", "TQ-770"), 0);
  EXPECT_NE(lstrcmpA("TQ-770", "tq-770"), 0);
  EXPECT_EQ(lstrcmpiA("TQ-770", "tq-770"), 0);
  EXPECT_LT(lstrcmpW(nullptr, L"a"), 0);
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrlenA("abc"), 3);

  wchar_t buf[4];
  lstrcpynW(buf, L"abcdef", 4);
  EXPECT_STREQ(buf, L"abc");
}

TEST(SafeStrings, Numbers) {
  struct Case {
    const wchar_t* text;
    int want;
    bool range_error;
  };
  const Case kCases[] = {
      {L"42", 42, false},        {L"  -17xyz", -17, false}, {L"+8", 8, false},
      {L"abc", 0, false},        {L"", 0, false},           {L"2147483647", INT_MAX, false},
      {L"2147483648", INT_MAX, true}, {L"-2147483649", INT_MIN, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    errno = 0;
    EXPECT_EQ(_wtoi(c.text), c.want);
    EXPECT_EQ(errno == ERANGE, c.range_error);
  }
  EXPECT_EQ(_wtol(L"-99"), -99);

  wchar_t buf[12];
  EXPECT_EQ(_itow_s(-1999, buf, 10), 0);
  EXPECT_STREQ(buf, L"-1999");
  EXPECT_EQ(_itow_s(255, buf, 16), 0);
  EXPECT_STREQ(buf, L"ff");
  EXPECT_EQ(_itow_s(-1, buf, 16), 0);  // other radixes treat the value as unsigned
  EXPECT_STREQ(buf, L"ffffffff");
  wchar_t tiny[3];
  EXPECT_EQ(_itow_s(123, tiny, 3, 10), ERANGE);
  EXPECT_STREQ(tiny, L"");

  wchar_t upper[] = L"Mixed-\u00e9";
  EXPECT_EQ(_wcsupr_s(upper, std::size(upper)), 0);
  EXPECT_STREQ(upper, L"MIXED-\u00e9");  // the run-time's "C" locale folds ASCII only
}

TEST(SafeStrings, SplitPath) {
  struct Case {
    const wchar_t* path;
    const wchar_t* drive;
    const wchar_t* dir;
    const wchar_t* fname;
    const wchar_t* ext;
  };
  const Case kCases[] = {
      {L"C:\\Program Files (x86)\\x86\\Logsink.exe", L"C:", L"\\Program Files (x86)\\x86\\", L"Logsink", L".exe"},
      {L"Logsink.exe", L"", L"", L"Logsink", L".exe"},
      {L"C:file", L"C:", L"", L"file", L""},
      {L"dir/sub/name.tar.gz", L"", L"dir/sub/", L"name.tar", L".gz"},
      {L"\\\\server\\share\\", L"", L"\\\\server\\share\\", L"", L""},
      {L"a.b\\noext", L"", L"a.b\\", L"noext", L""},
      {L"", L"", L"", L"", L""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.path)));
    wchar_t drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
    ASSERT_EQ(_wsplitpath_s(c.path, drive, _MAX_DRIVE, dir, _MAX_DIR, fname, _MAX_FNAME, ext, _MAX_EXT), 0);
    EXPECT_STREQ(drive, c.drive);
    EXPECT_STREQ(dir, c.dir);
    EXPECT_STREQ(fname, c.fname);
    EXPECT_STREQ(ext, c.ext);
  }
  // Parts may be left out; a part too long for its buffer empties every output.
  wchar_t fname[8] = L"x", ext[8] = L"x";
  EXPECT_EQ(_wsplitpath_s(L"C:\\d\\name.ext", nullptr, 0, nullptr, 0, fname, 8, ext, 8), 0);
  EXPECT_STREQ(fname, L"name");
  EXPECT_EQ(_wsplitpath_s(L"C:\\d\\verylongname.ext", nullptr, 0, nullptr, 0, fname, 8, ext, 8), ERANGE);
  EXPECT_STREQ(fname, L"");
  EXPECT_STREQ(ext, L"");
  EXPECT_EQ(_wsplitpath_s(L"a", nullptr, 3, nullptr, 0, nullptr, 0, nullptr, 0), EINVAL);

  wchar_t path[32];
  EXPECT_EQ(_wmakepath_s(path, 32, L"C", L"\\dir", L"name", L"txt"), 0);
  EXPECT_STREQ(path, L"C:\\dir\\name.txt");
  EXPECT_EQ(_wmakepath_s(path, 32, nullptr, L"d/", L"n", L".e"), 0);
  EXPECT_STREQ(path, L"d/n.e");
  EXPECT_EQ(_wmakepath_s(path, 8, L"C:", L"\\dir", L"name", L"txt"), ERANGE);
  EXPECT_STREQ(path, L"");
}

}  // namespace

namespace {

TEST(MultibyteConversions, UseTheAnsiCodePage) {
  wchar_t wide[8];
  size_t done = 0;
  EXPECT_EQ(mbstowcs_s(&done, wide, 8, "\x80\xE9z", _TRUNCATE), 0);
  EXPECT_EQ(done, 4u);  // with the terminator
  EXPECT_STREQ(wide, L"\u20AC\u00E9z");
  EXPECT_EQ(mbstowcs_s(&done, nullptr, 0, "abc", 0), 0);
  EXPECT_EQ(done, 4u);  // the size needed
  EXPECT_EQ(mbstowcs_s(&done, wide, 3, "abcdef", _TRUNCATE), STRUNCATE);
  EXPECT_STREQ(wide, L"ab");
  EXPECT_EQ(mbstowcs_s(&done, wide, 3, "abcdef", 5), ERANGE);
  EXPECT_STREQ(wide, L"");
  EXPECT_EQ(mbstowcs_s(&done, wide, 8, "abcdef", 2), 0);
  EXPECT_STREQ(wide, L"ab");

  char narrow[8];
  EXPECT_EQ(wcstombs_s(&done, narrow, 8, L"\u20AC-\u0160", _TRUNCATE), 0);
  EXPECT_STREQ(narrow, "\x80-\x8A");
  EXPECT_EQ(wcstombs_s(&done, narrow, 8, L"a\u4E2D", _TRUNCATE), EILSEQ);

  // The plain forms follow the same code page instead of glibc's "C" locale.
  EXPECT_EQ(mbstowcs(wide, "\xE9t\xE9", 8), 3u);
  EXPECT_STREQ(wide, L"\u00E9t\u00E9");
  EXPECT_EQ(mbstowcs(nullptr, "\x80\x80", 0), 2u);
  EXPECT_EQ(wcstombs(narrow, L"\u00FCber", 8), 4u);
  EXPECT_STREQ(narrow, "\xFC" "ber");
  EXPECT_EQ(wcstombs(narrow, L"\u4E2D", 8), static_cast<size_t>(-1));
}

}  // namespace
