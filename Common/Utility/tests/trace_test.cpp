#include <windows.h>

#include <stdlib.h>

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "ChannelTestReader.h"
#include "QNVUtilityWin.h"
#include "pal_testing.h"

namespace {

const char kMarker[] = "[QNV]-- marker --";

// For "<prefix>(<line>)<rest>": the rest, when the line is a positive decimal number.
std::optional<std::string> AfterSourceLine(const std::string& in_strText, const std::string& in_strPrefix) {
  if (in_strText.compare(0, in_strPrefix.size(), in_strPrefix) != 0) return std::nullopt;
  size_t at = in_strPrefix.size();
  if (at >= in_strText.size() || in_strText[at] != '(') return std::nullopt;
  const size_t digits = ++at;
  while (at < in_strText.size() && in_strText[at] >= '0' && in_strText[at] <= '9') ++at;
  if (at == digits || in_strText[digits] == '0' || at >= in_strText.size() || in_strText[at] != ')') {
    return std::nullopt;
  }
  return in_strText.substr(at + 1);
}

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(collector_.ok()); }

  // Everything the channel received since the last call, up to a marker sent now.
  std::vector<ChannelTestRecord> Received() {
    QNVUtilTrace(QNV_TRACE_LEVEL, QNV_TRACE_CAPACITY, L"%s", L"[QNV]-- marker --");
    std::optional<std::vector<ChannelTestRecord>> before = collector_.TakeUntil(kMarker);
    if (!before) {
      ADD_FAILURE() << "marker never arrived";
      return {};
    }
    return *before;
  }

  pal_testing::ScopedMachineRoot root_;
  ChannelTestCollector collector_;
};

// Operations written the way the library's callers write them, so that the expected file
// name and line are known here.
int g_nBailLine = 0;
int BailingOperation(const wchar_t* in_pszArgument) {
  int nErrCode = QNVERROR_INVALID_PARAM;
  g_nBailLine = __LINE__ + 1;
  QNV_CHECK_BAIL(in_pszArgument != nullptr);
  nErrCode = QNVERROR_NO_ERROR;
QNV_BAIL_EXIT:
  return nErrCode;
}

int g_nThrowLine = 0;
int ThrowingOperation(int in_nValue) {
  try {
    g_nThrowLine = __LINE__ + 1;
    QNV_CHECK_THROW(in_nValue > 0, QNVERROR_EXEC_FAILED);
    return QNVERROR_NO_ERROR;
  } catch (int nCode) {
    return nCode;
  }
}

TEST_F(TraceTest, TheThreeLineFormsArriveExactlyAtLevelOne) {
  EXPECT_EQ(BailingOperation(nullptr), QNVERROR_INVALID_PARAM);
  EXPECT_EQ(ThrowingOperation(0), QNVERROR_EXEC_FAILED);
  QNV_TRACE_MESSAGE_LINE(L"SomeOperation", L"Param (7)");
  const int nMessageLine = __LINE__ - 1;
  // Passing checks trace nothing.
  EXPECT_EQ(BailingOperation(L"x"), QNVERROR_NO_ERROR);
  EXPECT_EQ(ThrowingOperation(1), QNVERROR_NO_ERROR);

  std::vector<ChannelTestRecord> records = Received();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].text,
            "[QNV]trace_test.cpp(" + std::to_string(g_nBailLine) + ")\tin_pszArgument != nullptr\tbail\n");
  EXPECT_EQ(records[1].text,
            "[QNV]trace_test.cpp(" + std::to_string(g_nThrowLine) + ")\tin_nValue > 0\t-1017\n");
  EXPECT_EQ(records[2].text,
            "[QNV]trace_test.cpp(" + std::to_string(nMessageLine) + ")\tSomeOperation\tParam (7)\n");
  for (const ChannelTestRecord& record : records) {
    EXPECT_EQ(record.level, 1);
    EXPECT_EQ(record.processId, GetCurrentProcessId());
    EXPECT_EQ(record.threadId, GetCurrentThreadId());
  }
}

TEST_F(TraceTest, LibraryBailLineNamesItsModuleAndCondition) {
  int nLangId = 55;
  EXPECT_EQ(QNVUtilLangCodeToLangId(nullptr, &nLangId), QNVERROR_INVALID_PARAM);
  EXPECT_EQ(nLangId, 0);
  std::vector<ChannelTestRecord> records = Received();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(AfterSourceLine(records[0].text, "[QNV]QNVUtilityWin.cpp"), "\tin_strLangCode != 0\tbail\n");
  EXPECT_EQ(records[0].level, 1);
}

TEST_F(TraceTest, ResultAndWhatIsSent) {
  const std::wstring k600(600, L'x');
  const std::wstring k506(506, L'x');
  struct Case {
    const char* name;
    int capacity;
    const wchar_t* format;
    const wchar_t* argument;
    int want;
    std::optional<std::string> sent;  // nullopt: nothing arrives
  };
  const Case kCases[] = {
      {"fits", 512, L"[QNV]%s\n", L"abc", 9, "[QNV]abc\n"},
      {"exactly_511", 512, L"[QNV]%s", k506.c_str(), 511, "[QNV]" + std::string(506, 'x')},
      {"cut_to_511_without_line_feed", 512, L"[QNV]%s\n", k600.c_str(), -1, "[QNV]" + std::string(506, 'x')},
      {"capacity_1_sends_empty_text", 1, L"[QNV]%s", L"abc", -1, ""},
      {"capacity_0_sends_nothing", 0, L"[QNV]%s", L"abc", 0, std::nullopt},
      {"negative_capacity_sends_nothing", -3, L"[QNV]%s", L"abc", 0, std::nullopt},
      {"null_format_sends_nothing", 512, nullptr, L"abc", 0, std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(QNVUtilTrace(3, c.capacity, c.format, c.argument), c.want);
    std::vector<ChannelTestRecord> records = Received();
    if (!c.sent) {
      EXPECT_TRUE(records.empty());
      continue;
    }
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, *c.sent);
    EXPECT_EQ(records[0].level, 3);
  }
}

TEST_F(TraceTest, OnlyTheLowByteOfTheLevelTravels) {
  QNVUtilTrace(0x101, 64, L"[QNV]a");
  QNVUtilTrace(99, 64, L"[QNV]b");
  std::vector<ChannelTestRecord> records = Received();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].level, 1);
  EXPECT_EQ(records[1].level, 99);
}

TEST(FormatAllocTest, FormatsIntoA512CharacterBufferCutToFit) {
  wchar_t* pszShort = QNVUtilFormatAlloc(L"Param (%d)", -5);
  ASSERT_NE(pszShort, nullptr);
  EXPECT_STREQ(pszShort, L"Param (-5)");
  free(pszShort);

  const std::wstring k700(700, L'y');
  wchar_t* pszLong = QNVUtilFormatAlloc(L"%s", k700.c_str());
  ASSERT_NE(pszLong, nullptr);
  EXPECT_EQ(std::wstring(pszLong), std::wstring(511, L'y'));
  free(pszLong);

  EXPECT_EQ(QNVUtilFormatAlloc(nullptr), nullptr);
}

TEST(SourceFileNameTest, CutsAfterTheLastSeparator) {
  EXPECT_STREQ(QNVUtilSourceFileName(L"C:\\src\\Common\\QNVUtilityWin.cpp"), L"QNVUtilityWin.cpp");
  EXPECT_STREQ(QNVUtilSourceFileName(L"/work/src/QNVDataArchiver.cpp"), L"QNVDataArchiver.cpp");
  EXPECT_STREQ(QNVUtilSourceFileName(L"plain.cpp"), L"plain.cpp");
  EXPECT_STREQ(QNVUtilSourceFileName(L"dir\\"), L"");
}

}  // namespace
