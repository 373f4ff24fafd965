#include <unistd.h>

#include <string>

#include "machine.h"

namespace pal {

Result<std::string> ToHostPath(std::wstring_view windows_path) {
  char buffer[4096];
  const char* cwd = getcwd(buffer, sizeof buffer);
  return MapWindowsPath(windows_path, MachineRoot(), cwd != nullptr ? cwd : "/");
}

std::wstring ToWindowsPath(std::string_view host_path) {
  if (!host_path.empty() && host_path[0] != '/') {
    char buffer[4096];
    const char* cwd = getcwd(buffer, sizeof buffer);
    std::string absolute = std::string(cwd != nullptr ? cwd : "") + "/" + std::string(host_path);
    return MapHostPath(absolute, MachineRoot());
  }
  return MapHostPath(host_path, MachineRoot());
}

}  // namespace pal
