#include <sys/stat.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ini_grammar.h"
#include "machine.h"
#include "pal_testing.h"

namespace pal {
namespace {

using pal_testing::Child;
using pal_testing::ChildSay;
using pal_testing::ReadFile;
using pal_testing::ScopedMachineRoot;
using pal_testing::WriteFile;

class IniTest : public testing::Test {
 protected:
  std::string Host(const std::string& tail) const { return root_.drive_c() + "/" + tail; }
  ScopedMachineRoot root_;
};

std::string Utf16(std::wstring_view text) { return ini::Encode(text, ini::Encoding::kUtf16Le); }

std::wstring Get(const wchar_t* section, const wchar_t* key, const wchar_t* def, const wchar_t* file,
                 DWORD size = 260, DWORD* ret = nullptr) {
  std::vector<wchar_t> buffer(size + 1, L'#');
  DWORD n = GetPrivateProfileStringW(section, key, def, buffer.data(), size, file);
  if (ret != nullptr) *ret = n;
  return std::wstring(buffer.data(), n);
}

constexpr const char* kStateFile =
    "; written by the logger\r\n"
    "[Data]\r\n"
    "LogID = 7\r\n"
    "\tDate=2026/12/11  \r\n"
    "Quoted = \"  spaced  \"\r\n"
    "Single='x'\r\n"
    "Half=\"open\r\n"
    "NoValue\r\n"
    "logid=99\r\n"
    "Hex=0x1F\r\n"
    "Negative=-1\r\n"
    "Trailing=12abc\r\n"
    "Empty=\r\n"
    "[data]\r\n"
    "Other=second section\r\n"
    "[Empty]\r\n";

TEST_F(IniTest, ReadsWithWindowsMatchingRules) {
  WriteFile(Host("state.ini"), kStateFile);
  const wchar_t* file = LR"(C:\state.ini)";
  struct Case {
    const char* name;
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* def;
    std::wstring_view want;
  };
  const Case kCases[] = {
      {"blanks_trimmed", L"Data", L"LogID", L"d", L"7"},
      {"names_ignore_case_first_wins", L"DATA", L"logid", L"d", L"7"},
      {"leading_tab_and_trailing_blanks", L"Data", L"Date", L"d", L"2026/12/11"},
      {"double_quotes_removed", L"Data", L"Quoted", L"d", L"  spaced  "},
      {"single_quotes_removed", L"Data", L"Single", L"d", L"x"},
      {"unpaired_quote_kept", L"Data", L"Half", L"d", L"\"open"},
      {"line_without_equals_is_no_value", L"Data", L"NoValue", L"d", L"d"},
      {"empty_value", L"Data", L"Empty", L"d", L""},
      {"only_first_section_searched", L"Data", L"Other", L"dflt", L"dflt"},
      {"comment_is_not_a_key", L"Data", L"; written by the logger", L"d", L"d"},
      {"missing_section_trailing_blanks_of_default_cut", L"Nope", L"x", L"def  ", L"def"},
      {"null_default_is_empty", L"Data", L"missing", nullptr, L""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Get(c.section, c.key, c.def, file), c.want);
  }
  EXPECT_EQ(Get(L"Data", L"LogID", L"fallback", LR"(C:\missing.ini)"), L"fallback");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Get(L"Data", L"LogID", L"fallback", LR"(C:\no\folder.ini)"), L"fallback");

  struct IntCase {
    const char* name;
    const wchar_t* key;
    INT def;
    UINT want;
  };
  const IntCase kInts[] = {
      {"decimal", L"LogID", 1, 7},
      {"hex_prefix", L"Hex", 1, 31},
      {"negative_wraps", L"Negative", 5, static_cast<UINT>(-1)},
      {"digits_until_other", L"Trailing", 5, 12},
      {"no_digits", L"Date", 5, 2026},
      {"quoted_text_is_zero", L"Single", 5, 0},
      {"empty_value_gives_default", L"Empty", 5, 5},
      {"missing_gives_default", L"Absent", -1, static_cast<UINT>(-1)},
  };
  for (const IntCase& c : kInts) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GetPrivateProfileIntW(L"Data", c.key, c.def, file), c.want);
  }
  EXPECT_EQ(GetPrivateProfileIntW(L"LOG", L"OutputLevel", 3, LR"(C:\missing.ini)"), 3u);
}

TEST_F(IniTest, TruncatesToTheBufferAsWindowsDoes) {
  WriteFile(Host("t.ini"), "[Data]\r\nv=abcdef\r\nw=x\r\n[data]\r\n[Empty]\r\n");
  const wchar_t* file = LR"(C:\t.ini)";
  struct Case {
    const char* name;
    const wchar_t* section;
    const wchar_t* key;
    DWORD size;
    DWORD want_ret;
    std::wstring want;  // the buffer up to want_ret plus what follows it
  };
  using namespace std::string_literals;
  const Case kCases[] = {
      {"value_fits", L"Data", L"v", 7, 6, L"abcdef\0"s},
      {"value_cut_size_minus_one", L"Data", L"v", 6, 5, L"abcde\0"s},
      {"value_size_one", L"Data", L"v", 1, 0, L"\0"s},
      {"keys_fit", L"Data", nullptr, 6, 4, L"v\0w\0\0"s},
      {"keys_cut_size_minus_two", L"Data", nullptr, 4, 2, L"v\0\0\0"s},
      {"sections_fit", nullptr, nullptr, 20, 16, L"Data\0data\0Empty\0\0"s},
      {"sections_cut", nullptr, nullptr, 10, 8, L"Data\0dat\0\0"s},
      {"empty_section_keys", L"Empty", nullptr, 5, 0, L"\0\0"s},
      {"missing_section_keys", L"None", nullptr, 5, 0, L"\0\0"s},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<wchar_t> buffer(c.size + 4, L'#');
    DWORD ret = GetPrivateProfileStringW(c.section, c.key, L"dflt", buffer.data(), c.size, file);
    EXPECT_EQ(ret, c.want_ret);
    EXPECT_EQ(std::wstring(buffer.data(), c.want.size()), c.want);
    EXPECT_EQ(buffer[c.size], L'#') << "wrote past the buffer";
  }
  wchar_t names[32];
  EXPECT_EQ(GetPrivateProfileSectionNamesW(names, 32, file), 16u);
  wchar_t lines[32];
  EXPECT_EQ(GetPrivateProfileSectionW(L"Empty", lines, 32, file), 0u);
  EXPECT_EQ(GetPrivateProfileSectionW(L"DATA", lines, 32, file), 13u);
  EXPECT_EQ(std::wstring(lines, 14), std::wstring(L"v=abcdef\0w=x\0", 14));
}

TEST_F(IniTest, WritesKeepEverythingElse) {
  const std::string kLogger = "; c\r\n[Data]\r\nLogID=1\r\n\r\n[Other]\r\nk=v\r\n";
  struct Case {
    const char* name;
    std::string before;  // "-" for no file
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* value;
    std::string after;  // "-" for no file
  };
  const Case kCases[] = {
      {"creates_file", "-", L"Data", L"LogID", L"1", "[Data]\r\nLogID=1\r\n"},
      {"replaces_in_place_keeping_spelling", kLogger, L"data", L"logid", L"2",
       "; c\r\n[Data]\r\nLogID=2\r\n\r\n[Other]\r\nk=v\r\n"},
      {"new_key_before_blank_separator", kLogger, L"Data", L"Date", L"2026/12/11",
       "; c\r\n[Data]\r\nLogID=1\r\nDate=2026/12/11\r\n\r\n[Other]\r\nk=v\r\n"},
      {"new_section_after_unterminated_line", "[A]\r\na=1", L"New", L"k", L"v", "[A]\r\na=1\r\n[New]\r\nk=v\r\n"},
      {"empty_value_clears", "[Data]\r\nDailyFile=x.log\r\n", L"Data", L"DailyFile", L"",
       "[Data]\r\nDailyFile=\r\n"},
      {"null_value_deletes_key", "[A]\r\na=1\r\nb=2\r\n", L"A", L"a", nullptr, "[A]\r\nb=2\r\n"},
      {"null_key_deletes_section", "[A]\r\na=1\r\n; note\r\n[B]\r\nb=2\r\n", L"a", nullptr, nullptr, "[B]\r\nb=2\r\n"},
      {"line_feed_file_keeps_its_ends", "[A]\na=1\nb=2\n", L"A", L"a", L"3", "[A]\na=3\nb=2\n"},
      {"deleting_from_missing_file_creates_nothing", "-", L"A", L"a", nullptr, "-"},
      {"value_with_ansi_letters", "-", L"A", L"n", L"caf\u00e9 \u20ac \u0416", "[A]\r\nn=caf\xe9 \x80 ?\r\n"},
  };
  int index = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string name = "w" + std::to_string(index++) + ".ini";
    if (c.before != "-") WriteFile(Host(name), c.before);
    std::wstring file = L"C:\\" + FromUtf8(name);
    EXPECT_TRUE(WritePrivateProfileStringW(c.section, c.key, c.value, file.c_str()));
    struct stat st;
    if (c.after == "-") {
      EXPECT_NE(stat(Host(name).c_str(), &st), 0);
    } else {
      EXPECT_EQ(ReadFile(Host(name)), c.after);
    }
  }

  // The flush call reports zero, as documented, and touches nothing.
  EXPECT_FALSE(WritePrivateProfileStringW(nullptr, nullptr, nullptr, LR"(C:\flush.ini)"));
  EXPECT_TRUE(ReadFile(Host("flush.ini")).empty());
  EXPECT_FALSE(WritePrivateProfileStringW(L"A", L"k", L"v", LR"(C:\no\such\x.ini)"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // A bare name lives in the Windows folder.
  ASSERT_TRUE(CreateDirectoryW(LR"(C:\Windows)", nullptr));
  EXPECT_TRUE(WritePrivateProfileStringW(L"A", L"k", L"v", L"bare.ini"));
  EXPECT_EQ(ReadFile(Host("Windows/bare.ini")), "[A]\r\nk=v\r\n");
  EXPECT_EQ(Get(L"A", L"k", L"", L"bare.ini"), L"v");
}

TEST_F(IniTest, SectionWriteReplacesTheWholeSectionAtOnce) {
  const std::string kState = "; c\r\n[Data]\r\nLogID=1\r\n; note\r\nDate=2026/12/10\r\n\r\n[Other]\r\nk=v\r\n";
  struct Case {
    const char* name;
    std::string before;  // "-" for no file
    const wchar_t* section;
    std::wstring lines;  // '|' separates the strings; "-" for NULL
    std::string after;
  };
  const Case kCases[] = {
      {"creates_file", "-", L"Data", L"LogID=2|Date=2026/12/11",
       "[Data]\r\nLogID=2\r\nDate=2026/12/11\r\n"},
      {"replaces_keys_and_comments_keeps_the_rest", kState, L"data", L"Date=2026/12/11|LogID=2",
       "; c\r\n[Data]\r\nDate=2026/12/11\r\nLogID=2\r\n\r\n[Other]\r\nk=v\r\n"},
      {"fewer_lines", kState, L"Data", L"LogID=3", "; c\r\n[Data]\r\nLogID=3\r\n\r\n[Other]\r\nk=v\r\n"},
      {"empty_list_keeps_the_header", "[A]\r\na=1\r\n[B]\r\nb=2\r\n", L"A", L"",
       "[A]\r\n[B]\r\nb=2\r\n"},
      {"new_section_after_unterminated_line", "[A]\r\na=1", L"New", L"k=v",
       "[A]\r\na=1\r\n[New]\r\nk=v\r\n"},
      {"line_feed_file_keeps_its_ends", "[A]\na=1\n[B]\nb=2\n", L"A", L"a=2|c=3",
       "[A]\na=2\nc=3\n[B]\nb=2\n"},
      {"null_list_deletes_the_section", "[A]\r\na=1\r\n[B]\r\nb=2\r\n", L"A", L"-", "[B]\r\nb=2\r\n"},
      {"utf16_file_stays_utf16", Utf16(L"[A]\r\na=1\r\n"), L"A", L"a=\u20ac",
       Utf16(L"[A]\r\na=\u20ac\r\n")},
  };
  int index = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string name = "s" + std::to_string(index++) + ".ini";
    if (c.before != "-") WriteFile(Host(name), c.before);
    std::wstring file = L"C:\\" + FromUtf8(name);
    std::wstring list = c.lines;
    for (wchar_t& ch : list) {
      if (ch == L'|') ch = L'\0';
    }
    // Each string's NUL, then the list's.
    list += std::wstring(2, L'\0');
    EXPECT_TRUE(WritePrivateProfileSectionW(c.section, c.lines == L"-" ? nullptr : list.c_str(), file.c_str()));
    EXPECT_EQ(ReadFile(Host(name)), c.after);
  }
  EXPECT_FALSE(WritePrivateProfileSectionW(nullptr, L"a=1\0", LR"(C:\x.ini)"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(WritePrivateProfileSectionW(L"A", L"a=1\0", LR"(C:\no\such\x.ini)"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

PAL_CHILD(ini_pair_writer) {
  std::wstring file = FromUtf8(args.at(0));
  for (int i = 1;; ++i) {
    std::wstring lines = L"LogID=" + std::to_wstring(i) + L'\0' + L"Date=" + std::to_wstring(i) + L'\0';
    if (!WritePrivateProfileSectionW(L"Data", lines.c_str(), file.c_str())) return 1;
    if (i == 1) ChildSay("writing");
  }
}

// The reason to write a section at once: a reader in another process sees both keys of one
// write or both of the one before, never one of each, also when the writer is killed.
TEST_F(IniTest, SectionWriteIsNeverSeenHalfDone) {
  const wchar_t* file = LR"(C:\pair.ini)";
  Child writer("ini_pair_writer", {R"(C:\pair.ini)"});
  ASSERT_EQ(writer.ReadLine(), "writing");
  int distinct = 0;
  std::wstring last;
  // At least 300 reads, and on until several writes were seen (a loaded machine may hold the
  // writer back), within a bound.
  const ULONGLONG give_up = GetTickCount64() + 20000;
  for (int i = 0; i < 300 || (distinct < 3 && GetTickCount64() < give_up); ++i) {
    wchar_t section[64] = {};
    GetPrivateProfileSectionW(L"Data", section, 64, file);
    std::wstring id = section;
    std::wstring date = section + id.size() + 1;
    ASSERT_EQ(id.substr(0, 6), L"LogID=");
    ASSERT_EQ(L"Date=" + id.substr(6), date);
    if (id != last) ++distinct;
    last = id;
  }
  writer.Kill(9);
  EXPECT_EQ(writer.Wait(), 128 + 9);
  const std::wstring id = Get(L"Data", L"LogID", L"", file);
  EXPECT_EQ(Get(L"Data", L"Date", L"", file), id);
  EXPECT_GT(distinct, 1);  // the reads did overlap the writes
}

TEST_F(IniTest, Utf16FilesStayUtf16AndAnsiCallsConvert) {
  // How the media tool prepares its profile list: an empty file holding only the BOM.
  WriteFile(Host("icc.ini"), "\xFF\xFE");
  const wchar_t* icc = LR"(C:\icc.ini)";
  EXPECT_TRUE(WritePrivateProfileStringW(L"QNVProfiles", L"301_360", L"Glossy \u20ac.icc", icc));
  EXPECT_TRUE(WritePrivateProfileStringW(L"QNVProfiles", L"301_720", L"\U0001F600.icc", icc));
  EXPECT_EQ(ReadFile(Host("icc.ini")),
            Utf16(L"[QNVProfiles]\r\n301_360=Glossy \u20ac.icc\r\n301_720=\U0001F600.icc\r\n"));
  EXPECT_EQ(Get(L"qnvprofiles", L"301_720", L"", icc), L"\U0001F600.icc");

  WriteFile(Host("media.ini"), "[Header]\r\nDeviceID=TQ770\r\nName=Caf\xe9\r\n");
  char buffer[16];
  EXPECT_EQ(GetPrivateProfileStringA("HEADER", "name", "error", buffer, sizeof buffer, R"(C:\media.ini)"), 4u);
  EXPECT_STREQ(buffer, "Caf\xe9");
  EXPECT_EQ(GetPrivateProfileStringA("Header", "DeviceID", "error", buffer, 4, R"(C:\media.ini)"), 3u);
  EXPECT_STREQ(buffer, "TQ7");
  EXPECT_EQ(GetPrivateProfileIntA("Header", "Missing", -1, R"(C:\media.ini)"), static_cast<UINT>(-1));
  EXPECT_TRUE(WritePrivateProfileStringA("Header", "Name", "\x80uro", R"(C:\media.ini)"));
  EXPECT_EQ(Get(L"Header", L"Name", L"", LR"(C:\media.ini)"), L"\u20acuro");
}

PAL_CHILD(ini_writer) {
  std::wstring file = FromUtf8(args.at(0));
  std::wstring id = FromUtf8(args.at(1));
  int count = std::stoi(args.at(2));
  for (int i = 0; i < count; ++i) {
    std::wstring key = L"k" + id + L"_" + std::to_wstring(i);
    if (!WritePrivateProfileStringW(L"Data", key.c_str(), std::to_wstring(i).c_str(), file.c_str())) return 1;
  }
  return 0;
}

TEST_F(IniTest, ConcurrentWritersInSeveralProcessesLoseNoKey) {
  constexpr int kWriters = 4;
  constexpr int kKeys = 25;
  std::vector<std::unique_ptr<Child>> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(std::make_unique<Child>(
        "ini_writer", std::vector<std::string>{R"(C:\shared.ini)", std::to_string(w), std::to_string(kKeys)}));
  }
  for (auto& w : writers) EXPECT_EQ(w->Wait(), 0);
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kKeys; ++i) {
      std::wstring key = L"k" + std::to_wstring(w) + L"_" + std::to_wstring(i);
      EXPECT_EQ(Get(L"Data", key.c_str(), L"lost", LR"(C:\shared.ini)"), std::to_wstring(i)) << key;
    }
  }
}

PAL_CHILD(ini_churn) {
  std::wstring file = FromUtf8(args.at(0));
  for (long round = 0;; ++round) {
    std::wstring big(100000, round % 2 == 0 ? L'A' : L'B');
    if (!WritePrivateProfileStringW(L"Data", L"Big", big.c_str(), file.c_str())) return 1;
    if (round == 0) ChildSay("writing");
  }
}

TEST_F(IniTest, AWriterKilledMidWriteNeverLeavesATornFile) {
  const wchar_t* file = LR"(C:\churn.ini)";
  ASSERT_TRUE(WritePrivateProfileStringW(L"Data", L"Keep", L"me", file));
  auto whole = [&](const char* when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(Get(L"Data", L"Keep", L"", file), L"me");
    std::wstring big = Get(L"Data", L"Big", L"", file, 200000);
    ASSERT_EQ(big.size(), 100000u);
    EXPECT_EQ(big.find_first_not_of(big[0]), std::wstring::npos);
  };
  Child churn("ini_churn", {R"(C:\churn.ini)"});
  ASSERT_EQ(churn.ReadLine(), "writing");
  for (int i = 0; i < 50; ++i) whole("while another process rewrites it");
  churn.Kill(9);
  EXPECT_EQ(churn.Wait(), 128 + 9);
  whole("after the writer was killed");
  // The dead writer's lock is gone: the next write goes through at once.
  EXPECT_TRUE(WritePrivateProfileStringW(L"Data", L"After", L"1", file));
  whole("after one more write");
  EXPECT_EQ(Get(L"Data", L"After", L"", file), L"1");
}

}  // namespace
}  // namespace pal
