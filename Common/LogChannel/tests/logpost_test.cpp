#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ChannelTestReader.h"
#include "LogChannelWriter.h"
#include "pal_testing.h"

namespace {

class LogpostTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(collector_.ok()); }

  int Logpost(const std::vector<std::string>& args, std::string* output = nullptr) {
    std::vector<std::string> argv = {LOGPOST_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return pal_testing::RunProgram(argv, output);
  }

  // What arrived since the last call: everything before a marker this process posts now.
  std::vector<ChannelTestRecord> Received() {
    LogChannelWriter::Instance().Write(1, L"[QNV]-- marker --");
    std::optional<std::vector<ChannelTestRecord>> before = collector_.TakeUntil("[QNV]-- marker --");
    if (!before) {
      ADD_FAILURE() << "marker never arrived";
      return {};
    }
    return *before;
  }

  pal_testing::ScopedMachineRoot root_;
  ChannelTestCollector collector_;
};

TEST_F(LogpostTest, PostsTheTextAsGivenWithItsLevel) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::pair<int, std::string>> want;
  };
  const Case kCases[] = {
      {"joined_arguments", {"3", "[QNV]hello", "world"}, {{3, "[QNV]hello world"}}},
      {"no_line_feed_added", {"1", "[QNV]x\ty"}, {{1, "[QNV]x\ty"}}},
      {"untagged_text_still_posted", {"2", "plain"}, {{2, "plain"}}},
      {"level_by_name", {"PER", "[QNV]kept"}, {{99, "[QNV]kept"}}},
      {"level_low_byte", {"257", "[QNV]a"}, {{1, "[QNV]a"}}},
      {"utf8_argument_in_code_page", {"4", "[QNV]\xE2\x82\xAC \xE4\xB8\xAD"}, {{4, "[QNV]\x80 ?"}}},
      {"dash_dash_then_negative_level", {"--", "-1", "[QNV]n"}, {{255, "[QNV]n"}}},
      {"loop_numbered_with_line_feed",
       {"--count", "3", "--numbered", "--lf", "5", "[QNV]load"},
       {{5, "[QNV]load 1\n"}, {5, "[QNV]load 2\n"}, {5, "[QNV]load 3\n"}}},
      {"loop_plain", {"-n", "2", "0", "[QNV]same"}, {{0, "[QNV]same"}, {0, "[QNV]same"}}},
      {"longest_text", {"3", "[QNV]" + std::string(4081, 'x')}, {{3, "[QNV]" + std::string(4081, 'x')}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Logpost(c.args), 0);
    std::vector<ChannelTestRecord> records = Received();
    ASSERT_EQ(records.size(), c.want.size());
    for (size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].level, c.want[i].first);
      EXPECT_EQ(records[i].text, c.want[i].second);
      EXPECT_NE(records[i].processId, GetCurrentProcessId());
    }
  }
}

TEST_F(LogpostTest, BadUsageExitsOneAndPostsNothing) {
  const std::vector<std::vector<std::string>> kCases = {
      {},
      {"3"},
      {"three", "[QNV]x"},
      {"3x", "[QNV]x"},
      {"--count", "0", "3", "[QNV]x"},
      {"--count", "many", "3", "[QNV]x"},
      {"--count"},
      {"--bogus", "3", "[QNV]x"},
      // Longer than the channel's text area: the writer would post it empty.
      {"3", "[QNV]" + std::string(4082, 'x')},
      {"--lf", "3", "[QNV]" + std::string(4081, 'x')},
  };
  for (const std::vector<std::string>& args : kCases) {
    SCOPED_TRACE(args.empty() ? "(none)" : args[0] + (args.size() > 1 ? " " + args[1] : ""));
    std::string output;
    EXPECT_EQ(Logpost(args, &output), 1);
    EXPECT_NE(output.find("Usage: Logpost"), std::string::npos);
    EXPECT_TRUE(Received().empty());
  }
}

TEST_F(LogpostTest, HelpTellsThatTheTagBelongsToTheText) {
  std::string output;
  EXPECT_EQ(Logpost({"--help"}, &output), 0);
  EXPECT_NE(output.find("Usage: Logpost"), std::string::npos);
  EXPECT_NE(output.find("\"[QNV]\""), std::string::npos);
  EXPECT_TRUE(Received().empty());
}

TEST(LogpostWithoutLoggerTest, ExitsZeroAtOnce) {
  pal_testing::ScopedMachineRoot root;
  EXPECT_EQ(pal_testing::RunProgram({LOGPOST_PATH, "-n", "5", "1", "[QNV]nobody listens"}), 0);
}

}  // namespace
