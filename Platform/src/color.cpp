// Colour management on the emulated machine: profiles are files in the colour directory,
// associations are recorded per queue in the spooler database.
#include <cstring>
#include <string>

#include "color_files.h"
#include "machine.h"
#include "pal/color.h"
#include "pal/errors.h"
#include "pal/spooler_admin.h"
#include "result.h"
#include "spooler_db.h"

namespace {

bool IsLocal(PCWSTR machine) { return machine == nullptr || *machine == 0; }

std::wstring_view BaseName(std::wstring_view path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

bool IsPlainFileName(std::wstring_view name) {
  return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/:") == std::wstring_view::npos;
}

// The profile's file name when `profile` names one in the colour directory (a bare name, or
// a path whose folder is the colour directory), else empty.
std::wstring InstalledName(PCWSTR profile) {
  std::wstring_view view(profile);
  std::wstring_view base = BaseName(view);
  if (!IsPlainFileName(base)) return L"";
  if (base.size() == view.size()) return std::wstring(base);
  pal::Result<std::string> folder = pal::ToHostPath(std::wstring(view.substr(0, view.size() - base.size())));
  pal::Result<std::string> colour = pal::ToHostPath(pal::spooler::ColorFolder());
  if (!folder || !colour) return L"";
  std::string a = folder.value(), b = colour.value();
  while (!a.empty() && a.back() == '/') a.pop_back();
  while (!b.empty() && b.back() == '/') b.pop_back();
  return a == b ? std::wstring(base) : L"";
}

std::string ColourHostPath(std::wstring_view file_name) {
  pal::Result<std::string> host = pal::ToHostPath(pal::spooler::ColorFolder() + L"\\" + std::wstring(file_name));
  return host ? host.value() : std::string();
}

}  // namespace

BOOL WINAPI GetColorDirectoryW(PCWSTR pMachineName, PWSTR pBuffer, PDWORD pdwSize) {
  if (pdwSize == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  if (!IsLocal(pMachineName)) return pal::Fail(pal::Win32Error(ERROR_NOT_SUPPORTED), FALSE);
  const std::wstring folder = pal::spooler::ColorFolder();
  const DWORD needed = static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t));
  if (pBuffer == nullptr || *pdwSize < needed) {
    *pdwSize = needed;
    return pal::Fail(pal::Win32Error(ERROR_INSUFFICIENT_BUFFER), FALSE);
  }
  std::memcpy(pBuffer, folder.c_str(), needed);
  *pdwSize = needed;
  return TRUE;
}

BOOL WINAPI InstallColorProfileW(PCWSTR pMachineName, PCWSTR pProfileName) {
  if (!IsLocal(pMachineName)) return pal::Fail(pal::Win32Error(ERROR_NOT_SUPPORTED), FALSE);
  if (pProfileName == nullptr || *pProfileName == 0) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  std::wstring_view base = BaseName(pProfileName);
  if (!IsPlainFileName(base)) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  pal::Result<std::string> source = pal::ToHostPath(pProfileName);
  if (!source) return pal::Fail(source.error(), FALSE);
  if (!pal::color::HostFileExists(source.value())) return pal::Fail(pal::Win32Error(ERROR_FILE_NOT_FOUND), FALSE);
  pal::Result<std::string> folder = pal::ToHostPath(pal::spooler::ColorFolder());
  if (!folder) return pal::Fail(folder.error(), FALSE);
  if (DWORD err = pal::color::HostMakeFolders(folder.value()); err != 0) return pal::Fail(pal::Win32Error(err), FALSE);
  const std::string target = ColourHostPath(base);
  if (target == source.value()) return TRUE;  // installing the installed copy
  if (DWORD err = pal::color::HostCopyFile(source.value(), target); err != 0)
    return pal::Fail(pal::Win32Error(err), FALSE);
  return TRUE;
}

BOOL WINAPI UninstallColorProfileW(PCWSTR pMachineName, PCWSTR pProfileName, BOOL bDelete) {
  if (!IsLocal(pMachineName)) return pal::Fail(pal::Win32Error(ERROR_NOT_SUPPORTED), FALSE);
  if (pProfileName == nullptr || *pProfileName == 0) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  std::wstring name = InstalledName(pProfileName);
  if (name.empty()) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  const std::string path = ColourHostPath(name);
  if (!pal::color::HostFileExists(path)) return pal::Fail(pal::Win32Error(ERROR_FILE_NOT_FOUND), FALSE);
  // Without bDelete Windows only forgets the registration; a profile here is its file, so
  // the file goes either way.
  (void)bDelete;
  if (DWORD err = pal::color::HostRemoveFile(path); err != 0) return pal::Fail(pal::Win32Error(err), FALSE);
  return TRUE;
}

BOOL WINAPI AssociateColorProfileWithDeviceW(PCWSTR pMachineName, PCWSTR pProfileName, PCWSTR pDeviceName) {
  if (!IsLocal(pMachineName)) return pal::Fail(pal::Win32Error(ERROR_NOT_SUPPORTED), FALSE);
  if (pProfileName == nullptr || pDeviceName == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  std::wstring_view base = BaseName(pProfileName);
  if (!IsPlainFileName(base)) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  if (!pal::color::HostFileExists(ColourHostPath(base))) return pal::Fail(pal::Win32Error(ERROR_FILE_NOT_FOUND), FALSE);
  if (DWORD err = pal::spooler::AssociateProfile(pDeviceName, std::wstring(base)); err != 0)
    return pal::Fail(pal::Win32Error(err), FALSE);
  return TRUE;
}
