#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <set>
#include <string>

#include "CfgxLibrary.h"
#include "pal_testing.h"
#include "test_driver.h"

namespace {

const std::set<std::string> kSubstituteExports = {
    "VD_CFGXInitEx", "VD_CFGXAddCustomElement", "VD_CFGXSetFunctionElementNameString",
    "VD_CFGXSetFunctionElementAttribute", "VD_CFGXDeleteBinFiles", "VD_CFGXSave", "VD_CFGXExit"};

TEST(CfgxLibraryTest, BindsTheNamesInOrderAndLeavesMissingOnesEmpty) {
  pal_testing::ScopedMachineRoot root;
  test_driver::PlaceFile(root, VD_CFGX_PATH, "NVTQCFGX.DLL");
  EXPECT_STREQ(g_szCfgxEntryNames[kCfgxInitEx], "VD_CFGXInitEx");
  EXPECT_STREQ(g_szCfgxEntryNames[kCfgxSave], "VD_CFGXSave");
  EXPECT_STREQ(g_szCfgxEntryNames[kCfgxAddRecommendData], "VD_CFGXAddRecommendData");
  CCfgxLibrary library;
  ASSERT_TRUE(library.Load(L"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\NVTQCFGX.DLL"));
  for (int i = 0; i < kCfgxEntryCount; ++i) {
    SCOPED_TRACE(g_szCfgxEntryNames[i]);
    EXPECT_EQ(library.Entry(static_cast<CfgxEntry>(i)) != nullptr, kSubstituteExports.count(g_szCfgxEntryNames[i]) == 1);
  }
}

TEST(CfgxLibraryTest, MissingModuleOrEntry) {
  pal_testing::ScopedMachineRoot root;
  CCfgxLibrary library;
  EXPECT_FALSE(library.Load(L"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\NVTQCFGX.DLL"));
  EXPECT_FALSE(library.IsLoaded());
  test_driver::PlaceFile(root, VD_CFGX_NOINITEX_PATH, "NOINIT.DLL");
  ASSERT_TRUE(library.Load(L"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\NOINIT.DLL"));
  EXPECT_EQ(library.Entry(kCfgxInitEx), nullptr);
  EXPECT_NE(library.Entry(kCfgxSave), nullptr);
}

TEST(CfgxLibraryTest, ModuleKeepsWhatItIsGivenAndSavesIt) {
  pal_testing::ScopedMachineRoot root;
  test_driver::PlaceFile(root, VD_CFGX_PATH, "NVTQCFGX.DLL");
  const std::string driver = test_driver::DriverFolder(root);
  pal_testing::WriteFile(driver + "/TQ770.VIF", "[CommonDrvInfo]\r\n");
  pal_testing::WriteFile(driver + "/cache.bcf", "stale");
  std::filesystem::create_directories(root.drive_c() + "/ProgramData/MORLI/NORVANTE TQ770");

  CCfgxLibrary library;
  ASSERT_TRUE(library.Load(L"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\NVTQCFGX.DLL"));
  auto init = library.Bound<PFN_VD_CFGXInitEx>(kCfgxInitEx);
  ASSERT_EQ(init(library.ConfigHandle(), L"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\TQ770.VIF",
                 L"C:\\Windows\\System32\\spool\\drivers\\x64\\3", L"TQ770", 1),
            0);
  ASSERT_NE(library.Config(), nullptr);
  HANDLE config = library.Config();
  EXPECT_EQ(library.Bound<PFN_VD_CFGXAddCustomElement>(kCfgxAddCustomElement)(config, 1, 4464, 12), 0);
  EXPECT_NE(library.Bound<PFN_VD_CFGXAddCustomElement>(kCfgxAddCustomElement)(config, 1, 4464, 12), 0);
  auto name = library.Bound<PFN_VD_CFGXSetFunctionElementNameString>(kCfgxSetFunctionElementNameString);
  EXPECT_EQ(name(config, 1, 4464, L"Fine Art \x00e9", 0x0409), 0);
  EXPECT_EQ(name(config, 1, 4464, L"", 0x0412), 0);
  EXPECT_NE(name(config, 1, 999, L"unknown element", 0x0409), 0);
  EXPECT_EQ(library.Bound<PFN_VD_CFGXSetFunctionElementAttribute>(kCfgxSetFunctionElementAttribute)(
                config, 1, 4464, 26, 70000),
            0);
  HANDLE printer = reinterpret_cast<HANDLE>(1);
  EXPECT_EQ(library.Bound<PFN_VD_CFGXDeleteBinFiles>(kCfgxDeleteBinFiles)(printer), 0);
  EXPECT_FALSE(std::filesystem::exists(driver + "/cache.bcf"));
  auto save = library.Bound<PFN_VD_CFGXSave>(kCfgxSave);
  EXPECT_NE(save(config, L"C:\\ProgramData\\MORLI\\missing"), 0);
  ASSERT_EQ(save(config, L"C:\\ProgramData\\MORLI\\NORVANTE TQ770"), 0);
  library.TearDown();
  EXPECT_EQ(library.Config(), nullptr);
  EXPECT_FALSE(library.IsLoaded());

  std::string saved = pal_testing::ReadFile(root.drive_c() + "/ProgramData/MORLI/NORVANTE TQ770/CustomMedia.ini");
  for (const char* line : {"Queue=TQ770\r\n", "[Element4464]\r\n", "BaseElement=12\r\n", "Attribute26=70000\r\n",
                           "Name0409=Fine Art \xC3\xA9\r\n", "Name0412=\r\n"})
    EXPECT_NE(saved.find(line), std::string::npos) << line << "\n" << saved;
}

}  // namespace
