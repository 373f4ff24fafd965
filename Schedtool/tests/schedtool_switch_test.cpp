#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Schedtool.h"

namespace {

struct Parsed {
  std::wstring a, c, p, r;
  bool s = false;
  bool d = false;
};

std::wstring Text(const wchar_t* value) { return value != nullptr ? value : L"<absent>"; }

Parsed Parse(std::vector<std::wstring> args) {
  args.insert(args.begin(), L"Schedtool.exe");
  std::vector<wchar_t*> argv;
  for (std::wstring& a : args) argv.push_back(a.data());
  SCHEDTOOL_ARGS parsed;
  SchedtoolParseArgs(static_cast<int>(argv.size()), argv.data(), &parsed);
  return {Text(parsed.pszAddTask), Text(parsed.pszCommand), Text(parsed.pszParameters),
          Text(parsed.pszRemoveTask), parsed.bServerMode, parsed.bDaily};
}

TEST(SchedtoolSwitchTest, LooksEachSwitchUpAmongAllArguments) {
  const std::wstring kNo = L"<absent>";
  struct Case {
    const char* name;
    std::vector<std::wstring> args;
    Parsed want;
  };
  const Case kCases[] = {
      {"nothing", {}, {kNo, kNo, kNo, kNo, false, false}},
      {"any_order", {L"/s", L"/c", L"Logsink.exe", L"/a", L"T", L"/d"},
       {L"T", L"Logsink.exe", kNo, kNo, true, true}},
      {"case_sensitive", {L"/A", L"T", L"/C", L"x", L"/S", L"/R", L"y", L"/D"}, {kNo, kNo, kNo, kNo, false, false}},
      {"last_takes_its_own_text", {L"/r"}, {kNo, kNo, kNo, L"/r", false, false}},
      {"first_equal_wins", {L"/a", L"one", L"/a", L"two"}, {L"one", kNo, kNo, kNo, false, false}},
      {"value_of_another_switch_counts", {L"/p", L"/s"}, {kNo, kNo, L"/s", kNo, true, false}},
      {"value_that_looks_like_a_switch", {L"/a", L"/r", L"/c", L"x"}, {L"/r", L"x", kNo, L"/c", false, false}},
      {"parameters_with_spaces", {L"/p", L"/l Logsink"}, {kNo, kNo, L"/l Logsink", kNo, false, false}},
      {"switch_needs_exact_text", {L"/ab", L"x", L" /a", L"y", L"-a", L"z"}, {kNo, kNo, kNo, kNo, false, false}},
      {"command_last", {L"/a", L"T", L"/c"}, {L"T", L"/c", kNo, kNo, false, false}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Parsed got = Parse(c.args);
    EXPECT_EQ(got.a, c.want.a);
    EXPECT_EQ(got.c, c.want.c);
    EXPECT_EQ(got.p, c.want.p);
    EXPECT_EQ(got.r, c.want.r);
    EXPECT_EQ(got.s, c.want.s);
    EXPECT_EQ(got.d, c.want.d);
  }
}

TEST(SchedtoolSwitchTest, ProgramPathIsNeverASwitch) {
  std::wstring self = L"/a";
  wchar_t* argv[] = {self.data()};
  EXPECT_EQ(SchedtoolFindSwitch(1, argv, L"/a"), nullptr);
}

}  // namespace
