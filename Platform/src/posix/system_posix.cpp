// Debugger output, the emulated Windows version, processor and locale answers, UUIDs and
// the shell's special folders.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "machine.h"
#include "pal/errors.h"
#include "pal/system.h"
#include "pal/text.h"
#include "rpc.h"
#include "shlobj.h"
#include "system_values.h"
#include "text_codepage.h"

namespace pal {
namespace {

void WriteDebugOutput(std::string_view bytes) {
  const char* target = std::getenv("PAL_DEBUG_OUTPUT");
  if (target == nullptr || *target == '\0' || bytes.empty()) return;
  if (std::strcmp(target, "-") == 0) {
    (void)!write(STDERR_FILENO, bytes.data(), bytes.size());
    return;
  }
  // One O_APPEND write per call: texts of concurrent processes stay whole.
  int fd = open(target, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return;
  (void)!write(fd, bytes.data(), bytes.size());
  close(fd);
}

WORD ArchitectureOf(std::string_view machine) {
  if (machine == "x86_64") return PROCESSOR_ARCHITECTURE_AMD64;
  if (machine == "aarch64" || machine == "arm64") return PROCESSOR_ARCHITECTURE_ARM64;
  if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") return PROCESSOR_ARCHITECTURE_INTEL;
  if (machine.substr(0, 3) == "arm") return PROCESSOR_ARCHITECTURE_ARM;
  return PROCESSOR_ARCHITECTURE_UNKNOWN;
}

void FillSystemInfo(LPSYSTEM_INFO info, WORD architecture) {
  *info = SYSTEM_INFO{};
  info->wProcessorArchitecture = architecture;
  long page = sysconf(_SC_PAGESIZE);
  info->dwPageSize = page > 0 ? static_cast<DWORD>(page) : 4096;
  info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
  info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(sizeof(void*) == 8 ? 0x7FFFFFFEFFFFULL : 0x7FFEFFFFULL);
  long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  info->dwNumberOfProcessors = cpus > 0 ? static_cast<DWORD>(cpus) : 1;
  info->dwActiveProcessorMask =
      info->dwNumberOfProcessors >= sizeof(DWORD_PTR) * 8 ? ~DWORD_PTR{0} : (DWORD_PTR{1} << info->dwNumberOfProcessors) - 1;
  info->dwAllocationGranularity = 65536;
  info->dwProcessorType = architecture == PROCESSOR_ARCHITECTURE_INTEL ? 586 : 8664;
  info->wProcessorLevel = 6;
}

std::optional<std::wstring> FolderPath(int csidl) {
  switch (csidl & ~CSIDL_FLAG_MASK) {
    case CSIDL_PROGRAM_FILES: return L"C:\\Program Files";
    case CSIDL_PROGRAM_FILESX86: return L"C:\\Program Files (x86)";
    case CSIDL_COMMON_APPDATA: return L"C:\\ProgramData";
    case CSIDL_WINDOWS: return L"C:\\Windows";
    case CSIDL_SYSTEM: return L"C:\\Windows\\System32";
    default: return std::nullopt;
  }
}

bool CreateHostFolders(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string part = path.substr(0, pos);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// The known folders of a Windows machine always exist; a machine root that lacks one is
// answered as if it had it, and it is created on request.
HRESULT LookUpFolder(int csidl, bool create, std::wstring* out) {
  auto path = FolderPath(csidl);
  if (!path) return E_FAIL;
  if (create) {
    auto host = ToHostPath(*path);
    if (!host.ok() || !CreateHostFolders(*host)) return E_FAIL;
  }
  *out = *path;
  return S_OK;
}

}  // namespace

WindowsVersion EmulatedWindowsVersion() {
  WindowsVersion v;
  const char* text = std::getenv("PAL_WINVER");
  if (text != nullptr) {
    auto parsed = ParseWindowsVersion(text);
    if (parsed) v = *parsed;
  }
  return v;
}

}  // namespace pal

void WINAPI OutputDebugStringW(LPCWSTR lpOutputString) {
  if (lpOutputString != nullptr) pal::WriteDebugOutput(pal::ToUtf8(lpOutputString));
}

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
  if (lpOutputString != nullptr) pal::WriteDebugOutput(lpOutputString);
}

BOOL WINAPI VerifyVersionInfoW(LPOSVERSIONINFOEXW lpVersionInformation, DWORD dwTypeMask,
                               DWORDLONG dwlConditionMask) {
  if (lpVersionInformation == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD error = pal::VerifyVersion(pal::EmulatedWindowsVersion(), *lpVersionInformation, dwTypeMask,
                                   dwlConditionMask);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
  struct utsname name {};
  uname(&name);
  pal::FillSystemInfo(lpSystemInfo, pal::ArchitectureOf(name.machine));
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
#if defined(__x86_64__)
  pal::FillSystemInfo(lpSystemInfo, PROCESSOR_ARCHITECTURE_AMD64);
#elif defined(__i386__)
  pal::FillSystemInfo(lpSystemInfo, PROCESSOR_ARCHITECTURE_INTEL);
#elif defined(__aarch64__)
  pal::FillSystemInfo(lpSystemInfo, PROCESSOR_ARCHITECTURE_ARM64);
#else
  GetNativeSystemInfo(lpSystemInfo);
#endif
}

BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) {
  if (Wow64Process == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *Wow64Process = FALSE;
  return TRUE;
}

GEOID WINAPI GetUserGeoID(DWORD GeoClass) {
  if (GeoClass != GEOCLASS_NATION) return GEOID_NOT_AVAILABLE;
  return pal::ParseEnvNumber(std::getenv("PAL_GEOID"), pal::kDefaultGeoId);
}

LANGID WINAPI GetUserDefaultUILanguage() {
  return static_cast<LANGID>(pal::ParseEnvNumber(std::getenv("PAL_LANGID"), pal::kDefaultLangId));
}
LANGID WINAPI GetUserDefaultLangID() { return GetUserDefaultUILanguage(); }
LANGID WINAPI GetSystemDefaultLangID() { return GetUserDefaultUILanguage(); }
LCID WINAPI GetUserDefaultLCID() { return GetUserDefaultUILanguage(); }

RPC_STATUS WINAPI UuidCreate(UUID* Uuid) {
  if (Uuid == nullptr) return RPC_S_INVALID_ARG;
  uuid_t raw;
  uuid_generate_random(raw);
  *Uuid = pal::GuidFromBytes(raw);
  return RPC_S_OK;
}

RPC_STATUS WINAPI UuidToStringW(const UUID* Uuid, RPC_WSTR* StringUuid) {
  if (Uuid == nullptr || StringUuid == nullptr) return RPC_S_INVALID_ARG;
  std::string text = pal::GuidText(*Uuid);
  auto* out = new (std::nothrow) wchar_t[text.size() + 1];
  if (out == nullptr) return RPC_S_OUT_OF_MEMORY;
  for (size_t i = 0; i <= text.size(); ++i) out[i] = static_cast<wchar_t>(text.c_str()[i]);
  *StringUuid = out;
  return RPC_S_OK;
}

RPC_STATUS WINAPI UuidToStringA(const UUID* Uuid, RPC_CSTR* StringUuid) {
  if (Uuid == nullptr || StringUuid == nullptr) return RPC_S_INVALID_ARG;
  std::string text = pal::GuidText(*Uuid);
  auto* out = new (std::nothrow) unsigned char[text.size() + 1];
  if (out == nullptr) return RPC_S_OUT_OF_MEMORY;
  std::memcpy(out, text.c_str(), text.size() + 1);
  *StringUuid = out;
  return RPC_S_OK;
}

RPC_STATUS WINAPI UuidFromStringW(RPC_WSTR StringUuid, UUID* Uuid) {
  if (Uuid == nullptr) return RPC_S_INVALID_ARG;
  if (StringUuid == nullptr) {
    *Uuid = UUID{};  // Windows answers the nil UUID for a null string.
    return RPC_S_OK;
  }
  auto parsed = pal::ParseGuidText(pal::ToUtf8(StringUuid));
  if (!parsed) return RPC_S_INVALID_STRING_UUID;
  *Uuid = *parsed;
  return RPC_S_OK;
}

RPC_STATUS WINAPI RpcStringFreeW(RPC_WSTR* String) {
  if (String == nullptr) return RPC_S_INVALID_ARG;
  delete[] *String;
  *String = nullptr;
  return RPC_S_OK;
}

RPC_STATUS WINAPI RpcStringFreeA(RPC_CSTR* String) {
  if (String == nullptr) return RPC_S_INVALID_ARG;
  delete[] *String;
  *String = nullptr;
  return RPC_S_OK;
}

BOOL WINAPI SHGetSpecialFolderPathW(HWND hwnd, LPWSTR pszPath, int csidl, BOOL fCreate) {
  std::wstring path;
  if (pszPath == nullptr || FAILED(pal::LookUpFolder(csidl, fCreate != FALSE, &path)) ||
      path.size() >= MAX_PATH) {
    return FALSE;
  }
  wcscpy(pszPath, path.c_str());
  return TRUE;
}

HRESULT WINAPI SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath) {
  std::wstring path;
  if (pszPath == nullptr) return E_FAIL;
  HRESULT hr = pal::LookUpFolder(csidl, (csidl & CSIDL_FLAG_CREATE) != 0, &path);
  if (FAILED(hr)) return hr;
  wcscpy(pszPath, path.c_str());
  return S_OK;
}

HRESULT WINAPI SHGetFolderPathA(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPSTR pszPath) {
  std::wstring path;
  if (pszPath == nullptr) return E_FAIL;
  HRESULT hr = pal::LookUpFolder(csidl, (csidl & CSIDL_FLAG_CREATE) != 0, &path);
  if (FAILED(hr)) return hr;
  std::string ansi = pal::AnsiFromWide(path);
  std::memcpy(pszPath, ansi.c_str(), ansi.size() + 1);
  return S_OK;
}
