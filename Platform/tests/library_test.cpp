#include <dlfcn.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>

#include "machine.h"
#include "pal_testing.h"

namespace {

// The host's maths library, reached through drive Z like any host file.
std::wstring MathLibraryPath() {
  Dl_info info{};
  double (*cosine)(double) = std::cos;
  if (dladdr(reinterpret_cast<void*>(cosine), &info) == 0 || info.dli_fname == nullptr) return L"";
  return pal::ToWindowsPath(info.dli_fname);
}

TEST(LibraryTest, LoadsBindsAndFrees) {
  pal_testing::ScopedMachineRoot root;
  std::wstring path = MathLibraryPath();
  ASSERT_EQ(path.rfind(L"Z:\\", 0), 0u) << pal::ToUtf8(path);
  HMODULE module = LoadLibraryW(path.c_str());
  ASSERT_NE(module, nullptr);
  auto cosine = reinterpret_cast<double (*)(double)>(reinterpret_cast<void (*)()>(GetProcAddress(module, "cos")));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(LibraryTest, MissingAndForeignFilesFail) {
  pal_testing::ScopedMachineRoot root;
  pal_testing::WriteFile(root.drive_c() + "/not_a_library.dll", "MZ but not really");
  struct Case {
    const wchar_t* path;
    DWORD error;
  } cases[] = {
      {L"C:\\missing.dll", ERROR_MOD_NOT_FOUND},
      {L"C:\\not_a_library.dll", ERROR_BAD_EXE_FORMAT},
      {L"Q:\\x.dll", ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(pal::ToUtf8(c.path));
    EXPECT_EQ(LoadLibraryW(c.path), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

}  // namespace
