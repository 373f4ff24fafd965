// The emulated machine: one host folder ($PAL_ROOT) is one Windows machine. Drive C is
// $PAL_ROOT/drive_c, drive Z is the host's /. Other drives fail with ERROR_PATH_NOT_FOUND.
#pragma once

#include <string>
#include <string_view>

#include "result.h"

namespace pal {

// Folder used when PAL_ROOT is unset.
inline constexpr const char* kDefaultMachineRoot = "/var/lib/tq770/machine";

// Host folder of the machine root, without a trailing slash: $PAL_ROOT or the default.
std::string MachineRoot();

// Host folder of drive C.
std::string DriveCRoot();

// Pure mapping of a Windows path to a host path. `machine_root` is the host folder of the
// machine; `host_cwd` the host's current folder (decides the current drive for paths that
// begin with a separator). Both separators are accepted; "." and ".." of absolute paths
// are resolved lexically and never climb above the drive's root. Relative paths stay
// relative (the host resolves them against its current folder).
Result<std::string> MapWindowsPath(std::wstring_view windows_path, std::string_view machine_root,
                                   std::string_view host_cwd);

// MapWindowsPath against this process's machine root and current folder.
Result<std::string> ToHostPath(std::wstring_view windows_path);

// The Windows path of an absolute host path: C:\... below drive_c, else Z:\...
std::wstring MapHostPath(std::string_view host_path, std::string_view machine_root);
std::wstring ToWindowsPath(std::string_view host_path);

// UTF-8 <-> wide. Invalid UTF-8 bytes become U+FFFD.
std::string ToUtf8(std::wstring_view wide);
std::wstring FromUtf8(std::string_view utf8);

}  // namespace pal
