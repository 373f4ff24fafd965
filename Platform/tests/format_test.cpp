// The run-time's printf family: Microsoft conventions and truncation results.
#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>

namespace {

std::wstring W(const wchar_t* format, ...) {
  wchar_t buf[256];
  va_list args;
  va_start(args, format);
  int n = vswprintf_s(buf, 256, format, args);
  va_end(args);
  EXPECT_GE(n, 0) << "format failed";
  return n >= 0 ? std::wstring(buf, n) : L"<error>";
}

std::string N(const char* format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  int n = vsprintf_s(buf, 256, format, args);
  va_end(args);
  EXPECT_GE(n, 0) << "format failed";
  return n >= 0 ? std::string(buf, n) : "<error>";
}

TEST(Format, WideFormatConventions) {
  struct Case {
    const char* name;
    std::function<std::wstring()> run;
    std::wstring want;
  };
  const void* p = reinterpret_cast<const void*>(0xABCDEF);
  const Case kCases[] = {
      {"s_is_wide", [] { return W(L"[%s]", L"wide"); }, L"[wide]"},
      {"S_is_narrow", [] { return W(L"[%S]", "narrow"); }, L"[narrow]"},
      {"hs_is_narrow", [] { return W(L"[%hs]", "narrow"); }, L"[narrow]"},
      {"ls_is_wide", [] { return W(L"[%ls]", L"wide"); }, L"[wide]"},
      {"ws_is_wide", [] { return W(L"[%ws]", L"wide"); }, L"[wide]"},
      {"narrow_through_ansi_code_page", [] { return W(L"%S", "\x80\xE9"); }, L"\u20AC\u00E9"},
      {"c_and_C", [] { return W(L"%c%C%hc", L'\u20AC', 'b', 'c'); }, L"\u20ACbc"},
      {"null_string", [] { return W(L"%s|%S", static_cast<wchar_t*>(nullptr), static_cast<char*>(nullptr)); },
       L"(null)|(null)"},
      {"width_and_alignment", [] { return W(L"[%5s][%-5s]", L"ab", L"cd"); }, L"[   ab][cd   ]"},
      {"precision_cuts_strings", [] { return W(L"[%.2s][%.*s]", L"abcdef", 3, L"uvwxyz"); }, L"[ab][uvw]"},
      {"zero_flag_pads_strings", [] { return W(L"%05s", L"ab"); }, L"000ab"},
      {"trace_line", [] { return W(L"%s%s(%d)\t%s\t%d\n", L"[QNV]", L"QNVDataArchiver.cpp", 42, L"bChk", -1017); },
       L"[QNV]QNVDataArchiver.cpp(42)\tbChk\t-1017\n"},
      {"zero_padded_date", [] { return W(L"%04d/%02d/%02d", 2024, 3, 9); }, L"2024/03/09"},
      {"log_id_beyond_four_digits", [] { return W(L"%s_%04d.log", L"Logsink", 10000); }, L"Logsink_10000.log"},
      {"signs", [] { return W(L"%+d % d %d", 5, 5, -5); }, L"+5  5 -5"},
      {"zero_pad_after_sign", [] { return W(L"%05d|%-5d|%5.3d", -42, 7, 7); }, L"-0042|7    |  007"},
      {"zero_with_zero_precision", [] { return W(L"[%.0d]", 0); }, L"[]"},
      {"hex_and_octal", [] { return W(L"%x %X %#x %#X %o %#o", 255, 255, 255, 255, 8, 8); }, L"ff FF 0xff 0XFF 10 010"},
      {"l_is_32_bits", [] { return W(L"%lu %ld", 4294967295u, -1); }, L"4294967295 -1"},
      {"I64_and_ll", [] { return W(L"%I64d %lld %I64u", -5000000000LL, 5000000000LL, 18446744073709551615ULL); },
       L"-5000000000 5000000000 18446744073709551615"},
      {"I32", [] { return W(L"%I32u", 4000000000u); }, L"4000000000"},
      {"size_t", [] { return W(L"%zu %Iu", size_t{123456789012}, size_t{7}); }, L"123456789012 7"},
      {"short_and_char", [] { return W(L"%hd %hhu", 70000, 300); }, L"4464 44"},
      {"star_width", [] { return W(L"[%*d][%*d]", 4, 1, -4, 2); }, L"[   1][2   ]"},
      {"pointer_is_16_upper_hex_digits", [p] { return W(L"%p", p); }, L"0000000000ABCDEF"},
      {"floats", [] { return W(L"%.3f %e %g %G %10.2f", 3.14159, 1234.5, 0.0001, 1e20, -2.5); },
       L"3.142 1.234500e+03 0.0001 1E+20      -2.50"},
      {"percent", [] { return W(L"100%%"); }, L"100%"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.run(), c.want);
  }
}

TEST(Format, NarrowFormatConventions) {
  EXPECT_EQ(N("[%s][%S][%ws][%ls][%hs]", "n", L"w", L"w", L"w", "n"), "[n][w][w][w][n]");
  EXPECT_EQ(N("%S|%C|%c", L"\u20AC\u4E2D", L'\u00E9', 'x'), "\x80?|\xE9|x");
  EXPECT_EQ(N("Failed to kick Logsweep when logger start up. Error=%d\n", 11),
            "Failed to kick Logsweep when logger start up. Error=11\n");
  EXPECT_EQ(N("%-6s|%6.2f|%lu", "ab", 1.005, 3000000000u), "ab    |  1.00|3000000000");
}

TEST(Format, BufferResults) {
  wchar_t buf[8];

  // Secure form: exactly fitting text is fine; one more character empties the buffer.
  EXPECT_EQ(swprintf_s(buf, L"%s", L"1234567"), 7);
  EXPECT_STREQ(buf, L"1234567");
  errno = 0;
  EXPECT_EQ(swprintf_s(buf, L"%s", L"12345678"), -1);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_STREQ(buf, L"");

  // _TRUNCATE: as much as fits, terminated, and -1.
  EXPECT_EQ(_snwprintf_s(buf, _TRUNCATE, L"%s", L"abcdefghij"), -1);
  EXPECT_STREQ(buf, L"abcdefg");
  EXPECT_EQ(_snwprintf_s(buf, _TRUNCATE, L"%d", 42), 2);
  EXPECT_STREQ(buf, L"42");
  // A count below the buffer size cuts at the count.
  EXPECT_EQ(_snwprintf_s(buf, 8, 3, L"%s", L"abcdef"), -1);
  EXPECT_STREQ(buf, L"abc");
  // A count the buffer cannot hold is an error, not a cut.
  errno = 0;
  EXPECT_EQ(_snwprintf_s(buf, 8, 20, L"%s", L"abcdefghij"), -1);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_STREQ(buf, L"");

  // Non-secure form: no terminator when the text fills the count exactly.
  wchar_t raw[6] = {L'x', L'x', L'x', L'x', L'x', L'x'};
  EXPECT_EQ(_snwprintf(raw, 5, L"%s", L"abcde"), 5);
  EXPECT_EQ(std::wstring(raw, 6), L"abcdex");
  EXPECT_EQ(_snwprintf(raw, 5, L"%s", L"abcdefg"), -1);
  EXPECT_EQ(std::wstring(raw, 6), L"abcdex");
  EXPECT_EQ(_snwprintf(raw, 5, L"%d", 12), 2);
  EXPECT_STREQ(raw, L"12");

  EXPECT_EQ(_scwprintf(L"%s-%d", L"abc", 12345), 9);
  EXPECT_EQ(_scprintf("%S", L"\u20AC"), 1);

  char narrow[5];
  EXPECT_EQ(sprintf_s(narrow, "%d", 1234), 4);
  EXPECT_EQ(sprintf_s(narrow, "%d", 12345), -1);
  EXPECT_STREQ(narrow, "");
  EXPECT_EQ(_snprintf_s(narrow, _TRUNCATE, "%s", "abcdef"), -1);
  EXPECT_STREQ(narrow, "abcd");
}

TEST(Format, MalformedFormatsAreInvalidParameters) {
  wchar_t buf[16] = L"keep";
  for (const wchar_t* format : {L"%y", L"abc%", L"%n", L"%I"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(format)));
    int dummy = 0;
    errno = 0;
    EXPECT_EQ(swprintf_s(buf, format, &dummy), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_STREQ(buf, L"");
    EXPECT_EQ(dummy, 0);
  }
  EXPECT_EQ(swprintf_s(nullptr, 4, L"x"), -1);
  EXPECT_EQ(_scwprintf(nullptr), -1);
}

TEST(Format, WideStreamOutputFollowsTheSameConventions) {
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fwprintf(f, L"%04d/%02d/%02d SystemVersion:%s\n", 2024, 1, 2, L"2.0.0.60107"), 37);
  EXPECT_EQ(fwprintf(f, L"%s|%S|%c\n", L"\u20ACuro", "ansi", L'\u4E2D'), 12);
  EXPECT_GE(fputws(L"line\n", f), 0);
  std::rewind(f);
  char text[128] = {};
  size_t n = std::fread(text, 1, sizeof text, f);
  std::fclose(f);
  EXPECT_EQ(std::string(text, n), "2024/01/02 SystemVersion:2.0.0.60107\n\x80uro|ansi|?\nline\n");
}

}  // namespace
