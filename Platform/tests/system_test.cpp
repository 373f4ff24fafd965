// Debugger output, version checks, processor, region and language, UUIDs, special folders.
#include <gtest/gtest.h>
#include <rpc.h>
#include <shlobj.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "machine.h"
#include "pal_testing.h"

namespace {

// Sets an environment variable for one scope (nullopt: unset).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

PAL_CHILD(debug_lines) {
  for (int i = 0; i < 200; ++i) {
    OutputDebugStringW((L"line " + std::to_wstring(i) + L" from " + pal::FromUtf8(args.at(0)) + L"\n").c_str());
  }
  return 0;
}

TEST(DebugOutput, GoesToTheNamedFileOrNowhere) {
  pal_testing::ScopedMachineRoot root;
  std::string file = root.path() + "/debug.txt";
  {
    ScopedEnv env("PAL_DEBUG_OUTPUT", std::nullopt);
    OutputDebugStringW(L"dropped\n");
    struct stat st {};
    EXPECT_NE(stat(file.c_str(), &st), 0);
  }
  ScopedEnv env("PAL_DEBUG_OUTPUT", file);
  OutputDebugStringW(L"wide \u20AC ");
  OutputDebugStringA("narrow\n");
  EXPECT_EQ(pal_testing::ReadFile(file), "wide \xE2\x82\xAC narrow\n");

  // Two processes writing at once never tear each other's texts.
  pal_testing::WriteFile(file, "");
  pal_testing::Child a("debug_lines", {"a"});
  pal_testing::Child b("debug_lines", {"b"});
  EXPECT_EQ(a.Wait(), 0);
  EXPECT_EQ(b.Wait(), 0);
  std::string text = pal_testing::ReadFile(file);
  std::set<std::string> lines;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    ASSERT_NE(end, std::string::npos);
    lines.insert(text.substr(pos, end - pos));
    pos = end + 1;
  }
  EXPECT_EQ(lines.size(), 400u);
  EXPECT_TRUE(lines.count("line 199 from a") && lines.count("line 0 from b"));
}

BOOL AtLeast(DWORD major, DWORD minor, WORD service_pack = 0) {
  OSVERSIONINFOEXW want{};
  want.dwOSVersionInfoSize = sizeof want;
  want.dwMajorVersion = major;
  want.dwMinorVersion = minor;
  want.wServicePackMajor = service_pack;
  DWORDLONG mask = 0;
  VER_SET_CONDITION(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  VER_SET_CONDITION(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  VER_SET_CONDITION(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&want, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask);
}

TEST(Version, EmulatedWindowsVersion) {
  struct Case {
    std::optional<std::string> winver;
    DWORD major, minor;
    BOOL want;
  };
  const Case kCases[] = {
      {std::nullopt, 10, 0, TRUE}, {std::nullopt, 6, 0, TRUE}, {std::nullopt, 10, 1, FALSE},
      {"6.0", 6, 0, TRUE},         {"6.0", 6, 1, FALSE},       {"6.0", 5, 2, TRUE},
      {"6.1", 6, 1, TRUE},         {"6.1", 6, 2, FALSE},       {"6.1", 10, 0, FALSE},
      {"5.1", 6, 0, FALSE},        {"garbage", 10, 0, TRUE},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.winver.value_or("unset") + " >= " + std::to_string(c.major) + "." + std::to_string(c.minor));
    ScopedEnv env("PAL_WINVER", c.winver);
    SetLastError(0);
    EXPECT_EQ(AtLeast(c.major, c.minor), c.want);
    if (!c.want) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OLD_WIN_VERSION));
    }
  }
  // Service pack 1 is asked of a version without one: only a later version passes.
  ScopedEnv env("PAL_WINVER", "6.1");
  EXPECT_FALSE(AtLeast(6, 1, 1));
  EXPECT_TRUE(AtLeast(6, 0, 2));

  EXPECT_EQ(VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL), 3ull << 3);
  EXPECT_EQ(VerSetConditionMask(0, VER_SERVICEPACKMAJOR, VER_EQUAL), 1ull << 15);
  OSVERSIONINFOEXW any{};
  EXPECT_FALSE(VerifyVersionInfoW(&any, 0, 0));
}

TEST(SystemInfo, ArchitectureFollowsTheHost) {
  struct utsname name {};
  ASSERT_EQ(uname(&name), 0);
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  if (std::string(name.machine) == "x86_64") {
    EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
  }
  EXPECT_GE(info.dwNumberOfProcessors, 1u);
  EXPECT_EQ(info.dwPageSize % 4096, 0u);
  BOOL wow = TRUE;
  EXPECT_TRUE(IsWow64Process(GetCurrentProcess(), &wow));
  EXPECT_FALSE(wow);
}

TEST(Region, GeoIdAndLanguageFromTheEnvironment) {
  struct Case {
    std::optional<std::string> value;
    GEOID geo;
  };
  for (const Case& c : {Case{std::nullopt, 244}, Case{"122", 122}, Case{"161832256", 161832256}, Case{"x1", 244},
                        Case{"", 244}}) {
    ScopedEnv env("PAL_GEOID", c.value);
    EXPECT_EQ(GetUserGeoID(GEOCLASS_NATION), c.geo) << c.value.value_or("unset");
  }
  EXPECT_EQ(GetUserGeoID(GEOCLASS_REGION), GEOID_NOT_AVAILABLE);
  {
    ScopedEnv env("PAL_LANGID", std::nullopt);
    EXPECT_EQ(GetUserDefaultUILanguage(), 1033);
  }
  ScopedEnv env("PAL_LANGID", "0x411");
  EXPECT_EQ(GetUserDefaultUILanguage(), 1041);
  EXPECT_EQ(GetUserDefaultLCID(), 1041u);
}

TEST(Uuid, CreatedAndWrittenAsWindowsDoes) {
  UUID a{}, b{};
  ASSERT_EQ(UuidCreate(&a), RPC_S_OK);
  ASSERT_EQ(UuidCreate(&b), RPC_S_OK);
  RPC_WSTR text = nullptr;
  ASSERT_EQ(UuidToStringW(&a, &text), RPC_S_OK);
  std::wstring s = text;
  ASSERT_EQ(s.size(), 36u);
  for (size_t i = 0; i < s.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      EXPECT_EQ(s[i], L'-');
    } else {
      EXPECT_TRUE((s[i] >= L'0' && s[i] <= L'9') || (s[i] >= L'a' && s[i] <= L'f')) << i;
    }
  }
  EXPECT_EQ(s[14], L'4');  // random UUIDs carry version 4
  UUID back{};
  EXPECT_EQ(UuidFromStringW(text, &back), RPC_S_OK);
  EXPECT_EQ(std::memcmp(&a, &back, sizeof a), 0);
  EXPECT_NE(std::memcmp(&a, &b, sizeof a), 0);
  EXPECT_EQ(RpcStringFreeW(&text), RPC_S_OK);
  EXPECT_EQ(text, nullptr);

  UUID known{0x12345678, 0x9abc, 0xdef0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};
  RPC_CSTR narrow = nullptr;
  ASSERT_EQ(UuidToStringA(&known, &narrow), RPC_S_OK);
  EXPECT_STREQ(reinterpret_cast<char*>(narrow), "12345678-9abc-def0-0123-456789abcdef");
  RpcStringFreeA(&narrow);
  wchar_t bad[] = L"12345678-9abc-def0-0123-456789abcdeg";
  EXPECT_EQ(UuidFromStringW(bad, &back), RPC_S_INVALID_STRING_UUID);
}

TEST(ShellFolders, FixedPlacesOnDriveC) {
  pal_testing::ScopedMachineRoot root;
  const std::map<int, std::wstring> kFolders = {
      {CSIDL_PROGRAM_FILES, L"C:\\Program Files"},     {CSIDL_PROGRAM_FILESX86, L"C:\\Program Files (x86)"},
      {CSIDL_COMMON_APPDATA, L"C:\\ProgramData"},       {CSIDL_WINDOWS, L"C:\\Windows"},
      {CSIDL_SYSTEM, L"C:\\Windows\\System32"},
  };
  for (const auto& [csidl, want] : kFolders) {
    wchar_t path[MAX_PATH] = {};
    EXPECT_TRUE(SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE));
    EXPECT_EQ(std::wstring(path), want);
    EXPECT_EQ(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    EXPECT_EQ(std::wstring(path), want);
  }
  char narrow[MAX_PATH];
  EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, narrow), S_OK);
  EXPECT_STREQ(narrow, "C:\\ProgramData");

  // Nothing is created unless asked for.
  struct stat st {};
  EXPECT_NE(stat((root.drive_c() + "/ProgramData").c_str(), &st), 0);
  wchar_t path[MAX_PATH];
  EXPECT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_COMMON_APPDATA, TRUE));
  EXPECT_EQ(stat((root.drive_c() + "/ProgramData").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_SYSTEM | CSIDL_FLAG_CREATE, nullptr, 0, path), S_OK);
  EXPECT_EQ(stat((root.drive_c() + "/Windows/System32").c_str(), &st), 0);

  EXPECT_FALSE(SHGetSpecialFolderPathW(nullptr, path, 0x0005 /* CSIDL_PERSONAL */, FALSE));
  EXPECT_TRUE(FAILED(SHGetFolderPathW(nullptr, 0x0005, nullptr, 0, path)));
}

}  // namespace
