// Host file operations behind the colour management face (POSIX backend).
#pragma once

#include <string>

#include "pal/base.h"

namespace pal::color {

bool HostFileExists(const std::string& path);  // a regular file
// Copies `from` to `to` (replacing it) through a temporary file; returns a Win32 error.
DWORD HostCopyFile(const std::string& from, const std::string& to);
DWORD HostRemoveFile(const std::string& path);
DWORD HostMakeFolders(const std::string& path);

}  // namespace pal::color
