// The private-profile face: file resolution, buffer rules and the A/W pairs. The grammar is
// in ini_grammar.cpp, the atomic rewrite in the file area.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "files_internal.h"
#include "ini_grammar.h"
#include "machine.h"
#include "text_codepage.h"

namespace pal {
namespace {

// A bare file name lives in the Windows folder, as on Windows.
Result<std::string> ProfileHostPath(LPCWSTR file) {
  if (file == nullptr || *file == L'\0') return Win32Error(ERROR_INVALID_PARAMETER);
  std::wstring_view name(file);
  bool bare = name.find_first_of(L"\\/") == std::wstring_view::npos &&
              !(name.size() >= 2 && name[1] == L':');
  if (bare) return ToHostPath(L"C:\\Windows\\" + std::wstring(name));
  return ToHostPath(name);
}

// The parsed file, or nullopt when it cannot be read (missing, a folder...).
std::optional<ini::Document> LoadProfile(LPCWSTR file) {
  Result<std::string> host = ProfileHostPath(file);
  if (!host.ok()) return std::nullopt;
  Result<std::string> bytes = ReadWholeHostFile(*host);
  if (!bytes.ok()) return std::nullopt;
  return ini::Document::Parse(ini::Decode(*bytes).text);
}

// The result of a read call before it meets the caller's buffer.
struct ProfileAnswer {
  bool is_list = false;
  std::wstring value;
  std::vector<std::wstring> list;
};

std::wstring DefaultValue(LPCWSTR def) {
  std::wstring value = def != nullptr ? def : L"";
  // Windows cuts trailing blanks off the default.
  while (!value.empty() && value.back() == L' ') value.pop_back();
  return value;
}

ProfileAnswer ReadProfile(LPCWSTR section, LPCWSTR key, LPCWSTR def, LPCWSTR file) {
  ProfileAnswer answer;
  std::optional<ini::Document> doc = LoadProfile(file);
  // Windows leaves ERROR_FILE_NOT_FOUND behind when the file is missing.
  SetLastError(doc ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
  if (section == nullptr) {
    answer.is_list = true;
    if (doc) answer.list = doc->SectionNames();
  } else if (key == nullptr) {
    answer.is_list = true;
    if (doc) answer.list = doc->Keys(section);
  } else {
    std::optional<std::wstring> value = doc ? doc->Get(section, key) : std::nullopt;
    answer.value = value ? *value : DefaultValue(def);
  }
  return answer;
}

template <class Char>
DWORD CopyString(const std::basic_string<Char>& s, Char* buffer, DWORD size) {
  if (buffer == nullptr || size == 0) return 0;
  size_t n = s.size() < size ? s.size() : size - 1;
  std::char_traits<Char>::copy(buffer, s.data(), n);
  buffer[n] = Char();
  return static_cast<DWORD>(n);
}

// NUL-separated names ended by a second NUL; when they do not fit, cut at size-2 and end
// with two NULs (return size-2), as Windows does.
template <class Char>
DWORD CopyList(const std::vector<std::basic_string<Char>>& list, Char* buffer, DWORD size) {
  if (buffer == nullptr || size == 0) return 0;
  if (size == 1) {
    buffer[0] = Char();
    return 0;
  }
  std::basic_string<Char> joined;
  for (const auto& item : list) {
    joined += item;
    joined += Char();
  }
  if (joined.size() + 1 <= size) {
    std::char_traits<Char>::copy(buffer, joined.data(), joined.size());
    buffer[joined.size()] = Char();
    if (joined.empty() && size > 1) buffer[1] = Char();
    return static_cast<DWORD>(joined.empty() ? 0 : joined.size());
  }
  std::char_traits<Char>::copy(buffer, joined.data(), size - 2);
  buffer[size - 2] = Char();
  buffer[size - 1] = Char();
  return size - 2;
}

BOOL WriteProfile(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  if (section == nullptr && key == nullptr && value == nullptr) {
    // The flush call: nothing is cached, and Windows documents a zero result for it.
    SetLastError(ERROR_SUCCESS);
    return FALSE;
  }
  if (section == nullptr) return Fail(Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  Result<std::string> host = ProfileHostPath(file);
  if (!host.ok()) return Fail(host.error(), FALSE);
  std::wstring section_name = section;
  std::optional<std::wstring> key_name = key ? std::optional<std::wstring>(key) : std::nullopt;
  std::optional<std::wstring> new_value = value ? std::optional<std::wstring>(value) : std::nullopt;
  std::error_code ec = RewriteHostFile(*host, [&](const std::optional<std::string>& current)
                                                   -> std::optional<std::string> {
    ini::DecodedText text = current ? ini::Decode(*current) : ini::DecodedText{};
    ini::Document doc = ini::Document::Parse(text.text);
    bool changed;
    if (!key_name) {
      changed = doc.DeleteSection(section_name);
    } else if (!new_value) {
      changed = doc.DeleteKey(section_name, *key_name);
    } else {
      changed = doc.Set(section_name, *key_name, *new_value);
    }
    if (!changed) return std::nullopt;
    return ini::Encode(doc.Serialize(), text.encoding);
  });
  if (ec) return Fail(ec, FALSE);
  return TRUE;
}

// The strings of a double-NUL-terminated list.
std::vector<std::wstring> SplitList(LPCWSTR list) {
  std::vector<std::wstring> items;
  for (LPCWSTR p = list; *p != L'\0'; p += items.back().size() + 1) items.emplace_back(p);
  return items;
}

BOOL WriteProfileSection(LPCWSTR section, LPCWSTR lines, LPCWSTR file) {
  if (section == nullptr) return Fail(Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  // Without lines the section goes, as a write with a NULL key does.
  if (lines == nullptr) return WriteProfile(section, nullptr, nullptr, file);
  Result<std::string> host = ProfileHostPath(file);
  if (!host.ok()) return Fail(host.error(), FALSE);
  const std::wstring section_name = section;
  const std::vector<std::wstring> items = SplitList(lines);
  std::error_code ec = RewriteHostFile(*host, [&](const std::optional<std::string>& current)
                                                   -> std::optional<std::string> {
    ini::DecodedText text = current ? ini::Decode(*current) : ini::DecodedText{};
    ini::Document doc = ini::Document::Parse(text.text);
    if (!doc.ReplaceSection(section_name, items)) return std::nullopt;
    return ini::Encode(doc.Serialize(), text.encoding);
  });
  if (ec) return Fail(ec, FALSE);
  return TRUE;
}

std::optional<std::wstring> WideArg(LPCSTR s) {
  if (s == nullptr) return std::nullopt;
  return WideFromAnsi(s);
}

const wchar_t* Ptr(const std::optional<std::wstring>& s) { return s ? s->c_str() : nullptr; }

}  // namespace
}  // namespace pal

DWORD WINAPI GetPrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpDefault,
                                      LPWSTR lpReturnedString, DWORD nSize, LPCWSTR lpFileName) {
  pal::ProfileAnswer answer = pal::ReadProfile(lpAppName, lpKeyName, lpDefault, lpFileName);
  if (answer.is_list) return pal::CopyList(answer.list, lpReturnedString, nSize);
  return pal::CopyString(answer.value, lpReturnedString, nSize);
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                      LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
  auto section = pal::WideArg(lpAppName);
  auto key = pal::WideArg(lpKeyName);
  auto def = pal::WideArg(lpDefault);
  auto file = pal::WideArg(lpFileName);
  pal::ProfileAnswer answer = pal::ReadProfile(pal::Ptr(section), pal::Ptr(key), pal::Ptr(def), pal::Ptr(file));
  if (answer.is_list) {
    std::vector<std::string> list;
    for (const std::wstring& item : answer.list) list.push_back(pal::AnsiFromWide(item));
    return pal::CopyList(list, lpReturnedString, nSize);
  }
  return pal::CopyString(pal::AnsiFromWide(answer.value), lpReturnedString, nSize);
}

UINT WINAPI GetPrivateProfileIntW(LPCWSTR lpAppName, LPCWSTR lpKeyName, INT nDefault, LPCWSTR lpFileName) {
  if (lpAppName == nullptr || lpKeyName == nullptr) return static_cast<UINT>(nDefault);
  pal::ProfileAnswer answer = pal::ReadProfile(lpAppName, lpKeyName, L"", lpFileName);
  if (answer.value.empty()) return static_cast<UINT>(nDefault);
  return pal::ini::ParseProfileInt(answer.value);
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
  auto section = pal::WideArg(lpAppName);
  auto key = pal::WideArg(lpKeyName);
  auto file = pal::WideArg(lpFileName);
  return GetPrivateProfileIntW(pal::Ptr(section), pal::Ptr(key), nDefault, pal::Ptr(file));
}

DWORD WINAPI GetPrivateProfileSectionW(LPCWSTR lpAppName, LPWSTR lpReturnedString, DWORD nSize,
                                       LPCWSTR lpFileName) {
  std::vector<std::wstring> lines;
  if (lpAppName != nullptr) {
    if (std::optional<pal::ini::Document> doc = pal::LoadProfile(lpFileName)) lines = doc->SectionLines(lpAppName);
  }
  return pal::CopyList(lines, lpReturnedString, nSize);
}

DWORD WINAPI GetPrivateProfileSectionNamesW(LPWSTR lpszReturnBuffer, DWORD nSize, LPCWSTR lpFileName) {
  return GetPrivateProfileStringW(nullptr, nullptr, nullptr, lpszReturnBuffer, nSize, lpFileName);
}

BOOL WINAPI WritePrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString,
                                       LPCWSTR lpFileName) {
  return pal::WriteProfile(lpAppName, lpKeyName, lpString, lpFileName);
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                       LPCSTR lpFileName) {
  auto section = pal::WideArg(lpAppName);
  auto key = pal::WideArg(lpKeyName);
  auto value = pal::WideArg(lpString);
  auto file = pal::WideArg(lpFileName);
  return pal::WriteProfile(pal::Ptr(section), pal::Ptr(key), pal::Ptr(value), pal::Ptr(file));
}

BOOL WINAPI WritePrivateProfileSectionW(LPCWSTR lpAppName, LPCWSTR lpString, LPCWSTR lpFileName) {
  return pal::WriteProfileSection(lpAppName, lpString, lpFileName);
}
