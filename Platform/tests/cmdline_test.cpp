// Windows command-line splitting and quoting.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "cmdline.h"
#include "machine.h"
#include "pal_testing.h"

namespace {

using Args = std::vector<std::wstring>;

TEST(CommandLine, SplitsByWindowsRules) {
  struct Case {
    const char* name;
    std::wstring line;
    Args want;
  };
  const Case kCases[] = {
      {"plain", LR"(prog a b)", {L"prog", L"a", L"b"}},
      {"blanks_and_tabs", L"prog \t a\t\tb  ", {L"prog", L"a", L"b"}},
      {"quoted_program_with_blanks", LR"("C:\Program Files (x86)\x.exe" /l Logsink)",
       {LR"(C:\Program Files (x86)\x.exe)", L"/l", L"Logsink"}},
      {"quoted_argument", LR"(p "a b" c)", {L"p", L"a b", L"c"}},
      {"quotes_inside_a_word", LR"(p a"b c"d)", {L"p", L"ab cd"}},
      {"backslashes_without_quote_are_literal", LR"(p a\\b\c)", {L"p", LR"(a\\b\c)"}},
      {"odd_backslashes_escape_the_quote", LR"(p a\"b)", {L"p", LR"(a"b)"}},
      {"even_backslashes_before_quote_halve", LR"(p "a\\" b)", {L"p", LR"(a\)", L"b"}},
      {"three_backslashes_and_quote", LR"(p a\\\"b)", {L"p", LR"(a\"b)"}},
      {"doubled_quote_inside_quotes", LR"(p "a""b" c)", {L"p", LR"(a"b)", L"c"}},
      {"empty_argument", LR"(p "" x)", {L"p", L"", L"x"}},
      {"unterminated_quote_runs_to_the_end", LR"(p "a b)", {L"p", L"a b"}},
      {"program_backslashes_are_literal", LR"(C:\dir\"odd" x)", {LR"(C:\dir\odd)", L"x"}},
      {"quoted_program_runs_on", LR"("C:\a b"x y)", {LR"(C:\a bx)", L"y"}},
      {"archiver_add_command", LR"("C:\Program Files (x86)\common\7za.exe" a -tzip "C:\log dir\a.zip" "C:\log dir\a.log")",
       {LR"(C:\Program Files (x86)\common\7za.exe)", L"a", L"-tzip", LR"(C:\log dir\a.zip)", LR"(C:\log dir\a.log)"}},
      {"archiver_extract_switch", LR"(7za x "a.zip" -y -o"C:\out dir")", {L"7za", L"x", L"a.zip", L"-y", LR"(-oC:\out dir)"}},
      {"leading_blank_gives_empty_program", L" a", {L"", L"a"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(pal::SplitCommandLine(c.line), c.want);

    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(c.line.c_str(), &count);
    ASSERT_NE(argv, nullptr);
    EXPECT_EQ(Args(argv, argv + count), c.want);
    EXPECT_EQ(argv[count], nullptr);
    LocalFree(argv);
  }
}

TEST(CommandLine, QuotingRoundTrips) {
  const Args kArgs = {LR"(C:\Program Files\p.exe)", L"", L"plain", L"two words", LR"(trailing\)",
                      LR"(trailing space\ )", LR"(say "hi")", LR"(\\server\share\)", LR"(a\\"b)", L"tab\there"};
  std::wstring line = pal::JoinCommandLine(kArgs);
  EXPECT_EQ(pal::SplitCommandLine(line), kArgs) << testing::PrintToString(line);
  EXPECT_EQ(pal::QuoteArgument(L"plain"), L"plain");
  EXPECT_EQ(pal::QuoteArgument(LR"(a b\)"), LR"("a b\\")");
}

TEST(CommandLine, EmptyLineGivesTheProgramPath) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(L"", &count);
  ASSERT_NE(argv, nullptr);
  ASSERT_EQ(count, 1);
  wchar_t self[MAX_PATH * 4];
  GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  EXPECT_STREQ(argv[0], self);
  LocalFree(argv);
  EXPECT_EQ(CommandLineToArgvW(L"x", nullptr), nullptr);
}

TEST(CommandLine, OwnCommandLineSplitsIntoOwnArguments) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  ASSERT_NE(argv, nullptr);
  Args own(argv, argv + count);
  LocalFree(argv);
  Args want;
  std::string raw = pal_testing::ReadFile("/proc/self/cmdline");
  for (size_t pos = 0; pos < raw.size();) {
    size_t end = raw.find('\0', pos);
    want.push_back(pal::FromUtf8(raw.substr(pos, end - pos)));
    pos = end + 1;
  }
  EXPECT_EQ(own, want);
}

}  // namespace
