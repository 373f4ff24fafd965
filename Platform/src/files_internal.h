// File services the other areas of the layer build on (the INI files in particular).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <system_error>

#include "result.h"

namespace pal {

// The whole content of a host file; ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when missing.
Result<std::string> ReadWholeHostFile(const std::string& host_path);

// Receives the current content (nullopt when the file does not exist) and returns the new
// content, or nullopt to leave the file as it is.
using FileEdit = std::function<std::optional<std::string>(const std::optional<std::string>& current)>;

// Read-modify-write of a whole file as one step: under an exclusive lock that every process
// of the machine takes for the file's folder, the edit sees the current content, and the
// result is written to a temporary file in the same folder and renamed over the original.
// A writer killed at any point leaves the old or the new content, never a mix.
std::error_code RewriteHostFile(const std::string& host_path, const FileEdit& edit);

}  // namespace pal
