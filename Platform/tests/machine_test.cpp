#include "machine.h"

#include <gtest/gtest.h>

#include "pal/errors.h"

namespace pal {
namespace {

TEST(MachinePathTest, MapsWindowsPathsOntoTheMachineRoot) {
  struct Case {
    const char* name;
    std::wstring_view in;
    const char* cwd;
    std::string_view want;
  };
  const Case kCases[] = {
      {"drive_root", LR"(C:\)", "/x", "/r/drive_c"},
      {"mixed_separators", LR"(C:\a/b)", "/x", "/r/drive_c/a/b"},
      {"lower_case_drive", LR"(c:\x)", "/x", "/r/drive_c/x"},
      {"drive_z_is_host_root", LR"(Z:\usr\bin\7za)", "/x", "/usr/bin/7za"},
      {"dot_dot_stays_on_drive", LR"(C:\a\..\..\..\etc)", "/x", "/r/drive_c/etc"},
      {"dot_and_doubled_separators", LR"(C:\a\.\\b\)", "/x", "/r/drive_c/a/b"},
      {"rooted_on_drive_c", LR"(\Windows\x)", "/r/drive_c/tmp", "/r/drive_c/Windows/x"},
      {"rooted_on_drive_z", LR"(\tmp\x)", "/home", "/tmp/x"},
      {"relative_stays_relative", LR"(a\b.txt)", "/x", "a/b.txt"},
      {"file_namespace_prefix", LR"(\\?\C:\a)", "/x", "/r/drive_c/a"},
      {"non_ascii", L"C:\\caf\u00e9", "/x", "/r/drive_c/caf\xc3\xa9"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Result<std::string> got = MapWindowsPath(c.in, "/r", c.cwd);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(*got, c.want);
  }
}

TEST(MachinePathTest, OtherDrivesAreNotFound) {
  Result<std::string> got = MapWindowsPath(LR"(D:\x)", "/r", "/");
  ASSERT_FALSE(got.ok());
  EXPECT_EQ(got.error().value(), ERROR_PATH_NOT_FOUND);
}

TEST(MachinePathTest, HostPathsGetTheirDrive) {
  EXPECT_EQ(MapHostPath("/r/drive_c/Program Files/x.exe", "/r"), LR"(C:\Program Files\x.exe)");
  EXPECT_EQ(MapHostPath("/r/drive_c", "/r"), LR"(C:\)");
  EXPECT_EQ(MapHostPath("/r/drive_cx/y", "/r"), LR"(Z:\r\drive_cx\y)");
  EXPECT_EQ(MapHostPath("/usr/bin/7za", "/r"), LR"(Z:\usr\bin\7za)");
}

TEST(MachinePathTest, Utf8RoundTrip) {
  std::wstring text = L"a\u00e9\u20ac\U0001F600";
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(FromUtf8("a\xff" "b"), L"a\uFFFD" L"b");
  EXPECT_EQ(FromUtf8("\xe2\x82"), L"\uFFFD\uFFFD");
}

}  // namespace
}  // namespace pal
