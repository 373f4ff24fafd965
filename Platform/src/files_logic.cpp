#include "files_logic.h"

#include <vector>

#include "text_codepage.h"

namespace pal {

bool HasWildcard(std::wstring_view pattern) {
  return pattern.find_first_of(L"*?") != std::wstring_view::npos;
}

bool MatchesWildcard(std::wstring_view pattern, std::wstring_view name) {
  if (pattern == L"*.*") pattern = L"*";
  size_t p = 0;
  size_t n = 0;
  size_t star = std::wstring_view::npos;
  size_t star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == L'*') {
      star = p++;
      star_n = n;
    } else if (p < pattern.size() &&
               (pattern[p] == L'?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::wstring_view::npos) {
      // Let the last star swallow one more character and retry from there.
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

std::optional<StreamMode> ParseStreamMode(std::wstring_view mode) {
  StreamMode m;
  if (mode.empty()) return std::nullopt;
  bool plus = false;
  bool exclusive = false;
  bool text_seen = false;
  bool binary_seen = false;
  for (size_t i = 1; i < mode.size(); ++i) {
    switch (mode[i]) {
      case L'+':
        if (plus) return std::nullopt;
        plus = true;
        break;
      case L't': text_seen = true; break;
      case L'b': binary_seen = true; break;
      case L'x': exclusive = true; break;
      case L'c': case L'n': case L'N': case L'S': case L'R': case L'T': case L'D': case L' ':
        break;
      default:
        // Encoded streams (", ccs=...") and anything else are not supported.
        return std::nullopt;
    }
  }
  if (text_seen && binary_seen) return std::nullopt;
  m.text = !binary_seen;
  switch (mode[0]) {
    case L'r':
      if (exclusive) return std::nullopt;
      m.access = plus ? (kShareRead | kShareWrite) : kShareRead;
      m.disposition = Disposition::kOpenExisting;
      m.host_mode = plus ? "r+" : "r";
      break;
    case L'w':
      m.access = plus ? (kShareRead | kShareWrite) : kShareWrite;
      m.disposition = exclusive ? Disposition::kCreateNew : Disposition::kCreateAlways;
      m.host_mode = plus ? "w+" : "w";
      break;
    case L'a':
      if (exclusive) return std::nullopt;
      m.access = plus ? (kShareRead | kShareWrite) : kShareWrite;
      m.disposition = Disposition::kOpenAlways;
      m.append = true;
      m.host_mode = plus ? "a+" : "a";
      break;
    default:
      return std::nullopt;
  }
  return m;
}

std::optional<unsigned> ShareFromFlag(int shflag, unsigned access) {
  switch (shflag) {
    case 0x10: return 0u;                           // _SH_DENYRW
    case 0x20: return unsigned{kShareRead};         // _SH_DENYWR
    case 0x30: return unsigned{kShareWrite};        // _SH_DENYRD
    case 0x40: return kShareRead | kShareWrite;     // _SH_DENYNO
    case 0x80:                                      // _SH_SECURE
      return access == kShareRead ? unsigned{kShareRead} : 0u;
    default: return std::nullopt;
  }
}

std::string ToCrLf(std::string_view data) {
  std::string out;
  out.reserve(data.size() + data.size() / 16 + 1);
  for (char c : data) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string FromCrLf(std::string_view data, bool* pending_cr, bool at_end) {
  std::string out;
  out.reserve(data.size() + 1);
  size_t i = 0;
  if (*pending_cr) {
    *pending_cr = false;
    if (!data.empty() && data[0] == '\n') {
      out += '\n';
      i = 1;
    } else {
      out += '\r';
    }
  }
  for (; i < data.size(); ++i) {
    if (data[i] != '\r') {
      out += data[i];
    } else if (i + 1 < data.size()) {
      if (data[i + 1] == '\n') {
        out += '\n';
        ++i;
      } else {
        out += '\r';
      }
    } else if (at_end) {
      out += '\r';
    } else {
      *pending_cr = true;
    }
  }
  return out;
}

namespace {

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }
bool HasDrive(std::wstring_view p) { return p.size() >= 2 && p[1] == L':'; }

}  // namespace

std::wstring FullWindowsPath(std::wstring_view path, std::wstring_view current_folder) {
  std::wstring drive = HasDrive(current_folder) ? std::wstring(current_folder.substr(0, 2)) : L"C:";
  std::wstring rest;
  if (HasDrive(path)) {
    drive = std::wstring(path.substr(0, 2));
    std::wstring_view tail = path.substr(2);
    if (!tail.empty() && IsSep(tail[0])) {
      rest = std::wstring(tail);
    } else {
      // "C:name": relative to the drive's current folder, which is the current folder
      // when it lies on that drive, else the drive's root.
      bool same = HasDrive(current_folder) && FoldCase(current_folder[0]) == FoldCase(drive[0]);
      rest = (same ? std::wstring(current_folder.substr(2)) : L"\\") + L"\\" + std::wstring(tail);
    }
  } else if (!path.empty() && IsSep(path[0])) {
    rest = std::wstring(path);
  } else {
    rest = std::wstring(current_folder.substr(HasDrive(current_folder) ? 2 : 0)) + L"\\" +
           std::wstring(path);
  }
  if (drive[0] >= L'a' && drive[0] <= L'z') drive[0] = static_cast<wchar_t>(drive[0] - L'a' + L'A');
  std::vector<std::wstring> parts;
  size_t i = 0;
  while (i <= rest.size()) {
    size_t j = i;
    while (j < rest.size() && !IsSep(rest[j])) ++j;
    std::wstring part = rest.substr(i, j - i);
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::wstring out = drive + L"\\";
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) out += L'\\';
    out += parts[k];
  }
  bool trailing = !path.empty() && IsSep(path.back());
  if (trailing && !parts.empty()) out += L'\\';
  return out;
}

}  // namespace pal
