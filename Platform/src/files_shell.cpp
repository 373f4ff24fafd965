// Shell path helpers and the debug-help folder creator: lexical work on Windows paths,
// with the file calls of this layer for what touches the disk.
#include <dbghelp.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "text_codepage.h"

namespace {

bool IsDriveRooted(std::wstring_view p) { return p.size() >= 3 && p[1] == L':' && p[2] == L'\\'; }

// Length of the root element: "X:\" 3, "X:" 2, "\\" 2, "\" 1, else 0.
size_t RootLength(std::wstring_view p) {
  if (IsDriveRooted(p)) return 3;
  if (p.size() >= 2 && p[1] == L':') return 2;
  if (p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\') return 2;
  if (!p.empty() && p[0] == L'\\') return 1;
  return 0;
}

// Resolves "." and ".." elements; ".." never climbs above the root.
std::wstring Canonical(std::wstring_view p) {
  size_t root = RootLength(p);
  std::wstring out(p.substr(0, root));
  std::vector<std::wstring_view> parts;
  size_t i = root;
  while (i <= p.size()) {
    size_t j = p.find(L'\\', i);
    if (j == std::wstring_view::npos) j = p.size();
    std::wstring_view part = p.substr(i, j - i);
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) out += L'\\';
    out += parts[k];
  }
  if (!parts.empty() && p.size() > root && p.back() == L'\\') out += L'\\';
  return out;
}

bool CopyOut(const std::wstring& s, LPWSTR dest) {
  if (s.size() >= MAX_PATH) return false;
  std::wmemcpy(dest, s.c_str(), s.size() + 1);
  return true;
}

}  // namespace

BOOL WINAPI PathIsDirectoryW(LPCWSTR pszPath) {
  if (pszPath == nullptr) return FALSE;
  DWORD attributes = GetFileAttributesW(pszPath);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FALSE;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? static_cast<BOOL>(FILE_ATTRIBUTE_DIRECTORY)
                                                       : FALSE;
}

BOOL WINAPI PathFileExistsW(LPCWSTR pszPath) {
  if (pszPath == nullptr) return FALSE;
  return GetFileAttributesW(pszPath) != INVALID_FILE_ATTRIBUTES ? TRUE : FALSE;
}

BOOL WINAPI PathRemoveFileSpecW(LPWSTR pszPath) {
  if (pszPath == nullptr) return FALSE;
  std::wstring_view p(pszPath);
  size_t root = RootLength(p);
  size_t last = p.rfind(L'\\');
  size_t cut = (last == std::wstring_view::npos || last < root) ? root : last;
  if (cut >= p.size()) return FALSE;
  pszPath[cut] = L'\0';
  return TRUE;
}

LPWSTR WINAPI PathCombineW(LPWSTR pszDest, LPCWSTR pszDir, LPCWSTR pszFile) {
  if (pszDest == nullptr) return nullptr;
  if (pszDir == nullptr && pszFile == nullptr) {
    pszDest[0] = L'\0';
    return nullptr;
  }
  std::wstring dir = pszDir != nullptr ? pszDir : L"";
  std::wstring file = pszFile != nullptr ? pszFile : L"";
  std::wstring joined;
  if (file.empty()) {
    joined = dir;
  } else if (dir.empty() || IsDriveRooted(file) || (file.size() >= 2 && file[0] == L'\\' && file[1] == L'\\')) {
    joined = file;
  } else if (file[0] == L'\\') {
    size_t root = RootLength(dir);
    joined = dir.substr(0, root);
    if (joined.empty() || joined.back() != L'\\') joined += L'\\';
    joined += file.substr(1);
  } else {
    joined = dir;
    if (joined.back() != L'\\') joined += L'\\';
    joined += file;
  }
  if (!CopyOut(Canonical(joined), pszDest)) {
    pszDest[0] = L'\0';
    return nullptr;
  }
  return pszDest;
}

BOOL WINAPI PathAppendW(LPWSTR pszPath, LPCWSTR pszMore) {
  if (pszPath == nullptr || pszMore == nullptr) return FALSE;
  std::wstring_view more(pszMore);
  if (!(more.size() >= 2 && more[0] == L'\\' && more[1] == L'\\')) {
    while (!more.empty() && more[0] == L'\\') more.remove_prefix(1);
  }
  std::wstring base(pszPath);
  std::wstring more_copy(more);
  WCHAR result[MAX_PATH];
  if (PathCombineW(result, base.c_str(), more_copy.c_str()) == nullptr) return FALSE;
  std::wmemcpy(pszPath, result, std::wcslen(result) + 1);
  return TRUE;
}

BOOL WINAPI MakeSureDirectoryPathExists(PCSTR DirPath) {
  if (DirPath == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::wstring path = pal::WideFromAnsi(DirPath);
  size_t last = path.find_last_of(L"\\/");
  if (last == std::wstring::npos) return TRUE;
  std::wstring folder = path.substr(0, last + 1);
  size_t start = RootLength(folder);
  if (start == 0 && !folder.empty() && folder[0] == L'/') start = 1;
  for (size_t i = start; i < folder.size(); ++i) {
    if (folder[i] != L'\\' && folder[i] != L'/') continue;
    if (i == 0 || folder[i - 1] == L'\\' || folder[i - 1] == L'/') continue;
    std::wstring prefix = folder.substr(0, i);
    DWORD attributes = GetFileAttributesW(prefix.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    if (!CreateDirectoryW(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return FALSE;
    }
  }
  return TRUE;
}
