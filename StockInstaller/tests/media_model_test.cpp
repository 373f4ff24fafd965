// The media-definition model, the driver's media table and the adjusting rules, as tables.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AddICCProfile.h"
#include "AdjustIniFileInfo.h"
#include "BinaryResource.h"
#include "IniFile.h"
#include "LogWrite.h"
#include "PrnQueue.h"
#include "pal_testing.h"
#include "test_driver.h"

namespace {

using pal_testing::ReadFile;
using pal_testing::WriteFile;

std::string Narrow(const WCHAR* text) {
  std::string out;
  for (; *text != L'\0'; ++text) out += static_cast<char>(*text);
  return out;
}

std::string Section(int n, const std::string& body) {
  return "[UINumber" + std::to_string(n) + "]\r\n" + body;
}
std::string Custom(int definition, int base = 1) {
  return "MediaDefinition=" + std::to_string(definition) + "\r\nBaseMediaID=" + std::to_string(base) + "\r\n";
}

class MediaModelTest : public ::testing::Test {
 protected:
  void SetUp() override { log_.reset(CreateLogWrite("TQ770")); ASSERT_NE(log_, nullptr); }
  std::unique_ptr<CIniFile> Load(const std::string& body) {
    WriteFile(machine_.drive_c() + "/media.ini", "[Header]\r\nDeviceID=TQ770\r\n" + body);
    char model[80] = "TQ770";
    return std::unique_ptr<CIniFile>(CreateIniFileInfo("C:\\media.ini", model, log_.get()));
  }
  std::string Log() const { return ReadFile(machine_.drive_c() + "/ProgramData/NORVANTE/TQ770/log/StockInstaller.log"); }
  std::vector<int> Definitions(const CIniFile& ini) const {
    std::vector<int> out;
    for (int i = 0; i < ini.mediaCount; ++i) out.push_back(ini.media[i].MediaDefinition);
    return out;
  }

  pal_testing::ScopedMachineRoot machine_;
  std::unique_ptr<CLogWrite> log_;
};

TEST_F(MediaModelTest, SectionsAndTheirNumbering) {
  std::string twelve;
  for (int n = 1; n <= 12; ++n) twelve += Section(n, Custom(100 + n));
  struct Case {
    const char* name;
    std::string body;
    std::vector<int> want;
  };
  const Case kCases[] = {
      {"gap_ends_the_list",
       Section(1, "MediaDefinition=1\r\nIsBaseMedia=true\r\n") + Section(2, Custom(2)) + Section(4, Custom(4)), {2}},
      {"twelve_sections_keep_ten", twelve, {101, 102, 103, 104, 105, 106, 107, 108, 109, 110}},
      {"base_sections_take_numbers_not_places",
       Section(1, "MediaDefinition=1\r\nIsBaseMedia=true\r\n") + Section(2, "MediaDefinition=2\r\nIsBaseMedia=true\r\n") +
           Section(3, Custom(3)),
       {3}},
      {"is_base_media_is_case_sensitive", Section(1, "MediaDefinition=7\r\nIsBaseMedia=True\r\n"), {7}},
      {"section_without_definition_ends", Section(1, "BaseMediaID=1\r\n") + Section(2, Custom(2)), {}},
      {"definition_error_counts_as_missing", Section(1, "MediaDefinition=error\r\n"), {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto ini = Load(c.body);
    ASSERT_NE(ini, nullptr);
    EXPECT_EQ(Definitions(*ini), c.want);
    for (int i = ini->mediaCount; i < kMaxMedia; ++i) {
      MediaRecord zero = {};
      EXPECT_EQ(std::memcmp(&ini->media[i], &zero, sizeof zero), 0) << "record " << i;
    }
  }
}

TEST_F(MediaModelTest, FieldsNamesAndProfiles) {
  const std::string name70(70, 'n');
  auto ini = Load(Section(1, Custom(70000, 65536 + 3) + "MediaName_us=US name\r\nMediaName_ko=" + name70 +
                                 "\r\nMediaName_prn=ABCDEFGHIJKLMNO\r\nInkDuty_Normal=300\r\nPaperLength=-1\r\n"
                                 "Profile_Draft=Gloss.icc\r\nProfile_Normal=GLOSS.ICC\r\nProfile_Quality=Fine.icc\r\n") +
                  Section(2, Custom(2) + "MediaName_en=English\r\nMediaName_us=US\r\nProfile_Draft=fine.ICC\r\n") +
                  Section(3, Custom(3)));
  ASSERT_NE(ini, nullptr);
  ASSERT_EQ(ini->mediaCount, 3);
  EXPECT_STREQ(ini->deviceId, "TQ770");
  const MediaRecord& first = ini->media[0];
  EXPECT_EQ(Narrow(first.MediaName_en), "US name");
  EXPECT_EQ(Narrow(first.MediaName_ko), std::string(64, 'n'));
  EXPECT_STREQ(first.MediaName_prn, "ABCDEFGHIJK");
  EXPECT_EQ(first.BaseMediaID, 65539);
  EXPECT_EQ(first.MediaDefinition, 70000);
  EXPECT_EQ(first.InkDuty_Normal, 300);
  EXPECT_EQ(first.PaperLength, 0);  // -1 counts as missing
  EXPECT_EQ(Narrow(ini->media[1].MediaName_en), "English");
  EXPECT_EQ(Narrow(ini->media[2].MediaName_en), "");
  std::vector<std::string> profiles;
  for (const ProfileName& p : ini->profiles) profiles.push_back(Narrow(p.szName));
  EXPECT_EQ(profiles, (std::vector<std::string>{"Gloss.icc", "Fine.icc"}));
}

TEST_F(MediaModelTest, MissingFileOrDeviceId) {
  char model[80] = "TQ770";
  EXPECT_EQ(CreateIniFileInfo("C:\\absent.ini", model, log_.get()), nullptr);
  EXPECT_EQ(CreateIniFileInfo(nullptr, model, log_.get()), nullptr);
  EXPECT_EQ(Log(), "IniFile: No exist Device ID.\r\nIniFile: No INI file.\r\n");
  WriteFile(machine_.drive_c() + "/other.ini", "[Header]\r\nDeviceID=TQ990X\r\n");
  std::unique_ptr<CIniFile> ini(CreateIniFileInfo("C:\\other.ini", model, log_.get()));
  ASSERT_NE(ini, nullptr);
  EXPECT_STREQ(model, "TQ990X");
}

// Adjusting against the sample driver's media table in each of its three base-number modes.
TEST_F(MediaModelTest, AdjustingDropsUnknownBaseMediaInEveryResourceMode) {
  test_driver::InstallDriver(4);
  test_driver::AddQueue(L"TQ770", L"NETLOOP:127.0.0.1:t1");
  for (const char* file : {"TQ770R52.BIN", "TQ770R18.BIN", "TQ770TXT.BIN"})
    test_driver::PlaceFile(machine_, std::string(SAMPLE_DIR) + "/driver/" + file, file);
  // Base numbers known by the sample table: 1, 2, 3, 5, 260; 999 is a placeholder.
  const std::string body = Section(1, Custom(11, 1)) + Section(2, Custom(12, 4)) + Section(3, Custom(13, 5)) +
                           Section(4, Custom(14, 999)) + Section(5, Custom(15, 65536 + 2)) +
                           Section(6, Custom(16, 260)) + Section(7, Custom(17, 0x7777));
  for (const char* file : {"TQ770R52.BIN", "TQ770R18.BIN", "TQ770TXT.BIN"}) {
    SCOPED_TRACE(file);
    WriteFile(test_driver::DriverFolder(machine_) + "/TQ770.VIF",
              std::string("[DependDrvInfo]\r\nBinaryResFileID000=") + file + "\r\n");
    auto ini = Load(body);
    ASSERT_NE(ini, nullptr);
    CPrnQueue queue(*log_);
    ASSERT_TRUE(queue.Init("NORVANTE TQ770", "TQ770"));
    ASSERT_TRUE(AdjustIniFileInfo(ini.get(), &queue, log_.get()));
    EXPECT_EQ(Definitions(*ini), (std::vector<int>{11, 13, 15, 16}));
    EXPECT_EQ(ini->media[9].MediaDefinition, 0);
  }
  // Without a readable resource nothing would convert: the step fails and keeps the media,
  // rather than drop them all (which would empty every printer's slots); a file without
  // media has nothing to check and goes on.
  WriteFile(test_driver::DriverFolder(machine_) + "/TQ770.VIF", "[DependDrvInfo]\r\nBinaryResFileID000=none.bin\r\n");
  auto ini = Load(body);
  CPrnQueue queue(*log_);
  ASSERT_TRUE(queue.Init("NORVANTE TQ770", "TQ770"));
  EXPECT_FALSE(AdjustIniFileInfo(ini.get(), &queue, log_.get()));
  EXPECT_EQ(ini->mediaCount, 7);
  EXPECT_NE(Log().find("AdjustIniFileInfo: Can't read the media table.\r\n"), std::string::npos) << Log();
  auto empty = Load("");
  EXPECT_TRUE(AdjustIniFileInfo(empty.get(), &queue, log_.get()));
}

// A media table built in memory: header, one directory entry, elements of `size` bytes.
std::vector<BYTE> Table(DWORD flags, DWORD element_size, WORD count, DWORD first, WORD entries = 1) {
  std::vector<BYTE> bytes(60, 0);
  bytes[2] = static_cast<BYTE>(entries);
  std::memcpy(&bytes[4], &flags, 4);
  const INT id = 3000;
  std::memcpy(&bytes[32], &id, 4);
  std::memcpy(&bytes[40], &element_size, 4);
  std::memcpy(&bytes[44], &count, 2);
  std::memcpy(&bytes[48], &first, 4);
  return bytes;
}

TEST(BinaryResourceTest, MalformedTablesAreNoMatch) {
  std::vector<BYTE> good = Table(4, 54, 1, 60);
  good.resize(114, 0);
  good[60] = 42;  // element ID
  good[60 + 52] = 7;  // base number
  struct Case {
    const char* name;
    std::vector<BYTE> bytes;
    INT want;
  };
  std::vector<BYTE> short_element = good;
  short_element.resize(100);
  std::vector<BYTE> too_many = Table(4, 54, 2, 60);
  too_many.resize(114, 0);
  too_many[60] = 42;
  too_many[60 + 52] = 9;
  std::vector<BYTE> huge_offset = Table(4, 54, 3, 0xFFFFFFF0u);
  std::vector<BYTE> huge_size = Table(4, 0x80000000u, 3, 60);
  huge_size.resize(200, 0);
  huge_size[60 + 52] = 8;
  std::vector<BYTE> entries_past_end = Table(4, 54, 1, 60, 40);
  entries_past_end[32] = 0;  // the only entry in the bytes is not the media table
  const Case kCases[] = {
      {"good", good, 42},
      {"element_cut_short", short_element, -1},
      {"count_beyond_the_bytes", too_many, -1},
      {"first_element_far_outside", huge_offset, -1},
      {"element_size_wraps", huge_size, -1},
      {"directory_beyond_the_bytes", entries_past_end, -1},
      {"header_only", std::vector<BYTE>(3, 0), -1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    BinaryResource resource;
    ASSERT_TRUE(resource.LoadBytes(c.bytes.data(), static_cast<DWORD>(c.bytes.size())));
    EXPECT_EQ(ConvertBaseMediaId(resource, 7), c.want);
  }
  BinaryResource empty;
  EXPECT_EQ(ConvertBaseMediaId(empty, 7), -1);
}

TEST(BinaryResourceTest, NumberText) {
  struct Case {
    const char* text;
    INT want;
  };
  const Case kCases[] = {{"42", 42},   {"+42", 42},   {"-42", -42}, {"0x1F", 31}, {"0Xff", 255}, {"12ab", 12},
                         {"", 0},      {"x", 0},      {"0x", 0},    {"+-3", 0},   {"0x1g", 1},   {"007", 7},
                         {"0000000000000000000000000000005", 0}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseNumberText(c.text, static_cast<DWORD>(std::strlen(c.text))), c.want);
  }
  EXPECT_EQ(ParseNumberText("12345", 3), 123);
}

TEST(ProfileNameTest, OnlyBareNamesAndTerminatedMessages) {
  struct Case {
    const wchar_t* name;
    bool want;
  };
  const Case kCases[] = {{L"Gloss.icc", true}, {L"a..b.icc", true},      {L"..", false},
                         {L".", false},        {L"..\\up.icc", false},   {L"sub/x.icc", false},
                         {L"C:x.icc", false},  {L"\\\\host\\x.icc", false}, {L"", false}};
  for (const Case& c : kCases) EXPECT_EQ(IsBareProfileName(c.name) != FALSE, c.want) << Narrow(c.name);

  char message[MAX_PATH];
  std::memset(message, 'z', sizeof message);
  const std::wstring long_name(400, L'p');
  FormatProfileMessage(message, L"StockInstaller: InstallColorProfile() failed for file '%s' with error %d\n",
                       long_name.c_str(), 5);
  EXPECT_EQ(std::strlen(message), MAX_PATH - 1u);
  EXPECT_EQ(std::string(message).rfind("StockInstaller: InstallColorProfile() failed for file 'ppp", 0), 0u);
  FormatProfileMessage(message, L"StockInstaller: UninstallColorProfile() failed for file '%s' with error %d\n",
                       L"x.icc", 32);
  EXPECT_STREQ(message, "StockInstaller: UninstallColorProfile() failed for file 'x.icc' with error 32\n");
}

}  // namespace
