#include "machine.h"

#include <cstdlib>
#include <vector>

#include "pal/errors.h"

namespace pal {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Splits on either separator, resolves "." and "..", never above the root.
std::vector<std::wstring_view> NormalizedComponents(std::wstring_view rest) {
  std::vector<std::wstring_view> parts;
  size_t i = 0;
  while (i <= rest.size()) {
    size_t j = i;
    while (j < rest.size() && !IsSeparator(rest[j])) ++j;
    std::wstring_view part = rest.substr(i, j - i);
    if (part.empty() || part == L".") {
    } else if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
    } else {
      parts.push_back(part);
    }
    i = j + 1;
  }
  return parts;
}

std::string JoinUnder(std::string base, std::wstring_view rest) {
  for (std::wstring_view part : NormalizedComponents(rest)) {
    if (base.empty() || base.back() != '/') base += '/';
    base += ToUtf8(part);
  }
  if (base.empty()) base = "/";
  return base;
}

}  // namespace

std::string MachineRoot() {
  const char* env = std::getenv("PAL_ROOT");
  std::string root = (env != nullptr && *env != '\0') ? env : kDefaultMachineRoot;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::string DriveCRoot() { return MachineRoot() + "/drive_c"; }

Result<std::string> MapWindowsPath(std::wstring_view path, std::string_view machine_root,
                                   std::string_view host_cwd) {
  // Win32 file namespace prefix "\\?\" carries an ordinary absolute path.
  if (path.size() >= 4 && path.substr(0, 4) == L"\\\\?\\") path.remove_prefix(4);
  const std::string drive_c = std::string(machine_root) + "/drive_c";
  if (path.size() >= 2 && path[1] == L':') {
    wchar_t drive = path[0];
    if (drive == L'c' || drive == L'C') return JoinUnder(drive_c, path.substr(2));
    if (drive == L'z' || drive == L'Z') return JoinUnder("/", path.substr(2));
    return Win32Error(ERROR_PATH_NOT_FOUND);
  }
  if (!path.empty() && IsSeparator(path[0])) {
    if (path.size() >= 2 && IsSeparator(path[1])) return Win32Error(ERROR_BAD_PATHNAME);  // UNC
    bool on_c = host_cwd == drive_c ||
                (host_cwd.size() > drive_c.size() && host_cwd.substr(0, drive_c.size()) == drive_c &&
                 host_cwd[drive_c.size()] == '/');
    return JoinUnder(on_c ? drive_c : "/", path);
  }
  std::string relative;
  for (wchar_t c : path) {
    if (c == L'\\') {
      relative += '/';
    } else {
      relative += ToUtf8(std::wstring_view(&c, 1));
    }
  }
  return relative;
}

std::wstring MapHostPath(std::string_view host_path, std::string_view machine_root) {
  const std::string drive_c = std::string(machine_root) + "/drive_c";
  std::string_view rest;
  std::wstring out;
  if (host_path == drive_c ||
      (host_path.size() > drive_c.size() && host_path.substr(0, drive_c.size()) == drive_c &&
       host_path[drive_c.size()] == '/')) {
    out = L"C:";
    rest = host_path.substr(drive_c.size());
  } else {
    out = L"Z:";
    rest = host_path;
  }
  std::wstring wide_rest = FromUtf8(rest);
  for (wchar_t& c : wide_rest) {
    if (c == L'/') c = L'\\';
  }
  if (wide_rest.empty()) wide_rest = L"\\";
  return out + wide_rest;
}

std::string ToUtf8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (wchar_t wc : wide) {
    auto c = static_cast<uint32_t>(wc);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::wstring FromUtf8(std::string_view s) {
  std::wstring out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    auto b = static_cast<unsigned char>(s[i]);
    uint32_t c = 0;
    size_t n = 0;
    if (b < 0x80) {
      c = b;
      n = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      n = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      n = 2;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      n = 3;
    } else {
      out += L'\uFFFD';
      ++i;
      continue;
    }
    bool ok = true;
    for (size_t k = 1; k <= n; ++k) {
      if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    if (!ok) {
      out += L'\uFFFD';
      ++i;
      continue;
    }
    out += static_cast<wchar_t>(c);
    i += n + 1;
  }
  return out;
}

}  // namespace pal
