#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "pal/spooler_admin.h"
#include "pal_testing.h"

namespace {

namespace sp = pal::spooler;

class ColorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_.drive_c() + "/work");
    pal_testing::WriteFile(root_.drive_c() + "/work/a.icc", "profile A");
    ASSERT_EQ(sp::AddDriver({L"D", 3, L"C.DLL", L"D.VIF", L""}), 0u);
    for (const wchar_t* name : {L"q1", L"q2"}) {
      sp::QueueRecord q;
      q.name = name;
      q.driver = L"D";
      ASSERT_EQ(sp::AddQueue(q), 0u);
    }
  }
  std::string Installed(const std::string& name) {
    return root_.drive_c() + "/Windows/System32/spool/drivers/color/" + name;
  }
  pal_testing::ScopedMachineRoot root_;
};

TEST_F(ColorTest, DirectoryBySizeProtocol) {
  DWORD size = 0;
  EXPECT_FALSE(GetColorDirectoryW(nullptr, nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  const std::wstring want = L"C:\\Windows\\System32\\spool\\drivers\\color";
  EXPECT_EQ(size, (want.size() + 1) * sizeof(WCHAR));
  WCHAR buffer[260];
  size = sizeof buffer;
  ASSERT_TRUE(GetColorDirectoryW(nullptr, buffer, &size));
  EXPECT_EQ(std::wstring(buffer), want);
}

TEST_F(ColorTest, InstallUninstallAndAssociate) {
  // Never installed: not found, nothing changes.
  EXPECT_FALSE(UninstallColorProfileW(nullptr, L"a.icc", TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // Association needs the installed profile.
  EXPECT_FALSE(AssociateColorProfileWithDeviceW(nullptr, L"C:\\work\\a.icc", L"q1"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  ASSERT_TRUE(InstallColorProfileW(nullptr, L"C:\\work\\a.icc"));
  EXPECT_EQ(pal_testing::ReadFile(Installed("a.icc")), "profile A");
  EXPECT_FALSE(InstallColorProfileW(nullptr, L"C:\\work\\missing.icc"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  ASSERT_TRUE(AssociateColorProfileWithDeviceW(nullptr, L"C:\\work\\a.icc", L"q2"));
  ASSERT_TRUE(AssociateColorProfileWithDeviceW(nullptr, L"a.icc", L"q2"));  // kept once
  EXPECT_FALSE(AssociateColorProfileWithDeviceW(nullptr, L"a.icc", L"no queue"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  sp::QueueRecord q1, q2;
  ASSERT_EQ(sp::FindQueue(L"q1", &q1), 0u);
  ASSERT_EQ(sp::FindQueue(L"q2", &q2), 0u);
  EXPECT_TRUE(q1.color_profiles.empty());
  EXPECT_EQ(q2.color_profiles, std::vector<std::wstring>{L"a.icc"});

  // A path outside the colour directory never removes anything there or elsewhere.
  EXPECT_FALSE(UninstallColorProfileW(nullptr, L"C:\\work\\a.icc", TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(UninstallColorProfileW(nullptr, L"..", TRUE));
  EXPECT_TRUE(std::filesystem::exists(root_.drive_c() + "/work/a.icc"));

  ASSERT_TRUE(UninstallColorProfileW(nullptr, L"C:\\Windows\\System32\\spool\\drivers\\color\\a.icc", TRUE));
  EXPECT_FALSE(std::filesystem::exists(Installed("a.icc")));
  EXPECT_FALSE(UninstallColorProfileW(nullptr, L"a.icc", TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
