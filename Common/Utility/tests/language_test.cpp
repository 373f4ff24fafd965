#include <windows.h>

#include <stdlib.h>

#include <cwctype>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "QNVUtilityWin.h"
#include "pal_testing.h"

namespace {

TEST(LanguageTest, LanguageCodesMatchExactly) {
  const std::map<std::wstring, int> kCodes = {
      {L"en", 9},   {L"it", 16},   {L"ja", 17}, {L"fr", 12},       {L"de", 7},  {L"nl", 19},
      {L"es", 10},  {L"pt", 22},   {L"tr", 31}, {L"ru", 25},       {L"zh-TW", 1028},
      {L"ko", 18},  {L"el", 8},    {L"da", 6},  {L"fi", 11},       {L"nb", 20}, {L"sv", 29},
      {L"pl", 21},  {L"cs", 5},    {L"zh-CN", 2052},               {L"hu", 14}, {L"ro", 24},
      {L"ar", 1},   {L"fa", 41},   {L"th", 30}, {L"id", 33},       {L"ms", 62}, {L"vi", 42},
      {L"zh-HK", 3076},
  };
  ASSERT_EQ(kCodes.size(), 29u);
  for (const auto& [code, id] : kCodes) {
    SCOPED_TRACE(std::string(code.begin(), code.end()));
    int nLangId = -1;
    EXPECT_EQ(QNVUtilLangCodeToLangId(code.c_str(), &nLangId), 0);
    EXPECT_EQ(nLangId, id);
  }
  const wchar_t* kUnknown[] = {L"JA", L"", L"zh-hk", L"zh", L"en-US", L" en", L"en ", L"no", L"zh_TW"};
  for (const wchar_t* code : kUnknown) {
    SCOPED_TRACE(std::string(code, code + wcslen(code)));
    int nLangId = -1;
    EXPECT_EQ(QNVUtilLangCodeToLangId(code, &nLangId), QNVERROR_FAILED);
    EXPECT_EQ(nLangId, 0);
  }
  EXPECT_EQ(QNVUtilLangCodeToLangId(L"ja", nullptr), QNVERROR_INVALID_PARAM);
}

TEST(LanguageTest, CultureNameOfEveryPrimaryLanguage) {
  const std::map<DWORD, std::wstring> kByLowByte = {
      {1, L"ar-SA"},  {5, L"cs-CZ"},  {6, L"da-DK"},  {7, L"de-DE"},  {8, L"el-GR"},  {11, L"fi-FI"},
      {12, L"fr-FR"}, {14, L"hu-HU"}, {16, L"it-IT"}, {17, L"ja-JP"}, {18, L"ko-KR"}, {19, L"nl-NL"},
      {20, L"nb-NO"}, {21, L"pl-PL"}, {24, L"ro-RO"}, {25, L"ru-RU"}, {29, L"sv-SE"}, {30, L"th-TH"},
      {31, L"tr-TR"}, {33, L"id-ID"}, {41, L"fa"},    {42, L"vi-VN"}, {57, L"id-IN"}, {62, L"ms-MY"},
  };
  // Languages that choose by the full id, with what a sub-language outside the list gets.
  const std::map<DWORD, std::map<DWORD, std::wstring>> kByFullId = {
      {4, {{1028, L"zh-TW"}, {2052, L"zh-CN"}, {3076, L"zh-HK"}}},
      {9, {{1033, L"en-US"}}},
      {10, {{2058, L"es-MX"}}},
      {22, {{1046, L"pt-BR"}}},
  };
  const std::map<DWORD, std::wstring> kOtherSubLanguage = {{9, L"en"}, {10, L"es-ES"}, {22, L"pt-PT"}};

  const DWORD kSubLanguages[] = {0, 1, 2, 3, 5, 16};
  for (DWORD nLow = 0; nLow <= 0xFF; ++nLow) {
    for (DWORD nSub : kSubLanguages) {
      const DWORD nId = (nSub << 10) | nLow;
      SCOPED_TRACE(nId);
      std::wstring want;
      if (auto it = kByLowByte.find(nLow); it != kByLowByte.end()) want = it->second;
      if (auto it = kByFullId.find(nLow); it != kByFullId.end()) {
        auto exact = it->second.find(nId);
        if (exact != it->second.end()) {
          want = exact->second;
        } else if (auto other = kOtherSubLanguage.find(nLow); other != kOtherSubLanguage.end()) {
          want = other->second;
        }
      }
      wchar_t szName[QNV_CULTURE_NAME_CAPACITY] = L"untouched";
      const int nResult = QNVUtilLangIdToCultureName(nId, szName);
      if (want.empty()) {
        EXPECT_EQ(nResult, QNVERROR_FAILED);
        EXPECT_STREQ(szName, L"untouched");
      } else {
        EXPECT_EQ(nResult, 0);
        EXPECT_EQ(std::wstring(szName), want);
      }
    }
  }
}

TEST(LanguageTest, CultureNameExamples) {
  struct Case {
    DWORD id;
    const wchar_t* want;  // null: no name
  };
  const Case kCases[] = {{1041, L"ja-JP"}, {1033, L"en-US"}, {2057, L"en"},    {2058, L"es-MX"},
                         {1034, L"es-ES"}, {3082, L"es-ES"}, {2070, L"pt-PT"}, {1046, L"pt-BR"},
                         {4100, nullptr},  {57, L"id-IN"},   {0x10411, L"ja-JP"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.id);
    wchar_t szName[QNV_CULTURE_NAME_CAPACITY] = {};
    EXPECT_EQ(QNVUtilLangIdToCultureName(c.id, szName), c.want != nullptr ? 0 : QNVERROR_FAILED);
    if (c.want != nullptr) {
      EXPECT_STREQ(szName, c.want);
    }
  }
  EXPECT_EQ(QNVUtilLangIdToCultureName(1041, nullptr), QNVERROR_INVALID_PARAM);
}

const std::map<int, std::vector<int>>& RegionGroups() {
  static const std::map<int, std::vector<int>> kGroups = {
      {1, {122}},
      {2, {39, 244, 161832256}},
      {3, {11, 246, 66, 72, 99, 54, 51, 124, 46, 65, 225, 182, 192, 185, 18, 32, 249, 187, 26, 106, 166, 273,
           31706, 161832015, 161832258}},
      {4, {68, 242, 14, 94, 145, 223, 84, 21, 176, 147, 118, 193, 217, 61, 77, 110, 177, 221, 108, 59, 98,
           19618, 163, 269, 212, 6, 35, 75, 70, 109, 140, 141, 191, 200, 143, 235, 8, 7, 93, 88, 214, 90, 220,
           125, 253, 306, 81, 25, 15126, 152, 10028789}},
      {5, {3, 5, 29, 241, 203, 17, 126, 136, 139, 164, 197, 261, 121, 205, 224, 184, 117, 4, 159, 234, 240,
           73, 71, 89, 57, 87, 49, 86, 100, 196, 50, 43, 233, 213, 62, 264, 260, 208, 210, 216, 343, 41, 232,
           38, 28, 331, 149, 156, 157, 160, 162, 168, 148, 142, 204, 146, 198, 69, 119, 276, 173, 334, 245, 67,
           19, 9, 254, 239, 129, 175, 209, 263}},
      {6, {12, 183}},
      {7, {111, 40, 215, 227, 190, 201, 37, 251, 167, 27, 138, 7299303}},
      {8, {151, 104}},
      {9, {237}},
      {10, {134}},
      {11, {154, 45}},
      {12, {113, 23, 42, 178, 165, 34}},
  };
  return kGroups;
}

TEST(RegionTest, Every178GeoIdHasItsGroupAndOthersHaveNone) {
  std::set<int> listed;
  for (const auto& [group, geo_ids] : RegionGroups()) {
    for (int geo_id : geo_ids) {
      SCOPED_TRACE(geo_id);
      EXPECT_EQ(QNVUtilGetRegionGroup(geo_id), group);
      listed.insert(geo_id);
    }
  }
  EXPECT_EQ(listed.size(), 178u);
  int nUnlisted = 0;
  for (int geo_id = -2; geo_id <= 400; ++geo_id) {
    if (listed.count(geo_id) != 0) continue;
    ++nUnlisted;
    EXPECT_EQ(QNVUtilGetRegionGroup(geo_id), 0) << geo_id;
  }
  EXPECT_GT(nUnlisted, 0);
  EXPECT_EQ(QNVUtilGetRegionGroup(161832257), 0);
}

TEST(RegionTest, ConcurrentFirstLookupsAgree) {
  // The first calls of the process race to build the table; every thread must see it whole.
  std::vector<std::thread> threads;
  std::vector<int> sums(8, 0);
  for (size_t t = 0; t < sums.size(); ++t) {
    threads.emplace_back([&sums, t] {
      for (const auto& [group, geo_ids] : RegionGroups()) {
        for (int geo_id : geo_ids) sums[t] += QNVUtilGetRegionGroup(geo_id) == group ? 1 : 0;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int sum : sums) EXPECT_EQ(sum, 178);
}

TEST(RegionTest, UserRegionFollowsTheUsersNation) {
  struct Case {
    const char* geo_env;  // null: unset, the machine's default nation
    int want_geo;
    int want_group;
  };
  const Case kCases[] = {{"122", 122, 1}, {"94", 94, 4}, {"1", 1, 0}, {nullptr, 244, 2}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.geo_env != nullptr ? c.geo_env : "unset");
    if (c.geo_env != nullptr) {
      setenv("PAL_GEOID", c.geo_env, 1);
    } else {
      unsetenv("PAL_GEOID");
    }
    QNV_USER_REGION stRegion = {-1, -1, -1};
    EXPECT_EQ(QNVUtilGetUserRegion(&stRegion), 0);
    EXPECT_EQ(stRegion.nRecordType, 0x40000);
    EXPECT_EQ(stRegion.nGeoId, c.want_geo);
    EXPECT_EQ(stRegion.nRegionGroup, c.want_group);
  }
  unsetenv("PAL_GEOID");
  EXPECT_EQ(QNVUtilGetUserRegion(nullptr), QNVERROR_INVALID_PARAM);
}

bool IsLowerHex(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); }

TEST(UuidTest, TextFormCutToTheBuffer) {
  struct Case {
    const char* name;
    int size;
    bool no_hyphen;
    size_t want_length;
  };
  const Case kCases[] = {
      {"whole", 37, false, 36},     {"roomy", 64, false, 36},  {"first_9", 10, false, 9},
      {"no_hyphen", 33, true, 32},  {"no_hyphen_cut", 8, true, 7}, {"size_1_empty", 1, false, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::wstring buffer(80, L'#');
    ASSERT_EQ(QNVUtilCreateUuidString(buffer.data(), c.size, c.no_hyphen), 0);
    const std::wstring text = buffer.c_str();
    ASSERT_EQ(text.size(), c.want_length);
    EXPECT_EQ(buffer[static_cast<size_t>(c.size)], L'#') << "wrote beyond the buffer";
    for (size_t i = 0; i < text.size(); ++i) {
      const bool bHyphenPlace = !c.no_hyphen && (i == 8 || i == 13 || i == 18 || i == 23);
      if (bHyphenPlace) {
        EXPECT_EQ(text[i], L'-') << i;
      } else {
        EXPECT_TRUE(IsLowerHex(text[i])) << i;
      }
    }
  }
  wchar_t szA[37] = {}, szB[37] = {};
  ASSERT_EQ(QNVUtilCreateUuidString(szA, 37, false), 0);
  ASSERT_EQ(QNVUtilCreateUuidString(szB, 37, false), 0);
  EXPECT_STRNE(szA, szB);
  EXPECT_EQ(QNVUtilCreateUuidString(nullptr, 37, false), QNVERROR_INVALID_PARAM);
  EXPECT_EQ(QNVUtilCreateUuidString(szA, 0, false), QNVERROR_INVALID_PARAM);
  EXPECT_EQ(QNVUtilCreateUuidString(szA, -1, false), QNVERROR_INVALID_PARAM);
}

TEST(FileReadableTest, SharedReadOpen) {
  pal_testing::ScopedMachineRoot root;
  pal_testing::WriteFile(root.drive_c() + "/data.txt", "content");
  EXPECT_TRUE(QNVUtilIsFileReadable(L"C:\\data.txt"));
  EXPECT_FALSE(QNVUtilIsFileReadable(L"C:\\missing.txt"));
  EXPECT_FALSE(QNVUtilIsFileReadable(nullptr));

  // Another holder that shares reading and writing does not get in the way; one that
  // shares nothing does.
  HANDLE hShared = CreateFileW(L"C:\\data.txt", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(hShared, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(QNVUtilIsFileReadable(L"C:\\data.txt"));
  CloseHandle(hShared);

  HANDLE hExclusive = CreateFileW(L"C:\\data.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(hExclusive, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(QNVUtilIsFileReadable(L"C:\\data.txt"));
  CloseHandle(hExclusive);
  // Closed again at once: an exclusive open right after succeeds.
  EXPECT_TRUE(QNVUtilIsFileReadable(L"C:\\data.txt"));
  hExclusive = CreateFileW(L"C:\\data.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(hExclusive, INVALID_HANDLE_VALUE);
  CloseHandle(hExclusive);
}

}  // namespace
